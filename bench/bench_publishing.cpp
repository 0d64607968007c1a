// SPDX-License-Identifier: BSD-3-Clause
// What the daemon's main job costs, each against its floor measured in the same run:
// publishing 20 new tweets against 20 bare addItem round trips to the same feed, and
// the removal of vanished tweets at 1,000, 10,000 and 100,000 cached rows.

#include "DaemonHarness.h"
#include "FeedItem.h"
#include "TwitterDouble.h"
#include "eventfeedinterface.h"

#include <algorithm>

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>

namespace {

QVariantMap tweet(qint64 id)
{
    return {{QStringLiteral("id"), QString::number(id)},
            {QStringLiteral("text"), QStringLiteral("A tweet of some length, as they come, with a link http://t.co/x")},
            {QStringLiteral("created_at"), QStringLiteral("Sun Dec 06 05:40:12 +0000 2026")},
            {QStringLiteral("user"), QVariantMap{{QStringLiteral("name"), QStringLiteral("Alice")},
                                                 {QStringLiteral("screen_name"), QStringLiteral("alice")}}}};
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

}

class BenchPublishing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void publishingAgainstItsFloor();
    void staleRemoval_data();
    void staleRemoval();

private:
    DaemonHarness mHarness;
    qint64 mNextId = 1335092000000000000;
};

void BenchPublishing::initTestCase()
{
    // As the daemon runs without --debug: its debug lines would be measured too.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QVERIFY(mHarness.start());
    TwitterDouble::setResponder(TwitterDouble::User, UserType::Avatar, [](const TwitterDouble::Request &) {
        TwitterDouble::Answer answer;
        answer.cached = {QStringLiteral("/avatars/alice.png")};
        return answer;
    });
    mHarness.goOnline();
    QTRY_VERIFY(mHarness.daemon().isLoggedIn());
}

// Rounds of the floor and of publishing taken in turns, and the median of each: this
// machine's speed drifts over seconds, which taken one after the other would measure.
void BenchPublishing::publishingAgainstItsFloor()
{
    ComHalvexHomeEventFeedInterface feed(QStringLiteral("com.halvex.home.EventFeed"), QStringLiteral("/eventfeed"),
                                         mHarness.bus().connection());
    const QVariantMap item = EventFeed::homeViewItem(tweet(1), QStringLiteral("/a.png"), {});
    mHarness.feed().control().reset().waitForFinished();
    mHarness.clearCache();
    QList<double> floor;
    QList<double> publish;
    QElapsedTimer clock;
    for (int round = 0; round < 61; ++round) {
        clock.start();
        for (int i = 0; i < 20; ++i)
            feed.addItem(item).waitForFinished();
        floor.append(clock.nsecsElapsed() / 1e6);

        QVariantList timeline;
        for (int i = 0; i < 20; ++i)
            timeline.append(tweet(mNextId++));
        TwitterDouble::Answer answer;
        answer.cached = timeline;
        TwitterDouble::enqueue(TwitterDouble::Timeline, TimelineType::HomeTimeline, answer);
        clock.start();
        // The cache path, as the bus call's republish runs it: the whole cycle inside the call.
        QMetaObject::invokeMethod(&mHarness.daemon(), "republishEventFeed");
        publish.append(clock.nsecsElapsed() / 1e6);
    }
    // Every round published all of its 20, each with its cache row.
    QCOMPARE(mHarness.cachedItems().size(), 61 * 20);
    const double floorMs = median(floor);
    const double publishMs = median(publish);
    qInfo("PUBLISH floor %.2f ms, twitter-ostra %.2f ms, ratio %.2f", floorMs, publishMs, publishMs / floorMs);
}

void BenchPublishing::staleRemoval_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("1,000 rows") << 1000;
    QTest::newRow("10,000 rows") << 10000;
    QTest::newRow("100,000 rows") << 100000;
}

void BenchPublishing::staleRemoval()
{
    QFETCH(int, rows);
    mHarness.clearCache();
    QSqlDatabase cache = mHarness.cache();
    cache.transaction();
    QSqlQuery insert(cache);
    insert.prepare(QStringLiteral("INSERT INTO items(twitter_id, homeview_id) VALUES (?, ?)"));
    const qint64 base = 1335000000000000000;
    for (int i = 0; i < rows; ++i) {
        insert.addBindValue(QString::number(base + qint64(i) * 1000));
        insert.addBindValue(i);
        insert.exec();
    }
    cache.commit();
    // A refresh's worth: the newest 20 of the cached tweets, all still listed.
    QVariantList fetched;
    for (int i = rows - 1; i >= rows - 20; --i)
        fetched.append(QVariantMap{{QStringLiteral("id"), QString::number(base + qint64(i) * 1000)}});
    QBENCHMARK {
        mHarness.daemon().removeStaleItems(TwitterDaemon::FetchedIds(fetched));
    }
}

QTEST_GUILESS_MAIN(BenchPublishing)
#include "bench_publishing.moc"
