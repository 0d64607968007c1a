// SPDX-License-Identifier: BSD-3-Clause
// The daemon's D-Bus methods, called by the Twitter application.

#include "TwitterDaemon.h"

#include "NotificationHandler.h"
#include "TwAccount.h"

#include "TwitterOstra.h"

#include <QDebug>
#include <QTimer>

// Answered at once; any process on the bus may call it, so a flood of calls costs one
// republish, not one each.
void TwitterDaemon::refreshEventFeed()
{
    if (!mRepublishTimer->isActive())
        mRepublishTimer->start();
}

void TwitterDaemon::republishEventFeed()
{
    if (!mLoggedIn) {
        scheduleLogin();
        return;
    }
    if (!mAccount->isServiceEnabled(TwServiceType::SERVICE_EVENT_FEED))
        return;
    // A refresh under way publishes what is new once its answer is in: a republish now
    // would take its place, and that answer would be dropped until the next refresh.
    if (mInFlight.timelineQueryId != -1) {
        qDebug() << Q_FUNC_INFO << "left to the refresh under way";
        return;
    }
    updateHomeView(false);
}

void TwitterDaemon::deleteTweet(const QString &)
{
    // Withdrawn items are found by the next timeline refresh instead.
}

void TwitterDaemon::suspendNotifications(bool enabled)
{
    mNotifHandler->setSilent(enabled);
}

void TwitterDaemon::clearMessageNotifications()
{
    qDebug() << Q_FUNC_INFO;
    mNotifHandler->clear(TwitterOstra::MessageEventType, true);
}

void TwitterDaemon::clearMentionNotifications()
{
    qDebug() << Q_FUNC_INFO;
    mNotifHandler->clear(TwitterOstra::MentionEventType, true);
}
