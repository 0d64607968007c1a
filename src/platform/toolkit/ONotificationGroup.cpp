// SPDX-License-Identifier: BSD-3-Clause
#include "ONotificationGroup.h"

#include "NotificationStore.h"

ONotificationGroup::ONotificationGroup(NotificationStore *store, const QString &eventType, const QString &summary,
                                       const QString &body, QObject *parent)
    : ONotification(store, Kind::Group, eventType, parent)
{
    setSummary(summary);
    setBody(body);
}

ONotificationGroup::ONotificationGroup(NotificationStore *store, const QJsonObject &entry, QObject *parent)
    : ONotification(store, Kind::Group, entry, parent)
{
}

QList<ONotificationGroup *> ONotificationGroup::notificationGroups(NotificationStore *store)
{
    QList<ONotificationGroup *> list;
    for (const QJsonValue &entry : entriesOf(store, Kind::Group))
        list.append(new ONotificationGroup(store, entry.toObject(), nullptr));
    return list;
}
