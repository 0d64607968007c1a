// SPDX-License-Identifier: BSD-3-Clause
// The layers in place of the platform's libraries: the account file and its signals,
// id and date utilities, the sync timer, the configuration store and remote actions.

#include "Helper.h"
#include "NotificationStore.h"
#include "ONotification.h"
#include "OGConfItem.h"
#include "ORemoteAction.h"
#include "SyncTimer.h"
#include "TestEnvironment.h"
#include "TwAccount.h"
#include "TwFactoryOstra.h"
#include "Twitter.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <ctime>
#include <functional>
#include <sys/stat.h>

class TestPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void accountFileDrivesAccountSignals();
    void accountSettingsAreWatchedByKey();
    void loginAnswersFromAccountFile();
    void apiBaseSurvivesAFileCaughtHalfWay();
    void missingOrBrokenAccountFileMeansNoAccount();
    void accountFileGlitchesKeepTheLastGoodState();

    void compareIdsOrdersByLengthThenText_data();
    void compareIdsOrdersByLengthThenText();
    void convertDateTimeReadsServiceDates();
    void timeInTheHourALocalClockSkipsIsStillATime();

    void syncTimerStopsAndWakesUp();
    void gconfItemReadsIntegerKeys();
    void remoteActionTextualForm();
    void pollingBearerIsExcludedUnlessAskedFor();
    void notificationStoreIsBoundedAndKeepsOthersEntries();

private:
    void writeAccountFile(const QString &text);
    TestEnvironment mEnvironment;
};

void TestPlatform::initTestCase()
{
    QVERIFY(mEnvironment.isValid());
    mEnvironment.applyToProcess();
}

void TestPlatform::init()
{
    QFile::remove(mEnvironment.accountFile());
}

void TestPlatform::writeAccountFile(const QString &text)
{
    // Written by rename, as QSettings and editors do.
    const QString temporary = mEnvironment.accountFile() + QStringLiteral(".new");
    QFile file(temporary);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
    file.close();
    QFile::remove(mEnvironment.accountFile());
    QVERIFY(QFile::rename(temporary, mEnvironment.accountFile()));
}

void TestPlatform::accountFileDrivesAccountSignals()
{
    TwAccount account;
    QCOMPARE(account.filePath(), mEnvironment.accountFile());
    QVERIFY(!account.hasAccount());
    QSignalSpy added(&account, &TwAccount::accountAdded);
    QSignalSpy removed(&account, &TwAccount::accountRemoved);
    QSignalSpy state(&account, &TwAccount::accountStateChanged);

    writeAccountFile(QStringLiteral("[account]\npresent=true\n"));
    QVERIFY(added.wait());
    QVERIFY(account.findChild<QTimer *>(QStringLiteral("accountReloadTimer"))->isSingleShot());
    QVERIFY(account.hasAccount());
    QVERIFY(account.isServiceEnabled(TwServiceType::SERVICE_NOTIFICATIONS));

    writeAccountFile(QStringLiteral("[account]\npresent=true\n[services]\ncontacts=false\n"));
    QVERIFY(state.wait());
    QCOMPARE(state.count(), 1);
    QCOMPARE(state.first().at(0).value<TwServiceType::Servicetype>(), TwServiceType::SERVICE_CONTACTS);
    QCOMPARE(state.first().at(1).toBool(), false);
    QVERIFY(!account.isServiceEnabled(TwServiceType::SERVICE_CONTACTS));

    QVERIFY(QFile::remove(mEnvironment.accountFile()));
    QVERIFY(removed.wait());
    QVERIFY(!account.hasAccount());
    QCOMPARE(added.count(), 1);
}

