// SPDX-License-Identifier: BSD-3-Clause
// ostra-interleaving: drives the real daemon, the reference feed and the fake API server
// through a seeded random sequence of events (service changes, faults, settings, bus
// calls, restarts and kills) and checks, whenever everything has been still after the
// faults were cleared, that nothing was lost, shown twice or left waiting.
//
//   ostra-interleaving --seed N --steps M [--run-dir DIR]
//
// The same seed replays the same schedule. Exit status 0 without violation, 1 with one
// (the step, the events since the last quiet point and the broken state are printed and
// the run folder is kept), 2 when the session cannot be started.

#include "FeedItems.h"
#include "Fixtures.h"
#include "PlatformSession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>

namespace {

const QString Mentions = QStringLiteral("mentions.service.twitter");
const QString Messages = QStringLiteral("messages.service.twitter");
const QString HomeTimeline = QStringLiteral("/1.1/statuses/home_timeline.json");
const QString MentionsTimeline = QStringLiteral("/1.1/statuses/mentions_timeline.json");
const QString DirectMessages = QStringLiteral("/1.1/direct_messages.json");
// Authors whose mentions carry no "following": one always followed, one never.
const QString Friend = QStringLiteral("fran_friend");
const QString Stranger = QStringLiteral("mallory");
const QStringList Others = {QStringLiteral("gus"), QStringLiteral("hana"), QStringLiteral("ivo")};
// The service's rate limits with a window of seconds, and a following in pages of one
// that a window does not hold: every friends fetch waits for a reset.
const int RateWindowSeconds = 3;
const int FriendsPageSize = 1;
const int Fillers = 18;
const QStringList Endpoints = {QStringLiteral("statuses/home_timeline.json"), QStringLiteral("statuses/mentions_timeline.json"),
                               QStringLiteral("direct_messages.json"), QStringLiteral("friends/list.json"),
                               QStringLiteral("users/show.json"), QStringLiteral("account/verify_credentials.json"),
                               QStringLiteral("help/configuration.json"), QStringLiteral("pictures")};

quint64 idNumber(const QString &id)
{
    return id.toULongLong();
}

// A mention or message on the service, and what the user must see of it.
struct Notice
{
    QString id;
    QString eventType;
    QString author;
    QString following; // "true", "false" or empty: not given
    enum { Pending, Shown, Hidden } fate = Pending;
    // Pending when the user or the application spoke while work was on its way: the
    // daemon may have decided it either way.
    bool uncertain = false;
};

class InterleavingRun
{
public:
    InterleavingRun(quint32 seed, int steps, const QString &runDir)
        : mRandom(seed), mSteps(steps), mSession(runDir), mRunDir(runDir)
    {
        mSession.setRateWindowSeconds(RateWindowSeconds);
    }

    int run();

private:
    using Event = std::function<void()>;

    bool setUp();
    void step();
    int pick(int below) { return int(mRandom.bounded(below)); }
    bool chance(int percent) { return pick(100) < percent; }
    void note(const QString &text) { mHistory.append(QStringLiteral("%1: %2").arg(mStep).arg(text)); }
    void violation(const QString &text);

    // The service moves on.
    void postTweet();
    void deleteTweet();
    void postNotice(const QString &eventType);
    void changeFriends();
    void postFriends();
    // The daemon away while more news than a page comes.
    void offlineGap();
    // Faults, cleared at the next quiet point.
    void serviceFault();
    void feedFault();
    void loginTrouble();
    // The user and the Twitter application, after a quiet point or while work is on its
    // way; what was pending then may be decided either way.
    void switchPreference();
    void callDaemon();
    void quietPointOrInFlight();
    void tearAccountFile();
    void restart(bool kill);

    void quietPoint();
    bool settle();
    bool waitOutWindows();
    void checkContacts();
    void decideNotices();
    void checkTimeline();
    void checkNotices();
    void checkCache();
    void checkAnswers();
    void checkInvariants();
    int shownCount(const QString &eventType) { return mSession.group(eventType).value(QStringLiteral("count")).toInt(); }
    void sampleMemory();
    void writeAccount(const QVariantMap &values, bool inPlace);
    bool mentionsOn() const { return mPreferences.value(QStringLiteral("tw-notif-main")) && mPreferences.value(QStringLiteral("tw-notif-mention")); }
    bool messagesOn() const { return mPreferences.value(QStringLiteral("tw-notif-main")) && mPreferences.value(QStringLiteral("tw-notif-msg")); }
    int expected(const QString &eventType, bool atMost) const;
    int pendingNotices() const
    {
        return int(std::count_if(mNotices.cbegin(), mNotices.cend(), [](const Notice &n) { return n.fate == Notice::Pending; }));
    }
    void countDuplicates(const QString &id, int count);

