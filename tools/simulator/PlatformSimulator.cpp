// SPDX-License-Identifier: BSD-3-Clause
#include "PlatformSimulator.h"

#include "SocialNetworkPerson.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <limits>

namespace {

const QString ApiPrefix = QStringLiteral("/1.1/");
const QString FriendsEndpoint = QStringLiteral("friends/list.json");
const QString FriendsPath = ApiPrefix + FriendsEndpoint;
const QString HomeTimelineEndpoint = QStringLiteral("statuses/home_timeline.json");
const int LoginTimeoutMs = 20000;
// The service's rate limits, in a window short enough that a run of a few minutes
// meets its ends.
const int RateWindowSeconds = 60;
const int FriendsFetchTimeoutMs = 10000;

QString clockTime(qint64 secondsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch).toString(QStringLiteral("hh:mm:ss"));
}

// Made-up people of the moving timeline; the first ones are also the friends.
const QStringList People = {QStringLiteral("carol_w"), QStringLiteral("dave"), QStringLiteral("ErinCodes"),
                            QStringLiteral("frank_ostra"), QStringLiteral("grace_h"), QStringLiteral("heidi"),
                            QStringLiteral("ivan_k")};

}

PlatformSimulator::PlatformSimulator(const Options &options, QObject *parent)
    : QObject(parent)
    , mOptions(options)
    , mView(options.clearScreen, options.details)
    , mSession(options.runDir)
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
    mSession.abort();
}

int PlatformSimulator::run()
{
    if (!startSession()) {
        shutdown();
        return 1;
    }
    printStart();
    for (int round = 1; !mStopRequested && (mOptions.rounds == 0 || round <= mOptions.rounds); ++round) {
        if (!daemonReady())
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
        mRoundsShown = round;
        if (mOptions.rounds == 0 || round < mOptions.rounds)
            mSession.waitFor([] { return false; }, mOptions.intervalMs);
    }
    if (mOptions.ownDaemon && mSession.daemon().state() == QProcess::NotRunning && !mDaemonEndExpected)
        error(QStringLiteral("the daemon ended by itself with status %1").arg(mSession.daemon().exitCode()));
    shutdown();
    printSummary();
    return mSnapshot.errors.isEmpty() ? 0 : 2;
}

// Each run starts as a first start, with last-seen ids that let the fixtures' mentions
// and messages be shown at once, mentions of anyone, and friends in pages of three.
bool PlatformSimulator::startSession()
{
    if (!mSession.environment().isValid()) {
        error(QStringLiteral("cannot make the run folder %1").arg(mOptions.runDir));
        return false;
    }
    mOptions.runDir = mSession.environment().root();
    mSession.setRateWindowSeconds(RateWindowSeconds);
    if (!mSession.start()) {
        error(QStringLiteral("cannot start the bus, the feed or the fake API server; see %1").arg(mSession.environment().logDir()));
        return false;
    }
    mSession.environment().writeAccount({{QStringLiteral("settings/tw-notif-followed"), false}});
    mSession.storeLastSeenIds(QStringLiteral("1"));
    postFriends(5);
    if (mOptions.ownDaemon && !mSession.startDaemon()) {
        error(QStringLiteral("twitter-ostra did not come on the bus (status %1); see logs/twitter-ostra.log")
                  .arg(mSession.daemon().exitCode()));
        return false;
    }
    return true;
}

void PlatformSimulator::printStart()
{
    QTextStream out(stdout);
    out << "Private bus " << mSession.bus().address() << "\nFake API server on 127.0.0.1:" << mSession.server().port()
        << ", run folder " << mOptions.runDir << Qt::endl;
    if (mOptions.ownDaemon)
        return;
    const QString environmentFile = mOptions.runDir + QStringLiteral("/daemon-environment.sh");
    writeDaemonEnvironment(environmentFile);
    out << "\nNo daemon of the simulator's own: start yours on its bus, in its folders, with the\n"
           "account it wrote (the fake server's), e.g. under a debugger:\n\n"
        << "    . " << environmentFile << "\n"
        << "    gdb --args " << QStringLiteral(DAEMON_BINARY) << " --debug\n\n"
        << "The environment (" << environmentFile << "):\n";
    QFile file(environmentFile);
    if (file.open(QIODevice::ReadOnly))
        out << file.readAll();
    out << "\nThe rounds start once it has logged in; should it end, they wait for the next one.\n"
           "When the simulator ends, so does its bus, and your daemon with status 1.\n"
        << Qt::endl;
}

