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
    if (queryId == -1 && !requested) {
        // Refused, as for an address that is no http one: nothing will answer, so the
        // default avatar does at once, as for a failed request.
        releaseTweetsWaitingFor(parameters.value(ScreenNameKey), TwitterOstra::DefaultAvatar);
        return;
    }
    if (!requested && mAvatarQueryIds.contains(queryId))
        return;
    mAvatarQueryIds.insert(queryId, parameters.value(ScreenNameKey));
    qDebug() << Q_FUNC_INFO << (requested ? "mAvatarQueryIds add:" : "mAvatarQueryIds link:") << queryId
             << ", count: " << mAvatarQueryIds.size();
}

void TwitterDaemon::onUserUpdated(const UserType::UserType &type, const QVariantList &data, int queryId)
{
    qDebug() << Q_FUNC_INFO;
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
            mReleaseMemoryTimer->start();
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
        if (Tw::Twitter::screenName(author(tweet.toMap())) != name)
            continue;
        mTweetsWaitingForAvatar.removeOne(tweet);
        publishTweet(tweet.toMap(), avatar);
    }
}
