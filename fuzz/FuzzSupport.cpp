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

bool isDigit(QChar c, bool hex)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        || (hex && ((c >= QLatin1Char('a') && c <= QLatin1Char('f')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))));
}

// Whether the text starts with one of the entities passed on to the platform.
bool startsEntity(const QStringRef &text)
{
    for (const char *named : {"&lt;", "&gt;", "&amp;", "&quot;"}) {
        if (text.startsWith(QLatin1String(named)))
            return true;
    }
    if (!text.startsWith(QLatin1String("&#")))
        return false;
    const bool hex = text.size() > 2 && (text.at(2) == QLatin1Char('x') || text.at(2) == QLatin1Char('X'));
    int end = hex ? 3 : 2;
    while (end < text.size() && isDigit(text.at(end), hex))
        ++end;
    const int digits = end - (hex ? 3 : 2);
    return digits > 0 && digits <= (hex ? 6 : 7) && end < text.size() && text.at(end) == QLatin1Char(';');
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

// Read by hand: a regular expression matches nothing in text that is not valid UTF-16,
// which the service may send.
bool onlyOwnMarkup(const QString &markup)
{
    const QLatin1String open("<a href=\""), close("</a>");
    for (int i = 0; i < markup.size(); ++i) {
        const QStringRef rest = markup.midRef(i);
        if (rest.at(0) == QLatin1Char('&') && !startsEntity(rest))
            return false;
        if (rest.at(0) == QLatin1Char('>') || rest.at(0) == QLatin1Char('"'))
            return false;
        if (rest.at(0) != QLatin1Char('<') || rest.startsWith(close)) {
            i += rest.startsWith(close) ? close.size() - 1 : 0;
            continue;
        }
        // An anchor to a web address, which holds no character that would end it and no
        // '&' but of an entity.
        const int end = rest.indexOf(QLatin1String("\">"), open.size());
        if (!rest.startsWith(open) || end < 0)
            return false;
        const QStringRef address = rest.mid(open.size(), end - open.size());
        if (!address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
            && !address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
            return false;
        for (int a = 0; a < address.size(); ++a) {
            const QChar c = address.at(a);
            if (c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char('"')
                || (c == QLatin1Char('&') && !startsEntity(address.mid(a))))
                return false;
        }
        i += end + 1;
    }
    return true;
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
