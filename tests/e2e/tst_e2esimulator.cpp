// SPDX-License-Identifier: BSD-3-Clause
// The platform simulator as a person runs it, for a few quick rounds: it ends by itself
// with status 0, each round's compact screen fits 40 rows and shows the texts as their
// reader sees them, its summary counts what it showed, and the page holds the feed, the
// notification groups and the contacts; Ctrl-C in the middle of a round stops the daemon
// gently and ends with status 0 and no error; with --no-daemon a daemon started by hand
// in the environment it prints plays the rounds, and is left to end with the bus.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>

namespace {

// Starts the simulator with its output, stdout and stderr, gathered as it comes.
void startSimulator(QProcess &simulator, QString &output, const QStringList &arguments)
{
    simulator.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&simulator, &QProcess::readyRead, &simulator,
                     [&] { output += QString::fromUtf8(simulator.readAll()); });
    simulator.start(QStringLiteral(SIMULATOR_BINARY), arguments);
}

// Whether the simulator showed the text; it stops waiting should the simulator end first.
bool waitForOutput(QProcess &simulator, const QString &output, const QString &text)
{
    const bool settled =
        QTest::qWaitFor([&] { return output.contains(text) || simulator.state() == QProcess::NotRunning; }, 60000);
    return settled && output.contains(text);
}

// Whether the process has ended: the wait for its output may have seen it end already,
// and waitForFinished() then answers false.
bool waitForEnd(QProcess &process, int timeoutMs)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}

bool endedWithZero(const QProcess &process)
{
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}

class TestE2eSimulator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundsEndWithASummaryAndAPage();
    void interruptInARoundIsNoError();
    void handStartedDaemonPlaysTheRounds();
};

