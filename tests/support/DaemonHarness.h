#pragma once

#include "EventFeedProcess.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"
#include "TwitterDaemon.h"

#include <QScopedPointer>
#include <QSqlDatabase>

// A TwitterDaemon inside the test process, initialised against private XDG folders and a
// private session bus on which the reference event feed runs as a second process.
// Construct it before anything in the process uses QSettings or the session bus.
class DaemonHarness
{
public:
    DaemonHarness();
    ~DaemonHarness();

    // Starts the feed, builds the daemon and runs init(); false when any step fails.
    bool start(bool firstStart = false);

    TwitterDaemon &daemon() { return *mDaemon; }
    EventFeedProcess &feed() { return *mFeed; }
    TestEnvironment &environment() { return mEnvironment; }
    PrivateBus &bus() { return mBus; }

    // A connection of the test's own to the daemon's cache file, for SQL checks.
    QSqlDatabase cache();
    // Rows of the items table, twitter_id to homeview_id.
    QMap<QString, qint64> cachedItems();
    void clearCache();

private:
    TestEnvironment mEnvironment;
    PrivateBus mBus;
    QScopedPointer<EventFeedProcess> mFeed;
    QScopedPointer<TwitterDaemon> mDaemon;
};
