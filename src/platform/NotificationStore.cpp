#include "NotificationStore.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString EntriesKey = QStringLiteral("entries");
const QString NextIdKey = QStringLiteral("nextId");

QJsonObject readDocument()
{
    QFile file(NotificationStore::path());
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        qWarning() << Q_FUNC_INFO << "unreadable notification store" << file.fileName() << error.errorString();
        return QJsonObject();
    }
    return document.object();
}

}

QString NotificationStore::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
        + QStringLiteral("/ostra-notifications/notifications.json");
}

QJsonArray NotificationStore::entries()
{
    return readDocument().value(EntriesKey).toArray();
}

bool NotificationStore::update(const std::function<bool(QJsonArray &, qint64 &)> &change)
{
    const QString file = path();
    QDir().mkpath(QFileInfo(file).path());
    QLockFile lock(file + QStringLiteral(".lock"));
    if (!lock.lock()) {
        qWarning() << Q_FUNC_INFO << "cannot lock the notification store" << file;
        return false;
    }
    QJsonObject document = readDocument();
    QJsonArray entries = document.value(EntriesKey).toArray();
    qint64 nextId = qMax<qint64>(1, document.value(NextIdKey).toVariant().toLongLong());
    if (!change(entries, nextId))
        return true;
    document.insert(EntriesKey, entries);
    document.insert(NextIdKey, nextId);
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(document).toJson()) < 0 || !out.commit()) {
        qWarning() << Q_FUNC_INFO << "cannot write the notification store" << file << out.errorString();
        return false;
    }
    return true;
}
