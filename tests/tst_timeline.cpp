// SPDX-License-Identifier: BSD-3-Clause
// The home timeline on its way to the reference feed, with the client double answering:
// items, retweets, the 20-tweet limit and stale removal, shared avatar requests,
// thumbnails from real image files, failed requests and the friends' avatar prefetch.

#include "DaemonHarness.h"
#include "FeedItem.h"
#include "FeedItems.h"
#include "TweetMarkup.h"
#include "Fixtures.h"
#include "TwitterDouble.h"
#include "eventfeedinterface.h"

#include <QDataStream>
#include <QImage>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString DefaultAvatar = QStringLiteral("/usr/share/twitter/default-avatar.png");

QString cachedAvatar(const QString &screenName)
{
    return QStringLiteral("/avatars/") + screenName + QStringLiteral(".png");
}

QVariantMap tweetBy(const QString &id, const QString &screenName, const QString &text = QStringLiteral("hello"))
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("text"), text},
            {QStringLiteral("created_at"), QStringLiteral("Sun Dec 06 05:40:12 +0000 2026")},
            {QStringLiteral("user"), QVariantMap{{QStringLiteral("name"), screenName.toUpper()},
                                                 {QStringLiteral("screen_name"), screenName},
                                                 {QStringLiteral("profile_image_url"),
                                                  QString(QStringLiteral("http://pbs.example/") + screenName + QStringLiteral("_normal.png"))}}}};
}

QVariantMap withMedia(QVariantMap tweet, const QStringList &mediaIds)
{
    QVariantList media;
    for (const QString &id : mediaIds)
        media.append(QVariantMap{{QStringLiteral("id"), id},
                                 {QStringLiteral("media_url"), QString(QStringLiteral("http://pbs.example/media/") + id + QStringLiteral(".jpg"))}});
    tweet.insert(QStringLiteral("entities"), QVariantMap{{QStringLiteral("media"), media}});
    return tweet;
}

QVariantMap urlEntity(const QString &url, const QString &expanded, int start)
{
    return {{QStringLiteral("url"), url}, {QStringLiteral("expanded_url"), expanded},
            {QStringLiteral("indices"), QVariantList{start, start + url.size()}}};
}

}

class TestTimeline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void oneTweetBecomesACompleteItem();
    void retweetNamesBothAuthors();
    void timestampsFollowAZoneChangedBetweenRefreshes();
    void atMostTwentyArePublishedAndVanishedOnesWithdrawn();
    void cachePathPublishesWithoutNetwork();
    void authorsShareOneAvatarRequest();
    void failedAvatarPublishesWithTheDefault();
    void refusedAddressesAreNotWaitedFor();
    void photoAttachmentAsksForItsThumbnail();
    void thumbnailsArriveInTheirOwnOrder();
    void immediateThumbnailTakesLocalIdMinusTwo();
    void failedThumbnailLeavesAnEmptyEntry();
    void pictureLinksAreFoundInTheText();
    void hostileEntityPositionsAreSkipped();
    void markupKeepsOnlyTheServiceEntities_data();
    void markupKeepsOnlyTheServiceEntities();
    void namesAreEscapedInTitleAndFooter();
    void imageExtensionFollowsTheContent();
    void friendAvatarsArePrefetchedAcrossPages();
    void sixthTickCleansTheClientCache();
    void hungFeedHoldsTheRestForTheNextRefresh();

private:
    Tw::Twitter *client() { return TwitterDouble::latestClient(); }
    void refreshWith(const QVariantList &tweets);
    QJsonArray items() { return mHarness.feed().items(); }
    QJsonObject item(int index) { return items().at(index)[QStringLiteral("item")].toObject(); }
    QList<TwitterDouble::Request> networkAvatarRequests();
    QString writeImage(const QString &name, const char *format);

    DaemonHarness mHarness;
    QTemporaryDir mImages;
};

void TestTimeline::initTestCase()
{
    QVERIFY(mHarness.start());
    QVERIFY(mImages.isValid());
}

void TestTimeline::init()
{
    TwitterDouble::reset();
    // Avatars are in the client's cache, thumbnails held already; tests change that.
    TwitterDouble::setResponder(TwitterDouble::User, UserType::Avatar, [](const TwitterDouble::Request &request) {
        TwitterDouble::Answer answer;
        if (request.behavior == Tw::Twitter::RETRIEVE_FROM_CACHE)
            answer.cached = {cachedAvatar(request.args.value(QStringLiteral("screen_name")))};
        return answer;
    });
    TwitterDouble::Answer held;
    held.cachedFile = writeImage(QStringLiteral("held.png"), "PNG");
    TwitterDouble::setDefault(TwitterDouble::TinyUrlImage, 0, held);

    QVERIFY(mHarness.restartDaemon());
    mHarness.clearCache();
    mHarness.feed().control().reset().waitForFinished();
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
}

QString TestTimeline::writeImage(const QString &name, const char *format)
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = mImages.filePath(name);
    image.save(path, format);
    return path;
}

