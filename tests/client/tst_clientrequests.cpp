// SPDX-License-Identifier: BSD-3-Clause
// The real client against the fake API server: every kind of request the daemon makes,
// first from the network and then from the cache, with the fixtures' ids exact; avatars
// cut round by the mask, both kinds of thumbnail, and the cache's clean-up on real files.

#include "FakeApiProcess.h"
#include "MappedImagePlugins.h"
#include "TestEnvironment.h"
#include "Twitter.h"

#include <QDirIterator>
#include <QImageReader>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

namespace {

const QString OwnerId = QStringLiteral("1318223431118950401");
const QString AliceAvatar = QStringLiteral("http://pbs.twimg.com/profile_images/79841/alice_bigger.jpg");

QString id(const QVariant &item)
{
    return item.toMap().value(QStringLiteral("id")).toString();
}

QStringList ids(const QVariantList &items)
{
    QStringList list;
    for (const QVariant &item : items)
        list.append(id(item));
    return list;
}

// White disc on black, like the daemon's avatar mask.
QImage discMask()
{
    QImage mask(73, 73, QImage::Format_ARGB32);
    mask.fill(Qt::black);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(0, 0, 73, 73));
    return mask;
}

}

class TestClientRequests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void homeTimelineFromNetworkThenCache();
    void pollsSinceAnIdAddToTheCachedAnswer_data();
    void pollsSinceAnIdAddToTheCachedAnswer();
    void friendsPageByPageThenAllFromCache();
    void userShowThenCache();
    void helpConfigurationCarriesItsUpdateTime();
    void avatarIsCutRoundByTheMask();
    void mediaThumbnailThenFromCache();
    void pictureSiteThumbnailAddress_data();
    void pictureSiteThumbnailAddress();
    void badSignatureIsRejected();
    void unusableRequestsAreRefused();
    void deleteOldStuffAndDeleteCacheOnRealFiles();

private:
    Tw::Twitter *newClient(const QString &consumerSecret = QStringLiteral("consumer-secret"));
    QVariantList networkAnswer(QSignalSpy &spy, int queryId);

    TestEnvironment mEnvironment;
    FakeApiProcess mServer;
    QScopedPointer<Tw::Twitter> mClient;
};

void TestClientRequests::initTestCase()
{
    QVERIFY(mEnvironment.isValid());
    mEnvironment.applyToProcess();
    QVERIFY(mServer.start());
    mEnvironment.writeDefaultAccount();
    mEnvironment.writeAccount({{QStringLiteral("account/api_base"), mServer.apiBase()}});
    // Picture hosts are reached through the fake server; the API on loopback directly.
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), mServer.port()));
}

void TestClientRequests::init()
{
    QVERIFY(mServer.post(QStringLiteral("reset")));
    mClient.reset(newClient());
    QVERIFY(mClient->init());
}

void TestClientRequests::cleanup()
{
    mClient->deleteCache();
    mClient.reset();
}

Tw::Twitter *TestClientRequests::newClient(const QString &consumerSecret)
{
    return new Tw::Twitter(QStringLiteral("token"), QStringLiteral("token-secret"), OwnerId,
                           QStringLiteral("ostra_owner"), QStringLiteral("consumer-key"), consumerSecret);
}

// The data of the one result that the spy has seen, or will see, for this query.
QVariantList TestClientRequests::networkAnswer(QSignalSpy &spy, int queryId)
{
    if (spy.isEmpty() && !spy.wait(10000))
        return {QStringLiteral("no answer")};
    const QList<QVariant> arguments = spy.takeFirst();
    if (arguments.last().toInt() != queryId)
        return {QStringLiteral("answer to another query")};
    return arguments.at(1).toList();
}

