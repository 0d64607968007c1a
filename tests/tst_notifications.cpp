// SPDX-License-Identifier: BSD-3-Clause
// Mentions and direct messages through the handler into the session's notification
// store, with the client double answering the polls: what is shown and when, groups,
// counts, texts and actions, the followed-only filter and its friends fetch.

#include "DaemonHarness.h"
#include "Fixtures.h"
#include "NotificationHandler.h"
#include "NotificationStore.h"
#include "TwAccount.h"
#include "TwFactoryOstra.h"
#include "TwitterDouble.h"

#include <QDataStream>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

const QString Mentions = QStringLiteral("mentions.service.twitter");
const QString Messages = QStringLiteral("messages.service.twitter");

QVariantMap mention(const QString &id, const QString &name, const QString &screenName,
                    const QVariant &following = QVariant())
{
    QVariantMap user = {{QStringLiteral("name"), name}, {QStringLiteral("screen_name"), screenName}};
    if (following.isValid())
        user.insert(QStringLiteral("following"), following);
    return {{QStringLiteral("id"), id}, {QStringLiteral("text"), QStringLiteral("@ostra_owner hi")},
            {QStringLiteral("created_at"), QStringLiteral("Sun Dec 06 05:45:00 +0000 2026")},
            {QStringLiteral("user"), user}};
}

QVariantMap message(const QString &id, const QString &name, const QString &screenName)
{
    return {{QStringLiteral("id"), id}, {QStringLiteral("text"), QStringLiteral("a &lt;note&gt;")},
            {QStringLiteral("created_at"), QStringLiteral("Sun Dec 06 05:50:00 +0000 2026")},
            {QStringLiteral("sender"), QVariantMap{{QStringLiteral("name"), name}, {QStringLiteral("screen_name"), screenName}}}};
}

QVariantMap friendsPage(const QStringList &names, const QVariant &nextCursor)
{
    QVariantList users;
    for (const QString &name : names)
        users.append(QVariantMap{{QStringLiteral("screen_name"), name}});
    QVariantMap page = {{QStringLiteral("users"), users}};
    if (nextCursor.isValid())
        page.insert(QStringLiteral("next_cursor_str"), nextCursor);
    return page;
}

// Kind is "group" or "notification".
QList<QJsonObject> shown(const QString &kind, const QString &eventType)
{
    QList<QJsonObject> entries;
    for (const QJsonValue &entry : NotificationStore::storedEntries()) {
        const QJsonObject object = entry.toObject();
        if (object[QStringLiteral("kind")] == kind && object[QStringLiteral("eventType")] == eventType)
            entries.append(object);
    }
    return entries;
}

// The action's method and its decoded arguments, e.g. "showMessage bob 17".
QString action(const QJsonObject &entry)
{
    const QStringList parts = entry[QStringLiteral("action")].toString().split(QLatin1Char(' '));
    QStringList described = {parts.value(3)};
    for (const QString &argument : parts.mid(4)) {
        QByteArray bytes = QByteArray::fromBase64(argument.toLatin1());
        QDataStream stream(&bytes, QIODevice::ReadOnly);
        QVariant value;
        stream >> value;
        described.append(value.toString());
    }
    return described.join(QLatin1Char(' '));
}

// Answers a poll as a service holding items of ids total down to 2 (the marker is 1),
// by since_id, max_id and count; the page up to failAt fails.
TwitterDouble::Responder newsSince(int total, const std::function<QVariantMap(int)> &make, quint64 failAt = 0)
{
    return [=](const TwitterDouble::Request &request) {
        const quint64 maxId = request.args.value(QStringLiteral("max_id"), QString::number(total)).toULongLong();
        if (maxId == failAt) {
            TwitterDouble::Answer failure;
            failure.later = TwitterDouble::Answer::NetworkError;
            return failure;
        }
        const int count = request.args.value(QStringLiteral("count"), QStringLiteral("20")).toInt();
        QVariantList page;
        for (quint64 id = maxId; id > request.args.value(QStringLiteral("since_id")).toULongLong() && page.size() < count; --id)
            page.append(make(int(id)));
        return TwitterDouble::later(page);
    };
}

}

