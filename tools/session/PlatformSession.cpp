// SPDX-License-Identifier: BSD-3-Clause
#include "PlatformSession.h"

#include "FeedItems.h"
#include "SocialGetPersonsRequest.h"
#include "SocialProviderInitializer.h"
#include "Waiting.h"
#include "sessionrunnerinterface.h"

#include <QDBusServiceWatcher>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSettings>
#include <QSqlQuery>

namespace {
const QString HomeTimelinePath = QStringLiteral("/1.1/statuses/home_timeline.json");
const QString VerifyCredentialsPath = QStringLiteral("/1.1/account/verify_credentials.json");
}

PlatformSession::PlatformSession(const QString &runDir)
    : mRunDir(runDir)
    , mBus(new PrivateBus)
    , mEnvironment(new TestEnvironment(runDir))
    , mServer(new FakeApiProcess)
{
}

PlatformSession::~PlatformSession() = default;

bool PlatformSession::start()
{
    if (!mBus->isValid() || !mEnvironment->isValid())
        return false;
    QStringList verbose;
    if (keepsLogs()) {
        verbose = QStringList{QStringLiteral("--verbose")};
        mServer->setLogFile(logFile(QStringLiteral("fake-twitter-api.log")));
        mDaemon.setLogFile(logFile(QStringLiteral("twitter-ostra.log")));
    }
    if (!mServer->start(verbose))
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
    if (!keepsLogs())
        return mFeed->start();
    mFeed->setLogFiles(logFile(QStringLiteral("eventfeed.log")), logFile(QStringLiteral("eventfeed-calls.log")));
    return mFeed->start(verbose + QStringList{QStringLiteral("--dump"), mRunDir + QStringLiteral("/eventfeed.json")});
}

void PlatformSession::storeLastSeenIds(const QString &id)
{
    QSettings settings(mEnvironment->daemonSettingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("LastIdMessages"), id);
    settings.setValue(QStringLiteral("LastIdMentions"), id);
}

bool PlatformSession::startDaemon(const QStringList &arguments)
{
    mLogins = 0;
    mDaemon.start(daemonEnvironment(), arguments);
    return mDaemon.waitForStarted(5000) && mBus->waitForName(QStringLiteral("com.halvex.twitterostra"));
}

QProcessEnvironment PlatformSession::daemonEnvironment() const
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
    return environment;
}

bool PlatformSession::stopDaemon()
{
    return mDaemon.stop();
}

bool PlatformSession::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    return Session::waitUntil([&] { return mAborted || done(); }, timeoutMs) && !mAborted;
}

bool PlatformSession::waitForLogin(int count)
{
    // The daemon checks the credentials at start when it is online; else the first refresh
    // starts the login. No refresh while a check is under way: it would start another.
    const auto checking = [&] { return logins() >= count || mServer->requestCount(VerifyCredentialsPath) >= count; };
    if (!waitFor(checking, 3000))
        mFeed->control().requestRefresh().waitForFinished();
    return waitFor([&] { return logins() >= count; }, 15000);
}

bool PlatformSession::refresh()
{
    const int asked = mServer->requestCount(HomeTimelinePath);
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        mFeed->control().requestRefresh().waitForFinished();
        // Before the login is through, a refresh starts the login instead: asked again.
        if (waitFor([&] { return mServer->requestCount(HomeTimelinePath) > asked; }, 2000))
            return waitUntilStill();
    }
    return false;
}

bool PlatformSession::waitForItems(int count, int timeoutMs)
{
    return waitFor(
        [&] {
            mFeed->control().requestRefresh().waitForFinished();
            return waitFor([&] { return mFeed->items().size() == count; }, 3000);
        },
        timeoutMs);
}

