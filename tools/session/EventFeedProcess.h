// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SessionProcess.h"
#include "eventfeedcontrolinterface.h"

#include <QJsonArray>
#include <QScopedPointer>
#include <QStringList>

class PrivateBus;

// The reference event feed (tools/eventfeed) as a second process on a private bus,
// playing the platform's feed.
class EventFeedProcess
{
public:
    explicit EventFeedProcess(PrivateBus &bus);
    ~EventFeedProcess();

    // Its log and the calls it prints go to these files instead of this process's own
    // standard error and output.
    void setLogFiles(const QString &log, const QString &calls);
    // Starts the feed with these options and waits until it owns its bus name.
    bool start(const QStringList &arguments = {});
    void stop();

    ComHalvexHomeEventFeedControlInterface &control() { return *mControl; }
    QJsonArray items();
    QJsonArray calls();

private:
    PrivateBus &mBus;
    SessionProcess mProcess;
    QScopedPointer<ComHalvexHomeEventFeedControlInterface> mControl;
    bool mLogged = false;
};
