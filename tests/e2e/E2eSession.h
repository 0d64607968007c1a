// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "EventFeedProcess.h"
#include "FakeApiProcess.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"

#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QScopedPointer>
#include <QSqlDatabase>

#include <functional>

// One platform session for an end-to-end test, all real processes: a private bus, the
// reference feed on it, the fake API server on loopback and the built daemon pointed at
// both, with its log kept for the checks.
class E2eSession : public QObject
{
    Q_OBJECT

public:
    E2eSession();
    ~E2eSession() override;

    // Bus, server, account file (notification preferences on) and feed; false on failure.
    bool start();
    // Stores last-seen ids, so that mentions and messages newer than them are shown.
    void storeLastSeenIds(const QString &id);

    bool startDaemon();
    // SIGTERM and the exit status; true when it ended with 0.
    bool stopDaemon();
    // Logged in (a refresh starts the login when the daemon does not at once).
    bool waitForLogin(int logins = 1);
    // Asks the feed for a refresh until the daemon's timeline request reaches the server,
    // then waits until what it brought is in: see waitUntilStill().
    bool refresh();
    // Waits until the feed's calls, the notification store and the server's requests have
    // not changed for half a second.
    bool waitUntilStill();

    // Successful logins of this daemon: each one registers the social provider's runner.
    int logins() const { return mLogins; }
    // The daemon's log, for checks of a line that is itself what a test checks.
    QString log() const { return mLog; }

    // The tweet id of each item of the feed.
    QStringList itemTweetIds();
    // The daemon's entries of the notification store of this kind ("group", "notification").
    QList<QJsonObject> storeEntries(const QString &kind) const;
    QJsonObject mentionsGroup() const;
    // Screen names of the persons the runner answers, or an empty list.
    QStringList requestPersons();
    QStringList cacheTables() const;
    // The feed item ids the item cache has a row for, in ascending order.
    QList<qint64> cachedItemIds() const;
    // Posts a tweet on the fake service; its id, or an empty one when refused.
    QString postTweet(const QString &text, const QString &screenName = QStringLiteral("dave"),
                      const QString &mediaUrl = QString());

    PrivateBus &bus() { return *mBus; }
    TestEnvironment &environment() { return *mEnvironment; }
    FakeApiProcess &server() { return *mServer; }
    EventFeedProcess &feed() { return *mFeed; }
    QProcess &daemon() { return mDaemon; }

private:
    // Runs a read on a connection of the test's own to the daemon's cache file.
    void readCache(const std::function<void(QSqlDatabase &)> &read) const;

    QScopedPointer<PrivateBus> mBus;
    QScopedPointer<TestEnvironment> mEnvironment;
    QScopedPointer<FakeApiProcess> mServer;
    QScopedPointer<EventFeedProcess> mFeed;
    QProcess mDaemon;
    QString mLog;
    int mRequests = 0;
    int mLogins = 0;
};