class TestNotifications : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void firstResultsOnlyStoreTheIds();
    void outcomesByState_data();
    void outcomesByState();
    void oneMentionShowsItself();
    void severalMentionsShowTheBanner();
    void shownMentionsCountTowardsTheTotal();
    void messagesCountThisCall();
    void pollsWithNewsDoNotPileUp();
    void refusedNotificationsKeepTheLastSeenIds();
    void followedOnlyWithoutFetch();
    void followedOnlyFetchesFriendsOverPages();
    void friendsFetchEndsOnMissingCursorOrFailure_data();
    void friendsFetchEndsOnMissingCursorOrFailure();
    void secondResultDuringAFetchJoinsTheFirst();
    void heldMentionsFollowWhatIsSaidMeanwhile_data();
    void heldMentionsFollowWhatIsSaidMeanwhile();
    void fullPagesArePagedBackUntilTheGapCloses();
    void switchingKindsOffWithdraws();
    void clearRequestsWithdrawTheirKind();
    void pollingParametersAndQueryIds();

private:
    NotificationHandler *handler() { return mHarness.daemon().findChild<NotificationHandler *>(); }
    Tw::Twitter *client() { return TwitterDouble::latestClient(); }
    void storeLastIds(const QString &messages, const QString &mentions);
    void setPreferences(bool messages, bool mentions, bool followed);
    void poll(const QVariantList &mentions, const QVariantList &messages);
    QString storedId(const QString &key) { return QSettings().value(key).toString(); }

    DaemonHarness mHarness;
};

void TestNotifications::initTestCase()
{
    QVERIFY(mHarness.start());
}

void TestNotifications::init()
{
    TwitterDouble::reset();
    QFile::remove(NotificationStore::path());
    storeLastIds(QStringLiteral("1"), QStringLiteral("1"));
    QVERIFY(mHarness.restartDaemon());
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
    setPreferences(true, true, false);
}

void TestNotifications::storeLastIds(const QString &messages, const QString &mentions)
{
    QSettings settings;
    for (const auto &entry : {qMakePair(QStringLiteral("LastIdMessages"), messages),
                              qMakePair(QStringLiteral("LastIdMentions"), mentions)}) {
        if (entry.second.isEmpty())
            settings.remove(entry.first);
        else
            settings.setValue(entry.first, entry.second);
    }
    settings.sync();
}

void TestNotifications::setPreferences(bool messages, bool mentions, bool followed)
{
    NotificationHandler *notifications = handler();
    notifications->setNotificationEnabled(NotificationHandler::TYPE_MESSAGES, messages);
    notifications->setNotificationEnabled(NotificationHandler::TYPE_MENTIONS, mentions);
    notifications->setNotificationEnabled(NotificationHandler::TYPE_FOLLOWED_ONLY, mentions && followed);
}

// A feed refresh whose polls are answered with these mentions and messages.
void TestNotifications::poll(const QVariantList &mentions, const QVariantList &messages)
{
    TwitterDouble::enqueue(TwitterDouble::Timeline, TimelineType::MentionsTimeline, TwitterDouble::later(mentions));
    TwitterDouble::enqueue(TwitterDouble::DirectMessages, DirectMessageType::ReceivedMessages, TwitterDouble::later(messages));
    QSignalSpy answered(client(), &Tw::Twitter::directMessageUpdated);
    QMetaObject::invokeMethod(&mHarness.daemon(), "onRefreshRequested");
    QVERIFY(answered.wait());
}

void TestNotifications::firstResultsOnlyStoreTheIds()
{
    storeLastIds(QString(), QString());
    const QVariantList mentions = Fixtures::load(QStringLiteral("mentions_timeline.json")).toList();
    const QVariantList messages = Fixtures::load(QStringLiteral("direct_messages.json")).toList();
    poll(mentions, messages);
    QVERIFY(NotificationStore::storedEntries().isEmpty());
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), QStringLiteral("1335096000000000451"));
    QCOMPARE(storedId(QStringLiteral("LastIdMessages")), QStringLiteral("1335097000000000019"));

    poll({}, {});
    const QMap<QString, QString> expected = {{QStringLiteral("cursor"), QStringLiteral("-1")},
                                             {QStringLiteral("screen_name"), QStringLiteral("AliceInData")}};
    QMap<QString, QString> withMentionsId = expected;
    withMentionsId.insert(QStringLiteral("since_id"), QStringLiteral("1335096000000000451"));
    QMap<QString, QString> withMessagesId = expected;
    withMessagesId.insert(QStringLiteral("since_id"), QStringLiteral("1335097000000000019"));
    const auto mentionPolls = TwitterDouble::requests(TwitterDouble::Timeline, TimelineType::MentionsTimeline);
    const auto messagePolls = TwitterDouble::requests(TwitterDouble::DirectMessages, DirectMessageType::ReceivedMessages);
    QCOMPARE(mentionPolls.first().args, expected);
    QCOMPARE(mentionPolls.last().args, withMentionsId);
    QCOMPARE(messagePolls.last().args, withMessagesId);
    QCOMPARE(messagePolls.last().behavior, int(Tw::Twitter::RETRIEVE_FROM_NETWORK));
}

