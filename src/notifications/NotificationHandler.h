// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

#include "TwTypes.h"

class NotificationStore;
class ONotification;
class ONotificationGroup;
class ORemoteAction;
class TwitterDaemon;

namespace Tw {
class Twitter;
}

// Turns new mentions and direct messages into grouped platform notifications, and
// reports the newest id of every accepted result to the daemon, its parent.
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
    ~NotificationHandler() override;

    // The client of a new login session: its mentions and direct-message results.
    void init(Tw::Twitter *client);

    // Switching a kind off withdraws its notifications at once.
    void setNotificationEnabled(quint32 type, bool enabled);
    void disableNotifications();
    quint32 enabledTypes() const { return mEnabledTypes; }

    void setSilent(bool silent);
    bool isSilent() const;

    // Only the results of the latest poll of each kind are taken.
    void setMessagesQueryId(int queryId);
    void setMentionsQueryId(int queryId);

    // Withdraws the notifications and groups of an event type, or of every type when
    // eventType is empty; refresh reloads what is shown first.
    void clear(const QString &eventType, bool refresh);
    void refreshNotifications();
    ONotificationGroup *findGroup(const QString &eventType);
    void handleLastId(const QString &eventType, const QVariantList &data);

    // False when the notification system refused them.
    bool processMessages(const QVariantList &messages);
    bool processMentions(const QVariantList &mentions);
    void handleMentionsRetweets(const QVariantList &mentions);
    // Mentions held for a friends list that a released session never delivered: decided
    // by a fetch of the new session.
    void decideHeldMentions();
    // How long mentions have been held for a friends list; 0 when none are.
    qint64 mentionsHeldForMs() const { return mHeldSince.isValid() ? mHeldSince.elapsed() : 0; }
    // The mentions that may be shown; completed is set when "following" decided them all.
    QVariantList filterOnlyFollowed(const QVariantList &mentions, bool &completed);
    // Decides the held mentions with the friends list at hand.
    void finishHandleMentionsRetweets();

Q_SIGNALS:
    void lastIdMessagesUpdated(QString id);
    void lastIdMentionsUpdated(QString id);

private Q_SLOTS:
    void onDirectMessageUpdated(DirectMessageType::DirectMessageType type, QVariantList data, int queryId);
    void onTimelineUpdated(TimelineType::TimelineType timelineType, QVariantList data, int queryId);

private:
    // What a poll has brought while it pages back into more than a page of news.
    struct PollPages
    {
        QVariantList items;
        int pages = 0;
    };
    // Gathers an answer of the poll; false while an older page is asked for (its id then
    // in queryId), true when the poll is complete.
    bool pollComplete(PollPages &poll, int &queryId, const QVariantList &data, const QString &marker,
                      const QString &eventType, bool pageBack);
    static QString oldestId(const QVariantList &items);

    // The newer mentions, then the held ones that the newer do not bring again.
    static QVariantList joined(const QVariantList &newer, const QVariantList &held);
    void recordNewestMention();
    void releaseHeldMentions(bool record);

    struct Kind;
    static const Kind Messages;
    static const Kind Mentions;

    TwitterDaemon *daemon() const;
    bool notify(const QVariantList &items, const Kind &kind);
    unsigned int foldShown(const Kind &kind);

    NotificationStore *mStore;
    Tw::Twitter *mClient;
    quint32 mEnabledTypes;
    bool mSilent;
    int mMessagesQueryId;
    int mMentionsQueryId;
    PollPages mMessagesPoll;
    PollPages mMentionsPoll;
    QList<ONotification *> mShownNotifications;
    QList<ONotificationGroup *> mShownGroups;
    QVariantList mPendingMentions;
    QElapsedTimer mHeldSince;
    // The latest mentions result whose newest id waits for its mentions to be decided.
    QVariantList mUnrecordedMentions;
};
