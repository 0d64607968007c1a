// SPDX-License-Identifier: BSD-3-Clause
#include "PlatformSimulator.h"

#include "ContactsClient.h"
#include "FakeApiControl.h"
#include "simulatorfeedcontrolinterface.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTextStream>
#include <QTimer>

#include <csignal>

namespace {

const QString FeedService = QStringLiteral("com.halvex.home.EventFeed");
const QString DaemonService = QStringLiteral("com.halvex.twitterostra");
const QString RefreshHandled = QStringLiteral("HomeTimeline. Item count");
const QString ConnectionName = QStringLiteral("ostra-simulator");
const int StartTimeoutMs = 10000;
const int LoginTimeoutMs = 20000;
const int RefreshTimeoutMs = 15000;

// Made-up people of the moving timeline; the first ones are also the friends.
const QStringList People = {QStringLiteral("carol_w"), QStringLiteral("dave"), QStringLiteral("ErinCodes"),
                            QStringLiteral("frank_ostra"), QStringLiteral("grace_h"), QStringLiteral("heidi"),
                            QStringLiteral("ivan_k")};

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}

PlatformSimulator::PlatformSimulator(const Options &options, QObject *parent)
    : QObject(parent)
    , mOptions(options)
    , mView(options.clearScreen)
    , mConnection(QStringLiteral("unconnected"))
    , mApi(new FakeApiControl)
{
    mSnapshot.rounds = options.rounds;
}

PlatformSimulator::~PlatformSimulator()
{
    shutdown();
}

void PlatformSimulator::requestStop(int signalNumber)
{
    qDebug() << Q_FUNC_INFO << "signal" << signalNumber;
    mStopRequested = true;
}

int PlatformSimulator::run()
{
    if (!prepareRunDir() || !startBus() || !startFeed() || !startFakeApi()) {
        shutdown();
        return 1;
    }
    writeAccountFile();
    postFriends(5);
    if (!startDaemon()) {
        shutdown();
        return 1;
    }
    QTextStream(stdout) << "Private bus " << mBusAddress << ", fake API server on 127.0.0.1:" << mApiPort
                        << ", run folder " << mOptions.runDir << Qt::endl;
    waitForLogin();
    resyncContacts();
    for (int round = 1; !mStopRequested && (mOptions.rounds == 0 || round <= mOptions.rounds); ++round) {
        if (mDaemon.state() == QProcess::NotRunning)
            break;
        mSnapshot.round = round;
        mSnapshot.events.clear();
        playRound(round);
        if (mStopRequested)
            break;
        refreshAndSettle();
        takeSnapshot();
        mView.draw(mSnapshot);
        SimulatorView::writeHtml(mSnapshot, mOptions.runDir + QStringLiteral("/feed.html"));
        if (mOptions.rounds == 0 || round < mOptions.rounds)
            waitUntil([] { return false; }, mOptions.intervalMs);
    }
    if (mDaemon.state() == QProcess::NotRunning && !mDaemonEndExpected)
        error(QStringLiteral("the daemon ended by itself with status %1").arg(mDaemon.exitCode()));
    shutdown();
    printSummary();
    return mSnapshot.errors.isEmpty() ? 0 : 2;
}

bool PlatformSimulator::prepareRunDir()
{
    QDir dir(mOptions.runDir);
    if (!dir.mkpath(QStringLiteral("."))) {
        error(QStringLiteral("cannot make the run folder %1").arg(mOptions.runDir));
        return false;
    }
    mOptions.runDir = dir.absolutePath();
    // Each run starts as a first start: nothing of the last run's session is kept.
    for (const QString &sub : {QStringLiteral("config"), QStringLiteral("cache"), QStringLiteral("data"),
                               QStringLiteral("runtime"), QStringLiteral("logs")}) {
        QDir old(mOptions.runDir + QLatin1Char('/') + sub);
        if (old.exists())
            old.removeRecursively();
        dir.mkpath(sub);
    }
    QFile::setPermissions(mOptions.runDir + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    dir.mkpath(QStringLiteral("config/Halvex"));
    return true;
}

QProcessEnvironment PlatformSimulator::childEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString &root = mOptions.runDir;
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral(SIMULATOR_DATA_DIR));
    if (!mBusAddress.isEmpty())
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), mBusAddress);
    return environment;
}

