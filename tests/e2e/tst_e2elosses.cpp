// SPDX-License-Identifier: BSD-3-Clause
// Orders of events that once lost the user's data: a second login while avatars are on
// their way, a logout while the followed-only filter fetches the friends, hostile
// last-seen ids and a service that ignores since_id, notifications switched off after
// a newer one came, ids from the future by the service's clock.

#include "SessionTestCase.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QJsonArray>
#include <QSettings>
#include <QTest>

class TestE2eLosses : public SessionTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void secondLoginWhileAvatarsAreOnTheirWayLosesNoTweet();
    void logoutDuringTheFollowedOnlyFriendsFetchLosesNoMention();
    void markersMoveOnlyToRealIdsAndNothingIsNotifiedTwice();
    void idsFromTheFutureByTheServicesClockAreRefused();

private:
    bool fault(const QString &target, int delayMs, int times);
    bool postMention(const QString &screenName, const QJsonValue &following);
    QStringList mentionNotificationCounts() const;
    QString storedMarker(const QString &key) const;
};

bool TestE2eLosses::fault(const QString &target, int delayMs, int times)
{
    return mSession->server().post(QStringLiteral("faults"), {{QStringLiteral("target"), target},
                                                             {QStringLiteral("delay_ms"), delayMs},
                                                             {QStringLiteral("times"), times}});
}

bool TestE2eLosses::postMention(const QString &screenName, const QJsonValue &following)
{
    return mSession->server().post(QStringLiteral("mentions"), {{QStringLiteral("text"), QStringLiteral("@AliceInData hi")},
                                                               {QStringLiteral("screen_name"), screenName},
                                                               {QStringLiteral("following"), following}});
}

// The count of each mention notification in the store, oldest first.
QStringList TestE2eLosses::mentionNotificationCounts() const
{
    QStringList counts;
    for (const QJsonObject &entry : mSession->storeEntries(QStringLiteral("notification"))) {
        if (entry[QStringLiteral("eventType")] == QLatin1String("mentions.service.twitter"))
            counts.append(QString::number(entry[QStringLiteral("count")].toInt()));
    }
    return counts;
}

// A second login (forced by a 401) while the first session's avatar requests are held by
// the server: the second session must fetch them anew. The login follows a busy answer
// (503), whose retry 5 s later a login by a refresh makes needless.
void TestE2eLosses::secondLoginWhileAvatarsAreOnTheirWayLosesNoTweet()
{
    PlatformSession &session = *mSession;
    QSettings(session.environment().configHome() + QStringLiteral("/Halvex/gconf.conf"), QSettings::IniFormat)
        .setValue(QStringLiteral("desktop/ostra/event_feed/update_interval"), 30);
    QVERIFY(session.server().post(QStringLiteral("faults"), {{QStringLiteral("target"), QStringLiteral("account/verify_credentials.json")},
                                                            {QStringLiteral("status"), 503}}));
    QVERIFY(fault(QStringLiteral("pictures"), 8000, 0));
    QVERIFY(session.startDaemon());
    QTRY_COMPARE_WITH_TIMEOUT(session.server().requestCount(QStringLiteral("/1.1/account/verify_credentials.json")), 1, 10000);

    // Refreshes start a login once the busy answer is in; a 401 forces a second.
    QVERIFY(QTest::qWaitFor([&] {
        session.feed().control().requestRefresh().waitForFinished();
        return session.logins() >= 1;
    }, 10000));
    QVERIFY(session.server().post(QStringLiteral("faults"), {{QStringLiteral("target"), QStringLiteral("statuses/home_timeline.json")},
                                                            {QStringLiteral("status"), 401}}));
    session.feed().control().requestRefresh().waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(session.logins(), 2, 20000);
    QVERIFY(session.server().post(QStringLiteral("faults/clear")));
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(session.cachedItemIds().size(), 20, 5000);
}

// A mention whose author's "following" is unknown waits for the friends list; a forced
// login while the list is on its way must not leave it, or later ones, waiting for good.
void TestE2eLosses::logoutDuringTheFollowedOnlyFriendsFetchLosesNoMention()
{
    PlatformSession &session = *mSession;
    session.storeLastSeenIds(QStringLiteral("1"));
    session.environment().writeAccount({{QStringLiteral("settings/tw-notif-followed"), true},
                                        {QStringLiteral("settings/tw-notif-anyone"), false}});
    QVERIFY(session.server().post(QStringLiteral("friends"),
                                  {{QStringLiteral("users"), QJsonArray{QStringLiteral("zoe_first"), QStringLiteral("yan_second")}}}));
    QVERIFY(postMention(QStringLiteral("zoe_first"), QJsonValue::Null));
    QVERIFY(fault(QStringLiteral("friends/list.json"), 3000, 1));
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    const QString friendsPath = QStringLiteral("/1.1/friends/list.json");
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.server().requestCount(friendsPath), 1, 10000);

    QVERIFY(session.server().post(QStringLiteral("faults"), {{QStringLiteral("target"), QStringLiteral("statuses/home_timeline.json")},
                                                            {QStringLiteral("status"), 401}}));
    session.feed().control().requestRefresh().waitForFinished();
    QVERIFY(session.waitForLogin(2));
    QTRY_VERIFY_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("summary")].toString().contains(QStringLiteral("zoe_first")),
                             15000);

    QVERIFY(postMention(QStringLiteral("yan_second"), QJsonValue::Null));
    QVERIFY(session.refresh());
    QTRY_VERIFY_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("summary")].toString().contains(QStringLiteral("yan_second")),
                             15000);
}