// A feed refresh whose home timeline answer is these tweets; returns once it is handled.
void TestTimeline::refreshWith(const QVariantList &tweets)
{
    TwitterDouble::enqueue(TwitterDouble::Timeline, TimelineType::HomeTimeline, TwitterDouble::later(tweets));
    QSignalSpy answered(client(), &Tw::Twitter::timelineUpdated);
    mHarness.feed().control().requestRefresh().waitForFinished();
    QVERIFY(answered.wait());
}

QList<TwitterDouble::Request> TestTimeline::networkAvatarRequests()
{
    return TwitterDouble::networkRequests(TwitterDouble::User, UserType::Avatar);
}

void TestTimeline::oneTweetBecomesACompleteItem()
{
    const QVariantMap tweet = Fixtures::homeTimeline().at(3).toMap();
    refreshWith({tweet});

    QCOMPARE(items().size(), 1);
    const QJsonObject posted = item(0);
    QCOMPARE(posted[QStringLiteral("icon")].toString(), cachedAvatar(QStringLiteral("bob")));
    QCOMPARE(posted[QStringLiteral("sourceName")].toString(), QStringLiteral("Twitter"));
    QCOMPARE(posted[QStringLiteral("sourceDisplayName")].toString(), QStringLiteral("Twitter"));
    QCOMPARE(posted[QStringLiteral("title")].toString(), QString::fromUtf8("Bob Örn"));
    QCOMPARE(posted[QStringLiteral("body")].toString(), tweet.value(QStringLiteral("text")).toString().simplified());
    QCOMPARE(posted[QStringLiteral("timestamp")].toString(),
             Tw::Twitter::convertDateTime(tweet.value(QStringLiteral("created_at")).toString(), false).toString(Qt::ISODate));
    QVERIFY(!posted.contains(QStringLiteral("footer")));
    QVERIFY(!posted.contains(QStringLiteral("imageList")));
    const QString action = posted[QStringLiteral("action")].toString();
    QVERIFY(action.startsWith(QStringLiteral("com.halvex.twitter.eventfeed /EventFeedMessage com.halvex.twitter.eventfeed showItem ")));
    QCOMPARE(FeedItems::actionArgument(action), tweet.value(QStringLiteral("id")));

    const qint64 feedId = items().at(0)[QStringLiteral("id")].toVariant().toLongLong();
    QCOMPARE(mHarness.cachedItems(), (QMap<QString, qint64>{{QStringLiteral("1335092000000000007"), feedId}}));
    const TwitterDouble::Request lookup = TwitterDouble::requests(TwitterDouble::User, UserType::Avatar).first();
    QCOMPARE(lookup.args, (QMap<QString, QString>{
                              {QStringLiteral("screen_name"), QStringLiteral("bob")},
                              // The service's https address, where it gives one.
                              {QStringLiteral("url"), QStringLiteral("https://pbs.twimg.com/profile_images/94945/bob_bigger.jpg")},
                              {QStringLiteral("size"), QStringLiteral("bigger")}}));
}

void TestTimeline::retweetNamesBothAuthors()
{
    const QVariantMap retweet = Fixtures::homeTimeline().at(2).toMap();
    const QVariantMap original = retweet.value(QStringLiteral("retweeted_status")).toMap();
    const QVariantMap originalAuthor = original.value(QStringLiteral("user")).toMap();
    refreshWith({retweet});

    const QJsonObject posted = item(0);
    QCOMPARE(posted[QStringLiteral("title")].toString(), originalAuthor.value(QStringLiteral("name")).toString());
    QCOMPARE(posted[QStringLiteral("body")].toString(), original.value(QStringLiteral("text")).toString().simplified());
    QCOMPARE(posted[QStringLiteral("footer")].toString(), QStringLiteral("Retweeted by Carol W"));
    QCOMPARE(posted[QStringLiteral("icon")].toString(), cachedAvatar(originalAuthor.value(QStringLiteral("screen_name")).toString()));
    QCOMPARE(FeedItems::actionArgument(posted[QStringLiteral("action")].toString()), original.value(QStringLiteral("id")));
    QVERIFY(mHarness.cachedItems().contains(retweet.value(QStringLiteral("id")).toString()));
}

// The zone is read once per refresh: a change shows from the next refresh's items on.
void TestTimeline::timestampsFollowAZoneChangedBetweenRefreshes()
{
    const QByteArray zoneBefore = qgetenv("TZ");
    qputenv("TZ", "UTC0");
    refreshWith({tweetBy(QStringLiteral("1335092000000000101"), QStringLiteral("alice"))});
    qputenv("TZ", "JST-9");
    refreshWith({tweetBy(QStringLiteral("1335092000000000102"), QStringLiteral("alice")),
                 tweetBy(QStringLiteral("1335092000000000101"), QStringLiteral("alice"))});
    zoneBefore.isNull() ? qunsetenv("TZ") : qputenv("TZ", zoneBefore);
    EventFeed::readTimeZone();

    QCOMPARE(items().size(), 2);
    QCOMPARE(item(0)[QStringLiteral("timestamp")].toString(), QStringLiteral("2026-12-06T05:40:12"));
    QCOMPARE(item(1)[QStringLiteral("timestamp")].toString(), QStringLiteral("2026-12-06T14:40:12"));
}