void PlatformSimulator::startChild(QProcess &process, const QString &program, const QStringList &arguments,
                                   const QString &logName)
{
    process.setProcessEnvironment(childEnvironment());
    if (!logName.isEmpty())
        process.setStandardErrorFile(mOptions.runDir + QStringLiteral("/logs/") + logName);
    process.start(program, arguments);
}

bool PlatformSimulator::startBus()
{
    mBus.setStandardErrorFile(mOptions.runDir + QStringLiteral("/logs/dbus-daemon.log"));
    mBus.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!mBus.waitForStarted(StartTimeoutMs)) {
        error(QStringLiteral("cannot start dbus-daemon: %1").arg(mBus.errorString()));
        return false;
    }
    waitUntil([this] { return mBus.canReadLine() || mBus.state() == QProcess::NotRunning; }, StartTimeoutMs);
    mBusAddress = QString::fromUtf8(mBus.readLine()).trimmed();
    if (mBusAddress.isEmpty()) {
        error(QStringLiteral("dbus-daemon printed no address"));
        return false;
    }
    mConnection = QDBusConnection::connectToBus(mBusAddress, ConnectionName);
    if (!mConnection.isConnected()) {
        error(QStringLiteral("cannot connect to the private bus %1").arg(mBusAddress));
        return false;
    }
    mFeedControl.reset(new ComHalvexHomeEventFeedControlInterface(FeedService, QStringLiteral("/control"), mConnection));
    mContacts.reset(new ContactsClient(mConnection));
    return true;
}

bool PlatformSimulator::startFeed()
{
    startChild(mFeed, QStringLiteral(SIMULATOR_EVENTFEED_BINARY),
               {QStringLiteral("--verbose"), QStringLiteral("--dump"), mOptions.runDir + QStringLiteral("/eventfeed.json")},
               QStringLiteral("eventfeed.log"));
    mFeed.setStandardOutputFile(mOptions.runDir + QStringLiteral("/logs/eventfeed-calls.log"));
    if (!waitUntil([this] { return mConnection.interface()->isServiceRegistered(FeedService).value(); },
                   StartTimeoutMs)) {
        error(QStringLiteral("the reference event feed did not come on the bus"));
        return false;
    }
    return true;
}

bool PlatformSimulator::startFakeApi()
{
    startChild(mFakeApi, QStringLiteral(SIMULATOR_FAKEAPI_BINARY), {QStringLiteral("--verbose")},
               QStringLiteral("fake-twitter-api.log"));
    waitUntil([this] { return mFakeApi.canReadLine() || mFakeApi.state() == QProcess::NotRunning; }, StartTimeoutMs);
    bool ok = false;
    const quint16 port = mFakeApi.readLine().trimmed().toUShort(&ok);
    if (!ok || port == 0) {
        error(QStringLiteral("the fake API server gave no port"));
        return false;
    }
    mApiPort = port;
    mApi->setPort(port);
    return true;
}

void PlatformSimulator::writeAccountFile()
{
    const QString config = mOptions.runDir + QStringLiteral("/config/Halvex/");
    QSettings account(config + QStringLiteral("TwitterAccount.conf"), QSettings::IniFormat);
    account.setValue(QStringLiteral("account/present"), true);
    account.setValue(QStringLiteral("account/screen_name"), QStringLiteral("AliceInData"));
    account.setValue(QStringLiteral("account/user_id"), QStringLiteral("1111111111"));
    // The fake server's default credentials.
    account.setValue(QStringLiteral("account/token"), QStringLiteral("token"));
    account.setValue(QStringLiteral("account/token_secret"), QStringLiteral("token-secret"));
    account.setValue(QStringLiteral("account/consumer_key"), QStringLiteral("consumer-key"));
    account.setValue(QStringLiteral("account/consumer_secret"), QStringLiteral("consumer-secret"));
    account.setValue(QStringLiteral("account/api_base"), QStringLiteral("http://127.0.0.1:%1/1.1/").arg(mApiPort));
    for (const QString &service : {QStringLiteral("account"), QStringLiteral("contacts"), QStringLiteral("event_feed"),
                                   QStringLiteral("notifications")})
        account.setValue(QStringLiteral("services/") + service, true);
    for (const QString &key : {QStringLiteral("tw-notif-main"), QStringLiteral("tw-notif-msg"),
                               QStringLiteral("tw-notif-mention"), QStringLiteral("tw-notif-anyone")})
        account.setValue(QStringLiteral("settings/") + key, true);
    account.setValue(QStringLiteral("settings/tw-notif-followed"), false);
    account.sync();
    // Last-seen ids, so that the fixtures' mentions and messages are shown at once.
    QSettings daemon(config + QStringLiteral("Twitter.ini"), QSettings::IniFormat);
    daemon.setValue(QStringLiteral("LastIdMessages"), QStringLiteral("1"));
    daemon.setValue(QStringLiteral("LastIdMentions"), QStringLiteral("1"));
    daemon.sync();
}