// Hostile markers over the bus are refused; a service that ignores since_id repeats old
// mentions, which are not notified again; switching notifications off withdraws all.
void TestE2eLosses::markersMoveOnlyToRealIdsAndNothingIsNotifiedTwice()
{
    PlatformSession &session = *mSession;
    session.storeLastSeenIds(QStringLiteral("1"));
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(mentionNotificationCounts(), QStringList{QStringLiteral("3")}, 15000);

    const QSettings stored(session.environment().daemonSettingsFile(), QSettings::IniFormat);
    const QString marker = stored.value(QStringLiteral("LastIdMentions")).toString();
    QVERIFY(marker.size() > 1);
    QDBusInterface daemon(QStringLiteral("com.halvex.twitterostra"), QStringLiteral("/twitterostra"),
                          QStringLiteral("com.halvex.twitterostra"), session.bus().connection());
    for (const QString &hostile : {QString(40, QLatin1Char('9')), QStringLiteral("00000000000000000009"),
                                   QStringLiteral("18446744073709551616"), QStringLiteral("12abc"), QStringLiteral(" 42"),
                                   QStringLiteral("-1")})
        QVERIFY(daemon.call(QStringLiteral("updateLastId"), hostile).type() == QDBusMessage::ReplyMessage);
    QSettings again(session.environment().daemonSettingsFile(), QSettings::IniFormat);
    QCOMPARE(again.value(QStringLiteral("LastIdMentions")).toString(), marker);
    QCOMPARE(again.value(QStringLiteral("LastIdMessages")).toString().size() > 1, true);

    QVERIFY(session.server().post(QStringLiteral("since_id"), {{QStringLiteral("ignore"), true}}));
    QVERIFY(postMention(QStringLiteral("zoe_mentions"), true));
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.mentionsGroup()[QStringLiteral("count")].toInt(), 4, 15000);
    QCOMPARE(mentionNotificationCounts(), QStringList({QStringLiteral("3"), QStringLiteral("1")}));

    session.environment().writeAccount({{QStringLiteral("settings/tw-notif-main"), false}});
    QTRY_VERIFY_WITH_TIMEOUT(session.mentionsGroup().isEmpty(), 10000);
    QVERIFY(mentionNotificationCounts().isEmpty());
}

QString TestE2eLosses::storedMarker(const QString &key) const
{
    return QSettings(mSession->environment().daemonSettingsFile(), QSettings::IniFormat).value(key).toString();
}

// An id made a day from now is from the future by the service's clock (its answers'
// Date): refused over the bus, and counted as unset where it is stored already, so that
// the polls heal it. The ids the service gives stay good.
void TestE2eLosses::idsFromTheFutureByTheServicesClockAreRefused()
{
    PlatformSession &session = *mSession;
    // The service's ids hold the milliseconds since its epoch above their lowest 22 bits.
    const qint64 tomorrow = QDateTime::currentMSecsSinceEpoch() + 86400 * 1000;
    const QString future = QString::number(quint64(tomorrow - 1288834974657) << 22);
    session.storeLastSeenIds(future);
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QVERIFY(session.refresh());
    const QString mentions = QStringLiteral("LastIdMentions");
    const QString messages = QStringLiteral("LastIdMessages");
    const auto healed = [&](const QString &key) {
        const quint64 marker = storedMarker(key).toULongLong();
        return marker > 0 && marker < future.toULongLong();
    };
    QTRY_VERIFY_WITH_TIMEOUT(healed(mentions), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(healed(messages), 10000);
    QVERIFY(postMention(QStringLiteral("zoe_mentions"), true));
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(mentionNotificationCounts(), QStringList{QStringLiteral("1")}, 15000);

    QDBusInterface daemon(QStringLiteral("com.halvex.twitterostra"), QStringLiteral("/twitterostra"),
                          QStringLiteral("com.halvex.twitterostra"), session.bus().connection());
    const QString marker = storedMarker(mentions);
    for (const QString &silencing : {QStringLiteral("18446744073709551615"), future})
        QVERIFY(daemon.call(QStringLiteral("updateLastId"), silencing).type() == QDBusMessage::ReplyMessage);
    QCOMPARE(storedMarker(mentions), marker);

    // A real id moves both markers: its mention is seen, and not notified.
    QVERIFY(postMention(QStringLiteral("zoe_mentions"), true));
    const QString seen = session.server().lastAnswer().value(QStringLiteral("id_str")).toString();
    QVERIFY(daemon.call(QStringLiteral("updateLastId"), seen).type() == QDBusMessage::ReplyMessage);
    QCOMPARE(storedMarker(mentions), seen);
    QCOMPARE(storedMarker(messages), seen);
    QVERIFY(session.refresh());
    QCOMPARE(mentionNotificationCounts(), QStringList{QStringLiteral("1")});
}

QTEST_GUILESS_MAIN(TestE2eLosses)
#include "tst_e2elosses.moc"
