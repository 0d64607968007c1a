// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SessionProcess.h"

#include <QDBusConnection>
#include <QProcessEnvironment>
#include <QString>

// A private dbus-daemon for one session: started on construction, killed on destruction.
// Point child processes at it with address(); connect in-process with connection().
class PrivateBus
{
public:
    // A session bus; or one of the given configuration file, in the given environment
    // (which the services it starts inherit).
    PrivateBus(const QString &configFile = QString(),
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    ~PrivateBus();

    bool isValid() const { return !mAddress.isEmpty(); }
    QString address() const { return mAddress; }

    // A named connection of this process to the private bus.
    QDBusConnection connection(const QString &name = QStringLiteral("private-bus"));

    // Kills the bus daemon now, as a session's end or a crash of the bus would.
    void kill();

    // Waits until some connection owns the given name; false after the timeout.
    bool waitForName(const QString &name, int timeoutMs = 10000);

private:
    SessionProcess mDaemon;
    QString mAddress;
    QStringList mConnectionNames;
};
