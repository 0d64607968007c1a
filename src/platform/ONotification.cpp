#include "ONotification.h"

#include "NotificationStore.h"
#include "ONotificationGroup.h"
#include "ORemoteAction.h"

#include <QCoreApplication>

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

}

ONotification::ONotification(const QString &eventType, const QString &summary, const QString &body,
                             QObject *parent)
    : ONotification(Kind::Notification, eventType, parent)
{
    setSummary(summary);
    setBody(body);
}

ONotification::ONotification(Kind kind, const QString &eventType, QObject *parent)
    : QObject(parent)
    , mKind(kind)
{
    mEntry.insert(IdKey, 0);
    mEntry.insert(KindKey, kindName(kind));
    mEntry.insert(EventTypeKey, eventType);
    mEntry.insert(CountKey, 0);
    mEntry.insert(GroupKey, 0);
}

ONotification::ONotification(Kind kind, const QJsonObject &entry, QObject *parent)
    : QObject(parent)
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
    mEntry.insert(ApplicationKey, QCoreApplication::applicationName());
    QJsonObject &entry = mEntry;
    return NotificationStore::update([&entry](QJsonArray &entries, qint64 &nextId) {
        const qint64 id = entryId(entry);
        for (int i = 0; id > 0 && i < entries.size(); ++i) {
            if (entryId(entries.at(i)) == id) {
                entries.replace(i, entry);
                return true;
            }
        }
        // New, or withdrawn meanwhile (dismissed by the user): shown again.
        if (id <= 0)
            entry.insert(IdKey, nextId++);
        entries.append(entry);
        return true;
    });
}

bool ONotification::remove()
{
    const qint64 id = this->id();
    return id > 0 && removeWhere([id](const QJsonObject &entry) { return entryId(entry) == id; });
}

bool ONotification::removeWhere(const std::function<bool(const QJsonObject &)> &matches)
{
    return NotificationStore::update([&matches](QJsonArray &entries, qint64 &) {
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

QJsonArray ONotification::entriesOf(Kind kind)
{
    const QString application = QCoreApplication::applicationName();
    QJsonArray matching;
    for (const QJsonValue &entry : NotificationStore::entries()) {
        const QJsonObject object = entry.toObject();
        if (object.value(ApplicationKey).toString() == application && object.value(KindKey).toString() == kindName(kind))
            matching.append(object);
    }
    return matching;
}

QList<ONotification *> ONotification::notifications()
{
    QList<ONotification *> list;
    for (const QJsonValue &entry : entriesOf(Kind::Notification))
        list.append(new ONotification(Kind::Notification, entry.toObject(), nullptr));
    return list;
}