bool PlatformSession::waitUntilStill(int timeoutMs)
{
    const auto seen = [this]() -> QString {
        QFile store(mEnvironment->notificationStore());
        return QString::number(mFeed->calls().size()) + QLatin1Char('|') + QString::number(mServer->requests().size())
            + QLatin1Char('|') + QString::fromUtf8(store.open(QIODevice::ReadOnly) ? store.readAll() : QByteArray());
    };
    QString last = seen();
    QElapsedTimer still;
    still.start();
    for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired() && !mAborted;) {
        waitFor([] { return false; }, 100);
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

QStringList PlatformSession::itemTweetIds()
{
    QStringList ids;
    for (const QJsonValue &item : mFeed->items())
        ids.append(FeedItems::actionId(item));
    return ids;
}

QList<QJsonObject> PlatformSession::storeEntries(const QString &kind) const
{
    QList<QJsonObject> entries;
    QFile file(mEnvironment->notificationStore());
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QJsonValue &entry : QJsonDocument::fromJson(file.readAll())[QStringLiteral("entries")].toArray()) {
        if (entry[QStringLiteral("application")] == QLatin1String("Twitter") && entry[QStringLiteral("kind")] == kind)
            entries.append(entry.toObject());
    }
    return entries;
}

QJsonObject PlatformSession::group(const QString &eventType) const
{
    for (const QJsonObject &group : storeEntries(QStringLiteral("group"))) {
        if (group[QStringLiteral("eventType")] == eventType)
            return group;
    }
    return QJsonObject();
}

bool PlatformSession::requestPersons(QList<SocialNetworkPerson> *persons, QString *error)
{
    QString reason;
    if (!error)
        error = &reason;
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
    const QString id = QStringLiteral("session-%1").arg(++mRequests);
    QByteArray answer;
    QByteArray errorRecord;
    bool answered = false;
    connect(&runner, &ComHalvexSocialproviderRunnerInterface::requestFinished, this,
            [&](int, const QString &requestId, const QByteArray &result, const QByteArray &errorBytes) {
                if (requestId != id)
                    return;
                answer = result;
                errorRecord = errorBytes;
                answered = true;
            });
    QDBusPendingReply<> sent = runner.performRequest(5, id, bytes);
    sent.waitForFinished();
    if (sent.isError()) {
        *error = QStringLiteral("performRequest: ") + sent.error().message();
        return false;
    }
    if (!waitFor([&] { return answered; }, 10000)) {
        *error = QStringLiteral("no requestFinished for %1 within 10 s").arg(id);
        return false;
    }
    if (!errorRecord.isEmpty()) {
        *error = QStringLiteral("the runner answered %1 with an error record").arg(id);
        return false;
    }
    QDataStream stream(answer);
    stream.setVersion(SocialStreamVersion);
    request.deserialize(stream);
    if (stream.status() != QDataStream::Ok) {
        *error = QStringLiteral("unreadable answer to %1").arg(id);
        return false;
    }
    *persons = request.persons();
    return true;
}

QStringList PlatformSession::requestPersons()
{
    QList<SocialNetworkPerson> persons;
    QStringList names;
    if (requestPersons(&persons)) {
        for (const SocialNetworkPerson &person : qAsConst(persons))
            names.append(person.property(QStringLiteral("ScreenName")));
    }
    names.sort();
    return names;
}

void PlatformSession::readCache(const std::function<void(QSqlDatabase &)> &read) const
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-check"));
        db.setDatabaseName(mEnvironment->cacheDatabase());
        if (db.open())
            read(db);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-check"));
}

QStringList PlatformSession::cacheTables() const
{
    QStringList tables;
    readCache([&](QSqlDatabase &db) { tables = db.tables(); });
    return tables;
}

QList<qint64> PlatformSession::cachedItemIds() const
{
    QList<qint64> ids;
    readCache([&](QSqlDatabase &db) {
        QSqlQuery query(QStringLiteral("SELECT homeview_id FROM items ORDER BY homeview_id"), db);
        while (query.next())
            ids.append(query.value(0).toLongLong());
    });
    return ids;
}

QString PlatformSession::postTweet(const QString &text, const QString &screenName, const QString &mediaUrl)
{
    QJsonObject tweet{{QStringLiteral("text"), text}, {QStringLiteral("screen_name"), screenName}};
    if (!mediaUrl.isEmpty())
        tweet.insert(QStringLiteral("media_url"), mediaUrl);
    if (!mServer->post(QStringLiteral("tweets"), tweet))
        return QString();
    return mServer->lastAnswer().value(QStringLiteral("id_str")).toString();
}
