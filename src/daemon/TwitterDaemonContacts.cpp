// SPDX-License-Identifier: BSD-3-Clause
// Contacts: the account's friends paged in for the contacts daemon, their avatars fetched
// ahead, and the import reported finished once both are settled.

#include "TwitterDaemon.h"

#include "FriendsPaging.h"
#include "TwAccount.h"
#include "Twitter.h"
#include "TwitterPlugin.h"

#include <QDebug>
#include <QTimer>

void TwitterDaemon::onImportPage(const QVariantList &users)
{
    for (const QVariant &user : users)
        prefetchFriendAvatar(user.toMap());
}

// A page refused by the rate limit is asked for again once the window resets. Otherwise
// nothing more is on its way: the import ends with the friends of the last whole paging,
// and the next tick asks again.
void TwitterDaemon::onImportPageFailed(qint64 rateLimitWait)
{
    if (rateLimitWait >= 0) {
        mFriendsPaging->resumeAfter(rateLimitWait);
        return;
    }
    qWarning() << Q_FUNC_INFO << "Friends request failed, the import ends with the friends at hand";
    checkFriendAvatarsDone();
}

void TwitterDaemon::prefetchFriendAvatar(const QVariantMap &user)
{
    const QMap<QString, QString> parameters = avatarParameters(user);
    qDebug() << Q_FUNC_INFO << "Friend name:" << Tw::Twitter::screenName(user);
    const QVariantList cached = cachedAvatar(parameters);
    if (cached.isEmpty() || !cached.first().toString().isEmpty())
        return;

    bool requested = false;
    const int queryId = avatarQuery(parameters, &requested);
    if (requested) {
        mInFlight.friendAvatarQueryIds.insert(queryId, Tw::Twitter::screenName(user));
        qDebug() << Q_FUNC_INFO << "mFriendAvatarQueryIds count: " << mInFlight.friendAvatarQueryIds.size();
        // The prefetch ends at the latest a minute after its last request.
        mAvatarTimer->start();
    } else if (queryId != -1 && !mInFlight.friendAvatarQueryIds.contains(queryId)) {
        mInFlight.friendAvatarQueryIds.insert(queryId, Tw::Twitter::screenName(user));
        qDebug() << Q_FUNC_INFO << "mFriendAvatarQueryIds link:" << queryId << ", count: "
                 << mInFlight.friendAvatarQueryIds.size();
    }
}

void TwitterDaemon::checkFriendAvatarsDone()
{
    mAvatarTimer->stop();
    if (!mAccount->isServiceEnabled(TwServiceType::SERVICE_CONTACTS))
        return;
    if (!mInFlight.friendAvatarQueryIds.isEmpty() || mFriendsPaging->isActive()) {
        mAvatarTimer->start();
        return;
    }
    finishContactsUpdate();
}

void TwitterDaemon::avatarTimeout()
{
    if (mInFlight.friendAvatarQueryIds.isEmpty())
        return;
    qWarning() << Q_FUNC_INFO << "Got timeout fetching avatars. Removing requests:" << mInFlight.friendAvatarQueryIds;
    mInFlight.friendAvatarQueryIds.clear();
    // Friends pages still to come finish the import with their last one.
    if (!mFriendsPaging->isActive())
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
    if (mLoggedIn)
        mFriendsPaging->start(mTwitter, mUserName);
}
