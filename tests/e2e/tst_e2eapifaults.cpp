// SPDX-License-Identifier: BSD-3-Clause
// The service misbehaving under the running daemon: server errors, answers
// that are not JSON and slow answers. The daemon must survive each, let go of the failed
// request so that the next refresh asks again, never retry on its own, and publish the
// tweet it missed exactly once when the service is back. Texts and names with markup in
// them, as a hostile service would send, must stay text.

#include "FeedItems.h"
#include "Fixtures.h"
#include "SessionTestCase.h"

#include <QDateTime>
#include <QDBusInterface>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QSet>
#include <QTest>

namespace {

const QString HomeTimeline = QStringLiteral("statuses/home_timeline.json");
const QString HomeTimelinePath = QStringLiteral("/1.1/statuses/home_timeline.json");

}

class TestE2eApiFaults : public SessionTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void failedTimelineIsAskedForAgainAtTheNextRefresh_data();
    void failedTimelineIsAskedForAgainAtTheNextRefresh();
    void slowTimelineKeepsTheDaemonAnswering();
    void everyEndpointFailingCausesNoRequestStorm();
    void markupFromTheServiceStaysText();

private:
    // Logged in, with the fixtures' 20 tweets in the feed; the timeline requests so far.
    int startWithAFullFeed();
    bool addFault(const QJsonObject &fault);
    void verifyFeedHoldsEachTweetOnce(const QString &id);
};

int TestE2eApiFaults::startWithAFullFeed()
{
    PlatformSession &session = *mSession;
    if (!session.startDaemon() || !session.waitForLogin() || !session.refresh()
        || !QTest::qWaitFor([&] { return session.feed().items().size() == 20; }, 15000))
        return -1;
    return session.server().requestCount(HomeTimelinePath);
}

bool TestE2eApiFaults::addFault(const QJsonObject &fault)
{
    return mSession->server().post(QStringLiteral("faults"), fault);
}

void TestE2eApiFaults::verifyFeedHoldsEachTweetOnce(const QString &id)
{
    const QStringList ids = mSession->itemTweetIds();
    QCOMPARE(ids.size(), 20);
    QCOMPARE(QSet<QString>(ids.cbegin(), ids.cend()).size(), ids.size());
    QCOMPARE(ids.count(id), 1);
}

void TestE2eApiFaults::failedTimelineIsAskedForAgainAtTheNextRefresh_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::newRow("500") << QJsonObject{{QStringLiteral("target"), HomeTimeline}, {QStringLiteral("status"), 500}};
    QTest::newRow("503") << QJsonObject{{QStringLiteral("target"), HomeTimeline}, {QStringLiteral("status"), 503}};
    QTest::newRow("not JSON") << QJsonObject{{QStringLiteral("target"), HomeTimeline}, {QStringLiteral("malformed"), true}};
}

void TestE2eApiFaults::failedTimelineIsAskedForAgainAtTheNextRefresh()
{
    QFETCH(QJsonObject, fault);
    PlatformSession &session = *mSession;
    const int before = startWithAFullFeed();
    QVERIFY(before > 0);

    const QString id = session.postTweet(QStringLiteral("Posted while the service fails"));
    QVERIFY(addFault(fault));
    QVERIFY(session.refresh());
    QVERIFY(!session.itemTweetIds().contains(id));
    // No login is forced for a failure that is not about the credentials.
    QCOMPARE(session.logins(), 1);

    QVERIFY(session.refresh());
    QTRY_VERIFY_WITH_TIMEOUT(session.itemTweetIds().contains(id), 15000);
    verifyFeedHoldsEachTweetOnce(id);
    // One request for the failed refresh, one for the next: no retry in between.
    QCOMPARE(session.server().requestCount(HomeTimelinePath), before + 2);
}

void TestE2eApiFaults::slowTimelineKeepsTheDaemonAnswering()
{
    PlatformSession &session = *mSession;
    const int before = startWithAFullFeed();
    QVERIFY(before > 0);

    const QString id = session.postTweet(QStringLiteral("Posted on a slow day"));
    QVERIFY(addFault({{QStringLiteral("target"), HomeTimeline}, {QStringLiteral("delay_ms"), 4000}}));
    session.feed().control().requestRefresh().waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(session.server().requestCount(HomeTimelinePath), before + 1, 10000);

    // While the answer is on its way the daemon's own service answers at once.
    QDBusInterface daemon(QStringLiteral("com.halvex.twitterostra"), QStringLiteral("/twitterostra"),
                          QStringLiteral("com.halvex.twitterostra"), session.bus().connection());
    QElapsedTimer answered;
    answered.start();
    QVERIFY(daemon.call(QStringLiteral("clearMentionNotifications")).type() == QDBusMessage::ReplyMessage);
    QVERIFY2(answered.elapsed() < 2000, qPrintable(QString::number(answered.elapsed())));
    QVERIFY(!session.itemTweetIds().contains(id));

    QTRY_VERIFY_WITH_TIMEOUT(session.itemTweetIds().contains(id), 15000);
    verifyFeedHoldsEachTweetOnce(id);
    QCOMPARE(session.server().requestCount(HomeTimelinePath), before + 1);
}