void TestTimeline::atMostTwentyArePublishedAndVanishedOnesWithdrawn()
{
    const QVariantList timeline = Fixtures::homeTimeline();
    QCOMPARE(timeline.size(), 25);
    // One cached tweet the service no longer lists, one beyond the first 20 that it does.
    mHarness.daemon().addTweetToDb({{QStringLiteral("id"), QStringLiteral("1335099999999999999")}}, 77);
    const QString listedBeyondTwenty = timeline.at(22).toMap().value(QStringLiteral("id")).toString();
    mHarness.daemon().addTweetToDb({{QStringLiteral("id"), listedBeyondTwenty}}, 88);

    refreshWith(timeline);
    QCOMPARE(items().size(), 20);
    QMap<QString, qint64> rows = mHarness.cachedItems();
    QCOMPARE(rows.size(), 21);
    QVERIFY(!rows.contains(QStringLiteral("1335099999999999999")));
    QCOMPARE(rows.value(listedBeyondTwenty), 88);
    for (int i = 0; i < 20; ++i)
        QVERIFY(rows.contains(timeline.at(i).toMap().value(QStringLiteral("id")).toString()));
    QList<QVariant> removed;
    for (const QJsonValue &call : mHarness.feed().calls()) {
        if (call[QStringLiteral("method")] == QLatin1String("removeItem"))
            removed.append(call[QStringLiteral("arguments")][0].toVariant());
    }
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.first().toLongLong(), 77);

    // Nothing is posted twice.
    refreshWith(timeline);
    QCOMPARE(items().size(), 20);
}

void TestTimeline::cachePathPublishesWithoutNetwork()
{
    TwitterDouble::Answer cached;
    cached.cached = {Fixtures::homeTimeline().at(4)};
    TwitterDouble::enqueue(TwitterDouble::Timeline, TimelineType::HomeTimeline, cached);
    // Calls while the republish waits fold into it.
    for (int i = 0; i < 1000; ++i)
        QMetaObject::invokeMethod(&mHarness.daemon(), "refreshEventFeed");
    QTRY_COMPARE(items().size(), 1);
    const QList<TwitterDouble::Request> home = TwitterDouble::requests(TwitterDouble::Timeline, TimelineType::HomeTimeline);
    QCOMPARE(home.size(), 1);
    QCOMPARE(home.first().behavior, int(Tw::Twitter::RETRIEVE_FROM_CACHE));

    // While a refresh's timeline is on its way, a republish leaves it to that refresh.
    TwitterDouble::setDefault(TwitterDouble::Timeline, TimelineType::HomeTimeline, TwitterDouble::Answer());
    mHarness.feed().control().requestRefresh().waitForFinished();
    QTRY_COMPARE(TwitterDouble::networkRequests(TwitterDouble::Timeline, TimelineType::HomeTimeline).size(), 1);
    QMetaObject::invokeMethod(&mHarness.daemon(), "refreshEventFeed");
    QCoreApplication::processEvents();
    emit client()->timelineUpdated(TimelineType::HomeTimeline, {Fixtures::homeTimeline().at(4), Fixtures::homeTimeline().at(3)},
                                   TwitterDouble::networkRequests(TwitterDouble::Timeline, TimelineType::HomeTimeline).first().queryId);
    QTRY_COMPARE(items().size(), 2);
}

void TestTimeline::authorsShareOneAvatarRequest()
{
    TwitterDouble::setResponder(TwitterDouble::User, UserType::Avatar, [](const TwitterDouble::Request &request) {
        TwitterDouble::Answer answer;
        const QString name = request.args.value(QStringLiteral("screen_name"));
        if (request.behavior == Tw::Twitter::RETRIEVE_FROM_CACHE)
            answer.cached = {name.toLower() == QLatin1String("bob") ? QString() : cachedAvatar(name)};
        return answer;
    });
    const QVariantList timeline = {tweetBy(QStringLiteral("104"), QStringLiteral("bob")), tweetBy(QStringLiteral("103"), QStringLiteral("carol")),
                                   tweetBy(QStringLiteral("102"), QStringLiteral("Bob")), tweetBy(QStringLiteral("101"), QStringLiteral("bob"))};
    refreshWith(timeline);
    QCOMPARE(items().size(), 1); // carol's, whose avatar was cached
    const QList<TwitterDouble::Request> requests = networkAvatarRequests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().args.value(QStringLiteral("screen_name")), QStringLiteral("bob"));

    // A refresh while the avatar is on its way: each waiting tweet still waits once.
    refreshWith(timeline);
    emit client()->userUpdated(UserType::Avatar, {QStringLiteral("/net/bob.png")}, requests.first().queryId);
    // Both of bob's, in order, each posted once; "Bob" differs in letter case and keeps waiting.
    QCOMPARE(mHarness.feed().calls().size(), 3);
    QCOMPARE(items().size(), 3);
    QCOMPARE(item(1)[QStringLiteral("icon")].toString(), QStringLiteral("/net/bob.png"));
    QCOMPARE(FeedItems::actionArgument(item(1)[QStringLiteral("action")].toString()).toString(), QStringLiteral("104"));
    QCOMPARE(FeedItems::actionArgument(item(2)[QStringLiteral("action")].toString()).toString(), QStringLiteral("101"));
    QVERIFY(!mHarness.cachedItems().contains(QStringLiteral("102")));
}