void TestNotifications::outcomesByState_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<bool>("messagesOn");
    QTest::addColumn<bool>("mentionsOn");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("mentionIdMoves");
    QTest::newRow("shown") << false << true << true << true << true;
    QTest::newRow("silent") << true << true << true << false << true;
    QTest::newRow("kinds cleared") << false << false << false << false << false;
    QTest::newRow("silent, kinds cleared") << true << false << false << false << false;
}

void TestNotifications::outcomesByState()
{
    QFETCH(bool, silent);
    QFETCH(bool, messagesOn);
    QFETCH(bool, mentionsOn);
    QFETCH(bool, shown);
    QFETCH(bool, mentionIdMoves);
    // A refresh ends silent mode unless the Twitter application is running.
    const QString application = QStringLiteral("com.halvex.twitter.eventfeed");
    QDBusConnection gui = mHarness.bus().connection(QStringLiteral("twitter-application"));
    if (silent)
        QVERIFY(gui.registerService(application));
    handler()->setSilent(silent);
    setPreferences(messagesOn, mentionsOn, false);
    poll({mention(QStringLiteral("20"), QStringLiteral("Alice"), QStringLiteral("alice"))},
         {message(QStringLiteral("30"), QStringLiteral("Bob"), QStringLiteral("bob"))});
    QCOMPARE(::shown(QStringLiteral("group"), Mentions).size(), shown ? 1 : 0);
    QCOMPARE(::shown(QStringLiteral("group"), Messages).size(), shown ? 1 : 0);
    // A message id always moves on; a mention id only while mentions are on.
    QCOMPARE(storedId(QStringLiteral("LastIdMessages")), QStringLiteral("30"));
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), mentionIdMoves ? QStringLiteral("20") : QStringLiteral("1"));
    QCOMPARE(handler()->isSilent(), silent);
    gui.unregisterService(application);
}

void TestNotifications::oneMentionShowsItself()
{
    const QVariantMap first = Fixtures::load(QStringLiteral("mentions_timeline.json")).toList().first().toMap();
    poll({first}, {});
    const QList<QJsonObject> groups = shown(QStringLiteral("group"), Mentions);
    QCOMPARE(groups.size(), 1);
    const QJsonObject group = groups.first();
    QCOMPARE(group[QStringLiteral("count")].toInt(), 1);
    QCOMPARE(group[QStringLiteral("summary")].toString(), QStringLiteral("Alice Example"));
    QCOMPARE(group[QStringLiteral("body")].toString(), QStringLiteral("@ostra_owner look &lt;here&gt; &amp; there"));
    QCOMPARE(action(group), QStringLiteral("showMention 1335096000000000451"));
    QVERIFY(group[QStringLiteral("action")].toString().startsWith(
        QStringLiteral("com.halvex.twitter.openmentiontw /OpenMention com.halvex.twitter.openmentiontw showMention ")));

    const QList<QJsonObject> notifications = shown(QStringLiteral("notification"), Mentions);
    QCOMPARE(notifications.size(), 1);
    const QJsonObject notification = notifications.first();
    QCOMPARE(notification[QStringLiteral("count")].toInt(), 1);
    QCOMPARE(notification[QStringLiteral("body")].toString(), QStringLiteral("1 new mention"));
    QCOMPARE(notification[QStringLiteral("image")].toString(), QStringLiteral("icon-s-conversation-twitter"));
    QCOMPARE(notification[QStringLiteral("group")].toInt(), group[QStringLiteral("id")].toInt());
    QCOMPARE(notification[QStringLiteral("application")].toString(), QStringLiteral("Twitter"));
    QCOMPARE(QDateTime::fromString(notification[QStringLiteral("timestamp")].toString(), Qt::ISODate).toUTC(),
             QDateTime(QDate(2026, 12, 6), QTime(5, 45), Qt::UTC));
}

void TestNotifications::severalMentionsShowTheBanner()
{
    poll({mention(QStringLiteral("23"), QStringLiteral("Alice"), QStringLiteral("alice")),
          mention(QStringLiteral("22"), QStringLiteral("Dave"), QStringLiteral("dave")),
          mention(QStringLiteral("21"), QStringLiteral("Alice"), QStringLiteral("alice"))}, {});
    const QJsonObject group = shown(QStringLiteral("group"), Mentions).first();
    QCOMPARE(group[QStringLiteral("count")].toInt(), 3);
    QCOMPARE(group[QStringLiteral("body")].toString(), QStringLiteral("3 new mentions"));
    QCOMPARE(group[QStringLiteral("summary")].toString(), QStringLiteral("Alice, Dave"));
    QCOMPARE(action(group), QStringLiteral("showMentions"));
    const QJsonObject notification = shown(QStringLiteral("notification"), Mentions).first();
    QCOMPARE(notification[QStringLiteral("count")].toInt(), 3);
    QCOMPARE(notification[QStringLiteral("body")].toString(), QStringLiteral("3 new mentions"));
}

