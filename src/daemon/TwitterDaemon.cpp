// SPDX-License-Identifier: BSD-3-Clause
#include "TwitterDaemon.h"

#include "FriendsPaging.h"
#include "Helper.h"
#include "NetworkMonitor.h"
#include "NotificationHandler.h"
#include "OwnFiles.h"
#include "SdpImpl.h"
#include "SyncTimer.h"
#include "TwAccount.h"
#include "TwFactoryOstra.h"
#include "Twitter.h"
#include "TwitterOstra.h"
#include "TwitterPlugin.h"
#include "eventfeedinterface.h"
#include "twitterostraadaptor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDebug>
#include <QDir>
#include <QSettings>
#include <QSqlError>
#include <QTimer>

#include <malloc.h>

namespace {

const char ServiceName[] = "com.halvex.twitterostra";
const char ObjectPath[] = "/twitterostra";
const QString EventFeedService = QStringLiteral("com.halvex.home.EventFeed");
const QString EventFeedPath = QStringLiteral("/eventfeed");
const QString ConnectionName = QStringLiteral("twitter-daemon-connection");
const QString DatabaseFile = QStringLiteral("twitter-cache.db");

const int LoginDelayMs = 100;
const int SyncIntervalSeconds = 14400;
const int AvatarTimeoutMs = 60000;
// Every this many ticks the client drops what it no longer needs.
const int CleanUpTicks = 6;

}

TwitterDaemon::TwitterDaemon(bool firstStart, QObject *parent)
    : QObject(parent)
    , mSyncTimer(nullptr)
    , mLoginTimer(nullptr)
    , mAvatarTimer(nullptr)
    , mHelper(nullptr)
    , mAccount(nullptr)
    , mTwitter(nullptr)
    , mSdp(nullptr)
    , mPlugin(nullptr)
    , mNetworkMonitor(new NetworkMonitor(this))
    , mEventFeedIf(nullptr)
    , mLoggedIn(false)
    , mLoginInProgress(false)
    , mLoginRetries(0)
    , mRetryLoginTimer(nullptr)
    , mNextLocalImageQueryId(-2)
    , mFriendsPaging(new FriendsPaging(QStringLiteral("friends"), this))
    , mMentionFriendsPaging(new FriendsPaging(QStringLiteral("mentionFriends"), this))
    , mFirstStart(firstStart)
    , mContactsUpdatePending(false)
    , mTimerTickCount(0)
    , mForceLogin(false)
    , mNotifHandler(nullptr)
    , mEventFeedHung(false)
    , mReleaseMemoryTimer(new QTimer(this))
    , mRepublishTimer(new QTimer(this))
{
    mNotifHandler = new NotificationHandler(this);
    mReleaseMemoryTimer->setSingleShot(true);
    mReleaseMemoryTimer->setInterval(0);
    connect(mReleaseMemoryTimer, &QTimer::timeout, this, [] { malloc_trim(0); });
    mRepublishTimer->setSingleShot(true);
    mRepublishTimer->setInterval(0);
    connect(mRepublishTimer, &QTimer::timeout, this, &TwitterDaemon::republishEventFeed);
    connectFriendsPagings();
}

void TwitterDaemon::connectFriendsPagings()
{
    connect(mFriendsPaging, &FriendsPaging::page, this, &TwitterDaemon::onImportPage);
    connect(mFriendsPaging, &FriendsPaging::finished, this, &TwitterDaemon::checkFriendAvatarsDone);
    connect(mFriendsPaging, &FriendsPaging::failed, this, &TwitterDaemon::onImportPageFailed);
    connect(mMentionFriendsPaging, &FriendsPaging::page, this, &TwitterDaemon::handleFriendResults);
    connect(mMentionFriendsPaging, &FriendsPaging::finished, this, [this] { endMentionFriendsFetch(true); });
    connect(mMentionFriendsPaging, &FriendsPaging::failed, this, &TwitterDaemon::onMentionFriendsPageFailed);
}

