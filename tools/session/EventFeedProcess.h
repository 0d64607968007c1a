// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "eventfeedcontrolinterface.h"

#include <QJsonArray>
#include <QProcess>
#include <QScopedPointer>

class PrivateBus;

// The reference event feed (tools/eventfeed) as a second process on a private bus,
// playing the platform's feed for a test.
class EventFeedProcess
{
public:
    explicit EventFeedProcess(PrivateBus &bus);
    ~EventFeedProcess();

    // Starts the feed and waits until it owns its bus name.
    bool start();
    void stop();

    ComHalvexHomeEventFeedControlInterface &control() { return *mControl; }
    QJsonArray items();
    QJsonArray calls();

private:
    PrivateBus &mBus;
    QProcess mProcess;
    QScopedPointer<ComHalvexHomeEventFeedControlInterface> mControl;
};
