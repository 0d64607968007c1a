// The home timeline refresh cycle and the periodic maintenance tick.

#include "TwitterDaemon.h"

#include "SyncTimer.h"
#include "TwAccount.h"
#include "Twitter.h"

#include <QDebug>
#include <QTimer>

namespace {
// Tweets asked for, and examined for publication, per refresh.
const int HomeTimelineCount = 20;
}

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
    if (!mLoggedIn)
        return;
    if (!mTwitter) {
        qCritical() << Q_FUNC_INFO << "mTwitter == NULL";
        return;
    }
    qDebug() << Q_FUNC_INFO << "Query home timeline";
    const QMap<QString, QString> parameters = {
        {QStringLiteral("count"), QString::number(HomeTimelineCount)},
        {QStringLiteral("include_entities"), QStringLiteral("true")}};
    QVariantList tweets;
    // A newer request replaces the id; the older one's answer is then ignored.
    const int status = mTwitter->retrieveTimelineResources(
        &tweets, &mTimelineQueryId, TimelineType::HomeTimeline, parameters,
        fromNetwork ? Tw::Twitter::RETRIEVE_FROM_NETWORK : Tw::Twitter::RETRIEVE_FROM_CACHE);
    if (status != Tw::Twitter::RETRIEVE_OK)
        qCritical() << Q_FUNC_INFO << "retrieveTimelineResources returned != ok";
    if (!fromNetwork)
        onTimelineUpdated(TimelineType::HomeTimeline, tweets, mTimelineQueryId);
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