void TestClientRequests::homeTimelineFromNetworkThenCache()
{
    QSignalSpy updated(mClient.data(), &Tw::Twitter::timelineUpdated);
    QSignalSpy failed(mClient.data(), &Tw::Twitter::networkRequestError);
    const QMap<QString, QString> arguments = {{QStringLiteral("count"), QStringLiteral("20")},
                                              {QStringLiteral("include_entities"), QStringLiteral("true")}};
    QVariantList result;
    int queryId = -1;
    QCOMPARE(mClient->retrieveTimelineResources(&result, &queryId, TimelineType::HomeTimeline, arguments,
                                                Tw::Twitter::RETRIEVE_FROM_NETWORK),
             int(Tw::Twitter::RETRIEVE_OK));
    QVERIFY(queryId > 0);
    QVERIFY(updated.isEmpty()); // answered from the event loop
    const QVariantList tweets = networkAnswer(updated, queryId);
    QVERIFY(failed.isEmpty());
    QCOMPARE(tweets.size(), 20);
    // 19-digit ids above 2^53 arrive exact, in the tweet, its author and its media.
    QCOMPARE(id(tweets.first()), QStringLiteral("1335095132469714947"));
    QCOMPARE(tweets.first().toMap().value(QStringLiteral("id")).type(), QVariant::String);
    QCOMPARE(id(tweets.first().toMap().value(QStringLiteral("user"))), QStringLiteral("1196541877436579841"));
    QCOMPARE(id(tweets.first().toMap().value(QStringLiteral("entities")).toMap().value(QStringLiteral("media")).toList().first()),
             QStringLiteral("1335095120000000003"));
    QCOMPARE(id(tweets.at(2).toMap().value(QStringLiteral("retweeted_status"))).size(), 19);
    QCOMPARE(id(tweets.last()), QStringLiteral("1335092000000016215"));

    const QJsonObject sent = mServer.requests().last()[QStringLiteral("query")].toObject();
    QCOMPARE(sent.value(QStringLiteral("count")).toString(), QStringLiteral("20"));
    QCOMPARE(sent.value(QStringLiteral("include_entities")).toString(), QStringLiteral("true"));

    int cacheQueryId = -1;
    QCOMPARE(mClient->retrieveTimelineResources(&result, &cacheQueryId, TimelineType::HomeTimeline, arguments,
                                                Tw::Twitter::RETRIEVE_FROM_CACHE),
             int(Tw::Twitter::RETRIEVE_OK));
    QVERIFY(cacheQueryId > queryId);
    QCOMPARE(ids(result), ids(tweets));
    QCOMPARE(result.first().toMap().value(QStringLiteral("text")), tweets.first().toMap().value(QStringLiteral("text")));
    QCOMPARE(mServer.requestCount(QStringLiteral("/1.1/statuses/home_timeline.json")), 1);
}

void TestClientRequests::pollsSinceAnIdAddToTheCachedAnswer_data()
{
    QTest::addColumn<bool>("messages");
    QTest::newRow("mentions") << false;
    QTest::newRow("direct messages") << true;
}

void TestClientRequests::pollsSinceAnIdAddToTheCachedAnswer()
{
    QFETCH(bool, messages);
    QSignalSpy updated(mClient.data(), messages ? SIGNAL(directMessageUpdated(DirectMessageType::DirectMessageType, QVariantList, int))
                                                : SIGNAL(timelineUpdated(TimelineType::TimelineType, QVariantList, int)));
    const auto poll = [&](const QString &sinceId, QVariantList *cached, Tw::Twitter::RetrieveBehavior behavior) {
        QMap<QString, QString> arguments = {{QStringLiteral("cursor"), QStringLiteral("-1")},
                                            {QStringLiteral("screen_name"), QStringLiteral("ostra_owner")}};
        if (!sinceId.isEmpty())
            arguments.insert(QStringLiteral("since_id"), sinceId);
        int queryId = -1;
        if (messages)
            mClient->retrieveDirectMessages(cached, &queryId, DirectMessageType::ReceivedMessages, arguments, behavior);
        else
            mClient->retrieveTimelineResources(cached, &queryId, TimelineType::MentionsTimeline, arguments, behavior);
        return queryId;
    };
    QVariantList cached;
    const QVariantList first = networkAnswer(updated, poll(QString(), &cached, Tw::Twitter::RETRIEVE_FROM_NETWORK));
    QCOMPARE(first.size(), 3);
    QCOMPARE(id(first.first()), messages ? QStringLiteral("1335097000000000019") : QStringLiteral("1335096000000000451"));
    if (messages)
        QCOMPARE(first.first().toMap().value(QStringLiteral("sender_id")).toString(), QStringLiteral("1196541877436579841"));

    QVERIFY(mServer.post(messages ? QStringLiteral("messages") : QStringLiteral("mentions"),
                         {{QStringLiteral("text"), QStringLiteral("@ostra_owner news")},
                          {QStringLiteral("screen_name"), QStringLiteral("AliceInData")}}));
    const QString added = mServer.lastAnswer().value(QStringLiteral("id_str")).toString();
    const QVariantList fresh = networkAnswer(updated, poll(id(first.first()), &cached, Tw::Twitter::RETRIEVE_FROM_NETWORK));
    QCOMPARE(ids(fresh), QStringList{added});

    poll(QString(), &cached, Tw::Twitter::RETRIEVE_FROM_CACHE);
    QCOMPARE(ids(cached), QStringList{added} + ids(first));
}

