// SPDX-License-Identifier: BSD-3-Clause
// The daemon's side of the notifications: polling mentions and direct messages since the
// last-seen ids, and the friends list that the followed-only filter tests against.

#include "TwitterDaemon.h"

#include "NotificationHandler.h"
#include "TwAccount.h"
#include "Twitter.h"
#include "TwitterOstra.h"

#include <QDebug>

namespace {
const QString FirstCursor = QStringLiteral("-1");
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
    QMap<QString, QString> parameters = {{QStringLiteral("cursor"), FirstCursor},
                                         {QStringLiteral("screen_name"), mUserName}};
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
    if (mMentionFriendsQueryId != -1 || mMentionFriendsResuming || !mLoggedIn)
        return;
    if (!mTwitter) {
        qCritical() << Q_FUNC_INFO << "mTwitter == NULL";
        return;
    }
    mMentionFriendsFirstPage = true;
    mMentionFriendsCursors = {FirstCursor};
    requestMentionFriendsPage(FirstCursor);
    mFetchingMentionFriends = true;
}

void TwitterDaemon::handleFriendResults(QVariantList data)
{
    const QVariantMap page = data.value(0).toMap();
    if (mMentionFriendsFirstPage)
        mFriendScreenNames.clear();
    mMentionFriendsFirstPage = false;
    for (const QVariant &user : page.value(QStringLiteral("users")).toList())
        mFriendScreenNames.append(user.toMap().value(QStringLiteral("screen_name")).toString());

    QString cursor;
    qDebug() << Q_FUNC_INFO << "Query more friends for mentions";
    mMentionFriendsQueryId = -1;
    if (followFriendsCursor(mMentionFriendsCursors, page, &cursor, Q_FUNC_INFO)) {
        requestMentionFriendsPage(cursor);
        return;
    }
    endMentionFriendsFetch(true);
}

// Every fetch that ends is told once, fetched or failed; only one that has the whole list,
// or all the held mentions may wait for, decides them.
void TwitterDaemon::endMentionFriendsFetch(bool decides)
{
    mFetchingMentionFriends = false;
    if (decides)
        mNotifHandler->finishHandleMentionsRetweets();
    emit friendsFetched();
}

QStringList TwitterDaemon::friendScreenNames() const
{
    return mFriendScreenNames;
}
