// SPDX-License-Identifier: BSD-3-Clause
// The item cache on a real SQLite file: lookups, inserts, the span rule of stale removal
// (with the withdrawals reaching the reference feed), and ids that try to be SQL.

#include "DaemonHarness.h"

#include <QJsonObject>
#include <QSqlQuery>
#include <QTest>

namespace {

QVariantMap tweet(const QString &id)
{
    return {{QStringLiteral("id"), id}};
}

QVariantList timeline(const QStringList &ids)
{
    QVariantList tweets;
    for (const QString &id : ids)
        tweets.append(tweet(id));
    return tweets;
}

}

class TestItemCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void tableIsCreatedOnceAndDroppedOnce();
    void lookupAndInsertKeepTheFirstRowAndWithdrawTheSecondItem();
    void failedLookupSkipsTheTweet();
    void staleRemovalHonoursTheFetchedSpan_data();
    void staleRemovalHonoursTheFetchedSpan();
    void emptyTimelineTouchesNothing();
    void hostileIdsAreDataNotSql_data();
    void hostileIdsAreDataNotSql();

private:
    void seed(const QMap<QString, qint64> &rows);
    QList<qint64> removedFeedIds();

    DaemonHarness mHarness;
};

void TestItemCache::initTestCase()
{
    QVERIFY(mHarness.start());
}

void TestItemCache::init()
{
    QVERIFY(mHarness.daemon().createDbTables());
    mHarness.clearCache();
    mHarness.feed().control().reset().waitForFinished();
}

void TestItemCache::seed(const QMap<QString, qint64> &rows)
{
    for (auto it = rows.cbegin(); it != rows.cend(); ++it)
        mHarness.daemon().addTweetToDb(tweet(it.key()), it.value());
    QCOMPARE(mHarness.cachedItems(), rows);
}

QList<qint64> TestItemCache::removedFeedIds()
{
    QList<qint64> ids;
    for (const QJsonValue &call : mHarness.feed().calls()) {
        if (call[QStringLiteral("method")] == QLatin1String("removeItem"))
            ids.append(call[QStringLiteral("arguments")][0].toVariant().toLongLong());
    }
    return ids;
}

void TestItemCache::tableIsCreatedOnceAndDroppedOnce()
{
    TwitterDaemon &daemon = mHarness.daemon();
    QSqlQuery pageSize(QStringLiteral("PRAGMA page_size"), mHarness.cache());
    QVERIFY(pageSize.next());
    QCOMPARE(pageSize.value(0).toInt(), 1024); // a new file, written a row at a time
    seed({{QStringLiteral("1"), 10}});
    QVERIFY(daemon.createDbTables());
    QCOMPARE(mHarness.cachedItems().size(), 1); // an existing table is left as it is

    QVERIFY(daemon.deleteDbTables());
    QVERIFY(!mHarness.cache().tables().contains(QStringLiteral("items")));
    QVERIFY(daemon.deleteDbTables());
    QVERIFY(daemon.createDbTables());
    QVERIFY(mHarness.cachedItems().isEmpty());
}

void TestItemCache::lookupAndInsertKeepTheFirstRowAndWithdrawTheSecondItem()
{
    TwitterDaemon &daemon = mHarness.daemon();
    QCOMPARE(daemon.checkTweetFromDb(tweet(QStringLiteral("1334092880406159360"))),
             TwitterDaemon::NEXT_STEP_ADD_TO_HOMEVIEW);
    daemon.addTweetToDb({{QStringLiteral("id"), qulonglong(1334092880406159360ULL)}}, 4611686018427387904LL);
    QCOMPARE(daemon.checkTweetFromDb(tweet(QStringLiteral("1334092880406159360"))),
             TwitterDaemon::NEXT_STEP_SKIP);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Error: Insert failed. ")));
    daemon.addTweetToDb(tweet(QStringLiteral("1334092880406159360")), 99);
    QCOMPARE(mHarness.cachedItems(),
             (QMap<QString, qint64>{{QStringLiteral("1334092880406159360"), 4611686018427387904LL}}));
    // An item the cache could not take would be posted again: it leaves the feed.
    QTRY_COMPARE(removedFeedIds(), QList<qint64>{99});
}

void TestItemCache::failedLookupSkipsTheTweet()
{
    QVERIFY(mHarness.daemon().deleteDbTables());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Error: Post query failed. ")));
    QCOMPARE(mHarness.daemon().checkTweetFromDb(tweet(QStringLiteral("5"))), TwitterDaemon::NEXT_STEP_SKIP);
    QSet<QString> cached;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Error: Post query failed. ")));
    QVERIFY(!mHarness.daemon().cachedTweetIds(TwitterDaemon::FetchedIds(timeline({QStringLiteral("5")})), &cached));
}

