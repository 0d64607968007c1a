// SPDX-License-Identifier: BSD-3-Clause
#include "Helper.h"
#include "OLocale.h"
#include "OwnFiles.h"
#include "TwitterDaemon.h"
#include "TwitterOstra.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSettings>

#include <cstdio>
#include <cstring>
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

// For whoever starts the daemon by hand; read before anything is set up, so that asking
// for it opens no file and no bus.
bool helpRequested(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    }
    return false;
}

void printUsage()
{
    std::printf(
        "Usage: twitter-ostra [--debug]\n"
        "\n"
        "Brings the session's Twitter account into the Ostra platform: the home timeline as\n"
        "event feed items, mentions and direct messages as notifications, friends as\n"
        "contacts. Started once per session, by its systemd user unit or by D-Bus activation\n"
        "of com.halvex.twitterostra; it runs until the account is removed or it is stopped.\n"
        "Any other argument is ignored.\n"
        "\n"
        "  --debug     log progress too, not only warnings and errors\n"
        "  -h, --help  print this text and exit\n"
        "\n"
        "Files (an unset XDG_CONFIG_HOME or XDG_DATA_HOME reads as ~/.config, ~/.local/share):\n"
        "  $XDG_CONFIG_HOME/Halvex/TwitterAccount.conf  the account; none: exit at once\n"
        "  $XDG_CONFIG_HOME/Halvex/Twitter.ini          the daemon's settings\n"
        "  $XDG_CONFIG_HOME/Halvex/gconf.conf           the feed's update interval\n"
        "  $XDG_CONFIG_HOME/Halvex/Rosterd.ini          the contacts import's state\n"
        "  $XDG_CACHE_HOME/data/twitter-ostra/twitter-cache.db  the items posted\n"
        "  $XDG_CACHE_HOME/twitter-client/              the service's answers and pictures\n"
        "  $XDG_RUNTIME_DIR/ostra-notifications/notifications.json  the notifications\n"
        "  %s  shown for people without a picture\n"
        "  twitter.qm, the texts: in twitter-ostra/translations under $XDG_DATA_HOME or\n"
        "    $XDG_DATA_DIRS, else in %s from this program's folder\n"
        "\n"
        "Environment:\n"
        "  XDG_CACHE_HOME  required: unset or empty, the daemon ends with status 1\n"
        "  XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_DATA_DIRS, XDG_RUNTIME_DIR  as above\n"
        "  DBUS_SESSION_BUS_ADDRESS  the session bus\n"
        "  http_proxy, https_proxy, no_proxy  the way to the service\n"
        "\n"
        "Exit status:\n"
        "  0  no account, the account removed, SIGTERM, SIGINT or SIGHUP, or --help\n"
        "  1  the bus name, the cache folder or the cache database not to be had, the\n"
        "     session bus lost, or the client or the contacts provider failing after a login\n",
        qPrintable(TwitterOstra::DefaultAvatar), TWITTEROSTRA_CATALOGUE_FROM_PROGRAM);
}

}

int main(int argc, char *argv[])
{
    if (helpRequested(argc, argv)) {
        printUsage();
        return 0;
    }
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