void TestTimeline::failedAvatarPublishesWithTheDefault()
{
    TwitterDouble::setResponder(TwitterDouble::User, UserType::Avatar, [](const TwitterDouble::Request &request) {
        TwitterDouble::Answer answer;
        if (request.behavior == Tw::Twitter::RETRIEVE_FROM_CACHE) {
            answer.cached = {QString()};
        } else {
            answer.later = TwitterDouble::Answer::NetworkError;
            answer.laterError = {{QStringLiteral("error"), QStringLiteral("Not found")}};
        }
        return answer;
    });
    const QVariantMap retweet = Fixtures::homeTimeline().at(2).toMap();
    QSignalSpy failed(client(), &Tw::Twitter::networkRequestError);
    refreshWith({tweetBy(QStringLiteral("201"), QStringLiteral("dave")), retweet, tweetBy(QStringLiteral("200"), QStringLiteral("dave"))});
    QTRY_COMPARE(failed.count(), 2);
    QCOMPARE(items().size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(item(i)[QStringLiteral("icon")].toString(), DefaultAvatar);
    QCOMPARE(mHarness.cachedItems().size(), 3);
    // The retweet's avatar was asked for its original author, not the retweeter.
    QVERIFY(networkAvatarRequests().last().args.value(QStringLiteral("screen_name")) != QLatin1String("carol_w"));
}

// Avatar and picture addresses the client refuses (none, not http): nothing will answer,
// and the tweets go out at once, with the default avatar and without the picture.
void TestTimeline::refusedAddressesAreNotWaitedFor()
{
    TwitterDouble::setResponder(TwitterDouble::User, UserType::Avatar, [](const TwitterDouble::Request &) {
        TwitterDouble::Answer miss;
        miss.cached = {QString()};
        return miss;
    });
    QVariantList tweets;
    for (const QString &address : {QString(), QStringLiteral("ftp://pbs.example/erin.png"), QString()}) {
        QVariantMap tweet = tweetBy(QString::number(303 - tweets.size()), QStringLiteral("erin"));
        QVariantMap user = tweet.value(QStringLiteral("user")).toMap();
        user.insert(QStringLiteral("profile_image_url"), address);
        tweet.insert(QStringLiteral("user"), user);
        tweets.append(tweet);
    }
    QVariantMap withFtpMedia = tweets.at(2).toMap();
    withFtpMedia.insert(QStringLiteral("entities"), QVariantMap{{QStringLiteral("media"), QVariantList{QVariantMap{
        {QStringLiteral("id"), QStringLiteral("7")}, {QStringLiteral("media_url"), QStringLiteral("ftp://pbs.example/7.jpg")}}}}});
    tweets[2] = withFtpMedia;
    // One without an id is left out, not posted and withdrawn at every refresh.
    QVariantMap idless = tweets.at(0).toMap();
    idless.remove(QStringLiteral("id"));
    tweets.append(idless);
    refreshWith(tweets);
    QTRY_COMPARE(items().size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(item(i)[QStringLiteral("icon")].toString(), DefaultAvatar);
    QCOMPARE(mHarness.cachedItems().size(), 3);
    QCOMPARE(mHarness.feed().calls().size(), 3);
}

void TestTimeline::photoAttachmentAsksForItsThumbnail()
{
    const QVariantMap tweet = Fixtures::homeTimeline().at(0).toMap();
    refreshWith({tweet});
    const QList<TwitterDouble::Request> thumbnails = TwitterDouble::requests(TwitterDouble::TinyUrlImage, 0);
    QCOMPARE(thumbnails.size(), 1);
    const QVariantMap media = tweet.value(QStringLiteral("entities")).toMap().value(QStringLiteral("media")).toList().first().toMap();
    QCOMPARE(thumbnails.first().args, (QMap<QString, QString>{
                                          {QStringLiteral("direct_url"), QStringLiteral("1")},
                                          {QStringLiteral("image_id"), media.value(QStringLiteral("id")).toString()},
                                          {QStringLiteral("image_url"), QStringLiteral("https://pbs.twimg.com/media/EoQ1sunsetAAA.jpg:thumb")},
                                          {QStringLiteral("as_thumb"), QStringLiteral("1")}}));
    QCOMPARE(item(0)[QStringLiteral("imageList")].toVariant().toStringList(),
             QStringList({mImages.filePath(QStringLiteral("held.png")), QString(), QString()}));
}

void TestTimeline::thumbnailsArriveInTheirOwnOrder()
{
    TwitterDouble::setDefault(TwitterDouble::TinyUrlImage, 0, TwitterDouble::Answer());
    refreshWith({withMedia(tweetBy(QStringLiteral("300"), QStringLiteral("erin")), {QStringLiteral("1"), QStringLiteral("2")})});
    // Found again while its thumbnails are on their way, the tweet waits once.
    refreshWith({withMedia(tweetBy(QStringLiteral("300"), QStringLiteral("erin")), {QStringLiteral("1"), QStringLiteral("2")})});
    QVERIFY(items().isEmpty());
    const QList<TwitterDouble::Request> thumbnails = TwitterDouble::requests(TwitterDouble::TinyUrlImage, 0);
    QCOMPARE(thumbnails.size(), 2);
    // The first without an extension: the feed is given a copy named by its content.
    const QString first = writeImage(QStringLiteral("first"), "PNG");
    const QString second = writeImage(QStringLiteral("second.png"), "PNG");
    emit client()->tinyUrlImageLoaded(second, thumbnails.at(1).queryId);
    QVERIFY(items().isEmpty());
    emit client()->tinyUrlImageLoaded(first, thumbnails.at(0).queryId);
    QCOMPARE(items().size(), 1);
    QCOMPARE(item(0)[QStringLiteral("imageList")].toVariant().toStringList(),
             QStringList({second, first + QStringLiteral(".png"), QString()}));
    QVERIFY(mHarness.cachedItems().contains(QStringLiteral("300")));
}

void TestTimeline::immediateThumbnailTakesLocalIdMinusTwo()
{
    TwitterDouble::Answer held;
    held.cachedFile = writeImage(QStringLiteral("held2.png"), "PNG");
    TwitterDouble::enqueue(TwitterDouble::TinyUrlImage, 0, held);
    TwitterDouble::enqueue(TwitterDouble::TinyUrlImage, 0, TwitterDouble::Answer());
    refreshWith({withMedia(tweetBy(QStringLiteral("301"), QStringLiteral("erin")), {QStringLiteral("1"), QStringLiteral("2")})});
    QVERIFY(items().isEmpty());
    // The answer given at once was filed under -2: a failure reported for -2 completes the item.
    QMetaObject::invokeMethod(&mHarness.daemon(), "onNetworkRequestError", Q_ARG(int, -2), Q_ARG(QVariantMap, QVariantMap()));
    QCOMPARE(items().size(), 1);
    QCOMPARE(item(0)[QStringLiteral("imageList")].toVariant().toStringList(), QStringList({held.cachedFile, QString(), QString()}));
}

void TestTimeline::failedThumbnailLeavesAnEmptyEntry()
{
    TwitterDouble::setDefault(TwitterDouble::TinyUrlImage, 0, TwitterDouble::Answer());
    refreshWith({withMedia(tweetBy(QStringLiteral("302"), QStringLiteral("erin")), {QStringLiteral("1"), QStringLiteral("2")})});
    const QList<TwitterDouble::Request> thumbnails = TwitterDouble::requests(TwitterDouble::TinyUrlImage, 0);
    emit client()->networkRequestError(thumbnails.at(0).queryId, {{QStringLiteral("error"), QStringLiteral("Gone")}});
    QVERIFY(items().isEmpty());
    const QString arrived = writeImage(QStringLiteral("arrived.png"), "PNG");
    emit client()->tinyUrlImageLoaded(arrived, thumbnails.at(1).queryId);
    QCOMPARE(items().size(), 1);
    QCOMPARE(item(0)[QStringLiteral("imageList")].toVariant().toStringList(), QStringList({QString(), arrived, QString()}));
}

void TestTimeline::pictureLinksAreFoundInTheText()
{
    // Three links replaced from the last to the first: each anchor sits where its short
    // URL stood, so each picture is found once, in text order; a bare host name of a
    // picture site is asked for over http; a plain article is no picture.
    const QString text = QStringLiteral("a http://t.co/1 b http://t.co/2 c http://t.co/3 d http://t.co/4 e http://t.co/5");
    QVariantMap tweet = tweetBy(QStringLiteral("400"), QStringLiteral("erin"), text);
    tweet.insert(QStringLiteral("entities"), QVariantMap{{QStringLiteral("urls"), QVariantList{
        urlEntity(QStringLiteral("http://t.co/1"), QStringLiteral("http://example.org/one.jpg"), 2),
        urlEntity(QStringLiteral("http://t.co/2"), QStringLiteral("twitpic.com/abc123"), 18),
        urlEntity(QStringLiteral("http://t.co/3"), QStringLiteral("http://example.org/article"), 34),
        urlEntity(QStringLiteral("http://t.co/4"), QStringLiteral("http://example.org/one.jpg"), 50),
        urlEntity(QStringLiteral("http://t.co/5"), QStringLiteral("www.yfrog.com/xyz"), 66)}}});
    QVERIFY(mHarness.daemon().processTweetImages(tweet, QString()));
    QStringList requested;
    for (const TwitterDouble::Request &request : TwitterDouble::requests(TwitterDouble::TinyUrlImage, 0))
        requested.append(request.args.value(QStringLiteral("image_url")));
    QCOMPARE(requested, QStringList({QStringLiteral("http://example.org/one.jpg"), QStringLiteral("http://twitpic.com/abc123"),
                                     QStringLiteral("http://www.yfrog.com/xyz")}));

    QVERIFY(!mHarness.daemon().processTweetImages(tweetBy(QStringLiteral("401"), QStringLiteral("erin")), QString()));
}

void TestTimeline::hostileEntityPositionsAreSkipped()
{
    const QString text = QStringLiteral("see http://t.co/ok now");
    QVariantMap tweet = tweetBy(QStringLiteral("500"), QStringLiteral("erin"), text);
    tweet.insert(QStringLiteral("entities"), QVariantMap{{QStringLiteral("urls"), QVariantList{
        urlEntity(QStringLiteral("http://t.co/ok"), QStringLiteral("http://example.org/fine.png"), 4),
        urlEntity(QStringLiteral("http://t.co/far"), QStringLiteral("http://example.org/far.png"), 5000),
        urlEntity(QStringLiteral("http://t.co/neg"), QStringLiteral("http://example.org/neg.png"), -30),
        urlEntity(QStringLiteral("http://t.co/over"), QStringLiteral("http://example.org/over.png"), 10),
        urlEntity(QStringLiteral("http://t.co/a-url-longer-than-what-is-left"), QStringLiteral("http://example.org/long.png"), 19),
        urlEntity(QStringLiteral("x\"><a href=x>http://evil.example/x.png<"), QString(), 0)}}});
    for (int i = 0; i < 5; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("skipping a URL entity")));
    QVERIFY(mHarness.daemon().processTweetImages(tweet, QString()));
    QStringList requested;
    for (const TwitterDouble::Request &request : TwitterDouble::requests(TwitterDouble::TinyUrlImage, 0))
        requested.append(request.args.value(QStringLiteral("image_url")));
    QCOMPARE(requested, QStringList({QStringLiteral("http://example.org/fine.png")}));
}

void TestTimeline::markupKeepsOnlyTheServiceEntities_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariantList>("urls");
    QTest::addColumn<QString>("markup");
    QTest::addColumn<QStringList>("links");
    const QVariantMap fixture = Fixtures::homeTimeline().at(1).toMap();
    QTest::newRow("fixture, as it always was")
        << fixture[QStringLiteral("text")].toString()
        << fixture[QStringLiteral("entities")].toMap()[QStringLiteral("urls")].toList()
        << QStringLiteral("Three links:  <a href=\"https://t.co/aaa111\">http://example.org/article/1</a>\nand "
                          "<a href=\"https://t.co/bbb222\">http://twitpic.com/show/thumb/abc123</a> and "
                          "<a href=\"https://t.co/ccc333\">https://example.com/photo.png</a> ")
        << QStringList{QStringLiteral("http://twitpic.com/show/thumb/abc123")};
    QTest::newRow("tags") << QStringLiteral("<script>alert(1)</script> <img src=x onerror=alert(1)>") << QVariantList()
                          << QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt; &lt;img src=x onerror=alert(1)&gt;")
                          << QStringList();
    QTest::newRow("entities kept") << QStringLiteral("&lt;b&gt; &amp; &quot;&#60;&#x3C;&#X3c;&#1114111;&#x10FFFF;")
                                   << QVariantList()
                                   << QStringLiteral("&lt;b&gt; &amp; &quot;&#60;&#x3C;&#X3c;&#1114111;&#x10FFFF;")
                                   << QStringList();
    QTest::newRow("other ampersands, quotes") << QStringLiteral("& &nbsp; &amp &#; &#x; &#12345678; &#x1234567; &#6O; \"q\" &")
                                              << QVariantList()
                                              << QStringLiteral("&amp; &amp;nbsp; &amp;amp &amp;#; &amp;#x; &amp;#12345678; "
                                                                "&amp;#x1234567; &amp;#6O; &quot;q&quot; &amp;")
                                              << QStringList();
    QTest::newRow("escaped around a link")
        << QStringLiteral("<b>x</b> http://t.co/1 <i>") << QVariantList{urlEntity(QStringLiteral("http://t.co/1"),
                                                                                  QStringLiteral("http://example.org/a.jpg?x=1&y=\"2\""), 9)}
        << QStringLiteral("&lt;b&gt;x&lt;/b&gt; <a href=\"http://t.co/1\">http://example.org/a.jpg?x=1&amp;y=%222%22</a> &lt;i&gt;")
        << QStringList{QStringLiteral("http://example.org/a.jpg?x=1&y=%222%22")};
    // Text that is not valid UTF-16, as the fuzzer sends it: escaped and linked all the same.
    const QString lone(QChar(0xdc6f));
    QTest::newRow("lone surrogates") << QStringLiteral("a") + lone + QStringLiteral(" <b> http://t.c") + lone + QStringLiteral("/1")
                                     << QVariantList{urlEntity(QStringLiteral("http://t.c") + lone + QStringLiteral("/1"), QString(), 7)}
                                     << QStringLiteral("a") + lone + QStringLiteral(" &lt;b&gt; <a href=\"http://t.c") + lone
                                            + QStringLiteral("/1\">http://t.c") + lone + QStringLiteral("/1</a>")
                                     << QStringList();
    // Only web addresses become links; the others stay text, escaped.
    for (const QString &address : {QStringLiteral("javascript:alert(1)"), QStringLiteral("JaVaScRiPt:alert(1)"),
                                   QStringLiteral("data:text/html,<svg/onload=alert(1)>"), QStringLiteral("file:///etc/passwd"),
                                   QStringLiteral("ms-settings:display"), QStringLiteral(" http://t.co/x")}) {
        QTest::newRow(qPrintable(address + QStringLiteral(" as the address")))
            << QStringLiteral("go ") + address << QVariantList{urlEntity(address, QStringLiteral("http://example.org/a.jpg"), 3)}
            << QStringLiteral("go ") + EventFeed::escapedText(address) << QStringList();
        QTest::newRow(qPrintable(address + QStringLiteral(" as the expanded address")))
            << QStringLiteral("go http://t.co/x") << QVariantList{urlEntity(QStringLiteral("http://t.co/x"), address, 3)}
            << (address.startsWith(QLatin1Char(' ')) ? QStringLiteral("go <a href=\"http://t.co/x\"> http://t.co/x</a>")
                                                     : QStringLiteral("go http://t.co/x"))
            << QStringList();
    }
}