void TestPlatform::accountSettingsAreWatchedByKey()
{
    writeAccountFile(QStringLiteral("[account]\npresent=true\n[settings]\ntw-notif-main=true\n"));
    TwAccount account;
    const QMap<QString, bool> values =
        account.settingValues({QStringLiteral("tw-notif-main"), QStringLiteral("tw-notif-msg")});
    QCOMPARE(values.value(QStringLiteral("tw-notif-main")), true);
    QCOMPARE(values.value(QStringLiteral("tw-notif-msg")), false);
    QVERIFY(values.contains(QStringLiteral("tw-notif-msg")));

    account.watchSettings({QStringLiteral("tw-notif-msg")});
    QSignalSpy changed(&account, &TwAccount::settingsChanged);
    // An unwatched key changes along with a watched one: only the watched one is reported.
    writeAccountFile(QStringLiteral("[account]\npresent=true\n[settings]\ntw-notif-main=false\ntw-notif-msg=true\n"));
    QVERIFY(changed.wait());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toString(), QStringLiteral("tw-notif-msg"));
    QCOMPARE(changed.first().at(1).toBool(), true);
}

void TestPlatform::loginAnswersFromAccountFile()
{
    writeAccountFile(QStringLiteral("[account]\npresent=true\ntoken=t\ntoken_secret=ts\nuser_id=7\n"
                                    "screen_name=alice\nconsumer_key=ck\nconsumer_secret=cs\n"));
    TwAccount account;
    QSignalSpy response(&account, &TwAccount::loginResponse);
    QSignalSpy error(&account, &TwAccount::loginError);
    account.login(false, 0);
    QCOMPARE(response.count(), 0); // answered from the event loop, never inside the call
    QVERIFY(response.wait());
    QCOMPARE(response.first(), QVariantList({QStringLiteral("t"), QStringLiteral("ts"), QStringLiteral("7"),
                                             QStringLiteral("alice"), QStringLiteral("ck"),
                                             QStringLiteral("cs")}));

    writeAccountFile(QStringLiteral("[account]\npresent=true\nlogin_error_type=8\n"
                                    "login_error_text=User has been deleted\n"));
    account.login(true, 0);
    QVERIFY(error.wait());
    QCOMPARE(error.first().at(0).value<TwLoginError::TwLoginError>(), TwLoginError::LOGIN_ERROR_USER);
    QCOMPARE(error.first().at(1).toString(), QStringLiteral("User has been deleted"));

    account.markAccountInvalid();
    QSettings file(mEnvironment.accountFile(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("account/invalid")).toBool(), true);
    QCOMPARE(file.value(QStringLiteral("account/present")).toBool(), true);
}

// A client made while the account file is caught half way takes the last good address.
void TestPlatform::apiBaseSurvivesAFileCaughtHalfWay()
{
    writeAccountFile(QStringLiteral("[account]\npresent=true\napi_base=http://127.0.0.1:9/1.1/\n"));
    QVERIFY(TwOstra::TwFactoryOstra::getInstance()->account()->hasAccount());
    writeAccountFile(QStringLiteral("[account]\n"));
    QCOMPARE(TwAccount::apiBase(), QStringLiteral("http://127.0.0.1:9/1.1/"));
}

void TestPlatform::missingOrBrokenAccountFileMeansNoAccount()
{
    TwAccount missing;
    QVERIFY(!missing.hasAccount());
    QVERIFY(!missing.isServiceEnabled(TwServiceType::SERVICE_ACCOUNT));

    writeAccountFile(QStringLiteral("\x01\x02 garbage [[[ present=true\n[account\n"));
    TwAccount broken;
    QVERIFY(!broken.hasAccount());
}

