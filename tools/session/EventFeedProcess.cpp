// SPDX-License-Identifier: BSD-3-Clause
#include "EventFeedProcess.h"

#include "PrivateBus.h"

#include <QJsonDocument>
#include <QProcessEnvironment>

namespace {
const QString FeedService = QStringLiteral("com.halvex.home.EventFeed");
}

EventFeedProcess::EventFeedProcess(PrivateBus &bus)
    : mBus(bus)
    , mControl(new ComHalvexHomeEventFeedControlInterface(FeedService, QStringLiteral("/control"),
                                                          bus.connection()))
{
}

EventFeedProcess::~EventFeedProcess()
{
    stop();
}

void EventFeedProcess::setLogFiles(const QString &log, const QString &calls)
{
    mProcess.setStandardErrorFile(log);
    mProcess.setStandardOutputFile(calls);
    mLogged = true;
}

bool EventFeedProcess::start(const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), mBus.address());
    mProcess.setProcessEnvironment(environment);
    if (!mLogged)
        mProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mProcess.start(QStringLiteral(EVENTFEED_BINARY), arguments);
    return mProcess.waitForStarted(5000) && mBus.waitForName(FeedService);
}

void EventFeedProcess::stop()
{
    mProcess.kill();
    mProcess.waitForFinished(5000);
}

QJsonArray EventFeedProcess::items()
{
    return QJsonDocument::fromJson(mControl->itemsJson().value().toUtf8()).array();
}

QJsonArray EventFeedProcess::calls()
{
    return QJsonDocument::fromJson(mControl->callsJson().value().toUtf8()).array();
}