bool PlatformSimulator::startDaemon()
{
    QProcessEnvironment environment = childEnvironment();
    // Everything beyond loopback (the pictures' hosts) goes through the fake server.
    const QString proxy = QStringLiteral("http://127.0.0.1:%1").arg(mApiPort);
    for (const QString &name : {QStringLiteral("http_proxy"), QStringLiteral("HTTP_PROXY"),
                                QStringLiteral("https_proxy"), QStringLiteral("HTTPS_PROXY")})
        environment.insert(name, proxy);
    environment.remove(QStringLiteral("no_proxy"));
    environment.remove(QStringLiteral("NO_PROXY"));
    mDaemon.setProcessEnvironment(environment);
    mDaemonLogFile.setFileName(mOptions.runDir + QStringLiteral("/logs/twitter-ostra.log"));
    mDaemonLogFile.open(QIODevice::WriteOnly | QIODevice::Truncate);
    connect(&mDaemon, &QProcess::readyReadStandardError, this, [this] {
        const QByteArray bytes = mDaemon.readAllStandardError();
        mDaemonLogFile.write(bytes);
        mDaemonLogFile.flush();
        mDaemonLog += QString::fromUtf8(bytes);
    });
    mDaemon.start(QStringLiteral(SIMULATOR_DAEMON_BINARY), {QStringLiteral("--debug")});
    if (!waitUntil([this] {
            return mDaemon.state() == QProcess::NotRunning
                || mConnection.interface()->isServiceRegistered(DaemonService).value();
        }, StartTimeoutMs)
        || mDaemon.state() == QProcess::NotRunning) {
        error(QStringLiteral("twitter-ostra did not come on the bus (status %1); see logs/twitter-ostra.log")
                  .arg(mDaemon.exitCode()));
        return false;
    }
    return true;
}

// The daemon logs in at start when it is online, else on the first refresh; no refresh
// is asked for while the login's check is under way, since it would start another.
void PlatformSimulator::waitForLogin()
{
    if (!waitUntil([this] { return mDaemonLog.contains(QStringLiteral("TwLoginCheck::start()")); }, 3000)
        && !mStopRequested)
        mFeedControl->requestRefresh().waitForFinished();
    if (!waitUntil([this] { return mDaemonLog.contains(QStringLiteral("TwitterDaemon::onTwitterAuthenticated")); },
                   LoginTimeoutMs)
        && !mStopRequested)
        error(QStringLiteral("no login within %1 s").arg(LoginTimeoutMs / 1000));
}