    QRandomGenerator mRandom;
    int mSteps;
    PlatformSession mSession;
    QString mRunDir;
    int mStep = 0;
    QStringList mHistory;
    QStringList mTimeline;  // our tweets on the service, oldest first
    QStringList mDeleted;
    QSet<QString> mIdless; // posted without "id": not the daemon's to publish
    QList<Notice> mNotices;
    QStringList mFriends{Friend};
    bool mNamelessFriend = false; // a friend without "screen_name" on the service
    bool mImportWanted = false; // friends changed since the contacts last had them
    QMap<QString, bool> mPreferences{{QStringLiteral("tw-notif-main"), true}, {QStringLiteral("tw-notif-msg"), true},
                                     {QStringLiteral("tw-notif-mention"), true}, {QStringLiteral("tw-notif-followed"), false}};
    int mRestarts = 0;
    int mKills = 0;
    int mDuplicates = 0;
    QHash<QString, int> mDuplicated;
    int mViolations = 0;
    int mQuietPoints = 0;
    bool mLoginError = false;
    bool mFeedLate = false;
    bool mLateAnswers = false; // some may still be on their way when the faults are cleared
    // Suspended by the application: what each group counted then, until a refresh ends it.
    QMap<QString, int> mSilentCounts;
    QList<qint64> mMemory;
};

int InterleavingRun::run()
{
    if (!setUp()) {
        qCritical() << Q_FUNC_INFO << "cannot start the session";
        return 2;
    }
    for (mStep = 1; mStep <= mSteps && mViolations == 0; ++mStep) {
        step();
        checkAnswers();
        checkInvariants();
        if (mStep % 100 == 0)
            sampleMemory();
    }
    if (mViolations == 0)
        quietPoint();
    QTextStream(stdout) << "steps " << mSteps << " quiet-points " << mQuietPoints << " restarts " << mRestarts
                        << " kills " << mKills << " duplicates-after-kills " << mDuplicates << " violations "
                        << mViolations << " private-dirty-kB " << (mMemory.isEmpty() ? 0 : mMemory.last()) << Qt::endl;
    return mViolations == 0 ? 0 : 1;
}

// Only our own tweets on the timeline, so that the model knows its order; last-seen ids
// past every fixture, so that only our mentions and messages count.
bool InterleavingRun::setUp()
{
    if (!mSession.start())
        return false;
    for (const QVariant &tweet : Fixtures::homeTimeline())
        mSession.server().post(QStringLiteral("tweets/delete"), {{QStringLiteral("id_str"), tweet.toMap().value(QStringLiteral("id")).toString()}});
    const QString probe = mSession.postTweet(QStringLiteral("probe"));
    mSession.server().post(QStringLiteral("tweets/delete"), {{QStringLiteral("id_str"), probe}});
    mSession.storeLastSeenIds(probe);
    postFriends();
    return !probe.isEmpty() && mSession.startDaemon() && mSession.waitForLogin();
}

void InterleavingRun::step()
{
    const QList<QPair<int, Event>> events = {
        {14, [this] {
             note(QStringLiteral("feed asks for a refresh"));
             mSession.feed().control().requestRefresh();
             mSilentCounts.clear();
         }},
        {4, [this] {
             note(QStringLiteral("refreshEventFeed on the bus"));
             mSession.bus().connection().asyncCall(QDBusMessage::createMethodCall(
                 QStringLiteral("com.halvex.twitterostra"), QStringLiteral("/twitterostra"),
                 QStringLiteral("com.halvex.twitterostra"), QStringLiteral("refreshEventFeed")));
         }},
        {14, [this] { postTweet(); }},
        {4, [this] { deleteTweet(); }},
        {8, [this] { postNotice(Mentions); }},
        {6, [this] { postNotice(Messages); }},
        {2, [this] { changeFriends(); }},
        {1, [this] { offlineGap(); }},
        {7, [this] { serviceFault(); }},
        {3, [this] { feedFault(); }},
        {3, [this] { loginTrouble(); }},
        {4, [this] { switchPreference(); }},
        {4, [this] { callDaemon(); }},
        {2, [this] { tearAccountFile(); }},
        {2, [this] { restart(false); }},
        {2, [this] { restart(true); }},
        {6, [this] { quietPoint(); }},
    };
    int total = 0;
    for (const auto &event : events)
        total += event.first;
    int drawn = pick(total);
    for (const auto &event : events) {
        if ((drawn -= event.first) < 0) {
            event.second();
            break;
        }
    }
    // Some time for what the event set going, so that the next one meets it under way.
    mSession.waitFor([] { return false; }, pick(300));
}

// Plain, with a picture, with a link, or odd: without "id", by an author without a name
// or with an avatar address that is empty or not http, with a picture address not http.
void InterleavingRun::postTweet()
{
    const int kind = pick(8);
    QJsonObject body{{QStringLiteral("text"), QStringLiteral("step %1").arg(mStep)},
                     {QStringLiteral("screen_name"), Others.at(pick(Others.size()))}};
    if (kind == 1)
        body.insert(QStringLiteral("media_url"), QStringLiteral("http://pbs.twimg.com/media/run-%1.jpg").arg(mStep));
    else if (kind == 2)
        body.insert(QStringLiteral("text"), QStringLiteral("step %1 http://twitpic.com/run%1").arg(mStep));
    else if (kind == 3 || kind == 4)
        body.insert(QStringLiteral("omit"), QJsonArray{kind == 3 ? QStringLiteral("id") : QStringLiteral("name")});
    else if (kind == 5)
        body.insert(QStringLiteral("profile_image_url"), chance(50) ? QString() : QStringLiteral("ftp://pbs.twimg.com/run.png"));
    else if (kind == 6)
        body.insert(QStringLiteral("media_url"), QStringLiteral("ftp://pbs.twimg.com/media/run-%1.jpg").arg(mStep));
    if (!mSession.server().post(QStringLiteral("tweets"), body))
        return;
    const QString id = mSession.server().lastAnswer().value(QStringLiteral("id_str")).toString();
    mTimeline.append(id);
    if (kind == 3)
        mIdless.insert(id);
    note(QStringLiteral("tweet %1 %2").arg(id, QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact))));
}