void TestNotifications::shownMentionsCountTowardsTheTotal()
{
    poll({mention(QStringLiteral("22"), QStringLiteral("Alice"), QStringLiteral("alice")),
          mention(QStringLiteral("21"), QStringLiteral("Dave"), QStringLiteral("dave"))}, {});
    poll({mention(QStringLiteral("24"), QStringLiteral("Erin"), QStringLiteral("erin"))}, {});
    const QList<QJsonObject> groups = shown(QStringLiteral("group"), Mentions);
    QCOMPARE(groups.size(), 1);
    QCOMPARE(groups.first()[QStringLiteral("count")].toInt(), 3);
    QCOMPARE(groups.first()[QStringLiteral("summary")].toString(), QStringLiteral("Alice, Dave, Erin"));
    const QList<QJsonObject> notifications = shown(QStringLiteral("notification"), Mentions);
    QCOMPARE(notifications.size(), 2);
    QCOMPARE(notifications.last()[QStringLiteral("count")].toInt(), 1);
    QCOMPARE(notifications.last()[QStringLiteral("body")].toString(), QStringLiteral("3 new mentions"));
}

void TestNotifications::messagesCountThisCall()
{
    poll({}, {message(QStringLiteral("31"), QStringLiteral("Bob"), QStringLiteral("bob"))});
    QJsonObject group = shown(QStringLiteral("group"), Messages).first();
    QCOMPARE(group[QStringLiteral("summary")].toString(), QStringLiteral("Bob"));
    QCOMPARE(group[QStringLiteral("body")].toString(), QStringLiteral("a &lt;note&gt;"));
    QCOMPARE(action(group), QStringLiteral("showMessage bob 31"));

    poll({}, {message(QStringLiteral("33"), QStringLiteral("Alice"), QStringLiteral("alice")),
              message(QStringLiteral("32"), QStringLiteral("Bob"), QStringLiteral("bob"))});
    group = shown(QStringLiteral("group"), Messages).first();
    QCOMPARE(group[QStringLiteral("count")].toInt(), 3);
    QCOMPARE(group[QStringLiteral("body")].toString(), QStringLiteral("3 new messages"));
    QCOMPARE(group[QStringLiteral("summary")].toString(), QStringLiteral("Bob, Alice"));
    QCOMPARE(action(group), QStringLiteral("showDirectMessages"));
    const QJsonObject latest = shown(QStringLiteral("notification"), Messages).last();
    QCOMPARE(latest[QStringLiteral("count")].toInt(), 2);
    QCOMPARE(latest[QStringLiteral("body")].toString(), QStringLiteral("2 new messages"));
}

// Each poll with news adds one notification per kind; the older ones fold into one that
// carries their summed count, so that the store holds a few entries per kind however many
// polls come, and every item is counted once.
void TestNotifications::pollsWithNewsDoNotPileUp()
{
    const int polls = 2000;
    for (int i = 1; i <= polls; ++i) {
        const QString id = QString::number(100 + i);
        poll({mention(id, QStringLiteral("Alice"), QStringLiteral("alice"))}, {message(id, QStringLiteral("Bob"), QStringLiteral("bob"))});
    }
    for (const QString &kind : {Mentions, Messages}) {
        QCOMPARE(shown(QStringLiteral("group"), kind).first()[QStringLiteral("count")].toInt(), polls);
        const QList<QJsonObject> notifications = shown(QStringLiteral("notification"), kind);
        QCOMPARE(notifications.size(), 2);
        QCOMPARE(notifications.first()[QStringLiteral("count")].toInt(), polls - 1);
        QCOMPARE(notifications.last()[QStringLiteral("count")].toInt(), 1);
    }
    QCOMPARE(shown(QStringLiteral("notification"), Mentions).last()[QStringLiteral("body")].toString(), QStringLiteral("2000 new mentions"));
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), QString::number(100 + polls));
}