void TestTimeline::markupKeepsOnlyTheServiceEntities()
{
    QFETCH(QString, text);
    QFETCH(QVariantList, urls);
    QFETCH(QString, markup);
    QFETCH(QStringList, links);
    QCOMPARE(EventFeed::markUpLinks(text, urls), markup);
    QCOMPARE(EventFeed::extractImageLinks(markup), links);
}

void TestTimeline::namesAreEscapedInTitleAndFooter()
{
    QVariantMap retweet = tweetBy(QStringLiteral("600"), QStringLiteral("<i>rt</i>"), QStringLiteral("RT"));
    retweet.insert(QStringLiteral("retweeted_status"), tweetBy(QStringLiteral("601"), QStringLiteral("\"a\" & <b>"),
                                                               QStringLiteral("<b>hi</b> &amp;  you")));
    const QVariantMap item = EventFeed::homeViewItem(retweet, QString(), {});
    QCOMPARE(item[QStringLiteral("title")].toString(), QStringLiteral("&quot;A&quot; &amp; &lt;B&gt;"));
    QCOMPARE(item[QStringLiteral("body")].toString(), QStringLiteral("&lt;b&gt;hi&lt;/b&gt; &amp; you"));
    QCOMPARE(item[QStringLiteral("footer")].toString(), QStringLiteral("Retweeted by &lt;I&gt;RT&lt;/I&gt;"));
}

