// The layers in place of the platform's libraries: the account file and its signals,
// id and date utilities, the sync timer, the configuration store and remote actions.

#include "Helper.h"
#include "OGConfItem.h"
#include "ORemoteAction.h"
#include "SyncTimer.h"
#include "TestEnvironment.h"
#include "TwAccount.h"
#include "Twitter.h"

#include <QDataStream>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

class TestPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void accountFileDrivesAccountSignals();
    void accountSettingsAreWatchedByKey();
    void loginAnswersFromAccountFile();
    void missingOrBrokenAccountFileMeansNoAccount();

    void compareIdsOrdersByLengthThenText_data();
    void compareIdsOrdersByLengthThenText();
    void convertDateTimeReadsServiceDates();

    void syncTimerStopsAndWakesUp();
    void gconfItemReadsIntegerKeys();
    void remoteActionTextualForm();
    void pollingBearerIsExcludedUnlessAskedFor();

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

void TestPlatform::missingOrBrokenAccountFileMeansNoAccount()
{
    TwAccount missing;
    QVERIFY(!missing.hasAccount());
    QVERIFY(!missing.isServiceEnabled(TwServiceType::SERVICE_ACCOUNT));

    writeAccountFile(QStringLiteral("\x01\x02 garbage [[[ present=true\n[account\n"));
    TwAccount broken;
    QVERIFY(!broken.hasAccount());
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
    QVERIFY(!Tw::Twitter::convertDateTime(QString(), false).isValid());
    QVERIFY(!Tw::Twitter::convertDateTime(QStringLiteral("Sun Dec 06 05:40:12 +00x0 2026"), false).isValid());
    QVERIFY(!Tw::Twitter::convertDateTime(QStringLiteral("2026-12-06T05:40:12Z"), false).isValid());
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

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
