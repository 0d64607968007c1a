// SPDX-License-Identifier: BSD-3-Clause
// The platform simulator as a person runs it, for a few quick rounds: it ends by itself
// with status 0, its summary counts what it showed, and the
// feed page holds every item with escaped text and the pictures as local files; and
// stopped by a signal, it stops the daemon gently and ends with status 0.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>

class TestE2eSimulator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundsEndWithASummaryAndAFeedPage();
    void terminationStopsTheDaemonFirst();
};

void TestE2eSimulator::roundsEndWithASummaryAndAFeedPage()
{
    QTemporaryDir runDir;
    QVERIFY(runDir.isValid());
    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::MergedChannels);
    simulator.start(QStringLiteral(SIMULATOR_BINARY),
                    {QStringLiteral("--rounds"), QStringLiteral("3"), QStringLiteral("--interval"), QStringLiteral("0"),
                     QStringLiteral("--run-dir"), runDir.path()});
    QVERIFY(simulator.waitForStarted(5000));
    const bool finished = simulator.waitForFinished(90000);
    const QString output = QString::fromUtf8(simulator.readAll());
    if (!finished) {
        simulator.kill();
        simulator.waitForFinished(5000);
    }
    QVERIFY2(finished, qPrintable(output.right(2000)));
    QVERIFY2(simulator.exitStatus() == QProcess::NormalExit && simulator.exitCode() == 0, qPrintable(output.right(2000)));

    // Not a terminal: each round printed below the last, three of them, then the summary.
    QCOMPARE(output.count(QStringLiteral("twitter-ostra on the platform simulator: round")), 3);
    QVERIFY(output.contains(QStringLiteral("Summary after 3 round(s):")));
    QVERIFY(output.contains(QRegularExpression(QStringLiteral("feed items: +2\\d\\n"))));
    QVERIFY(output.contains(QStringLiteral("mentions.service.twitter: 6")));
    QVERIFY(output.contains(QStringLiteral("messages.service.twitter: 6")));
    // Five friends before the first round, six from the second round's.
    QVERIFY(output.contains(QRegularExpression(QStringLiteral("contacts: +6\\n"))));
    QVERIFY(output.contains(QRegularExpression(QStringLiteral("errors: +0\\n"))));

    QFile page(runDir.path() + QStringLiteral("/feed.html"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    QVERIFY(html.contains(QStringLiteral("Round 3: notes from the simulator &lt;ok&gt; &amp; on time")));
    QVERIFY(!html.contains(QStringLiteral("<ok>")));
    // Round 1's tweet was deleted on the service in round 3.
    QVERIFY(!html.contains(QStringLiteral("Round 1: notes")));
    const QRegularExpression image(QStringLiteral("<img[^>]* src=\"file://([^\"]+)\""));
    int images = 0;
    for (auto it = image.globalMatch(html); it.hasNext(); ++images) {
        const QString path = QUrl::fromPercentEncoding(it.next().captured(1).toUtf8());
        QVERIFY2(path.startsWith(runDir.path()) && QFile::exists(path), qPrintable(path));
    }
    QVERIFY(images >= 20);
}

void TestE2eSimulator::terminationStopsTheDaemonFirst()
{
    QTemporaryDir runDir;
    QVERIFY(runDir.isValid());
    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::MergedChannels);
    QString output;
    connect(&simulator, &QProcess::readyRead, this, [&] { output += QString::fromUtf8(simulator.readAll()); });
    simulator.start(QStringLiteral(SIMULATOR_BINARY), {QStringLiteral("--rounds"), QStringLiteral("0"),
                                                       QStringLiteral("--run-dir"), runDir.path()});
    QVERIFY(simulator.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(output.contains(QStringLiteral("round 1   (Ctrl-C stops)")), 60000);

    ::kill(pid_t(simulator.processId()), SIGTERM);
    QVERIFY(simulator.waitForFinished(30000));
    output += QString::fromUtf8(simulator.readAll());
    QVERIFY2(simulator.exitStatus() == QProcess::NormalExit && simulator.exitCode() == 0, qPrintable(output.right(2000)));
    QVERIFY(output.contains(QStringLiteral("Summary after ")));
    // The daemon was asked to end, and did so by itself.
    QFile log(runDir.path() + QStringLiteral("/logs/twitter-ostra.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).contains(QStringLiteral("termination requested")));
}

QTEST_GUILESS_MAIN(TestE2eSimulator)
#include "tst_e2esimulator.moc"