// Caught empty, cut short anywhere, as garbage, gone for a moment, replaced by a FIFO or by a huge
// file: none of it is a removal, and the next good file is taken. Each glitch ends with a
// good file that flips a watched preference, whose report shows the file was read again.
void TestPlatform::accountFileGlitchesKeepTheLastGoodState()
{
    const QString good = QStringLiteral("[account]\npresent=true\n[settings]\ntw-notif-msg=%1\n");
    writeAccountFile(good.arg(QStringLiteral("false")));
    TwAccount account;
    account.watchSettings({QStringLiteral("tw-notif-msg")});
    QSignalSpy removed(&account, &TwAccount::accountRemoved);
    QSignalSpy state(&account, &TwAccount::accountStateChanged);
    QSignalSpy changed(&account, &TwAccount::settingsChanged);
    const QString path = mEnvironment.accountFile();
    const QList<std::function<void()>> glitches = {
        [&] { QFile(path).resize(0); },
        [&] { writeAccountFile(QStringLiteral("[account]\npresent=")); },
        // Cut within a switch's value, after a whole line, or within any other value.
        [&] { writeAccountFile(QStringLiteral("[account]\npresent=true\n[services]\naccount=\n")); },
        [&] { writeAccountFile(QStringLiteral("[account]\npresent=true\n[settings]\ntw-notif-msg=\n")); },
        [&] { writeAccountFile(QStringLiteral("[account]\npresent=true\n")); },
        [&] { writeAccountFile(good.arg(QStringLiteral("true")) + QStringLiteral("[zz]\ntoken=ab")); },
        [&] { writeAccountFile(QStringLiteral("\x01\x02 garbage [[[\n")); },
        [&] { QFile::remove(path); },
        [&] { QFile::remove(path); QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0); },
        [&] { writeAccountFile(good.arg(QStringLiteral("true")) + QString(70 * 1024, QLatin1Char(';'))); },
    };
    auto *recheck = account.findChild<QTimer *>(QStringLiteral("accountRecheckTimer"));
    QVERIFY(recheck);
    for (int i = 0; i < glitches.size(); ++i) {
        glitches.at(i)();
        // Seen and to be looked at again: the glitch has been read.
        QTRY_VERIFY(recheck->isActive());
        QVERIFY(account.hasAccount());
        writeAccountFile(good.arg(i % 2 ? QStringLiteral("false") : QStringLiteral("true")));
        QVERIFY2(changed.wait(), qPrintable(QString::number(i)));
        QCOMPARE(changed.takeFirst().at(1).toBool(), i % 2 == 0);
    }
    QCOMPARE(removed.count(), 0);
    QCOMPARE(state.count(), 0);
    // A file that stays without a switch is taken at the next look.
    writeAccountFile(QStringLiteral("[account]\npresent=true\n[services]\ncontacts=false\n"));
    QTRY_VERIFY(recheck->isActive());
    recheck->start(0);
    QVERIFY(state.wait());

    // A FIFO does not hold up a start either.
    QFile::remove(path);
    QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    TwAccount fifo;
    QVERIFY(!fifo.hasAccount());
}

void TestPlatform::compareIdsOrdersByLengthThenText_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("sign");
    QTest::newRow("shorter is older") << "999" << "1000" << -1;
    QTest::newRow("longer is newer") << "1000" << "999" << 1;
    QTest::newRow("same length") << "1234" << "1235" << -1;
    QTest::newRow("equal") << "1334092880406159360" << "1334092880406159360" << 0;
    QTest::newRow("beyond 2^64") << "99999999999999999999" << "100000000000000000000" << -1;
    QTest::newRow("empty is oldest") << "" << "1" << -1;
}

void TestPlatform::compareIdsOrdersByLengthThenText()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, sign);
    const int result = Tw::Twitter::compareIds(a, b);
    QCOMPARE(result < 0 ? -1 : (result > 0 ? 1 : 0), sign);
}

void TestPlatform::convertDateTimeReadsServiceDates()
{
    const QDateTime utc = Tw::Twitter::convertDateTime(QStringLiteral("Sun Dec 06 05:40:12 +0000 2026"), true);
    QCOMPARE(utc, QDateTime(QDate(2026, 12, 6), QTime(5, 40, 12), Qt::UTC));
    const QDateTime shifted = Tw::Twitter::convertDateTime(QStringLiteral("Sun Dec 06 07:40:12 +0200 2026"), false);
    QCOMPARE(shifted.toUTC(), utc);
    QCOMPARE(shifted.timeSpec(), Qt::LocalTime);
    // Not quite the service's form, yet a date.
    QCOMPARE(Tw::Twitter::convertDateTime(QStringLiteral("Sun\tDec 06 05:40:12 +0000 2026"), true), utc);
    QVERIFY(!Tw::Twitter::convertDateTime(QString(), false).isValid());
    QVERIFY(!Tw::Twitter::convertDateTime(QStringLiteral("Sun Dec 06 05:40:12 +00x0 2026"), false).isValid());
    QVERIFY(!Tw::Twitter::convertDateTime(QStringLiteral("2026-12-06T05:40:12Z"), false).isValid());
}

