// SPDX-License-Identifier: BSD-3-Clause
#include "E2eSession.h"

#include "FeedItems.h"
#include "SocialGetPersonsRequest.h"
#include "SocialProviderInitializer.h"
#include "e2erunnerinterface.h"

#include <QDBusServiceWatcher>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>

#include <csignal>

namespace {
const QString HomeTimelinePath = QStringLiteral("/1.1/statuses/home_timeline.json");
const QString VerifyCredentialsPath = QStringLiteral("/1.1/account/verify_credentials.json");
}

E2eSession::E2eSession()
    : mBus(new PrivateBus)
    , mEnvironment(new TestEnvironment)
    , mServer(new FakeApiProcess)
{
    connect(&mDaemon, &QProcess::readyReadStandardError, this,
            [this] { mLog += QString::fromUtf8(mDaemon.readAllStandardError()); });
}

E2eSession::~E2eSession()
{
    if (mDaemon.state() != QProcess::NotRunning) {
        mDaemon.kill();
        mDaemon.waitForFinished(5000);
    }
    mFeed.reset();
    mServer.reset();
    mBus.reset();
}

bool E2eSession::start()
{
    if (!mBus->isValid() || !mEnvironment->isValid() || !mServer->start())
        return false;
    mEnvironment->writeDefaultAccount();
    mEnvironment->writeAccount({{QStringLiteral("account/api_base"), mServer->apiBase()},
                                {QStringLiteral("settings/tw-notif-main"), true},
                                {QStringLiteral("settings/tw-notif-msg"), true},
                                {QStringLiteral("settings/tw-notif-mention"), true},
                                {QStringLiteral("settings/tw-notif-anyone"), true}});
    mFeed.reset(new EventFeedProcess(*mBus));
    auto *runner = new QDBusServiceWatcher(QStringLiteral("com.halvex.socialprovider.twitter"), mBus->connection(),
                                           QDBusServiceWatcher::WatchForRegistration, this);
    connect(runner, &QDBusServiceWatcher::serviceRegistered, this, [this] { ++mLogins; });
    return mFeed->start();
}

void E2eSession::storeLastSeenIds(const QString &id)
{
    QSettings settings(mEnvironment->daemonSettingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("LastIdMessages"), id);
    settings.setValue(QStringLiteral("LastIdMentions"), id);
}

bool E2eSession::startDaemon()
{
    QProcessEnvironment environment = mEnvironment->processEnvironment(mBus->address());
    // Everything beyond loopback (the pictures' hosts) goes through the fake server.
    for (const QString &name : {QStringLiteral("http_proxy"), QStringLiteral("HTTP_PROXY"),
                                QStringLiteral("https_proxy"), QStringLiteral("HTTPS_PROXY")})
        environment.insert(name, mServer->proxyUrl());
    environment.remove(QStringLiteral("no_proxy"));
    environment.remove(QStringLiteral("NO_PROXY"));
    // Qt's polling bearer is the daemon's to keep out; let in, it would poll every 5 ms.
    environment.remove(QStringLiteral("QT_EXCLUDE_GENERIC_BEARER"));
    environment.insert(QStringLiteral("QT_BEARER_POLL_TIMEOUT"), QStringLiteral("5"));
    mDaemon.setProcessEnvironment(environment);
    mLog.clear();
    mLogins = 0;
    mDaemon.start(QStringLiteral(DAEMON_BINARY), {QStringLiteral("--debug")});
    return mDaemon.waitForStarted(5000) && mBus->waitForName(QStringLiteral("com.halvex.twitterostra"));
}

bool E2eSession::stopDaemon()
{
    if (mDaemon.state() == QProcess::NotRunning)
        return mDaemon.exitStatus() == QProcess::NormalExit && mDaemon.exitCode() == 0;
    ::kill(pid_t(mDaemon.processId()), SIGTERM);
    if (!mDaemon.waitForFinished(10000))
        return false;
    mLog += QString::fromUtf8(mDaemon.readAllStandardError());
    return mDaemon.exitStatus() == QProcess::NormalExit && mDaemon.exitCode() == 0;
}

bool E2eSession::waitForLogin(int count)
{
    // The daemon checks the credentials at start when it is online; else the first refresh
    // starts the login. No refresh while a check is under way: it would start another.
    const auto checking = [&] { return logins() >= count || mServer->requestCount(VerifyCredentialsPath) >= count; };
    if (!QTest::qWaitFor(checking, 3000))
        mFeed->control().requestRefresh().waitForFinished();
    return QTest::qWaitFor([&] { return logins() >= count; }, 15000);
}

bool E2eSession::refresh()
{
    const int asked = mServer->requestCount(HomeTimelinePath);
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        mFeed->control().requestRefresh().waitForFinished();
        // Before the login is through, a refresh starts the login instead: asked again.
        if (QTest::qWaitFor([&] { return mServer->requestCount(HomeTimelinePath) > asked; }, 2000))
            return waitUntilStill();
    }
    return false;
}

