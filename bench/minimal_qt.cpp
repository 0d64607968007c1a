// SPDX-License-Identifier: BSD-3-Clause
// The floor for the daemon's start-up and memory: a Qt program that connects to the
// session bus, registers a name and opens a SQLite file, then waits in its event loop.
// Built with CONTRACT_LIBRARIES it also makes a QImage and a QNetworkAccessManager: the
// platform's contract has the daemon load QtGui (Tw::Twitter::setMask takes a QImage) and
// the Twitter client library is built on QtNetwork. That floor shows the part of the gap
// that comes with those two libraries alone.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QSqlDatabase>
#ifdef CONTRACT_LIBRARIES
#include <QImage>
#include <QNetworkAccessManager>
#define MINIMAL_NAME "com.halvex.minimal.contract"
#else
#define MINIMAL_NAME "com.halvex.minimal"
#endif

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
#ifdef CONTRACT_LIBRARIES
    const QImage mask(16, 16, QImage::Format_ARGB32);
    const QNetworkAccessManager network;
    if (mask.isNull())
        return 1;
#endif
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/minimal.db"));
    if (!db.open())
        return 1;
    if (!QDBusConnection::sessionBus().registerService(QStringLiteral(MINIMAL_NAME)))
        return 1;
    return QCoreApplication::exec();
}
