// SPDX-License-Identifier: BSD-3-Clause
#include "SocialProviderError.h"

#include "SocialGenericData.h"
#include "SocialStream.h"

SocialProviderError::SocialProviderError()
    : mType(NoError)
{
}

SocialProviderError::SocialProviderError(int type, const QString &description)
    : mType(type)
    , mDescription(description)
{
}

bool SocialProviderError::operator==(const SocialProviderError &other) const
{
    return mType == other.mType && mDescription == other.mDescription;
}

QByteArray SocialProviderError::toBytes() const
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(SocialStreamVersion);
    stream << *this;
    return bytes;
}

SocialProviderError SocialProviderError::fromBytes(const QByteArray &bytes)
{
    QDataStream stream(bytes);
    stream.setVersion(SocialStreamVersion);
    SocialProviderError error;
    stream >> error;
    return error;
}

QDataStream &operator<<(QDataStream &out, const SocialProviderError &error)
{
    return out << qint32(error.type()) << error.description();
}

QDataStream &operator>>(QDataStream &in, SocialProviderError &error)
{
    qint32 type = 0;
    QString description;
    in >> type;
    if (in.status() == QDataStream::Ok && SocialStream::readString(in, description))
        error = SocialProviderError(type, description);
    return in;
}
