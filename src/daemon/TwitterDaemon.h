// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "PendingImageItem.h"
#include "TwTypes.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QScopedPointer>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <vector>

class ComHalvexHomeEventFeedInterface;
class FriendsPaging;
class Helper;
class NetworkMonitor;
class NotificationHandler;
class QTimer;
class SdpImpl;
class SyncTimer;
class TwAccount;
class TwitterPlugin;

namespace Tw {
class Twitter;
}

// The one object that owns the daemon's work for the life of the process: the account
// and its login, the home timeline as event feed items with their SQLite item cache,
// the notification handler, and the daemon's own D-Bus service "com.halvex.twitterostra"
// (its public slots and signals, exported at "/twitterostra").
//
// Its members live beside this file, one file per concern:
//   TwitterDaemon.cpp            construction, init() and its wiring, the periodic tick
//   TwitterDaemonLogin.cpp       the login state machine, account events and removal
//   TwitterDaemonSettings.cpp    last-seen ids and notification preferences
//   TwitterDaemonService.cpp     the D-Bus methods of "com.halvex.twitterostra"
//   TwitterDaemonErrors.cpp      failed requests of the client, re-login on OAuth failure
//   TwitterDaemonHelp.cpp        the daily refresh of the service's configuration
//   TwitterDaemonTimeline.cpp    the home timeline refresh cycle
//   TwitterDaemonItemCache.cpp   the SQLite item cache
//   TwitterDaemonFeedItem.cpp    a tweet posted as a feed item and remembered
//   TwitterDaemonThumbnails.cpp  the pictures of a tweet as thumbnails
//   TwitterDaemonAvatars.cpp     the author's avatar that a tweet waits for
//   TwitterDaemonContacts.cpp    the friends import for the contacts daemon
//   TwitterDaemonPolling.cpp     mentions and messages polling, the followed-only friends list
// Each friends list comes by a FriendsPaging of its own (FriendsPaging.h).
class TwitterDaemon : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.halvex.twitterostra")

public:
    enum INIT_ERROR {
        INIT_ERROR_NONE = 0,
        INIT_ERROR_NO_ACCOUNT = 1,
        INIT_ERROR_DBUS = 2,
        INIT_ERROR_CACHE_DIR = 3,
        INIT_ERROR_DATABASE = 4
    };

    enum NEXT_STEP {
        NEXT_STEP_ADD_TO_HOMEVIEW = 1,
        NEXT_STEP_SKIP = 3
    };

    TwitterDaemon(bool firstStart, QObject *parent);
    ~TwitterDaemon() override;

    INIT_ERROR init();

    bool isLoggedIn() const { return mLoggedIn; }
    // True while the Twitter application owns its bus name.
    bool isGuiRunning() const;

    // Item cache: which tweet became which event feed item.
    bool createDbTables();
    bool deleteDbTables();
    void prepareCache();
    // A cache that can be read but not written would let every tweet be posted again.
    bool cacheIsWritable();
    // The statement prepared in its slot, or null when it cannot be (tried again next time).
    QSqlQuery *preparedQuery(QScopedPointer<QSqlQuery> &query, const QString &statement);
    void releasePreparedQueries();
    void addTweetToDb(const QVariantMap &tweet, qint64 homeviewId);
    NEXT_STEP checkTweetFromDb(const QVariantMap &tweet);
    // A fetched timeline's ids in its order, and as the JSON array bound to statements.
    struct FetchedIds {
        explicit FetchedIds(const QVariantList &timeline);
        QStringList ids;
        QString json;
    };
    // The fetched ids that the cache holds, in one statement; false when the lookup failed
    // (every tweet then counts as cached).
    bool cachedTweetIds(const FetchedIds &fetched, QSet<QString> *cached);
    // Withdraws the items of cached tweets that a fetched timeline no longer lists.
    void removeStaleItems(const FetchedIds &fetched);

    // Composes the tweet's event feed item and posts it; the item id, or -1.
    qint64 addTweetToHomeView(const QVariantMap &tweet, const QString &avatar, QStringList images);

    // Requests a thumbnail for each picture of the tweet; true when the tweet now waits
    // for them (and is published once they are in), false when it has none.
    bool processTweetImages(const QVariantMap &tweet, const QString &avatar);
    void ensureImageExtension(QString &path);
    void copyWithExtension(QString &path, const QString &extension);

    // Newest direct message and mention already seen; empty when none.
    QString lastIdMessages();
    QString lastIdMentions();

    // The friends list for the followed-only filter of mentions: fetchFriends() starts a
    // fetch that ends with friendsFetched(); friendScreenNames() is what it gathered.
    void fetchFriends();
    QStringList friendScreenNames() const;

    // The page of a kind's poll (an event type) up to maxId, still since the last-seen id,
    // for a poll whose answer filled its page; the query id, or -1 when not asked.
    int retrieveOlder(const QString &eventType, const QString &maxId);

