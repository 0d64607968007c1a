// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace FuzzSupport {

// Once per process, before any of the project's code runs: the application object the
// daemon's code expects, XDG folders of its own (removed at exit) so that nothing of
// the user's is read or written, no reachable D-Bus, and Qt's messages silenced unless
// TWITTEROSTRA_FUZZ_VERBOSE is set (the code logs every request, which would slow the
// fuzzer down to a crawl).
void start(const char *programName);

// Whether text made for the platform's markup holds no tag but the daemon's own anchors
// to web addresses, no '>' or '"' outside them, and no '&' that does not start one of
// the entities passed on.
bool onlyOwnMarkup(const QString &markup);

// Structured values out of the fuzzer's bytes. Reading past the end yields zeros and
// empty strings, so every input is a valid one.
class Reader
{
public:
    Reader(const uint8_t *data, size_t size);

    quint8 byte();
    qint32 int32(); // little-endian
    // A 16-bit little-endian byte count, then that many bytes (as many as are left).
    QByteArray bytes();
    // bytes() as UTF-16 (little-endian, so that lone surrogates can occur) or as UTF-8.
    QString text(bool utf16);
    QByteArray rest();

private:
    const uint8_t *mData;
    size_t mSize;
    size_t mPosition;
};

// The inverse of Reader, for writing seeds.
class Writer
{
public:
    void byte(quint8 value);
    void int32(qint32 value);
    void bytes(const QByteArray &value);
    void text(const QString &value, bool utf16);
    void raw(const QByteArray &value) { mData += value; }
    QByteArray data() const { return mData; }

private:
    QByteArray mData;
};

}