void TestItemCache::staleRemovalHonoursTheFetchedSpan_data()
{
    QTest::addColumn<QStringList>("fetched");
    QTest::addColumn<QStringList>("stale");
    // Cached: 998, 999, 1000, 1001, 1002, 20000.
    QTest::newRow("999 is older than 1000") << QStringList{"1001", "1000"} << QStringList{"1002", "20000"};
    QTest::newRow("one tweet: everything newer") << QStringList{"999"} << QStringList{"1000", "1001", "1002", "20000"};
    QTest::newRow("missing oldest stays") << QStringList{"1002", "1001"} << QStringList{"20000"};
    QTest::newRow("all listed") << QStringList{"20000", "1002", "1001", "1000", "999", "998"} << QStringList();
    QTest::newRow("gap in the middle") << QStringList{"20000", "1000", "998"} << QStringList{"1001", "1002", "999"};
    QTest::newRow("older than everything") << QStringList{"1"} << QStringList{"1000", "1001", "1002", "20000", "998", "999"};
}

void TestItemCache::staleRemovalHonoursTheFetchedSpan()
{
    QFETCH(QStringList, fetched);
    QFETCH(QStringList, stale);
    const QMap<QString, qint64> rows = {{"998", 1}, {"999", 2}, {"1000", 3}, {"1001", 4}, {"1002", 5}, {"20000", 6}};
    seed(rows);

    mHarness.daemon().removeStaleItems(TwitterDaemon::FetchedIds(timeline(fetched)));

    QMap<QString, qint64> expectedRows = rows;
    QList<qint64> expectedRemovals;
    for (const QString &id : stale)
        expectedRemovals.append(expectedRows.take(id));
    QCOMPARE(mHarness.cachedItems(), expectedRows);
    QList<qint64> removals = removedFeedIds();
    std::sort(removals.begin(), removals.end());
    std::sort(expectedRemovals.begin(), expectedRemovals.end());
    QCOMPARE(removals, expectedRemovals);
}

void TestItemCache::emptyTimelineTouchesNothing()
{
    seed({{QStringLiteral("5"), 1}});
    mHarness.daemon().removeStaleItems(TwitterDaemon::FetchedIds(QVariantList()));
    QCOMPARE(mHarness.cachedItems().size(), 1);
    QVERIFY(mHarness.feed().calls().isEmpty());
}

void TestItemCache::hostileIdsAreDataNotSql_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("quote and or") << "1\") OR (\"1\"=\"1";
    QTest::newRow("single quotes") << "9' OR '1'='1";
    QTest::newRow("statement") << "9; DROP TABLE items; --";
    QTest::newRow("comment") << "9 /* */ --";
    QTest::newRow("parenthesis") << "9)) OR 1=1 OR ((1";
    QTest::newRow("json") << "9\", \"1000";
    QTest::newRow("json escapes") << "9\\\"\t\x01\\u0022";
}

void TestItemCache::hostileIdsAreDataNotSql()
{
    QFETCH(QString, id);
    TwitterDaemon &daemon = mHarness.daemon();
    seed({{QStringLiteral("1000"), 1}, {QStringLiteral("1001"), 2}});

    QCOMPARE(daemon.checkTweetFromDb(tweet(id)), TwitterDaemon::NEXT_STEP_ADD_TO_HOMEVIEW);
    daemon.addTweetToDb(tweet(id), 3);
    QCOMPARE(daemon.checkTweetFromDb(tweet(id)), TwitterDaemon::NEXT_STEP_SKIP);
    QCOMPARE(mHarness.cachedItems().value(id), 3);
    QSet<QString> cached;
    QVERIFY(daemon.cachedTweetIds(TwitterDaemon::FetchedIds(timeline({id, QStringLiteral("1000"), QStringLiteral("7")})), &cached));
    QCOMPARE(cached, (QSet<QString>{id, QStringLiteral("1000")}));

    // As a fetched id it selects exactly what its text says; the other rows are untouched.
    daemon.removeStaleItems(TwitterDaemon::FetchedIds(timeline({QStringLiteral("1001"), id})));
    const QMap<QString, qint64> rows = mHarness.cachedItems();
    QVERIFY(rows.contains(QStringLiteral("1001")));
    QVERIFY(rows.contains(id));
    QVERIFY(mHarness.cache().tables().contains(QStringLiteral("items")));

    // Longer than the only fetched id, it counts as newer and goes, with nothing else.
    daemon.removeStaleItems(TwitterDaemon::FetchedIds(timeline({QStringLiteral("1001")})));
    QCOMPARE(mHarness.cachedItems().keys(), QStringList({QStringLiteral("1000"), QStringLiteral("1001")}));
}

QTEST_GUILESS_MAIN(TestItemCache)
#include "tst_itemcache.moc"
