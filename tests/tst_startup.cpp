// SPDX-License-Identifier: BSD-3-Clause
// Process start-up through the real binary: exit statuses, the first-start marker,
// the bus name and the item cache it creates, the --debug switch and --help.

#include "DaemonProcess.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <unistd.h>

namespace {

const QString DaemonService = QStringLiteral("com.halvex.twitterostra");

struct Run
{
    int status = -1;
    QString log;
};

}

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void withoutAccountExitsZeroAndMarksFirstStart();
    void failuresExitOneAndKeepFirstStartFalse_data();
    void failuresExitOneAndKeepFirstStartFalse();
    void debugSwitchMatchesExactly_data();
    void debugSwitchMatchesExactly();
    void helpPrintsUsageAndTouchesNothing_data();
    void helpPrintsUsageAndTouchesNothing();
    void runsWithAccountOnItsBusNameAndCache();
    void unreadableSettingsCountAsAFirstStart();
    void lockedCacheEndsTheStart();
    void readOnlyCacheEndsTheStart();

private:
    Run runDaemon(const QStringList &arguments, const QProcessEnvironment &environment,
                  const QStringList &wrapper = {});
    // The daemon's own table by default, with one row.
    void createCache(const QString &connectionName,
                     const QString &table = QStringLiteral("CREATE TABLE items (twitter_id TEXT NOT NULL,"
                                                           "homeview_id INT NOT NULL,PRIMARY KEY(twitter_id));"));
    QVariant firstStart() const;

    PrivateBus mBus;
    QScopedPointer<TestEnvironment> mEnvironment;
};

void TestStartup::initTestCase()
{
    QVERIFY(mBus.isValid());
}

void TestStartup::init()
{
    mEnvironment.reset(new TestEnvironment);
    QVERIFY(mEnvironment->isValid());
}

Run TestStartup::runDaemon(const QStringList &arguments, const QProcessEnvironment &environment,
                           const QStringList &wrapper)
{
    DaemonProcess daemon;
    daemon.start(environment, arguments, wrapper);
    Run run;
    if (!daemon.waitForFinished(30000))
        return run;
    run.status = daemon.exitStatus() == QProcess::NormalExit ? daemon.exitCode() : -1;
    run.log = daemon.log();
    return run;
}

QVariant TestStartup::firstStart() const
{
    return QSettings(mEnvironment->daemonSettingsFile(), QSettings::IniFormat).value(QStringLiteral("FirstStart"));
}

void TestStartup::withoutAccountExitsZeroAndMarksFirstStart()
{
    const Run run = runDaemon({}, mEnvironment->processEnvironment(mBus.address()));
    QCOMPARE(run.status, 0);
    QCOMPARE(firstStart(), QVariant(QStringLiteral("true")));
    // Nothing was registered or created.
    QVERIFY(!QFile::exists(mEnvironment->cacheDatabase()));

    mEnvironment->writeAccount({{QStringLiteral("account/present"), true},
                                {QStringLiteral("services/account"), false}});
    QCOMPARE(runDaemon({}, mEnvironment->processEnvironment(mBus.address())).status, 0);
}

void TestStartup::failuresExitOneAndKeepFirstStartFalse_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("bus name owned") << "name" << "Failed to register service: \"com.halvex.twitterostra\"";
    QTest::newRow("XDG_CACHE_HOME unset") << "unset" << "Error: Not found XDG_CACHE_HOME environment variable";
    QTest::newRow("XDG_CACHE_HOME empty") << "empty" << "Error: Not found XDG_CACHE_HOME environment variable";
    QTest::newRow("cache directory impossible") << "file" << "Error: Cannot create directory: ";
    QTest::newRow("database unopenable") << "database" << "Error: Cannot open database: ";
    QTest::newRow("database corrupt") << "corrupt" << "file is not a database";
    QTest::newRow("items table not ours") << "foreign" << "Error: The cache's table \"items\" is not the daemon's";
}

