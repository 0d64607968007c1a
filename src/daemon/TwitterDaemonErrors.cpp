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
    for (const auto &item : mInFlight.pendingImageItems) {
        if (item->queryIds.contains(queryId)) {
            onTinyUrlThumbLoaded(QString(), queryId);
            return;
        }
    }
    if (queryId == mInFlight.timelineQueryId) {
        qWarning() << Q_FUNC_INFO << "Timeline request failed";
        mInFlight.timelineQueryId = -1;
        return;
    }
    if (mFriendsPaging->takeError(queryId, err) || mMentionFriendsPaging->takeError(queryId, err))
        return;
    releaseFailedAvatar(queryId);
}

// A failed avatar request counts as answered with the default avatar. An unknown id may
// still be linked to a screen name, which may then be asked for again.
void TwitterDaemon::releaseFailedAvatar(int queryId)
{
    if (avatarAnswered(queryId, TwitterOstra::DefaultAvatar)) {
        qWarning() << Q_FUNC_INFO << "Avatar request failed";
        return;
    }
    qWarning() << Q_FUNC_INFO << "Unhandled error: queryId ==" << queryId;
    for (auto it = mInFlight.avatarQueries.begin(); it != mInFlight.avatarQueries.end();) {
        if (it.value() == queryId) {
            qDebug() << Q_FUNC_INFO << "Found an avatar request:" << it.key();
            it = mInFlight.avatarQueries.erase(it);
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
