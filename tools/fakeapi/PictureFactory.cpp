// SPDX-License-Identifier: BSD-3-Clause
#include "PictureFactory.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QPainter>

namespace {

const QStringList PictureSuffixes = {QStringLiteral(".jpg"), QStringLiteral(".jpeg"), QStringLiteral(".png"),
                                     QStringLiteral(".gif")};

// The path without a size suffix such as ":thumb" after the file name.
QString plainPath(const QUrl &url)
{
    const QString path = url.path().toLower();
    const int colon = path.lastIndexOf(QLatin1Char(':'));
    return colon > path.lastIndexOf(QLatin1Char('/')) ? path.left(colon) : path;
}

int sideOf(const QUrl &url)
{
    const QString path = url.path();
    if (path.contains(QLatin1String("_mini.")))
        return 24;
    if (path.contains(QLatin1String("_normal.")))
        return 48;
    if (path.contains(QLatin1String("_bigger.")))
        return 73;
    return 150;
}

}

bool PictureFactory::isPicture(const QUrl &url)
{
    const QString path = plainPath(url);
    for (const QString &suffix : PictureSuffixes) {
        if (path.endsWith(suffix))
            return true;
    }
    // twitpic.com/show/thumb/<id> and instagr.am/p/<code>/media/
    return path.startsWith(QLatin1String("/show/")) || path.endsWith(QLatin1String("/media/"));
}

HttpResponse PictureFactory::picture(const QUrl &url)
{
    const QByteArray hash = QCryptographicHash::hash(url.toEncoded(), QCryptographicHash::Sha1);
    const int side = sideOf(url);
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(QColor(quint8(hash.at(0)), quint8(hash.at(1)), quint8(hash.at(2))));
    QPainter painter(&image);
    painter.fillRect(side / 4, side / 4, side / 2, side / 2,
                     QColor(quint8(hash.at(3)), quint8(hash.at(4)), quint8(hash.at(5))));
    painter.end();

    const bool png = plainPath(url).endsWith(QLatin1String(".png"));
    HttpResponse response;
    response.contentType = png ? "image/png" : "image/jpeg";
    QBuffer buffer(&response.body);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, png ? "png" : "jpeg");
    return response;
}
