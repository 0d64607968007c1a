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

void TwitterDaemon::retrieveMessages()
{
    qDebug() << Q_FUNC_INFO;
    poll(Q_FUNC_INFO, "retrieveMessages", lastIdMessages(), "retrieveMessages returned != ok",
         [this](QVariantList *unused, int *queryId, const QMap<QString, QString> &parameters) {
             return mTwitter->retrieveDirectMessages(unused, queryId, DirectMessageType::ReceivedMessages,
                                                     parameters, Tw::Twitter::RETRIEVE_FROM_NETWORK);
         },
         &NotificationHandler::setMessagesQueryId);
}

void TwitterDaemon::retrieveMentions()
{
    qDebug() << Q_FUNC_INFO;
    poll(Q_FUNC_INFO, "retrieveMentions", lastIdMentions(), "retrieveMentions - mentions returned != ok",
         [this](QVariantList *unused, int *queryId, const QMap<QString, QString> &parameters) {
             return mTwitter->retrieveTimelineResources(unused, queryId, TimelineType::MentionsTimeline,
                                                        parameters, Tw::Twitter::RETRIEVE_FROM_NETWORK);
         },
         &NotificationHandler::setMentionsQueryId);
}

// One poll of a kind since its last-seen id; the handler takes only the answer to it.
// Its lines carry the signature of the kind's operation (caller).
void TwitterDaemon::poll(const char *caller, const char *word, const QString &sinceId, const char *failure,
                         const std::function<int(QVariantList *, int *, const QMap<QString, QString> &)> &request,
                         void (NotificationHandler::*expect)(int))
{
    if (!mLoggedIn)
        return;
    if (!mTwitter) {
        qCritical() << caller << "mTwitter == NULL";
        return;
    }
    if (!sinceId.isEmpty())
        qDebug() << caller << word << "sinceId" << sinceId;
    QVariantList unused;
    int queryId = -1;
    const int status = request(&unused, &queryId, pollParameters(sinceId));
    (mNotifHandler->*expect)(queryId);
    if (status != Tw::Twitter::RETRIEVE_OK)
        qCritical() << caller << failure;
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