// The service moves on: new tweets (some with a picture or a link), now and then one
// deleted, a mention, a message, and friends in two pages that grow.
void PlatformSimulator::playRound(int round)
{
    const QString author = People.at((round - 1) % People.size());
    QJsonObject tweet{{QStringLiteral("text"), QStringLiteral("Round %1: notes from the simulator <ok> & on time").arg(round)},
                      {QStringLiteral("screen_name"), author},
                      {QStringLiteral("name"), author.toUpper()}};
    if (round % 2 == 1)
        tweet.insert(QStringLiteral("media_url"), QStringLiteral("http://pbs.twimg.com/media/simulator-%1.jpg").arg(round));
    if (mApi->post(QStringLiteral("tweets"), tweet)) {
        mAddedTweets.append(mApi->lastAnswer().value(QStringLiteral("id_str")).toString());
        event(QStringLiteral("@%1 tweeted%2").arg(author, round % 2 == 1 ? QStringLiteral(" a picture") : QString()));
    } else {
        error(QStringLiteral("fake API: ") + mApi->lastError());
    }
    if (round % 3 == 0) {
        const QString other = People.at(round % People.size());
        if (mApi->post(QStringLiteral("tweets"),
                       {{QStringLiteral("text"), QStringLiteral("A link worth a look, round %1").arg(round)},
                        {QStringLiteral("screen_name"), other},
                        {QStringLiteral("link"), QStringLiteral("http://twitpic.com/sim%1").arg(round)}}))
            event(QStringLiteral("@%1 tweeted a link").arg(other));
        else
            error(QStringLiteral("fake API: ") + mApi->lastError());
        // The oldest of ours goes again, as a user deleting a tweet.
        const QString gone = mAddedTweets.isEmpty() ? QString() : mAddedTweets.takeFirst();
        if (!gone.isEmpty()) {
            if (mApi->post(QStringLiteral("tweets/delete"), {{QStringLiteral("id_str"), gone}}))
                event(QStringLiteral("tweet %1 deleted on the service").arg(gone));
            else
                error(QStringLiteral("fake API: ") + mApi->lastError());
        }
    }
    const QString mentioner = People.at((round + 2) % People.size());
    if (mApi->post(QStringLiteral("mentions"),
                   {{QStringLiteral("text"), QStringLiteral("@AliceInData what about round %1?").arg(round)},
                    {QStringLiteral("screen_name"), mentioner},
                    {QStringLiteral("following"), round % 2 == 0}}))
        event(QStringLiteral("@%1 mentioned the user").arg(mentioner));
    else
        error(QStringLiteral("fake API: ") + mApi->lastError());
    const QString sender = People.at((round + 4) % People.size());
    if (mApi->post(QStringLiteral("messages"),
                   {{QStringLiteral("text"), QStringLiteral("Message %1, just for you").arg(round)},
                    {QStringLiteral("screen_name"), sender}}))
        event(QStringLiteral("@%1 sent a direct message").arg(sender));
    else
        error(QStringLiteral("fake API: ") + mApi->lastError());
    if (round % 2 == 0) {
        postFriends(5 + round / 2);
        resyncContacts();
    }
}

// The daemon fetches the friends at its ticks, hours apart, and when the user switches
// the contacts on; the simulated user switches them off and on again.
void PlatformSimulator::resyncContacts()
{
    const QString changed = QStringLiteral("TwitterDaemon::onTwitterAccountStateChanged");
    QSettings account(mOptions.runDir + QStringLiteral("/config/Halvex/TwitterAccount.conf"), QSettings::IniFormat);
    for (const bool on : {false, true}) {
        const int seen = daemonLogCount(changed);
        account.setValue(QStringLiteral("services/contacts"), on);
        account.sync();
        if (!waitUntil([&] { return daemonLogCount(changed) > seen; }, StartTimeoutMs)) {
            if (!mStopRequested)
                error(QStringLiteral("the daemon did not notice the contacts switched %1").arg(on ? "on" : "off"));
            return;
        }
    }
    event(QStringLiteral("the user switched the contacts off and on: the friends are fetched"));
}

void PlatformSimulator::postFriends(int count)
{
    QJsonArray friends;
    count = qMin(int(People.size()), count);
    for (int i = 0; i < count; ++i)
        friends.append(People.at(i));
    if (mApi->post(QStringLiteral("friends"), {{QStringLiteral("users"), friends}, {QStringLiteral("page_size"), 3}}))
        event(QStringLiteral("the user follows %1 people on the service (pages of 3)").arg(count));
    else
        error(QStringLiteral("fake API: ") + mApi->lastError());
}

// One refresh asked by the feed, then the time for avatars, thumbnails and notifications
// to arrive: until the feed and the store stay as they are for a moment.
void PlatformSimulator::refreshAndSettle()
{
    const int handled = daemonLogCount(RefreshHandled);
    QDBusPendingReply<> asked = mFeedControl->requestRefresh();
    asked.waitForFinished();
    if (asked.isError()) {
        error(QStringLiteral("requestRefresh: ") + asked.error().message());
        return;
    }
    if (!waitUntil([&] { return daemonLogCount(RefreshHandled) > handled; }, RefreshTimeoutMs)) {
        if (!mStopRequested)
            error(QStringLiteral("the refresh of round %1 was not handled within %2 s")
                      .arg(mSnapshot.round).arg(RefreshTimeoutMs / 1000));
        return;
    }
    const QString store = mOptions.runDir + QStringLiteral("/runtime/ostra-notifications/notifications.json");
    QString last;
    int stableFor = 0;
    waitUntil([&] {
        const QString now = mFeedControl->itemsJson().value() + fileText(store) + QString::number(daemonLogCount(QStringLiteral("\n")));
        stableFor = now == last ? stableFor + 1 : 0;
        last = now;
        return stableFor >= 5;
    }, 8000);
}

