// SPDX-License-Identifier: BSD-3-Clause
// Inputs that made a fuzz target fail, kept as tests of the code that failed. Each
// runs as the fuzz target did it.
//
// Bus bytes of persons requests (fuzz_social_request). When SocialGenericData's
// operator>> read each property with Qt's own QVariant loading, which trusts the bytes,
// a person record of a few dozen bytes from any process on the bus could
//  - hold a string list said to have hundreds of millions of entries: Qt reserves room
//    for the count before reading one, so the runner allocated gigabytes, or threw
//    std::bad_alloc (uncaught: the daemon ended) when the size overflowed;
//  - name the bitmap type: Qt constructs one before reading it, and a bitmap without a
//    QGuiApplication is a qFatal (the daemon has a QCoreApplication);
//  - hold a date-time in a time zone that does not exist: it was read as one with a
//    null zone, and writing it back (the answer to a persons request carries the
//    request's persons when the plugin has none of its own) dereferenced the null zone.
//
// The service's JSON (fuzz_json, fuzz_feed_item). Qt 5.15's parser never frees the
// earlier value of a key that an object holds twice when that value is an array or
// object; the client passed every answer to it, so a server repeating a key made the
// daemon leak on every poll. Such texts are now refused before Qt sees them. The first
// version of that refusal stepped past the end of an empty list of keys when an object
// without keys closed (UBSan's pointer overflow). Keys that differ only after a raw NUL
// are one key to Qt's parser but not to that check, and leaked the same way: a raw
// control character in a string is now refused too, as JSON forbids it.

#include "SdpImpl.h"
#include "SocialGetPersonsRequest.h"
#include "SocialNetworkPerson.h"
#include "SocialProviderInitializer.h"
#include "TestEnvironment.h"
#include "TwitterDouble.h"
#include "TwJson.h"
#include "TwitterPlugin.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <malloc.h>
#include <sys/resource.h>

#include <functional>

// Present when AddressSanitizer's runtime is linked in (a build with TWITTEROSTRA_FUZZ),
// which reserves far more address space than it uses.
extern "C" __attribute__((weak)) void __asan_init();

namespace {

const QString OwnId = QStringLiteral("1318223431118950401");
const QString Own = QStringLiteral("ostra_owner");

// A persons request (no filter) with one person whose one property is a variant: its
// type, its null flag (not null), then what write() puts after them.
QByteArray personWithValue(const QString &property, quint32 variantType,
                           const std::function<void(QDataStream &)> &write = {})
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(SocialStreamVersion);
    stream << qint32(SocialDataRequest::Persons) << quint32(0) << quint32(1);
    stream << QStringLiteral("SocialNetworkPerson") << QStringLiteral("twitter:ostra_owner") << quint32(1);
    stream << property << variantType << quint8(0);
    if (write)
        write(stream);
    return bytes;
}

QByteArray personWithStringList(quint32 count)
{
    return personWithValue(QStringLiteral("Websites"), QMetaType::QStringList, [count](QDataStream &s) { s << count; });
}

// Bytes of the process's address space in use.
qint64 addressSpaceInUse()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

}

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void personsRequestFromTheBus_data();
    void personsRequestFromTheBus();
    void serviceJson_data();
    void serviceJson();
    void serviceJsonObjectWithoutKeys_data();
    void serviceJsonObjectWithoutKeys();

private:
    // The runner as the daemon has it, not on a bus; the plugin with or without friends.
    void answer(const QByteArray &bytes, bool withFriends);

    TestEnvironment mEnvironment;
};

void TestFuzzRegressions::initTestCase()
{
    QVERIFY(mEnvironment.isValid());
    mEnvironment.applyToProcess();
    // The runner is never put on a bus, but its destructor looks at the session bus:
    // make sure that is none of the user's.
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=" + QFile::encodeName(mEnvironment.root()) + "/no-bus"));
    SocialProviderInitializer::init();
    if (!__asan_init) {
        // Half a gigabyte more than the process uses now: an allocation of the size that
        // a request claims, rather than of what it holds, fails instead of going through.
        const qint64 inUse = addressSpaceInUse();
        QVERIFY(inUse > 0);
        const rlimit limit{rlim_t(inUse + (qint64(512) << 20)), RLIM_INFINITY};
        QCOMPARE(setrlimit(RLIMIT_AS, &limit), 0);
    }
}

