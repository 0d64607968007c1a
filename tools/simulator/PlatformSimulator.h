// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "ChildProcess.h"
#include "SimulatorSnapshot.h"
#include "SimulatorView.h"

#include <QDBusConnection>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QScopedPointer>
#include <QStringList>

#include <functional>

class ComHalvexHomeEventFeedControlInterface;
class ContactsClient;
class FakeApiControl;

// The platform around the daemon in one process: a private session bus with the
// reference event feed, the fake API server with a timeline that moves over rounds, the
// real daemon, and a contacts daemon client; shows what the user would see.
class PlatformSimulator : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString runDir;
        int rounds = 0;          // 0: until stopped
        int intervalMs = 4000;   // between rounds
        bool clearScreen = true; // redraw in place
    };

    explicit PlatformSimulator(const Options &options, QObject *parent = nullptr);
    ~PlatformSimulator() override;

    // Runs to the end (the rounds done or a stop request); the exit status.
    int run();
    void requestStop(int signalNumber);

private:
    bool prepareRunDir();
    bool startBus();
    bool startFeed();
    bool startFakeApi();
    void writeAccountFile();
    bool startDaemon();
    void waitForLogin();
    void playRound(int round);
    void postFriends(int count);
    void resyncContacts();
    void refreshAndSettle();
    void takeSnapshot();
    void readNotificationStore();
    void printSummary();
    void shutdown();

    QProcessEnvironment childEnvironment() const;
    void startChild(QProcess &process, const QString &program, const QStringList &arguments, const QString &logName);
    void stopChild(QProcess &process, const QString &name, bool gently);
    // Runs the event loop until done() holds, the time is up or a stop was asked for.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);
    void error(const QString &text);
    void event(const QString &text) { mSnapshot.events.append(text); }
    int daemonLogCount(const QString &text) const { return mDaemonLog.count(text); }

    Options mOptions;
    SimulatorView mView;
    SimulatorSnapshot mSnapshot;
    ChildProcess mBus;
    ChildProcess mFeed;
    ChildProcess mFakeApi;
    ChildProcess mDaemon;
    QFile mDaemonLogFile;
    QString mDaemonLog;
    QString mBusAddress;
    quint16 mApiPort = 0;
    QDBusConnection mConnection;
    QScopedPointer<ComHalvexHomeEventFeedControlInterface> mFeedControl;
    QScopedPointer<FakeApiControl> mApi;
    QScopedPointer<ContactsClient> mContacts;
    QStringList mAddedTweets;
    bool mStopRequested = false;
    bool mDaemonEndExpected = false;
};