// Within the newest 20 or below them.
void InterleavingRun::deleteTweet()
{
    if (mTimeline.isEmpty())
        return;
    const int index = chance(70) ? qMax(0, mTimeline.size() - 1 - pick(20)) : pick(mTimeline.size());
    const QString id = mTimeline.takeAt(index);
    mSession.server().post(QStringLiteral("tweets/delete"), {{QStringLiteral("id_str"), id}});
    mDeleted.append(id);
    note(QStringLiteral("tweet %1 deleted").arg(id));
}

void InterleavingRun::postNotice(const QString &eventType)
{
    // A poll pages back up to ten pages (1,820 items); mentions wait while their kind is
    // off, so a quiet point may not bring them down.
    if (pendingNotices() >= 100)
        quietPoint();
    if (pendingNotices() >= 100)
        return;
    Notice notice{QString(), eventType, QString(), QString()};
    QJsonObject body{{QStringLiteral("text"), QStringLiteral("@AliceInData step %1").arg(mStep)}};
    if (eventType == Mentions) {
        const int kind = pick(4);
        notice.author = kind == 0 ? Friend : kind == 1 ? Stranger : Others.at(pick(Others.size()));
        if (kind >= 2)
            notice.following = kind == 2 ? QStringLiteral("true") : QStringLiteral("false");
        body.insert(QStringLiteral("following"), kind >= 2 ? QJsonValue(kind == 2) : QJsonValue(QJsonValue::Null));
    } else {
        notice.author = Others.at(pick(Others.size()));
    }
    body.insert(QStringLiteral("screen_name"), notice.author);
    if (!mSession.server().post(eventType == Mentions ? QStringLiteral("mentions") : QStringLiteral("messages"), body))
        return;
    notice.id = mSession.server().lastAnswer().value(QStringLiteral("id_str")).toString();
    mNotices.append(notice);
    note(QStringLiteral("%1 %2 by %3 following=%4").arg(eventType == Mentions ? "mention" : "message", notice.id, notice.author,
                                                        notice.following));
}

// The friend who mentions without "following" stays followed, the stranger never is.
void InterleavingRun::changeFriends()
{
    mFriends = QStringList{Friend};
    for (const QString &other : Others) {
        if (chance(50))
            mFriends.append(other);
    }
    mNamelessFriend = chance(30);
    postFriends();
    mImportWanted = true;
    note(QStringLiteral("friends now ") + mFriends.join(QLatin1Char(',')) + (mNamelessFriend ? QStringLiteral(" and one without a screen name") : QString()));
}