void TestTimeline::imageExtensionFollowsTheContent()
{
    TwitterDaemon &daemon = mHarness.daemon();
    QString jpeg = writeImage(QStringLiteral("photo.jpeg"), "JPEG");
    const QString jpegBefore = jpeg;
    daemon.ensureImageExtension(jpeg);
    QCOMPARE(jpeg, jpegBefore);
    QVERIFY(!QFile::exists(jpegBefore + QStringLiteral(".jpg")));

    const QString bare = mImages.filePath(QStringLiteral("thumbnail"));
    QVERIFY(QFile::copy(writeImage(QStringLiteral("source.png"), "PNG"), bare));
    QString png = bare;
    daemon.ensureImageExtension(png);
    QCOMPARE(png, bare + QStringLiteral(".png"));
    QVERIFY(QFile::exists(bare)); // the client's own file stays
    QFile copy(png), original(bare);
    QVERIFY(copy.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), original.readAll());

    const QString gif = mImages.filePath(QStringLiteral("anim.gif"));
    QVERIFY(QFile::copy(bare, gif)); // PNG content behind a .gif name
    QString mislabelled = gif;
    daemon.ensureImageExtension(mislabelled);
    QCOMPARE(mislabelled, gif + QStringLiteral(".png"));

    // Told by its signature: a GIF needs no decoder to be named one.
    const QString bareGif = mImages.filePath(QStringLiteral("animation"));
    QFile gifFile(bareGif);
    QVERIFY(gifFile.open(QIODevice::WriteOnly));
    gifFile.write(QByteArray("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 14));
    gifFile.close();
    QString animation = bareGif;
    daemon.ensureImageExtension(animation);
    QCOMPARE(animation, bareGif + QStringLiteral(".gif"));

    QString missing = mImages.filePath(QStringLiteral("gone"));
    daemon.ensureImageExtension(missing);
    QCOMPARE(missing, mImages.filePath(QStringLiteral("gone")));
    QString nowhere = bare;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Failure while trying to open files")));
    daemon.copyWithExtension(nowhere, QStringLiteral("/no/such/folder.png"));
    QCOMPARE(nowhere, bare);
}

void TestTimeline::friendAvatarsArePrefetchedAcrossPages()
{
    const QVariant page1 = Fixtures::load(QStringLiteral("friends_list_page1.json"));
    const QVariant page2 = Fixtures::load(QStringLiteral("friends_list_page2.json"));
    TwitterDouble::setResponder(TwitterDouble::User, UserType::FriendsList, [&](const TwitterDouble::Request &request) {
        return TwitterDouble::later({request.args.value(QStringLiteral("cursor")) == QLatin1String("-1") ? page1 : page2});
    });
    TwitterDouble::setResponder(TwitterDouble::User, UserType::Avatar, [](const TwitterDouble::Request &request) {
        TwitterDouble::Answer answer;
        const QString name = request.args.value(QStringLiteral("screen_name"));
        if (request.behavior == Tw::Twitter::RETRIEVE_FROM_CACHE)
            answer.cached = {name == QLatin1String("bob") ? cachedAvatar(name) : QString()};
        return answer;
    });
    QTimer *avatarTimer = mHarness.timer(QStringLiteral("avatarTimer"));
    QSignalSpy pages(client(), &Tw::Twitter::userUpdated);
    QMetaObject::invokeMethod(&mHarness.daemon(), "onTimer");
    QTRY_COMPARE(pages.count(), 2);

    const QList<TwitterDouble::Request> friendPages = TwitterDouble::networkRequests(TwitterDouble::User, UserType::FriendsList);
    QCOMPARE(friendPages.size(), 2);
    QCOMPARE(friendPages.at(1).args, (QMap<QString, QString>{{QStringLiteral("cursor"), page1.toMap().value(QStringLiteral("next_cursor_str")).toString()},
                                                            {QStringLiteral("screen_name"), QStringLiteral("AliceInData")},
                                                            {QStringLiteral("count"), QStringLiteral("200")}}));
    // Every friend without a cached avatar is asked for once; bob's is cached.
    const QList<TwitterDouble::Request> avatars = networkAvatarRequests();
    QStringList names;
    for (const TwitterDouble::Request &request : avatars)
        names.append(request.args.value(QStringLiteral("screen_name")));
    QCOMPARE(names, QStringList({QStringLiteral("AliceInData"), QStringLiteral("ostra_owner"), QStringLiteral("carol_w"),
                                 QStringLiteral("noname_user"), QString()}));
    QVERIFY(avatarTimer->isActive());
    QCOMPARE(avatarTimer->interval(), 60000);
    QVERIFY(avatarTimer->isSingleShot());

    for (int i = 0; i < avatars.size() - 1; ++i)
        emit client()->userUpdated(UserType::Avatar, {QStringLiteral("/net/friend.png")}, avatars.at(i).queryId);
    QVERIFY(avatarTimer->isActive()); // one still outstanding
    // A minute without an answer gives up on it; its late answer changes nothing.
    avatarTimer->stop();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Got timeout fetching avatars. Removing requests: QMap\\(\\(\\d+, \"\"\\)\\)")));
    QMetaObject::invokeMethod(&mHarness.daemon(), "avatarTimeout");
    emit client()->userUpdated(UserType::Avatar, {QStringLiteral("/net/friend.png")}, avatars.last().queryId);
    QVERIFY(!avatarTimer->isActive());
    // Its late failure frees the name: the next prefetch asks for every friend anew.
    emit client()->networkRequestError(avatars.last().queryId, {});
    QMetaObject::invokeMethod(&mHarness.daemon(), "onTimer");
    QTRY_COMPARE(networkAvatarRequests().size(), 2 * avatars.size());
}