Q_SIGNALS:
    void friendsFetched();

public Q_SLOTS:
    void refreshEventFeed();
    void deleteTweet(const QString &tweetId);
    void suspendNotifications(bool enabled);
    void clearMessageNotifications();
    void clearMentionNotifications();
    void updateLastId(const QString &id);

private Q_SLOTS:
    void republishEventFeed();
    void onTimer();
    void onTimerLogin();
    void avatarTimeout();
    void retryLogin();
    void onTwitterAccountCreated();
    void onOnlineStateChanged(bool isOnline);
    void onUserUpdated(const UserType::UserType &type, const QVariantList &data, int queryId);
    void onTimelineUpdated(const TimelineType::TimelineType &type, const QVariantList &data,
                           int queryId);
    void onNetworkRequestError(int queryId, const QVariantMap &err);
    void onTwitterAuthenticated(const QString &token, const QString &tokenSecret,
                                const QString &userId, const QString &username,
                                const QString &consumerKey, const QString &consumerSecret);
    void onTwitterAuthError(TwLoginError::TwLoginError type, const QString &error);
    void onTwitterAccountRemoved();
    void onTwitterAccountStateChanged(TwServiceType::Servicetype type, bool enabled);
    void onRefreshRequested();
    void onHelpRetrieved(const HelpType::HelpType &type, const QVariantList &data,
                         const QMap<QString, QString> &args, int queryId);
    void onTinyUrlThumbLoaded(const QString &fileUrl, int queryId);
    void onSettingsChanged(const QString &name, const bool &value);
    void updateLastIdMentions(const QString &id);
    void updateLastIdMessages(const QString &id);
    void onBusDisconnected();

