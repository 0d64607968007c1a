// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

// The client's on-disk cache of one account, in $XDG_CACHE_HOME/twitter-client/<user id>/:
//   responses/<name>.json    the last answer of each kind of request, as JSON
//   avatars/<name>.png       avatars composed with the mask
//   thumbnails/<name>.<ext>  picture thumbnails, with the extension of their content
// Names are hashes of what identifies the entry. A file's age counts from when it was
// last written or served; removeOlderThan() drops the old ones.
class TwCache
{
public:
    explicit TwCache(const QString &userId);

    QString root() const { return mRoot; }

    // The stored value, or an invalid variant when there is none or it is unreadable.
    QVariant response(const QString &key) const;
    bool storeResponse(const QString &key, const QVariant &value) const;

    // Where the picture of this key lives in a folder ("avatars", "thumbnails"), without
    // extension; the folder is made when missing.
    QString picturePath(const QString &folder, const QString &key) const;
    // The existing file of this key in a folder with the first of the extensions that
    // the folder's pictures are given (in name order, as a listing would show them);
    // empty if none. A file that does not start with its format's signature (an empty
    // one among them) is removed and not counted.
    QString existingPicture(const QString &folder, const QString &key, const QList<QLatin1String> &extensions) const;
    static bool writeFile(const QString &path, const QByteArray &content);

    void removeOlderThan(int days) const;
    void removeAll() const;

private:
    static QString fileName(const QString &key);
    // Whether the file starts as a picture of its extension's format does; if so it is made
    // younger, if not it is removed.
    static bool servePicture(const QString &path, const QLatin1String &extension);

    QString mRoot;
};
