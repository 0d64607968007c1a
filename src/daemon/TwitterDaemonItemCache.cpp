// SPDX-License-Identifier: BSD-3-Clause
// The item cache: which tweet became which event feed item.

#include "TwitterDaemon.h"

#include "eventfeedinterface.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

const QString ItemsTable = QStringLiteral("items");

QString tweetId(const QVariantMap &tweet)
{
    return tweet.value(QStringLiteral("id")).toString();
}

// Lists of ids travel into SQL as one bound JSON array, read back with json_each(),
// so that no id from the network is ever part of a statement's text. Written here rather
// than through QJsonDocument, which took more time than the lookup it fed.
QString jsonArray(const QStringList &ids)
{
    QString json;
    json.reserve(2 + ids.size() * 24);
    json.append(QLatin1Char('['));
    for (const QString &id : ids) {
        if (&id != &ids.first())
            json.append(QLatin1Char(','));
        json.append(QLatin1Char('"'));
        for (const QChar c : id) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
                json.append(QLatin1Char('\\'));
                json.append(c);
            } else if (c.unicode() < 0x20) {
                json.append(QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')));
            } else {
                json.append(c);
            }
        }
        json.append(QLatin1Char('"'));
    }
    json.append(QLatin1Char(']'));
    return json;
}

}

TwitterDaemon::FetchedIds::FetchedIds(const QVariantList &timeline)
{
    ids.reserve(timeline.size());
    for (const QVariant &tweet : timeline)
        ids.append(tweetId(tweet.toMap()));
    json = jsonArray(ids);
}

bool TwitterDaemon::createDbTables()
{
    if (mDb.tables().contains(ItemsTable)) {
        // A table of that name made by something else would fail every statement while
        // the daemon ran on, publishing nothing: refuse the file and leave it as it is.
        const QSqlRecord columns = mDb.record(ItemsTable);
        if (columns.contains(QStringLiteral("twitter_id")) && columns.contains(QStringLiteral("homeview_id")))
            return true;
        QStringList names;
        for (int i = 0; i < columns.count(); ++i)
            names.append(columns.fieldName(i));
        qCritical() << Q_FUNC_INFO << "Error: The cache's table" << ItemsTable
                    << "is not the daemon's: it lacks twitter_id or homeview_id, its columns are" << names;
        return false;
    }
    releasePreparedQueries();
    QSqlQuery query(mDb);
    // A row is some 40 bytes and each published tweet commits alone: with 1 KiB pages a
    // commit appends 4 KiB to the write-ahead log instead of 14 KiB, and cached pages are
    // smaller. Only a new file takes it; an existing cache keeps its page size.
    if (!query.exec(QStringLiteral("PRAGMA page_size=1024")))
        qWarning() << Q_FUNC_INFO << query.lastError().text();
    if (query.prepare(QStringLiteral("CREATE TABLE items (twitter_id TEXT NOT NULL,homeview_id INT NOT NULL,PRIMARY KEY(twitter_id));"))
        && query.exec())
        return true;
    qCritical() << Q_FUNC_INFO << query.lastError().text();
    return false;
}

// Settings and an index for a cache that is written once per published tweet and
// searched by age at every refresh; none of them is needed for correct results.
void TwitterDaemon::prepareCache()
{
    QSqlQuery query(mDb);
    // Write-ahead log, synced at checkpoints: a row survives a crash of the process once
    // its statement has returned; a power cut may lose the last rows (their tweets are
    // then offered again), never the file's consistency.
    for (const QString &statement : {QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA synchronous=NORMAL"),
                                     QStringLiteral("CREATE INDEX IF NOT EXISTS items_by_age ON items(length(twitter_id), twitter_id)")}) {
        if (!query.exec(statement))
            qWarning() << Q_FUNC_INFO << statement << query.lastError().text();
    }
}

// Writes nothing and rolls back: this fails on a read-only file or folder, and on a file
// another process keeps locked. (Taking the write lock alone succeeds on a read-only file.)
bool TwitterDaemon::cacheIsWritable()
{
    QSqlQuery query(mDb);
    const bool writable = query.exec(QStringLiteral("BEGIN IMMEDIATE"))
        && query.exec(QStringLiteral("DELETE FROM items WHERE 0"));
    if (!writable)
        qCritical() << Q_FUNC_INFO << query.lastError().text();
    QSqlQuery(mDb).exec(QStringLiteral("ROLLBACK"));
    return writable;
}

bool TwitterDaemon::deleteDbTables()
{
    if (!mDb.tables().contains(ItemsTable))
        return true;
    releasePreparedQueries();
    QSqlQuery query(mDb);
    if (query.prepare(QStringLiteral("DROP TABLE items;")) && query.exec())
        return true;
    qCritical() << Q_FUNC_INFO << query.lastError().text();
    return false;
}

QSqlQuery *TwitterDaemon::preparedQuery(QScopedPointer<QSqlQuery> &query, const QString &statement)
{
    if (query)
        return query.data();
    QScopedPointer<QSqlQuery> prepared(new QSqlQuery(mDb));
    if (!prepared->prepare(statement)) {
        qWarning() << Q_FUNC_INFO << statement << prepared->lastError().text();
        return nullptr;
    }
    query.swap(prepared);
    return query.data();
}

