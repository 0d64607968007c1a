// SPDX-License-Identifier: BSD-3-Clause
// The floor for the daemon's start-up and memory: a Qt program that connects to the
// session bus, registers a name and opens a SQLite file, then waits in its event loop.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QSqlDatabase>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/minimal.db"));
    if (!db.open())
        return 1;
    if (!QDBusConnection::sessionBus().registerService(QStringLiteral("com.halvex.minimal")))
        return 1;
    return QCoreApplication::exec();
}
