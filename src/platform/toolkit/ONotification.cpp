// SPDX-License-Identifier: BSD-3-Clause
#include "ONotification.h"

#include "NotificationStore.h"
#include "ONotificationGroup.h"
#include "ORemoteAction.h"

#include <QCoreApplication>
#include <QDebug>

namespace {

const QString IdKey = QStringLiteral("id");
const QString ApplicationKey = QStringLiteral("application");
const QString KindKey = QStringLiteral("kind");
const QString EventTypeKey = QStringLiteral("eventType");
const QString SummaryKey = QStringLiteral("summary");
const QString BodyKey = QStringLiteral("body");
const QString ImageKey = QStringLiteral("image");
const QString CountKey = QStringLiteral("count");
const QString TimestampKey = QStringLiteral("timestamp");
const QString GroupKey = QStringLiteral("group");
const QString ActionKey = QStringLiteral("action");

qint64 entryId(const QJsonValue &entry)
{
    return entry.toObject().value(IdKey).toVariant().toLongLong();
}

qint64 groupIdOf(const QJsonObject &entry)
{
    return entry.value(GroupKey).toVariant().toLongLong();
}

}

ONotification::ONotification(NotificationStore *store, const QString &eventType, const QString &summary,
                             const QString &body, QObject *parent)
    : ONotification(store, Kind::Notification, eventType, parent)
{
    setSummary(summary);
    setBody(body);
}

ONotification::ONotification(NotificationStore *store, Kind kind, const QString &eventType, QObject *parent)
    : QObject(parent)
    , mStore(store)
    , mKind(kind)
{
    mEntry.insert(IdKey, 0);
    mEntry.insert(KindKey, kindName(kind));
    mEntry.insert(EventTypeKey, eventType);
    mEntry.insert(CountKey, 0);
    mEntry.insert(GroupKey, 0);
}

ONotification::ONotification(NotificationStore *store, Kind kind, const QJsonObject &entry, QObject *parent)
    : QObject(parent)
    , mStore(store)
    , mKind(kind)
    , mEntry(entry)
{
}

QString ONotification::kindName(Kind kind)
{
    return kind == Kind::Group ? QStringLiteral("group") : QStringLiteral("notification");
}

QString ONotification::eventType() const { return mEntry.value(EventTypeKey).toString(); }
void ONotification::setSummary(const QString &summary) { mEntry.insert(SummaryKey, summary); }
QString ONotification::summary() const { return mEntry.value(SummaryKey).toString(); }
void ONotification::setBody(const QString &body) { mEntry.insert(BodyKey, body); }
QString ONotification::body() const { return mEntry.value(BodyKey).toString(); }
void ONotification::setImage(const QString &image) { mEntry.insert(ImageKey, image); }
QString ONotification::image() const { return mEntry.value(ImageKey).toString(); }
qint64 ONotification::id() const { return entryId(mEntry); }
QString ONotification::action() const { return mEntry.value(ActionKey).toString(); }

void ONotification::setTimestamp(const QDateTime &timestamp)
{
    mEntry.insert(TimestampKey, timestamp.toString(Qt::ISODate));
}

QDateTime ONotification::timestamp() const
{
    return QDateTime::fromString(mEntry.value(TimestampKey).toString(), Qt::ISODate);
}

void ONotification::setCount(unsigned int count)
{
    mEntry.insert(CountKey, qint64(count));
}

unsigned int ONotification::count() const
{
    return unsigned(qBound<qint64>(0, mEntry.value(CountKey).toVariant().toLongLong(), UINT_MAX));
}

void ONotification::setGroup(const ONotificationGroup &group)
{
    mEntry.insert(GroupKey, group.id());
}

void ONotification::setAction(const ORemoteAction &action)
{
    mEntry.insert(ActionKey, action.toString());
}

bool ONotification::publish()
{
    if (!mStore) {
        qWarning() << Q_FUNC_INFO << "no notification store";
        return false;
    }
    mEntry.insert(ApplicationKey, QCoreApplication::applicationName());
    // A provisional id until written; ids of entries written since are the real ones.
    mEntry.insert(IdKey, id() == 0 ? mStore->newId() : mStore->resolvedId(id()));
    mEntry.insert(GroupKey, mStore->resolvedId(groupIdOf(mEntry)));
    const QJsonObject entry = mEntry;
    const bool accepted = mStore->update([entry](QJsonArray &entries) {
        const qint64 id = entryId(entry);
        for (int i = 0; i < entries.size(); ++i) {
            if (entryId(entries.at(i)) == id) {
                entries.replace(i, entry);
                return true;
            }
        }
        // New, or withdrawn meanwhile (dismissed by the user): shown again.
        entries.append(entry);
        return true;
    });
    mEntry.insert(IdKey, mStore->resolvedId(id()));
    return accepted;
}

bool ONotification::remove()
{
    const qint64 id = mStore ? mStore->resolvedId(this->id()) : 0;
    return id != 0 && removeWhere([id](const QJsonObject &entry) { return entryId(entry) == id; });
}

bool ONotification::removeWhere(const std::function<bool(const QJsonObject &)> &matches)
{
    return mStore && mStore->update([matches](QJsonArray &entries) {
        bool removed = false;
        for (int i = entries.size() - 1; i >= 0; --i) {
            if (matches(entries.at(i).toObject())) {
                entries.removeAt(i);
                removed = true;
            }
        }
        return removed;
    });
}

QJsonArray ONotification::entriesOf(NotificationStore *store, Kind kind)
{
    const QString application = QCoreApplication::applicationName();
    QJsonArray matching;
    if (!store)
        return matching;
    for (const QJsonValue &entry : store->entries()) {
        const QJsonObject object = entry.toObject();
        if (object.value(ApplicationKey).toString() == application && object.value(KindKey).toString() == kindName(kind))
            matching.append(object);
    }
    return matching;
}

QList<ONotification *> ONotification::notifications(NotificationStore *store)
{
    QList<ONotification *> list;
    for (const QJsonValue &entry : entriesOf(store, Kind::Notification))
        list.append(new ONotification(store, Kind::Notification, entry.toObject(), nullptr));
    return list;
}
