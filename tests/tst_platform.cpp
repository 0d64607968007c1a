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
#include "Twitter.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QLocale>
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
    void missingOrBrokenAccountFileMeansNoAccount();
    void accountFileGlitchesKeepTheLastGoodState();

    void compareIdsOrdersByLengthThenText_data();
    void compareIdsOrdersByLengthThenText();
    void convertDateTimeReadsServiceDates();
    void convertDateTimeAgreesWithLocaleReading_data();
    void convertDateTimeAgreesWithLocaleReading();
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

// Caught empty, cut short, as garbage, gone for a moment, replaced by a FIFO or by a huge
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
        [&] { writeAccountFile(QStringLiteral("\x01\x02 garbage [[[\n")); },
        [&] { QFile::remove(path); },
        [&] { QFile::remove(path); QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0); },
        [&] { writeAccountFile(good.arg(QStringLiteral("true")) + QString(70 * 1024, QLatin1Char(';'))); },
    };
    const auto *recheck = account.findChild<QTimer *>(QStringLiteral("accountRecheckTimer"));
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
    QVERIFY(!Tw::Twitter::convertDateTime(QString(), false).isValid());
    QVERIFY(!Tw::Twitter::convertDateTime(QStringLiteral("Sun Dec 06 05:40:12 +00x0 2026"), false).isValid());
    QVERIFY(!Tw::Twitter::convertDateTime(QStringLiteral("2026-12-06T05:40:12Z"), false).isValid());
}

namespace {

// The dates as QLocale alone reads them, as convertDateTime did before it read the
// service's own form by hand: whatever that form gives must be the same.
QDateTime localeReading(const QString &text, bool utc)
{
    const QStringList parts = text.simplified().split(QLatin1Char(' '));
    if (parts.size() != 6)
        return QDateTime();
    const QDate date = QLocale::c().toDate(parts.mid(0, 3).join(QLatin1Char(' ')) + QLatin1Char(' ') + parts.at(5),
                                           QStringLiteral("ddd MMM dd yyyy"));
    QDateTime time(date, QLocale::c().toTime(parts.at(3), QStringLiteral("HH:mm:ss")), Qt::UTC);
    const QString offset = parts.at(4);
    bool hoursOk = false;
    bool minutesOk = false;
    const int hours = offset.mid(1, 2).toInt(&hoursOk);
    const int minutes = offset.mid(3, 2).toInt(&minutesOk);
    if (!time.isValid() || offset.size() != 5 || !hoursOk || !minutesOk
        || (offset.at(0) != QLatin1Char('+') && offset.at(0) != QLatin1Char('-')))
        return QDateTime();
    const int sign = offset.at(0) == QLatin1Char('-') ? -1 : 1;
    time.setOffsetFromUtc(sign * (hours * 3600 + minutes * 60));
    return utc ? time.toUTC() : time.toLocalTime();
}

QString serviceDate(const QDate &date, const QTime &time, const QString &offset)
{
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(QLocale::c().dayName(date.dayOfWeek(), QLocale::ShortFormat), QLocale::c().monthName(date.month(), QLocale::ShortFormat),
             date.toString(QStringLiteral("dd")), time.toString(QStringLiteral("HH:mm:ss")), offset)
        + QLatin1Char(' ') + QString::number(date.year()).rightJustified(4, QLatin1Char('0'));
}

void setTimeZone(const QByteArray &zone)
{
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    tzset();
}

}

