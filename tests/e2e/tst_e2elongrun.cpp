// SPDX-License-Identifier: BSD-3-Clause
// A long run against a moving timeline, all real processes: each cycle a new tweet comes
// and one of the last few is deleted on the service, and a refresh must leave the feed
// holding exactly the tweets it published that the service still lists, each once, with
// a cache row for each item. The
// daemon's resident memory is sampled on the way and must stay flat.
//
// LONGRUN_CYCLES sets the number of cycles (default 1000).

#include "SessionTestCase.h"
#include "FeedItems.h"
#include "Fixtures.h"

#include <QFile>
#include <QJsonArray>
#include <QTest>

#include <algorithm>

namespace {

const int DefaultCycles = 1000;
// Memory is compared from this cycle on, once caches and pools have reached their size.
const int WarmUpCycles = 100;
const int SampleEvery = 100;
// The posted tweets the service keeps listing; each cycle beyond them deletes one.
const int MaxPostedListed = 4;
// The service lists the first of the sample timeline's tweets, and those posted, all in
// one page, so that every tweet it lists is fetched. (The sample's older tweets are not
// in newest-first order, which a page boundary moving over them would not survive.)
const int SampleTweetsListed = 16;
// A leak of one timeline answer per cycle would grow by megabytes per 100 cycles; what
// the allocator keeps back from its pools stays well under this.
const qint64 MaxGrowthKbPer100Cycles = 256;

qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

}

class TestE2eLongRun : public SessionTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void feedFollowsAMovingTimelineWithFlatMemory();

private:
    QString postTweet(int cycle);
    void verifyCacheMatchesFeed();
};

QString TestE2eLongRun::postTweet(int cycle)
{
    // Now and then a photo, so that thumbnails take part.
    return mSession->postTweet(QStringLiteral("Cycle %1 of the long run").arg(cycle),
                               cycle % 2 ? QStringLiteral("dave") : QStringLiteral("bob"),
                               cycle % 50 == 0 ? QStringLiteral("http://pbs.twimg.com/media/longrun%1.jpg").arg(cycle)
                                               : QString());
}

// A row for every item and an item for every row. (A retweet's row holds the timeline's
// id, its item the retweeted tweet's, so the rows are matched by item id.) The row is
// written once addItem has answered, so the last item may be seen a moment before it.
void TestE2eLongRun::verifyCacheMatchesFeed()
{
    QList<qint64> items;
    for (const QJsonValue &item : mSession->feed().items())
        items.append(item[QStringLiteral("id")].toVariant().toLongLong());
    std::sort(items.begin(), items.end());
    QTRY_COMPARE_WITH_TIMEOUT(mSession->cachedItemIds(), items, 5000);
}

void TestE2eLongRun::feedFollowsAMovingTimelineWithFlatMemory()
{
    const int cycles = qEnvironmentVariableIsSet("LONGRUN_CYCLES") ? qEnvironmentVariableIntValue("LONGRUN_CYCLES")
                                                                  : DefaultCycles;
    PlatformSession &session = *mSession;
    const QVariantList sample = Fixtures::homeTimeline();
    for (int index = SampleTweetsListed; index < sample.size(); ++index) {
        const QString id = sample.at(index).toMap().value(QStringLiteral("id")).toString();
        QVERIFY(session.server().post(QStringLiteral("tweets/delete"), {{QStringLiteral("id_str"), id}}));
    }
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), SampleTweetsListed, 15000);

    // The feed must hold the first tweets and those posted since that are still listed.
    const QStringList initial = session.itemTweetIds();
    QStringList posted;
    const auto feedFollows = [&] {
        QStringList shown = session.itemTweetIds();
        QStringList expected = initial + posted;
        shown.sort();
        expected.sort();
        return shown == expected;
    };

    qint64 warmResident = -1;
    qint64 resident = -1;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        const QString id = postTweet(cycle);
        QVERIFY(!id.isEmpty());
        posted.append(id);
        // One of the last few posted, never the newest: a deletion inside the fetched span.
        if (posted.size() > MaxPostedListed) {
            const QString deleted = posted.takeAt(cycle % (posted.size() - 1));
            QVERIFY(session.server().post(QStringLiteral("tweets/delete"), {{QStringLiteral("id_str"), deleted}}));
        }

        session.feed().control().requestRefresh().waitForFinished();
        QVERIFY2(QTest::qWaitFor(feedFollows, 15000),
                 qPrintable(QStringLiteral("cycle %1: the feed shows %2, the service lists %3")
                                .arg(cycle)
                                .arg(session.itemTweetIds().join(QLatin1Char(' ')), (initial + posted).join(QLatin1Char(' ')))));

        if (cycle % SampleEvery == 0 || cycle == cycles) {
            verifyCacheMatchesFeed();
            if (QTest::currentTestFailed())
                return;
            resident = residentKb(session.daemon().processId());
            qInfo("cycle %d: resident memory %lld kB", cycle, resident);
            if (cycle == WarmUpCycles)
                warmResident = resident;
        }
    }
    QCOMPARE(session.daemon().state(), QProcess::Running);

    if (warmResident > 0 && cycles > WarmUpCycles) {
        const qint64 growthPer100 = (resident - warmResident) * 100 / (cycles - WarmUpCycles);
        qInfo("resident memory grew by %lld kB per 100 cycles after the first %d", growthPer100, WarmUpCycles);
        QVERIFY2(growthPer100 <= MaxGrowthKbPer100Cycles, qPrintable(QString::number(growthPer100)));
    }
    QVERIFY(session.stopDaemon());
}

QTEST_GUILESS_MAIN(TestE2eLongRun)
#include "tst_e2elongrun.moc"
