// Roads through real processes: the daemon (linked with the scripted client) and the
// reference feed on a private bus. The feed asks for a refresh; the fixtures' newest 20
// tweets become its items, a second refresh adds none, and with last-seen ids stored the
// mentions and direct messages are shown in the session's notification store.

#include "EventFeedProcess.h"
#include "FeedItems.h"
#include "Fixtures.h"
#include "PrivateBus.h"
#include "SocialGetPersonsRequest.h"
#include "SocialProviderInitializer.h"
#include "TestEnvironment.h"

#include <QDataStream>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include "runnerinterface.h"

#include <csignal>

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void refreshPublishesTheNewestTwentyOnce();
    void refreshShowsMentionsAndMessages();
    void contactsDaemonGetsTheFriends();

private:
    void startDaemon();
    void refreshOnceLoggedIn();
    int refreshesHandled() const { return mLog.count(QStringLiteral("HomeTimeline. Item count")); }

    QScopedPointer<PrivateBus> mBus;
    QScopedPointer<TestEnvironment> mEnvironment;
    QScopedPointer<EventFeedProcess> mFeed;
    QProcess mDaemon;
    QString mLog;
};

void TestEndToEnd::init()
{
    mBus.reset(new PrivateBus);
    QVERIFY(mBus->isValid());
    mEnvironment.reset(new TestEnvironment);
    mEnvironment->writeDefaultAccount();
    mFeed.reset(new EventFeedProcess(*mBus));
    QVERIFY(mFeed->start());
    mLog.clear();
}

void TestEndToEnd::cleanup()
{
    if (mDaemon.state() != QProcess::NotRunning) {
        ::kill(mDaemon.processId(), SIGTERM);
        QVERIFY(mDaemon.waitForFinished(10000));
        QCOMPARE(mDaemon.exitCode(), 0);
    }
    mFeed.reset();
    mBus.reset();
}

void TestEndToEnd::startDaemon()
{
    mDaemon.setProcessEnvironment(mEnvironment->processEnvironment(mBus->address()));
    mDaemon.start(QStringLiteral(SCRIPTED_DAEMON_BINARY), {QStringLiteral("--debug")});
    QVERIFY(mBus->waitForName(QStringLiteral("com.halvex.twitterostra")));
    connect(&mDaemon, &QProcess::readyReadStandardError, this,
            [this] { mLog += QString::fromUtf8(mDaemon.readAllStandardError()); }, Qt::UniqueConnection);
}

// A refresh before the login only starts the login; ask until one is answered.
void TestEndToEnd::refreshOnceLoggedIn()
{
    QTRY_VERIFY_WITH_TIMEOUT((mFeed->control().requestRefresh().waitForFinished(), refreshesHandled() > 0), 10000);
}

void TestEndToEnd::refreshPublishesTheNewestTwentyOnce()
{
    startDaemon();
    refreshOnceLoggedIn();
    EventFeedProcess &feed = *mFeed;
    QTRY_COMPARE(feed.items().size(), 20);

    QStringList expected;
    const QVariantList timeline = Fixtures::homeTimeline();
    for (int i = 0; i < 20; ++i)
        expected.append(FeedItems::shownId(timeline.at(i).toMap()));
    QStringList published;
    for (const QJsonValue &item : feed.items())
        published.append(FeedItems::actionId(item));
    QCOMPARE(QSet<QString>(published.begin(), published.end()), QSet<QString>(expected.begin(), expected.end()));

    const int handled = refreshesHandled();
    feed.control().requestRefresh().waitForFinished();
    QTRY_VERIFY(refreshesHandled() > handled);
    QCOMPARE(feed.items().size(), 20);
}

void TestEndToEnd::refreshShowsMentionsAndMessages()
{
    {
        QSettings settings(mEnvironment->daemonSettingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("LastIdMessages"), QStringLiteral("1"));
        settings.setValue(QStringLiteral("LastIdMentions"), QStringLiteral("1"));
    }
    mEnvironment->writeAccount({{QStringLiteral("settings/tw-notif-main"), true},
                                {QStringLiteral("settings/tw-notif-msg"), true},
                                {QStringLiteral("settings/tw-notif-mention"), true}});
    startDaemon();
    refreshOnceLoggedIn();

    // Read from the outside, as the platform would: the session's store file.
    const QString store = mEnvironment->runtimeDir() + QStringLiteral("/ostra-notifications/notifications.json");
    QList<QJsonObject> groups;
    QList<QJsonObject> notifications;
    const auto read = [&] {
        groups.clear();
        notifications.clear();
        QFile file(store);
        if (!file.open(QIODevice::ReadOnly))
            return;
        for (const QJsonValue &entry : QJsonDocument::fromJson(file.readAll())[QStringLiteral("entries")].toArray())
            (entry[QStringLiteral("kind")] == QLatin1String("group") ? groups : notifications).append(entry.toObject());
    };
    QTRY_VERIFY((read(), groups.size() == 2 && notifications.size() == 2));
    QStringList summaries;
    for (const QJsonObject &group : qAsConst(groups))
        summaries.append(group[QStringLiteral("eventType")].toString() + QLatin1Char(' ') + group[QStringLiteral("summary")].toString()
                         + QLatin1Char(' ') + QString::number(group[QStringLiteral("count")].toInt()));
    summaries.sort();
    QCOMPARE(summaries, QStringList({QString::fromUtf8("mentions.service.twitter Alice Example, Dave, Carol W 3"),
                                     QString::fromUtf8("messages.service.twitter Alice Example, Bob Örn 3")}));
    QStringList bodies;
    for (const QJsonObject &notification : qAsConst(notifications))
        bodies.append(notification[QStringLiteral("body")].toString());
    bodies.sort();
    QCOMPARE(bodies, QStringList({QStringLiteral("3 new mentions"), QStringLiteral("3 new messages")}));
}

void TestEndToEnd::contactsDaemonGetsTheFriends()
{
    startDaemon();
    // The runner comes with the login.
    QVERIFY(mBus->waitForName(QStringLiteral("com.halvex.socialprovider.twitter")));
    SocialProviderInitializer::init();
    ComHalvexSocialproviderRunnerInterface runner(QStringLiteral("com.halvex.socialprovider.twitter"),
                                                  QStringLiteral("/twitter"), mBus->connection());
    QCOMPARE(runner.metaData().value().value(QStringLiteral("name")).toString(), QStringLiteral("twitter"));

    SocialGetPersonsRequest request;
    QSignalSpy finished(&runner, &ComHalvexSocialproviderRunnerInterface::requestFinished);
    QVERIFY(!runner.performRequest(5, QStringLiteral("rosterd-1"), request.toBytes()).isError());
    QVERIFY(finished.wait());
    QCOMPARE(finished.first().at(1).toString(), QStringLiteral("rosterd-1"));
    QVERIFY(request.fromBytes(finished.first().at(2).toByteArray()));
    // The six fixture friends but the one without a screen name.
    QCOMPARE(request.persons().size(), 5);
    QVERIFY(finished.first().at(3).toByteArray().isEmpty());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