TwitterDaemon::~TwitterDaemon()
{
    releasePreparedQueries();
    mDb.close();
    delete mHelper;
    delete mSdp;
    delete mTwitter;
}

TwitterDaemon::INIT_ERROR TwitterDaemon::init()
{
    if (!mAccount)
        mAccount = TwOstra::TwFactoryOstra::getInstance()->account();
    if (!mAccount->hasAccount() || !mAccount->isServiceEnabled(TwServiceType::SERVICE_ACCOUNT)) {
        qDebug() << Q_FUNC_INFO << "No twitter account on startup";
        return INIT_ERROR_NO_ACCOUNT;
    }
    connectAccount();
    if (!mEventFeedIf)
        createEventFeedProxy();

    mHelper = new Helper;
    new TwitterostraAdaptor(this);

    // The object before the name: a peer that sees the name may call at once.
    QDBusConnection bus = QDBusConnection::sessionBus();
    qDebug() << Q_FUNC_INFO << "registerObject:" << QString::fromLatin1(ObjectPath);
    if (!bus.registerObject(QString::fromLatin1(ObjectPath), this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)) {
        qCritical() << Q_FUNC_INFO << "Unable to register:" << bus.lastError().name()
                    << bus.lastError().message();
        return INIT_ERROR_DBUS;
    }
    qDebug() << Q_FUNC_INFO << "registerService:" << QString::fromLatin1(ServiceName);
    if (!bus.registerService(QString::fromLatin1(ServiceName))) {
        qCritical() << Q_FUNC_INFO << "Failed to register service:" << QString::fromLatin1(ServiceName);
        return INIT_ERROR_DBUS;
    }
    // Qt 5 tells of a lost bus only by libdbus's local signal. Without a bus nobody can
    // reach the daemon any more: it ends, for its service manager to start it again.
    if (!bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"), QStringLiteral("org.freedesktop.DBus.Local"),
                     QStringLiteral("Disconnected"), this, SLOT(onBusDisconnected())))
        qWarning() << Q_FUNC_INFO << "Cannot watch the session bus connection:" << bus.lastError().message();

    mDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), ConnectionName);
    // An empty value counts as unset: it would put the cache at the root of the file system.
    if (qEnvironmentVariableIsEmpty("XDG_CACHE_HOME")) {
        qCritical("Error: Not found XDG_CACHE_HOME environment variable");
        return INIT_ERROR_CACHE_DIR;
    }
    const QChar separator = QDir::separator();
    const QDir cacheDir(qEnvironmentVariable("XDG_CACHE_HOME") + separator + QStringLiteral("data")
                        + separator + QStringLiteral("twitter-ostra") + separator);
    if (!cacheDir.exists() && !QDir().mkpath(cacheDir.absolutePath())) {
        qCritical() << Q_FUNC_INFO << "Error: Cannot create directory: " << cacheDir.absolutePath();
        return INIT_ERROR_CACHE_DIR;
    }
    const QString databasePath = cacheDir.absolutePath() + separator + DatabaseFile;
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")})
        OwnFiles::replaceLink(databasePath + suffix);
    // The social provider's import state, written at each import.
    OwnFiles::replaceLink(QSettings(QSettings::IniFormat, QSettings::UserScope, TwitterOstra::OrganizationName,
                                    TwitterOstra::RosterdApplicationName).fileName());
    mDb.setDatabaseName(databasePath);
    if (!mDb.open()) {
        qCritical() << Q_FUNC_INFO << "Error: Cannot open database: " << databasePath;
        qCritical() << Q_FUNC_INFO << mDb.lastError().text();
        return INIT_ERROR_DATABASE;
    }
    if (!createDbTables())
        return INIT_ERROR_DATABASE;
    prepareCache();
    if (!cacheIsWritable()) {
        qCritical() << Q_FUNC_INFO << "Error: Cannot write database: " << databasePath;
        return INIT_ERROR_DATABASE;
    }

    connect(mNetworkMonitor, &NetworkMonitor::onlineStateChanged, this,
            &TwitterDaemon::onOnlineStateChanged);

    mLoginTimer = new QTimer(this);
    mLoginTimer->setObjectName(QStringLiteral("loginTimer"));
    mLoginTimer->setInterval(LoginDelayMs);
    mLoginTimer->setSingleShot(true);
    connect(mLoginTimer, &QTimer::timeout, this, &TwitterDaemon::onTimerLogin);
    if (mNetworkMonitor->isOnline())
        mLoginTimer->start();

    mSyncTimer = new SyncTimer(this);
    mSyncTimer->setObjectName(QStringLiteral("syncTimer"));
    mSyncTimer->setTimerInterval(SyncIntervalSeconds, SyncIntervalSeconds);
    connect(mSyncTimer, &SyncTimer::timeout, this, &TwitterDaemon::onTimer);

    mRetryLoginTimer = new QTimer(this);
    mRetryLoginTimer->setObjectName(QStringLiteral("retryLoginTimer"));
    mRetryLoginTimer->setSingleShot(true);
    connect(mRetryLoginTimer, &QTimer::timeout, this, &TwitterDaemon::retryLogin);

    mAvatarTimer = new QTimer(this);
    mAvatarTimer->setObjectName(QStringLiteral("avatarTimer"));
    mAvatarTimer->setInterval(AvatarTimeoutMs);
    mAvatarTimer->setSingleShot(true);
    connect(mAvatarTimer, &QTimer::timeout, this, &TwitterDaemon::avatarTimeout);

    connect(mNotifHandler, &NotificationHandler::lastIdMessagesUpdated, this,
            &TwitterDaemon::updateLastIdMessages);
    connect(mNotifHandler, &NotificationHandler::lastIdMentionsUpdated, this,
            &TwitterDaemon::updateLastIdMentions);
    return INIT_ERROR_NONE;
}

