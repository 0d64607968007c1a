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
