// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QDataStream>
#include <QString>
#include <QVariant>

// Reading the framework's streams from untrusted bytes: every length and count is
// checked against the bytes that are left before anything is allocated, and a failed
// read leaves the stream's status set.
namespace SocialStream {

// The fewest bytes an entry of a map or list can take (a key's length and a value's type).
constexpr quint32 MinimumEntrySize = 8;

bool readString(QDataStream &in, QString &text);
bool readBytes(QDataStream &in, QByteArray &bytes);
// A QVariant as QDataStream writes it, of the types records carry (numbers, texts,
// string lists, byte arrays, URLs, date-times, the import progress); any other type is
// refused before anything is made of it (Qt's own loading trusts the bytes).
bool readVariant(QDataStream &in, QVariant &value);
// A count of items each at least minimumItemSize bytes long, that the rest can hold.
bool readCount(QDataStream &in, quint32 &count, quint32 minimumItemSize);

}
