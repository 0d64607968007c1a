// SPDX-License-Identifier: BSD-3-Clause
// Downloaded pictures are decoded only as JPEG, PNG or GIF, told by their first bytes:
// anything else (SVG, garbage) is refused, and no other image plugin is loaded for it.

#include "MappedImagePlugins.h"
#include "TwPictures.h"
#include "TwPngWriter.h"

#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Tiny pictures as bytes, so that the test process writes none and loads no plugin for it.
const QByteArray Jpeg3x2 = QByteArray::fromBase64(
    "/9j/4AAQSkZJRgABAQEAZABkAAD/2wBDABALDA4MChAODQ4SERATGCgaGBYWGDEjJR0oOjM9PDkzODdASFxOQERXRTc4UG1RV19iZ2hnPk1x"
    "eXBkeFxlZ2P/2wBDARESEhgVGC8aGi9jQjhCY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2P/wAAR"
    "CAACAAMDASIAAhEBAxEB/8QAHwAAAQUBAQEBAQEAAAAAAAAAAAECAwQFBgcICQoL/8QAtRAAAgEDAwIEAwUFBAQAAAF9AQIDAAQRBRIhMUEG"
    "E1FhByJxFDKBkaEII0KxwRVS0fAkM2JyggkKFhcYGRolJicoKSo0NTY3ODk6Q0RFRkdISUpTVFVWV1hZWmNkZWZnaGlqc3R1dnd4eXqDhIWG"
    "h4iJipKTlJWWl5iZmqKjpKWmp6ipqrKztLW2t7i5usLDxMXGx8jJytLT1NXW19jZ2uHi4+Tl5ufo6erx8vP09fb3+Pn6/8QAHwEAAwEBAQEB"
    "AQEBAQAAAAAAAAECAwQFBgcICQoL/8QAtREAAgECBAQDBAcFBAQAAQJ3AAECAxEEBSExBhJBUQdhcRMiMoEIFEKRobHBCSMzUvAVYnLRChYk"
    "NOEl8RcYGRomJygpKjU2Nzg5OkNERUZHSElKU1RVVldYWVpjZGVmZ2hpanN0dXZ3eHl6goOEhYaHiImKkpOUlZaXmJmaoqOkpaanqKmqsrO0"
    "tba3uLm6wsPExcbHyMnK0tPU1dbX2Nna4uPk5ebn6Onq8vP09fb3+Pn6/9oADAMBAAIRAxEAPwDFoooryz7w/9k=");
const QByteArray Png3x2 = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAMAAAACCAIAAAASFvFNAAAACXBIWXMAAA9hAAAPYQGoP6dpAAAAEElEQVQImWP8zwAFTDAGAwATKQEDHDkK"
    "FgAAAABJRU5ErkJggg==");
const QByteArray Gif1x1 = QByteArray::fromBase64("R0lGODlhAQABAIAAAP8AAAAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==");

// The one-pixel GIF claiming to be 5000 pixels wide, in its screen and its image.
QByteArray wideGif()
{
    QByteArray gif = Gif1x1;
    gif[6] = char(0x88);
    gif[7] = char(0x13);
    gif[32] = char(0x88);
    gif[33] = char(0x13);
    return gif;
}

}

class TestTwPictures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodesJpegPngAndGif_data();
    void decodesJpegPngAndGif();
    void refusesWhatIsNoJpegPngOrGif_data();
    void refusesWhatIsNoJpegPngOrGif();
    void refusesABrokenPictureBehindAGoodSignature_data();
    void refusesABrokenPictureBehindAGoodSignature();
    void refusesAPictureTooLargeToDecode();
    void largePngThumbnailIsScaledAndWrittenAsPng();
    void avatarWithoutMaskTakesTheNamedSize();
    // Last, after every kind of input above.
    void loadsOnlyThePluginOfTheFormatDecoded();
};

void TestTwPictures::decodesJpegPngAndGif_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::newRow("jpeg") << Jpeg3x2 << QByteArray("jpeg") << QSize(3, 2);
    QTest::newRow("png") << Png3x2 << QByteArray("png") << QSize(3, 2);
    QTest::newRow("gif") << Gif1x1 << QByteArray("gif") << QSize(1, 1);
}

void TestTwPictures::decodesJpegPngAndGif()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QByteArray decodedFormat;
    QString error;
    const QImage image = TwPictures::decode(data, &decodedFormat, &error);
    QCOMPARE(error, QString());
    QCOMPARE(decodedFormat, format);
    QCOMPARE(image.size(), size);
}

