// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "EventFeedProcess.h"
#include "OLocale.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"
#include "TwitterDaemon.h"

#include <QScopedPointer>
#include <QSqlDatabase>
#include <QTimer>

// A TwitterDaemon inside the test process, initialised against private XDG folders and a
// private session bus on which the reference event feed runs as a second process.
// Construct it before anything in the process uses QSettings or the session bus. The
// translation catalogue of the build tree is installed, as the daemon's start-up does.
class DaemonHarness
{
public:
    DaemonHarness();
    ~DaemonHarness();

    // Starts the feed, writes a default account unless one exists, builds the daemon and
    // runs init(); false when any step fails.
    bool start(bool firstStart = false);
    // Replaces the daemon by a new one on the same bus, folders and feed.
    bool restartDaemon(bool firstStart = false);
    // Tells the daemon that the device is online, which leads to a login 100 ms later.
    void goOnline();
    // A timer of the daemon by its object name, e.g. "loginTimer"; null when there is none.
    QTimer *timer(const QString &name);

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
    OLocale mLocale;
    PrivateBus mBus;
    QScopedPointer<EventFeedProcess> mFeed;
    QScopedPointer<TwitterDaemon> mDaemon;
};
