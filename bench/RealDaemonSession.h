// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "EventFeedProcess.h"
#include "FakeApiProcess.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"

#include <QProcess>
#include <QScopedPointer>

// Ends a process started by a benchmark: SIGTERM, then SIGKILL after 5 s.
void stopProcess(QProcess &process);

// The real daemon on a private bus beside the reference feed, its API at the fake server
// and every picture host reached through that server as a proxy, so that nothing leaves
// the machine. Run without --debug, as the platform runs it.
class RealDaemonSession
{
public:
    ~RealDaemonSession();

    bool start();
    // Logged in: the social provider is served only then.
    bool waitForLogin();
    // Asks for a refresh until the feed holds the timeline's first 20 tweets.
    bool waitForFirstRefresh();

    PrivateBus &bus() { return mBus; }
    TestEnvironment &environment() { return mEnvironment; }
    FakeApiProcess &server() { return mServer; }
    EventFeedProcess &feed() { return *mFeed; }
    qint64 pid() const { return mDaemon.processId(); }

private:
    PrivateBus mBus;
    TestEnvironment mEnvironment;
    FakeApiProcess mServer;
    QScopedPointer<EventFeedProcess> mFeed;
    QProcess mDaemon;
};
