// SPDX-License-Identifier: BSD-3-Clause
#include "PlatformSimulator.h"

#include "SocialNetworkPerson.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTextStream>

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
    , mView(options.clearScreen)
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
    QTextStream(stdout) << "Private bus " << mSession.bus().address() << ", fake API server on 127.0.0.1:"
                        << mSession.server().port() << ", run folder " << mOptions.runDir << Qt::endl;
    if (!mSession.waitForLogin() && !mStopRequested)
        error(QStringLiteral("no login within %1 s").arg(LoginTimeoutMs / 1000));
    resyncContacts();
    for (int round = 1; !mStopRequested && (mOptions.rounds == 0 || round <= mOptions.rounds); ++round) {
        if (mSession.daemon().state() == QProcess::NotRunning)
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
            mSession.waitFor([] { return false; }, mOptions.intervalMs);
    }
    if (mSession.daemon().state() == QProcess::NotRunning && !mDaemonEndExpected)
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
    if (!mSession.startDaemon()) {
        error(QStringLiteral("twitter-ostra did not come on the bus (status %1); see logs/twitter-ostra.log")
                  .arg(mSession.daemon().exitCode()));
        return false;
    }
    return true;
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
    const QString id = mSession.postTweet(QStringLiteral("Round %1: notes from the simulator <ok> & on time").arg(round),
                                          author,
                                          picture ? QStringLiteral("http://pbs.twimg.com/media/simulator-%1.jpg").arg(round)
                                                  : QString());
    if (id.isEmpty()) {
        error(QStringLiteral("fake API: ") + mSession.server().lastError());
    } else {
        mAddedTweets.append(id);
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
            const QString gone = mAddedTweets.takeFirst();
            post(QStringLiteral("tweets/delete"), {{QStringLiteral("id_str"), gone}},
                 QStringLiteral("tweet %1 deleted on the service").arg(gone));
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
        if (!mStopRequested)
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
        mSnapshot.rateLimits.append(QStringLiteral("%1: %2 of %3 left, reset in %4 s")
                                        .arg(it.key())
                                        .arg(window.value(QStringLiteral("remaining")).toInt())
                                        .arg(window.value(QStringLiteral("limit")).toInt())
                                        .arg(qMax<qint64>(0, qint64(window.value(QStringLiteral("reset")).toDouble()) - now)));
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
    if (!mSession.refresh() && !mStopRequested)
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

void PlatformSimulator::readNotificationStore()
{
    mSnapshot.groups = QJsonArray();
    mSnapshot.notifications = QJsonArray();
    for (const QJsonObject &group : mSession.storeEntries(QStringLiteral("group")))
        mSnapshot.groups.append(group);
    for (const QJsonObject &notification : mSession.storeEntries(QStringLiteral("notification")))
        mSnapshot.notifications.append(notification);
}

void PlatformSimulator::printSummary()
{
    QMap<QString, int> perKind;
    for (const QJsonValue &group : qAsConst(mSnapshot.groups))
        perKind[group[QStringLiteral("eventType")].toString()] += group[QStringLiteral("count")].toInt();
    const QString log = mSession.log();
    const int warnings = log.count(QStringLiteral(" Warning: ")) + log.count(QStringLiteral(" Critical: "));
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

// The daemon first, so that it ends in order while the feed and the bus are still there;
// the session ends the rest.
void PlatformSimulator::shutdown()
{
    mDaemonEndExpected = true;
    mSession.stopDaemon();
}

void PlatformSimulator::error(const QString &text)
{
    qWarning() << Q_FUNC_INFO << text;
    mSnapshot.errors.append(text);
}