void TestE2eSimulator::roundsEndWithASummaryAndAPage()
{
    QTemporaryDir runDir;
    QVERIFY(runDir.isValid());
    QProcess simulator;
    QString output;
    startSimulator(simulator, output,
                   {QStringLiteral("--rounds"), QStringLiteral("3"), QStringLiteral("--interval"), QStringLiteral("0"),
                    QStringLiteral("--run-dir"), runDir.path()});
    QVERIFY2(waitForOutput(simulator, output, QStringLiteral("feed page:")), qPrintable(output.right(2000)));
    QVERIFY(waitForEnd(simulator, 10000));
    QVERIFY2(endedWithZero(simulator), qPrintable(output.right(2000)));

    // Not a terminal: each round printed below the last, three of them, then the summary.
    const QStringList rounds = output.split(QStringLiteral("twitter-ostra on the platform simulator: round"));
    QCOMPARE(rounds.size(), 4);
    for (const QString &round : rounds.mid(1, 2))
        QVERIFY2(round.count(QLatin1Char('\n')) <= 39, qPrintable(round));
    QVERIFY(output.contains(QStringLiteral("Round 2: notes from the simulator <ok> & on time")));
    QVERIFY(!output.contains(QStringLiteral("&lt;")) && !output.contains(QStringLiteral("&amp;")));
    // Round 1's tweet, deleted on the service in round 3, is named by its text (lines wrap).
    QVERIFY(output.simplified().contains(
        QStringLiteral("@carol_w's \"Round 1: notes from the simulator <ok> & on time\" deleted on the service")));
    QVERIFY(output.contains(QStringLiteral("Summary after 3 round(s):")));
    QVERIFY(output.contains(QRegularExpression(QStringLiteral("feed items: +2\\d\\n"))));
    QVERIFY(output.contains(QRegularExpression(QStringLiteral(
        "notifications: 2 group\\(s\\)\\n    6 mentions, 6 direct messages in [24] notification\\(s\\), older ones folded\\n"))));
    // Five friends before the first round, six from the second round's.
    QVERIFY(output.contains(QRegularExpression(QStringLiteral("contacts: +6\\n"))));
    QVERIFY(output.contains(QRegularExpression(QStringLiteral("errors: +0\\n"))));

    QFile page(runDir.path() + QStringLiteral("/feed.html"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    QVERIFY(html.contains(QStringLiteral("Round 3: notes from the simulator &lt;ok&gt; &amp; on time")));
    QVERIFY(!html.contains(QStringLiteral("<ok>")));
    QVERIFY(!html.contains(QStringLiteral("<div class=\"title\">Carol W</div>\n<div class=\"body\">Round 1: notes")));
    QVERIFY(html.contains(QStringLiteral("<h3>mentions: 6 new mentions</h3>")));
    QVERIFY(html.contains(QStringLiteral("<h3>direct messages: 6 new messages</h3>")));
    QVERIFY(html.contains(QStringLiteral("<li>heidi (@heidi)</li>")));
    const QRegularExpression image(QStringLiteral("<img[^>]* src=\"file://([^\"]+)\""));
    int images = 0;
    for (auto it = image.globalMatch(html); it.hasNext(); ++images) {
        const QString path = QUrl::fromPercentEncoding(it.next().captured(1).toUtf8());
        QVERIFY2(path.startsWith(runDir.path()) && QFile::exists(path), qPrintable(path));
    }
    QVERIFY(images >= 20);
}

void TestE2eSimulator::interruptInARoundIsNoError()
{
    QTemporaryDir runDir;
    QVERIFY(runDir.isValid());
    QProcess simulator;
    QString output;
    startSimulator(simulator, output,
                   {QStringLiteral("--rounds"), QStringLiteral("0"), QStringLiteral("--interval"), QStringLiteral("0"),
                    QStringLiteral("--run-dir"), runDir.path()});
    QVERIFY2(waitForOutput(simulator, output, QStringLiteral("round 1   (Ctrl-C stops)")), qPrintable(output.right(2000)));

    // The next round has begun: the contacts' switch, the refresh or the persons request.
    ::kill(pid_t(simulator.processId()), SIGINT);
    QVERIFY(waitForEnd(simulator, 30000));
    QVERIFY2(endedWithZero(simulator), qPrintable(output.right(2000)));
    QVERIFY(output.contains(QStringLiteral("Summary after ")));
    QVERIFY2(output.contains(QRegularExpression(QStringLiteral("errors: +0\\n"))), qPrintable(output.right(2000)));
    // The daemon was asked to end, and did so by itself.
    QFile log(runDir.path() + QStringLiteral("/logs/twitter-ostra.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).contains(QStringLiteral("termination requested")));
}

void TestE2eSimulator::handStartedDaemonPlaysTheRounds()
{
    QTemporaryDir runDir;
    QVERIFY(runDir.isValid());
    QProcess simulator;
    QString output;
    startSimulator(simulator, output,
                   {QStringLiteral("--no-daemon"), QStringLiteral("--rounds"), QStringLiteral("1"),
                    QStringLiteral("--interval"), QStringLiteral("0"), QStringLiteral("--run-dir"), runDir.path()});
    QVERIFY2(waitForOutput(simulator, output, QStringLiteral("Waiting for twitter-ostra on the bus")),
             qPrintable(output.right(2000)));
    const QString environment = runDir.path() + QStringLiteral("/daemon-environment.sh");
    QVERIFY2(output.contains(QStringLiteral(". ") + environment), qPrintable(output));

    // As the user would: the printed environment sourced, then the daemon.
    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::MergedChannels);
    daemon.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral(". \"$0\" && exec \"$1\" --debug"),
                                        environment, QStringLiteral(DAEMON_BINARY)});
    QVERIFY(waitForEnd(simulator, 60000));
    QVERIFY2(endedWithZero(simulator), qPrintable(output.right(2000)));
    QVERIFY(output.contains(QStringLiteral("Summary after 1 round(s):")));
    QVERIFY(output.contains(QRegularExpression(QStringLiteral("feed items: +2\\d\\n"))));
    QVERIFY(output.contains(QRegularExpression(QStringLiteral("contacts: +5\\n"))));
    QVERIFY2(output.contains(QRegularExpression(QStringLiteral("errors: +0\\n"))), qPrintable(output.right(2000)));

    // Not the simulator's to stop: it ends as the bus goes.
    QVERIFY(waitForEnd(daemon, 10000));
    const QString log = QString::fromUtf8(daemon.readAll());
    QVERIFY2(log.contains(QStringLiteral("Lost the connection to the session bus")), qPrintable(log.right(2000)));
    QVERIFY(!log.contains(QStringLiteral("termination requested")));
}

QTEST_GUILESS_MAIN(TestE2eSimulator)
#include "tst_e2esimulator.moc"