void TestClientRequests::friendsPageByPageThenAllFromCache()
{
    QSignalSpy updated(mClient.data(), &Tw::Twitter::userUpdated);
    const auto page = [&](const QString &cursor) {
        QVariantList result;
        int queryId = -1;
        mClient->retrieveUserResources(&result, &queryId, UserType::FriendsList,
                                       {{QStringLiteral("cursor"), cursor}, {QStringLiteral("screen_name"), QStringLiteral("ostra_owner")}},
                                       Tw::Twitter::RETRIEVE_FROM_NETWORK);
        const QVariantList data = networkAnswer(updated, queryId);
        return data.value(0).toMap();
    };
    const QVariantMap first = page(QStringLiteral("-1"));
    QCOMPARE(first.value(QStringLiteral("next_cursor_str")).toString(), QStringLiteral("1489467234237774933"));
    QCOMPARE(first.value(QStringLiteral("next_cursor")).toString(), QStringLiteral("1489467234237774933"));
    QCOMPARE(ids(first.value(QStringLiteral("users")).toList()),
             QStringList({QStringLiteral("1196541877436579841"), QStringLiteral("2244994945"), OwnerId}));
    const QVariantMap second = page(first.value(QStringLiteral("next_cursor_str")).toString());
    QCOMPARE(second.value(QStringLiteral("next_cursor_str")).toString(), QStringLiteral("0"));

    const auto cached = [&] {
        QVariantList all;
        int queryId = -1;
        const int status = mClient->retrieveUserResources(&all, &queryId, UserType::FriendsList,
                                                          {{QStringLiteral("screen_name"), QStringLiteral("ostra_owner")}},
                                                          Tw::Twitter::RETRIEVE_FROM_CACHE);
        return status == Tw::Twitter::RETRIEVE_OK ? ids(all) : QStringList();
    };
    const QStringList whole = ids(first.value(QStringLiteral("users")).toList()) + ids(second.value(QStringLiteral("users")).toList());
    QCOMPARE(cached(), whole);

    // Two pagings at once, as the contacts import and the followed-only filter may run
    // them: the cache keeps a whole list, never the part that the later one brought last.
    page(QStringLiteral("-1"));
    page(QStringLiteral("-1"));
    page(first.value(QStringLiteral("next_cursor_str")).toString());
    page(first.value(QStringLiteral("next_cursor_str")).toString());
    QCOMPARE(cached(), whole);
}

void TestClientRequests::userShowThenCache()
{
    QSignalSpy updated(mClient.data(), &Tw::Twitter::userUpdated);
    const QMap<QString, QString> arguments = {{QStringLiteral("screen_name"), QStringLiteral("AliceInData")}};
    QVariantList result;
    int queryId = -1;
    QCOMPARE(mClient->retrieveUserResources(&result, &queryId, UserType::UserShow, arguments, Tw::Twitter::RETRIEVE_FROM_CACHE),
             int(Tw::Twitter::RETRIEVE_OK));
    QVERIFY(result.isEmpty());
    mClient->retrieveUserResources(&result, &queryId, UserType::UserShow, arguments, Tw::Twitter::RETRIEVE_FROM_NETWORK);
    const QVariantMap user = networkAnswer(updated, queryId).value(0).toMap();
    QCOMPARE(id(user), QStringLiteral("1196541877436579841"));
    QCOMPARE(id(user.value(QStringLiteral("status"))), QStringLiteral("1335011111111111113"));

    // The cache is found by the screen name whatever its case.
    mClient->retrieveUserResources(&result, &queryId, UserType::UserShow,
                                   {{QStringLiteral("screen_name"), QStringLiteral("aliceindata")}},
                                   Tw::Twitter::RETRIEVE_FROM_CACHE);
    QCOMPARE(result.size(), 1);
    QCOMPARE(result.first().toMap(), user);
}