void TestStartup::failuresExitOneAndKeepFirstStartFalse()
{
    QFETCH(QString, failure);
    QFETCH(QString, logLine);
    mEnvironment->writeDefaultAccount();
    QProcessEnvironment environment = mEnvironment->processEnvironment(mBus.address());

    QDBusConnection other = mBus.connection(QStringLiteral("name-owner"));
    if (failure == QLatin1String("name"))
        QVERIFY(other.registerService(DaemonService));
    if (failure == QLatin1String("unset"))
        environment.remove(QStringLiteral("XDG_CACHE_HOME"));
    if (failure == QLatin1String("empty"))
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), QString());
    if (failure == QLatin1String("file")) {
        // A regular file where a parent folder should be: no mkpath can succeed, even as root.
        QFile blocker(mEnvironment->cacheHome() + QStringLiteral("/data"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    if (failure == QLatin1String("database"))
        QVERIFY(QDir().mkpath(mEnvironment->cacheDatabase()));
    if (failure == QLatin1String("corrupt")) {
        QVERIFY(QDir().mkpath(QFileInfo(mEnvironment->cacheDatabase()).path()));
        QFile garbage(mEnvironment->cacheDatabase());
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, '\x5a'));
    }
    if (failure == QLatin1String("foreign")) {
        // Every statement of the daemon would fail on it, and nothing would be published.
        createCache(QStringLiteral("foreign"), QStringLiteral("CREATE TABLE items(a, b)"));
        QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
    }
    QFile database(mEnvironment->cacheDatabase());
    const QByteArray before = database.open(QIODevice::ReadOnly) ? database.readAll() : QByteArray();
    database.close();

    const Run run = runDaemon({}, environment);
    if (failure == QLatin1String("name"))
        other.unregisterService(DaemonService);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.log.contains(logLine), qPrintable(run.log));
    QCOMPARE(firstStart(), QVariant(QStringLiteral("false")));
    if (!before.isEmpty()) {
        // A damaged or foreign cache is reported and left as it was, for whoever looks into it.
        QVERIFY(database.open(QIODevice::ReadOnly));
        QCOMPARE(database.readAll(), before);
    }
}

void TestStartup::debugSwitchMatchesExactly_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("debug");
    QTest::newRow("none") << QStringList() << false;
    QTest::newRow("alone") << QStringList{"--debug"} << true;
    QTest::newRow("after others, twice") << QStringList{"-x", "--debug", "y", "--debug"} << true;
    QTest::newRow("other case") << QStringList{"--Debug"} << false;
    QTest::newRow("with value") << QStringList{"--debug=1"} << false;
}

void TestStartup::debugSwitchMatchesExactly()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, debug);
    const Run run = runDaemon(arguments, mEnvironment->processEnvironment(mBus.address()));
    QCOMPARE(run.status, 0);
    QCOMPARE(run.log.contains(QStringLiteral("No twitter account on startup")), debug);
    QVERIFY(!run.log.contains(QStringLiteral(" Debug: ")) || debug);
}

void TestStartup::helpPrintsUsageAndTouchesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("--help") << QStringList{"--help"};
    QTest::newRow("-h after --debug") << QStringList{"--debug", "-h"};
}

void TestStartup::helpPrintsUsageAndTouchesNothing()
{
    QFETCH(QStringList, arguments);
    // A bus that is not there and an account: a start would write its settings at once
    // and end with status 1.
    mEnvironment->writeDefaultAccount();
    QProcess daemon;
    daemon.setProcessEnvironment(mEnvironment->processEnvironment(QStringLiteral("unix:path=/nonexistent")));
    daemon.start(QStringLiteral(DAEMON_BINARY), arguments);
    QVERIFY(daemon.waitForFinished(30000));
    QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(daemon.exitCode(), 0);

    const QString usage = QString::fromLocal8Bit(daemon.readAllStandardOutput());
    for (const char *part : {"Usage: twitter-ostra [--debug]", "  --debug ", "$XDG_CONFIG_HOME/Halvex/Twitter.ini",
                             "XDG_CACHE_HOME  required", "/usr/share/twitter/default-avatar.png", "Exit status:"})
        QVERIFY2(usage.contains(QLatin1String(part)), qPrintable(usage));
    QCOMPARE(daemon.readAllStandardError(), QByteArray());
    QVERIFY(!QFile::exists(mEnvironment->daemonSettingsFile()));
    for (const QString &folder : {mEnvironment->cacheHome(), mEnvironment->runtimeDir(), mEnvironment->dataHome()})
        QVERIFY2(QDir(folder).isEmpty(), qPrintable(folder));
}

