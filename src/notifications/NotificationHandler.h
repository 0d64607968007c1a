#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

namespace Tw {
class Twitter;
}

// Turns new mentions and direct messages into platform notifications and reports the
// newest ids seen to the daemon, its parent.
class NotificationHandler : public QObject
{
    Q_OBJECT

public:
    // Kinds of notification, as bits of the enabled set.
    enum Type : quint32 {
        TYPE_MESSAGES = 1,
        TYPE_MENTIONS = 2,
        TYPE_FOLLOWED_ONLY = 4,
        TYPE_ANYONE = 8
    };

    // The parent must be the TwitterDaemon.
    explicit NotificationHandler(QObject *parent);

    // The client of the new login session; used for its results and date conversion.
    bool init(Tw::Twitter *client);

    // Switching a kind off withdraws its notifications at once.
    void setNotificationEnabled(quint32 type, bool enabled);
    void disableNotifications();
    quint32 enabledTypes() const { return mEnabledTypes; }

    void setSilent(bool silent);
    bool isSilent() const;

    // Withdraws the notifications and groups of an event type, or of every type when
    // eventType is empty.
    void clear(const QString &eventType, bool refresh);

Q_SIGNALS:
    void lastIdMessagesUpdated(QString id);
    void lastIdMentionsUpdated(QString id);

private Q_SLOTS:
    void finishHandleMentionsRetweets();

private:
    Tw::Twitter *mClient;
    quint32 mEnabledTypes;
    bool mSilent;
    int mMessagesQueryId;
    int mMentionsQueryId;
    QVariantList mPendingMentions;
};