void TestClientRequests::helpConfigurationCarriesItsUpdateTime()
{
    QSignalSpy retrieved(mClient.data(), &Tw::Twitter::helpRetrieved);
    QMap<QString, QVariant> configuration;
    int queryId = -1;
    mClient->retrieveHelp(HelpType::Configuration, &configuration, {}, &queryId, Tw::Twitter::RETRIEVE_FROM_CACHE);
    QVERIFY(configuration.isEmpty());
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    mClient->retrieveHelp(HelpType::Configuration, &configuration, {}, &queryId, Tw::Twitter::RETRIEVE_FROM_NETWORK);
    QVERIFY(retrieved.wait());
    QCOMPARE(retrieved.first().last().toInt(), queryId);
    const QVariantMap answer = retrieved.first().at(1).toList().value(0).toMap();
    QCOMPARE(answer.value(QStringLiteral("short_url_length")).toInt(), 23);
    const QDateTime updated = QDateTime::fromString(answer.value(QStringLiteral("last_update_time")).toString(), Qt::ISODate);
    QVERIFY(updated >= before && updated <= QDateTime::currentDateTime());

    mClient->retrieveHelp(HelpType::Configuration, &configuration, {}, &queryId, Tw::Twitter::RETRIEVE_FROM_CACHE);
    QCOMPARE(configuration, answer);
}