void TestStartup::runsWithAccountOnItsBusNameAndCache()
{
    mEnvironment->writeDefaultAccount();
    DaemonProcess daemon;
    daemon.start(mEnvironment->processEnvironment(mBus.address()), {});
    QVERIFY(mBus.waitForName(DaemonService));
    QCOMPARE(firstStart(), QVariant(QStringLiteral("false")));

    // Asked to stop, it leaves its event loop in order and closes the cache.
    QVERIFY(daemon.stop());

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(mEnvironment->cacheDatabase());
        QVERIFY(db.open());
        QSqlQuery query(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'items'"), db);
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(),
                 QStringLiteral("CREATE TABLE items (twitter_id TEXT NOT NULL,homeview_id INT NOT NULL,"
                                "PRIMARY KEY(twitter_id))"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

void TestStartup::unreadableSettingsCountAsAFirstStart()
{
    // A folder where the settings file should be: nothing can be read or written.
    QVERIFY(QDir().mkpath(mEnvironment->daemonSettingsFile()));
    const Run run = runDaemon({}, mEnvironment->processEnvironment(mBus.address()));
    QCOMPARE(run.status, 0);
    QVERIFY(QFileInfo(mEnvironment->daemonSettingsFile()).isDir());
}

void TestStartup::createCache(const QString &connectionName, const QString &table)
{
    QVERIFY(QDir().mkpath(QFileInfo(mEnvironment->cacheDatabase()).path()));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(mEnvironment->cacheDatabase());
    QVERIFY(db.open());
    QSqlQuery query(db);
    QVERIFY(query.exec(table));
    QVERIFY(query.exec(QStringLiteral("INSERT INTO items VALUES ('20', 7)")));
}

void TestStartup::lockedCacheEndsTheStart()
{
    mEnvironment->writeDefaultAccount();
    createCache(QStringLiteral("locker"));
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("locker"));
        QSqlQuery lock(db);
        // Another process holds the file: the daemon can neither read nor write it.
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        const Run run = runDaemon({}, mEnvironment->processEnvironment(mBus.address()));
        QCOMPARE(run.status, 1);
        QVERIFY2(run.log.contains(QStringLiteral("database is locked")), qPrintable(run.log));
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));
}

void TestStartup::readOnlyCacheEndsTheStart()
{
    mEnvironment->writeDefaultAccount();
    createCache(QStringLiteral("readonly"));
    QSqlDatabase::removeDatabase(QStringLiteral("readonly"));
    QFile database(mEnvironment->cacheDatabase());
    QVERIFY(database.open(QIODevice::ReadOnly));
    const QByteArray before = database.readAll();
    database.close();

    // Root writes through file modes, so the cache folder is mounted read-only in a mount
    // namespace of the daemon's own; anyone else gets a folder and file without write
    // permission.
    const QString folder = QFileInfo(mEnvironment->cacheDatabase()).path();
    QStringList wrapper;
    if (::geteuid() == 0) {
        if (QProcess::execute(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")}) != 0)
            QSKIP("needs a mount namespace of its own");
        wrapper = QStringList{QStringLiteral("unshare"), QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                              QStringLiteral("mount --bind -o ro \"$0\" \"$0\" && exec \"$@\""), folder};
    } else {
        QVERIFY(database.setPermissions(QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    }
    const Run run = runDaemon({}, mEnvironment->processEnvironment(mBus.address()), wrapper);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    database.setPermissions(QFile::ReadOwner | QFile::WriteOwner);

    // Rows it cannot write would have every tweet posted again at each refresh.
    QCOMPARE(run.status, 1);
    QVERIFY2(run.log.contains(QStringLiteral("Error: Cannot write database: ")), qPrintable(run.log));
    QVERIFY(database.open(QIODevice::ReadOnly));
    QCOMPARE(database.readAll(), before);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
