// SPDX-License-Identifier: BSD-3-Clause
#include "NotificationStore.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

namespace {

const QString EntriesKey = QStringLiteral("entries");
const QString NextIdKey = QStringLiteral("nextId");
const QString IdKey = QStringLiteral("id");
const QString GroupKey = QStringLiteral("group");
// Another process writes the store in a few milliseconds; longer, it is retried later.
const int LockWaitMs = 10;
const int FinalLockWaitMs = 500;
const int FirstRetryMs = 100;
const int LastRetryMs = 5000;
// Changes kept while the store is locked, and ids remembered once written.
const int MaxPendingChanges = 1000;
const int MaxResolvedIds = 4096;

qint64 numberOf(const QJsonValue &entry, const QString &key)
{
    return entry.toObject().value(key).toVariant().toLongLong();
}

// The store's document; *fits is false when the file is over the size cap and not read.
QJsonObject readDocument(bool *fits)
{
    *fits = true;
    QFile file(NotificationStore::path());
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    if (file.size() > NotificationStore::MaxBytes) {
        qWarning() << Q_FUNC_INFO << "notification store of" << file.size() << "bytes is over"
                   << NotificationStore::MaxBytes << "and not read:" << file.fileName();
        *fits = false;
        return QJsonObject();
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        qWarning() << Q_FUNC_INFO << "unreadable notification store" << file.fileName() << error.errorString();
        return QJsonObject();
    }
    return document.object();
}

// Applies the changes in order; one that would add entries beyond the cap is refused.
// *refused tells whether any was.
bool apply(QJsonArray &entries, const QList<NotificationStore::Change> &changes, bool *refused)
{
    bool changed = false;
    *refused = false;
    for (const NotificationStore::Change &change : changes) {
        QJsonArray next = entries;
        if (!change(next))
            continue;
        if (next.size() > NotificationStore::MaxEntries && next.size() > entries.size()) {
            qWarning() << Q_FUNC_INFO << "notification store full at" << entries.size() << "entries, new entry refused";
            *refused = true;
            continue;
        }
        entries = next;
        changed = true;
    }
    return changed;
}

}

NotificationStore::NotificationStore(QObject *parent)
    : QObject(parent)
    , mRetryTimer(new QTimer(this))
{
    mRetryTimer->setSingleShot(true);
    mRetryTimer->setInterval(FirstRetryMs);
    connect(mRetryTimer, &QTimer::timeout, this, &NotificationStore::retry);
}

NotificationStore::~NotificationStore()
{
    if (!mPending.isEmpty() && write(FinalLockWaitMs) == Outcome::Busy)
        qWarning() << Q_FUNC_INFO << "notification store still locked," << mPending.size() << "changes not written";
}

QString NotificationStore::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
        + QStringLiteral("/ostra-notifications/notifications.json");
}

QJsonArray NotificationStore::storedEntries()
{
    bool fits = true;
    return readDocument(&fits).value(EntriesKey).toArray();
}

QJsonArray NotificationStore::entries() const
{
    QJsonArray entries = storedEntries();
    bool refused = false;
    apply(entries, mPending, &refused);
    return entries;
}

qint64 NotificationStore::newId()
{
    return mNextProvisionalId--;
}

qint64 NotificationStore::resolvedId(qint64 id) const
{
    return id < 0 ? mResolved.value(id, id) : id;
}

bool NotificationStore::update(const Change &change)
{
    if (mPending.size() >= MaxPendingChanges) {
        qWarning() << Q_FUNC_INFO << "notification store locked too long," << mPending.size() << "changes kept, this one refused";
        return false;
    }
    mPending.append(change);
    // Behind changes that wait for the lock, this one waits its turn.
    if (mRetryTimer->isActive())
        return true;
    return flush();
}

