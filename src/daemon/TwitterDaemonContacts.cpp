// SPDX-License-Identifier: BSD-3-Clause
// Contacts: the account's friends paged in for the contacts daemon, their avatars fetched
// ahead, and the import reported finished once both are settled; the friends cursor rule
// that both friends fetches follow.

#include "TwitterDaemon.h"

#include "TwAccount.h"
#include "Twitter.h"
#include "TwitterPlugin.h"

#include <QDebug>
#include <QTimer>

namespace {

const QString ScreenNameKey = QStringLiteral("screen_name");
const QString LastCursor = QStringLiteral("0");
const QString FirstCursor = QStringLiteral("-1");

QString screenName(const QVariantMap &person)
{
    return person.value(ScreenNameKey).toString();
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
