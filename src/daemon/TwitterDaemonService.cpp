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
