// SPDX-License-Identifier: BSD-3-Clause
// Start-up until the bus name is there (the last step before the event loop) and resident
// memory after the first refresh, of the daemon (linked with the fixture-scripted client)
// against a minimal Qt program that connects to the bus, registers a name and opens a
// SQLite file; memory, threads and idle wake-ups of the real daemon too, its HTTP client
// talking to the fake API server.

#include "PlatformSession.h"

#include <algorithm>

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QScopedPointer>
#include <QTest>
#include <QTimer>


namespace {

// A number field of a file of /proc/PID: of "status" ("VmRSS:" in kB, "Threads:"), or of
// "smaps_rollup" ("Private_Dirty:", the memory the process alone has written, "Pss:" its
// fair share of everything it maps).
qint64 procField(qint64 pid, const char *file, const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

qint64 statusField(qint64 pid, const QByteArray &field)
{
    return procField(pid, "status", field);
}

qint64 residentKb(qint64 pid)
{
    return statusField(pid, "VmRSS:");
}

qint64 rollupKb(qint64 pid, const QByteArray &field)
{
    return procField(pid, "smaps_rollup", field);
}

// Resident, private dirty and proportional memory of the daemon beside the floor's, each
// on its own line beginning with prefix.
void printMemory(const char *prefix, qint64 floorPid, qint64 daemonPid)
{
    const struct {
        const char *name;
        qint64 floor;
        qint64 daemon;
    } figures[] = {{"RESIDENT", residentKb(floorPid), residentKb(daemonPid)},
                   {"PRIVATE", rollupKb(floorPid, "Private_Dirty:"), rollupKb(daemonPid, "Private_Dirty:")},
                   {"PSS", rollupKb(floorPid, "Pss:"), rollupKb(daemonPid, "Pss:")}};
    for (const auto &figure : figures)
        qInfo("%s%s floor %lld kB, twitter-ostra %lld kB, ratio %.2f", prefix, figure.name, figure.floor,
              figure.daemon, double(figure.daemon) / double(figure.floor));
}

// The image plugins mapped into a process, by file name.
QStringList imagePlugins(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    QStringList plugins;
    const QRegularExpression plugin(QStringLiteral("/imageformats/(lib\\w+\\.so)"));
    for (auto it = plugin.globalMatch(QString::fromLocal8Bit(maps.readAll())); it.hasNext();) {
        const QString name = it.next().captured(1);
        if (!plugins.contains(name))
            plugins.append(name);
    }
    plugins.sort();
    return plugins;
}

// Context switches of each of a process's threads by thread id, voluntary and not: each
// follows a wake-up of that thread.
QHash<QString, qint64> wakeupsByThread(qint64 pid)
{
    QHash<QString, qint64> counts;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task) + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                counts[task] += line.mid(24).trimmed().toLongLong();
            else if (line.startsWith("nonvoluntary_ctxt_switches:"))
                counts[task] += line.mid(27).trimmed().toLongLong();
        }
    }
    return counts;
}

// Starts a program on the bus with the environment's folders; true once it holds the name.
bool startOnBus(SessionProcess &process, const QString &program, PrivateBus &bus, const TestEnvironment &environment,
                const QString &name)
{
    process.setProcessEnvironment(environment.processEnvironment(bus.address()));
    process.start(program, QStringList());
    return bus.waitForName(name);
}

// Wake-ups of a process over the idle window, once its own work has settled. The kernel
// counts them by thread and forgets a thread that ends, so every thread is sampled every
// 100 ms and keeps its last count: a thread that ends in the window still counts, a
// thread born in it counts from 0.
qint64 wakeupsWhileIdle(qint64 pid, int seconds)
{
    QTest::qWait(5000);
    const QHash<QString, qint64> before = wakeupsByThread(pid);
    QHash<QString, qint64> last = before;
    QElapsedTimer window;
    window.start();
    while (window.elapsed() < seconds * 1000) {
        QTest::qWait(100);
        const QHash<QString, qint64> now = wakeupsByThread(pid);
        for (auto it = now.begin(); it != now.end(); ++it)
            last[it.key()] = it.value();
    }
    qint64 woken = 0;
    for (auto it = last.begin(); it != last.end(); ++it)
        woken += it.value() - before.value(it.key());
    return woken;
}

int idleSeconds()
{
    return qEnvironmentVariableIsSet("IDLE_SECONDS") ? qEnvironmentVariableIntValue("IDLE_SECONDS") : 300;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// The real daemon as the platform runs it (without --debug), logged in, the feed holding
// the timeline's first 20 tweets, and the rest of the first refresh (polls, pictures) done.
bool startRealDaemon(PlatformSession &session)
{
    return session.start() && session.startDaemon({}) && session.waitForLogin() && session.waitForItems(20)
        && session.waitUntilStill();
}

}

class BenchStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startup();
    void residentMemory();
    void idleWakeups();
    void realDaemonResidentMemory();
    void realDaemonIdleWakeups();

private:
    double startupMs(const QString &program, const QString &name, PrivateBus &bus,
                     const TestEnvironment &environment);
};

// Milliseconds from the start of the program until its bus name is there; -1 if it
// never came or did not go away after the program stopped.
double BenchStartup::startupMs(const QString &program, const QString &name, PrivateBus &bus,
                               const TestEnvironment &environment)
{
    QDBusConnectionInterface *busInterface = bus.connection().interface();
    SessionProcess process;
    process.setProcessEnvironment(environment.processEnvironment(bus.address()));
    // Stopped by the name's arrival itself: a wait that polls would round every start-up
    // up to its slice.
    QDBusServiceWatcher watcher(name, bus.connection(), QDBusServiceWatcher::WatchForRegistration);
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    process.start(program, QStringList());
    loop.exec();
    const double elapsed = clock.nsecsElapsed() / 1e6;
    if (!busInterface->isServiceRegistered(name))
        return -1;
    process.stop();
    if (!QTest::qWaitFor([&] { return !busInterface->isServiceRegistered(name); }, 5000))
        return -1;
    return elapsed;
}

