// SPDX-License-Identifier: BSD-3-Clause
#include "Helper.h"
#include "OLocale.h"
#include "OwnFiles.h"
#include "TwitterDaemon.h"
#include "TwitterOstra.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSettings>

#include <malloc.h>
#include <sqlite3.h>

namespace {

// Allocator settings for a long-lived daemon that is mostly idle, before any allocation
// of note: one heap for all threads (a heap per thread keeps its own free memory), and
// large buffers (replies, pictures) mapped apart, so that they go back whole when freed;
// glibc's threshold would otherwise grow with the first large buffer freed.
void setLeanAllocator()
{
    if (mallopt(M_ARENA_MAX, 1) != 1 || mallopt(M_MMAP_THRESHOLD, 64 * 1024) != 1)
        qWarning() << Q_FUNC_INFO << "mallopt refused";
}

// SQLite gives a connection's page cache its first 20 pages at once, 88 kB that the first
// read dirties; the cache file is a few pages, so they are taken one at a time instead.
// Set before Qt's driver opens the first database, which initialises SQLite.
void setLeanSqlite()
{
    if (sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0) != SQLITE_OK)
        qWarning() << Q_FUNC_INFO << "SQLite refused the page cache setting";
}

bool debugRequested(const QStringList &arguments)
{
    return arguments.mid(1).contains(QStringLiteral("--debug"));
}

}

int main(int argc, char *argv[])
{
    OwnFiles::keepPrivate();
    setLeanAllocator();
    setLeanSqlite();
    Helper::excludePollingBearer();
    QCoreApplication app(argc, argv);
    Helper::setDebugCallback("twitter-ostra", debugRequested(app.arguments()));

    const QString catalogue = QStringLiteral("twitter");
    OLocale locale;
    locale.installTrCatalog(catalogue);
    OLocale::setDefault(locale);

    QCoreApplication::setOrganizationName(TwitterOstra::OrganizationName);
    QCoreApplication::setApplicationName(TwitterOstra::ApplicationName);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    OwnFiles::replaceLink(QSettings().fileName());
    QSettings settings;

    // An absent key, or one left true by a start without account, makes a first start.
    const bool firstStart = settings.value(TwitterOstra::FirstStartKey, QVariant()).toBool()
        || !settings.contains(TwitterOstra::FirstStartKey);
    if (firstStart) {
        settings.setValue(TwitterOstra::FirstStartKey, false);
        settings.sync();
    }
    TwitterDaemon daemon(firstStart, &app);

    int status = 0;
    switch (daemon.init()) {
    case TwitterDaemon::INIT_ERROR_NONE:
        Helper::setLowPriority();
        status = QCoreApplication::exec();
        break;
    case TwitterDaemon::INIT_ERROR_NO_ACCOUNT:
        settings.setValue(TwitterOstra::FirstStartKey, true);
        settings.sync();
        status = 0;
        break;
    default:
        status = 1;
        break;
    }
    return status;
}
