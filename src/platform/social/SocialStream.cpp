#include "SocialStream.h"

#include <QIODevice>

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

}
