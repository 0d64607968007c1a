// SPDX-License-Identifier: BSD-3-Clause
#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdlib>
#include <cstring>

namespace {

QByteArray privateHome;

void removePrivateHome()
{
    if (!privateHome.isEmpty())
        QDir(QString::fromLocal8Bit(privateHome)).removeRecursively();
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
    // qFatal still aborts after this returns.
}

}

namespace FuzzSupport {

void start(const char *programName)
{
    static bool started = false;
    if (started)
        return;
    started = true;

    QByteArray base = qgetenv("TMPDIR");
    if (base.isEmpty())
        base = "/tmp";
    QByteArray folder = base + "/twitterostra-fuzz-XXXXXX";
    if (!mkdtemp(folder.data()))
        abort();
    privateHome = folder;
    atexit(removePrivateHome);
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        const QByteArray path = folder + '/' + QByteArray(name).toLower();
        QDir().mkpath(QString::fromLocal8Bit(path));
        qputenv(name, path);
    }
    qputenv("HOME", folder);
    // An address where no bus listens: nothing here may reach the session's or the system's.
    const QByteArray noBus = "unix:path=" + folder + "/no-bus";
    qputenv("DBUS_SESSION_BUS_ADDRESS", noBus);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", noBus);
    qputenv("TZ", "UTC");
    qputenv("LC_ALL", "C.UTF-8");

    if (qEnvironmentVariableIsEmpty("TWITTEROSTRA_FUZZ_VERBOSE"))
        qInstallMessageHandler(quiet);

    // Reachable through a static for the life of the process, so that the leak checker
    // does not count it; the fuzzer ends the process without returning to us.
    static int argc = 1;
    static char name[256];
    strncpy(name, programName ? programName : "fuzz", sizeof(name) - 1);
    static char *argv[] = {name, nullptr};
    static QCoreApplication *application = new QCoreApplication(argc, argv);
    Q_UNUSED(application)
}

Reader::Reader(const uint8_t *data, size_t size)
    : mData(data)
    , mSize(size)
    , mPosition(0)
{
}

quint8 Reader::byte()
{
    return mPosition < mSize ? mData[mPosition++] : 0;
}

qint32 Reader::int32()
{
    quint32 value = 0;
    for (int shift = 0; shift < 32; shift += 8)
        value |= quint32(byte()) << shift;
    return qint32(value);
}

QByteArray Reader::bytes()
{
    size_t length = byte();
    length |= size_t(byte()) << 8;
    length = qMin(length, mSize - mPosition);
    const QByteArray value(reinterpret_cast<const char *>(mData + mPosition), int(length));
    mPosition += length;
    return value;
}

QString Reader::text(bool utf16)
{
    const QByteArray data = bytes();
    if (!utf16)
        return QString::fromUtf8(data);
    QString value(data.size() / 2, Qt::Uninitialized);
    for (int i = 0; i < value.size(); ++i)
        value[i] = QChar(ushort(uchar(data.at(2 * i)) | uchar(data.at(2 * i + 1)) << 8));
    return value;
}

QByteArray Reader::rest()
{
    const QByteArray value(reinterpret_cast<const char *>(mData + mPosition), int(mSize - mPosition));
    mPosition = mSize;
    return value;
}

void Writer::byte(quint8 value)
{
    mData.append(char(value));
}

void Writer::int32(qint32 value)
{
    for (int shift = 0; shift < 32; shift += 8)
        byte(quint8(quint32(value) >> shift));
}

void Writer::bytes(const QByteArray &value)
{
    const int length = qMin(value.size(), 0xffff);
    byte(quint8(length));
    byte(quint8(length >> 8));
    mData += value.left(length);
}

void Writer::text(const QString &value, bool utf16)
{
    if (!utf16) {
        bytes(value.toUtf8());
        return;
    }
    QByteArray data;
    for (const QChar c : value) {
        data.append(char(c.unicode() & 0xff));
        data.append(char(c.unicode() >> 8));
    }
    bytes(data);
}

}
