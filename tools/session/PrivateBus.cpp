// SPDX-License-Identifier: BSD-3-Clause
#include "PrivateBus.h"

#include "Waiting.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>

PrivateBus::PrivateBus(const QString &configFile, const QProcessEnvironment &environment)
{
    mDaemon.setProgram(QStringLiteral("dbus-daemon"));
    mDaemon.setArguments({configFile.isEmpty() ? QStringLiteral("--session") : QStringLiteral("--config-file=") + configFile,
                          QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    mDaemon.setProcessEnvironment(environment);
    mDaemon.setProcessChannelMode(QProcess::SeparateChannels);
    mDaemon.start();
    if (!mDaemon.waitForStarted(5000))
        return;
    QDeadlineTimer deadline(10000);
    while (!mDaemon.canReadLine() && !deadline.hasExpired())
        mDaemon.waitForReadyRead(100);
    mAddress = QString::fromUtf8(mDaemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    for (const QString &name : qAsConst(mConnectionNames))
        QDBusConnection::disconnectFromBus(name);
    mDaemon.kill();
    mDaemon.waitForFinished(5000);
}

void PrivateBus::kill()
{
    mDaemon.kill();
    mDaemon.waitForFinished(5000);
}

QDBusConnection PrivateBus::connection(const QString &name)
{
    if (!mConnectionNames.contains(name))
        mConnectionNames.append(name);
    return QDBusConnection::connectToBus(mAddress, name);
}

bool PrivateBus::waitForName(const QString &name, int timeoutMs)
{
    QDBusConnection bus = connection();
    QDBusServiceWatcher watcher(name, bus, QDBusServiceWatcher::WatchForRegistration);
    bool registered = false;
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, [&] { registered = true; });
    return bus.interface()->isServiceRegistered(name)
        || Session::waitUntil([&] { return registered; }, timeoutMs)
        || bus.interface()->isServiceRegistered(name);
}
