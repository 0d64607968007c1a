// SPDX-License-Identifier: BSD-3-Clause
// The login state machine, driven through the account file and the client double:
// the 100 ms login, what a login builds, retries, offline and online, account events,
// the preferences, the update-interval refresh and the help configuration.

#include "DaemonHarness.h"
#include "NotificationHandler.h"
#include "OGConfItem.h"
#include "SyncTimer.h"
#include "TwAccount.h"
#include "TwFactoryOstra.h"
#include "TwitterDouble.h"

#include <QDBusConnectionInterface>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString LoginErrorType = QStringLiteral("account/login_error_type");
const QString LoginErrorText = QStringLiteral("account/login_error_text");

}

class TestLogin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void loginFollowsTheTimerAndBuildsTheSession();
    void genericErrorsRetryAfterOneTwoThreeMinutes();
    void busyErrorAddsAFiveSecondRetry();
    void unusableAccountIsMarkedAndNotRetried_data();
    void unusableAccountIsMarkedAndNotRetried();
    void offlineLogsOutAndOnlineLogsIn();
    void secondLoginReleasesTheFirstSession();
    void authenticationFailureForcesOneRelogin();
    void otherServiceSwitchKeepsRunning();
    void updateIntervalRefreshesAfterLogin_data();
    void updateIntervalRefreshesAfterLogin();
    void preferencesSetTheNotificationKinds_data();
    void preferencesSetTheNotificationKinds();
    void preferencesFollowChanges();
    void guiRunningIsProbedWithoutTakingTheName();
    void helpConfigurationIsFetchedWhenADayOld_data();
    void helpConfigurationIsFetchedWhenADayOld();

private:
    bool loginWithError(int type, const QString &text);
    void failAgain();
    NotificationHandler *handler() { return mHarness.daemon().findChild<NotificationHandler *>(); }

    DaemonHarness mHarness;
};

void TestLogin::initTestCase()
{
    QVERIFY(mHarness.start());
}

void TestLogin::init()
{
    TwitterDouble::reset();
    QFile::remove(mHarness.environment().accountFile());
    QFile::remove(OGConfItem::storePath());
    mHarness.environment().writeDefaultAccount();
    QVERIFY(mHarness.restartDaemon());
}

// Restarts the daemon with a login that fails, and waits for the first failure.
bool TestLogin::loginWithError(int type, const QString &text)
{
    mHarness.environment().writeAccount({{LoginErrorType, type}, {LoginErrorText, text}});
    if (!mHarness.restartDaemon())
        return false;
    QSignalSpy failed(TwOstra::TwFactoryOstra::getInstance()->account(), &TwAccount::loginError);
    mHarness.goOnline();
    return failed.wait();
}

// Lets the pending retry fire now instead of minutes later.
void TestLogin::failAgain()
{
    QSignalSpy failed(TwOstra::TwFactoryOstra::getInstance()->account(), &TwAccount::loginError);
    QTimer *retry = mHarness.timer(QStringLiteral("retryLoginTimer"));
    if (retry->isActive())
        retry->start(0); // its minutes, over now
    else
        QMetaObject::invokeMethod(&mHarness.daemon(), "retryLogin"); // the 5 s retry's call
    QVERIFY(failed.wait());
}

void TestLogin::loginFollowsTheTimerAndBuildsTheSession()
{
    mHarness.environment().writeAccount({{QStringLiteral("settings/tw-notif-main"), true},
                                         {QStringLiteral("settings/tw-notif-msg"), true},
                                         {QStringLiteral("settings/tw-notif-mention"), true}});
    QVERIFY(mHarness.restartDaemon());
    QTimer *login = mHarness.timer(QStringLiteral("loginTimer"));
    QVERIFY(login);
    QCOMPARE(login->interval(), 100);
    QVERIFY(login->isSingleShot());
    QVERIFY(!mHarness.daemon().isLoggedIn());

    mHarness.goOnline();
    QVERIFY(login->isActive());
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    QVERIFY(TwitterDouble::latestClient());
    QCOMPARE(handler()->enabledTypes(),
             quint32(NotificationHandler::TYPE_MESSAGES | NotificationHandler::TYPE_MENTIONS
                     | NotificationHandler::TYPE_ANYONE));
    // Nothing is fetched while the feed's update interval is 0.
    QVERIFY(TwitterDouble::requests(TwitterDouble::Timeline, TimelineType::HomeTimeline).isEmpty());
}

