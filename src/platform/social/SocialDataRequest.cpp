// SPDX-License-Identifier: BSD-3-Clause
#include "SocialDataRequest.h"

#include "SocialNetworkPerson.h"
#include "SocialService.h"
#include "SocialServiceAccount.h"
#include "SocialStream.h"

#include <QIODevice>

SocialDataRequest::SocialDataRequest(Type type, QObject *parent)
    : QObject(parent)
    , mType(type)
    , mState(Created)
{
}

void SocialDataRequest::setState(int state, const QList<SocialProviderError> &errors)
{
    mState = state;
    mErrors = errors;
    if (state == Finished)
        emit finished(this);
}

void SocialDataRequest::serialize(QDataStream &stream) const
{
    stream << qint32(mType);
    writeParameters(stream);
    writeResult(stream);
}

void SocialDataRequest::deserialize(QDataStream &stream)
{
    qint32 type = 0;
    stream >> type;
    if (stream.status() != QDataStream::Ok)
        return;
    if (type != mType || !readParameters(stream)) {
        if (stream.status() == QDataStream::Ok)
            stream.setStatus(QDataStream::ReadCorruptData);
        return;
    }
    if (!stream.atEnd() && !readResult(stream) && stream.status() == QDataStream::Ok)
        stream.setStatus(QDataStream::ReadCorruptData);
}

QByteArray SocialDataRequest::toBytes() const
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(SocialStreamVersion);
    serialize(stream);
    return bytes;
}

bool SocialDataRequest::fromBytes(const QByteArray &bytes)
{
    QDataStream stream(bytes);
    stream.setVersion(SocialStreamVersion);
    deserialize(stream);
    return stream.status() == QDataStream::Ok;
}

void SocialDataRequest::writeParameters(QDataStream &) const
{
}

bool SocialDataRequest::readParameters(QDataStream &)
{
    return true;
}

template<typename Record>
bool SocialDataRequest::readRecords(QDataStream &stream, QList<Record> &records)
{
    quint32 count = 0;
    if (!SocialStream::readCount(stream, count, SocialStream::MinimumEntrySize))
        return false;
    QList<Record> read;
    for (quint32 i = 0; i < count; ++i) {
        SocialGenericData record;
        stream >> record;
        if (stream.status() != QDataStream::Ok)
            return false;
        read.append(Record(record));
    }
    records = read;
    return true;
}

template bool SocialDataRequest::readRecords(QDataStream &, QList<SocialNetworkPerson> &);
template bool SocialDataRequest::readRecords(QDataStream &, QList<SocialServiceAccount> &);
template bool SocialDataRequest::readRecords(QDataStream &, QList<SocialService> &);
