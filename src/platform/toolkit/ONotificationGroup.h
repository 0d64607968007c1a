// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "ONotification.h"

// A group of notifications shown as one entry; publish() and remove() act on the group
// entry alone: its notifications stay until each is withdrawn.
class ONotificationGroup : public ONotification
{
    Q_OBJECT

public:
    ONotificationGroup(NotificationStore *store, const QString &eventType, const QString &summary = QString(),
                       const QString &body = QString(), QObject *parent = nullptr);

    // This application's shown groups, as new objects that the caller owns.
    static QList<ONotificationGroup *> notificationGroups(NotificationStore *store);

private:
    ONotificationGroup(NotificationStore *store, const QJsonObject &entry, QObject *parent);
};
