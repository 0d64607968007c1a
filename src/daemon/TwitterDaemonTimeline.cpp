// SPDX-License-Identifier: BSD-3-Clause
// The home timeline refresh cycle: the newest tweets fetched, vanished ones withdrawn,
// new ones published once their author's avatar is at hand.

#include "TwitterDaemon.h"

#include "FeedItem.h"
#include "NotificationHandler.h"
#include "SyncTimer.h"
#include "TwAccount.h"
#include "Twitter.h"
#include "TwitterPlugin.h"
#include "TwitterOstra.h"

#include <QDebug>
#include <QTimer>

namespace {
// Tweets asked for, and examined for publication, per refresh.
const int HomeTimelineCount = 20;

// A tweet without an id can be neither told from the others nor kept in the cache: left
// out, instead of being posted and withdrawn at every refresh, and of hiding the age of
// the oldest tweet fetched from the removal of vanished ones.
QVariantList tweetsWithIds(const QVariantList &timeline)
{
    QVariantList kept;
    for (const QVariant &tweet : timeline) {
        if (tweet.toMap().value(QStringLiteral("id")).toString().isEmpty())
            qWarning() << Q_FUNC_INFO << "a tweet without an id is left out";
        else
            kept.append(tweet);
    }
    return kept;
}
}

void TwitterDaemon::onRefreshRequested()
{
    qDebug() << Q_FUNC_INFO;
    mSyncTimer->wokeUp();
    if (!mLoggedIn) {
        scheduleLogin();
        return;
    }
    if (mAccount->isServiceEnabled(TwServiceType::SERVICE_EVENT_FEED))
        updateHomeView(true);
    if (mNotifHandler->isSilent() && !isGuiRunning())
        mNotifHandler->setSilent(false);
    tryUpdateMessages();
    tryUpdateMentions();
}

void TwitterDaemon::updateHomeView(bool fromNetwork)
{
    if (!mLoggedIn)
        return;
    if (!mTwitter) {
        qCritical() << Q_FUNC_INFO << "mTwitter == NULL";
        return;
    }
    qDebug() << Q_FUNC_INFO << "Query home timeline";
    mEventFeedHung = false;
    const QMap<QString, QString> parameters = {
        {QStringLiteral("count"), QString::number(HomeTimelineCount)},
        {QStringLiteral("include_entities"), QStringLiteral("true")}};
    QVariantList tweets;
    // A newer request replaces the id; the older one's answer is then ignored.
    const int status = mTwitter->retrieveTimelineResources(
        &tweets, &mInFlight.timelineQueryId, TimelineType::HomeTimeline, parameters,
        fromNetwork ? Tw::Twitter::RETRIEVE_FROM_NETWORK : Tw::Twitter::RETRIEVE_FROM_CACHE);
    if (status != Tw::Twitter::RETRIEVE_OK)
        qCritical() << Q_FUNC_INFO << "retrieveTimelineResources returned != ok";
    if (!fromNetwork)
        onTimelineUpdated(TimelineType::HomeTimeline, tweets, mInFlight.timelineQueryId);
}

void TwitterDaemon::onTimelineUpdated(const TimelineType::TimelineType &type, const QVariantList &answer,
                                      int queryId)
{
    qDebug() << Q_FUNC_INFO << int(type) << queryId << answer.size();
    if (type != TimelineType::HomeTimeline || queryId != mInFlight.timelineQueryId || !mTwitter)
        return;
    const QVariantList data = tweetsWithIds(answer);
    EventFeed::readTimeZone();
    const FetchedIds fetched(data);
    removeStaleItems(fetched);

    const int count = qMin(data.size(), HomeTimelineCount);
    qDebug() << Q_FUNC_INFO << "TimelineType::HomeTimeline. Item count" << count;
    // One lookup for all of them, before any is posted: an id listed twice is looked up
    // again at its second place, since its first may have written its row by then.
    QSet<QString> inCache;
    const bool lookedUp = count > 0 && cachedTweetIds(fetched, &inCache);
    for (int i = 0; i < count && lookedUp; ++i) {
        const QString &id = fetched.ids.at(i);
        if (!inCache.contains(id))
            mUncachedIds.insert(id);
    }
    for (int i = 0; i < count && lookedUp; ++i) {
        const QVariantMap tweet = data.at(i).toMap();
        if (inCache.contains(fetched.ids.at(i)) || checkTweetFromDb(tweet) != NEXT_STEP_ADD_TO_HOMEVIEW)
            continue;
        qDebug() << Q_FUNC_INFO << "nextStep == NEXT_STEP_ADD_TO_HOMEVIEW";
        const QMap<QString, QString> parameters = avatarParameters(author(tweet));
        const QVariantList cached = cachedAvatar(parameters);
        if (!cached.isEmpty() && cached.first().toString().isEmpty()) {
            waitForTimelineAvatar(data.at(i), parameters);
            continue;
        }
        // A lookup that answers nothing at all gives no avatar to wait for.
        const QString avatar = cached.isEmpty() ? TwitterOstra::DefaultAvatar : cached.first().toString();
        qDebug() << Q_FUNC_INFO << "Add item to homeview";
        publishTweet(tweet, avatar);
    }
    mUncachedIds.clear();
    // The cycle is over unless tweets still wait for avatars from the network.
    if (mInFlight.avatarQueryIds.isEmpty()) {
        mInFlight.timelineQueryId = -1;
        mReleaseMemoryTimer->start();
    }
}
