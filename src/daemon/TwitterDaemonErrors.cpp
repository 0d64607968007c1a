// SPDX-License-Identifier: BSD-3-Clause
// Failed requests of the client: releasing what waits on them, and the re-login that an
// authentication failure calls for.

#include "TwitterDaemon.h"

#include "FriendsPaging.h"
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
    if (mFriendsPaging->takeError(queryId, err) || mMentionFriendsPaging->takeError(queryId, err))
        return;
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