void TestPlatform::convertDateTimeAgreesWithLocaleReading_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("text");

    QStringList texts;
    // Every month, at its first and last day, and every day of one week.
    for (int month = 1; month <= 12; ++month) {
        const QDate first(2026, month, 1);
        texts << serviceDate(first, QTime(0, 0, 0), QStringLiteral("+0000"))
              << serviceDate(first.addMonths(1).addDays(-1), QTime(23, 59, 59), QStringLiteral("+0000"));
    }
    for (int day = 0; day < 7; ++day)
        texts << serviceDate(QDate(2026, 12, 6).addDays(day), QTime(12, 34, 56), QStringLiteral("+0000"));
    texts << QStringLiteral("Thu Feb 29 08:00:00 +0000 2024")  // leap day
          << QStringLiteral("Sun Feb 29 08:00:00 +0000 2026")  // none that year
          << QStringLiteral("Tue Feb 29 08:00:00 +0000 2100")  // nor in a century's
          << QStringLiteral("Tue Feb 29 08:00:00 +0000 2000") // but in a fourth century's
          << QStringLiteral("Mon Dec 06 05:40:12 +0000 2026")  // day names that do not match the date
          << QStringLiteral("Sat Dec 06 05:40:12 +0000 2026")
          << QStringLiteral("Xyz Dec 06 05:40:12 +0000 2026")
          << QStringLiteral("Sun Xyz 06 05:40:12 +0000 2026")
          << QStringLiteral("sun dec 06 05:40:12 +0000 2026")  // other letter case
          << QStringLiteral("SUN DEC 06 05:40:12 +0000 2026")
          << QStringLiteral("Sunday Dec 06 05:40:12 +0000 2026")
          << QStringLiteral("Sun December 06 05:40:12 +0000 2026");
    for (const QString &offset : {QStringLiteral("+0000"), QStringLiteral("-0000"), QStringLiteral("-0500"),
                                  QStringLiteral("+0530"), QStringLiteral("+1400"), QStringLiteral("-1200"),
                                  QStringLiteral("+2359"), QStringLiteral("+9999"), QStringLiteral("+0060"),
                                  QStringLiteral("+000"), QStringLiteral("+00000"), QStringLiteral("0000"),
                                  QStringLiteral("*0000"), QStringLiteral("+00x0"), QStringLiteral("++5+5"),
                                  QStringLiteral("+-1-1"), QStringLiteral("+ 1 1"), QStringLiteral("Z")}) {
        texts << serviceDate(QDate(2026, 12, 6), QTime(5, 40, 12), offset)
              << serviceDate(QDate(2026, 1, 1), QTime(0, 0, 1), offset)
              << serviceDate(QDate(2026, 12, 31), QTime(23, 59, 59), offset);
    }
    // Malformed, spaced and out of range.
    texts << QString() << QStringLiteral(" ") << QStringLiteral("Sun")
          << QStringLiteral("Sun Dec 06 05:40:12 +0000") << QStringLiteral("Sun Dec 06 05:40:12 2026")
          << QStringLiteral("Sun Dec 06 05:40:12 +0000 2026 extra")
          << QStringLiteral("2026-12-06T05:40:12Z")
          << QStringLiteral(" Sun Dec 06 05:40:12 +0000 2026") << QStringLiteral("Sun Dec 06 05:40:12 +0000 2026 ")
          << QStringLiteral("Sun  Dec 06 05:40:12 +0000 2026") << QStringLiteral("Sun Dec 06  05:40:12 +0000  2026")
          << QStringLiteral("Sun\tDec 06 05:40:12 +0000 2026") << QStringLiteral("Sun Dec 06 05:40:12\n+0000 2026")
          << QStringLiteral("Sun Dec 06 05:40:12 +0000 2026").replace(3, 1, QChar(0x00a0))
          << QStringLiteral("Sun Dec 6 05:40:12 +0000 2026") << QStringLiteral("Sun Dec  6 05:40:12 +0000 2026")
          << QStringLiteral("Sun Dec 006 05:40:12 +0000 2026") << QStringLiteral("Sun Dec 06 5:40:12 +0000 2026")
          << QStringLiteral("Sun Dec 06 05:4:12 +0000 2026") << QStringLiteral("Sun Dec 06 05-40-12 +0000 2026")
          << QStringLiteral("Sun Dec 06 05:40:12.5 +0000 2026") << QStringLiteral("Sun Dec 06 05:40 +0000 2026")
          << QStringLiteral("Sun Dec 0a 05:40:12 +0000 2026") << QStringLiteral("Sun Dec 06 05:40:1x +0000 2026")
          << QStringLiteral("Sun Dec 06 05:40:12 +0000 20x6") << QStringLiteral("Sun Dec 06 05:40:12 +0000 226")
          << QStringLiteral("Sun Dec 06 05:40:12 +0000 02026") << QStringLiteral("Sun Dec 06 05:40:12 +0000 -2026")
          << QStringLiteral("Sun Dec 06 05:40:12 +0000 2026").replace(8, 2, QStringLiteral("\u0660\u0666"))
          << QStringLiteral("Sun Dec 06 05:40:12 +0000 2026").replace(9, 1, QChar(0xff16))
          << QStringLiteral("Mon Dec 07 24:00:00 +0000 2026") << QStringLiteral("Sun Dec 06 23:60:00 +0000 2026")
          << QStringLiteral("Sun Dec 06 23:59:60 +0000 2026") << QStringLiteral("Sun Dec 06 99:99:99 +0000 2026")
          << QStringLiteral("Tue Dec 32 05:40:12 +0000 2026") << QStringLiteral("Sat Dec 00 05:40:12 +0000 2026")
          << QStringLiteral("Sun Jun 31 05:40:12 +0000 2026")
          << QStringLiteral("Sat Jan 01 00:00:00 +0000 0000") << QStringLiteral("Mon Jan 01 00:00:00 +0000 0001")
          << QStringLiteral("Sat Jan 01 00:00:00 +0000 0050") << QStringLiteral("Fri Jan 01 00:00:00 +0000 0100")
          << QStringLiteral("Thu Jan 01 00:00:00 +0000 1970") << QStringLiteral("Wed Dec 31 23:59:59 -0100 1969")
          << QStringLiteral("Fri Dec 31 23:59:59 +0000 9999") << QStringLiteral("Fri Dec 31 23:59:59 -1400 9999")
          << QStringLiteral("Sat Jan 01 00:00:00 +0000 10000");
    // Clock times around the daylight-saving changes of the zones below, some of them in
    // the hour a local clock skips.
    for (const QDate &change : {QDate(2026, 3, 29), QDate(2026, 10, 25), QDate(2026, 3, 8), QDate(2026, 11, 1)}) {
        for (int minutes = 0; minutes <= 5 * 60; minutes += 30)
            texts << serviceDate(change, QTime(0, 0).addSecs(minutes * 60), QStringLiteral("+0000"))
                  << serviceDate(change, QTime(0, 0).addSecs(minutes * 60), QStringLiteral("-0330"));
    }

    for (const QByteArray &zone : {QByteArray("UTC"), QByteArray("Europe/Helsinki"), QByteArray("America/St_Johns"),
                                   QByteArray("Asia/Kolkata")}) {
        for (const QString &text : qAsConst(texts))
            QTest::addRow("%s %s", zone.constData(), qPrintable(text)) << zone << text;
    }
}

void TestPlatform::convertDateTimeAgreesWithLocaleReading()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, text);
    const QByteArray previous = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    setTimeZone(zone);
    struct Restore {
        QByteArray zone;
        ~Restore() { setTimeZone(zone); }
    } restore{hadZone ? previous : QByteArray()};
    // The zone is in force: noon UTC on a summer's day in Helsinki is 15:00 there.
    if (zone == "Europe/Helsinki")
        QCOMPARE(QDateTime(QDate(2026, 7, 1), QTime(12, 0), Qt::UTC).toLocalTime().time(), QTime(15, 0));

    for (const bool utc : {false, true}) {
        const QDateTime read = Tw::Twitter::convertDateTime(text, utc);
        const QDateTime expected = localeReading(text, utc);
        QCOMPARE(read.isValid(), expected.isValid());
        if (!expected.isValid())
            continue;
        QCOMPARE(read.timeSpec(), expected.timeSpec());
        QCOMPARE(read.date(), expected.date());
        QCOMPARE(read.time(), expected.time());
        QCOMPARE(read.offsetFromUtc(), expected.offsetFromUtc());
        QCOMPARE(read.toMSecsSinceEpoch(), expected.toMSecsSinceEpoch());
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
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