// A store full of other applications' notifications refuses the new ones: their ids are
// not recorded, so that the next poll brings them again, shown once there is room.
void TestNotifications::refusedNotificationsKeepTheLastSeenIds()
{
    QJsonArray others;
    for (int id = 1; id <= NotificationStore::MaxEntries; ++id)
        others.append(QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("application"), QStringLiteral("other")},
                                  {QStringLiteral("kind"), QStringLiteral("notification")}});
    QFile store(NotificationStore::path());
    QVERIFY(store.open(QIODevice::WriteOnly));
    store.write(QJsonDocument(QJsonObject{{QStringLiteral("entries"), others}}).toJson());
    store.close();
    const QVariantList mentions = {mention(QStringLiteral("51"), QStringLiteral("Alice"), QStringLiteral("alice"))};
    const QVariantList messages = {message(QStringLiteral("52"), QStringLiteral("Bob"), QStringLiteral("bob"))};
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("store full")));
    poll(mentions, messages);
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), QStringLiteral("1"));
    QCOMPARE(storedId(QStringLiteral("LastIdMessages")), QStringLiteral("1"));

    QVERIFY(QFile::remove(NotificationStore::path()));
    poll(mentions, messages);
    QCOMPARE(shown(QStringLiteral("notification"), Mentions).size(), 1);
    QCOMPARE(shown(QStringLiteral("notification"), Messages).size(), 1);
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), QStringLiteral("51"));
    QCOMPARE(storedId(QStringLiteral("LastIdMessages")), QStringLiteral("52"));
}

void TestNotifications::followedOnlyWithoutFetch()
{
    setPreferences(true, true, true);
    poll({mention(QStringLiteral("41"), QStringLiteral("Alice"), QStringLiteral("alice"), true),
          mention(QStringLiteral("40"), QStringLiteral("Dave"), QStringLiteral("dave"), false)}, {});
    // Decided by "following" alone: no fetch, and alice is shown although the friends
    // list was never fetched.
    QVERIFY(TwitterDouble::networkRequests(TwitterDouble::User, UserType::FriendsList).isEmpty());
    QCOMPARE(shown(QStringLiteral("group"), Mentions).first()[QStringLiteral("summary")].toString(), QStringLiteral("Alice"));
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), QStringLiteral("41"));
}

void TestNotifications::followedOnlyFetchesFriendsOverPages()
{
    setPreferences(true, true, true);
    TwitterDouble::setResponder(TwitterDouble::User, UserType::FriendsList, [](const TwitterDouble::Request &request) {
        const QString cursor = request.args.value(QStringLiteral("cursor"));
        if (cursor == QLatin1String("-1"))
            return TwitterDouble::later({friendsPage({QStringLiteral("AliceInData"), QStringLiteral("bob")}, QStringLiteral("100"))});
        if (cursor == QLatin1String("100"))
            return TwitterDouble::later({friendsPage({QStringLiteral("ostra_owner")}, QStringLiteral("200"))});
        return TwitterDouble::later({friendsPage({QStringLiteral("carol_w")}, QStringLiteral("0"))});
    });
    QSignalSpy fetched(&mHarness.daemon(), &TwitterDaemon::friendsFetched);
    poll(Fixtures::load(QStringLiteral("mentions_timeline.json")).toList(), {});
    QVERIFY(fetched.wait());
    QCOMPARE(fetched.count(), 1);
    QCOMPARE(mHarness.daemon().friendScreenNames(),
             QStringList({QStringLiteral("AliceInData"), QStringLiteral("bob"), QStringLiteral("ostra_owner"), QStringLiteral("carol_w")}));
    // Dave ("following" false) is filtered out; Alice (true) and Carol (unknown) are friends.
    const QJsonObject group = shown(QStringLiteral("group"), Mentions).first();
    QCOMPARE(group[QStringLiteral("summary")].toString(), QStringLiteral("Alice Example, Carol W"));
    QCOMPARE(group[QStringLiteral("count")].toInt(), 2);
    // The next fetch gathers the list anew.
    poll({mention(QStringLiteral("1335096000000000452"), QStringLiteral("Bob"), QStringLiteral("bob"))}, {});
    QVERIFY(fetched.wait());
    QCOMPARE(mHarness.daemon().friendScreenNames().size(), 4);
}

void TestNotifications::friendsFetchEndsOnMissingCursorOrFailure_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<qint64>("retryAfterMs");
    QTest::addColumn<int>("pages");
    QTest::newRow("no cursor") << "missing" << 0LL << 2;
    QTest::newRow("empty cursor") << "empty" << 0LL << 2;
    // Decided by a part of the list, the mention could be lost: it waits, unrecorded, for
    // the next poll, whose fetch has the whole list.
    QTest::newRow("failed page") << "failure" << 0LL << 4;
    // The refused page is asked for again once the window resets, and the fetch goes on.
    QTest::newRow("rate limit, window resets") << "rate limit" << 2000LL << 3;
    // Held mentions do not wait beyond the bound: decided with the names that arrived.
    QTest::newRow("rate limit, beyond the bound") << "rate limit" << 30 * 60 * 1000LL << 2;
}

