// Pictures of a tweet: attached photos and links to picture pages become thumbnails,
// and the tweet is held back until every thumbnail has been answered.

#include "TwitterDaemon.h"

#include "Twitter.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>

namespace {

const int CopyBlockSize = 4096;

struct Picture
{
    QString mediaId; // empty for a link found in the text
    QString url;
};

// The format of a picture file by its first bytes.
QByteArray pictureFormat(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? Tw::Twitter::pictureFormat(file.read(8)) : QByteArray();
}

// Characters that would end the anchor early are percent-encoded: the markup is made
// from the service's data, and a link stays a valid URL that way.
QString anchorSafe(QString text)
{
    text.replace(QLatin1Char('"'), QLatin1String("%22"));
    text.replace(QLatin1Char('<'), QLatin1String("%3C"));
    text.replace(QLatin1Char('>'), QLatin1String("%3E"));
    return text;
}

// Copy of the text with every URL entity turned into an anchor whose text is the
// expanded URL, so that the links can be found by their visible text.
QString markUpLinks(const QString &text, const QVariantList &urls)
{
    struct Link
    {
        QString url;
        QString anchorText;
    };
    QMap<int, Link> byStart; // a later entity at the same start replaces an earlier one
    for (const QVariant &entity : urls) {
        const QVariantMap map = entity.toMap();
        const QString url = map.value(QStringLiteral("url")).toString();
        const QString expanded = map.value(QStringLiteral("expanded_url")).toString();
        const int start = map.value(QStringLiteral("indices")).toList().value(0).toInt();
        byStart.insert(start, {url, expanded.isEmpty() ? url : expanded});
    }

    // From the last to the first, so that earlier positions stay valid. Positions come
    // from the network: an entity outside the text or over the next one is skipped.
    QString marked = text;
    int limit = text.size();
    for (auto it = byStart.cend(); it != byStart.cbegin();) {
        --it;
        const int start = it.key();
        const int length = it.value().url.size();
        if (start < 0 || length > limit - start) {
            qWarning() << Q_FUNC_INFO << "skipping a URL entity outside the text or overlapping another:"
                       << start << it.value().url;
            continue;
        }
        marked.replace(start, length,
                       QLatin1String("<a href=\"") + anchorSafe(it.value().url) + QLatin1String("\">")
                           + anchorSafe(it.value().anchorText) + QLatin1String("</a>"));
        limit = start;
    }
    return marked;
}

// Appends each anchor text that starts with marker (after its '>') and that the client
// can make a thumbnail of, prefixed, unless already listed.
void scanAnchors(const QString &text, const QString &marker, const QString &prefix, QStringList *links)
{
    int from = 0;
    while (true) {
        const int start = text.indexOf(marker, from);
        if (start < 0)
            return;
        int end = text.indexOf(QLatin1Char('<'), start);
        if (end < 0)
            end = text.size();
        const QString candidate = prefix + text.mid(start + 1, end - start - 1);
        if (Tw::Twitter::imageTypeSupported(candidate) && !links->contains(candidate))
            links->append(candidate);
        if (end >= text.size())
            return;
        from = end;
    }
}

}

bool TwitterDaemon::processTweetImages(const QVariantMap &tweet, const QString &avatar)
{
    const QVariant retweeted = tweet.value(QStringLiteral("retweeted_status"));
    const QVariantMap source = retweeted.isValid() ? retweeted.toMap() : tweet;
    const QVariantMap entities = source.value(QStringLiteral("entities")).toMap();

    QList<Picture> pictures;
    for (const QVariant &media : entities.value(QStringLiteral("media")).toList()) {
        const QVariantMap map = media.toMap();
        pictures.append({map.value(QStringLiteral("id")).toString(),
                         map.value(QStringLiteral("media_url")).toString() + QLatin1String(":thumb")});
    }
    const QString markedUp = markUpLinks(source.value(QStringLiteral("text")).toString(),
                                         entities.value(QStringLiteral("urls")).toList());
    for (const QString &link : extractImageLinks(markedUp))
        pictures.append({QString(), link});
    if (pictures.isEmpty() || !mTwitter)
        return false;
    // A refresh while its thumbnails are on their way finds the tweet again: it waits once.
    for (const PendingImageItem *pending : qAsConst(mPendingImageItems)) {
        if (pending->tweet.value(QStringLiteral("id")) == tweet.value(QStringLiteral("id")))
            return true;
    }

    auto *item = new PendingImageItem;
    item->tweet = tweet;
    item->avatar = avatar;
    item->expectedCount = pictures.size();
    mPendingImageItems.append(item);
    for (const Picture &picture : qAsConst(pictures)) {
        QMap<QString, QString> parameters;
        if (!picture.mediaId.isEmpty()) {
            parameters.insert(QStringLiteral("direct_url"), QStringLiteral("1"));
            parameters.insert(QStringLiteral("image_id"), picture.mediaId);
        }
        parameters.insert(QStringLiteral("image_url"), picture.url);
        parameters.insert(QStringLiteral("as_thumb"), QStringLiteral("1"));
        int queryId = -1;
        QString file;
        mTwitter->retrieveTinyUrlImage(parameters, &file, &queryId);
        if (file.isEmpty()) {
            item->queryIds.append(queryId);
            continue;
        }
        // Held by the client already: answered at once under a local id. The last such
        // answer may complete and publish the item, which is then gone.
        item->queryIds.append(mNextLocalImageQueryId);
        onTinyUrlThumbLoaded(file, mNextLocalImageQueryId);
        --mNextLocalImageQueryId;
    }
    return true;
}

QStringList TwitterDaemon::extractImageLinks(const QString &markedUpText)
{
    QStringList links;
    scanAnchors(markedUpText, QStringLiteral(">http:"), QString(), &links);
    for (const QString &host : Tw::Twitter::pictureHosts()) {
        scanAnchors(markedUpText, QLatin1Char('>') + host, QStringLiteral("http://"), &links);
        scanAnchors(markedUpText, QLatin1String(">www.") + host, QStringLiteral("http://"), &links);
    }
    return links;
}

void TwitterDaemon::onTinyUrlThumbLoaded(const QString &fileUrl, int queryId)
{
    PendingImageItem *item = nullptr;
    for (PendingImageItem *pending : qAsConst(mPendingImageItems)) {
        if (pending->queryIds.contains(queryId)) {
            item = pending;
            break;
        }
    }
    if (!item)
        return;
    QString path = fileUrl;
    ensureImageExtension(path);
    item->images.append(path);
    if (item->images.size() < item->expectedCount)
        return;
    postAndRemember(item->tweet, item->avatar, item->images);
    mPendingImageItems.removeOne(item);
    delete item;
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
