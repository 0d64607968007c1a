#pragma once

#include <QJsonArray>
#include <QString>

#include <functional>

// The session's notification system as a store that every process shares: a JSON file
// under $XDG_RUNTIME_DIR, read and written under a lock file. What is published there
// outlives the objects and the processes that published it, and can be read by anyone
// in the session (tools, tests, a person).
//
// Each entry is an object with "id" (from 1), "application", "kind" ("notification" or
// "group"), "eventType", "summary", "body", "image", "count", "timestamp" (ISO 8601),
// "group" (the id of a notification's group, 0 for none) and "action" (the textual
// form of its remote action).
class NotificationStore
{
public:
    static QString path();

    // The entries as they stand; a missing or unreadable store reads as empty.
    static QJsonArray entries();

    // Changes the entries under the lock and writes them back when change returns true.
    // nextId is the id the next new entry takes. False when the store cannot be written.
    static bool update(const std::function<bool(QJsonArray &entries, qint64 &nextId)> &change);
};
