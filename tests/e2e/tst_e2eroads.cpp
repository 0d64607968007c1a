// SPDX-License-Identifier: BSD-3-Clause
// The roads through the real processes: the newest 20 tweets become items with round
// avatars and the thumbnails of their pictures, all fetched from loopback, and a new tweet
// on the service becomes one more; a new mention shows in the mentions group of the notification store, and a
// persons request of the contacts daemon is answered with the account's friends.

#include "SessionTestCase.h"
#include "FeedItems.h"
#include "Fixtures.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

class TestE2eRoads : public SessionTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void newTweetBecomesAnItem();
    void newMentionShowsInTheMentionsGroup();
    void personsRequestIsAnsweredWithTheFriends();

private:
    void verifyTheNewestTwentyWithTheirPictures();
};

void TestE2eRoads::verifyTheNewestTwentyWithTheirPictures()
{
    const QVariantList timeline = Fixtures::homeTimeline();
    QSet<QString> expected;
    for (int i = 0; i < 20; ++i)
        expected.insert(FeedItems::shownId(timeline.at(i).toMap()));
    const QStringList shown = mSession->itemTweetIds();
    QCOMPARE(QSet<QString>(shown.cbegin(), shown.cend()), expected);

    const QString cache = mSession->environment().cacheHome() + QStringLiteral("/twitter-client/1111111111/");
    QStringList thumbnails;
    for (const QJsonValue &item : mSession->feed().items()) {
        const QString icon = item[QStringLiteral("item")][QStringLiteral("icon")].toString();
        QVERIFY2(icon.startsWith(cache + QStringLiteral("avatars/")), qPrintable(icon));
        const QImage avatar(icon);
        QCOMPARE(avatar.size(), QSize(73, 73));
        QCOMPARE(qAlpha(avatar.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(avatar.pixel(36, 36)), 255);
        for (const QJsonValue &image : item[QStringLiteral("item")][QStringLiteral("imageList")].toArray()) {
            if (!image.toString().isEmpty())
                thumbnails.append(image.toString());
        }
    }
    // The photo attachment and the link to a picture page.
    QCOMPARE(thumbnails.size(), 2);
    for (const QString &thumbnail : qAsConst(thumbnails)) {
        QVERIFY2(thumbnail.startsWith(cache + QStringLiteral("thumbnails/")), qPrintable(thumbnail));
        QCOMPARE(QImage(thumbnail).size(), QSize(150, 150));
    }
    QSet<QString> pictureHosts;
    for (const QJsonValue &request : mSession->server().requests()) {
        if (request[QStringLiteral("host")].toString() != QLatin1String("127.0.0.1"))
            pictureHosts.insert(request[QStringLiteral("host")].toString());
    }
    QCOMPARE(pictureHosts, QSet<QString>({QStringLiteral("pbs.twimg.com"), QStringLiteral("twitpic.com")}));
}

void TestE2eRoads::newTweetBecomesAnItem()
{
    PlatformSession &session = *mSession;
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 15000);
    verifyTheNewestTwentyWithTheirPictures();
    QCOMPARE(session.server().requestCount(QStringLiteral("/1.1/account/verify_credentials.json")), 1);

    QVERIFY(session.server().post(QStringLiteral("tweets"),
                                  {{QStringLiteral("text"), QStringLiteral("Fresh from the service")},
                                   {QStringLiteral("screen_name"), QStringLiteral("carol_w")},
                                   {QStringLiteral("name"), QStringLiteral("Carol W")}}));
    const QString id = session.server().lastAnswer().value(QStringLiteral("id_str")).toString();
    QVERIFY(!id.isEmpty());
    // Wake-ups of the thread of Qt's network bearers, which rests: no polling one is in.
    const auto bearerWakeUps = [&] {
        const QString tasks = QStringLiteral("/proc/%1/task/").arg(session.daemon().processId());
        for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks + task + QStringLiteral("/comm")), status(tasks + task + QStringLiteral("/status"));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("Qt bearer") && status.open(QIODevice::ReadOnly))
                return QRegularExpression(QStringLiteral("voluntary_ctxt_switches:\\s*(\\d+)"))
                    .match(QString::fromLatin1(status.readAll())).captured(1).toInt();
        }
        return -1;
    };
    const int wakeUps = bearerWakeUps();
    QVERIFY(wakeUps >= 0);
    QVERIFY(session.refresh());
    QTRY_VERIFY_WITH_TIMEOUT(session.itemTweetIds().contains(id), 15000);
    const QJsonObject item = session.feed().items().at(session.itemTweetIds().indexOf(id))[QStringLiteral("item")].toObject();
    QCOMPARE(item[QStringLiteral("body")].toString(), QStringLiteral("Fresh from the service"));
    QVERIFY2(item[QStringLiteral("title")].toString().contains(QStringLiteral("Carol W")),
             qPrintable(item[QStringLiteral("title")].toString()));
    QVERIFY(QFile::exists(item[QStringLiteral("icon")].toString()));
    QVERIFY2(bearerWakeUps() < wakeUps + 20, qPrintable(QString::number(bearerWakeUps() - wakeUps)));
}