void InterleavingRun::postFriends()
{
    QStringList following = mFriends;
    for (int i = 0; i < Fillers; ++i)
        following.append(QStringLiteral("filler%1").arg(i));
    QJsonArray users = QJsonArray::fromStringList(following);
    if (mNamelessFriend)
        users.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("Nameless")}});
    mSession.server().post(QStringLiteral("friends"), {{QStringLiteral("users"), users}, {QStringLiteral("page_size"), FriendsPageSize}});
}

void InterleavingRun::offlineGap()
{
    // Room for all of them below the pending notices' bound, with the daemon running.
    if (pendingNotices() > 40)
        quietPoint();
    const int count = qMin(21 + pick(30), 99 - pendingNotices());
    if (count <= 20)
        return;
    if (!mSession.stopDaemon())
        violation(QStringLiteral("the daemon did not end with status 0 on SIGTERM"));
    const QString eventType = chance(50) ? Mentions : Messages;
    note(QStringLiteral("daemon away for %1 of %2").arg(count).arg(eventType));
    for (int i = 0; i < count; ++i)
        postNotice(eventType);
    ++mRestarts;
    mSilentCounts.clear();
    if (!mSession.startDaemon())
        violation(QStringLiteral("the daemon did not come back on the bus"));
}

void InterleavingRun::serviceFault()
{
    QJsonObject fault{{QStringLiteral("target"), Endpoints.at(pick(Endpoints.size()))}, {QStringLiteral("times"), 1 + pick(3)}};
    switch (pick(4)) {
    case 0: fault.insert(QStringLiteral("status"), 500); break;
    case 1:
        fault.insert(QStringLiteral("status"), 429);
        fault.insert(QStringLiteral("reset"), QDateTime::currentSecsSinceEpoch() + 1 + pick(4));
        break;
    case 2: fault.insert(QStringLiteral("malformed"), true); break;
    default:
        fault.insert(QStringLiteral("delay_ms"), 200 + pick(2800));
        mLateAnswers = true;
        break;
    }
    mSession.server().post(QStringLiteral("faults"), fault);
    note(QStringLiteral("service fault ") + QString::fromUtf8(QJsonDocument(fault).toJson(QJsonDocument::Compact)));
}

void InterleavingRun::feedFault()
{
    const int kind = pick(3);
    mFeedLate = mFeedLate || kind == 2;
    if (kind == 2)
        mSession.feed().control().setReplyDelay(200 + pick(1500));
    else
        mSession.feed().control().setAddItemAnswer(kind == 0 ? QStringLiteral("minus-one") : QStringLiteral("error"));
    note(QStringLiteral("feed fault ") + QString::number(kind));
}

void InterleavingRun::loginTrouble()
{
    mSilentCounts.clear(); // a new login may refresh, which ends the silence
    switch (pick(3)) {
    case 0:
        mSession.server().post(QStringLiteral("faults"), {{QStringLiteral("target"), QStringLiteral("*")}, {QStringLiteral("status"), 401}});
        note(QStringLiteral("one request answered 401"));
        break;
    case 1:
        mSession.server().post(QStringLiteral("clock"), {{QStringLiteral("offset_seconds"), chance(50) ? 400 : -400}});
        note(QStringLiteral("server clock off by 400 s"));
        break;
    default: {
        const int type = QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16}.at(pick(11));
        mLoginError = true;
        writeAccount({{QStringLiteral("account/login_error_type"), type},
                      {QStringLiteral("account/login_error_text"), QStringLiteral("trouble")}}, chance(50));
        note(QStringLiteral("login error %1 in the account file").arg(type));
    }
    }
}

// Half the time after a quiet point, so that what is on its way is decided under the
// settings it arrived with; else while it is on its way.
void InterleavingRun::quietPointOrInFlight()
{
    if (chance(50)) {
        quietPoint();
        return;
    }
    note(QStringLiteral("while work is on its way:"));
    for (Notice &notice : mNotices)
        notice.uncertain = notice.uncertain || notice.fate == Notice::Pending;
}

void InterleavingRun::switchPreference()
{
    quietPointOrInFlight();
    const QString key = mPreferences.keys().at(pick(mPreferences.size()));
    const bool mentionsWere = mentionsOn();
    const bool messagesWere = messagesOn();
    mPreferences[key] = !mPreferences.value(key);
    // A kind switched off withdraws what it shows.
    if (mentionsWere && !mentionsOn())
        for (Notice &notice : mNotices)
            notice.fate = notice.eventType == Mentions && notice.fate == Notice::Shown ? Notice::Hidden : notice.fate;
    if (messagesWere && !messagesOn())
        for (Notice &notice : mNotices)
            notice.fate = notice.eventType == Messages && notice.fate == Notice::Shown ? Notice::Hidden : notice.fate;
    const bool inPlace = chance(50);
    writeAccount({{QStringLiteral("settings/") + key, mPreferences.value(key)}}, inPlace);
    note(QStringLiteral("%1 switched to %2 %3").arg(key).arg(mPreferences.value(key)).arg(inPlace ? "in place" : "by rename"));
    // Withdrawn once the daemon has taken the file.
    for (const QString &eventType : {Mentions, Messages}) {
        if (!(eventType == Mentions ? mentionsOn() : messagesOn()) && !mSession.waitFor([&] { return shownCount(eventType) == 0; }, 2000))
            violation(eventType + QStringLiteral(" still shown 2 s after their kind was switched off"));
    }
}

