// SPDX-License-Identifier: BSD-3-Clause
// The daemon's side of the notifications: polling mentions and direct messages since the
// last-seen ids, and the friends list that the followed-only filter tests against.

#include "TwitterDaemon.h"

#include "FriendsPaging.h"
#include "NotificationHandler.h"
#include "TwAccount.h"
#include "Twitter.h"
#include "TwitterOstra.h"

#include <QDebug>

namespace {
// Mentions held for the followed-only filter wait more than one window, less than two.
const qint64 MaxMentionsWaitMs = 20 * 60 * 1000;
}

void TwitterDaemon::tryUpdateMessages()
{
    qDebug() << Q_FUNC_INFO;
    if (mAccount->isServiceEnabled(TwServiceType::SERVICE_NOTIFICATIONS))
        retrieveMessages();
}

void TwitterDaemon::tryUpdateMentions()
{
    qDebug() << Q_FUNC_INFO;
    if (mAccount->isServiceEnabled(TwServiceType::SERVICE_NOTIFICATIONS))
        retrieveMentions();
}

// "cursor", "screen_name" and, once an id is stored, "since_id" = that id; paging back,
// "max_id" and the largest page.
QMap<QString, QString> TwitterDaemon::pollParameters(const QString &sinceId, const QString &maxId) const
{
    QMap<QString, QString> parameters = {{QStringLiteral("cursor"), QString::fromLatin1(Tw::Twitter::FirstCursor)},
                                         {QString::fromLatin1(Tw::Twitter::ScreenNameKey), mUserName}};
    if (!sinceId.isEmpty())
        parameters.insert(QStringLiteral("since_id"), sinceId);
    if (!maxId.isEmpty()) {
        parameters.insert(QStringLiteral("max_id"), maxId);
        parameters.insert(QStringLiteral("count"), QString::number(TwitterOstra::OlderPollPageSize));
    }
    return parameters;
}

// Logged in with a client; a session without one is logged.
bool TwitterDaemon::canRequest(const char *caller) const
{
    if (!mLoggedIn)
        return false;
    if (!mTwitter)
        qCritical() << caller << "mTwitter == NULL";
    return mTwitter != nullptr;
}

bool TwitterDaemon::requestPoll(const QString &eventType, const QString &maxId, int *queryId)
{
    QVariantList unused;
    if (eventType == TwitterOstra::MessageEventType)
        return mTwitter->retrieveDirectMessages(&unused, queryId, DirectMessageType::ReceivedMessages,
                                                pollParameters(lastIdMessages(), maxId), Tw::Twitter::RETRIEVE_FROM_NETWORK)
            == Tw::Twitter::RETRIEVE_OK;
    return mTwitter->retrieveTimelineResources(&unused, queryId, TimelineType::MentionsTimeline,
                                               pollParameters(lastIdMentions(), maxId), Tw::Twitter::RETRIEVE_FROM_NETWORK)
        == Tw::Twitter::RETRIEVE_OK;
}

// Each poll asks for what came since the kind's last-seen id; the handler takes only the
// answer to the latest one.
void TwitterDaemon::retrieveMessages()
{
    qDebug() << Q_FUNC_INFO;
    if (!canRequest(Q_FUNC_INFO))
        return;
    int queryId = -1;
    const bool accepted = requestPoll(TwitterOstra::MessageEventType, QString(), &queryId);
    mNotifHandler->setMessagesQueryId(queryId);
    if (!accepted)
        qCritical() << Q_FUNC_INFO << "retrieveMessages returned != ok";
}

void TwitterDaemon::retrieveMentions()
{
    qDebug() << Q_FUNC_INFO;
    if (!canRequest(Q_FUNC_INFO))
        return;
    int queryId = -1;
    const bool accepted = requestPoll(TwitterOstra::MentionEventType, QString(), &queryId);
    mNotifHandler->setMentionsQueryId(queryId);
    if (!accepted)
        qCritical() << Q_FUNC_INFO << "retrieveMentions - mentions returned != ok";
}

int TwitterDaemon::retrieveOlder(const QString &eventType, const QString &maxId)
{
    qDebug() << Q_FUNC_INFO << eventType << maxId;
    int queryId = -1;
    if (!canRequest(Q_FUNC_INFO))
        return -1;
    if (requestPoll(eventType, maxId, &queryId))
        return queryId;
    qCritical() << Q_FUNC_INFO << eventType << "returned != ok";
    return -1;
}

void TwitterDaemon::fetchFriends()
{
    qDebug() << Q_FUNC_INFO;
    // A fetch under way, or waiting for the rate limit, ends with friendsFetched(), which
    // serves this request too.
    if (!mMentionFriendsPaging->isActive() && mLoggedIn)
        mMentionFriendsPaging->start(mTwitter, mUserName);
}

void TwitterDaemon::handleFriendResults(const QVariantList &users, bool first)
{
    if (first)
        mFriendScreenNames.clear();
    for (const QVariant &user : users)
        mFriendScreenNames.append(Tw::Twitter::screenName(user.toMap()));
}

void TwitterDaemon::onMentionFriendsPageFailed(qint64 rateLimitWait)
{
    if (rateLimitWait >= 0 && mentionFriendsMayWait(rateLimitWait)) {
        mMentionFriendsPaging->resumeAfter(rateLimitWait);
        return;
    }
    // Decided by a part of the list, mentions of friends not in it would be lost for
    // good: they stay held, unrecorded, and the next poll brings them to a new fetch.
    if (rateLimitWait < 0 && mentionFriendsMayWait(0)) {
        qWarning() << Q_FUNC_INFO << "failed to fetch friendlist for mentions notificatons, the mentions wait for the next poll";
        endMentionFriendsFetch(false);
        return;
    }
    qWarning() << Q_FUNC_INFO << "failed to fetch friendlist for mentions notificatons, returning current list";
    endMentionFriendsFetch(true);
}

// Mentions held for the friends list wait for it only so long, however many fetches that
// takes; then they are decided with the names that arrived.
bool TwitterDaemon::mentionFriendsMayWait(qint64 wait) const
{
    if (mNotifHandler->mentionsHeldForMs() + wait <= MaxMentionsWaitMs)
        return true;
    qWarning() << Q_FUNC_INFO << "the friends list for mentions is held by the rate limit for" << wait
               << "ms more; deciding with the" << mFriendScreenNames.size() << "names that arrived";
    return false;
}

// Every fetch that ends is told once, fetched or failed; only one that has the whole list,
// or all the held mentions may wait for, decides them.
void TwitterDaemon::endMentionFriendsFetch(bool decides)
{
    if (decides)
        mNotifHandler->finishHandleMentionsRetweets();
    emit friendsFetched();
}

QStringList TwitterDaemon::friendScreenNames() const
{
    return mFriendScreenNames;
}
