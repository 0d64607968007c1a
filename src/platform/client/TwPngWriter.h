// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>
#include <QImage>

// PNG encoding with libpng directly. QImageWriter (and so QImage::save) instantiates
// every image plugin of Qt 5.15 before it looks at the format asked for; the SVG one
// alone brings QtSvg and QtWidgets into the process.
class TwPngWriter
{
public:
    // The PNG bytes of image: 8 bits per channel, grey for Format_Grayscale8, RGBA for
    // images with an alpha channel (not premultiplied), RGB otherwise; each of the image's
    // text keys as a text chunk (iTXt for values outside Latin-1), so that
    // QImageReader::text() gives them back. False with a warning, and *png untouched, for
    // a null image or when libpng fails.
    static bool write(const QImage &image, QByteArray *png);
};
