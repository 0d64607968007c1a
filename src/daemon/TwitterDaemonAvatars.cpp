// SPDX-License-Identifier: BSD-3-Clause
// Avatars: timeline tweets wait for their author's avatar; one network request per screen
// name at a time, shared with the friends' avatars fetched ahead for the contacts.

#include "TwitterDaemon.h"

#include "TweetMarkup.h"
#include "Twitter.h"
#include "TwitterOstra.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>

namespace {
const QString ScreenNameKey = QString::fromLatin1(Tw::Twitter::ScreenNameKey);
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
    QString url = EventFeed::pictureAddress(person, QStringLiteral("profile_image_url"));
    url.replace(QStringLiteral("_normal."), QStringLiteral("_bigger."));
    return {{ScreenNameKey, Tw::Twitter::screenName(person)}, {QStringLiteral("url"), url},
            {QStringLiteral("size"), QStringLiteral("bigger")}};
}

// The query id of the avatar request in flight for this screen name, made now when
// there is none; -1 when the client refuses it. *requested tells a new request.
int TwitterDaemon::avatarQuery(const QMap<QString, QString> &parameters, bool *requested)
{
    *requested = false;
    const QString key = parameters.value(ScreenNameKey).toLower();
    if (mInFlight.avatarQueries.contains(key))
        return mInFlight.avatarQueries.value(key);
    qDebug() << Q_FUNC_INFO << "Query avatar for" << parameters.value(ScreenNameKey);
    QVariantList result;
    int queryId = -1;
    if (mTwitter->retrieveUserResources(&result, &queryId, UserType::Avatar, parameters,
                                        Tw::Twitter::RETRIEVE_FROM_NETWORK)
        != Tw::Twitter::RETRIEVE_OK) {
        qCritical() << Q_FUNC_INFO << "retrieveUserResources returned != ok";
        return -1;
    }
    mInFlight.avatarQueries.insert(key, queryId);
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
    const bool waiting = std::any_of(mInFlight.tweetsWaitingForAvatar.cbegin(), mInFlight.tweetsWaitingForAvatar.cend(),
                                     [&id](const QVariant &other) { return other.toMap().value(QStringLiteral("id")) == id; });
    if (!waiting)
        mInFlight.tweetsWaitingForAvatar.append(tweet);
    bool requested = false;
    const int queryId = avatarQuery(parameters, &requested);
    if (queryId == -1 && !requested) {
        // Refused, as for an address that is no http one: nothing will answer, so the
        // default avatar does at once, as for a failed request.
        releaseTweetsWaitingFor(parameters.value(ScreenNameKey), TwitterOstra::DefaultAvatar);
        return;
    }
    if (!requested && mInFlight.avatarQueryIds.contains(queryId))
        return;
    mInFlight.avatarQueryIds.insert(queryId, parameters.value(ScreenNameKey));
    qDebug() << Q_FUNC_INFO << (requested ? "mAvatarQueryIds add:" : "mAvatarQueryIds link:") << queryId
             << ", count: " << mInFlight.avatarQueryIds.size();
}

void TwitterDaemon::onUserUpdated(const UserType::UserType &type, const QVariantList &data, int queryId)
{
    qDebug() << Q_FUNC_INFO;
    if (type != UserType::ProfileImage && type != UserType::Avatar)
        return;
    qDebug() << Q_FUNC_INFO << "Got avatar" << data;

    avatarAnswered(queryId, data.value(0).toString());
}

// The avatar request answered with this avatar, or failed with the default one: the
// timeline tweets waiting for it go out, the friends prefetch moves on, and the screen
// name may be asked for again. False when no avatar request had this id.
bool TwitterDaemon::avatarAnswered(int queryId, const QString &avatar)
{
    const bool forTimeline = mInFlight.avatarQueryIds.contains(queryId);
    const bool forFriend = mInFlight.friendAvatarQueryIds.contains(queryId);
    if (!forTimeline && !forFriend)
        return false;
    const QString name = forTimeline ? mInFlight.avatarQueryIds.take(queryId) : mInFlight.friendAvatarQueryIds.value(queryId);
    mInFlight.friendAvatarQueryIds.remove(queryId);
    mInFlight.avatarQueries.remove(name.toLower());
    if (forTimeline) {
        releaseTweetsWaitingFor(name, avatar);
        if (mInFlight.avatarQueryIds.isEmpty()) {
            qDebug() << Q_FUNC_INFO << "All needed (timeline) avatars fetched from network";
            mInFlight.timelineQueryId = -1;
            mReleaseMemoryTimer->start();
        }
    }
    if (forFriend)
        checkFriendAvatarsDone();
    return true;
}

// Publishes, in their order, the waiting tweets whose author has exactly this screen name.
void TwitterDaemon::releaseTweetsWaitingFor(const QString &name, const QString &avatar)
{
    const QVariantList waiting = mInFlight.tweetsWaitingForAvatar;
    for (const QVariant &tweet : waiting) {
        if (Tw::Twitter::screenName(author(tweet.toMap())) != name)
            continue;
        mInFlight.tweetsWaitingForAvatar.removeOne(tweet);
        publishTweet(tweet.toMap(), avatar);
    }
}
