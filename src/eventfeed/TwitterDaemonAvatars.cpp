// Avatars: timeline tweets wait for their author's avatar, friends' avatars are fetched
// ahead for the contacts; one network request per screen name at a time.

#include "TwitterDaemon.h"

#include "TwAccount.h"
#include "Twitter.h"
#include "TwitterPlugin.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>

namespace {

const QString ScreenNameKey = QStringLiteral("screen_name");
const QString LastCursor = QStringLiteral("0");
const QString FirstCursor = QStringLiteral("-1");

QString screenName(const QVariantMap &person)
{
    return person.value(ScreenNameKey).toString();
}

}

// The person shown for a tweet: for a retweet the retweeted tweet's author.
QVariantMap TwitterDaemon::author(const QVariantMap &tweet)
{
    const QVariant retweeted = tweet.value(QStringLiteral("retweeted_status"));
    const QVariantMap shown = retweeted.isValid() ? retweeted.toMap() : tweet;
    return shown.value(QStringLiteral("user")).toMap();
}

QMap<QString, QString> TwitterDaemon::avatarParameters(const QVariantMap &person)
{
    QString url = person.value(QStringLiteral("profile_image_url")).toString();
    url.replace(QStringLiteral("_normal."), QStringLiteral("_bigger."));
    return {{ScreenNameKey, screenName(person)}, {QStringLiteral("url"), url},
            {QStringLiteral("size"), QStringLiteral("bigger")}};
}

// The query id of the avatar request in flight for this screen name, made now when
// there is none; -1 when the client refuses it. *requested tells a new request.
int TwitterDaemon::avatarQuery(const QMap<QString, QString> &parameters, bool *requested)
{
    *requested = false;
    const QString key = parameters.value(ScreenNameKey).toLower();
    if (mAvatarQueries.contains(key))
        return mAvatarQueries.value(key);
    qDebug() << Q_FUNC_INFO << "Query avatar for" << parameters.value(ScreenNameKey);
    QVariantList result;
    int queryId = -1;
    if (mTwitter->retrieveUserResources(&result, &queryId, UserType::Avatar, parameters,
                                        Tw::Twitter::RETRIEVE_FROM_NETWORK)
        != Tw::Twitter::RETRIEVE_OK) {
        qCritical() << Q_FUNC_INFO << "retrieveUserResources returned != ok";
        return -1;
    }
    mAvatarQueries.insert(key, queryId);
    *requested = true;
    return queryId;
}

// The client's cached avatar for these parameters: a one-element list holding its path,
// or an empty path when it is not cached.
QVariantList TwitterDaemon::cachedAvatar(const QMap<QString, QString> &parameters)
{
    QVariantList cached;
    int queryId = -1;
    if (mTwitter->retrieveUserResources(&cached, &queryId, UserType::Avatar, parameters, Tw::Twitter::RETRIEVE_FROM_CACHE)
        != Tw::Twitter::RETRIEVE_OK)
        qCritical() << Q_FUNC_INFO << "retrieveUserResources from cache returned != ok";
    return cached;
}

void TwitterDaemon::waitForTimelineAvatar(const QVariant &tweet, const QMap<QString, QString> &parameters)
{
    // A refresh while the avatar is on its way finds the tweet again: it waits once.
    const QVariant id = tweet.toMap().value(QStringLiteral("id"));
    const bool waiting = std::any_of(mTweetsWaitingForAvatar.cbegin(), mTweetsWaitingForAvatar.cend(),
                                     [&id](const QVariant &other) { return other.toMap().value(QStringLiteral("id")) == id; });
    if (!waiting)
        mTweetsWaitingForAvatar.append(tweet);
    bool requested = false;
    const int queryId = avatarQuery(parameters, &requested);
    if (queryId == -1 && !requested)
        return; // refused: the tweet keeps waiting
    if (!requested && mAvatarQueryIds.contains(queryId))
        return;
    mAvatarQueryIds.insert(queryId, parameters.value(ScreenNameKey));
    qDebug() << Q_FUNC_INFO << (requested ? "mAvatarQueryIds add:" : "mAvatarQueryIds link:") << queryId
             << ", count: " << mAvatarQueryIds.size();
}

void TwitterDaemon::onUserUpdated(const UserType::UserType &type, const QVariantList &data, int queryId)
{
    qDebug() << Q_FUNC_INFO;
    if (type == UserType::FriendsList) {
        onFriendsPage(data, queryId);
        return;
    }
    if (type != UserType::ProfileImage && type != UserType::Avatar)
        return;
    qDebug() << Q_FUNC_INFO << "Got avatar" << data;

    if (mAvatarQueryIds.contains(queryId)) {
        qDebug() << Q_FUNC_INFO << "Avatar query ID match";
        const QString name = mAvatarQueryIds.take(queryId);
        mAvatarQueries.remove(name.toLower());
        releaseTweetsWaitingFor(name, data.value(0).toString());
        if (mAvatarQueryIds.isEmpty()) {
            mTimelineQueryId = -1;
            qDebug() << Q_FUNC_INFO << "All needed (timeline) avatars fetched from network";
        }
    }
    if (mFriendAvatarQueryIds.contains(queryId)) {
        qDebug() << Q_FUNC_INFO << "Friend avatar query ID match";
        mAvatarQueries.remove(mFriendAvatarQueryIds.take(queryId).toLower());
        checkFriendAvatarsDone();
    }
}