void TestLogin::genericErrorsRetryAfterOneTwoThreeMinutes()
{
    QVERIFY(loginWithError(5, QStringLiteral("Invalid credentials")));
    QTimer *retry = mHarness.timer(QStringLiteral("retryLoginTimer"));
    for (int minutes : {1, 2, 3}) {
        QVERIFY(retry->isActive());
        QVERIFY(retry->isSingleShot());
        QCOMPARE(retry->interval(), minutes * 60000);
        failAgain();
    }
    QVERIFY(!retry->isActive());
    QVERIFY(!mHarness.daemon().isLoggedIn());
    QVERIFY(!mHarness.daemon().findChild<QTimer *>(QStringLiteral("busyRetryTimer")));
}

void TestLogin::busyErrorAddsAFiveSecondRetry()
{
    QVERIFY(loginWithError(4, QStringLiteral("Try again")));
    const QPointer<QTimer> busy = mHarness.timer(QStringLiteral("busyRetryTimer"));
    QVERIFY(busy && busy->isActive());
    QCOMPARE(busy->interval(), 5000);
    QCOMPARE(mHarness.timer(QStringLiteral("retryLoginTimer"))->interval(), 60000);

    // Once the schedule is used up the 5 s retry still comes, every time.
    for (int i = 0; i < 3; ++i)
        failAgain();
    QVERIFY(!mHarness.timer(QStringLiteral("retryLoginTimer"))->isActive());
    QCOMPARE(mHarness.daemon().findChildren<QTimer *>(QStringLiteral("busyRetryTimer")).size(), 4);

    // Whichever fires first logs in; the other finds the attempt under way and waits.
    QSignalSpy failed(TwOstra::TwFactoryOstra::getInstance()->account(), &TwAccount::loginError);
    mHarness.environment().writeAccount({{LoginErrorType, QString()}});
    QMetaObject::invokeMethod(&mHarness.daemon(), "retryLogin");
    QMetaObject::invokeMethod(&mHarness.daemon(), "retryLogin");
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    QCOMPARE(failed.count(), 0);
    // The retries still to come are gone: they would log in again.
    QVERIFY(!busy);
    QVERIFY(!mHarness.daemon().findChild<QTimer *>(QStringLiteral("busyRetryTimer")));
}

void TestLogin::unusableAccountIsMarkedAndNotRetried_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("invalid");
    QTest::newRow("deleted user") << 8 << "User has been deleted" << true;
    QTest::newRow("other user error") << 8 << "User is sleeping" << false;
    QTest::newRow("unusable account") << 16 << "No way" << true;
    QTest::newRow("clock skew") << 9 << "Client time out of sync by 600 s" << false;
    QTest::newRow("generic") << 0 << "Something else" << false;
}

void TestLogin::unusableAccountIsMarkedAndNotRetried()
{
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(bool, invalid);
    QVERIFY(loginWithError(type, text));
    QSettings account(mHarness.environment().accountFile(), QSettings::IniFormat);
    QCOMPARE(account.value(QStringLiteral("account/invalid"), false).toBool(), invalid);
    QCOMPARE(mHarness.timer(QStringLiteral("retryLoginTimer"))->isActive(), !invalid);
}