void TestClientRequests::avatarIsCutRoundByTheMask()
{
    mClient->setMask(discMask());
    QSignalSpy updated(mClient.data(), &Tw::Twitter::userUpdated);
    const QMap<QString, QString> arguments = {{QStringLiteral("screen_name"), QStringLiteral("AliceInData")},
                                              {QStringLiteral("url"), AliceAvatar},
                                              {QStringLiteral("size"), QStringLiteral("bigger")}};
    QVariantList result;
    int queryId = -1;
    mClient->retrieveUserResources(&result, &queryId, UserType::Avatar, arguments, Tw::Twitter::RETRIEVE_FROM_CACHE);
    QCOMPARE(result, QVariantList{QString()});

    mClient->retrieveUserResources(&result, &queryId, UserType::Avatar, arguments, Tw::Twitter::RETRIEVE_FROM_NETWORK);
    const QString path = networkAnswer(updated, queryId).value(0).toString();
    QVERIFY(path.startsWith(mEnvironment.cacheHome() + QStringLiteral("/twitter-client/") + OwnerId + QLatin1Char('/')));
    // Read as PNG by name: probing would load every image plugin into this process.
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    QCOMPARE(reader.text(QStringLiteral("Source")), AliceAvatar);
    const QImage avatar = reader.read();
    QCOMPARE(avatar.size(), QSize(73, 73));
    QVERIFY(avatar.hasAlphaChannel());
    QCOMPARE(qAlpha(avatar.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(avatar.pixel(72, 72)), 0);
    QCOMPARE(qAlpha(avatar.pixel(36, 36)), 255);
    QCOMPARE(qAlpha(avatar.pixel(36, 1)), 255);
    const QJsonObject asked = mServer.requests().last().toObject();
    QCOMPARE(asked.value(QStringLiteral("host")).toString(), QStringLiteral("pbs.twimg.com"));
    QCOMPARE(asked.value(QStringLiteral("path")).toString(), QStringLiteral("/profile_images/79841/alice_bigger.jpg"));

    mClient->retrieveUserResources(&result, &queryId, UserType::Avatar, arguments, Tw::Twitter::RETRIEVE_FROM_CACHE);
    QCOMPARE(result, QVariantList{path});
    // Without an address (the contacts ask so) any cached one does; another address is
    // a changed avatar, not in the cache yet.
    mClient->retrieveUserResources(&result, &queryId, UserType::ProfileImage,
                                   {{QStringLiteral("screen_name"), QStringLiteral("aliceindata")}, {QStringLiteral("size"), QStringLiteral("bigger")}},
                                   Tw::Twitter::RETRIEVE_FROM_CACHE);
    QCOMPARE(result, QVariantList{path});
    // The same picture at the service's https address: the avatar fetched over http stays.
    QMap<QString, QString> secure = arguments;
    secure.insert(QStringLiteral("url"), QString(AliceAvatar).replace(QStringLiteral("http:"), QStringLiteral("https:")));
    mClient->retrieveUserResources(&result, &queryId, UserType::Avatar, secure, Tw::Twitter::RETRIEVE_FROM_CACHE);
    QCOMPARE(result, QVariantList{path});
    QMap<QString, QString> changed = arguments;
    changed.insert(QStringLiteral("url"), QStringLiteral("http://pbs.twimg.com/profile_images/2/alice2_bigger.jpg"));
    mClient->retrieveUserResources(&result, &queryId, UserType::Avatar, changed, Tw::Twitter::RETRIEVE_FROM_CACHE);
    QCOMPARE(result, QVariantList{QString()});

    // Decoding the JPEG picture loads its plugin; writing and reading the avatar no other
    // (the SVG one would bring QtSvg and QtWidgets). No earlier test reads or writes images.
    for (const QString &library : mappedImagePlugins()) {
        QVERIFY2(library == QLatin1String("/imageformats/libqjpeg.so") || library == QLatin1String("/imageformats/libqgif.so"),
                 qPrintable(library));
    }
}

void TestClientRequests::mediaThumbnailThenFromCache()
{
    QSignalSpy loaded(mClient.data(), &Tw::Twitter::tinyUrlImageLoaded);
    const QMap<QString, QString> arguments = {{QStringLiteral("image_url"), QStringLiteral("http://pbs.twimg.com/media/EoQ1sunsetAAA.jpg:thumb")},
                                              {QStringLiteral("as_thumb"), QStringLiteral("1")},
                                              {QStringLiteral("direct_url"), QStringLiteral("1")},
                                              {QStringLiteral("image_id"), QStringLiteral("1335095120000000003")}};
    QString file = QStringLiteral("not written");
    int queryId = -1;
    QCOMPARE(mClient->retrieveTinyUrlImage(arguments, &file, &queryId), int(Tw::Twitter::RETRIEVE_OK));
    QVERIFY(file.isEmpty());
    QVERIFY(loaded.wait());
    QCOMPARE(loaded.first().at(1).toInt(), queryId);
    const QString path = loaded.first().at(0).toString();
    QVERIFY(path.endsWith(QLatin1String(".jpg")));
    QCOMPARE(QImage(path).size(), QSize(150, 150));
    const QJsonObject asked = mServer.requests().last().toObject();
    QCOMPARE(asked.value(QStringLiteral("host")).toString(), QStringLiteral("pbs.twimg.com"));
    QCOMPARE(asked.value(QStringLiteral("path")).toString(), QStringLiteral("/media/EoQ1sunsetAAA.jpg:thumb"));

    const int requests = mServer.requests().size();
    QCOMPARE(mClient->retrieveTinyUrlImage(arguments, &file, &queryId), int(Tw::Twitter::RETRIEVE_OK));
    QCOMPARE(file, path);
    QCOMPARE(mServer.requests().size(), requests);

    // Left empty by a full disk: fetched again rather than shown broken.
    QVERIFY(QFile::resize(path, 0));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^static bool TwCache::servePicture")));
    QCOMPARE(mClient->retrieveTinyUrlImage(arguments, &file, &queryId), int(Tw::Twitter::RETRIEVE_OK));
    QVERIFY(file.isEmpty());
    QVERIFY(loaded.wait());
    QCOMPARE(loaded.last().at(0).toString(), path);
    QCOMPARE(QImage(path).size(), QSize(150, 150));

    // Pictures of the largest size are made beside the event loop, a JPEG decoded at its
    // thumbnail's size. A client deleted meanwhile gets no answer, and its pictures still
    // waiting are not made.
    const auto huge = [](const QString &name) {
        return QMap<QString, QString>{{QStringLiteral("image_url"), QStringLiteral("http://pbs.twimg.com/media/") + name},
                                      {QStringLiteral("direct_url"), QStringLiteral("1")}, {QStringLiteral("image_id"), name}};
    };
    mClient->retrieveTinyUrlImage(huge(QStringLiteral("a_huge.jpg")), &file, &queryId);
    QVERIFY(loaded.wait());
    QCOMPARE(QImage(loaded.last().at(0).toString()).size(), QSize(150, 150));
    mClient->retrieveTinyUrlImage(huge(QStringLiteral("b_huge.png")), &file, &queryId);
    mClient->retrieveTinyUrlImage(huge(QStringLiteral("c_huge.png")), &file, &queryId);
    auto *pictures = qApp->findChild<QThreadPool *>(QStringLiteral("pictureThread"));
    QVERIFY(pictures);
    QTRY_COMPARE(mServer.requestCount(QStringLiteral("/media/c_huge.png")), 1);
    QTRY_COMPARE(pictures->activeThreadCount(), 1);
    const int answered = loaded.count();
    mClient.reset(newClient());
    pictures->waitForDone();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(loaded.count(), answered);
    QSet<QString> made; // the pictures answered, and at most the one being made
    for (const QList<QVariant> &answer : qAsConst(loaded))
        made.insert(answer.at(0).toString());
    QVERIFY(QDir(QFileInfo(path).path()).entryList(QDir::Files).size() <= made.size() + 1);
}

void TestClientRequests::pictureSiteThumbnailAddress_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("path");
    QTest::newRow("twitpic page") << "http://twitpic.com/abc123" << "twitpic.com" << "/show/thumb/abc123";
    QTest::newRow("twitpic thumbnail") << "http://twitpic.com/show/thumb/abc123" << "twitpic.com" << "/show/thumb/abc123";
    QTest::newRow("yfrog") << "http://www.yfrog.com/h0abcdj" << "yfrog.com" << "/h0abcdj.th.jpg";
    QTest::newRow("instagram") << "http://instagr.am/p/BcDeF/" << "instagr.am" << "/p/BcDeF/media/";
    QTest::newRow("image file") << "http://example.org/photo.png" << "example.org" << "/photo.png";
}