// Publishes, in their order, the waiting tweets whose author has exactly this screen name.
void TwitterDaemon::releaseTweetsWaitingFor(const QString &name, const QString &avatar)
{
    const QVariantList waiting = mTweetsWaitingForAvatar;
    for (const QVariant &tweet : waiting) {
        if (screenName(author(tweet.toMap())) != name)
            continue;
        mTweetsWaitingForAvatar.removeOne(tweet);
        publishTweet(tweet.toMap(), avatar);
    }
}

void TwitterDaemon::onFriendsPage(const QVariantList &data, int queryId)
{
    const QVariantMap page = data.value(0).toMap();
    const QVariantList users = page.value(QStringLiteral("users")).toList();
    qDebug() << Q_FUNC_INFO << "Got friends" << users.size();
    if (mFetchingMentionFriends && queryId == mMentionFriendsQueryId) {
        handleFriendResults(data);
        return;
    }
    for (const QVariant &user : users)
        prefetchFriendAvatar(user.toMap());

    const QString cursor = page.value(QStringLiteral("next_cursor_str")).toString();
    qDebug() << Q_FUNC_INFO << "Query more friends";
    if (queryId == mFriendsQueryId)
        mFriendsQueryId = -1;
    const bool lastPage = !followFriendsCursor(mFriendsCursors, cursor, Q_FUNC_INFO);
    if (!lastPage && mFriendsQueryId == -1)
        requestFriendsPage(cursor, &mFriendsQueryId);
    if (lastPage)
        checkFriendAvatarsDone();
}

void TwitterDaemon::prefetchFriendAvatar(const QVariantMap &user)
{
    const QMap<QString, QString> parameters = avatarParameters(user);
    qDebug() << Q_FUNC_INFO << "Friend name:" << screenName(user);
    const QVariantList cached = cachedAvatar(parameters);
    if (cached.isEmpty() || !cached.first().toString().isEmpty())
        return;

    bool requested = false;
    const int queryId = avatarQuery(parameters, &requested);
    if (requested) {
        mFriendAvatarQueryIds.insert(queryId, screenName(user));
        qDebug() << Q_FUNC_INFO << "mFriendAvatarQueryIds count: " << mFriendAvatarQueryIds.size();
        // The prefetch ends at the latest a minute after its last request.
        mAvatarTimer->start();
    } else if (queryId != -1 && !mFriendAvatarQueryIds.contains(queryId)) {
        mFriendAvatarQueryIds.insert(queryId, screenName(user));
        qDebug() << Q_FUNC_INFO << "mFriendAvatarQueryIds link:" << queryId << ", count: "
                 << mFriendAvatarQueryIds.size();
    }
}

void TwitterDaemon::checkFriendAvatarsDone()
{
    mAvatarTimer->stop();
    if (!mAccount->isServiceEnabled(TwServiceType::SERVICE_CONTACTS))
        return;
    if (!mFriendAvatarQueryIds.isEmpty() || mFriendsQueryId != -1) {
        mAvatarTimer->start();
        return;
    }
    finishContactsUpdate();
}

void TwitterDaemon::avatarTimeout()
{
    if (mFriendAvatarQueryIds.isEmpty())
        return;
    qWarning() << Q_FUNC_INFO << "Got timeout fetching avatars. Removing requests:" << mFriendAvatarQueryIds;
    mFriendAvatarQueryIds.clear();
    finishContactsUpdate();
}

// Friends and their avatars are settled: the contacts may take them.
void TwitterDaemon::finishContactsUpdate()
{
    if (mPlugin)
        mPlugin->updateData(true, mFirstStart || mContactsUpdatePending);
    mContactsUpdatePending = false;
}

void TwitterDaemon::retrieveFriends()
{
    qDebug() << Q_FUNC_INFO;
    if (!mLoggedIn)
        return;
    int queryId = -1;
    mFriendsCursors = {FirstCursor};
    requestFriendsPage(FirstCursor, &queryId);
}

// Whether a friends fetch that has asked for the cursors in asked goes on to the page of
// this one; if so it is added. The fetch ends at the last page, and at a page without a
// cursor, a cursor asked for before or the page limit, each with a warning: asking on
// would start over or go round without end.
bool TwitterDaemon::followFriendsCursor(QSet<QString> &asked, const QString &cursor, const char *caller)
{
    if (cursor == LastCursor)
        return false;
    if (cursor.isEmpty()) {
        qWarning() << caller << "friends page without next_cursor_str, taken as the last";
        return false;
    }
    if (asked.contains(cursor)) {
        qWarning() << caller << "friends cursor" << cursor << "asked for before in this fetch, taken as the last page";
        return false;
    }
    if (asked.size() >= Tw::Twitter::MaxFriendsPages) {
        qWarning() << caller << "friends fetch ended after" << asked.size() << "pages, the cursors go on";
        return false;
    }
    asked.insert(cursor);
    return true;
}

void TwitterDaemon::requestFriendsPage(const QString &cursor, int *queryId)
{
    if (!mTwitter) {
        qCritical() << Q_FUNC_INFO << "mTwitter == NULL";
        return;
    }
    const QMap<QString, QString> parameters = {{QStringLiteral("cursor"), cursor}, {ScreenNameKey, mUserName}};
    QVariantList result;
    if (mTwitter->retrieveUserResources(&result, queryId, UserType::FriendsList, parameters,
                                        Tw::Twitter::RETRIEVE_FROM_NETWORK)
        != Tw::Twitter::RETRIEVE_OK)
        qCritical() << Q_FUNC_INFO << "retrieveUserResources returned != ok";
}