bool E2eSession::waitUntilStill()
{
    const auto seen = [this]() -> QString {
        QFile store(mEnvironment->runtimeDir() + QStringLiteral("/ostra-notifications/notifications.json"));
        return QString::number(mFeed->calls().size()) + QLatin1Char('|') + QString::number(mServer->requests().size())
            + QLatin1Char('|') + QString::fromUtf8(store.open(QIODevice::ReadOnly) ? store.readAll() : QByteArray());
    };
    QString last = seen();
    QElapsedTimer still;
    still.start();
    for (QDeadlineTimer deadline(15000); !deadline.hasExpired();) {
        QTest::qWait(100);
        const QString now = seen();
        if (now != last) {
            last = now;
            still.restart();
        } else if (still.elapsed() >= 500) {
            return true;
        }
    }
    return false;
}

QStringList E2eSession::itemTweetIds()
{
    QStringList ids;
    for (const QJsonValue &item : mFeed->items())
        ids.append(FeedItems::actionId(item));
    return ids;
}

QList<QJsonObject> E2eSession::storeEntries(const QString &kind) const
{
    QList<QJsonObject> entries;
    QFile file(mEnvironment->runtimeDir() + QStringLiteral("/ostra-notifications/notifications.json"));
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QJsonValue &entry : QJsonDocument::fromJson(file.readAll())[QStringLiteral("entries")].toArray()) {
        if (entry[QStringLiteral("application")] == QLatin1String("Twitter") && entry[QStringLiteral("kind")] == kind)
            entries.append(entry.toObject());
    }
    return entries;
}

QJsonObject E2eSession::mentionsGroup() const
{
    for (const QJsonObject &group : storeEntries(QStringLiteral("group"))) {
        if (group[QStringLiteral("eventType")] == QLatin1String("mentions.service.twitter"))
            return group;
    }
    return QJsonObject();
}

QStringList E2eSession::requestPersons()
{
    SocialProviderInitializer::init();
    ComHalvexSocialproviderRunnerInterface runner(QStringLiteral("com.halvex.socialprovider.twitter"),
                                                  QStringLiteral("/twitter"), mBus->connection());
    SocialGetPersonsRequest request;
    QByteArray bytes;
    {
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream.setVersion(SocialStreamVersion);
        request.serialize(stream);
    }
    const QString id = QStringLiteral("e2e-%1").arg(++mRequests);
    QSignalSpy finished(&runner, &ComHalvexSocialproviderRunnerInterface::requestFinished);
    if (runner.performRequest(5, id, bytes).isError())
        return {};
    const auto answered = [&] {
        for (const QList<QVariant> &arguments : qAsConst(finished)) {
            if (arguments.at(1).toString() == id)
                return true;
        }
        return false;
    };
    if (!answered() && !QTest::qWaitFor([&] { return answered(); }, 10000))
        return {};
    QStringList names;
    for (const QList<QVariant> &arguments : qAsConst(finished)) {
        if (arguments.at(1).toString() != id || !arguments.at(3).toByteArray().isEmpty())
            continue;
        QDataStream answer(arguments.at(2).toByteArray());
        answer.setVersion(SocialStreamVersion);
        request.deserialize(answer);
        for (const SocialNetworkPerson &person : request.persons())
            names.append(person.property(QStringLiteral("ScreenName")));
    }
    names.sort();
    return names;
}

void E2eSession::readCache(const std::function<void(QSqlDatabase &)> &read) const
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-check"));
        db.setDatabaseName(mEnvironment->cacheDatabase());
        if (db.open())
            read(db);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-check"));
}

QStringList E2eSession::cacheTables() const
{
    QStringList tables;
    readCache([&](QSqlDatabase &db) { tables = db.tables(); });
    return tables;
}

QList<qint64> E2eSession::cachedItemIds() const
{
    QList<qint64> ids;
    readCache([&](QSqlDatabase &db) {
        QSqlQuery query(QStringLiteral("SELECT homeview_id FROM items ORDER BY homeview_id"), db);
        while (query.next())
            ids.append(query.value(0).toLongLong());
    });
    return ids;
}

QString E2eSession::postTweet(const QString &text, const QString &screenName, const QString &mediaUrl)
{
    QJsonObject tweet{{QStringLiteral("text"), text}, {QStringLiteral("screen_name"), screenName}};
    if (!mediaUrl.isEmpty())
        tweet.insert(QStringLiteral("media_url"), mediaUrl);
    if (!mServer->post(QStringLiteral("tweets"), tweet))
        return QString();
    return mServer->lastAnswer().value(QStringLiteral("id_str")).toString();
}
