// SPDX-License-Identifier: BSD-3-Clause
// Persisted state: the last-seen ids in the daemon's settings file and the account's
// notification preferences.

#include "TwitterDaemon.h"

#include "NotificationHandler.h"
#include "TwAccount.h"
#include "Twitter.h"
#include "TwitterOstra.h"

#include <QDebug>
#include <QMutexLocker>
#include <QSettings>

namespace {

const QString NotifMain = QStringLiteral("tw-notif-main");
const QString NotifMessages = QStringLiteral("tw-notif-msg");
const QString NotifMentions = QStringLiteral("tw-notif-mention");
const QString NotifFollowed = QStringLiteral("tw-notif-followed");
const QString NotifAnyone = QStringLiteral("tw-notif-anyone");
// How far an id's time may lie ahead of the service's clock: the clock read from an
// answer is a second coarse, and the answer took a while to arrive.
const qint64 FutureIdAllowanceMs = 5 * 60 * 1000;

// A decimal id without leading zeros that fits an unsigned 64-bit integer, as the
// service's ids are. Anything else as a marker would make the service ignore since_id,
// or, compared by length, silence every later item.
bool isId(const QString &id)
{
    if (id.isEmpty() || id.size() > 20 || (id.size() > 1 && id.at(0) == QLatin1Char('0')))
        return false;
    for (const QChar c : id) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool fits = false;
    id.toULongLong(&fits);
    return fits;
}

// A stored marker that is not an id counts as none: the next poll then stores a real one.
QString storedId(const QString &key)
{
    const QString id = QSettings().value(key, QString()).toString();
    if (id.isEmpty() || isId(id))
        return id;
    qWarning() << Q_FUNC_INFO << key << "holds no id, taken as unset:" << id.left(24);
    return QString();
}

// Last-seen markers only move forward; an empty marker takes any id.
bool storeIfNewer(const QString &key, const QString &current, const QString &id)
{
    if (!isId(id)) {
        qWarning() << Q_FUNC_INFO << "not an id, ignored:" << id.left(24);
        return false;
    }
    if (!current.isEmpty() && Tw::Twitter::compareIds(current, id) >= 0)
        return false;
    QSettings settings;
    settings.setValue(key, id);
    settings.sync();
    return true;
}

}

QStringList TwitterDaemon::notificationSettingKeys()
{
    return {NotifMain, NotifMessages, NotifMentions, NotifFollowed, NotifAnyone};
}

// An id the service has not made yet, by its own clock: any process on the bus could
// otherwise silence every later item for good. Until the service's time is known (before
// the login, say) an id to be stored is judged by the device's clock, and a stored marker
// not at all: a device clock running late would unset it, and what was seen would be
// notified again. A stored marker is judged again at every read.
bool TwitterDaemon::isFutureId(const QString &id, bool byDeviceClockMeanwhile) const
{
    QDateTime now = mTwitter ? mTwitter->serviceTime() : QDateTime();
    if (!now.isValid() && byDeviceClockMeanwhile)
        now = QDateTime::currentDateTimeUtc();
    const QDateTime made = Tw::Twitter::idTime(id);
    if (!now.isValid() || !made.isValid() || made <= now.addMSecs(FutureIdAllowanceMs))
        return false;
    qWarning() << Q_FUNC_INFO << "an id from" << made.toString(Qt::ISODate) << "while the time is"
               << now.toString(Qt::ISODate) << ":" << id;
    return true;
}

// A stored marker from the future counts as unset: the next poll stores a real one.
QString TwitterDaemon::storedMarker(const QString &key) const
{
    const QString id = storedId(key);
    return isFutureId(id, false) ? QString() : id;
}

QString TwitterDaemon::lastIdMessages()
{
    const QString id = storedMarker(TwitterOstra::LastIdMessagesKey);
    qDebug() << Q_FUNC_INFO << id;
    return id;
}

QString TwitterDaemon::lastIdMentions()
{
    const QString id = storedMarker(TwitterOstra::LastIdMentionsKey);
    qDebug() << Q_FUNC_INFO << id;
    return id;
}

void TwitterDaemon::updateLastIdMessages(const QString &id)
{
    qDebug() << Q_FUNC_INFO << "begin" << id;
    QMutexLocker lock(&mLastIdMessagesMutex);
    if (!isFutureId(id, true) && storeIfNewer(TwitterOstra::LastIdMessagesKey, lastIdMessages(), id))
        qDebug() << Q_FUNC_INFO << "end";
}

void TwitterDaemon::updateLastIdMentions(const QString &id)
{
    qDebug() << Q_FUNC_INFO << "begin" << id;
    QMutexLocker lock(&mLastIdMentionsMutex);
    if (!isFutureId(id, true) && storeIfNewer(TwitterOstra::LastIdMentionsKey, lastIdMentions(), id))
        qDebug() << Q_FUNC_INFO << "end";
}

void TwitterDaemon::updateLastId(const QString &id)
{
    updateLastIdMessages(id);
    updateLastIdMentions(id);
}

void TwitterDaemon::onSettingsChanged(const QString &name, const bool &value)
{
    qDebug() << Q_FUNC_INFO << name << value;
    const QStringList keys = notificationSettingKeys();
    if (name == NotifMain && !value)
        mNotifHandler->disableNotifications();
    else if (keys.contains(name))
        applyNotificationSettings(keys);
}

void TwitterDaemon::applyNotificationSettings(const QStringList &keys)
{
    const QMap<QString, bool> values = mAccount->settingValues(keys);
    const bool main = values.value(NotifMain);
    const bool mentions = main && values.value(NotifMentions);
    const bool followed = values.value(NotifFollowed);
    mNotifHandler->setNotificationEnabled(NotificationHandler::TYPE_MESSAGES,
                                          main && values.value(NotifMessages));
    mNotifHandler->setNotificationEnabled(NotificationHandler::TYPE_MENTIONS, mentions);
    mNotifHandler->setNotificationEnabled(NotificationHandler::TYPE_FOLLOWED_ONLY, mentions && followed);
    mNotifHandler->setNotificationEnabled(NotificationHandler::TYPE_ANYONE, mentions && !followed);
}
