// SPDX-License-Identifier: BSD-3-Clause
// Failed requests of the client: releasing what waits on them, and the re-login that an
// authentication failure calls for.

#include "TwitterDaemon.h"

#include "PendingImageItem.h"
#include "TwitterOstra.h"

#include <QDebug>
#include <QTimer>

namespace {
const QString ErrorKey = QStringLiteral("error");
const QString OAuthFailure = QStringLiteral("Could not authenticate with OAuth.");
}

void TwitterDaemon::onNetworkRequestError(int queryId, const QVariantMap &err)
{
    qDebug() << Q_FUNC_INFO << "Got net error for:" << queryId;
    if (err.contains(ErrorKey)) {
        qDebug() << Q_FUNC_INFO << err.value(ErrorKey);
        qWarning() << Q_FUNC_INFO << err;
        if (err.value(ErrorKey).toString() == OAuthFailure) {
            reloginAfterAuthFailure();
            return;
        }
    }

    // A failed thumbnail counts as answered, with no picture.
    for (const PendingImageItem *item : qAsConst(mPendingImageItems)) {
        if (item->queryIds.contains(queryId)) {
            onTinyUrlThumbLoaded(QString(), queryId);
            return;
        }
    }
    if (queryId == mTimelineQueryId) {
        qWarning() << Q_FUNC_INFO << "Timeline request failed";
        mTimelineQueryId = -1;
        return;
    }
    if (queryId == mMentionFriendsQueryId) {
        mMentionFriendsQueryId = -1;
        const qint64 wait = rateLimitWait(err);
        if (wait >= 0 && mentionFriendsMayWait(wait)) {
            waitForFriendsWindow(wait, &mMentionFriendsResuming);
            return;
        }
        // Decided by a part of the list, mentions of friends not in it would be lost for
        // good: they stay held, unrecorded, and the next poll brings them to a new fetch.
        if (wait < 0 && mentionFriendsMayWait(0)) {
            qWarning() << Q_FUNC_INFO << "failed to fetch friendlist for mentions notificatons, the mentions wait for the next poll";
            endMentionFriendsFetch(false);
            return;
        }
        qWarning() << Q_FUNC_INFO << "failed to fetch friendlist for mentions notificatons, returning current list";
        endMentionFriendsFetch(true);
        return;
    }
    if (queryId == mFriendsQueryId) {
        mFriendsQueryId = -1;
        const qint64 wait = rateLimitWait(err);
        if (wait >= 0) {
            waitForFriendsWindow(wait, &mFriendsResuming);
            return;
        }
        // Nothing more is on its way: the import ends with the friends of the last whole
        // paging, and the next tick asks again.
        qWarning() << Q_FUNC_INFO << "Friends request failed, the import ends with the friends at hand";
        checkFriendAvatarsDone();
        return;
    }
    releaseFailedAvatar(queryId);
}

// The avatar request failed: its tweets go out with the default avatar, the friends
// prefetch moves on, and the screen name may be asked for again.
void TwitterDaemon::releaseFailedAvatar(int queryId)
{
    QString name;
    if (mAvatarQueryIds.contains(queryId)) {
        qWarning() << Q_FUNC_INFO << "Avatar request failed";
        name = mAvatarQueryIds.value(queryId);
        releaseTweetsWaitingFor(name, TwitterOstra::DefaultAvatar);
        mAvatarQueryIds.remove(queryId);
        if (mAvatarQueryIds.isEmpty()) {
            qDebug() << Q_FUNC_INFO << "All needed avatars fetched from network";
            mTimelineQueryId = -1;
        }
    }
    if (mFriendAvatarQueryIds.contains(queryId)) {
        qWarning() << Q_FUNC_INFO << "Friend avatar reguest failed";
        name = mFriendAvatarQueryIds.take(queryId);
        checkFriendAvatarsDone();
    }
    if (!name.isEmpty()) {
        mAvatarQueries.remove(name.toLower());
        return;
    }
    qWarning() << Q_FUNC_INFO << "Unhandled error: queryId ==" << queryId;
    for (auto it = mAvatarQueries.begin(); it != mAvatarQueries.end();) {
        if (it.value() == queryId) {
            qDebug() << Q_FUNC_INFO << "Found mAvatarQueries:" << it.key();
            it = mAvatarQueries.erase(it);
        } else {
            ++it;
        }
    }
}

// One forced login 100 ms later; failures reported before it starts are ignored.
void TwitterDaemon::reloginAfterAuthFailure()
{
    if (mLoginInProgress || mForceLogin)
        return;
    logout();
    mForceLogin = true;
    mLoginTimer->start();
}