void TestFuzzRegressions::personsRequestFromTheBus_data()
{
    QTest::addColumn<QByteArray>("bytes");
    // The count as the fuzzer found it: 8 bytes per entry overflow the list's size.
    QTest::newRow("list size overflow") << personWithStringList(0x6f006e00);
    // 134 million entries: a gigabyte, for 80 bytes.
    QTest::newRow("list of a gigabyte") << personWithStringList(0x08000000);
    QTest::newRow("list of the largest count") << personWithStringList(0x7fffffff);
    // The type alone is enough; the fuzzer's input was 21 bytes, a record with a bitmap.
    QTest::newRow("bitmap") << personWithValue(QStringLiteral("Websites"), QMetaType::QBitmap);
    // Julian day, milliseconds, Qt::TimeZone, the zone's id.
    QTest::newRow("date in a zone that does not exist")
        << personWithValue(SocialNetworkPerson::StatusChangeTime, QMetaType::QDateTime, [](QDataStream &s) {
               s << qint64(2461000) << quint32(0) << qint8(Qt::TimeZone) << QStringLiteral("Nowhere/Invalid");
           });
}

void TestFuzzRegressions::personsRequestFromTheBus()
{
    QFETCH(QByteArray, bytes);

    // Decoding, and encoding what was read, as fuzz_social_request selector 2 does.
    {
        QDataStream stream(bytes);
        stream.setVersion(SocialStreamVersion);
        SocialGetPersonsRequest request;
        request.deserialize(stream);
        QVERIFY(request.persons().size() <= 1);
        QByteArray encoded;
        QDataStream out(&encoded, QIODevice::WriteOnly);
        out.setVersion(SocialStreamVersion);
        request.serialize(out);
    }

    // Selectors 5 and 6: the runner answers the request either way.
    answer(bytes, true);
    answer(bytes, false);
}

void TestFuzzRegressions::serviceJson_data()
{
    QTest::addColumn<QByteArray>("text");
    // The inputs as LeakSanitizer reported them.
    QTest::newRow("array before a number") << QByteArray::fromBase64("eyJhIjpbMV0sImEiOjF9");
    QTest::newRow("nested, empty keys") << QByteArray::fromBase64("eyIiOnsiIjpbXX0sIiI6W119");
    // Two keys that begin with a raw NUL: Qt reads them as one.
    QTest::newRow("keys after a raw NUL") << QByteArray::fromBase64("eyIAYSI6W3t9XSwiAH0iOmZhbHNlfQ==");
}

void TestFuzzRegressions::serviceJson()
{
    QFETCH(QByteArray, text);

    // As fuzz_json does it: a reason, and no document.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^static QVariant TwJson::parse.* refused: ")));
    QString error;
    const QVariant body = TwJson::parse(text, &error);
    QVERIFY(!body.isValid());
    QVERIFY(!error.isEmpty());
    QVERIFY(TwJson::errorMessage(body).isEmpty());
    QCOMPARE(TwJson::errorCode(body), 0);

    // Each parse leaked some 80 bytes: the heap in use stays put over a thousand of
    // them. AddressSanitizer's allocator is not malloc's; under it LeakSanitizer tells.
    if (__asan_init)
        return;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    for (int i = 0; i < 100; ++i)
        TwJson::parse(text, &error);
    const size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 1000; ++i)
        TwJson::parse(text, &error);
    const size_t after = mallinfo2().uordblks;
    qInstallMessageHandler(previous);
    QVERIFY2(after < before + 4096, qPrintable(QStringLiteral("%1 bytes more in use").arg(qint64(after - before))));
}

void TestFuzzRegressions::serviceJsonObjectWithoutKeys_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("fuzz_json") << QByteArray::fromBase64("GwAAAAAAAAB0IGZmT3VuwS4KIAp9XXtOAQB9");
    QTest::newRow("fuzz_feed_item") << QByteArray::fromBase64("eyNjb29y/////13///9kaW5hbg==");
}

void TestFuzzRegressions::serviceJsonObjectWithoutKeys()
{
    QFETCH(QByteArray, text);
    QString error;
    const QVariant body = TwJson::parse(text, &error);
    QVERIFY(!body.isValid());
    QVERIFY(!error.isEmpty());
}

void TestFuzzRegressions::answer(const QByteArray &bytes, bool withFriends)
{
    TwitterDouble::reset();
    if (withFriends) {
        TwitterDouble::Answer friends;
        friends.cached = {QVariantMap{{QStringLiteral("id_str"), QStringLiteral("2")},
                                      {QStringLiteral("screen_name"), QStringLiteral("AliceInData")}}};
        TwitterDouble::setDefault(TwitterDouble::User, UserType::FriendsList, friends);
    }
    Tw::Twitter client(QStringLiteral("t"), QStringLiteral("s"), OwnId, Own, QStringLiteral("k"), QStringLiteral("c"));
    auto *plugin = new TwitterPlugin(&client);
    plugin->setAccountInfo(QStringLiteral("t"), QStringLiteral("s"), OwnId, Own);
    if (withFriends)
        plugin->updateData(true, false);
    SdpImpl runner(plugin, nullptr);
    QSignalSpy finished(&runner, &SdpImpl::requestFinished);
    runner.performRequest(SocialDataRequest::Persons, QStringLiteral("fuzz"), bytes);
    QCOMPARE(finished.size(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