private:
    static QStringList notificationSettingKeys();
    bool isFutureId(const QString &id, bool byDeviceClockMeanwhile) const;
    QString storedMarker(const QString &key) const;
    void applyNotificationSettings(const QStringList &keys);
    void updateHomeView(bool fromNetwork);
    void publishTweet(const QVariantMap &tweet, const QString &avatar);
    void postAndRemember(const QVariantMap &tweet, const QString &avatar, const QStringList &images);
    static QVariantMap author(const QVariantMap &tweet);
    static QMap<QString, QString> avatarParameters(const QVariantMap &person);
    QVariantList cachedAvatar(const QMap<QString, QString> &parameters);
    int avatarQuery(const QMap<QString, QString> &parameters, bool *requested);
    void waitForTimelineAvatar(const QVariant &tweet, const QMap<QString, QString> &parameters);
    bool avatarAnswered(int queryId, const QString &avatar);
    void releaseTweetsWaitingFor(const QString &name, const QString &avatar);
    void connectFriendsPagings();
    void onImportPage(const QVariantList &users);
    void onImportPageFailed(qint64 rateLimitWait);
    void prefetchFriendAvatar(const QVariantMap &user);
    void checkFriendAvatarsDone();
    void finishContactsUpdate();
    void retrieveFriends();
    void tryUpdateMessages();
    void tryUpdateMentions();
    bool canRequest(const char *caller) const;
    void retrieveMessages();
    void retrieveMentions();
    QMap<QString, QString> pollParameters(const QString &sinceId, const QString &maxId) const;
    // One request of the kind's poll (an event type), up to maxId when it is given.
    bool requestPoll(const QString &eventType, const QString &maxId, int *queryId);
    void handleFriendResults(const QVariantList &users, bool first);
    void onMentionFriendsPageFailed(qint64 rateLimitWait);
    bool mentionFriendsMayWait(qint64 wait) const;
    void endMentionFriendsFetch(bool decides);
    void checkAndRetrieveHelpConfiguration();
    void loginToTwitter();
    void scheduleLogin();
    void logout();
    void releaseSession();
    void forgetRequestsInFlight();
    void releaseRunner();
    void reloginAfterAuthFailure();
    void releaseFailedAvatar(int queryId);
    void retryWhenBusy();
    void connectAccount();
    void createEventFeedProxy();

    SyncTimer *mSyncTimer;
    QTimer *mLoginTimer;
    QTimer *mAvatarTimer;
    Helper *mHelper;
    TwAccount *mAccount;
    Tw::Twitter *mTwitter;
    SdpImpl *mSdp;
    TwitterPlugin *mPlugin;
    NetworkMonitor *mNetworkMonitor;
    ComHalvexHomeEventFeedInterface *mEventFeedIf;
    QSqlDatabase mDb;
    // Statements run for every refresh or tweet, prepared once; a change of
    // the table lets them go.
    QScopedPointer<QSqlQuery> mInsertQuery;
    QScopedPointer<QSqlQuery> mLookupQuery;
    QScopedPointer<QSqlQuery> mLookupAllQuery;
    QScopedPointer<QSqlQuery> mStaleQuery;
    // Ids that the refresh under way found missing from the cache, none written since:
    // looking them up again before their post needs no statement.
    QSet<QString> mUncachedIds;
    QString mUserId;
    QString mUserName;
    bool mLoggedIn;
    bool mLoginInProgress;
    int mLoginRetries;
    QTimer *mRetryLoginTimer;
    int mNextLocalImageQueryId;
    // What waits on the answers of the session's client. A logout forgets it whole: the
    // client that would answer goes with the session.
    struct RequestsInFlight {
        // The home timeline request of the refresh under way; -1 when none.
        int timelineQueryId = -1;
        // Tweets held back until their thumbnails are in.
        std::vector<std::unique_ptr<PendingImageItem>> pendingImageItems;
        // Timeline tweets waiting for their author's avatar.
        QVariantList tweetsWaitingForAvatar;
        // The avatar request of each screen name (lower case), and the screen name of each
        // request that timeline tweets or the friends prefetch wait for.
        QMap<QString, int> avatarQueries;
        QMap<int, QString> avatarQueryIds;
        QMap<int, QString> friendAvatarQueryIds;
    };
    RequestsInFlight mInFlight;
    // The friends pagings of the contacts import and of the followed-only filter; the
    // query id of each one's page in flight is its queryId().
    FriendsPaging *mFriendsPaging;
    FriendsPaging *mMentionFriendsPaging;
    // A friends import is wanted: set at the first start, an account added, each sync tick
    // and a logout that cut an import short; cleared when the import starts or the logins
    // are given up. (Named after the first start, where it began.)
    bool mFirstStart;
    bool mContactsUpdatePending;
    int mTimerTickCount;
    bool mForceLogin;
    NotificationHandler *mNotifHandler;
    QMutex mLastIdMessagesMutex;
    QMutex mLastIdMentionsMutex;
    QStringList mFriendScreenNames;
    // An item post timed out during this refresh.
    bool mEventFeedHung;
    // Started when a refresh is over: the memory its replies and pictures took goes back
    // to the system once the event loop is free.
    QTimer *mReleaseMemoryTimer;
    // Started by refreshEventFeed: calls while it runs fold into one republish.
    QTimer *mRepublishTimer;
};
