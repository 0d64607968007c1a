// SPDX-License-Identifier: BSD-3-Clause
// Contacts: the account's friends paged in for the contacts daemon, their avatars fetched
// ahead, and the import reported finished once both are settled; the friends cursor rule
// that both friends fetches follow, and their pages resumed after the rate limit's wait.

#include "TwitterDaemon.h"

#include "NotificationHandler.h"
#include "TwAccount.h"
#include "Twitter.h"
#include "TwitterPlugin.h"

#include <QDebug>
#include <QTimer>

namespace {

const QString ScreenNameKey = QStringLiteral("screen_name");
const QString LastCursor = QStringLiteral("0");
const QString FirstCursor = QStringLiteral("-1");
const QString FriendsPageSize = QStringLiteral("200");
// The service's rate-limit window, for a refusal that does not tell when it ends.
const qint64 RateWindowMs = 15 * 60 * 1000;
const qint64 MaxResumeWaitMs = 60 * 60 * 1000;
// Mentions held for the followed-only filter wait more than one window, less than two.
const qint64 MaxMentionsWaitMs = 20 * 60 * 1000;
const int TooManyRequests = 429;
// The client lets go of its own hold at the reset; this much later the page is asked again.
const qint64 ResumeMarginMs = 50;

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

    QString cursor;
    qDebug() << Q_FUNC_INFO << "Query more friends";
    if (queryId == mFriendsQueryId)
        mFriendsQueryId = -1;
    const bool lastPage = !followFriendsCursor(mFriendsCursors, page, &cursor, Q_FUNC_INFO);
    if (!lastPage && mFriendsQueryId == -1 && !mFriendsResuming)
        requestImportPage(cursor);
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
    if (!mFriendAvatarQueryIds.isEmpty() || mFriendsQueryId != -1 || mFriendsResuming) {
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
    // Friends pages still to come finish the import with their last one.
    if (mFriendsQueryId == -1 && !mFriendsResuming)
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
    mFriendsCursors = {FirstCursor};
    // Its id is kept, unlike the other requests' of the first page, so that a first page
    // refused by the rate limit is asked for again.
    requestImportPage(FirstCursor);
}

void TwitterDaemon::requestImportPage(const QString &cursor)
{
    mFriendsCursor = cursor;
    requestFriendsPage(cursor, &mFriendsQueryId);
}

void TwitterDaemon::requestMentionFriendsPage(const QString &cursor)
{
    mMentionFriendsCursor = cursor;
    requestFriendsPage(cursor, &mMentionFriendsQueryId);
}

qint64 TwitterDaemon::rateLimitWait(const QVariantMap &err)
{
    if (err.value(QStringLiteral("http_status")).toInt() != TooManyRequests)
        return -1;
    bool told = false;
    const qint64 retry = err.value(QLatin1String(Tw::Twitter::RetryAfterKey)).toLongLong(&told);
    return qBound<qint64>(0, told ? retry : RateWindowMs, MaxResumeWaitMs) + ResumeMarginMs;
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

void TwitterDaemon::waitForFriendsWindow(qint64 wait, bool *resuming)
{
    qWarning() << Q_FUNC_INFO << "friends page held by the rate limit; asked again in" << wait << "ms";
    *resuming = true;
    if (!mFriendsResumeTimer->isActive() || mFriendsResumeTimer->remainingTime() < wait)
        mFriendsResumeTimer->start(int(wait));
}

// The window has reset: each fetch asks again for the page it was refused.
void TwitterDaemon::resumeFriendsPaging()
{
    qDebug() << Q_FUNC_INFO << mFriendsResuming << mMentionFriendsResuming;
    if (mFriendsResuming) {
        mFriendsResuming = false;
        requestImportPage(mFriendsCursor);
    }
    if (mMentionFriendsResuming) {
        mMentionFriendsResuming = false;
        requestMentionFriendsPage(mMentionFriendsCursor);
    }
}

// Whether a friends fetch that has asked for the cursors in asked goes on after this page;
// if so its cursor is added.
bool TwitterDaemon::followFriendsCursor(QSet<QString> &asked, const QVariantMap &page, QString *cursor, const char *caller)
{
    QString oddEnd;
    *cursor = Tw::Twitter::nextFriendsCursor(page, asked, &oddEnd);
    if (!oddEnd.isEmpty())
        qWarning() << caller << "friends fetch:" << oddEnd;
    if (cursor->isEmpty())
        return false;
    asked.insert(*cursor);
    return true;
}

void TwitterDaemon::requestFriendsPage(const QString &cursor, int *queryId)
{
    if (!mTwitter) {
        qCritical() << Q_FUNC_INFO << "mTwitter == NULL";
        return;
    }
    // Pages of the service's largest size: of its default 20, a following of more than
    // 300 would not fit one rate-limit window, and the fetch would take hours.
    const QMap<QString, QString> parameters = {
        {QStringLiteral("cursor"), cursor}, {ScreenNameKey, mUserName}, {QStringLiteral("count"), FriendsPageSize}};
    QVariantList result;
    if (mTwitter->retrieveUserResources(&result, queryId, UserType::FriendsList, parameters,
                                        Tw::Twitter::RETRIEVE_FROM_NETWORK)
        != Tw::Twitter::RETRIEVE_OK)
        qCritical() << Q_FUNC_INFO << "retrieveUserResources returned != ok";
}