void PlatformSimulator::takeSnapshot()
{
    QDBusPendingReply<QString> items = mFeedControl->itemsJson();
    items.waitForFinished();
    if (items.isError())
        error(QStringLiteral("itemsJson: ") + items.error().message());
    else
        mSnapshot.items = QJsonDocument::fromJson(items.value().toUtf8()).array();
    readNotificationStore();
    QStringList contacts;
    if (mContacts->requestPersons(&contacts, 10000))
        mSnapshot.contacts = contacts;
    else
        error(QStringLiteral("contacts: ") + mContacts->lastError());
}

void PlatformSimulator::readNotificationStore()
{
    mSnapshot.groups = QJsonArray();
    mSnapshot.notifications = QJsonArray();
    const QString store = mOptions.runDir + QStringLiteral("/runtime/ostra-notifications/notifications.json");
    const QJsonDocument document = QJsonDocument::fromJson(fileText(store).toUtf8());
    for (const QJsonValue &entry : document[QStringLiteral("entries")].toArray()) {
        if (entry[QStringLiteral("application")].toString() != QLatin1String("Twitter"))
            continue;
        if (entry[QStringLiteral("kind")].toString() == QLatin1String("group"))
            mSnapshot.groups.append(entry);
        else
            mSnapshot.notifications.append(entry);
    }
}

void PlatformSimulator::printSummary()
{
    QMap<QString, int> perKind;
    for (const QJsonValue &group : qAsConst(mSnapshot.groups))
        perKind[group[QStringLiteral("eventType")].toString()] += group[QStringLiteral("count")].toInt();
    const int warnings = mDaemonLog.count(QStringLiteral(" Warning: ")) + mDaemonLog.count(QStringLiteral(" Critical: "));
    QTextStream out(stdout);
    out << "\nSummary after " << mSnapshot.round << " round(s):\n"
        << "  feed items:    " << mSnapshot.items.size() << '\n'
        << "  notifications: " << mSnapshot.notifications.size() << " in " << mSnapshot.groups.size() << " group(s)\n";
    for (auto it = perKind.cbegin(); it != perKind.cend(); ++it)
        out << "    " << it.key() << ": " << it.value() << '\n';
    out << "  contacts:      " << mSnapshot.contacts.size() << '\n'
        << "  errors:        " << mSnapshot.errors.size() << '\n';
    for (const QString &text : qAsConst(mSnapshot.errors))
        out << "    " << text << '\n';
    out << "  daemon warnings: " << warnings << " (logs/twitter-ostra.log)\n"
        << "  feed page:     " << mOptions.runDir << "/feed.html\n";
    out.flush();
}

void PlatformSimulator::stopChild(QProcess &process, const QString &name, bool gently)
{
    if (process.state() == QProcess::NotRunning)
        return;
    if (gently) {
        ::kill(pid_t(process.processId()), SIGTERM);
        if (process.waitForFinished(10000))
            return;
        qWarning() << Q_FUNC_INFO << name << "did not end on SIGTERM; killing it";
    }
    process.kill();
    process.waitForFinished(5000);
}

void PlatformSimulator::shutdown()
{
    mDaemonEndExpected = true;
    stopChild(mDaemon, QStringLiteral("twitter-ostra"), true);
    if (mDaemonLogFile.isOpen()) {
        mDaemonLogFile.write(mDaemon.readAllStandardError());
        mDaemonLogFile.close();
    }
    stopChild(mFeed, QStringLiteral("ostra-eventfeed"), true);
    stopChild(mFakeApi, QStringLiteral("ostra-fake-twitter-api"), true);
    mFeedControl.reset();
    mContacts.reset();
    if (mConnection.isConnected()) {
        mConnection = QDBusConnection(QStringLiteral("unconnected"));
        QDBusConnection::disconnectFromBus(ConnectionName);
    }
    stopChild(mBus, QStringLiteral("dbus-daemon"), true);
}

bool PlatformSimulator::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (mStopRequested || deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(qMin<qint64>(100, qMax<qint64>(1, deadline.remainingTime())), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void PlatformSimulator::error(const QString &text)
{
    qWarning() << Q_FUNC_INFO << text;
    mSnapshot.errors.append(text);
}