void TestClientRequests::pictureSiteThumbnailAddress()
{
    QFETCH(QString, link);
    QFETCH(QString, host);
    QFETCH(QString, path);
    QSignalSpy loaded(mClient.data(), &Tw::Twitter::tinyUrlImageLoaded);
    QString file;
    int queryId = -1;
    mClient->retrieveTinyUrlImage({{QStringLiteral("image_url"), link}, {QStringLiteral("as_thumb"), QStringLiteral("1")}},
                                  &file, &queryId);
    QVERIFY(loaded.wait());
    QCOMPARE(loaded.first().at(1).toInt(), queryId);
    QVERIFY(!QImage(loaded.first().at(0).toString()).isNull());
    const QJsonObject asked = mServer.requests().last().toObject();
    QCOMPARE(asked.value(QStringLiteral("host")).toString(), host);
    QCOMPARE(asked.value(QStringLiteral("path")).toString(), path);
}

void TestClientRequests::badSignatureIsRejected()
{
    QScopedPointer<Tw::Twitter> forger(newClient(QStringLiteral("wrong-secret")));
    QSignalSpy failed(forger.data(), &Tw::Twitter::networkRequestError);
    QSignalSpy updated(forger.data(), &Tw::Twitter::timelineUpdated);
    QVariantList result;
    int queryId = -1;
    forger->retrieveTimelineResources(&result, &queryId, TimelineType::HomeTimeline, {}, Tw::Twitter::RETRIEVE_FROM_NETWORK);
    QVERIFY(failed.wait());
    QCOMPARE(failed.first().at(0).toInt(), queryId);
    QCOMPARE(failed.first().at(1).toMap().value(QStringLiteral("error")).toString(),
             QStringLiteral("Could not authenticate with OAuth."));
    QCOMPARE(mServer.requests().last()[QStringLiteral("status")].toInt(), 401);
    QVERIFY(updated.isEmpty());
}

