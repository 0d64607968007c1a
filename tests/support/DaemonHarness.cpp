// SPDX-License-Identifier: BSD-3-Clause
#include "DaemonHarness.h"

#include "TwFactoryOstra.h"
#include "TwitterOstra.h"

#include <QCoreApplication>
#include <QSettings>
#include <QSqlQuery>

namespace {
const QString CheckConnection = QStringLiteral("test-check-connection");
}

DaemonHarness::DaemonHarness()
{
    mEnvironment.applyToProcess();
    mLocale.installTrCatalog(QStringLiteral("twitter"));
    OLocale::setDefault(mLocale);
    qputenv("DBUS_SESSION_BUS_ADDRESS", mBus.address().toUtf8());
    QCoreApplication::setOrganizationName(TwitterOstra::OrganizationName);
    QCoreApplication::setApplicationName(TwitterOstra::ApplicationName);
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

DaemonHarness::~DaemonHarness()
{
    mDaemon.reset();
    QSqlDatabase::removeDatabase(CheckConnection);
}

bool DaemonHarness::start(bool firstStart)
{
    mFeed.reset(new EventFeedProcess(mBus));
    if (!mBus.isValid() || !mFeed->start())
        return false;
    if (!QFile::exists(mEnvironment.accountFile()))
        mEnvironment.writeDefaultAccount();
    return restartDaemon(firstStart);
}

bool DaemonHarness::restartDaemon(bool firstStart)
{
    mDaemon.reset();
    // A new process builds a new account object that reads the file as it is now; the
    // factory's account would take the file's latest edit only once it has settled.
    delete TwOstra::TwFactoryOstra::getInstance();
    mDaemon.reset(new TwitterDaemon(firstStart, nullptr));
    return mDaemon->init() == TwitterDaemon::INIT_ERROR_NONE;
}

void DaemonHarness::goOnline()
{
    QMetaObject::invokeMethod(mDaemon.data(), "onOnlineStateChanged", Q_ARG(bool, true));
}

QTimer *DaemonHarness::timer(const QString &name)
{
    return mDaemon->findChild<QTimer *>(name);
}

QSqlDatabase DaemonHarness::cache()
{
    if (!QSqlDatabase::contains(CheckConnection)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CheckConnection);
        db.setDatabaseName(mEnvironment.cacheDatabase());
        db.open();
    }
    return QSqlDatabase::database(CheckConnection);
}

QMap<QString, qint64> DaemonHarness::cachedItems()
{
    QMap<QString, qint64> rows;
    QSqlQuery query(QStringLiteral("SELECT twitter_id, homeview_id FROM items"), cache());
    while (query.next())
        rows.insert(query.value(0).toString(), query.value(1).toLongLong());
    return rows;
}

void DaemonHarness::clearCache()
{
    QSqlQuery query(cache());
    query.exec(QStringLiteral("DELETE FROM items"));
}
