// SPDX-License-Identifier: BSD-3-Clause
// A tweet as an event feed item: posted once its pictures are in, and remembered in the
// item cache under the feed's id.

#include "TwitterDaemon.h"

#include "FeedItem.h"
#include "TwAccount.h"
#include "eventfeedinterface.h"

#include <QDBusPendingReply>
#include <QDebug>

// Posts a tweet now, or once its thumbnails are in when it has pictures.
void TwitterDaemon::publishTweet(const QVariantMap &tweet, const QString &avatar)
{
    if (!processTweetImages(tweet, avatar))
        postAndRemember(tweet, avatar, QStringList());
}

void TwitterDaemon::postAndRemember(const QVariantMap &tweet, const QString &avatar, const QStringList &images)
{
    const qint64 id = addTweetToHomeView(tweet, avatar, images);
    if (id != -1)
        addTweetToDb(tweet, id);
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

    const QVariantMap item = EventFeed::homeViewItem(tweet, avatar, images);

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