namespace {

void setTimeZone(const QByteArray &zone)
{
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    tzset();
}

}

void TestPlatform::timeInTheHourALocalClockSkipsIsStillATime()
{
    const QByteArray previous = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    // In Helsinki the clock goes from 03:00 to 04:00 on that day; 03:30 there never is.
    setTimeZone("Europe/Helsinki");
    struct Restore {
        QByteArray zone;
        ~Restore() { setTimeZone(zone); }
    } restore{hadZone ? previous : QByteArray()};
    const QDateTime instant(QDate(2026, 3, 29), QTime(3, 30), Qt::UTC);
    // The service's own form, and a looser one of the same time.
    for (const QString &text : {QStringLiteral("Sun Mar 29 03:30:00 +0000 2026"),
                                QStringLiteral("Sun Mar 29  03:30:00 +0000 2026")}) {
        const QDateTime local = Tw::Twitter::convertDateTime(text, false);
        QVERIFY2(local.isValid(), qPrintable(text));
        QCOMPARE(local, instant);
        QCOMPARE(local.time(), QTime(6, 30));
        QCOMPARE(Tw::Twitter::convertDateTime(text, true), instant);
    }
}

void TestPlatform::syncTimerStopsAndWakesUp()
{
    SyncTimer timer;
    timer.wokeUp();
    QVERIFY(!timer.isActive()); // nothing to wake before an interval is set
    timer.setTimerInterval(14400, 14400);
    QVERIFY(timer.isActive());
    QCOMPARE(timer.minimumInterval(), 14400);
    timer.stop();
    QVERIFY(!timer.isActive());
    timer.wokeUp();
    QVERIFY(timer.isActive());

    QSignalSpy timeout(&timer, &SyncTimer::timeout);
    timer.setTimerInterval(1, 1);
    QVERIFY(timeout.wait(5000));
    QVERIFY(timer.isActive()); // periodic
}

void TestPlatform::gconfItemReadsIntegerKeys()
{
    const QString key = QStringLiteral("/desktop/ostra/event_feed/update_interval");
    QFile::remove(OGConfItem::storePath());
    QCOMPARE(OGConfItem(key).value().toInt(), 0);
    {
        QSettings store(OGConfItem::storePath(), QSettings::IniFormat);
        store.setValue(QStringLiteral("desktop/ostra/event_feed/update_interval"), 900);
    }
    QCOMPARE(OGConfItem(key).value().toInt(), 900);
    QCOMPARE(OGConfItem(QStringLiteral("/desktop/ostra/other")).value().toInt(), 0);
}

void TestPlatform::remoteActionTextualForm()
{
    const QVariant id = QVariant(qulonglong(1334092880406159360ULL));
    const ORemoteAction action(QStringLiteral("com.example.app"), QStringLiteral("/path"),
                               QStringLiteral("com.example.app"), QStringLiteral("open"),
                               {id, QStringLiteral("two words")});
    const QStringList parts = action.toString().split(QLatin1Char(' '));
    QCOMPARE(parts.size(), 6);
    QCOMPARE(parts.mid(0, 4), QStringList({QStringLiteral("com.example.app"), QStringLiteral("/path"),
                                           QStringLiteral("com.example.app"), QStringLiteral("open")}));
    QByteArray bytes = QByteArray::fromBase64(parts.at(4).toLatin1());
    QDataStream stream(&bytes, QIODevice::ReadOnly);
    QVariant decoded;
    stream >> decoded;
    QCOMPARE(decoded, id);
    bytes = QByteArray::fromBase64(parts.at(5).toLatin1());
    QDataStream second(&bytes, QIODevice::ReadOnly);
    second >> decoded;
    QCOMPARE(decoded.toString(), QStringLiteral("two words"));
}