void TestLogin::offlineLogsOutAndOnlineLogsIn()
{
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    QPointer<Tw::Twitter> client = TwitterDouble::latestClient();
    // A friends import on its way when the session goes is asked for anew by the next tick.
    TwitterDouble::setDefault(TwitterDouble::User, UserType::FriendsList, TwitterDouble::Answer());
    QMetaObject::invokeMethod(&mHarness.daemon(), "onTimer");
    mHarness.goOnline(); // told again: the session stays, no login is due
    QVERIFY(!mHarness.timer(QStringLiteral("loginTimer"))->isActive());

    for (int told = 0; told < 2; ++told) // the second time changes nothing
        QMetaObject::invokeMethod(&mHarness.daemon(), "onOnlineStateChanged", Q_ARG(bool, false));
    QVERIFY(!mHarness.daemon().isLoggedIn());
    QTRY_VERIFY(client.isNull());
    for (const char *name : {"loginTimer", "retryLoginTimer"})
        QVERIFY(!mHarness.timer(QLatin1String(name))->isActive());
    QVERIFY(!mHarness.daemon().findChild<SyncTimer *>()->isActive());

    mHarness.goOnline();
    QVERIFY(mHarness.timer(QStringLiteral("loginTimer"))->isActive());
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    QVERIFY(TwitterDouble::latestClient());
    QMetaObject::invokeMethod(&mHarness.daemon(), "onTimer");
    QCOMPARE(TwitterDouble::networkRequests(TwitterDouble::User, UserType::FriendsList).size(), 2);
}

void TestLogin::secondLoginReleasesTheFirstSession()
{
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    QPointer<Tw::Twitter> first = TwitterDouble::latestClient();

    // An account added while logged in starts a new login.
    QMetaObject::invokeMethod(&mHarness.daemon(), "onTwitterAccountCreated");
    QVERIFY(mHarness.timer(QStringLiteral("loginTimer"))->isActive());
    QTRY_VERIFY(TwitterDouble::latestClient() != first.data());
    QTRY_VERIFY(first.isNull());
    QVERIFY(mHarness.daemon().isLoggedIn());
}

void TestLogin::authenticationFailureForcesOneRelogin()
{
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    QPointer<Tw::Twitter> first = TwitterDouble::latestClient();
    const QVariantMap oauth = {{QStringLiteral("error"), QStringLiteral("Could not authenticate with OAuth.")}};

    QTest::ignoreMessage(QtDebugMsg, "void TwAccount::login(bool, int) true 0");
    emit first->networkRequestError(7, oauth);
    QVERIFY(!mHarness.daemon().isLoggedIn());
    QVERIFY(mHarness.timer(QStringLiteral("loginTimer"))->isActive());
    // Further failures before the forced login starts change nothing.
    QSignalSpy logins(TwOstra::TwFactoryOstra::getInstance()->account(), &TwAccount::loginResponse);
    QMetaObject::invokeMethod(&mHarness.daemon(), "onNetworkRequestError", Q_ARG(int, 8), Q_ARG(QVariantMap, oauth));
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    QVERIFY(first.isNull());
    QCOMPARE(logins.count(), 1);
    QVERIFY(!mHarness.timer(QStringLiteral("loginTimer"))->isActive());

    // A failure while a login is under way is left to that login.
    QTest::ignoreMessage(QtDebugMsg, "void TwAccount::login(bool, int) false 0");
    QMetaObject::invokeMethod(&mHarness.daemon(), "onTimerLogin");
    QMetaObject::invokeMethod(&mHarness.daemon(), "onNetworkRequestError", Q_ARG(int, 10), Q_ARG(QVariantMap, oauth));
    QVERIFY(!mHarness.timer(QStringLiteral("loginTimer"))->isActive());
    QTRY_COMPARE(logins.count(), 2);
    // Nor does a refresh while a login is under way start another.
    QMetaObject::invokeMethod(&mHarness.daemon(), "onOnlineStateChanged", Q_ARG(bool, false));
    QTest::ignoreMessage(QtDebugMsg, "void TwAccount::login(bool, int) false 0");
    QMetaObject::invokeMethod(&mHarness.daemon(), "onTimerLogin");
    QMetaObject::invokeMethod(&mHarness.daemon(), "onRefreshRequested");
    QVERIFY(!mHarness.timer(QStringLiteral("loginTimer"))->isActive());
    QTRY_COMPARE(logins.count(), 3);

    // Another error text is not an authentication failure.
    emit TwitterDouble::latestClient()->networkRequestError(9, {{QStringLiteral("error"), QStringLiteral("Rate limit exceeded")}});
    QVERIFY(mHarness.daemon().isLoggedIn());
}

