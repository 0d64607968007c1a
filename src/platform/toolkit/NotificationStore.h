// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

// The session's notification system as a store that every process shares: a JSON file
// under $XDG_RUNTIME_DIR, read and written under a lock file. What is published there
// outlives the objects and the processes that published it, and can be read by anyone
// in the session (tools, tests, a person).
//
// Each entry is an object with "id" (from 1), "application", "kind" ("notification" or
// "group"), "eventType", "summary", "body", "image", "count", "timestamp" (ISO 8601),
// "group" (the id of a notification's group, 0 for none) and "action" (the textual
// form of its remote action).
//
// An object of this class is one process's access to the store. The store is never
// waited for: while another process holds the lock, changes are kept, in order, and
// written from the event loop once it is free; reads through the object show them
// already. The store is bounded: a file over MaxBytes is neither read nor written, and
// no change may add entries beyond MaxEntries; what other applications wrote is kept.
class NotificationStore : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MaxBytes = 1024 * 1024;
    static constexpr int MaxEntries = 1000;

    // Changes the entries; true when it changed something.
    using Change = std::function<bool(QJsonArray &entries)>;

    explicit NotificationStore(QObject *parent = nullptr);
    // Tries the kept changes a last time.
    ~NotificationStore() override;

    static QString path();
    // The entries as written; a missing, unreadable or oversized store reads as empty.
    static QJsonArray storedEntries();

    // The entries as they stand with this object's kept changes.
    QJsonArray entries() const;
    // The id of a new entry: provisional (below 0) until the entry is written.
    qint64 newId();
    // The id that a provisional one became once written; any other as it is.
    qint64 resolvedId(qint64 id) const;
    // Changes the entries under the lock now, or keeps the change while another process
    // holds it. False when the change is refused (the store too large or full) or cannot
    // be written.
    bool update(const Change &change);
    bool hasPendingChanges() const { return !mPending.isEmpty(); }

private:
    enum class Outcome { Written, Refused, Busy };

    Outcome write(int lockWaitMs);
    bool flush();
    void retry();

    QList<Change> mPending;
    QTimer *mRetryTimer;
    qint64 mNextProvisionalId = -1;
    QHash<qint64, qint64> mResolved;
};
