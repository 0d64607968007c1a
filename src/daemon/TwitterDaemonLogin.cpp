// SPDX-License-Identifier: BSD-3-Clause
// Login state machine: when to log in, what a login builds, retries, network changes and
// account events, the account's removal among them.

#include "TwitterDaemon.h"

#include "FriendsPaging.h"
#include "FeedItem.h"
#include "NotificationHandler.h"
#include "OGConfItem.h"
#include "SdpImpl.h"
#include "SyncTimer.h"
#include "TwAccount.h"
#include "Twitter.h"
#include "TwitterOstra.h"
#include "TwitterPlugin.h"
#include "eventfeedinterface.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDebug>
#include <QImage>
#include <QImageReader>
#include <QSettings>
#include <QTimer>

namespace {

const int MaxLoginRetries = 3;
const int RetryStepMs = 60000;
const int BusyRetryMs = 5000;
const QString ClockSkewError = QStringLiteral("Client time out of sync");
const QString DeletedUserError = QStringLiteral("User has been deleted");
const QString TwitterApplicationService = QStringLiteral("com.halvex.twitter.eventfeed");
const QString UpdateIntervalKey = QStringLiteral("/desktop/ostra/event_feed/update_interval");

// The compiled-in mask, read by the PNG reader built into QtGui. Left to detect the format,
// Qt would load every image plugin first, the SVG one with all of QtWidgets among them.
QImage avatarMask()
{
    QImageReader reader(QStringLiteral(":/avatar-mask"), "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

}

void TwitterDaemon::onTimerLogin()
{
    qDebug() << Q_FUNC_INFO << mLoginInProgress;
    if (mLoginInProgress)
        return;
    mLoginInProgress = true;
    loginToTwitter();
}

void TwitterDaemon::retryLogin()
{
    qDebug() << Q_FUNC_INFO << mLoginInProgress << mLoginRetries;
    if (mLoginInProgress)
        return;
    mLoginInProgress = true;
    mLoginTimer->stop();
    loginToTwitter();
}

void TwitterDaemon::loginToTwitter()
{
    qDebug() << Q_FUNC_INFO;
    // Without an account the attempt stays "in progress": only accountAdded starts anew.
    if (!mAccount->hasAccount() || !mAccount->isServiceEnabled(TwServiceType::SERVICE_ACCOUNT))
        return;
    releaseRunner();
    mAccount->login(mForceLogin, 0);
    mForceLogin = false;
}

void TwitterDaemon::onTwitterAuthenticated(const QString &token, const QString &tokenSecret,
                                           const QString &userId, const QString &username,
                                           const QString &consumerKey, const QString &consumerSecret)
{
    qDebug() << Q_FUNC_INFO;
    mLoggedIn = true;
    mLoginInProgress = false;
    mLoginRetries = 0;
    mRetryLoginTimer->stop();
    // A busy answer's retry still to come would log in again and drop this session.
    qDeleteAll(findChildren<QTimer *>(QStringLiteral("busyRetryTimer"), Qt::FindDirectChildrenOnly));
    mUserId = userId;
    mUserName = username;

    // A login answer while logged in (accountAdded restarts the login) replaces the
    // session: the old client must not go on answering into the daemon.
    releaseSession();
    mTwitter = new Tw::Twitter(token, tokenSecret, mUserId, mUserName, consumerKey, consumerSecret);
    if (!mTwitter->init()) {
        qCritical() << Q_FUNC_INFO << "Twitter backend initialize FAILED";
        QCoreApplication::exit(1);
    }
    mNotifHandler->init(mTwitter);
    const QStringList settingKeys = notificationSettingKeys();
    applyNotificationSettings(settingKeys);
    mAccount->watchSettings(settingKeys);
    mNotifHandler->decideHeldMentions();

    mTwitter->setMask(avatarMask());
    connect(mTwitter, &Tw::Twitter::timelineUpdated, this, &TwitterDaemon::onTimelineUpdated);
    connect(mTwitter, &Tw::Twitter::userUpdated, this, &TwitterDaemon::onUserUpdated);
    connect(mTwitter, &Tw::Twitter::userUpdated, mFriendsPaging, &FriendsPaging::takePage);
    connect(mTwitter, &Tw::Twitter::userUpdated, mMentionFriendsPaging, &FriendsPaging::takePage);
    connect(mTwitter, &Tw::Twitter::helpRetrieved, this, &TwitterDaemon::onHelpRetrieved);
    connect(mTwitter, &Tw::Twitter::networkRequestError, this, &TwitterDaemon::onNetworkRequestError);
    connect(mTwitter, &Tw::Twitter::tinyUrlImageLoaded, this, &TwitterDaemon::onTinyUrlThumbLoaded);

    mPlugin = new TwitterPlugin(mTwitter);
    mPlugin->setAccountInfo(token, tokenSecret, userId, username);
    mSdp = new SdpImpl(mPlugin, nullptr);
    if (!mSdp->init())
        QCoreApplication::exit(1);
    if (mAccount->isServiceEnabled(TwServiceType::SERVICE_CONTACTS)) {
        // While a friends import is wanted it is reported as running; otherwise the
        // friends at hand count as complete.
        mContactsUpdatePending = true;
        mPlugin->updateData(!mFirstStart, mFirstStart);
    }

    const int updateInterval = OGConfItem(UpdateIntervalKey).value().toInt();
    qDebug("update interval: %d", updateInterval);
    if (updateInterval != 0)
        onRefreshRequested();
}

void TwitterDaemon::onTwitterAuthError(TwLoginError::TwLoginError type, const QString &error)
{
    qDebug() << Q_FUNC_INFO << int(type) << error;
    mLoginInProgress = false;
    mLoggedIn = false;

    switch (type) {
    case TwLoginError::LOGIN_ERROR_GENERIC:
    case TwLoginError::LOGIN_ERROR_UNAUTHORIZED:
        if (error.startsWith(ClockSkewError))
            qWarning() << Q_FUNC_INFO << error;
        break;
    case TwLoginError::LOGIN_ERROR_BUSY:
        retryWhenBusy();
        break;
    case TwLoginError::LOGIN_ERROR_USER:
        if (error == DeletedUserError) {
            qWarning() << Q_FUNC_INFO << "User's twitter account is deactivated";
            mAccount->markAccountInvalid();
            return;
        }
        qWarning() << Q_FUNC_INFO << error;
        break;
    case TwLoginError::LOGIN_ERROR_ACCOUNT_UNUSABLE:
        qWarning() << Q_FUNC_INFO << error;
        mAccount->markAccountInvalid();
        return;
    default:
        qWarning() << Q_FUNC_INFO << error;
        break;
    }

    if (mLoginRetries < MaxLoginRetries) {
        ++mLoginRetries;
        mRetryLoginTimer->setSingleShot(true);
        mRetryLoginTimer->setInterval(mLoginRetries * RetryStepMs);
        mRetryLoginTimer->start();
    } else {
        mFirstStart = false;
    }
}

// An extra retry 5 s later, on top of the usual schedule, and also once that is used up.
void TwitterDaemon::retryWhenBusy()
{
    auto *timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("busyRetryTimer"));
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &TwitterDaemon::retryLogin);
    connect(timer, &QTimer::timeout, timer, &QObject::deleteLater);
    timer->start(BusyRetryMs);
}