void TestNotifications::friendsFetchEndsOnMissingCursorOrFailure()
{
    QFETCH(QString, ending);
    QFETCH(qint64, retryAfterMs);
    QFETCH(int, pages);
    setPreferences(true, true, true);
    bool failOnce = ending == QLatin1String("failure") || ending == QLatin1String("rate limit");
    TwitterDouble::setResponder(TwitterDouble::User, UserType::FriendsList, [&](const TwitterDouble::Request &request) {
        if (request.args.value(QStringLiteral("cursor")) == QLatin1String("-1"))
            return TwitterDouble::later({friendsPage({QStringLiteral("carol_w")}, QStringLiteral("100"))});
        if (std::exchange(failOnce, false)) {
            TwitterDouble::Answer failure;
            failure.later = TwitterDouble::Answer::NetworkError;
            if (retryAfterMs > 0)
                failure.laterError = {{QStringLiteral("http_status"), 429}, {QStringLiteral("retry_after_ms"), retryAfterMs}};
            return failure;
        }
        const QVariant last = ending == QLatin1String("empty") ? QVariant(QString())
            : ending == QLatin1String("missing")             ? QVariant()
                                                              : QVariant(QStringLiteral("0"));
        return TwitterDouble::later({friendsPage({QStringLiteral("dave")}, last)});
    });
    QSignalSpy fetched(&mHarness.daemon(), &TwitterDaemon::friendsFetched);
    QTimer *resume = mHarness.timer(QStringLiteral("mentionFriendsResumeTimer"));
    const QVariantMap carol = mention(QStringLiteral("50"), QStringLiteral("Carol W"), QStringLiteral("carol_w"));
    poll({carol}, {});
    if (ending == QLatin1String("failure")) {
        // Told once, as every fetch that ends, yet deciding nothing.
        QTRY_COMPARE(fetched.count(), 1);
        QVERIFY(shown(QStringLiteral("group"), Mentions).isEmpty());
        QCOMPARE(storedId(QStringLiteral("LastIdMentions")), QStringLiteral("1"));
        fetched.clear();
        poll({carol}, {});
    }
    if (pages == 3) {
        QTRY_VERIFY(resume->isActive());
        QVERIFY(resume->remainingTime() > 1900 && resume->remainingTime() <= 2050);
        QVERIFY(fetched.isEmpty());
        QVERIFY(shown(QStringLiteral("group"), Mentions).isEmpty());
        resume->start(0);
    }
    QVERIFY(fetched.wait());
    QCoreApplication::processEvents();
    QCOMPARE(fetched.count(), 1);
    const auto requests = TwitterDouble::networkRequests(TwitterDouble::User, UserType::FriendsList);
    QCOMPARE(requests.size(), pages);
    QCOMPARE(requests.last().args.value(QStringLiteral("cursor")), QStringLiteral("100"));
    QCOMPARE(requests.last().args.value(QStringLiteral("count")), QStringLiteral("200"));
    QCOMPARE(shown(QStringLiteral("group"), Mentions).size(), 1);
    QCOMPARE(shown(QStringLiteral("group"), Mentions).first()[QStringLiteral("count")].toInt(), 1);
}

void TestNotifications::secondResultDuringAFetchJoinsTheFirst()
{
    setPreferences(true, true, true);
    TwitterDouble::setDefault(TwitterDouble::User, UserType::FriendsList, TwitterDouble::Answer());
    const QString before = storedId(QStringLiteral("LastIdMentions"));
    const QVariant alice = mention(QStringLiteral("61"), QStringLiteral("Alice"), QStringLiteral("alice"));
    poll({alice}, {});
    // Held, their id is not recorded: should the daemon end during the fetch, the next
    // poll brings them again; the poll during the fetch does, and each is shown once.
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), before);
    poll({mention(QStringLiteral("62"), QStringLiteral("Bob"), QStringLiteral("bob")), alice}, {});
    const auto pages = TwitterDouble::networkRequests(TwitterDouble::User, UserType::FriendsList);
    QCOMPARE(pages.size(), 1); // the fetch under way serves the second result too
    emit client()->userUpdated(UserType::FriendsList,
                               {friendsPage({QStringLiteral("alice"), QStringLiteral("bob")}, QStringLiteral("0"))},
                               pages.first().queryId);
    const QJsonObject group = shown(QStringLiteral("group"), Mentions).first();
    QCOMPARE(group[QStringLiteral("summary")].toString(), QStringLiteral("Bob, Alice"));
    QCOMPARE(group[QStringLiteral("count")].toInt(), 2);
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), QStringLiteral("62"));
}

