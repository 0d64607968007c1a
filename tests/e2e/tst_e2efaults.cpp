// SPDX-License-Identifier: BSD-3-Clause
// What goes wrong on the way: a tweet deleted on the service, a token the service stops
// accepting, and the account removed while the daemon runs.

#include "SessionTestCase.h"

#include <QJsonArray>
#include <QSettings>
#include <QTest>

class TestE2eFaults : public SessionTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void deletedTweetLeavesTheFeed();
    void rejectedTokenMeansAForcedLoginAndGoingOn();
    void removedAccountWithdrawsEverything_data();
    void removedAccountWithdrawsEverything();
};

void TestE2eFaults::deletedTweetLeavesTheFeed()
{
    PlatformSession &session = *mSession;
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    const QString id = session.postTweet(QStringLiteral("Soon gone"));
    QVERIFY(!id.isEmpty());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 15000);
    QVERIFY(session.itemTweetIds().contains(id));

    QVERIFY(session.server().post(QStringLiteral("tweets/delete"), {{QStringLiteral("id_str"), id}}));
    QVERIFY(session.refresh());
    QTRY_VERIFY_WITH_TIMEOUT(!session.itemTweetIds().contains(id), 15000);
    // The next older tweet takes its place.
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 15000);
}

void TestE2eFaults::rejectedTokenMeansAForcedLoginAndGoingOn()
{
    PlatformSession &session = *mSession;
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 15000);
    const int checks = session.server().requestCount(QStringLiteral("/1.1/account/verify_credentials.json"));

    QVERIFY(session.server().post(QStringLiteral("faults"), {{QStringLiteral("target"), QStringLiteral("statuses/home_timeline.json")},
                                                            {QStringLiteral("status"), 401}}));
    session.feed().control().requestRefresh().waitForFinished();
    // A forced login checks the credentials with the service again.
    QTRY_COMPARE_WITH_TIMEOUT(session.logins(), 2, 15000);
    QVERIFY(session.server().requestCount(QStringLiteral("/1.1/account/verify_credentials.json")) > checks);

    const QString id = session.postTweet(QStringLiteral("After the new login"));
    QVERIFY(!id.isEmpty());
    QVERIFY(session.refresh());
    QTRY_VERIFY_WITH_TIMEOUT(session.itemTweetIds().contains(id), 15000);
}

void TestE2eFaults::removedAccountWithdrawsEverything_data()
{
    QTest::addColumn<QString>("accountKey");
    QTest::addColumn<int>("feedReplyDelay");
    QTest::newRow("account removed") << "account/present" << 0;
    QTest::newRow("account service off") << "services/account" << 0;
    QTest::newRow("feed never answers") << "account/present" << -1;
}

// Items, notifications, the cache table and the daemon's settings go, and the process
// ends with 0, even when the feed never answers the withdrawal.
void TestE2eFaults::removedAccountWithdrawsEverything()
{
    QFETCH(QString, accountKey);
    QFETCH(int, feedReplyDelay);
    PlatformSession &session = *mSession;
    session.storeLastSeenIds(QStringLiteral("1"));
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(session.storeEntries(QStringLiteral("group")).size(), 2, 15000);
    QVERIFY(session.cacheTables().contains(QStringLiteral("items")));

    session.feed().control().setReplyDelay(feedReplyDelay).waitForFinished();
    session.environment().writeAccount({{accountKey, false}});
    QVERIFY(session.daemon().waitForFinished(40000));
    QCOMPARE(session.daemon().exitStatus(), QProcess::NormalExit);
    QCOMPARE(session.daemon().exitCode(), 0);
    const QJsonObject call = session.feed().calls().last().toObject();
    QCOMPARE(call[QStringLiteral("method")].toString(), QStringLiteral("removeItemsBySourceName"));
    QCOMPARE(call[QStringLiteral("arguments")].toArray().first().toString(), QStringLiteral("Twitter"));
    if (feedReplyDelay == 0)
        QCOMPARE(session.feed().items().size(), 0);
    QVERIFY(session.storeEntries(QStringLiteral("group")).isEmpty());
    QVERIFY(session.storeEntries(QStringLiteral("notification")).isEmpty());
    QVERIFY(!session.cacheTables().contains(QStringLiteral("items")));
    QSettings settings(session.environment().daemonSettingsFile(), QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("FirstStart")).toBool(), true);
    QVERIFY(!settings.contains(QStringLiteral("LastIdMessages")));
    QVERIFY(!settings.contains(QStringLiteral("LastIdMentions")));
}

QTEST_GUILESS_MAIN(TestE2eFaults)
#include "tst_e2efaults.moc"
