// SPDX-License-Identifier: BSD-3-Clause
// PNG written with libpng directly: pixels, alpha and text keys come back as they were
// through QtGui's own reader, other formats are converted first, libpng's errors end in
// false, and neither writing nor reading back loads an image plugin.

#include "MappedImagePlugins.h"
#include "TwPngWriter.h"

#include <QBuffer>
#include <QImageReader>
#include <QRegularExpression>
#include <QTest>

namespace {

// PNG's colour types, byte 25 of a file: in the IHDR chunk right after the signature.
const int Gray = 0;
const int Rgb = 2;
const int RgbAlpha = 6;

int colorType(const QByteArray &png)
{
    return png.size() > 25 ? quint8(png.at(25)) : -1;
}

// Read the way the client reads its avatars: as PNG by name, without probing.
QImageReader *pngReader(QBuffer *buffer, const QByteArray &png)
{
    buffer->setData(png);
    buffer->open(QIODevice::ReadOnly);
    auto *reader = new QImageReader(buffer, "png");
    reader->setAutoDetectImageFormat(false);
    return reader;
}

QImage readBack(const QByteArray &png)
{
    QBuffer buffer;
    QScopedPointer<QImageReader> reader(pngReader(&buffer, png));
    return reader->read();
}

// Every colour channel and alpha level somewhere, fully transparent pixels keeping their colour.
QImage gradient(QImage::Format format)
{
    QImage image(16, 9, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x * 17, y * 31, 255 - x * 13, (x * 9 + y * 53) % 256));
    }
    return image.convertToFormat(format);
}

QImage indexed(bool withAlpha)
{
    QImage image(5, 3, QImage::Format_Indexed8);
    image.setColorTable({qRgba(255, 0, 0, 255), qRgba(0, 128, 0, withAlpha ? 0 : 255),
                         qRgba(10, 20, 30, withAlpha ? 77 : 255)});
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, uint((x + y) % 3));
    }
    return image;
}

QImage grayscale()
{
    QImage image(7, 4, QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.scanLine(y)[x] = uchar(x * 40 + y);
    }
    return image;
}

}

class TestTwPngWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTripKeepsPixelsAlphaAndTextKeys();
    void otherFormatsAreConverted_data();
    void otherFormatsAreConverted();
    void refusesANullImage();
    void libpngErrorsEndInFalse();
    // Last, after every writing and reading above.
    void loadsNoImagePlugin();
};

void TestTwPngWriter::roundTripKeepsPixelsAlphaAndTextKeys()
{
    QImage image = gradient(QImage::Format_ARGB32);
    const QString source = QStringLiteral("http://pbs.twimg.com/profile_images/79841/alice_bigger.jpg");
    image.setText(QStringLiteral("Source"), source);
    image.setText(QStringLiteral("Latin"), QStringLiteral("caf\u00e9"));
    image.setText(QStringLiteral("Wide"), QStringLiteral("\u6f22\u5b57 \u2713"));
    QByteArray png;
    QVERIFY(TwPngWriter::write(image, &png));
    QVERIFY(png.startsWith("\x89PNG\r\n\x1A\n"));
    QCOMPARE(colorType(png), RgbAlpha);

    QBuffer buffer;
    QScopedPointer<QImageReader> reader(pngReader(&buffer, png));
    QStringList keys = reader->textKeys();
    keys.sort();
    QCOMPARE(keys, QStringList({QStringLiteral("Latin"), QStringLiteral("Source"), QStringLiteral("Wide")}));
    QCOMPARE(reader->text(QStringLiteral("Source")), source);
    QCOMPARE(reader->text(QStringLiteral("Latin")), QStringLiteral("caf\u00e9"));
    QCOMPARE(reader->text(QStringLiteral("Wide")), QStringLiteral("\u6f22\u5b57 \u2713"));
    const QImage read = reader->read();
    QCOMPARE(read.convertToFormat(QImage::Format_ARGB32), image);
    QCOMPARE(qAlpha(read.pixel(0, 0)), 0);
}

void TestTwPngWriter::otherFormatsAreConverted_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("colorType");
    QTest::newRow("grayscale") << grayscale() << Gray;
    QTest::newRow("indexed") << indexed(false) << Rgb;
    QTest::newRow("indexed with alpha") << indexed(true) << RgbAlpha;
    QTest::newRow("mono") << gradient(QImage::Format_RGB32).convertToFormat(QImage::Format_Mono) << Rgb;
    QTest::newRow("rgb32") << gradient(QImage::Format_RGB32) << Rgb;
    QTest::newRow("rgb16") << gradient(QImage::Format_RGB16) << Rgb;
    QTest::newRow("argb32 premultiplied") << gradient(QImage::Format_ARGB32_Premultiplied) << RgbAlpha;
    QTest::newRow("rgba8888") << gradient(QImage::Format_RGBA8888) << RgbAlpha;
}

void TestTwPngWriter::otherFormatsAreConverted()
{
    QFETCH(QImage, image);
    QFETCH(int, colorType);
    QByteArray png;
    QVERIFY(TwPngWriter::write(image, &png));
    QCOMPARE(::colorType(png), colorType);
    const QImage read = readBack(png);
    QCOMPARE(read.size(), image.size());
    QCOMPARE(read.convertToFormat(QImage::Format_ARGB32), image.convertToFormat(QImage::Format_ARGB32));
}

void TestTwPngWriter::refusesANullImage()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no image to encode")));
    QByteArray png = "untouched";
    QVERIFY(!TwPngWriter::write(QImage(), &png));
    QCOMPARE(png, QByteArray("untouched"));
}

// A keyword of control characters only is left empty by libpng's check, an error
// raised halfway through the file.
void TestTwPngWriter::libpngErrorsEndInFalse()
{
    QImage image = gradient(QImage::Format_ARGB32);
    image.setText(QStringLiteral("\x01\x02"), QStringLiteral("value"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot encode .* invalid keyword")));
    QByteArray png = "untouched";
    QVERIFY(!TwPngWriter::write(image, &png));
    QCOMPARE(png, QByteArray("untouched"));

    // The writer is whole again for the next image.
    QVERIFY(TwPngWriter::write(gradient(QImage::Format_ARGB32), &png));
    QCOMPARE(readBack(png).convertToFormat(QImage::Format_ARGB32), gradient(QImage::Format_ARGB32));
}

void TestTwPngWriter::loadsNoImagePlugin()
{
    QCOMPARE(mappedImagePlugins(), QStringList());
}

QTEST_GUILESS_MAIN(TestTwPngWriter)
#include "tst_twpngwriter.moc"