void TestNotifications::heldMentionsFollowWhatIsSaidMeanwhile_data()
{
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("recorded");
    // Off, they wait for their kind as mentions that come while it is off; silent, they
    // are passed over for good.
    QTest::newRow("mentions off") << "mentions off" << "1";
    QTest::newRow("notifications off") << "notifications off" << "1";
    QTest::newRow("suspended") << "suspended" << "61";
}

// The friends list for held mentions comes after the user or the application said so.
void TestNotifications::heldMentionsFollowWhatIsSaidMeanwhile()
{
    QFETCH(QString, said);
    QFETCH(QString, recorded);
    setPreferences(true, true, true);
    TwitterDouble::setDefault(TwitterDouble::User, UserType::FriendsList, TwitterDouble::Answer());
    QSignalSpy fetched(&mHarness.daemon(), &TwitterDaemon::friendsFetched);
    poll({mention(QStringLiteral("61"), QStringLiteral("Alice"), QStringLiteral("alice"))}, {});
    if (said == QLatin1String("mentions off"))
        handler()->setNotificationEnabled(NotificationHandler::TYPE_MENTIONS, false);
    else if (said == QLatin1String("notifications off"))
        handler()->disableNotifications();
    else
        QMetaObject::invokeMethod(&mHarness.daemon(), "suspendNotifications", Q_ARG(bool, true));
    const auto pages = TwitterDouble::networkRequests(TwitterDouble::User, UserType::FriendsList);
    QCOMPARE(pages.size(), 1);
    emit client()->userUpdated(UserType::FriendsList, {friendsPage({QStringLiteral("alice")}, QStringLiteral("0"))},
                               pages.first().queryId);
    QCOMPARE(fetched.count(), 1);
    QVERIFY(shown(QStringLiteral("group"), Mentions).isEmpty());
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), recorded);
}

void TestNotifications::fullPagesArePagedBackUntilTheGapCloses()
{
    const auto mentionOf = [](int id) { return mention(QString::number(id), QStringLiteral("Alice"), QStringLiteral("alice")); };
    const auto messageOf = [](int id) { return message(QString::number(id), QStringLiteral("Bob"), QStringLiteral("bob")); };
    // 46 mentions since the marker: the older page fails, so nothing is notified nor
    // recorded; the next poll brings them all, once.
    TwitterDouble::setResponder(TwitterDouble::Timeline, TimelineType::MentionsTimeline, newsSince(47, mentionOf, 27));
    // More messages than ten pages hold: the poll ends after ten.
    TwitterDouble::setResponder(TwitterDouble::DirectMessages, DirectMessageType::ReceivedMessages, newsSince(5000, messageOf));
    QMetaObject::invokeMethod(&mHarness.daemon(), "onRefreshRequested");
    QTRY_COMPARE(TwitterDouble::networkRequests(TwitterDouble::DirectMessages, DirectMessageType::ReceivedMessages).size(), 10);
    QTRY_COMPARE(shown(QStringLiteral("group"), Messages).value(0)[QStringLiteral("count")].toInt(), 20 + 9 * 200);
    QCOMPARE(storedId(QStringLiteral("LastIdMessages")), QStringLiteral("5000"));
    const auto mentionPolls = TwitterDouble::networkRequests(TwitterDouble::Timeline, TimelineType::MentionsTimeline);
    QCOMPARE(mentionPolls.size(), 2);
    QCOMPARE(mentionPolls.last().args, (QMap<QString, QString>{{QStringLiteral("cursor"), QStringLiteral("-1")},
                                                                {QStringLiteral("screen_name"), QStringLiteral("AliceInData")},
                                                                {QStringLiteral("since_id"), QStringLiteral("1")},
                                                                {QStringLiteral("max_id"), QStringLiteral("27")},
                                                                {QStringLiteral("count"), QStringLiteral("200")}}));
    QVERIFY(shown(QStringLiteral("group"), Mentions).isEmpty());
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), QStringLiteral("1"));

    TwitterDouble::setResponder(TwitterDouble::Timeline, TimelineType::MentionsTimeline, newsSince(47, mentionOf));
    QMetaObject::invokeMethod(&mHarness.daemon(), "onRefreshRequested");
    QTRY_COMPARE(shown(QStringLiteral("group"), Mentions).value(0)[QStringLiteral("count")].toInt(), 46);
    QCOMPARE(shown(QStringLiteral("notification"), Mentions).size(), 1);
    QCOMPARE(storedId(QStringLiteral("LastIdMentions")), QStringLiteral("47"));
}