void TestLogin::otherServiceSwitchKeepsRunning()
{
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    QSignalSpy switched(TwOstra::TwFactoryOstra::getInstance()->account(), &TwAccount::accountStateChanged);
    mHarness.environment().writeAccount({{QStringLiteral("services/contacts"), false}});
    QVERIFY(switched.wait());
    QVERIFY(mHarness.daemon().isLoggedIn());
    QVERIFY(TwitterDouble::latestClient());
}

void TestLogin::updateIntervalRefreshesAfterLogin_data()
{
    QTest::addColumn<QVariant>("interval");
    QTest::addColumn<bool>("refresh");
    QTest::newRow("missing") << QVariant() << false;
    QTest::newRow("zero") << QVariant(0) << false;
    QTest::newRow("minutes") << QVariant(900) << true;
    QTest::newRow("negative") << QVariant(-1) << true;
    QTest::newRow("not a number") << QVariant(QStringLiteral("often")) << false;
}

void TestLogin::updateIntervalRefreshesAfterLogin()
{
    QFETCH(QVariant, interval);
    QFETCH(bool, refresh);
    if (interval.isValid())
        QSettings(OGConfItem::storePath(), QSettings::IniFormat)
            .setValue(QStringLiteral("desktop/ostra/event_feed/update_interval"), interval);
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());

    const QList<TwitterDouble::Request> home = TwitterDouble::requests(TwitterDouble::Timeline, TimelineType::HomeTimeline);
    QCOMPARE(home.size(), refresh ? 1 : 0);
    if (refresh) {
        QCOMPARE(home.first().behavior, int(Tw::Twitter::RETRIEVE_FROM_NETWORK));
        QCOMPARE(home.first().args, (QMap<QString, QString>{{QStringLiteral("count"), QStringLiteral("20")},
                                                           {QStringLiteral("include_entities"), QStringLiteral("true")}}));
    }
}

void TestLogin::preferencesSetTheNotificationKinds_data()
{
    QTest::addColumn<QVariantList>("values"); // main, msg, mention, followed, anyone
    QTest::addColumn<quint32>("kinds");
    QTest::newRow("all off") << QVariantList{false, false, false, false, false} << 0u;
    QTest::newRow("main off") << QVariantList{false, true, true, true, true} << 0u;
    QTest::newRow("messages") << QVariantList{true, true, false, false, false} << 1u;
    QTest::newRow("mentions from anyone") << QVariantList{true, false, true, false, false} << 10u;
    QTest::newRow("mentions followed only") << QVariantList{true, false, true, true, true} << 6u;
    QTest::newRow("everything") << QVariantList{true, true, true, false, true} << 11u;
    QTest::newRow("followed without mentions") << QVariantList{true, true, false, true, false} << 1u;
}

void TestLogin::preferencesSetTheNotificationKinds()
{
    QFETCH(QVariantList, values);
    QFETCH(quint32, kinds);
    const QStringList keys = {"tw-notif-main", "tw-notif-msg", "tw-notif-mention", "tw-notif-followed", "tw-notif-anyone"};
    QVariantMap settings;
    for (int i = 0; i < keys.size(); ++i)
        settings.insert(QStringLiteral("settings/") + keys.at(i), values.at(i));
    mHarness.environment().writeAccount(settings);
    QVERIFY(mHarness.restartDaemon());
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    QTRY_COMPARE(handler()->enabledTypes(), kinds); // the file is taken from the event loop
}