void TwitterDaemon::releasePreparedQueries()
{
    mInsertQuery.reset();
    mLookupQuery.reset();
    mLookupAllQuery.reset();
    mStaleQuery.reset();
    mUncachedIds.clear();
}

void TwitterDaemon::addTweetToDb(const QVariantMap &tweet, qint64 homeviewId)
{
    QSqlQuery *query = preparedQuery(
        mInsertQuery, QStringLiteral("INSERT INTO items(twitter_id, homeview_id) VALUES (:twitter_id, :homeview_id);"));
    mUncachedIds.remove(tweetId(tweet));
    QSqlError error = mDb.lastError();
    if (query) {
        query->bindValue(QStringLiteral(":homeview_id"), homeviewId);
        query->bindValue(QStringLiteral(":twitter_id"), tweetId(tweet));
        const bool inserted = query->exec();
        error = query->lastError();
        query->finish();
        if (inserted)
            return;
    }
    qWarning() << Q_FUNC_INFO << "Error: Insert failed. " << error;
    // Without its row the tweet would be posted again at the next refresh, beside this
    // item: withdraw it, so that it comes back once, when the cache takes it.
    mEventFeedIf->removeItem(homeviewId);
}

TwitterDaemon::NEXT_STEP TwitterDaemon::checkTweetFromDb(const QVariantMap &tweet)
{
    if (mUncachedIds.contains(tweetId(tweet)))
        return NEXT_STEP_ADD_TO_HOMEVIEW;
    QSqlQuery *query = preparedQuery(mLookupQuery, QStringLiteral("SELECT * FROM items WHERE twitter_id = :id;"));
    if (!query) {
        qWarning() << Q_FUNC_INFO << "Error: Post query failed. " << mDb.lastError();
        return NEXT_STEP_SKIP;
    }
    query->bindValue(QStringLiteral(":id"), tweetId(tweet));
    if (!query->exec()) {
        qWarning() << Q_FUNC_INFO << "Error: Post query failed. " << query->lastError();
        return NEXT_STEP_SKIP;
    }
    const bool cached = query->next();
    // Reset at once, so that no read stays open on the file between refreshes.
    query->finish();
    return cached ? NEXT_STEP_SKIP : NEXT_STEP_ADD_TO_HOMEVIEW;
}

bool TwitterDaemon::cachedTweetIds(const FetchedIds &fetched, QSet<QString> *cached)
{
    // One read for the whole refresh instead of one per tweet.
    QSqlQuery *query = preparedQuery(
        mLookupAllQuery, QStringLiteral("SELECT twitter_id FROM items WHERE twitter_id IN (SELECT value FROM json_each(:ids))"));
    if (!query) {
        qWarning() << Q_FUNC_INFO << "Error: Post query failed. " << mDb.lastError();
        return false;
    }
    query->bindValue(QStringLiteral(":ids"), fetched.json);
    if (!query->exec()) {
        qWarning() << Q_FUNC_INFO << "Error: Post query failed. " << query->lastError();
        return false;
    }
    while (query->next())
        cached->insert(query->value(0).toString());
    query->finish();
    return true;
}

void TwitterDaemon::removeStaleItems(const FetchedIds &fetched)
{
    if (fetched.ids.isEmpty())
        return;
    const QString oldestId = fetched.ids.last();

    // Every cached tweet newer than the oldest fetched one that the fetch no longer lists:
    // longer ids, then ids of the same length that sort after it. Two branches rather
    // than an OR, so that each can walk the age index instead of the whole table.
    QSqlQuery *query = preparedQuery(mStaleQuery, QStringLiteral(
            "SELECT twitter_id, homeview_id FROM items WHERE length(twitter_id) > length(:twitter_id1)"
            " AND twitter_id NOT IN (SELECT value FROM json_each(:fetched_ids1))"
            " UNION ALL"
            " SELECT twitter_id, homeview_id FROM items WHERE length(twitter_id) = length(:twitter_id2)"
            " AND twitter_id > :twitter_id3 AND twitter_id NOT IN (SELECT value FROM json_each(:fetched_ids2))"));
    if (!query) {
        qCritical() << Q_FUNC_INFO << "Failed to prepare query" << mDb.lastError().text();
        return;
    }
    query->bindValue(QStringLiteral(":twitter_id1"), oldestId);
    query->bindValue(QStringLiteral(":twitter_id2"), oldestId);
    query->bindValue(QStringLiteral(":twitter_id3"), oldestId);
    query->bindValue(QStringLiteral(":fetched_ids1"), fetched.json);
    query->bindValue(QStringLiteral(":fetched_ids2"), fetched.json);
    if (!query->exec()) {
        qCritical() << Q_FUNC_INFO << "Failed to fetch ids" << query->lastError().text();
        return;
    }

    QStringList staleIds;
    while (query->next()) {
        staleIds.append(query->value(0).toString());
        mEventFeedIf->removeItem(query->value(1).toLongLong());
    }
    query->finish();
    if (staleIds.isEmpty())
        return;
    // Should the delete fail, the next fetch selects the rows again and withdraws anew.
    QSqlQuery remove(mDb);
    remove.prepare(QStringLiteral("DELETE FROM items WHERE twitter_id IN (SELECT value FROM json_each(:stale_ids))"));
    remove.bindValue(QStringLiteral(":stale_ids"), jsonArray(staleIds));
    remove.exec();
}