// An account file caught half written, cut at any byte, and whole again within a second:
// neither the account nor a setting may go meanwhile (the next quiet point counts).
void InterleavingRun::tearAccountFile()
{
    const QString path = mSession.environment().accountFile();
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return;
    const QByteArray whole = file.readAll();
    const int cut = pick(int(whole.size()) + 1);
    file.resize(cut);
    file.close();
    note(QStringLiteral("account file cut at byte %1 of %2").arg(cut).arg(whole.size()));
    mSession.waitFor([] { return false; }, pick(1000));
    QFile restored(path);
    if (restored.open(QIODevice::WriteOnly | QIODevice::Truncate))
        restored.write(whole);
}

void InterleavingRun::callDaemon()
{
    quietPointOrInFlight();
    QString method = QStringList{QStringLiteral("suspendNotifications"), QStringLiteral("clearMentionNotifications"),
                                 QStringLiteral("clearMessageNotifications"), QStringLiteral("updateLastId")}
                         .at(pick(4));
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("com.halvex.twitterostra"), QStringLiteral("/twitterostra"),
                                                       QStringLiteral("com.halvex.twitterostra"), method);
    if (method == QLatin1String("suspendNotifications")) {
        // The Twitter application never runs here, so the next refresh ends the silence
        // before it polls.
        call << chance(70);
    } else if (method == QLatin1String("updateLastId") && chance(30)) {
        // An id the service has not made yet (the largest, or one of tomorrow's): refused,
        // nothing is marked seen.
        const quint64 tomorrow = quint64(QDateTime::currentMSecsSinceEpoch() + 86400000 - 1288834974657) << 22;
        const QString id = chance(50) ? QStringLiteral("18446744073709551615") : QString::number(tomorrow);
        call << id;
        method += QStringLiteral(" from the future ") + id;
    } else if (method == QLatin1String("updateLastId")) {
        const QString id = mNotices.isEmpty() ? QStringLiteral("1") : mNotices.at(pick(mNotices.size())).id;
        call << id;
        method += QLatin1Char(' ') + id;
        for (Notice &notice : mNotices)
            notice.fate = notice.fate == Notice::Pending && idNumber(notice.id) <= idNumber(id) ? Notice::Hidden : notice.fate;
    } else {
        const QString eventType = method.startsWith(QLatin1String("clearMention")) ? Mentions : Messages;
        for (Notice &notice : mNotices)
            notice.fate = notice.eventType == eventType && notice.fate == Notice::Shown ? Notice::Hidden : notice.fate;
    }
    // While the feed answers late the daemon waits for it at each item it adds.
    const QDBusMessage answer = mSession.bus().connection().call(call, QDBus::Block, mFeedLate ? 30000 : 1000);
    if (answer.type() == QDBusMessage::ErrorMessage)
        violation(method + QStringLiteral(" answered ") + answer.errorMessage());
    note(method);
    if (method == QLatin1String("suspendNotifications") && call.arguments().first().toBool()) {
        for (const QString &eventType : {Mentions, Messages})
            mSilentCounts.insert(eventType, shownCount(eventType));
    }
}

void InterleavingRun::restart(bool kill)
{
    if (kill) {
        mSession.daemon().kill();
        mSession.daemon().waitForFinished(5000);
        ++mKills;
    } else if (!mSession.stopDaemon()) {
        violation(QStringLiteral("the daemon did not end with status 0 on SIGTERM"));
    }
    ++mRestarts;
    mSilentCounts.clear();
    note(kill ? QStringLiteral("SIGKILL and restart") : QStringLiteral("SIGTERM and restart"));
    if (!mSession.startDaemon())
        violation(QStringLiteral("the daemon did not come back on the bus"));
}

