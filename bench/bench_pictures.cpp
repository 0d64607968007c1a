// SPDX-License-Identifier: BSD-3-Clause
// How long the real daemon leaves a bus call waiting while pictures arrive: a call every
// 10 ms while a refresh publishes 20 new tweets, each with a photo and a picture link of
// 4096 x 4096 (20 JPEG, 20 PNG: 40 thumbnails), against the same calls while 20 new tweets
// without pictures are published.

#include "PlatformSession.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <QTimer>

namespace {

// Calls the daemon's social provider's metaData, a method its main loop answers, one at a
// time every 10 ms, and keeps the longest wait for an answer. (org.freedesktop.DBus.Peer's
// Ping would not do: libdbus answers it on QtDBus's own thread, whatever the loop does.)
class Pinger : public QObject
{
public:
    explicit Pinger(const QDBusConnection &connection)
        : mConnection(connection)
    {
        mTimer.setInterval(10);
        connect(&mTimer, &QTimer::timeout, this, &Pinger::ping);
        mTimer.start();
    }

    double longestMs() const { return mLongestNs / 1e6; }
    int answered() const { return mAnswered; }
    bool failed() const { return mFailed; }

private:
    void ping()
    {
        if (mWaiting)
            return;
        mWaiting = true;
        mClock.start();
        const QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("com.halvex.socialprovider.twitter"), QStringLiteral("/twitter"),
            QStringLiteral("com.halvex.socialprovider.runner"), QStringLiteral("metaData"));
        auto *watcher = new QDBusPendingCallWatcher(mConnection.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            mLongestNs = qMax(mLongestNs, mClock.nsecsElapsed());
            mFailed = mFailed || watcher->isError();
            ++mAnswered;
            mWaiting = false;
            watcher->deleteLater();
        });
    }

    QDBusConnection mConnection;
    QTimer mTimer;
    QElapsedTimer mClock;
    qint64 mLongestNs = 0;
    int mAnswered = 0;
    bool mWaiting = false;
    bool mFailed = false;
};

// The feed's items whose tweets are by this author, and how many of them carry `images`
// picture files.
struct Published
{
    int items = 0;
    int withImages = 0;
};

Published published(EventFeedProcess &feed, const QString &author, int images)
{
    Published counted;
    for (const QJsonValue &entry : feed.items()) {
        const QJsonObject item = entry[QStringLiteral("item")].toObject();
        if (!item.value(QStringLiteral("title")).toString().contains(author))
            continue;
        ++counted.items;
        int files = 0;
        for (const QJsonValue &image : item.value(QStringLiteral("imageList")).toArray())
            files += image.toString().isEmpty() ? 0 : 1;
        counted.withImages += files == images ? 1 : 0;
    }
    return counted;
}

}

class BenchPictures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void busWaitWhilePicturesArrive();

private:
    // Posts 20 tweets by author, with pictures or not, asks for a refresh and pings until
    // the 20 items are in the feed and one second more; false when they do not come.
    bool publish(PlatformSession &session, const QString &author, bool pictures, double *longestMs,
                 double *publishedMs);
};

bool BenchPictures::publish(PlatformSession &session, const QString &author, bool pictures, double *longestMs,
                            double *publishedMs)
{
    for (int i = 0; i < 20; ++i) {
        QJsonObject tweet = {{QStringLiteral("text"), QStringLiteral("picture %1").arg(i)},
                             {QStringLiteral("screen_name"), author}};
        if (pictures) {
            tweet.insert(QStringLiteral("media_url"), QStringLiteral("http://pbs.twimg.com/media/%1%2_huge.jpg").arg(author).arg(i));
            tweet.insert(QStringLiteral("link"), QStringLiteral("http://pictures.example/%1%2_huge.png").arg(author).arg(i));
        }
        if (!session.server().post(QStringLiteral("tweets"), tweet))
            return false;
    }
    Pinger pinger(session.bus().connection());
    QElapsedTimer clock;
    clock.start();
    session.feed().control().requestRefresh().waitForFinished();
    const int images = pictures ? 2 : 0;
    const bool done = QTest::qWaitFor(
        [&] {
            const Published now = published(session.feed(), author, images);
            return now.items == 20 && now.withImages == 20;
        },
        120000);
    *publishedMs = clock.nsecsElapsed() / 1e6;
    QTest::qWait(1000);
    *longestMs = pinger.longestMs();
    qInfo("%s: %d calls answered, the longest after %.1f ms; 20 items after %.0f ms", qPrintable(author),
          pinger.answered(), *longestMs, *publishedMs);
    return done && !pinger.failed();
}

void BenchPictures::busWaitWhilePicturesArrive()
{
    // The real daemon as the platform runs it (without --debug), after its first refresh.
    PlatformSession session;
    QVERIFY(session.start() && session.startDaemon({}) && session.waitForLogin() && session.waitForItems(20));
    double floor = 0;
    double floorPublished = 0;
    QVERIFY(publish(session, QStringLiteral("plainposter"), false, &floor, &floorPublished));
    double measured = 0;
    double measuredPublished = 0;
    QVERIFY(publish(session, QStringLiteral("pictureposter"), true, &measured, &measuredPublished));
    qInfo("PICTURES_BUS_WAIT floor %.1f ms, pictures %.1f ms, published %.0f ms against %.0f ms", floor, measured,
          measuredPublished, floorPublished);
}

QTEST_GUILESS_MAIN(BenchPictures)
#include "bench_pictures.moc"