void TestClientRequests::unusableRequestsAreRefused()
{
    QVariantList result;
    int queryId = 99;
    QCOMPARE(mClient->retrieveTimelineResources(&result, &queryId, TimelineType::PublicTimeline, {}, Tw::Twitter::RETRIEVE_FROM_NETWORK),
             int(Tw::Twitter::RETRIEVE_NOT_AVAILABLE));
    QCOMPARE(queryId, -1);
    QCOMPARE(mClient->retrieveUserResources(&result, &queryId, UserType::Avatar,
                                            {{QStringLiteral("screen_name"), QStringLiteral("bob")},
                                             {QStringLiteral("url"), QStringLiteral("file:///etc/passwd")}},
                                            Tw::Twitter::RETRIEVE_FROM_NETWORK),
             int(Tw::Twitter::RETRIEVE_BAD_REQUEST));
    QCOMPARE(mClient->retrieveUserResources(&result, &queryId, UserType::UserShow, {}, Tw::Twitter::RETRIEVE_FROM_NETWORK),
             int(Tw::Twitter::RETRIEVE_BAD_REQUEST));
    QString file;
    QCOMPARE(mClient->retrieveTinyUrlImage({{QStringLiteral("image_url"), QStringLiteral("not a link")}}, &file, &queryId),
             int(Tw::Twitter::RETRIEVE_BAD_REQUEST));
    QCOMPARE(mClient->retrieveTimelineResources(&result, &queryId, TimelineType::HomeTimeline, {},
                                                Tw::Twitter::RetrieveBehavior(7)),
             int(Tw::Twitter::RETRIEVE_BAD_REQUEST));
    QCOMPARE(queryId, -1);
}

void TestClientRequests::deleteOldStuffAndDeleteCacheOnRealFiles()
{
    QSignalSpy updated(mClient.data(), &Tw::Twitter::timelineUpdated);
    QSignalSpy loaded(mClient.data(), &Tw::Twitter::tinyUrlImageLoaded);
    QVariantList result;
    int queryId = -1;
    mClient->retrieveTimelineResources(&result, &queryId, TimelineType::HomeTimeline, {}, Tw::Twitter::RETRIEVE_FROM_NETWORK);
    QString file;
    mClient->retrieveTinyUrlImage({{QStringLiteral("image_url"), QStringLiteral("http://example.org/old.png")}}, &file, &queryId);
    QVERIFY(updated.wait());
    QVERIFY(loaded.count() == 1 || loaded.wait());
    const QString picture = loaded.first().at(0).toString();
    const QString root = mEnvironment.cacheHome() + QStringLiteral("/twitter-client/") + OwnerId;
    QStringList files;
    for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        files.append(it.next());
    QCOMPARE(files.size(), 2);

    // The picture was last used eight days ago: it goes; the timeline, written now, stays.
    QFile old(picture);
    QVERIFY(old.open(QIODevice::ReadWrite));
    QVERIFY(old.setFileTime(QDateTime::currentDateTimeUtc().addDays(-8), QFileDevice::FileModificationTime));
    old.close();
    mClient->deleteOldStuff();
    QVERIFY(!QFile::exists(picture));
    files.removeOne(picture);
    QVERIFY(QFile::exists(files.first()));
    mClient->retrieveTimelineResources(&result, &queryId, TimelineType::HomeTimeline, {}, Tw::Twitter::RETRIEVE_FROM_CACHE);
    QCOMPARE(result.size(), 20);

    mClient->deleteCache();
    QVERIFY(!QFileInfo::exists(root));
    mClient->retrieveTimelineResources(&result, &queryId, TimelineType::HomeTimeline, {}, Tw::Twitter::RETRIEVE_FROM_CACHE);
    QVERIFY(result.isEmpty());
}

QTEST_GUILESS_MAIN(TestClientRequests)
#include "tst_clientrequests.moc"
