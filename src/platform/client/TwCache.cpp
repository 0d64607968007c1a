#include "TwCache.h"

#include "TwJson.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString Responses = QStringLiteral("responses");
// Far above any answer the client accepts from the network: a bigger file is damaged.
const qint64 MaxResponseBytes = 16 * 1024 * 1024;

// A folder name from the user id that cannot leave the cache folder.
QString safeFolderName(const QString &userId)
{
    QString name;
    for (const QChar c : userId) {
        if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-'))
            name.append(c);
    }
    return name.isEmpty() ? QStringLiteral("unknown") : name;
}

}

TwCache::TwCache(const QString &userId)
    : mRoot(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
            + QStringLiteral("/twitter-client/") + safeFolderName(userId))
{
}

QVariant TwCache::response(const QString &key) const
{
    const QString path = mRoot + QLatin1Char('/') + Responses + QLatin1Char('/') + fileName(key) + QStringLiteral(".json");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QVariant();
    QString error;
    const QVariant value = TwJson::parse(file.read(MaxResponseBytes), &error);
    if (!value.isValid()) {
        qWarning() << Q_FUNC_INFO << "unreadable cache file" << path << error;
        return QVariant();
    }
    touch(path);
    return value;
}

bool TwCache::storeResponse(const QString &key, const QVariant &value) const
{
    const QString folder = mRoot + QLatin1Char('/') + Responses;
    QDir().mkpath(folder);
    return writeFile(folder + QLatin1Char('/') + fileName(key) + QStringLiteral(".json"),
                     QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact));
}

QString TwCache::picturePath(const QString &folder, const QString &key) const
{
    const QString path = mRoot + QLatin1Char('/') + folder;
    QDir().mkpath(path);
    return path + QLatin1Char('/') + fileName(key);
}

QString TwCache::existingPicture(const QString &folder, const QString &key) const
{
    const QDir dir(mRoot + QLatin1Char('/') + folder);
    const QStringList matches = dir.entryList({fileName(key) + QStringLiteral(".*")}, QDir::Files, QDir::Name);
    if (matches.isEmpty())
        return QString();
    const QString path = dir.filePath(matches.first());
    touch(path);
    return path;
}

bool TwCache::writeFile(const QString &path, const QByteArray &content)
{
    // Whole or not at all: a reader never sees half a file.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit())
        return true;
    qWarning() << Q_FUNC_INFO << "cannot write" << path << file.errorString();
    return false;
}

void TwCache::removeOlderThan(int days) const
{
    const QDateTime limit = QDateTime::currentDateTimeUtc().addDays(-days);
    QDirIterator it(mRoot, QDir::Files, QDirIterator::Subdirectories);
    int removed = 0;
    while (it.hasNext()) {
        it.next();
        if (it.fileInfo().lastModified().toUTC() < limit && QFile::remove(it.filePath()))
            ++removed;
    }
    qDebug() << Q_FUNC_INFO << mRoot << removed << "files older than" << days << "days removed";
}

void TwCache::removeAll() const
{
    qDebug() << Q_FUNC_INFO << mRoot;
    if (!QDir(mRoot).removeRecursively())
        qWarning() << Q_FUNC_INFO << "could not remove all of" << mRoot;
}

QString TwCache::fileName(const QString &key)
{
    return QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex());
}

void TwCache::touch(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
}