void TwitterDaemon::onTwitterAccountCreated()
{
    qWarning() << Q_FUNC_INFO << "onTwitterAccountCreated" << " we shouldn't be here";
    mFirstStart = true;
    mLoginInProgress = false;
    mLoginTimer->stop();
    mLoginTimer->start();
}

void TwitterDaemon::onTwitterAccountStateChanged(TwServiceType::Servicetype type, bool enabled)
{
    qDebug() << Q_FUNC_INFO << int(type) << enabled;
    if (!enabled) {
        if (type == TwServiceType::SERVICE_ACCOUNT)
            onTwitterAccountRemoved();
        return;
    }
    if (type == TwServiceType::SERVICE_ACCOUNT)
        qWarning() << Q_FUNC_INFO << "Got account enabled!";
    if (mLoggedIn)
        onTimer();
}

// The account is gone: everything of it is withdrawn and the process ends.
void TwitterDaemon::onTwitterAccountRemoved()
{
    qDebug() << Q_FUNC_INFO;
    if (mSyncTimer)
        mSyncTimer->stop();
    if (mPlugin)
        mPlugin->accountRemoved();
    mEventFeedIf->removeItemsBySourceName(EventFeed::SourceName);
    if (mTwitter) {
        mTwitter->deleteCache();
        delete mTwitter;
        mTwitter = nullptr;
    }
    deleteDbTables();
    forgetRequestsInFlight();
    mNotifHandler->clear(QString(), true);

    QSettings settings;
    settings.setValue(TwitterOstra::FirstStartKey, true);
    settings.remove(TwitterOstra::LastIdMessagesKey);
    settings.remove(TwitterOstra::LastIdMentionsKey);
    settings.sync();
    QCoreApplication::exit(0);
}

void TwitterDaemon::onOnlineStateChanged(bool isOnline)
{
    qDebug() << Q_FUNC_INFO << isOnline;
    if (mLoggedIn && !isOnline)
        logout();
    else if (!mLoggedIn && isOnline)
        scheduleLogin();
}

// A login 100 ms from now, unless one is under way or already due: a login already due is
// not put off by requests that keep coming faster than that, and a request that comes
// while a login is answered must not start a second one that replaces the new session.
void TwitterDaemon::scheduleLogin()
{
    if (!mLoginInProgress && !mLoginTimer->isActive())
        mLoginTimer->start();
}

void TwitterDaemon::logout()
{
    qDebug() << Q_FUNC_INFO;
    mLoggedIn = false;
    releaseSession();
    mLoginTimer->stop();
    mRetryLoginTimer->stop();
    mSyncTimer->stop();
}

// Lets go of the client, disconnected at once so that nothing it still has in flight
// arrives; deleted later, since this may run inside one of its own signals. The runner
// (and with it the plugin) goes too, and so does every wait on the client's answers.
void TwitterDaemon::releaseSession()
{
    releaseRunner();
    if (mTwitter) {
        mTwitter->disconnect();
        mTwitter->deleteLater();
        mTwitter = nullptr;
    }
    forgetRequestsInFlight();
}

// Answers to the released client's requests can no longer come: nothing may wait on them.
// The tweets held back have no cache row and come again at the next refresh; mentions
// held for the friends list are decided by a fetch of the next session.
void TwitterDaemon::forgetRequestsInFlight()
{
    mInFlight = RequestsInFlight();
    // A contacts import cut short is wanted again at the next tick.
    if (mFriendsPaging->isActive())
        mFirstStart = true;
    mFriendsPaging->stop();
    mMentionFriendsPaging->stop();
    if (mAvatarTimer)
        mAvatarTimer->stop();
}

void TwitterDaemon::releaseRunner()
{
    delete mSdp;
    mSdp = nullptr;
    mPlugin = nullptr;
}

bool TwitterDaemon::isGuiRunning() const
{
    // Owning the application's name succeeds only while the application is gone.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool running = !bus.registerService(TwitterApplicationService);
    if (!running)
        bus.unregisterService(TwitterApplicationService);
    qDebug() << Q_FUNC_INFO << running;
    return running;
}