bool NotificationStore::flush()
{
    switch (write(LockWaitMs)) {
    case Outcome::Written:
        mRetryTimer->setInterval(FirstRetryMs);
        return true;
    case Outcome::Busy:
        if (mRetryTimer->interval() == FirstRetryMs)
            qWarning() << Q_FUNC_INFO << "notification store locked by another process; changes kept and retried";
        mRetryTimer->start();
        return true;
    case Outcome::Refused:
        break;
    }
    mRetryTimer->setInterval(FirstRetryMs);
    return false;
}

void NotificationStore::retry()
{
    mRetryTimer->setInterval(qMin(mRetryTimer->interval() * 2, LastRetryMs));
    flush();
}

// Writes the kept changes under the lock, giving provisional ids their real ones.
NotificationStore::Outcome NotificationStore::write(int lockWaitMs)
{
    const QString file = path();
    QDir().mkpath(QFileInfo(file).path());
    QLockFile lock(file + QStringLiteral(".lock"));
    // A live holder's lock is never broken, however old; a dead holder's is taken over.
    lock.setStaleLockTime(0);
    if (!lock.tryLock(lockWaitMs)) {
        if (lock.error() == QLockFile::LockFailedError)
            return Outcome::Busy;
        qWarning() << Q_FUNC_INFO << "cannot lock the notification store" << file << lock.error();
        mPending.clear();
        return Outcome::Refused;
    }
    const QList<Change> changes = mPending;
    mPending.clear();
    bool fits = true;
    QJsonObject document = readDocument(&fits);
    if (!fits) {
        qWarning() << Q_FUNC_INFO << "notification store left as it is," << changes.size() << "changes refused";
        return Outcome::Refused;
    }
    QJsonArray entries = document.value(EntriesKey).toArray();
    bool refused = false;
    if (!apply(entries, changes, &refused))
        return refused ? Outcome::Refused : Outcome::Written;

    // Past every id in use, also when another writer kept no count.
    qint64 nextId = qMax<qint64>(1, document.value(NextIdKey).toVariant().toLongLong());
    for (const QJsonValue &entry : qAsConst(entries))
        nextId = qMax(nextId, numberOf(entry, IdKey) + 1);
    QHash<qint64, qint64> resolved;
    for (int i = 0; i < entries.size(); ++i) {
        const qint64 id = numberOf(entries.at(i), IdKey);
        if (id >= 0)
            continue;
        QJsonObject entry = entries.at(i).toObject();
        resolved.insert(id, nextId);
        entry.insert(IdKey, nextId++);
        entries.replace(i, entry);
    }
    // A notification's group written in the same go, or earlier.
    for (int i = 0; i < entries.size(); ++i) {
        const qint64 group = numberOf(entries.at(i), GroupKey);
        if (group >= 0)
            continue;
        QJsonObject entry = entries.at(i).toObject();
        entry.insert(GroupKey, resolved.value(group, resolvedId(group) < 0 ? 0 : resolvedId(group)));
        entries.replace(i, entry);
    }
    document.insert(EntriesKey, entries);
    document.insert(NextIdKey, nextId);
    const QByteArray bytes = QJsonDocument(document).toJson();
    if (bytes.size() > MaxBytes) {
        qWarning() << Q_FUNC_INFO << "notification store would grow over" << MaxBytes << "bytes," << changes.size()
                   << "changes refused";
        return Outcome::Refused;
    }
    // Unbuffered: Qt 5's QSaveFile commits a file whose buffered bytes a full disk refused,
    // which would leave every application's notifications an empty file.
    // QSaveFile writes through a link to its target: a link planted here is replaced.
    if (QFileInfo(file).isSymLink()) {
        qWarning() << Q_FUNC_INFO << "a link stands where the notification store should be, replaced:" << file;
        QFile::remove(file);
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || out.write(bytes) != bytes.size() || !out.commit()) {
        qWarning() << Q_FUNC_INFO << "cannot write the notification store" << file << out.errorString();
        return Outcome::Refused;
    }
    if (mResolved.size() + resolved.size() > MaxResolvedIds)
        mResolved.clear();
    mResolved.insert(resolved);
    return refused ? Outcome::Refused : Outcome::Written;
}
