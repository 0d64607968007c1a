#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class ONotificationGroup;
class ORemoteAction;

// A notification of the platform's notification system, for this application (the
// application name of QCoreApplication). Setters change the local object; publish()
// shows it, or updates it once shown; the shown notification stays when the object goes.
class ONotification : public QObject
{
    Q_OBJECT

public:
    ONotification(const QString &eventType, const QString &summary = QString(),
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
    static QList<ONotification *> notifications();

public Q_SLOTS:
    virtual bool publish();
    virtual bool remove();

protected:
    enum class Kind { Notification, Group };

    ONotification(Kind kind, const QString &eventType, QObject *parent);
    ONotification(Kind kind, const QJsonObject &entry, QObject *parent);
    static QJsonArray entriesOf(Kind kind);
    // Withdraws every shown entry, of any application, that matches.
    static bool removeWhere(const std::function<bool(const QJsonObject &)> &matches);

private:
    static QString kindName(Kind kind);

    Kind mKind;
    QJsonObject mEntry;
};
