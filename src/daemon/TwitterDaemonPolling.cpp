// SPDX-License-Identifier: BSD-3-Clause
// The daemon's side of the notifications: polling mentions and direct messages since the
// last-seen ids, and the friends list that the followed-only filter tests against.

#include "TwitterDaemon.h"

#include "NotificationHandler.h"
#include "TwAccount.h"
#include "Twitter.h"

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

// "cursor", "screen_name" and, once an id is stored, "since_id" = that id.
QMap<QString, QString> TwitterDaemon::pollParameters(const QString &sinceId) const
{
    QMap<QString, QString> parameters = {{QStringLiteral("cursor"), FirstCursor},
                                         {QStringLiteral("screen_name"), mUserName}};
    if (!sinceId.isEmpty())
        parameters.insert(QStringLiteral("since_id"), sinceId);
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

// Each poll asks for what came since the kind's last-seen id; the handler takes only the
// answer to the latest one.
void TwitterDaemon::retrieveMessages()
{
    qDebug() << Q_FUNC_INFO;
    if (!canRequest(Q_FUNC_INFO))
        return;
    QVariantList unused;
    int queryId = -1;
    const int status = mTwitter->retrieveDirectMessages(&unused, &queryId, DirectMessageType::ReceivedMessages,
                                                        pollParameters(lastIdMessages()), Tw::Twitter::RETRIEVE_FROM_NETWORK);
    mNotifHandler->setMessagesQueryId(queryId);
    if (status != Tw::Twitter::RETRIEVE_OK)
        qCritical() << Q_FUNC_INFO << "retrieveMessages returned != ok";
}

void TwitterDaemon::retrieveMentions()
{
    qDebug() << Q_FUNC_INFO;
    if (!canRequest(Q_FUNC_INFO))
        return;
    QVariantList unused;
    int queryId = -1;
    const int status = mTwitter->retrieveTimelineResources(&unused, &queryId, TimelineType::MentionsTimeline,
                                                           pollParameters(lastIdMentions()), Tw::Twitter::RETRIEVE_FROM_NETWORK);
    mNotifHandler->setMentionsQueryId(queryId);
    if (status != Tw::Twitter::RETRIEVE_OK)
        qCritical() << Q_FUNC_INFO << "retrieveMentions - mentions returned != ok";
}

void TwitterDaemon::fetchFriends()
{
    qDebug() << Q_FUNC_INFO;
    // A fetch under way ends with friendsFetched(), which serves this request too.
    if (mMentionFriendsQueryId != -1 || !mLoggedIn)
        return;
    if (!mTwitter) {
        qCritical() << Q_FUNC_INFO << "mTwitter == NULL";
        return;
    }
    mMentionFriendsFirstPage = true;
    mMentionFriendsCursors = {FirstCursor};
    requestFriendsPage(FirstCursor, &mMentionFriendsQueryId);
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

    const QString cursor = page.value(QStringLiteral("next_cursor_str")).toString();
    qDebug() << Q_FUNC_INFO << "Query more friends for mentions";
    mMentionFriendsQueryId = -1;
    if (followFriendsCursor(mMentionFriendsCursors, cursor, Q_FUNC_INFO)) {
        requestFriendsPage(cursor, &mMentionFriendsQueryId);
        return;
    }
    mFetchingMentionFriends = false;
    emit friendsFetched();
}

QStringList TwitterDaemon::friendScreenNames() const
{
    return mFriendScreenNames;
}
