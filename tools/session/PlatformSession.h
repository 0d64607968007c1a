// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "DaemonProcess.h"
#include "EventFeedProcess.h"
#include "FakeApiProcess.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"

#include <QJsonObject>
#include <QObject>
#include <QScopedPointer>
#include <QSqlDatabase>

#include <functional>

class SocialNetworkPerson;

// One platform session of real processes: a private bus, the reference feed on it, the
// fake API server on loopback and the built daemon pointed at both. The one place that
// knows how to start them, for the end-to-end tests, the benchmarks, the simulator and
// the interleaving run; it needs no QtTest.
class PlatformSession : public QObject
{
    Q_OBJECT

public:
    // In temporary folders, the processes' logs on this process's standard error; or in
    // the given run folder, kept, with each process's log in its logs/ folder.
    explicit PlatformSession(const QString &runDir = QString());
    ~PlatformSession() override;

    // The fake server's rate limits' window, before start(); 0 (the default) turns the
    // limits off, as the tests that are not about them expect.
    void setRateWindowSeconds(int seconds) { mServer->setRateWindowSeconds(seconds); }
    // Bus, server, account file (notification preferences on) and feed; false on failure.
    bool start();
    // Stores last-seen ids, so that mentions and messages newer than them are shown.
    void storeLastSeenIds(const QString &id);

    // The daemon with --debug; or with these arguments (none: as the platform runs it).
    bool startDaemon(const QStringList &arguments = {QStringLiteral("--debug")});
    // SIGTERM and the exit status; true when it ended with 0.
    bool stopDaemon();
    // Logged in (a refresh starts the login when the daemon does not at once).
    bool waitForLogin(int logins = 1);
    // Asks the feed for a refresh until the daemon's timeline request reaches the server,
    // then waits until what it brought is in: see waitUntilStill().
    bool refresh();
    // Asks the feed for refreshes until it holds this many items.
    bool waitForItems(int count, int timeoutMs = 20000);
    // Waits until the feed's calls, the notification store and the server's requests have
    // not changed for half a second.
    bool waitUntilStill(int timeoutMs = 15000);
    // Runs the event loop until done() holds; false on the timeout or after abort().
    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    // Every wait of this session ends at once from now on (a stop asked for by a signal).
    void abort() { mAborted = true; }

    // Successful logins of this daemon: each one registers the social provider's runner.
    int logins() const { return mLogins; }
    // The daemon's log, for checks of a line that is itself what a test checks.
    QString log() { return mDaemon.log(); }

    // The tweet id of each item of the feed.
    QStringList itemTweetIds();
    // The daemon's entries of the notification store of this kind ("group", "notification").
    QList<QJsonObject> storeEntries(const QString &kind) const;
    // The daemon's notification group of this event type, or an empty object.
    QJsonObject group(const QString &eventType) const;
    QJsonObject mentionsGroup() const { return group(QStringLiteral("mentions.service.twitter")); }
    // The persons the runner answers a persons request with; false with the reason when
    // there is no answer.
    bool requestPersons(QList<SocialNetworkPerson> *persons, QString *error = nullptr);
    // Their screen names, sorted; an empty list when there is no answer.
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
    DaemonProcess &daemon() { return mDaemon; }
    // The session's folders and bus, with the fake server as the proxy to every host.
    QProcessEnvironment daemonEnvironment() const;

    // Runs a read on a connection of the session's own to the daemon's cache file.
    void readCache(const std::function<void(QSqlDatabase &)> &read) const;

private:
    bool keepsLogs() const { return !mRunDir.isEmpty(); }
    QString logFile(const QString &name) const { return mEnvironment->logDir() + QLatin1Char('/') + name; }

    QString mRunDir;
    QScopedPointer<PrivateBus> mBus;
    QScopedPointer<TestEnvironment> mEnvironment;
    QScopedPointer<FakeApiProcess> mServer;
    QScopedPointer<EventFeedProcess> mFeed;
    DaemonProcess mDaemon;
    int mRequests = 0;
    int mLogins = 0;
    bool mAborted = false;
};