void TestE2eRoads::newMentionShowsInTheMentionsGroup()
{
    PlatformSession &session = *mSession;
    session.storeLastSeenIds(QStringLiteral("1"));
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    // The fixtures' three mentions are newer than the stored id.
    QTRY_COMPARE_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("count")].toInt(), 3, 15000);

    QVERIFY(session.server().post(QStringLiteral("mentions"),
                                  {{QStringLiteral("text"), QStringLiteral("@AliceInData look at this")},
                                   {QStringLiteral("screen_name"), QStringLiteral("zoe_mentions")},
                                   {QStringLiteral("following"), true}}));
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("count")].toInt(), 4, 15000);
    const QJsonObject group = session.mentionsGroup();
    QVERIFY2(group[QStringLiteral("summary")].toString().contains(QStringLiteral("zoe_mentions")),
             qPrintable(group[QStringLiteral("summary")].toString()));
    // A notification of the group tells of the four; it follows the group's update.
    const auto bodies = [&] {
        QStringList texts;
        for (const QJsonObject &notification : session.storeEntries(QStringLiteral("notification"))) {
            if (notification[QStringLiteral("group")] == group[QStringLiteral("id")])
                texts.append(notification[QStringLiteral("body")].toString());
        }
        return texts;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(bodies().contains(QStringLiteral("4 new mentions")), qPrintable(bodies().join(QLatin1Char('|'))),
                              15000);
}

void TestE2eRoads::personsRequestIsAnsweredWithTheFriends()
{
    PlatformSession &session = *mSession;
    // Two pages of friends.
    QVERIFY(session.server().post(QStringLiteral("friends"),
                                  {{QStringLiteral("users"), QJsonArray{QStringLiteral("carol_w"), QStringLiteral("dave"),
                                                                        QStringLiteral("erin"), QStringLiteral("frank")}},
                                   {QStringLiteral("page_size"), 3}}));
    // The friends are fetched at the daemon's ticks, hours apart, and when the user
    // switches the contacts on: started without, switched on once logged in.
    session.environment().writeAccount({{QStringLiteral("services/contacts"), false}});
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.bus().waitForName(QStringLiteral("com.halvex.socialprovider.twitter")));
    QCOMPARE(session.requestPersons(), QStringList());
    session.environment().writeAccount({{QStringLiteral("services/contacts"), true}});
    const QStringList expected = {QStringLiteral("@carol_w"), QStringLiteral("@dave"), QStringLiteral("@erin"),
                                  QStringLiteral("@frank")};
    QTRY_COMPARE_WITH_TIMEOUT(session.requestPersons(), expected, 15000);
    QVERIFY(session.server().requestCount(QStringLiteral("/1.1/friends/list.json")) >= 2);
}

QTEST_GUILESS_MAIN(TestE2eRoads)
#include "tst_e2eroads.moc"
