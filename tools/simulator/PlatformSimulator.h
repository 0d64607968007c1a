// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "PlatformSession.h"
#include "SimulatorSnapshot.h"
#include "SimulatorView.h"

#include <QObject>
#include <QStringList>

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
        bool details = false;    // every item, notification, contact and window in full
        bool ownDaemon = true;   // false: the user starts one on the simulator's bus
    };

    explicit PlatformSimulator(const Options &options, QObject *parent = nullptr);
    ~PlatformSimulator() override;

    // Runs to the end (the rounds done or a stop request); the exit status.
    int run();
    void requestStop(int signalNumber);

private:
    bool startSession();
    void printStart();
    void writeDaemonEnvironment(const QString &path);
    bool daemonReady();
    bool daemonOnBus(const QString &name);
    void playRound(int round);
    void post(const QString &action, const QJsonObject &body, const QString &event);
    void postFriends(int count);
    void resyncContacts();
    QJsonObject rateWindow(const QString &endpoint);
    bool lastRefusedByTheLimit(const QString &endpoint);
    void waitForRateWindow(const QString &endpoint);
    void readRateLimits();
    void refreshAndSettle();
    void takeSnapshot();
    void readNotificationStore();
    void printSummary();
    void shutdown();
    void error(const QString &text);

    Options mOptions;
    SimulatorView mView;
    SimulatorSnapshot mSnapshot;
    PlatformSession mSession;
    // Ours on the service, oldest first, to be deleted in turn: id and what a reader calls it.
    QList<QPair<QString, QString>> mAddedTweets;
    // The login after which the user last switched the contacts off and on.
    int mContactsSyncedAtLogin = 0;
    // Rounds played to their end and shown; a round cut short by a stop is not.
    int mRoundsShown = 0;
    bool mStopRequested = false;
    bool mDaemonEndExpected = false;
};