// The floors and the daemon are started in turns, 15 times each, and the median of each
// is taken: this machine's speed drifts over seconds, which one program after the other
// would measure.
void BenchStartup::startup()
{
    const struct {
        const char *program;
        const char *name;
    } programs[] = {{MINIMAL_BINARY, "com.halvex.minimal"},
                    {CONTRACT_MINIMAL_BINARY, "com.halvex.minimal.contract"},
                    {DAEMON_BINARY, "com.halvex.twitterostra"}};
    PrivateBus bus;
    TestEnvironment environment;
    environment.writeDefaultAccount();
    QList<double> times[3];
    for (int run = 0; run < 15; ++run) {
        for (int i = 0; i < 3; ++i) {
            const double ms = startupMs(QString::fromLatin1(programs[i].program), QString::fromLatin1(programs[i].name),
                                        bus, environment);
            QVERIFY2(ms > 0, programs[i].program);
            times[i].append(ms);
        }
    }
    const double floor = median(times[0]);
    const double contractFloor = median(times[1]);
    const double daemon = median(times[2]);
    qInfo("STARTUP floor %.2f ms, twitter-ostra %.2f ms, ratio %.2f", floor, daemon, daemon / floor);
    qInfo("CONTRACT_STARTUP floor %.2f ms, twitter-ostra %.2f ms, ratio %.2f", contractFloor, daemon,
          daemon / contractFloor);
}

void BenchStartup::residentMemory()
{
    PrivateBus bus;
    TestEnvironment environment;
    environment.writeDefaultAccount();
    EventFeedProcess feed(bus);
    QVERIFY(feed.start());

    SessionProcess minimal;
    QVERIFY(startOnBus(minimal, QStringLiteral(MINIMAL_BINARY), bus, environment, QStringLiteral("com.halvex.minimal")));
    SessionProcess daemon;
    QVERIFY(startOnBus(daemon, QStringLiteral(SCRIPTED_DAEMON_BINARY), bus, environment,
                       QStringLiteral("com.halvex.twitterostra")));
    QTRY_VERIFY_WITH_TIMEOUT((feed.control().requestRefresh().waitForFinished(), feed.items().size() == 20), 10000);

    printMemory("", minimal.processId(), daemon.processId());
    daemon.stop();
    minimal.stop();
}

// Logged in and idle (no refresh asked for) for IDLE_SECONDS (default 300).
void BenchStartup::idleWakeups()
{
    const int seconds = idleSeconds();
    PrivateBus bus;
    TestEnvironment environment;
    environment.writeDefaultAccount();
    EventFeedProcess feed(bus);
    QVERIFY(feed.start());
    SessionProcess daemon;
    // The social provider is served once logged in.
    QVERIFY(startOnBus(daemon, QStringLiteral(SCRIPTED_DAEMON_BINARY), bus, environment,
                       QStringLiteral("com.halvex.socialprovider.twitter")));
    const qint64 woken = wakeupsWhileIdle(daemon.processId(), seconds);
    qInfo("WAKEUPS %lld in %d s, %.2f a minute", woken, seconds, woken * 60.0 / seconds);
    daemon.stop();
}

// The real daemon after its first refresh, beside the minimal program on the same bus.
void BenchStartup::realDaemonResidentMemory()
{
    PlatformSession session;
    QVERIFY(startRealDaemon(session));
    SessionProcess minimal;
    QVERIFY(startOnBus(minimal, QStringLiteral(MINIMAL_BINARY), session.bus(), session.environment(),
                       QStringLiteral("com.halvex.minimal")));

    printMemory("REAL_", minimal.processId(), session.daemon().processId());
    SessionProcess contractMinimal;
    QVERIFY(startOnBus(contractMinimal, QStringLiteral(CONTRACT_MINIMAL_BINARY), session.bus(), session.environment(),
                       QStringLiteral("com.halvex.minimal.contract")));
    qInfo("CONTRACT_PRIVATE floor %lld kB, twitter-ostra %lld kB", rollupKb(contractMinimal.processId(), "Private_Dirty:"),
          rollupKb(session.daemon().processId(), "Private_Dirty:"));
    contractMinimal.stop();
    qInfo("REAL_THREADS floor %lld, twitter-ostra %lld", statusField(minimal.processId(), "Threads:"),
          statusField(session.daemon().processId(), "Threads:"));
    const QStringList plugins = imagePlugins(session.daemon().processId());
    qInfo("REAL_PLUGINS %s", plugins.isEmpty() ? "none" : qPrintable(plugins.join(QLatin1Char(' '))));
    minimal.stop();
}

// The real daemon logged in, after its first refresh, idle for IDLE_SECONDS (default 300).
void BenchStartup::realDaemonIdleWakeups()
{
    const int seconds = idleSeconds();
    PlatformSession session;
    QVERIFY(startRealDaemon(session));
    const qint64 woken = wakeupsWhileIdle(session.daemon().processId(), seconds);
    qInfo("REAL_WAKEUPS %lld in %d s, %.2f a minute", woken, seconds, woken * 60.0 / seconds);
}

QTEST_GUILESS_MAIN(BenchStartup)
#include "bench_startup.moc"
