// SPDX-License-Identifier: BSD-3-Clause
#include "TwPngWriter.h"

#include <QDebug>
#include <QVector>

#include <png.h>

#include <csetjmp>

namespace {

// libpng's longest keyword.
const int MaxKeyLength = 79;

// What the error handler leaves for the caller; plain data, as it outlives a longjmp.
struct PngError
{
    char message[256];
};

[[noreturn]] void onError(png_structp png, png_const_charp message)
{
    auto *error = static_cast<PngError *>(png_get_error_ptr(png));
    qstrncpy(error->message, message, sizeof error->message);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp message)
{
    qWarning() << Q_FUNC_INFO << message;
}

void append(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), int(length));
}

// Everything libpng is handed is made beforehand: a longjmp out of libpng back to here
// skips no destructor, as no object with one lives in this function.
bool encode(png_structp png, png_infop info, QByteArray *out, int width, int height, int colorType,
            png_bytepp rows, png_textp texts, int textCount)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, append, nullptr);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (textCount > 0)
        png_set_text(png, info, texts, textCount);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

// The image in a format whose bytes are PNG's rows as they are, and its PNG colour type.
QImage pngPixels(const QImage &image, int *colorType)
{
    if (image.format() == QImage::Format_Grayscale8) {
        *colorType = PNG_COLOR_TYPE_GRAY;
        return image;
    }
    if (image.hasAlphaChannel()) {
        *colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        return image.convertToFormat(QImage::Format_RGBA8888);
    }
    *colorType = PNG_COLOR_TYPE_RGB;
    return image.convertToFormat(QImage::Format_RGB888);
}

}

bool TwPngWriter::write(const QImage &image, QByteArray *png)
{
    if (image.isNull()) {
        qWarning() << Q_FUNC_INFO << "no image to encode";
        return false;
    }
    int colorType = PNG_COLOR_TYPE_RGB;
    const QImage pixels = pngPixels(image, &colorType);
    // libpng only reads the rows; constScanLine() spares a copy of a shared image.
    QVector<png_bytep> rows(pixels.height());
    for (int y = 0; y < pixels.height(); ++y)
        rows[y] = const_cast<png_bytep>(pixels.constScanLine(y));

    // The chunks point into these arrays, which live until libpng is done.
    const QStringList keys = image.textKeys();
    QVector<QByteArray> keywords(keys.size());
    QVector<QByteArray> values(keys.size());
    QVector<png_text> texts(keys.size());
    for (int i = 0; i < keys.size(); ++i) {
        const QString value = image.text(keys.at(i));
        const bool latin1 = QString::fromLatin1(value.toLatin1()) == value;
        keywords[i] = keys.at(i).left(MaxKeyLength).toLatin1();
        values[i] = latin1 ? value.toLatin1() : value.toUtf8();
        texts[i] = png_text();
        texts[i].compression = latin1 ? PNG_TEXT_COMPRESSION_NONE : PNG_ITXT_COMPRESSION_NONE;
        texts[i].key = keywords[i].data();
        texts[i].text = values[i].data();
        texts[i].text_length = size_t(values[i].size());
    }

    PngError error = {};
    png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, onError, onWarning);
    png_infop info = writer ? png_create_info_struct(writer) : nullptr;
    QByteArray encoded;
    const bool written = info
        && encode(writer, info, &encoded, pixels.width(), pixels.height(), colorType, rows.data(), texts.data(),
                  texts.size());
    png_destroy_write_struct(&writer, &info);
    if (!written) {
        qWarning() << Q_FUNC_INFO << "cannot encode a" << image.size() << "image as PNG:"
                   << (error.message[0] ? error.message : "out of memory");
        return false;
    }
    *png = encoded;
    return true;
}
