// SPDX-License-Identifier: BSD-3-Clause
// Thumbnails: each picture of a tweet is asked for as a thumbnail, and the tweet is held
// back until every thumbnail has been answered.

#include "TwitterDaemon.h"

#include "OwnFiles.h"
#include "TweetMarkup.h"
#include "Twitter.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace {

const int CopyBlockSize = 4096;

// The format of a picture file by its first bytes.
QByteArray pictureFormat(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? Tw::Twitter::pictureFormat(file.read(8)) : QByteArray();
}

}

bool TwitterDaemon::processTweetImages(const QVariantMap &tweet, const QString &avatar)
{
    const QList<EventFeed::Picture> pictures = EventFeed::tweetPictures(tweet);
    if (pictures.isEmpty() || !mTwitter)
        return false;
    // A refresh while its thumbnails are on their way finds the tweet again: it waits once.
    for (const auto &pending : mInFlight.pendingImageItems) {
        if (pending->tweet.value(QStringLiteral("id")) == tweet.value(QStringLiteral("id")))
            return true;
    }

    mInFlight.pendingImageItems.push_back(std::make_unique<PendingImageItem>());
    PendingImageItem *item = mInFlight.pendingImageItems.back().get();
    item->tweet = tweet;
    item->avatar = avatar;
    item->expectedCount = pictures.size();
    for (const EventFeed::Picture &picture : qAsConst(pictures)) {
        QMap<QString, QString> parameters;
        if (!picture.mediaId.isEmpty()) {
            parameters.insert(QStringLiteral("direct_url"), QStringLiteral("1"));
            parameters.insert(QStringLiteral("image_id"), picture.mediaId);
        }
        parameters.insert(QStringLiteral("image_url"), picture.url);
        parameters.insert(QStringLiteral("as_thumb"), QStringLiteral("1"));
        int queryId = -1;
        QString file;
        const bool refused = mTwitter->retrieveTinyUrlImage(parameters, &file, &queryId) != Tw::Twitter::RETRIEVE_OK;
        if (refused) {
            // Nothing will answer, as for an address that is no http one: failed at once.
            qWarning() << Q_FUNC_INFO << "picture refused by the client, the tweet goes without it:" << picture.url;
            file.clear();
        } else if (file.isEmpty()) {
            item->queryIds.append(queryId);
            continue;
        }
        // Held by the client already, or refused: answered at once under a local id. The
        // last such answer may complete and publish the item, which is then gone.
        item->queryIds.append(mNextLocalImageQueryId);
        onTinyUrlThumbLoaded(file, mNextLocalImageQueryId);
        --mNextLocalImageQueryId;
    }
    return true;
}

void TwitterDaemon::onTinyUrlThumbLoaded(const QString &fileUrl, int queryId)
{
    const auto found = std::find_if(mInFlight.pendingImageItems.cbegin(), mInFlight.pendingImageItems.cend(),
                                    [queryId](const auto &pending) { return pending->queryIds.contains(queryId); });
    if (found == mInFlight.pendingImageItems.cend())
        return;
    PendingImageItem *item = found->get();
    QString path = fileUrl;
    ensureImageExtension(path);
    item->images.append(path);
    if (item->images.size() < item->expectedCount)
        return;
    postAndRemember(item->tweet, item->avatar, item->images);
    mInFlight.pendingImageItems.erase(std::remove_if(mInFlight.pendingImageItems.begin(), mInFlight.pendingImageItems.end(),
                                                     [item](const auto &pending) { return pending.get() == item; }),
                                      mInFlight.pendingImageItems.end());
}

// The feed tells image types by file name: give the thumbnail the extension of its content.
void TwitterDaemon::ensureImageExtension(QString &path)
{
    if (path.isEmpty())
        return;
    const QByteArray format = pictureFormat(path);
    QString extension;
    if (format == "jpeg" && !path.endsWith(QLatin1String(".jpg")) && !path.endsWith(QLatin1String(".jpeg")))
        extension = QStringLiteral(".jpg");
    else if (format == "gif" && !path.endsWith(QLatin1String(".gif")))
        extension = QStringLiteral(".gif");
    else if (format == "png" && !path.endsWith(QLatin1String(".png")))
        extension = QStringLiteral(".png");
    else if (format == "tiff" && !path.endsWith(QLatin1String(".tiff")))
        extension = QStringLiteral(".tiff");
    if (!extension.isEmpty())
        copyWithExtension(path, extension);
}

// Copies rather than renames: the file belongs to the client's cache. Written under a
// temporary name and renamed, unbuffered so that a full disk fails the copy instead of
// leaving an empty picture.
void TwitterDaemon::copyWithExtension(QString &path, const QString &extension)
{
    QFile source(path);
    OwnFiles::replaceLink(path + extension);
    QSaveFile target(path + extension);
    if (!source.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qWarning() << Q_FUNC_INFO << "Failure while trying to open files" << path << target.errorString();
        return;
    }
    char block[CopyBlockSize];
    while (!source.atEnd()) {
        const qint64 read = source.read(block, CopyBlockSize);
        if (read <= 0 || target.write(block, read) != read) {
            // A partial copy would show a broken picture: keep the original name.
            qWarning() << Q_FUNC_INFO << "Failure while copying" << path << target.errorString();
            target.cancelWriting();
            return;
        }
    }
    if (!target.commit()) {
        qWarning() << Q_FUNC_INFO << "Failure while copying" << path << target.errorString();
        return;
    }
    path = target.fileName();
}
