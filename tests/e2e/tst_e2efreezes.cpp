// SPDX-License-Identifier: BSD-3-Clause
// Work without end on the daemon's main loop: a service whose friends cursors never end
// or go round, and a notification store that another process keeps locked.

#include "SessionTestCase.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QDir>
#include <QJsonArray>
#include <QLockFile>
#include <QSettings>
#include <QTest>

class TestE2eFreezes : public SessionTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void friendsPagingEndsWithWhatArrived_data();
    void friendsPagingEndsWithWhatArrived();
    void failedImportPageEndsTheImport_data();
    void failedImportPageEndsTheImport();
    void lockedNotificationStoreNeitherBlocksNorLoses();
};

void TestE2eFreezes::friendsPagingEndsWithWhatArrived_data()
{
    QTest::addColumn<QString>("cursors");
    QTest::addColumn<int>("pages");
    QTest::newRow("endless") << QStringLiteral("endless") << 100;
    // -1, then the second page, the third, and the second again.
    QTest::newRow("cycle") << QStringLiteral("cycle") << 3;
}

// Both friends fetches, one after the other: the followed-only filter's for a mention
// whose "following" is unknown, then the contacts import.
void TestE2eFreezes::friendsPagingEndsWithWhatArrived()
{
    QFETCH(QString, cursors);
    QFETCH(int, pages);
    PlatformSession &session = *mSession;
    const QString friends = QStringLiteral("/1.1/friends/list.json");
    QVERIFY(session.server().post(QStringLiteral("friends"),
                                  {{QStringLiteral("users"), QJsonArray{QStringLiteral("AliceInData"), QStringLiteral("carol_w"),
                                                                        QStringLiteral("dave")}},
                                   {QStringLiteral("page_size"), 1},
                                   {QStringLiteral("cursors"), cursors}}));
    session.environment().writeAccount({{QStringLiteral("services/contacts"), false},
                                        {QStringLiteral("settings/tw-notif-followed"), true}});
    session.storeLastSeenIds(QStringLiteral("1"));
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    // The fixtures' mentions: AliceInData followed, dave not, carol_w unknown.
    QTRY_COMPARE_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("count")].toInt(), 2, 20000);
    QCOMPARE(session.server().requestCount(friends), pages);

    // The import is reported finished (2) with what arrived; none was before.
    const auto importState = [&] {
        return QSettings(session.environment().configHome() + QStringLiteral("/Halvex/Rosterd.ini"), QSettings::IniFormat)
            .value(QStringLiteral("twitter:AliceInData")).toInt();
    };
    session.environment().writeAccount({{QStringLiteral("services/contacts"), true}});
    QTRY_COMPARE_WITH_TIMEOUT(importState(), 2, 20000);
    QCOMPARE(session.server().requestCount(friends), 2 * pages);
    QCOMPARE(session.requestPersons(), (QStringList{QStringLiteral("@AliceInData"), QStringLiteral("@carol_w"), QStringLiteral("@dave")}));
}

void TestE2eFreezes::failedImportPageEndsTheImport_data()
{
    QTest::addColumn<QJsonObject>("fault");
    const QString friends = QStringLiteral("friends/list.json");
    QTest::newRow("500") << QJsonObject{{QStringLiteral("target"), friends}, {QStringLiteral("status"), 500}};
    QTest::newRow("not JSON") << QJsonObject{{QStringLiteral("target"), friends}, {QStringLiteral("malformed"), true}};
}

// Nothing is on its way after a failed page: the import is not left reported running.
void TestE2eFreezes::failedImportPageEndsTheImport()
{
    QFETCH(QJsonObject, fault);
    PlatformSession &session = *mSession;
    session.environment().writeAccount({{QStringLiteral("services/contacts"), false}});
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.server().post(QStringLiteral("faults"), fault));
    session.environment().writeAccount({{QStringLiteral("services/contacts"), true}});
    const QString rosterd = session.environment().configHome() + QStringLiteral("/Halvex/Rosterd.ini");
    QTRY_COMPARE_WITH_TIMEOUT(QSettings(rosterd, QSettings::IniFormat).value(QStringLiteral("twitter:AliceInData")).toInt(), 2, 20000);
    QCOMPARE(session.server().requestCount(QStringLiteral("/1.1/friends/list.json")), 1);
}

// Another process holds the store's lock for a while: the daemon answers meanwhile,
// never breaks the lock, and writes what it did once the lock is free.
void TestE2eFreezes::lockedNotificationStoreNeitherBlocksNorLoses()
{
    PlatformSession &session = *mSession;
    session.storeLastSeenIds(QStringLiteral("1"));
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.storeEntries(QStringLiteral("group")).size(), 2, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("count")].toInt(), 3, 15000);

    const QString store = session.environment().runtimeDir() + QStringLiteral("/ostra-notifications/notifications.json");
    QLockFile lock(store + QStringLiteral(".lock"));
    QVERIFY(lock.tryLock(0));
    QVERIFY(session.server().post(QStringLiteral("mentions"), {{QStringLiteral("text"), QStringLiteral("@AliceInData while locked")},
                                                               {QStringLiteral("screen_name"), QStringLiteral("zoe_mentions")}}));
    const QString mentions = QStringLiteral("/1.1/statuses/mentions_timeline.json");
    const int polls = session.server().requestCount(mentions);
    session.feed().control().requestRefresh().waitForFinished();
    QTRY_VERIFY_WITH_TIMEOUT(session.server().requestCount(mentions) > polls, 15000);
    QDBusInterface daemon(QStringLiteral("com.halvex.twitterostra"), QStringLiteral("/twitterostra"),
                          QStringLiteral("com.halvex.twitterostra"), session.bus().connection());
    daemon.setTimeout(5000);
    QCOMPARE(daemon.call(QStringLiteral("clearMessageNotifications")).type(), QDBusMessage::ReplyMessage);
    qint64 holder = 0;
    QVERIFY(lock.getLockInfo(&holder, nullptr, nullptr));
    QCOMPARE(holder, QCoreApplication::applicationPid());
    QCOMPARE(session.storeEntries(QStringLiteral("group")).size(), 2);

    lock.unlock();
    // Messages withdrawn; one mentions group, of four, with a notification for the new one.
    QTRY_COMPARE_WITH_TIMEOUT(session.storeEntries(QStringLiteral("group")).size(), 1, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("count")].toInt(), 4, 15000);
    const QList<QJsonObject> notifications = session.storeEntries(QStringLiteral("notification"));
    QCOMPARE(notifications.size(), 2);
    for (const QJsonObject &notification : notifications)
        QCOMPARE(notification[QStringLiteral("group")], session.mentionsGroup()[QStringLiteral("id")]);
}

QTEST_GUILESS_MAIN(TestE2eFreezes)
#include "tst_e2efreezes.moc"