void TestTimeline::sixthTickCleansTheClientCache()
{
    for (int tick = 1; tick <= 6; ++tick) {
        QCOMPARE(TwitterDouble::deleteOldStuffCalls(), 0);
        QMetaObject::invokeMethod(&mHarness.daemon(), "onTimer");
    }
    QCOMPARE(TwitterDouble::deleteOldStuffCalls(), 1);
    for (int tick = 1; tick <= 6; ++tick)
        QMetaObject::invokeMethod(&mHarness.daemon(), "onTimer");
    QCOMPARE(TwitterDouble::deleteOldStuffCalls(), 2);
}

void TestTimeline::hungFeedHoldsTheRestForTheNextRefresh()
{
    // The bus's own time-out is 25 s; a short one keeps the test quick.
    mHarness.daemon().findChild<ComHalvexHomeEventFeedInterface *>()->setTimeout(300);
    mHarness.feed().control().setReplyDelay(-1).waitForFinished();
    const QVariantList tweets = {tweetBy(QStringLiteral("603"), QStringLiteral("erin")), tweetBy(QStringLiteral("602"), QStringLiteral("erin")),
                                 tweetBy(QStringLiteral("601"), QStringLiteral("erin"))};
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("Error: mEventFeedIf returned invalid value")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("the event feed does not answer")));
    refreshWith(tweets);
    int posts = 0;
    for (const QJsonValue &call : mHarness.feed().calls())
        posts += call[QStringLiteral("method")] == QLatin1String("addItem");
    QCOMPARE(posts, 1); // one post waited; the other two were held back
    QVERIFY(mHarness.cachedItems().isEmpty());

    mHarness.feed().control().reset().waitForFinished();
    refreshWith(tweets);
    QCOMPARE(items().size(), 3);
    QCOMPARE(mHarness.cachedItems().size(), 3);
}

QTEST_GUILESS_MAIN(TestTimeline)
#include "tst_timeline.moc"
