// The home timeline refresh cycle and the periodic maintenance tick.

#include "TwitterDaemon.h"

#include "SyncTimer.h"
#include "TwAccount.h"
#include "Twitter.h"

#include <QDebug>
#include <QTimer>

void TwitterDaemon::onRefreshRequested()
{
    qDebug() << Q_FUNC_INFO;
    mSyncTimer->wokeUp();
    if (!mLoggedIn) {
        mLoginTimer->start();
        return;
    }
    if (mAccount->isServiceEnabled(TwServiceType::SERVICE_EVENT_FEED))
        updateHomeView(true);
}

void TwitterDaemon::updateHomeView(bool fromNetwork)
{
    qDebug() << Q_FUNC_INFO << fromNetwork;
}

void TwitterDaemon::onTimelineUpdated(const TimelineType::TimelineType &type, const QVariantList &data,
                                      int queryId)
{
    qDebug() << Q_FUNC_INFO << int(type) << queryId << data.size();
}

void TwitterDaemon::onTimer()
{
    qDebug() << Q_FUNC_INFO;
    checkAndRetrieveHelpConfiguration();
}

void TwitterDaemon::onUserUpdated(const UserType::UserType &type, const QVariantList &data, int queryId)
{
    qDebug() << Q_FUNC_INFO << int(type) << queryId << data.size();
}

void TwitterDaemon::avatarTimeout()
{
    qDebug() << Q_FUNC_INFO;
}

void TwitterDaemon::onTinyUrlThumbLoaded(const QString &fileUrl, int queryId)
{
    qDebug() << Q_FUNC_INFO << fileUrl << queryId;
}

void TwitterDaemon::onNetworkRequestError(int queryId, const QVariantMap &err)
{
    qDebug() << Q_FUNC_INFO << "Got net error for:" << queryId << err;
}
