// Start-up until the bus name is there (the last step before the event loop) and resident
// memory after the first refresh, of the daemon (linked with the fixture-scripted client)
// against a minimal Qt program that connects to the bus, registers a name and opens a
// SQLite file.

#include "EventFeedProcess.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

namespace {

// Resident set of a process in kB.
qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

}

class BenchStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startup();
    void residentMemory();
    void idleWakeups();

private:
    double startupMs(const QString &program, const QString &name);
    void stop(QProcess &process);
};

void BenchStartup::stop(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
}

// Median milliseconds from the start of the program until its bus name is there.
double BenchStartup::startupMs(const QString &program, const QString &name)
{
    PrivateBus bus;
    TestEnvironment environment;
    environment.writeDefaultAccount();
    QDBusConnectionInterface *busInterface = bus.connection().interface();
    QList<double> times;
    for (int run = 0; run < 15; ++run) {
        QProcess process;
        process.setProcessEnvironment(environment.processEnvironment(bus.address()));
        QElapsedTimer clock;
        clock.start();
        process.start(program, QStringList());
        if (!bus.waitForName(name))
            return -1;
        times.append(clock.nsecsElapsed() / 1e6);
        stop(process);
        if (!QTest::qWaitFor([&] { return !busInterface->isServiceRegistered(name); }, 5000))
            return -1;
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

void BenchStartup::startup()
{
    const double floor = startupMs(QStringLiteral(MINIMAL_BINARY), QStringLiteral("com.halvex.minimal"));
    const double daemon = startupMs(QStringLiteral(DAEMON_BINARY), QStringLiteral("com.halvex.twitterostra"));
    QVERIFY(floor > 0 && daemon > 0);
    qInfo("STARTUP floor %.2f ms, twitter-ostra %.2f ms, ratio %.2f", floor, daemon, daemon / floor);
}

void BenchStartup::residentMemory()
{
    PrivateBus bus;
    TestEnvironment environment;
    environment.writeDefaultAccount();
    EventFeedProcess feed(bus);
    QVERIFY(feed.start());

    QProcess minimal;
    minimal.setProcessEnvironment(environment.processEnvironment(bus.address()));
    minimal.start(QStringLiteral(MINIMAL_BINARY), QStringList());
    QVERIFY(bus.waitForName(QStringLiteral("com.halvex.minimal")));

    QProcess daemon;
    daemon.setProcessEnvironment(environment.processEnvironment(bus.address()));
    daemon.start(QStringLiteral(SCRIPTED_DAEMON_BINARY), QStringList());
    QVERIFY(bus.waitForName(QStringLiteral("com.halvex.twitterostra")));
    QTRY_VERIFY_WITH_TIMEOUT((feed.control().requestRefresh().waitForFinished(), feed.items().size() == 20), 10000);

    const qint64 floor = residentKb(minimal.processId());
    const qint64 daemonKb = residentKb(daemon.processId());
    qInfo("RESIDENT floor %lld kB, twitter-ostra %lld kB, ratio %.2f", floor, daemonKb, double(daemonKb) / double(floor));
    stop(daemon);
    stop(minimal);
}

// Voluntary context switches of all of a process's threads: each is a wake-up.
qint64 wakeups(qint64 pid)
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task) + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                total += line.mid(24).trimmed().toLongLong();
        }
    }
    return total;
}

// Logged in and idle (no refresh asked for) for IDLE_SECONDS (default 300).
void BenchStartup::idleWakeups()
{
    const int seconds = qEnvironmentVariableIsSet("IDLE_SECONDS") ? qEnvironmentVariableIntValue("IDLE_SECONDS") : 300;
    PrivateBus bus;
    TestEnvironment environment;
    environment.writeDefaultAccount();
    EventFeedProcess feed(bus);
    QVERIFY(feed.start());
    QProcess daemon;
    daemon.setProcessEnvironment(environment.processEnvironment(bus.address()));
    daemon.start(QStringLiteral(SCRIPTED_DAEMON_BINARY), QStringList());
    QVERIFY(bus.waitForName(QStringLiteral("com.halvex.socialprovider.twitter"))); // logged in
    QTest::qWait(5000); // the login's own work settles
    const qint64 before = wakeups(daemon.processId());
    QTest::qWait(seconds * 1000);
    const qint64 woken = wakeups(daemon.processId()) - before;
    qInfo("WAKEUPS %lld in %d s, %.2f a minute", woken, seconds, woken * 60.0 / seconds);
    stop(daemon);
}

QTEST_GUILESS_MAIN(BenchStartup)
#include "bench_startup.moc"