void TwitterDaemon::onBusDisconnected()
{
    qCritical() << Q_FUNC_INFO << "Error: Lost the connection to the session bus, exiting";
    QCoreApplication::exit(1);
}

// The periodic maintenance tick: the service's configuration, the friends for the
// contacts, and now and then the client's clean-up.
void TwitterDaemon::onTimer()
{
    qDebug() << Q_FUNC_INFO;
    checkAndRetrieveHelpConfiguration();
    mFirstStart = true;
    ++mTimerTickCount;
    if (mPlugin)
        mPlugin->updateData(false, true);
    mContactsUpdatePending = true;
    if (mAccount->isServiceEnabled(TwServiceType::SERVICE_CONTACTS) && !mFriendsPaging->isActive()
        && mInFlight.friendAvatarQueryIds.isEmpty() && mFirstStart) {
        mFirstStart = false;
        retrieveFriends();
    }
    if (mTimerTickCount >= CleanUpTicks) {
        mTimerTickCount = 0;
        if (mTwitter)
            mTwitter->deleteOldStuff();
    }
}

void TwitterDaemon::connectAccount()
{
    connect(mAccount, &TwAccount::accountAdded, this, &TwitterDaemon::onTwitterAccountCreated);
    connect(mAccount, &TwAccount::accountStateChanged, this, &TwitterDaemon::onTwitterAccountStateChanged);
    connect(mAccount, &TwAccount::accountRemoved, this, &TwitterDaemon::onTwitterAccountRemoved);
    connect(mAccount, &TwAccount::loginResponse, this, &TwitterDaemon::onTwitterAuthenticated);
    connect(mAccount, &TwAccount::loginError, this, &TwitterDaemon::onTwitterAuthError);
    connect(mAccount, &TwAccount::settingsChanged, this, &TwitterDaemon::onSettingsChanged);
}

void TwitterDaemon::createEventFeedProxy()
{
    mEventFeedIf = new ComHalvexHomeEventFeedInterface(EventFeedService, EventFeedPath,
                                                       QDBusConnection::sessionBus(), this);
    connect(mEventFeedIf, &ComHalvexHomeEventFeedInterface::refreshRequested, this,
            &TwitterDaemon::onRefreshRequested);
}
