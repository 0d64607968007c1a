// SPDX-License-Identifier: BSD-3-Clause
// Installation into a staging folder: the files land where the platform looks for them,
// all of them under the install prefix, the configured one or one given when installing,
// and the D-Bus activation file starts the installed daemon on a bus of the test's own,
// with the cache in the user's cache folder.

#include "PrivateBus.h"
#include "TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestInstallation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void filesAreInPlace();
    void everythingGoesUnderThePrefix_data();
    void everythingGoesUnderThePrefix();
    void busActivationStartsTheDaemon();

private:
    QString staged(const QString &path) const { return mStage.path() + path; }
    QString read(const QString &path) const;
    static bool install(const QString &stage, const QStringList &arguments = {});

    QTemporaryDir mStage;
};

bool TestInstallation::install(const QString &stage, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DESTDIR"), stage);
    QProcess install;
    install.setProcessEnvironment(environment);
    install.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    install.start(QStringLiteral("cmake"), QStringList{QStringLiteral("--install"), QStringLiteral(BUILD_DIR)} + arguments);
    return install.waitForFinished(60000) && install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0;
}

void TestInstallation::initTestCase()
{
    QVERIFY(install(mStage.path()));
}

QString TestInstallation::read(const QString &path) const
{
    QFile file(staged(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestInstallation::filesAreInPlace()
{
    for (const QString &path : {QStringLiteral(BINDIR "/twitter-ostra"), QStringLiteral(DATADIR "/twitter/default-avatar.png"),
                                QStringLiteral(DATADIR "/twitter-ostra/translations/twitter.qm"),
                                QStringLiteral(DATADIR "/dbus-1/interfaces/com.halvex.twitterostra.xml"),
                                QStringLiteral(DATADIR "/dbus-1/interfaces/com.halvex.socialprovider.runner.xml")})
        QVERIFY2(QFile::exists(staged(path)), qPrintable(path));
    // The test kit stays in the build tree: a reference feed would claim the platform's name.
    for (const QString &path : {QStringLiteral(BINDIR "/ostra-eventfeed"), QStringLiteral(BINDIR "/ostra-fake-twitter-api"),
                                QStringLiteral(BINDIR "/ostra-simulator"),
                                QStringLiteral(DATADIR "/dbus-1/interfaces/com.halvex.home.EventFeedControl.xml")})
        QVERIFY2(!QFile::exists(staged(path)), qPrintable(path));

    const QString unit = read(QStringLiteral(PREFIX "/" SYSTEMD_USER_UNIT_DIR "/twitter-ostra.service"));
    QVERIFY(unit.contains(QStringLiteral("Type=dbus\n")));
    QVERIFY(unit.contains(QStringLiteral("BusName=com.halvex.twitterostra\n")));
    QVERIFY(unit.contains(QStringLiteral("Environment=XDG_CACHE_HOME=%C\n")));
    const QString activation = read(QStringLiteral(PREFIX "/" DBUS_SERVICES_DIR "/com.halvex.twitterostra.service"));
    QVERIFY(activation.contains(QStringLiteral("Name=com.halvex.twitterostra\n")));
    QVERIFY(activation.contains(QStringLiteral("SystemdService=twitter-ostra.service\n")));
}

void TestInstallation::everythingGoesUnderThePrefix_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("configured") << QStringLiteral(PREFIX) << QStringList();
    QTest::newRow("given when installing") << QStringLiteral("/opt/elsewhere")
                                           << QStringList{QStringLiteral("--prefix"), QStringLiteral("/opt/elsewhere")};
}

void TestInstallation::everythingGoesUnderThePrefix()
{
    QFETCH(QString, prefix);
    QFETCH(QStringList, arguments);
    QTemporaryDir stage;
    QVERIFY(install(stage.path(), arguments));

    const QString root = stage.path() + prefix + QLatin1Char('/');
    QStringList units;
    QStringList activations;
    QDirIterator files(stage.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QVERIFY2(path.startsWith(root), qPrintable(path));
        if (path.endsWith(QLatin1String("/twitter-ostra.service")))
            units.append(path);
        if (path.endsWith(QLatin1String("/com.halvex.twitterostra.service")))
            activations.append(path);
    }
    // In systemd's and D-Bus's folders under the prefix, naming the binary installed there.
    QCOMPARE(units, QStringList{root + QStringLiteral(SYSTEMD_USER_UNIT_DIR "/twitter-ostra.service")});
    QCOMPARE(activations, QStringList{root + QStringLiteral(DBUS_SERVICES_DIR "/com.halvex.twitterostra.service")});
    const QString binary = prefix + QStringLiteral("/" BINDIR_NAME "/twitter-ostra");
    QVERIFY(QFile::exists(stage.path() + binary));
    QFile unit(units.constFirst());
    QVERIFY(unit.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(unit.readAll()).contains(QStringLiteral("\nExecStart=") + binary + QLatin1Char('\n')));
    QFile activation(activations.constFirst());
    QVERIFY(activation.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(activation.readAll()).contains(QStringLiteral(" exec \"") + binary + QStringLiteral("\"'\n")));
}

void TestInstallation::busActivationStartsTheDaemon()
{
    // The activation file as installed, its binary path moved into the staging folder.
    TestEnvironment environment;
    environment.writeDefaultAccount();
    const QString services = environment.root() + QStringLiteral("/services");
    QDir().mkpath(services);
    QString activation = read(QStringLiteral(PREFIX "/" DBUS_SERVICES_DIR "/com.halvex.twitterostra.service"));
    activation.replace(QStringLiteral("\"" BINDIR), QLatin1Char('"') + staged(QStringLiteral(BINDIR)));
    QFile service(services + QStringLiteral("/com.halvex.twitterostra.service"));
    QVERIFY(service.open(QIODevice::WriteOnly));
    service.write(activation.toUtf8());
    service.close();
    QFile config(environment.root() + QStringLiteral("/bus.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("<busconfig><type>session</type><listen>unix:tmpdir=%1</listen><auth>EXTERNAL</auth>"
                                "<servicedir>%2</servicedir><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
                     .arg(environment.runtimeDir(), services).toUtf8());
    config.close();

    // No XDG_CACHE_HOME: the activation gives the daemon the user's cache folder.
    QProcessEnvironment busEnvironment = environment.processEnvironment(QString());
    busEnvironment.remove(QStringLiteral("XDG_CACHE_HOME"));
    busEnvironment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    busEnvironment.insert(QStringLiteral("HOME"), environment.root());
    PrivateBus bus(config.fileName(), busEnvironment);
    QVERIFY(bus.isValid());
    QDBusConnectionInterface *busInterface = bus.connection().interface();
    const QDBusReply<void> started = busInterface->startService(QStringLiteral("com.halvex.twitterostra"));
    QVERIFY2(started.isValid(), qPrintable(started.error().message()));
    const uint pid = busInterface->servicePid(QStringLiteral("com.halvex.twitterostra")).value();
    QVERIFY(pid > 0);
    QTRY_VERIFY(QFile::exists(environment.root() + QStringLiteral("/.cache/data/twitter-ostra/twitter-cache.db")));
    ::kill(pid_t(pid), SIGTERM);
    QTRY_VERIFY(!busInterface->isServiceRegistered(QStringLiteral("com.halvex.twitterostra")));
}

QTEST_GUILESS_MAIN(TestInstallation)
#include "tst_installation.moc"