void TestTwPictures::refusesWhatIsNoJpegPngOrGif_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("svg") << QByteArray("<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"3\" "
                                       "height=\"2\"><rect width=\"3\" height=\"2\" fill=\"red\"/></svg>");
    QTest::newRow("svg without prolog")
        << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"3\" height=\"2\"></svg>");
    QTest::newRow("garbage") << QByteArray("\x01\x02garbage that is no picture at all", 35);
    QTest::newRow("html") << QByteArray("<html><body>Not found</body></html>");
    QTest::newRow("bmp") << QByteArray("BM\x3a\0\0\0\0\0\0\0\x36\0\0\0", 14);
    QTest::newRow("empty") << QByteArray();
}

void TestTwPictures::refusesWhatIsNoJpegPngOrGif()
{
    QFETCH(QByteArray, data);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("neither JPEG, PNG nor GIF")));
    QByteArray format = "stale";
    QString error;
    QVERIFY(TwPictures::decode(data, &format, &error).isNull());
    QCOMPARE(error, QStringLiteral("Not a picture"));
    QCOMPARE(format, QByteArray());
}

void TestTwPictures::refusesABrokenPictureBehindAGoodSignature_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("jpeg") << QByteArray("\xFF\xD8\xFF\xE0 then garbage");
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1A\n then garbage");
    QTest::newRow("gif") << QByteArray("GIF89a");
    QTest::newRow("cut jpeg") << Jpeg3x2.left(40);
}

void TestTwPictures::refusesABrokenPictureBehindAGoodSignature()
{
    QFETCH(QByteArray, data);
    QByteArray format;
    QString error;
    QVERIFY(TwPictures::decode(data, &format, &error).isNull());
    QVERIFY2(error.startsWith(QLatin1String("Unreadable picture")), qPrintable(error));
}

void TestTwPictures::refusesAPictureTooLargeToDecode()
{
    QByteArray format;
    QString error;
    QVERIFY(TwPictures::decode(wideGif(), &format, &error).isNull());
    QCOMPARE(error, QStringLiteral("Picture too large: 5000 x 1"));
}

// A PNG too large to be kept as it came is scaled down and written as PNG again, alpha
// included; the picture is made by TwPngWriter, so that no image plugin is loaded for it.
void TestTwPictures::largePngThumbnailIsScaledAndWrittenAsPng()
{
    QImage large(400, 200, QImage::Format_ARGB32);
    large.fill(qRgba(200, 100, 50, 128));
    QByteArray data;
    QVERIFY(TwPngWriter::write(large, &data));
    QByteArray format;
    QString error;
    const QImage picture = TwPictures::decode(data, &format, &error);
    QCOMPARE(format, QByteArray("png"));

    const QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = TwPictures::saveThumbnail(data, picture, format, folder.filePath(QStringLiteral("thumb")));
    QCOMPARE(path, folder.filePath(QStringLiteral("thumb.png")));
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    const QImage thumbnail = reader.read();
    QCOMPARE(thumbnail.size(), QSize(150, 75));
    // Smooth scaling goes through premultiplied colours, which may round a level off.
    const QRgb middle = thumbnail.pixel(75, 37);
    QCOMPARE(qAlpha(middle), 128);
    QVERIFY(qAbs(qRed(middle) - 200) <= 1 && qAbs(qGreen(middle) - 100) <= 1 && qAbs(qBlue(middle) - 50) <= 1);
}

void TestTwPictures::avatarWithoutMaskTakesTheNamedSize()
{
    QImage picture(60, 30, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    QCOMPARE(TwPictures::composeAvatar(picture, QImage(), QStringLiteral("mini")).size(), QSize(24, 24));
    QCOMPARE(TwPictures::composeAvatar(picture, QImage(), QStringLiteral("normal")).size(), QSize(48, 48));
}

void TestTwPictures::loadsOnlyThePluginOfTheFormatDecoded()
{
    QByteArray format;
    QString error;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("neither JPEG, PNG nor GIF")));
    TwPictures::decode("<svg xmlns=\"http://www.w3.org/2000/svg\"/>", &format, &error);
    for (const QByteArray &data : {Jpeg3x2, Png3x2, Gif1x1})
        QVERIFY(!TwPictures::decode(data, &format, &error).isNull());
    // PNG is QtGui's own, read and written; the SVG plugin would bring QtSvg and QtWidgets.
    QCOMPARE(mappedImagePlugins(),
             QStringList({QStringLiteral("/imageformats/libqgif.so"), QStringLiteral("/imageformats/libqjpeg.so")}));
}

QTEST_GUILESS_MAIN(TestTwPictures)
#include "tst_twpictures.moc"