void TestNotifications::switchingKindsOffWithdraws()
{
    poll({mention(QStringLiteral("70"), QStringLiteral("Alice"), QStringLiteral("alice"))},
         {message(QStringLiteral("71"), QStringLiteral("Bob"), QStringLiteral("bob"))});
    handler()->setNotificationEnabled(NotificationHandler::TYPE_MESSAGES, false);
    QVERIFY(shown(QStringLiteral("group"), Messages).isEmpty());
    QVERIFY(shown(QStringLiteral("notification"), Messages).isEmpty());
    QCOMPARE(shown(QStringLiteral("notification"), Mentions).size(), 1);
    handler()->setNotificationEnabled(NotificationHandler::TYPE_MESSAGES, true);
    QVERIFY(shown(QStringLiteral("group"), Messages).isEmpty());

    // Main off withdraws everything, also what the latest result published.
    setPreferences(true, true, false);
    poll({mention(QStringLiteral("72"), QStringLiteral("Carol"), QStringLiteral("carol"))}, {});
    handler()->disableNotifications();
    QVERIFY(shown(QStringLiteral("group"), Mentions).isEmpty());
    QVERIFY(shown(QStringLiteral("notification"), Mentions).isEmpty());
    QCOMPARE(handler()->enabledTypes(), 0u);
}

void TestNotifications::clearRequestsWithdrawTheirKind()
{
    poll({mention(QStringLiteral("80"), QStringLiteral("Alice"), QStringLiteral("alice"))},
         {message(QStringLiteral("81"), QStringLiteral("Bob"), QStringLiteral("bob"))});
    QMetaObject::invokeMethod(&mHarness.daemon(), "clearMentionNotifications");
    QVERIFY(shown(QStringLiteral("group"), Mentions).isEmpty());
    QVERIFY(shown(QStringLiteral("notification"), Mentions).isEmpty());
    QCOMPARE(shown(QStringLiteral("group"), Messages).size(), 1);
    QMetaObject::invokeMethod(&mHarness.daemon(), "clearMessageNotifications");
    QVERIFY(NotificationStore::storedEntries().isEmpty());
}

void TestNotifications::pollingParametersAndQueryIds()
{
    // Two polls before an answer: the first one's answer is dropped.
    TwitterDouble::setDefault(TwitterDouble::Timeline, TimelineType::MentionsTimeline, TwitterDouble::Answer());
    QMetaObject::invokeMethod(&mHarness.daemon(), "onRefreshRequested");
    QMetaObject::invokeMethod(&mHarness.daemon(), "onRefreshRequested");
    const auto polls = TwitterDouble::requests(TwitterDouble::Timeline, TimelineType::MentionsTimeline);
    QCOMPARE(polls.size(), 2);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("improper queryId$")));
    emit client()->timelineUpdated(TimelineType::MentionsTimeline,
                                   {mention(QStringLiteral("90"), QStringLiteral("Old"), QStringLiteral("old"))}, polls.first().queryId);
    QVERIFY(shown(QStringLiteral("group"), Mentions).isEmpty());
    emit client()->timelineUpdated(TimelineType::MentionsTimeline,
                                   {mention(QStringLiteral("91"), QStringLiteral("New"), QStringLiteral("new"))}, polls.last().queryId);
    QCOMPARE(shown(QStringLiteral("group"), Mentions).first()[QStringLiteral("summary")].toString(), QStringLiteral("New"));

    // With the notifications service off nothing is polled.
    QSignalSpy switched(TwOstra::TwFactoryOstra::getInstance()->account(), &TwAccount::accountStateChanged);
    mHarness.environment().writeAccount({{QStringLiteral("services/notifications"), false}});
    QVERIFY(switched.wait());
    QMetaObject::invokeMethod(&mHarness.daemon(), "onRefreshRequested");
    QCOMPARE(TwitterDouble::requests(TwitterDouble::Timeline, TimelineType::MentionsTimeline).size(), 2);
    QCOMPARE(TwitterDouble::requests(TwitterDouble::DirectMessages, DirectMessageType::ReceivedMessages).size(), 2);
    mHarness.environment().writeAccount({{QStringLiteral("services/notifications"), true}});
    QVERIFY(switched.wait());
}

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
