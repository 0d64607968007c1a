// SPDX-License-Identifier: BSD-3-Clause
// A restart of the daemon against the same session: the cache and the stored last-seen
// ids keep it from publishing a tweet again or showing a mention twice.

#include "PlatformSession.h"

#include <QJsonArray>
#include <QTest>

class TestE2eRestart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void restartPublishesNothingTwice();

private:
    static int addItemCalls(PlatformSession &session);
};

int TestE2eRestart::addItemCalls(PlatformSession &session)
{
    int count = 0;
    for (const QJsonValue &call : session.feed().calls())
        count += call[QStringLiteral("method")] == QLatin1String("addItem") ? 1 : 0;
    return count;
}

void TestE2eRestart::restartPublishesNothingTwice()
{
    PlatformSession session;
    QVERIFY(session.start());
    session.storeLastSeenIds(QStringLiteral("1"));
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("count")].toInt(), 3, 15000);
    QCOMPARE(addItemCalls(session), 20);
    const QStringList ids = session.itemTweetIds();
    const int mentionRequests = session.server().requestCount(QStringLiteral("/1.1/statuses/mentions_timeline.json"));
    QVERIFY(mentionRequests >= 1);
    QVERIFY(session.stopDaemon());

    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    // The mentions were asked for again, since the last seen one.
    QTRY_VERIFY_WITH_TIMEOUT(
        session.server().requestCount(QStringLiteral("/1.1/statuses/mentions_timeline.json")) > mentionRequests, 15000);
    QCOMPARE(addItemCalls(session), 20);
    QCOMPARE(session.itemTweetIds(), ids);
    QCOMPARE(session.mentionsGroup()[QStringLiteral("count")].toInt(), 3);
    int mentionNotifications = 0;
    for (const QJsonObject &notification : session.storeEntries(QStringLiteral("notification")))
        mentionNotifications += notification[QStringLiteral("eventType")] == QLatin1String("mentions.service.twitter") ? 1 : 0;
    QVERIFY2(mentionNotifications <= 1, qPrintable(QString::number(mentionNotifications)));
    QVERIFY(session.stopDaemon());
}

QTEST_GUILESS_MAIN(TestE2eRestart)
#include "tst_e2erestart.moc"