// The variables that set a daemon on the simulator's bus and folders, with every picture
// from the fake server, as a shell script to source.
void PlatformSimulator::writeDaemonEnvironment(const QString &path)
{
    const QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
    const QProcessEnvironment daemon = mSession.daemonEnvironment();
    QString script;
    QTextStream out(&script);
    const auto quoted = [](QString value) -> QString {
        return QLatin1Char('\'') + value.replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
    };
    for (const QString &name : daemon.keys()) {
        if (!own.contains(name) || own.value(name) != daemon.value(name))
            out << "export " << name << '=' << quoted(daemon.value(name)) << '\n';
    }
    for (const QString &name : own.keys()) {
        if (!daemon.contains(name))
            out << "unset " << name << '\n';
    }
    out.flush();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(script.toUtf8()) < 0 || !file.commit())
        error(QStringLiteral("cannot write %1").arg(path));
}

bool PlatformSimulator::daemonOnBus(const QString &name)
{
    return mSession.bus().connection().interface()->isServiceRegistered(name);
}

// Before a round the daemon is logged in: its runner is on the bus. The simulator's own
// logs in once after its start; one started by hand may come, end and come again. After
// each login the simulated user switches the contacts off and on, for the friends.
bool PlatformSimulator::daemonReady()
{
    if (mOptions.ownDaemon && mSession.daemon().state() == QProcess::NotRunning)
        return false;
    if (!daemonOnBus(QStringLiteral("com.halvex.socialprovider.twitter"))) {
        const int login = mSession.logins() + 1;
        if (!mOptions.ownDaemon && !daemonOnBus(QStringLiteral("com.halvex.twitterostra"))) {
            QTextStream(stdout) << "Waiting for twitter-ostra on the bus (Ctrl-C stops) ..." << Qt::endl;
            if (!mSession.waitFor([&] { return daemonOnBus(QStringLiteral("com.halvex.twitterostra")); },
                                  std::numeric_limits<int>::max()))
                return false;
        }
        if (!mSession.waitForLogin(login))
            error(QStringLiteral("no login within %1 s").arg(LoginTimeoutMs / 1000));
    }
    if (mContactsSyncedAtLogin != mSession.logins()) {
        mContactsSyncedAtLogin = mSession.logins();
        resyncContacts();
    }
    return !mStopRequested;
}

void PlatformSimulator::post(const QString &action, const QJsonObject &body, const QString &event)
{
    if (mSession.server().post(action, body))
        mSnapshot.events.append(event);
    else
        error(QStringLiteral("fake API: ") + mSession.server().lastError());
}

// The service moves on: new tweets (some with a picture or a link), now and then one
// deleted, a mention, a message, and friends in two pages that grow.
void PlatformSimulator::playRound(int round)
{
    const QString author = People.at((round - 1) % People.size());
    const bool picture = round % 2 == 1;
    const QString text = QStringLiteral("Round %1: notes from the simulator <ok> & on time").arg(round);
    const QString id = mSession.postTweet(text, author,
                                          picture ? QStringLiteral("http://pbs.twimg.com/media/simulator-%1.jpg").arg(round)
                                                  : QString());
    if (id.isEmpty()) {
        error(QStringLiteral("fake API: ") + mSession.server().lastError());
    } else {
        mAddedTweets.append({id, QStringLiteral("@%1's \"%2\"").arg(author, text)});
        mSnapshot.events.append(QStringLiteral("@%1 tweeted%2").arg(author, picture ? QStringLiteral(" a picture") : QString()));
    }
    if (round % 3 == 0) {
        const QString other = People.at(round % People.size());
        post(QStringLiteral("tweets"),
             {{QStringLiteral("text"), QStringLiteral("A link worth a look, round %1").arg(round)},
              {QStringLiteral("screen_name"), other},
              {QStringLiteral("link"), QStringLiteral("http://twitpic.com/sim%1").arg(round)}},
             QStringLiteral("@%1 tweeted a link").arg(other));
        // The oldest of ours goes again, as a user deleting a tweet.
        if (!mAddedTweets.isEmpty()) {
            const QPair<QString, QString> gone = mAddedTweets.takeFirst();
            post(QStringLiteral("tweets/delete"), {{QStringLiteral("id_str"), gone.first}},
                 QStringLiteral("%1 deleted on the service").arg(gone.second));
        }
    }
    const QString mentioner = People.at((round + 2) % People.size());
    post(QStringLiteral("mentions"),
         {{QStringLiteral("text"), QStringLiteral("@AliceInData what about round %1?").arg(round)},
          {QStringLiteral("screen_name"), mentioner},
          {QStringLiteral("following"), round % 2 == 0}},
         QStringLiteral("@%1 mentioned the user").arg(mentioner));
    const QString sender = People.at((round + 4) % People.size());
    post(QStringLiteral("messages"),
         {{QStringLiteral("text"), QStringLiteral("Message %1, just for you").arg(round)},
          {QStringLiteral("screen_name"), sender}},
         QStringLiteral("@%1 sent a direct message").arg(sender));
    if (round % 2 == 0) {
        postFriends(5 + round / 2);
        resyncContacts();
    }
}