void InterleavingRun::quietPoint()
{
    ++mQuietPoints;
    mSilentCounts.clear();
    note(QStringLiteral("quiet point"));
    if (!settle()) {
        violation(QStringLiteral("no refresh went through within 60 s of the faults being cleared"));
        return;
    }
    decideNotices();
    checkTimeline();
    checkNotices();
    checkCache();
    checkContacts();
    if (mViolations == 0)
        mHistory.clear();
}

// Faults cleared, a refresh whose timeline and polls the service answered, then still.
bool InterleavingRun::settle()
{
    FakeApiProcess &server = mSession.server();
    server.post(QStringLiteral("faults/clear"));
    server.post(QStringLiteral("clock"), {{QStringLiteral("offset_seconds"), 0}});
    mSession.feed().control().setAddItemAnswer(QStringLiteral("id"));
    mSession.feed().control().setReplyDelay(0);
    mFeedLate = false;
    if (mLoginError)
        writeAccount({{QStringLiteral("account/login_error_type"), QVariant()}}, false);
    mLoginError = false;
    if (mSession.daemon().state() == QProcess::NotRunning) {
        violation(QStringLiteral("the daemon ended by itself with status %1").arg(mSession.daemon().exitCode()));
        return false;
    }
    // Answers held back before the clear come within 3 s; the log shows them only then.
    if (mLateAnswers)
        mSession.waitFor([] { return false; }, 3100);
    mLateAnswers = false;
    mSession.waitUntilStill(5000);
    server.post(QStringLiteral("requests/clear"));
    const auto answered = [&] {
        QSet<QString> paths;
        for (const QJsonValue &request : server.requests()) {
            if (request[QStringLiteral("status")].toInt() == 200)
                paths.insert(request[QStringLiteral("path")].toString());
        }
        return paths.contains(HomeTimeline) && paths.contains(MentionsTimeline) && paths.contains(DirectMessages);
    };
    return mSession.waitFor(
               [&] {
                   mSession.feed().control().requestRefresh().waitForFinished();
                   return mSession.waitFor(answered, 3000);
               },
               60000)
        && mSession.waitUntilStill(20000) && waitOutWindows();
}

// What the daemon holds for a spent window (a friends fetch of more pages than a window
// allows, a poll paging back) goes on at the reset, read in whole seconds: up to a second
// after it. Still means still after every such reset.
bool InterleavingRun::waitOutWindows()
{
    for (int round = 0; round < 20; ++round) {
        const qint64 spentUntil = qint64(mSession.server().state().value(QStringLiteral("spent_until")).toDouble());
        const qint64 wait = (spentUntil + 1) * 1000 + 300 - QDateTime::currentMSecsSinceEpoch();
        if (wait <= 0)
            return true;
        mSession.waitFor([] { return false; }, int(wait));
        if (!mSession.waitUntilStill(20000))
            return false;
    }
    return false;
}

// The contacts take the friends as they are once an import has run under no faults: the
// user switches the contacts off and on, and the import may span several windows.
void InterleavingRun::checkContacts()
{
    if (!mImportWanted || mViolations > 0)
        return;
    mImportWanted = false;
    const QString stateFile = mSession.environment().configHome() + QStringLiteral("/Halvex/Rosterd.ini");
    const auto importState = [&] { return QSettings(stateFile, QSettings::IniFormat).value(QStringLiteral("twitter:AliceInData")).toInt(); };
    // Apart by more than the daemon's 50 ms settling of an account file edit.
    writeAccount({{QStringLiteral("services/contacts"), false}}, false);
    mSession.waitFor([] { return false; }, 300);
    writeAccount({{QStringLiteral("services/contacts"), true}}, false);
    QStringList expected;
    for (const QString &name : qAsConst(mFriends))
        expected.append(QLatin1Char('@') + name);
    for (int i = 0; i < Fillers; ++i)
        expected.append(QStringLiteral("@filler%1").arg(i));
    expected.sort();
    if (!mSession.waitFor([&] { return importState() == 2 && mSession.requestPersons() == expected; }, 60000))
        violation(QStringLiteral("the contacts are %1 (import state %2), not the %3 friends")
                      .arg(mSession.requestPersons().join(QLatin1Char(','))).arg(importState()).arg(expected.size()));
}

// What the poll of this quiet point did with what was waiting, as the daemon's rules say.
void InterleavingRun::decideNotices()
{
    const bool followedOnly = mentionsOn() && mPreferences.value(QStringLiteral("tw-notif-followed"));
    for (Notice &notice : mNotices) {
        if (notice.fate != Notice::Pending)
            continue;
        if (notice.eventType == Messages) {
            notice.fate = messagesOn() ? Notice::Shown : Notice::Hidden;
        } else if (mentionsOn()) {
            const bool followed = notice.following.isEmpty() ? mFriends.contains(notice.author) : notice.following == QLatin1String("true");
            notice.fate = !followedOnly || followed ? Notice::Shown : Notice::Hidden;
        } // Mentions while their kind is off wait for it to be on again.
    }
}

