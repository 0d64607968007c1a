#include "ONotificationGroup.h"

ONotificationGroup::ONotificationGroup(const QString &eventType, const QString &summary, const QString &body,
                                       QObject *parent)
    : ONotification(Kind::Group, eventType, parent)
{
    setSummary(summary);
    setBody(body);
}

ONotificationGroup::ONotificationGroup(const QJsonObject &entry, QObject *parent)
    : ONotification(Kind::Group, entry, parent)
{
}

QList<ONotificationGroup *> ONotificationGroup::notificationGroups()
{
    QList<ONotificationGroup *> list;
    for (const QJsonValue &entry : entriesOf(Kind::Group))
        list.append(new ONotificationGroup(entry.toObject(), nullptr));
    return list;
}

bool ONotificationGroup::remove()
{
    const qint64 groupId = id();
    // The group goes with its notifications.
    return groupId > 0 && removeWhere([groupId](const QJsonObject &entry) {
        return idOf(entry) == groupId || groupIdOf(entry) == groupId;
    });
}
