// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class NotificationStore;
class ONotificationGroup;
class ORemoteAction;

// A notification of the platform's notification system, for this application (the
// application name of QCoreApplication), in the given store, which must outlive it.
// Setters change the local object; publish() shows it, or updates it once shown; the
// shown notification stays when the object goes. While the store is locked by another
// process, publish() and remove() take effect once it is free; reads and ids through the
// same store show them at once.
class ONotification : public QObject
{
    Q_OBJECT

public:
    ONotification(NotificationStore *store, const QString &eventType, const QString &summary = QString(),
                  const QString &body = QString(), QObject *parent = nullptr);

    QString eventType() const;
    void setSummary(const QString &summary);
    QString summary() const;
    void setBody(const QString &body);
    QString body() const;
    void setImage(const QString &image);
    QString image() const;
    void setTimestamp(const QDateTime &timestamp);
    QDateTime timestamp() const;
    void setCount(unsigned int count);
    unsigned int count() const;
    // Puts the notification into a published group.
    void setGroup(const ONotificationGroup &group);
    // A copy of the action's textual form is kept.
    void setAction(const ORemoteAction &action);
    QString action() const;
    // 0 until published.
    qint64 id() const;

    // This application's shown notifications, as new objects that the caller owns.
    static QList<ONotification *> notifications(NotificationStore *store);

public Q_SLOTS:
    virtual bool publish();
    virtual bool remove();

protected:
    enum class Kind { Notification, Group };

    ONotification(NotificationStore *store, Kind kind, const QString &eventType, QObject *parent);
    ONotification(NotificationStore *store, Kind kind, const QJsonObject &entry, QObject *parent);
    static QJsonArray entriesOf(NotificationStore *store, Kind kind);
    // Withdraws every shown entry, of any application, that matches.
    bool removeWhere(const std::function<bool(const QJsonObject &)> &matches);
    NotificationStore *store() const { return mStore; }

private:
    static QString kindName(Kind kind);

    NotificationStore *mStore;
    Kind mKind;
    QJsonObject mEntry;
};