// The tweet being posted at a kill may stand twice: counted once per tweet, a violation
// only beyond the number of kills.
void InterleavingRun::countDuplicates(const QString &id, int count)
{
    if (count - 1 <= mDuplicated.value(id))
        return;
    mDuplicates += count - 1 - mDuplicated.value(id);
    mDuplicated[id] = count - 1;
    if (mDuplicates > mKills)
        violation(QStringLiteral("tweet %1 stands %2 times in the feed%3").arg(id).arg(count)
                      .arg(mDeleted.contains(id) ? QStringLiteral(" after its deletion") : QString()));
}

// What the rules show of a kind: at least the notices decided for sure, at most those
// with the uncertain ones the daemon may have shown.
int InterleavingRun::expected(const QString &eventType, bool atMost) const
{
    return int(std::count_if(mNotices.cbegin(), mNotices.cend(), [&](const Notice &notice) {
        if (notice.eventType != eventType)
            return false;
        if (notice.uncertain)
            return atMost && notice.fate != Notice::Pending;
        return notice.fate == Notice::Shown;
    }));
}

void InterleavingRun::checkTimeline()
{
    const QStringList newest = mTimeline.mid(qMax(0, mTimeline.size() - 20));
    const QStringList items = mSession.itemTweetIds();
    for (const QString &id : newest) {
        const int count = items.count(id);
        if (mIdless.contains(id))
            continue;
        if (count == 0)
            violation(QStringLiteral("tweet %1 of the newest 20 is not in the feed").arg(id));
        else
            countDuplicates(id, count);
    }
    // The daemon withdraws what is newer than the oldest tweet it fetched and missing (it
    // leaves out tweets without an id); an item posted at a kill, which has no cache row, stays.
    const auto oldest = std::find_if(newest.cbegin(), newest.cend(), [this](const QString &id) { return !mIdless.contains(id); });
    for (const QString &id : qAsConst(mDeleted)) {
        if (oldest != newest.cend() && idNumber(id) > idNumber(*oldest))
            countDuplicates(id, items.count(id) + 1);
    }
    QStringList cached;
    mSession.readCache([&](QSqlDatabase &db) {
        QSqlQuery query(QStringLiteral("SELECT twitter_id FROM items"), db);
        while (query.next())
            cached.append(query.value(0).toString());
    });
    for (const QString &id : newest) {
        if (!cached.contains(id) && !mIdless.contains(id))
            violation(QStringLiteral("tweet %1 has no cache row").arg(id));
    }
}

void InterleavingRun::checkNotices()
{
    for (const QString &eventType : {Mentions, Messages}) {
        const int shown = shownCount(eventType);
        if (shown < expected(eventType, false) || shown > expected(eventType, true))
            violation(QStringLiteral("%1: %2 counted, %3 to %4 expected")
                          .arg(eventType).arg(shown).arg(expected(eventType, false)).arg(expected(eventType, true)));
        // The older notifications fold into one: at most it and the newest, counting what
        // the group counts.
        int notifications = 0;
        int counted = 0;
        for (const QJsonObject &entry : mSession.storeEntries(QStringLiteral("notification"))) {
            if (entry.value(QStringLiteral("eventType")).toString() == eventType) {
                ++notifications;
                counted += entry.value(QStringLiteral("count")).toInt();
            }
        }
        if (notifications > 2 || counted != shown)
            violation(QStringLiteral("%1: %2 notifications counting %3, the group %4").arg(eventType).arg(notifications).arg(counted).arg(shown));
    }
}

// After every step: the daemon runs, nothing of a kind is shown while it is off, and
// nothing new while the application keeps notifications suspended.
void InterleavingRun::checkInvariants()
{
    if (mSession.daemon().state() == QProcess::NotRunning) {
        violation(QStringLiteral("the daemon ended by itself with status %1").arg(mSession.daemon().exitCode()));
        return;
    }
    for (const QString &eventType : {Mentions, Messages}) {
        const int shown = shownCount(eventType);
        if (shown > 0 && !(eventType == Mentions ? mentionsOn() : messagesOn()))
            violation(QStringLiteral("%1: %2 shown while their kind is off").arg(eventType).arg(shown));
        if (mSilentCounts.contains(eventType) && shown > mSilentCounts.value(eventType))
            violation(QStringLiteral("%1: %2 shown while suspended, %3 before").arg(eventType).arg(shown).arg(mSilentCounts.value(eventType)));
    }
}