void TestPlatform::pollingBearerIsExcludedUnlessAskedFor()
{
    const QByteArray before = qgetenv("QT_EXCLUDE_GENERIC_BEARER");
    const bool wasSet = qEnvironmentVariableIsSet("QT_EXCLUDE_GENERIC_BEARER");

    qunsetenv("QT_EXCLUDE_GENERIC_BEARER");
    Helper::excludePollingBearer();
    QCOMPARE(qgetenv("QT_EXCLUDE_GENERIC_BEARER"), QByteArray("1"));

    // Whoever starts the daemon may still want the generic bearer.
    qputenv("QT_EXCLUDE_GENERIC_BEARER", "0");
    Helper::excludePollingBearer();
    QCOMPARE(qgetenv("QT_EXCLUDE_GENERIC_BEARER"), QByteArray("0"));

    if (wasSet)
        qputenv("QT_EXCLUDE_GENERIC_BEARER", before);
    else
        qunsetenv("QT_EXCLUDE_GENERIC_BEARER");
}

void TestPlatform::notificationStoreIsBoundedAndKeepsOthersEntries()
{
    QDir().mkpath(QFileInfo(NotificationStore::path()).path());
    QFile file(NotificationStore::path());
    // A store of another application's entries, as it wrote it.
    const auto written = [&](int count, int bodySize) {
        QJsonArray entries;
        for (int i = 1; i <= count; ++i)
            entries.append(QJsonObject{{QStringLiteral("id"), i}, {QStringLiteral("application"), QStringLiteral("Other")},
                                       {QStringLiteral("kind"), QStringLiteral("notification")},
                                       {QStringLiteral("body"), QString(bodySize, QLatin1Char('x'))}});
        const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("entries"), entries}}).toJson();
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        file.close();
        return bytes;
    };
    const auto stored = [&] {
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        file.close();
        return bytes;
    };
    NotificationStore store;
    ONotification notification(&store, QStringLiteral("mentions.service.twitter"));

    // Too large to read: neither read nor written.
    QByteArray before = written(2000, 600);
    QVERIFY(before.size() > NotificationStore::MaxBytes);
    QVERIFY(store.entries().isEmpty());
    QVERIFY(!notification.publish());
    QCOMPARE(stored(), before);
    // Full: a new entry is refused, the others' stay.
    before = written(NotificationStore::MaxEntries, 10);
    QVERIFY(!notification.publish());
    QCOMPARE(stored(), before);
    // Growing over the size cap, or not writable (a folder in its place): reported as failed.
    before = written(1, NotificationStore::MaxBytes - written(1, 0).size() - 50);
    QVERIFY(!notification.publish());
    QCOMPARE(stored(), before);
    QVERIFY(file.remove() && QDir().mkpath(file.fileName()));
    QVERIFY(!notification.publish());
    QVERIFY(QDir().rmdir(file.fileName()));

    // The lock of a process that has ended is taken over at once.
    written(1, 10);
    QProcess ended;
    ended.start(QStringLiteral("true"), QStringList());
    QVERIFY(ended.waitForStarted());
    const qint64 pid = ended.processId();
    QVERIFY(ended.waitForFinished());
    QFile lockFile(NotificationStore::path() + QStringLiteral(".lock"));
    QVERIFY(lockFile.open(QIODevice::WriteOnly));
    lockFile.write(QByteArray::number(pid) + "\ntrue\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lockFile.close();
    QVERIFY(notification.publish());
    QVERIFY(!store.hasPendingChanges());
    QCOMPARE(NotificationStore::storedEntries().size(), 2);
    QCOMPARE(notification.id(), 2);

    // While a live process holds the lock the change waits, and is written from the event
    // loop once; the retry then rests.
    QLockFile held(lockFile.fileName());
    QVERIFY(held.tryLock(0));
    QVERIFY(notification.publish());
    QVERIFY(store.hasPendingChanges());
    QTimer *retry = store.findChild<QTimer *>();
    QVERIFY(retry->isActive() && retry->isSingleShot());
    held.unlock();
    QTRY_VERIFY(!store.hasPendingChanges());
    QVERIFY(!retry->isActive());
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