// The daemon fetches the friends at its ticks, hours apart, and when the user switches
// the contacts on; the simulated user switches them off and on again. What shows that
// the daemon took the change is the friends' first page asked of the service.
void PlatformSimulator::resyncContacts()
{
    const int asked = mSession.server().requestCount(FriendsPath);
    mSession.environment().writeAccount({{QStringLiteral("services/contacts"), false}});
    // Nothing can be seen of the switch off; the daemon reads the file within moments.
    mSession.waitUntilStill(3000);
    mSession.environment().writeAccount({{QStringLiteral("services/contacts"), true}});
    // With the friends' window spent the daemon asks again once it has ended.
    qint64 timeoutMs = FriendsFetchTimeoutMs;
    const QJsonObject window = rateWindow(FriendsEndpoint);
    if (!window.isEmpty() && window.value(QStringLiteral("remaining")).toInt() == 0) {
        const qint64 reset = qint64(window.value(QStringLiteral("reset")).toDouble());
        mSnapshot.events.append(QStringLiteral("the rate limit of %1 is spent until %2; the friends come after it")
                                    .arg(FriendsEndpoint, clockTime(reset)));
        timeoutMs += qBound<qint64>(0, (reset - QDateTime::currentSecsSinceEpoch()) * 1000, RateWindowSeconds * 1000);
    }
    if (!mSession.waitFor([&] { return mSession.server().requestCount(FriendsPath) > asked; }, int(timeoutMs))) {
        error(QStringLiteral("the daemon did not fetch the friends when the contacts were switched on"));
        return;
    }
    if (lastRefusedByTheLimit(FriendsEndpoint))
        mSnapshot.events.append(QStringLiteral("the user switched the contacts off and on: the friends' page is refused "
                                               "by the rate limit"));
    else
        mSnapshot.events.append(QStringLiteral("the user switched the contacts off and on: the friends are fetched"));
}

// The service's running window of this endpoint ({"limit", "remaining", "reset"}), or
// an empty object.
QJsonObject PlatformSimulator::rateWindow(const QString &endpoint)
{
    return mSession.server().rateLimits().value(endpoint).toObject();
}

// Whether the service's last answer to this endpoint was the refusal of a spent window.
bool PlatformSimulator::lastRefusedByTheLimit(const QString &endpoint)
{
    const QJsonArray requests = mSession.server().requests();
    for (int i = requests.size() - 1; i >= 0; --i) {
        if (requests.at(i)[QStringLiteral("path")].toString() == ApiPrefix + endpoint)
            return requests.at(i)[QStringLiteral("status")].toInt() == 429;
    }
    return false;
}

// Once a window is spent the service refuses the endpoint until its reset, and a daemon
// that has seen it holds the endpoint back: no refresh gets through before the reset, so
// the simulated user waits for it.
void PlatformSimulator::waitForRateWindow(const QString &endpoint)
{
    const QJsonObject window = rateWindow(endpoint);
    if (window.isEmpty() || window.value(QStringLiteral("remaining")).toInt() > 0)
        return;
    const qint64 reset = qint64(window.value(QStringLiteral("reset")).toDouble());
    mSnapshot.events.append(QStringLiteral("the rate limit of %1 is spent until %2; the refresh waits for it")
                                .arg(endpoint, clockTime(reset)));
    // The server's clock is this machine's: the window ends at the reset it announced.
    const qint64 waitMs = qBound<qint64>(0, (reset - QDateTime::currentSecsSinceEpoch() + 1) * 1000,
                                         (RateWindowSeconds + 1) * 1000);
    mSession.waitFor([&] { return QDateTime::currentSecsSinceEpoch() > reset; }, int(waitMs));
}

