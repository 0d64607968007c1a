// SPDX-License-Identifier: BSD-3-Clause
#include "SocialStream.h"

#include "SocialImportProgress.h"

#include <QDateTime>
#include <QIODevice>
#include <QStringList>
#include <QTimeZone>
#include <QUrl>

namespace {

qint64 bytesLeft(QDataStream &in)
{
    return in.device() ? in.device()->bytesAvailable() : 0;
}

bool corrupt(QDataStream &in)
{
    if (in.status() == QDataStream::Ok)
        in.setStatus(QDataStream::ReadCorruptData);
    return false;
}

}

namespace SocialStream {

bool readString(QDataStream &in, QString &text)
{
    quint32 bytes = 0;
    in >> bytes;
    if (in.status() != QDataStream::Ok)
        return false;
    if (bytes == 0xffffffff) { // a null string
        text = QString();
        return true;
    }
    if (bytes % 2 != 0 || bytes > bytesLeft(in))
        return corrupt(in);
    QByteArray data(int(bytes), Qt::Uninitialized);
    if (in.readRawData(data.data(), int(bytes)) != int(bytes))
        return corrupt(in);
    // UTF-16 in the stream's byte order, as QDataStream writes it.
    const bool bigEndian = in.byteOrder() == QDataStream::BigEndian;
    text.resize(int(bytes / 2));
    for (int i = 0; i < text.size(); ++i) {
        const uchar first = uchar(data.at(2 * i));
        const uchar second = uchar(data.at(2 * i + 1));
        text[i] = QChar(bigEndian ? ushort(first << 8 | second) : ushort(second << 8 | first));
    }
    return true;
}

bool readCount(QDataStream &in, quint32 &count, quint32 minimumItemSize)
{
    in >> count;
    if (in.status() != QDataStream::Ok)
        return false;
    if (qint64(count) * minimumItemSize > bytesLeft(in))
        return corrupt(in);
    return true;
}


bool readBytes(QDataStream &in, QByteArray &bytes)
{
    quint32 size = 0;
    in >> size;
    if (in.status() != QDataStream::Ok)
        return false;
    if (size == 0xffffffff) {
        bytes = QByteArray();
        return true;
    }
    if (size > bytesLeft(in))
        return corrupt(in);
    bytes.resize(int(size));
    return in.readRawData(bytes.data(), int(size)) == int(size) || corrupt(in);
}

namespace {

template<typename Number>
bool readNumber(QDataStream &in, QVariant &value)
{
    Number number {};
    in >> number;
    value = QVariant::fromValue(number);
    return in.status() == QDataStream::Ok;
}

bool readStringList(QDataStream &in, QVariant &value)
{
    quint32 count = 0;
    if (!readCount(in, count, sizeof(quint32)))
        return false;
    QStringList list;
    for (quint32 i = 0; i < count; ++i) {
        QString text;
        if (!readString(in, text))
            return false;
        list.append(text);
    }
    value = list;
    return true;
}

bool readUrl(QDataStream &in, QVariant &value)
{
    QByteArray encoded;
    if (!readBytes(in, encoded))
        return false;
    value = QUrl::fromEncoded(encoded);
    return true;
}

// Date, time and kind of time; an offset or a zone where the kind needs one. A zone that does not
// exist is refused: a date-time holding one cannot be written back.
bool readDateTime(QDataStream &in, QVariant &value)
{
    qint64 julianDay = 0;
    quint32 milliseconds = 0;
    qint8 timeSpec = 0;
    in >> julianDay >> milliseconds >> timeSpec;
    if (in.status() != QDataStream::Ok)
        return false;
    const QDate date = QDate::fromJulianDay(julianDay);
    const QTime time = milliseconds == 0xffffffff ? QTime() : QTime::fromMSecsSinceStartOfDay(int(milliseconds));
    switch (timeSpec) {
    case Qt::LocalTime:
    case Qt::UTC:
        value = QDateTime(date, time, Qt::TimeSpec(timeSpec));
        return true;
    case Qt::OffsetFromUTC: {
        qint32 offset = 0;
        in >> offset;
        value = QDateTime(date, time, Qt::OffsetFromUTC, offset);
        return in.status() == QDataStream::Ok;
    }
    case Qt::TimeZone: {
        QString id;
        if (!readString(in, id))
            return false;
        const QTimeZone zone(id.toUtf8());
        if (!zone.isValid())
            return corrupt(in);
        value = QDateTime(date, time, zone);
        return true;
    }
    }
    return corrupt(in);
}

bool readUserType(QDataStream &in, QVariant &value)
{
    QByteArray name;
    if (!readBytes(in, name))
        return false;
    if (name != QByteArray("SocialImportProgress", sizeof("SocialImportProgress")))
        return corrupt(in);
    SocialImportProgress progress;
    in >> progress;
    value = QVariant::fromValue(progress);
    return in.status() == QDataStream::Ok;
}

}

bool readVariant(QDataStream &in, QVariant &value)
{
    quint32 type = 0;
    qint8 isNull = 0;
    in >> type >> isNull;
    if (in.status() != QDataStream::Ok)
        return false;
    switch (type) {
    case QMetaType::Bool:
        return readNumber<bool>(in, value);
    case QMetaType::Int:
        return readNumber<qint32>(in, value);
    case QMetaType::UInt:
        return readNumber<quint32>(in, value);
    case QMetaType::LongLong:
        return readNumber<qint64>(in, value);
    case QMetaType::ULongLong:
        return readNumber<quint64>(in, value);
    case QMetaType::Double:
        return readNumber<double>(in, value);
    case QMetaType::QString: {
        QString text;
        if (!readString(in, text))
            return false;
        value = text;
        return true;
    }
    case QMetaType::QByteArray: {
        QByteArray bytes;
        if (!readBytes(in, bytes))
            return false;
        value = bytes;
        return true;
    }
    case QMetaType::QStringList:
        return readStringList(in, value);
    case QMetaType::QUrl:
        return readUrl(in, value);
    case QMetaType::QDateTime:
        return readDateTime(in, value);
    case QMetaType::User:
        return readUserType(in, value);
    }
    return corrupt(in);
}

}
