// Publishing tweets as event feed items, and withdrawing all of them with the account.

#include "TwitterDaemon.h"

#include "NotificationHandler.h"
#include "ORemoteAction.h"
#include "SyncTimer.h"
#include "TwAccount.h"
#include "TwitterPlugin.h"
#include "Twitter.h"
#include "eventfeedinterface.h"

#include <QCoreApplication>
#include <QDBusPendingReply>
#include <QDebug>
#include <QSettings>

#include "TwitterOstra.h"

namespace {

const QString SourceName = QStringLiteral("Twitter");
const int MinimumImageCount = 3;

// The Twitter application's entry point for opening one tweet.
const QString ShowItemService = QStringLiteral("com.halvex.twitter.eventfeed");
const QString ShowItemPath = QStringLiteral("/EventFeedMessage");
const QString ShowItemMethod = QStringLiteral("showItem");

QString displayName(const QVariantMap &tweet)
{
    return tweet.value(QStringLiteral("user")).toMap().value(QStringLiteral("name")).toString();
}

}

QVariantMap TwitterDaemon::homeViewItem(const QVariantMap &tweet, const QString &avatar, QStringList images)
{
    // A retweet shows the retweeted tweet; the retweeter is named in the footer.
    const QVariant retweeted = tweet.value(QStringLiteral("retweeted_status"));
    const bool isRetweet = retweeted.isValid();
    const QVariantMap shown = isRetweet ? retweeted.toMap() : tweet;

    QVariantMap item;
    item.insert(QStringLiteral("icon"), avatar);
    item.insert(QStringLiteral("sourceName"), SourceName);
    item.insert(QStringLiteral("sourceDisplayName"), SourceName);
    item.insert(QStringLiteral("timestamp"),
                Tw::Twitter::convertDateTime(tweet.value(QStringLiteral("created_at")).toString(), false)
                    .toString(Qt::ISODate));
    item.insert(QStringLiteral("title"), qtTrId("qtn_twit_tittle_events_feed").arg(displayName(shown)));
    item.insert(QStringLiteral("body"), shown.value(QStringLiteral("text")).toString().simplified());
    if (isRetweet)
        item.insert(QStringLiteral("footer"), qtTrId("qtn_twit_tweet_retweet").arg(displayName(tweet)));
    if (!images.isEmpty()) {
        while (images.size() < MinimumImageCount)
            images.append(QString());
        item.insert(QStringLiteral("imageList"), images);
    }
    const ORemoteAction showItem(ShowItemService, ShowItemPath, ShowItemService, ShowItemMethod,
                                 {shown.value(QStringLiteral("id"))});
    item.insert(QStringLiteral("action"), showItem.toString());
    return item;
}

qint64 TwitterDaemon::addTweetToHomeView(const QVariantMap &tweet, const QString &avatar, QStringList images)
{
    if (checkTweetFromDb(tweet) != NEXT_STEP_ADD_TO_HOMEVIEW)
        return -1;
    if (!mAccount->isServiceEnabled(TwServiceType::SERVICE_EVENT_FEED))
        return -1;
    // Each post blocks the daemon for up to the bus's time-out: after one that timed out,
    // the rest wait for the next refresh (they have no cache row, so they come again).
    if (mEventFeedHung)
        return -1;

    const QVariantMap item = homeViewItem(tweet, avatar, images);

    // The one blocking call of the daemon: the feed's id is needed for the cache row.
    QDBusPendingReply<qlonglong> reply = mEventFeedIf->addItem(item);
    reply.waitForFinished();
    if (!reply.isValid()) {
        qCritical() << Q_FUNC_INFO << "Error: mEventFeedIf returned invalid value."
                    << reply.error().name() << reply.error().message();
        if (reply.error().type() == QDBusError::NoReply || reply.error().type() == QDBusError::Timeout) {
            qWarning() << Q_FUNC_INFO << "the event feed does not answer; further items wait for the next refresh";
            mEventFeedHung = true;
        }
        return -1;
    }
    const qint64 id = reply.value();
    if (id == -1)
        qWarning() << Q_FUNC_INFO << "EventFeed returned error!";
    return id;
}

void TwitterDaemon::onTwitterAccountRemoved()
{
    qDebug() << Q_FUNC_INFO;
    if (mSyncTimer)
        mSyncTimer->stop();
    if (mPlugin)
        mPlugin->accountRemoved();
    mEventFeedIf->removeItemsBySourceName(SourceName);
    if (mTwitter) {
        mTwitter->deleteCache();
        delete mTwitter;
        mTwitter = nullptr;
    }
    deleteDbTables();
    mAvatarQueries.clear();
    mAvatarQueryIds.clear();
    mFriendAvatarQueryIds.clear();
    mNotifHandler->clear(QString(), true);

    QSettings settings;
    settings.setValue(TwitterOstra::FirstStartKey, true);
    settings.remove(TwitterOstra::LastIdMessagesKey);
    settings.remove(TwitterOstra::LastIdMentionsKey);
    settings.sync();
    QCoreApplication::exit(0);
}