void PlatformSimulator::readRateLimits()
{
    mSnapshot.rateLimits.clear();
    const QJsonObject windows = mSession.server().rateLimits();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (auto it = windows.constBegin(); it != windows.constEnd(); ++it) {
        const QJsonObject window = it.value().toObject();
        mSnapshot.rateLimits.append({it.key(), window.value(QStringLiteral("remaining")).toInt(),
                                     window.value(QStringLiteral("limit")).toInt(),
                                     qMax<qint64>(0, qint64(window.value(QStringLiteral("reset")).toDouble()) - now)});
    }
}

void PlatformSimulator::postFriends(int count)
{
    QJsonArray friends;
    count = qMin(int(People.size()), count);
    for (int i = 0; i < count; ++i)
        friends.append(People.at(i));
    post(QStringLiteral("friends"), {{QStringLiteral("users"), friends}, {QStringLiteral("page_size"), 3}},
         QStringLiteral("the user follows %1 people on the service (pages of 3)").arg(count));
}

// One refresh asked by the feed, then the time for avatars, thumbnails and notifications
// to arrive.
void PlatformSimulator::refreshAndSettle()
{
    waitForRateWindow(HomeTimelineEndpoint);
    if (!mSession.refresh())
        error(QStringLiteral("the refresh of round %1 was not handled").arg(mSnapshot.round));
}

void PlatformSimulator::takeSnapshot()
{
    QDBusPendingReply<QString> items = mSession.feed().control().itemsJson();
    items.waitForFinished();
    if (items.isError())
        error(QStringLiteral("itemsJson: ") + items.error().message());
    else
        mSnapshot.items = QJsonDocument::fromJson(items.value().toUtf8()).array();
    readNotificationStore();
    readRateLimits();
    QList<SocialNetworkPerson> persons;
    QString reason;
    if (!mSession.requestPersons(&persons, &reason)) {
        error(QStringLiteral("contacts: ") + reason);
        return;
    }
    mSnapshot.contacts.clear();
    for (const SocialNetworkPerson &person : qAsConst(persons))
        mSnapshot.contacts.append(QStringLiteral("%1 (%2)").arg(person.property(SocialNetworkPerson::FirstName),
                                                                person.property(QStringLiteral("ScreenName"))));
}

// The groups in the order of their kinds, whichever poll came first.
void PlatformSimulator::readNotificationStore()
{
    QList<QJsonObject> groups = mSession.storeEntries(QStringLiteral("group"));
    std::sort(groups.begin(), groups.end(), [](const QJsonObject &a, const QJsonObject &b) {
        return a.value(QStringLiteral("eventType")).toString() < b.value(QStringLiteral("eventType")).toString();
    });
    mSnapshot.groups = QJsonArray();
    mSnapshot.notifications = QJsonArray();
    for (const QJsonObject &group : qAsConst(groups))
        mSnapshot.groups.append(group);
    for (const QJsonObject &notification : mSession.storeEntries(QStringLiteral("notification")))
        mSnapshot.notifications.append(notification);
}

void PlatformSimulator::printSummary()
{
    QTextStream out(stdout);
    out << "\nSummary after " << mRoundsShown << " round(s):\n"
        << "  feed items:    " << mSnapshot.items.size() << '\n'
        << "  notifications: " << mSnapshot.groups.size() << " group(s)\n"
        << "    " << SimulatorView::notificationCounts(mSnapshot) << '\n'
        << "  contacts:      " << mSnapshot.contacts.size() << '\n'
        << "  errors:        " << mSnapshot.errors.size() << '\n';
    for (const QString &text : qAsConst(mSnapshot.errors))
        out << "    " << text << '\n';
    if (mOptions.ownDaemon) {
        const QString log = mSession.log();
        out << "  daemon warnings: " << log.count(QStringLiteral(" Warning: ")) + log.count(QStringLiteral(" Critical: "))
            << " (logs/twitter-ostra.log)\n";
    }
    out << "  feed page:     " << mOptions.runDir << "/feed.html\n";
    out.flush();
}

// The daemon first, so that it ends in order while the feed and the bus are still there;
// the session ends the rest.
void PlatformSimulator::shutdown()
{
    mDaemonEndExpected = true;
    mSession.stopDaemon();
}

void PlatformSimulator::error(const QString &text)
{
    // Every wait ends at once on a stop asked for: the step it cut short did not fail.
    if (mStopRequested) {
        qDebug() << Q_FUNC_INFO << "cut short by the stop:" << text;
        return;
    }
    qWarning() << Q_FUNC_INFO << text;
    mSnapshot.errors.append(text);
}