void InterleavingRun::checkCache()
{
    QString result;
    mSession.readCache([&](QSqlDatabase &db) {
        QSqlQuery query(QStringLiteral("PRAGMA integrity_check"), db);
        result = query.next() ? query.value(0).toString() : QStringLiteral("no answer");
    });
    if (result != QLatin1String("ok"))
        violation(QStringLiteral("integrity_check: ") + result);
}

// The daemon answers a bus call within a second whenever it runs, but while the feed
// answers late: it waits for the feed's answer to each item it adds. The call is one its
// main loop answers (Peer.Ping is answered on QtDBus's own thread) and that changes
// nothing: an id older than any stored.
void InterleavingRun::checkAnswers()
{
    if (mSession.daemon().state() != QProcess::Running || mFeedLate)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("com.halvex.twitterostra"), QStringLiteral("/twitterostra"),
                                                       QStringLiteral("com.halvex.twitterostra"), QStringLiteral("updateLastId"));
    call << QStringLiteral("1");
    const QDBusMessage answer = mSession.bus().connection().call(call, QDBus::Block, 1000);
    if (answer.type() == QDBusMessage::ErrorMessage && answer.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
        violation(QStringLiteral("the daemon did not answer a bus call within 1 s"));
}

// Private dirty memory, which only this process pays for; it must not keep growing.
void InterleavingRun::sampleMemory()
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(mSession.daemon().processId()));
    if (!rollup.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : rollup.readAll().split('\n')) {
        if (line.startsWith("Private_Dirty:"))
            mMemory.append(line.mid(14).trimmed().split(' ').first().toLongLong());
    }
    if (mMemory.size() > 2 && mMemory.last() > qMax(3 * mMemory.at(1), mMemory.at(1) + 8192))
        violation(QStringLiteral("private dirty memory grew from %1 kB to %2 kB").arg(mMemory.at(1)).arg(mMemory.last()));
}

// By rename as QSettings writes, or in place as an editor may, truncating first.
void InterleavingRun::writeAccount(const QVariantMap &values, bool inPlace)
{
    TestEnvironment &environment = mSession.environment();
    const QString copy = environment.root() + QStringLiteral("/account-copy.conf");
    QFile::remove(copy);
    QFile::copy(environment.accountFile(), copy);
    {
        QSettings settings(inPlace ? copy : environment.accountFile(), QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            if (it.value().isValid())
                settings.setValue(it.key(), it.value());
            else
                settings.remove(it.key());
        }
    }
    QFile from(copy);
    QFile to(environment.accountFile());
    if (inPlace && from.open(QIODevice::ReadOnly) && to.open(QIODevice::ReadWrite | QIODevice::Truncate))
        to.write(from.readAll());
}

void InterleavingRun::violation(const QString &text)
{
    if (mViolations++ > 0)
        return;
    QTextStream out(stdout);
    out << "VIOLATION at step " << mStep << ": " << text << "\nEvents since the last quiet point:\n";
    for (const QString &line : qAsConst(mHistory))
        out << "  " << line << '\n';
    out << "Feed: " << mSession.itemTweetIds().join(QLatin1Char(' ')) << "\nTimeline (oldest first): "
        << mTimeline.join(QLatin1Char(' ')) << "\nRun folder: " << mSession.environment().root() << Qt::endl;
}

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("The schedule's seed."), QStringLiteral("n"));
    const QCommandLineOption steps(QStringLiteral("steps"), QStringLiteral("Events to play."), QStringLiteral("n"), QStringLiteral("200"));
    const QCommandLineOption runDir(QStringLiteral("run-dir"), QStringLiteral("Folder for the run (default: a new temporary one)."),
                                    QStringLiteral("dir"));
    parser.addOptions({seed, steps, runDir});
    parser.process(app);
    const quint32 seedValue = parser.isSet(seed) ? parser.value(seed).toUInt() : QRandomGenerator::global()->generate();
    QTextStream(stdout) << "seed " << seedValue << Qt::endl;
    QTemporaryDir temporary(QDir::tempPath() + QStringLiteral("/ostra-interleaving-XXXXXX"));
    temporary.setAutoRemove(false);
    const QString dir = parser.isSet(runDir) ? parser.value(runDir) : temporary.path();
    const int status = InterleavingRun(seedValue, parser.value(steps).toInt(), dir).run();
    // The folder is kept only for a run that found something.
    if (status == 0 && !parser.isSet(runDir))
        QDir(dir).removeRecursively();
    return status;
}
