// SPDX-License-Identifier: BSD-3-Clause
#include "TwCache.h"

#include "TwJson.h"
#include "Twitter.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutex>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

namespace {

const QString Responses = QStringLiteral("responses");
// Far above any answer the client accepts from the network: a bigger file is damaged.
const qint64 MaxResponseBytes = 16 * 1024 * 1024;

// Pictures are written by the picture thread. A file made while the cache is being
// removed would keep its folder, with a removed account's picture in it: writes and the
// removal take turns.
QMutex gWriteOrRemove;

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
    // Read in one go: the files are small, and a buffered read copies them once more.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QVariant();
    // No more than the file holds: read(MaxResponseBytes) sets the whole limit aside first.
    QString error;
    const QVariant value = TwJson::parse(file.read(qMin(file.size(), MaxResponseBytes)), &error);
    if (!value.isValid()) {
        qWarning() << Q_FUNC_INFO << "unreadable cache file" << path << error;
        return QVariant();
    }
    // Served, so its age starts again; through the open file rather than a second open.
    file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
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

QString TwCache::existingPicture(const QString &folder, const QString &key,
                                 const QList<QLatin1String> &extensions) const
{
    // A look at each name the picture can have: a listing of the folder, which holds a
    // picture for every user and tweet seen, costs as much for each lookup as all of them.
    const QString base = mRoot + QLatin1Char('/') + folder + QLatin1Char('/') + fileName(key);
    const QByteArray nativeBase = QFile::encodeName(base);
    for (const QLatin1String &extension : extensions) {
        const QByteArray nativePath = nativeBase + QByteArray(extension.data(), extension.size());
        struct stat status;
        if (stat(nativePath.constData(), &status) == 0 && S_ISREG(status.st_mode)) {
            const QString path = base + extension;
            if (servePicture(path, extension))
                return path;
        }
    }
    return QString();
}

bool TwCache::writeFile(const QString &path, const QByteArray &content)
{
    // Whole or not at all: a reader never sees half a file. Unbuffered, since Qt 5's
    // QSaveFile commits a file whose buffered bytes the disk refused: a full disk left
    // empty pictures behind.
    QMutexLocker turn(&gWriteOrRemove);
    // QSaveFile writes through a link to its target: a link planted here is replaced.
    const QFileInfo planted(path);
    if (planted.isSymLink()) {
        qWarning() << Q_FUNC_INFO << "a link stands where a cache file should be, replaced:" << path;
        QFile::remove(path);
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(content) == content.size()
        && file.commit())
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
    QMutexLocker turn(&gWriteOrRemove);
    if (!QDir(mRoot).removeRecursively())
        qWarning() << Q_FUNC_INFO << "could not remove all of" << mRoot;
}

QString TwCache::fileName(const QString &key)
{
    return QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex());
}

bool TwCache::servePicture(const QString &path, const QLatin1String &extension)
{
    const QByteArray format = extension == QLatin1String(".jpg") ? QByteArrayLiteral("jpeg")
                                                                  : QByteArray(extension.data() + 1, extension.size() - 1);
    // One open for the check and the new age.
    QFile file(path);
    const bool writable = file.open(QIODevice::ReadWrite);
    if ((writable || file.open(QIODevice::ReadOnly)) && Tw::Twitter::pictureFormat(file.read(8)) == format) {
        if (writable)
            file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
        return true;
    }
    // Empty or cut short (a full disk, an older version): fetched again rather than shown broken.
    qWarning() << Q_FUNC_INFO << "dropping a cached picture that is no" << format << "file:" << path;
    file.close();
    QFile::remove(path);
    return false;
}
