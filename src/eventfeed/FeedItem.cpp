// SPDX-License-Identifier: BSD-3-Clause
// The event feed item of a tweet.

#include "FeedItem.h"

#include "ORemoteAction.h"
#include "TweetMarkup.h"
#include "Twitter.h"

#include <QCoreApplication>

#include <cstdio>
#include <ctime>

namespace {

const int MinimumImageCount = 3;

// The Twitter application's entry point for opening one tweet.
const QString ShowItemService = QStringLiteral("com.halvex.twitter.eventfeed");
const QString ShowItemPath = QStringLiteral("/EventFeedMessage");
const QString ShowItemMethod = QStringLiteral("showItem");

// The tweet's time as the feed shows it: local, in ISO form without an offset. The C
// library's local time is read directly: QDateTime asked for the zone's file three times
// per tweet. It stays for times before 1970, for which it applies no daylight saving.
// The zone is the one readTimeZone() read last.
QString localTimestamp(const QString &serviceDate)
{
    const QDateTime utc = Tw::Twitter::convertDateTime(serviceDate, true);
    const time_t seconds = utc.toSecsSinceEpoch();
    struct tm local;
    if (utc.isValid() && seconds >= 0 && utc.time().msec() == 0) {
        if (localtime_r(&seconds, &local) && local.tm_year + 1900 <= 9999) {
            char text[64];
            snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                     local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
            return QString::fromLatin1(text);
        }
    }
    return Tw::Twitter::convertDateTime(serviceDate, false).toString(Qt::ISODate);
}

// The feed shows titles, bodies and footers as markup: names are escaped as the text is.
QString displayName(const QVariantMap &tweet)
{
    return EventFeed::escapedText(tweet.value(QStringLiteral("user")).toMap().value(QStringLiteral("name")).toString());
}

}

namespace EventFeed {

void readTimeZone()
{
    tzset();
}

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
    item.insert(QStringLiteral("timestamp"), localTimestamp(tweet.value(QStringLiteral("created_at")).toString()));
    item.insert(QStringLiteral("title"), qtTrId("qtn_twit_tittle_events_feed").arg(displayName(shown)));
    item.insert(QStringLiteral("body"), escapedText(shown.value(QStringLiteral("text")).toString().simplified()));
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
