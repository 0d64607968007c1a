// SPDX-License-Identifier: BSD-3-Clause
// The event feed item of a tweet.

#include "FeedItem.h"

#include "ORemoteAction.h"
#include "Twitter.h"

#include <QCoreApplication>

namespace {

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

namespace EventFeed {

QVariantMap homeViewItem(const QVariantMap &tweet, const QString &avatar, QStringList images)
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

}