void TestLogin::preferencesFollowChanges()
{
    mHarness.environment().writeAccount({{QStringLiteral("settings/tw-notif-main"), true},
                                         {QStringLiteral("settings/tw-notif-mention"), true}});
    QVERIFY(mHarness.restartDaemon());
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    QTRY_COMPARE(handler()->enabledTypes(), 10u);

    QSignalSpy changed(TwOstra::TwFactoryOstra::getInstance()->account(), &TwAccount::settingsChanged);
    mHarness.environment().writeAccount({{QStringLiteral("settings/tw-notif-main"), false}});
    QVERIFY(changed.wait());
    QCOMPARE(handler()->enabledTypes(), 0u);
    mHarness.environment().writeAccount({{QStringLiteral("settings/tw-notif-main"), true},
                                         {QStringLiteral("settings/tw-notif-followed"), true}});
    QTRY_COMPARE(handler()->enabledTypes(), 6u);

    // A key outside the five changes nothing; one of them recomputes every kind.
    handler()->setNotificationEnabled(NotificationHandler::TYPE_MESSAGES, true);
    QMetaObject::invokeMethod(&mHarness.daemon(), "onSettingsChanged",
                              Q_ARG(QString, QStringLiteral("other-application-key")), Q_ARG(bool, true));
    QCOMPARE(handler()->enabledTypes(), 7u);
    QMetaObject::invokeMethod(&mHarness.daemon(), "onSettingsChanged",
                              Q_ARG(QString, QStringLiteral("tw-notif-anyone")), Q_ARG(bool, true));
    QCOMPARE(handler()->enabledTypes(), 6u);
}

void TestLogin::guiRunningIsProbedWithoutTakingTheName()
{
    const QString application = QStringLiteral("com.halvex.twitter.eventfeed");
    QDBusConnection other = mHarness.bus().connection(QStringLiteral("twitter-application"));
    QVERIFY(!mHarness.daemon().isGuiRunning());
    QVERIFY(!other.interface()->isServiceRegistered(application));

    QVERIFY(other.registerService(application));
    QVERIFY(mHarness.daemon().isGuiRunning());
    QCOMPARE(other.interface()->serviceOwner(application).value(), other.baseService());
    QVERIFY(other.unregisterService(application));
    QVERIFY(!mHarness.daemon().isGuiRunning());
}

void TestLogin::helpConfigurationIsFetchedWhenADayOld_data()
{
    QTest::addColumn<QVariantMap>("cached");
    QTest::addColumn<bool>("fetch");
    const QDateTime now = QDateTime::currentDateTime();
    const QString key = QStringLiteral("last_update_time");
    QTest::newRow("nothing cached") << QVariantMap() << true;
    QTest::newRow("23 hours old") << QVariantMap{{key, now.addSecs(-23 * 3600).toString(Qt::ISODate)}} << false;
    QTest::newRow("24 hours old") << QVariantMap{{key, now.addSecs(-24 * 3600).toString(Qt::ISODate)}} << true;
    QTest::newRow("no update time") << QVariantMap{{QStringLiteral("photo_size_limit"), 3145728}} << true;
    QTest::newRow("unreadable time") << QVariantMap{{key, QStringLiteral("yesterday")}} << true;
}

void TestLogin::helpConfigurationIsFetchedWhenADayOld()
{
    QFETCH(QVariantMap, cached);
    QFETCH(bool, fetch);
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    TwitterDouble::Answer fromCache;
    fromCache.cached = {cached};
    TwitterDouble::enqueue(TwitterDouble::Help, HelpType::Configuration, fromCache);

    if (!fetch)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("not yet time to retrieve config")));
    QMetaObject::invokeMethod(&mHarness.daemon(), "onTimer");
    QList<int> behaviours;
    for (const TwitterDouble::Request &request : TwitterDouble::requests(TwitterDouble::Help, HelpType::Configuration))
        behaviours.append(request.behavior);
    QCOMPARE(behaviours, fetch ? QList<int>({0, 1}) : QList<int>({0}));
}

QTEST_GUILESS_MAIN(TestLogin)
#include "tst_login.moc"
