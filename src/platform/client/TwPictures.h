// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

// Pictures from the network made safe and ready for the feed: decoded only within
// bounds, avatars cut round by the mask, thumbnails small and named after their content.
class TwPictures
{
public:
    // What to download for a thumbnail of a link: a media URL (":thumb") or an image
    // file as it is, a picture page of Tw::Twitter::pictureHosts() through that site's
    // thumbnail address.
    static QUrl thumbnailSource(const QUrl &link);

    // Decodes a downloaded JPEG, PNG or GIF picture, told by its first bytes; a null image
    // and *error set for anything else, a broken picture or one too big to decode.
    // *format receives its format ("jpeg", "png", "gif"), empty for anything else.
    // shownSize, when given, tells from the picture's own size (written to *fullSize) the
    // size it is shown at: a larger JPEG is then decoded at that size, which libjpeg does
    // for a fraction of the work of a full decode (it scales while decoding, by down to 1/8
    // of the side).
    static QImage decode(const QByteArray &data, QByteArray *format, QString *error,
                         const std::function<QSize(const QSize &)> &shownSize = {}, QSize *fullSize = nullptr);

    // The size a picture of this size is shown at as a thumbnail, and as an avatar before
    // it is cropped (see composeAvatar).
    static QSize thumbnailSize(const QSize &picture);
    static QSize avatarSize(const QSize &picture, const QImage &mask, const QString &size);

    // The avatar scaled and cropped to the mask's size, with the mask's grey levels as
    // its alpha (white opaque, black transparent); only scaled to the named size
    // ("mini", "normal", "bigger") when there is no mask.
    static QImage composeAvatar(const QImage &picture, const QImage &mask, const QString &size);

    // Writes a thumbnail at basePath plus the extension of its format; downloads that are
    // small enough are kept as they came, told by fullSize (the picture's own size, when
    // it was decoded smaller). The path written, or empty on failure.
    // The extensions saveThumbnail() gives files, in name order.
    static const QList<QLatin1String> &thumbnailExtensions();
    static QString saveThumbnail(const QByteArray &data, const QImage &picture, const QByteArray &format,
                                 const QString &basePath, const QSize &fullSize = QSize());
};