void TestE2eApiFaults::everyEndpointFailingCausesNoRequestStorm()
{
    PlatformSession &session = *mSession;
    QVERIFY(startWithAFullFeed() > 0);
    QVERIFY(session.server().post(QStringLiteral("requests/clear")));

    const QString id = session.postTweet(QStringLiteral("Posted during the outage"));
    QVERIFY(addFault({{QStringLiteral("target"), QStringLiteral("*")}, {QStringLiteral("status"), 500},
                      {QStringLiteral("times"), 0}}));
    for (int refresh = 0; refresh < 3; ++refresh)
        QVERIFY(session.refresh());
    // Each refresh polls the timeline, the mentions and the messages once; nothing more
    // goes out of the daemon's own accord.
    for (const QString &endpoint : {HomeTimeline, QStringLiteral("statuses/mentions_timeline.json"),
                                    QStringLiteral("direct_messages.json")})
        QCOMPARE(session.server().requestCount(QStringLiteral("/1.1/") + endpoint), 3);
    int apiRequests = 0;
    for (const QJsonValue &request : session.server().requests())
        apiRequests += request[QStringLiteral("path")].toString().startsWith(QLatin1String("/1.1/")) ? 1 : 0;
    QCOMPARE(apiRequests, 9);
    QCOMPARE(session.logins(), 1);

    QVERIFY(session.server().post(QStringLiteral("faults/clear")));
    QVERIFY(session.refresh());
    QTRY_VERIFY_WITH_TIMEOUT(session.itemTweetIds().contains(id), 15000);
    verifyFeedHoldsEachTweetOnce(id);
}

void TestE2eApiFaults::markupFromTheServiceStaysText()
{
    PlatformSession &session = *mSession;
    QVERIFY(startWithAFullFeed() > 0);
    // The fixtures' well-formed items are as the service wrote them, entities included.
    QMap<QString, QVariantMap> tweets;
    for (const QVariant &tweet : Fixtures::homeTimeline().mid(0, 20))
        tweets.insert(FeedItems::shownId(tweet.toMap()), tweet.toMap());
    const auto name = [](const QVariantMap &tweet) { return tweet[QStringLiteral("user")].toMap()[QStringLiteral("name")].toString(); };
    for (const QJsonValue &entry : session.feed().items()) {
        const QVariantMap tweet = tweets.value(FeedItems::actionId(entry));
        const QVariantMap shown = tweet.value(QStringLiteral("retweeted_status"), tweet).toMap();
        const QJsonObject item = entry[QStringLiteral("item")].toObject();
        QCOMPARE(item[QStringLiteral("body")].toString(), shown[QStringLiteral("text")].toString().simplified());
        QCOMPARE(item[QStringLiteral("title")].toString(), name(shown));
        QCOMPARE(item[QStringLiteral("footer")].toString(), tweet.contains(QStringLiteral("retweeted_status"))
                                                                ? QStringLiteral("Retweeted by ") + name(tweet) : QString());
    }

    const QString text = QStringLiteral("<script>alert(1)</script> <img src=x onerror=alert(1)> & \"q\" &amp; &#60; &nbsp;");
    const QString escaped = QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt; &lt;img src=x onerror=alert(1)&gt; &amp; "
                                           "&quot;q&quot; &amp; &#60; &amp;nbsp;");
    const QJsonObject author{{QStringLiteral("screen_name"), QStringLiteral("mallory")},
                             {QStringLiteral("name"), QStringLiteral("<b onclick=x>Mallory</b>")}};
    const QString authorName = QStringLiteral("&lt;b onclick=x&gt;Mallory&lt;/b&gt;");
    // The link to a picture page leads to a script: no link, so no picture either.
    QJsonObject tweet = author;
    tweet.insert(QStringLiteral("text"), text);
    tweet.insert(QStringLiteral("link"), QStringLiteral("http://twitpic.com/hostile"));
    tweet.insert(QStringLiteral("link_url"), QStringLiteral("javascript:alert(1)"));
    QVERIFY(session.server().post(QStringLiteral("tweets"), tweet));
    const QString id = session.server().lastAnswer().value(QStringLiteral("id_str")).toString();
    QJsonObject said = author;
    said.insert(QStringLiteral("text"), text);
    QVERIFY(session.server().post(QStringLiteral("mentions"), said));
    QVERIFY(session.server().post(QStringLiteral("messages"), said));
    QVERIFY(session.refresh());
    QTRY_VERIFY_WITH_TIMEOUT(session.itemTweetIds().contains(id), 15000);
    const QJsonObject item = session.feed().items().at(session.itemTweetIds().indexOf(id))[QStringLiteral("item")].toObject();
    QCOMPARE(item[QStringLiteral("body")].toString(), escaped + QStringLiteral(" javascript:alert(1)"));
    QCOMPARE(item[QStringLiteral("title")].toString(), authorName);
    QVERIFY(!item.contains(QStringLiteral("imageList")));
    for (const QString &type : {QStringLiteral("mentions.service.twitter"), QStringLiteral("messages.service.twitter")}) {
        QTRY_COMPARE_WITH_TIMEOUT(session.group(type)[QStringLiteral("count")].toInt(), 1, 15000);
        QCOMPARE(session.group(type)[QStringLiteral("body")].toString(), escaped);
        QCOMPARE(session.group(type)[QStringLiteral("summary")].toString(), authorName);
    }

    // The names read back from the shown group are not escaped twice.
    QVERIFY(session.server().post(QStringLiteral("mentions"), {{QStringLiteral("screen_name"), QStringLiteral("trudy")},
                                                               {QStringLiteral("name"), QStringLiteral("Trudy & <i>Co</i>")},
                                                               {QStringLiteral("text"), QStringLiteral("again")}}));
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("count")].toInt(), 2, 15000);
    QCOMPARE(session.mentionsGroup()[QStringLiteral("summary")].toString(),
             authorName + QStringLiteral(", Trudy &amp; &lt;i&gt;Co&lt;/i&gt;"));
}

QTEST_GUILESS_MAIN(TestE2eApiFaults)
#include "tst_e2eapifaults.moc"
