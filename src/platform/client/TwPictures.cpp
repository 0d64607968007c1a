// SPDX-License-Identifier: BSD-3-Clause
#include "TwPictures.h"

#include "TwCache.h"
#include "TwPngWriter.h"
#include "Twitter.h"

#include <QBuffer>
#include <QDebug>
#include <QImageReader>

namespace {

const QString ThumbSuffix = QStringLiteral(":thumb");
// Larger pictures are refused before decoding: 4096 x 4096 x 4 bytes is 64 MiB already.
const int MaxDecodedSide = 4096;
const int ThumbnailSide = 150;

QString firstPathSegment(const QUrl &link)
{
    return link.path().section(QLatin1Char('/'), 0, 0, QString::SectionSkipEmpty);
}

QString hostWithoutWww(const QUrl &link)
{
    QString host = link.host().toLower();
    if (host.startsWith(QLatin1String("www.")))
        host.remove(0, 4);
    return host;
}

int namedAvatarSide(const QString &size)
{
    if (size == QLatin1String("mini"))
        return 24;
    if (size == QLatin1String("normal"))
        return 48;
    return 73;
}

// The formats the client decodes. Naming the format keeps QImageReader from asking every
// image plugin, and refuses whatever else a host sends.
bool decodable(const QByteArray &format)
{
    return format == "jpeg" || format == "png" || format == "gif";
}

// QImageWriter instantiates the image plugins in name order until one writes the format:
// for JPEG only those up to the JPEG plugin, for PNG, which none of them writes, every one
// (the SVG one with QtSvg and QtWidgets); PNG is written by TwPngWriter instead.
bool encodeJpeg(const QImage &image, QByteArray *jpeg)
{
    QBuffer buffer(jpeg);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "jpeg");
}

QString extensionOf(const QByteArray &format)
{
    return format == "jpeg" ? QStringLiteral("jpg") : QString::fromLatin1(format);
}

}

QUrl TwPictures::thumbnailSource(const QUrl &link)
{
    const QString host = hostWithoutWww(link);
    if (link.path().endsWith(ThumbSuffix) || !Tw::Twitter::pictureHosts().contains(host))
        return link;
    const QString page = firstPathSegment(link);
    if (host == QLatin1String("twitpic.com")) {
        // A link may name the thumbnail itself already.
        if (link.path().startsWith(QLatin1String("/show/")))
            return link;
        return QUrl(QStringLiteral("http://twitpic.com/show/thumb/") + page);
    }
    if (host == QLatin1String("yfrog.com"))
        return QUrl(QStringLiteral("http://yfrog.com/") + page + QStringLiteral(".th.jpg"));
    // instagr.am/p/<code>/, or a short instagr.am/<code>
    const QString code = page == QLatin1String("p")
        ? link.path().section(QLatin1Char('/'), 1, 1, QString::SectionSkipEmpty)
        : page;
    return QUrl(QStringLiteral("http://instagr.am/p/") + code + QStringLiteral("/media/?size=t"));
}

QImage TwPictures::decode(const QByteArray &data, QByteArray *format, QString *error,
                          const std::function<QSize(const QSize &)> &shownSize, QSize *fullSize)
{
    *format = Tw::Twitter::pictureFormat(data);
    if (!decodable(*format)) {
        format->clear();
        qWarning() << Q_FUNC_INFO << "refusing a picture that is neither JPEG, PNG nor GIF, starting with"
                   << data.left(8).toHex(' ');
        *error = QStringLiteral("Not a picture");
        return QImage();
    }
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, *format);
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (!size.isValid()) {
        *error = QStringLiteral("Unreadable picture: ") + reader.errorString();
        return QImage();
    }
    if (size.width() > MaxDecodedSide || size.height() > MaxDecodedSide) {
        *error = QStringLiteral("Picture too large: %1 x %2").arg(size.width()).arg(size.height());
        return QImage();
    }
    if (fullSize)
        *fullSize = size;
    // PNG and GIF are decoded whole whatever is asked: they are scaled afterwards as before.
    if (shownSize && *format == "jpeg") {
        const QSize shown = shownSize(size);
        if (shown.width() < size.width() && shown.height() < size.height())
            reader.setScaledSize(shown);
    }
    const QImage image = reader.read();
    if (image.isNull())
        *error = QStringLiteral("Unreadable picture: ") + reader.errorString();
    return image;
}

QSize TwPictures::thumbnailSize(const QSize &picture)
{
    const bool small = picture.width() <= 2 * ThumbnailSide && picture.height() <= 2 * ThumbnailSide;
    return small ? picture : picture.scaled(ThumbnailSide, ThumbnailSide, Qt::KeepAspectRatio);
}

QSize TwPictures::avatarSize(const QSize &picture, const QImage &mask, const QString &size)
{
    const QSize target = mask.isNull() ? QSize(namedAvatarSide(size), namedAvatarSide(size)) : mask.size();
    return picture.scaled(target, Qt::KeepAspectRatioByExpanding);
}

QImage TwPictures::composeAvatar(const QImage &picture, const QImage &mask, const QString &size)
{
    const QSize target = mask.isNull() ? QSize(namedAvatarSide(size), namedAvatarSide(size)) : mask.size();
    const QImage scaled = picture.scaled(target, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QImage avatar = scaled.copy((scaled.width() - target.width()) / 2, (scaled.height() - target.height()) / 2,
                                target.width(), target.height())
                        .convertToFormat(QImage::Format_ARGB32);
    if (mask.isNull())
        return avatar;
    const QImage alpha = mask.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < avatar.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(avatar.scanLine(y));
        const auto *maskLine = reinterpret_cast<const QRgb *>(alpha.constScanLine(y));
        for (int x = 0; x < avatar.width(); ++x)
            line[x] = qRgba(qRed(line[x]), qGreen(line[x]), qBlue(line[x]), qGray(maskLine[x]) * qAlpha(line[x]) / 255);
    }
    return avatar;
}

const QList<QLatin1String> &TwPictures::thumbnailExtensions()
{
    static const QList<QLatin1String> extensions = {QLatin1String(".gif"), QLatin1String(".jpg"), QLatin1String(".png")};
    return extensions;
}

QString TwPictures::saveThumbnail(const QByteArray &data, const QImage &picture, const QByteArray &format,
                                  const QString &basePath, const QSize &fullSize)
{
    const QSize original = fullSize.isValid() ? fullSize : picture.size();
    const bool small = original.width() <= 2 * ThumbnailSide && original.height() <= 2 * ThumbnailSide;
    if (small && (format == "jpeg" || format == "png" || format == "gif")) {
        const QString path = basePath + QLatin1Char('.') + extensionOf(format);
        return TwCache::writeFile(path, data) ? path : QString();
    }
    const QByteArray encoding = format == "jpeg" ? format : QByteArray("png");
    // A picture decoded at its thumbnail's size already is left as it is by scaled().
    const QImage thumbnail = small ? picture
                                   : picture.scaled(ThumbnailSide, ThumbnailSide, Qt::KeepAspectRatio,
                                                    Qt::SmoothTransformation);
    QByteArray encoded;
    const QString path = basePath + QLatin1Char('.') + extensionOf(encoding);
    if (!(encoding == "png" ? TwPngWriter::write(thumbnail, &encoded) : encodeJpeg(thumbnail, &encoded))) {
        qWarning() << Q_FUNC_INFO << "cannot encode the thumbnail as" << encoding;
        return QString();
    }
    return TwCache::writeFile(path, encoded) ? path : QString();
}
