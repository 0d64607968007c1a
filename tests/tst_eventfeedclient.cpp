// SPDX-License-Identifier: BSD-3-Clause
// Publishing to the reference event feed in a second process: the feed's answers (an id,
// -1, an error, none), a cached tweet and the service switch; and the item's pictures.

#include "DaemonHarness.h"
#include "FeedItem.h"
#include "FeedItems.h"
#include "TwAccount.h"
#include "TwFactoryOstra.h"
#include "Twitter.h"

#include <QDataStream>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {

QVariantMap user(const QString &name, const QString &screenName)
{
    return {{QStringLiteral("name"), name}, {QStringLiteral("screen_name"), screenName}};
}

QVariantMap plainTweet(const QString &id)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("created_at"), QStringLiteral("Sun Dec 06 05:40:12 +0000 2026")},
            {QStringLiteral("text"), QStringLiteral("  first line\nsecond  line \t")},
            {QStringLiteral("user"), user(QStringLiteral("Alice"), QStringLiteral("AliceInData"))}};
}

}

class TestEventFeedClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void imageListIsPaddedToThree();
    void cachedOrSwitchedOffTweetIsNotPosted();
    void minusOneIsLoggedAndReturned();
    void errorOrAbsentFeedGivesMinusOne();
    void timestampIsTheLocalTime_data();
    void timestampIsTheLocalTime();

private:
    QJsonObject lastItem();

    DaemonHarness mHarness;
};

void TestEventFeedClient::initTestCase()
{
    QVERIFY(mHarness.start());
}

void TestEventFeedClient::init()
{
    mHarness.clearCache();
    mHarness.feed().control().reset().waitForFinished();
}

QJsonObject TestEventFeedClient::lastItem()
{
    const QJsonArray items = mHarness.feed().items();
    return items.isEmpty() ? QJsonObject() : items.last()[QStringLiteral("item")].toObject();
}

void TestEventFeedClient::imageListIsPaddedToThree()
{
    mHarness.daemon().addTweetToHomeView(plainTweet(QStringLiteral("1003")), QString(), {QStringLiteral("/t/1.png")});
    QCOMPARE(lastItem()[QStringLiteral("imageList")].toVariant().toStringList(),
             QStringList({QStringLiteral("/t/1.png"), QString(), QString()}));

    const QStringList four = {QStringLiteral("/1"), QStringLiteral("/2"), QStringLiteral("/3"), QStringLiteral("/4")};
    mHarness.daemon().addTweetToHomeView(plainTweet(QStringLiteral("1004")), QString(), four);
    QCOMPARE(lastItem()[QStringLiteral("imageList")].toVariant().toStringList(), four);
}

void TestEventFeedClient::cachedOrSwitchedOffTweetIsNotPosted()
{
    TwitterDaemon &daemon = mHarness.daemon();
    const QVariantMap tweet = plainTweet(QStringLiteral("1005"));
    const qint64 id = daemon.addTweetToHomeView(tweet, QString(), {});
    daemon.addTweetToDb(tweet, id);
    QCOMPARE(daemon.addTweetToHomeView(tweet, QString(), {}), qint64(-1));
    QCOMPARE(mHarness.feed().items().size(), 1);

    TwAccount *account = TwOstra::TwFactoryOstra::getInstance()->account();
    QSignalSpy switched(account, &TwAccount::accountStateChanged);
    mHarness.environment().writeAccount({{QStringLiteral("services/event_feed"), false}});
    QVERIFY(switched.wait());
    QCOMPARE(daemon.addTweetToHomeView(plainTweet(QStringLiteral("1006")), QString(), {}), qint64(-1));
    QCOMPARE(mHarness.feed().calls().size(), 1);
    mHarness.environment().writeAccount({{QStringLiteral("services/event_feed"), true}});
    QVERIFY(switched.wait());
}

void TestEventFeedClient::minusOneIsLoggedAndReturned()
{
    mHarness.feed().control().setAddItemAnswer(QStringLiteral("minus-one")).waitForFinished();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("EventFeed returned error!$")));
    QCOMPARE(mHarness.daemon().addTweetToHomeView(plainTweet(QStringLiteral("1007")), QString(), {}), qint64(-1));
    QCOMPARE(mHarness.feed().calls().size(), 1);
}

void TestEventFeedClient::errorOrAbsentFeedGivesMinusOne()
{
    const QRegularExpression invalid(QStringLiteral(
        "^qint64 TwitterDaemon::addTweetToHomeView\\(const QVariantMap&, const QString&, QStringList\\) "
        "Error: mEventFeedIf returned invalid value\\."));
    mHarness.feed().control().setAddItemAnswer(QStringLiteral("error")).waitForFinished();
    QTest::ignoreMessage(QtCriticalMsg, invalid);
    QCOMPARE(mHarness.daemon().addTweetToHomeView(plainTweet(QStringLiteral("1008")), QString(), {}), qint64(-1));

    mHarness.feed().stop();
    QTest::ignoreMessage(QtCriticalMsg, invalid);
    QCOMPARE(mHarness.daemon().addTweetToHomeView(plainTweet(QStringLiteral("1009")), QString(), {}), qint64(-1));
    QVERIFY(mHarness.cachedItems().isEmpty());
    QVERIFY(mHarness.feed().start());
}

void TestEventFeedClient::timestampIsTheLocalTime_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("created");
    QTest::newRow("summer time") << QByteArray("Europe/Helsinki") << "Sun Jul 05 21:40:12 +0000 2026";
    QTest::newRow("an hour before the change") << QByteArray("Europe/Helsinki") << "Sun Mar 29 00:30:00 +0000 2026";
    QTest::newRow("half an hour, winter") << QByteArray("America/St_Johns") << "Sun Dec 06 05:40:12 +0530 2026";
    QTest::newRow("before 1970") << QByteArray("Europe/Helsinki") << "Sat Jul 05 21:40:12 +0000 1969";
}

// The item's time is read apart from QDateTime's local time, and must say the same.
void TestEventFeedClient::timestampIsTheLocalTime()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, created);
    const QByteArray zoneBefore = qgetenv("TZ");
    qputenv("TZ", zone);
    EventFeed::readTimeZone();
    QVariantMap tweet = plainTweet(QStringLiteral("1010"));
    tweet.insert(QStringLiteral("created_at"), created);
    const QString timestamp = EventFeed::homeViewItem(tweet, QString(), {}).value(QStringLiteral("timestamp")).toString();
    const QString expected = Tw::Twitter::convertDateTime(created, false).toString(Qt::ISODate);
    zoneBefore.isNull() ? qunsetenv("TZ") : qputenv("TZ", zoneBefore);
    EventFeed::readTimeZone();
    QVERIFY(!expected.isEmpty());
    QCOMPARE(timestamp, expected);
}

QTEST_GUILESS_MAIN(TestEventFeedClient)
#include "tst_eventfeedclient.moc"
