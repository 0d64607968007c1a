// SPDX-License-Identifier: BSD-3-Clause
// ostra-simulator: the platform around twitter-ostra in one command. A private session
// bus, the reference event feed, the fake Twitter API server with a timeline that moves
// over rounds, the real daemon and a contacts daemon client; shows what the user sees.

#include "PlatformSimulator.h"
#include "UnixSignalNotifier.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QLoggingCategory>

#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostra-simulator"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs twitter-ostra against a simulated platform on a private bus and shows the feed,\n"
        "the notifications and the contacts; Ctrl-C stops it."));
    parser.addHelpOption();
    const QCommandLineOption rounds(QStringLiteral("rounds"), QStringLiteral("Stop after n rounds (0: run until stopped)."),
                                    QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption interval(QStringLiteral("interval"), QStringLiteral("Seconds between rounds."),
                                      QStringLiteral("seconds"), QStringLiteral("4"));
    const QCommandLineOption runDir(QStringLiteral("run-dir"),
                                    QStringLiteral("Folder for the session's files, logs and feed.html."),
                                    QStringLiteral("dir"), QStringLiteral("ostra-simulator-run"));
    const QCommandLineOption noClear(QStringLiteral("no-clear"),
                                     QStringLiteral("Print each round below the last instead of redrawing."));
    const QCommandLineOption details(QStringLiteral("details"),
                                     QStringLiteral("Show every item, notification, contact and rate limit window in full,\n"
                                                    "with the pictures' files (the default fits a round in 40 rows)."));
    const QCommandLineOption noDaemon(QStringLiteral("no-daemon"),
                                      QStringLiteral("Start no daemon: print the bus address and environment for one\n"
                                                     "started by hand (under a debugger, say) and wait for it."));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Log the simulator's own steps on stderr."));
    parser.addOptions({rounds, interval, runDir, noClear, details, noDaemon, verbose});
    parser.process(app);
    // Debug lines would scroll the redrawn screen away.
    if (!parser.isSet(verbose))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    PlatformSimulator::Options options;
    bool roundsOk = false;
    bool intervalOk = false;
    options.rounds = parser.value(rounds).toInt(&roundsOk);
    options.intervalMs = int(parser.value(interval).toDouble(&intervalOk) * 1000);
    if (!roundsOk || options.rounds < 0 || !intervalOk || options.intervalMs < 0) {
        qCritical() << Q_FUNC_INFO << "--rounds and --interval take numbers of zero or more";
        return 2;
    }
    options.runDir = parser.value(runDir);
    options.clearScreen = !parser.isSet(noClear) && ::isatty(STDOUT_FILENO);
    options.details = parser.isSet(details);
    options.ownDaemon = !parser.isSet(noDaemon);

    PlatformSimulator simulator(options);
    UnixSignalNotifier unixSignals;
    QObject::connect(&unixSignals, &UnixSignalNotifier::stopRequested, &simulator, &PlatformSimulator::requestStop);
    return simulator.run();
}
