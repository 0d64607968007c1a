// The daemon's resources: the compiled-in avatar mask, the generated images and their
// generator, and the translation catalogue as OLocale loads it.

#include "OLocale.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>
#include <QVector>

class TestResources : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void avatarMaskIsCompiledIn();
    void avatarMaskIsWhiteDiscOnBlack();
    void avatarMaskHasTranslucentRim();
    void avatarMaskIsSymmetric();
    void avatarMaskFileIsRgba8();
    void generatorIsDeterministic();
    void generatorFailsWithMessage();
    void defaultAvatarIsSilhouette();

    void catalogueTexts();

private:
    static QByteArray readFile(const QString &path);
    static QString buildFile(const QString &name);
    static bool isBlack(QRgb pixel) { return pixel == qRgba(0, 0, 0, 255); }
    static bool isWhite(QRgb pixel) { return pixel == qRgba(255, 255, 255, 255); }
    static bool isRim(QRgb pixel);

    QImage mMask;
    QTemporaryDir mDataHome;
};

QByteArray TestResources::readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString TestResources::buildFile(const QString &name)
{
    return QStringLiteral(RESOURCES_BUILD_DIR "/") + name;
}

bool TestResources::isRim(QRgb pixel)
{
    return qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel)
        && qRed(pixel) > 0 && qRed(pixel) < 255 && qAlpha(pixel) > 0 && qAlpha(pixel) < 255;
}

void TestResources::initTestCase()
{
    // The catalogue from the build tree only: no user or system data folder in between.
    QVERIFY(mDataHome.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(mDataHome.path()));
    qputenv("XDG_DATA_DIRS", QByteArrayLiteral(DATA_BUILD_DIR));

    mMask = QImage(QStringLiteral(":/avatar-mask"));
    QVERIFY(!mMask.isNull());
    // Pixel values as stored, not premultiplied.
    mMask = mMask.convertToFormat(QImage::Format_ARGB32);
}

void TestResources::avatarMaskIsCompiledIn()
{
    QVERIFY(QFile::exists(QStringLiteral(":/avatar-mask")));
    QCOMPARE(mMask.size(), QSize(73, 73));
    QVERIFY(QImage(QStringLiteral(":/avatar-mask")).hasAlphaChannel());
    // The embedded bytes are the generated file's.
    const QByteArray embedded = readFile(QStringLiteral(":/avatar-mask"));
    QVERIFY(!embedded.isEmpty());
    QCOMPARE(embedded, readFile(buildFile(QStringLiteral("avatar-mask.png"))));
}

void TestResources::avatarMaskIsWhiteDiscOnBlack()
{
    QVERIFY(isBlack(mMask.pixel(0, 0)));
    QVERIFY(isBlack(mMask.pixel(72, 0)));
    QVERIFY(isBlack(mMask.pixel(0, 72)));
    QVERIFY(isBlack(mMask.pixel(72, 72)));
    QVERIFY(isWhite(mMask.pixel(36, 36)));
    // The disc fills the square: it reaches the middle of every side.
    QVERIFY(!isBlack(mMask.pixel(36, 0)));
    QVERIFY(!isBlack(mMask.pixel(0, 36)));
    QVERIFY(!isBlack(mMask.pixel(72, 36)));
    QVERIFY(!isBlack(mMask.pixel(36, 72)));

    // Every pixel is outside, inside or rim; nothing else.
    for (int y = 0; y < mMask.height(); ++y) {
        for (int x = 0; x < mMask.width(); ++x) {
            const QRgb pixel = mMask.pixel(x, y);
            if (!isBlack(pixel) && !isWhite(pixel) && !isRim(pixel))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(pixel, 8, 16)));
        }
    }
}

void TestResources::avatarMaskHasTranslucentRim()
{
    // A rim pixel separates outside from inside wherever they meet in a row or column,
    // and rim pixels lie all round the circle (in each of the eight octants).
    int rimPixels = 0;
    QVector<int> octants(8, 0);
    for (int y = 0; y < 73; ++y) {
        for (int x = 0; x < 73; ++x) {
            const QRgb pixel = mMask.pixel(x, y);
            if (isRim(pixel)) {
                ++rimPixels;
                const int dx = 2 * x - 72;
                const int dy = 2 * y - 72;
                const int octant = (dx >= 0 ? 0 : 4) + (dy >= 0 ? 0 : 2) + (qAbs(dx) >= qAbs(dy) ? 0 : 1);
                ++octants[octant];
            }
            if (x > 0) {
                const QRgb left = mMask.pixel(x - 1, y);
                QVERIFY2(!(isBlack(left) && isWhite(pixel)) && !(isWhite(left) && isBlack(pixel)),
                         qPrintable(QStringLiteral("row %1 at %2").arg(y).arg(x)));
            }
            if (y > 0) {
                const QRgb above = mMask.pixel(x, y - 1);
                QVERIFY2(!(isBlack(above) && isWhite(pixel)) && !(isWhite(above) && isBlack(pixel)),
                         qPrintable(QStringLiteral("column %1 at %2").arg(x).arg(y)));
            }
        }
    }
    // The circumference is about 229 pixels.
    QVERIFY2(rimPixels >= 150, qPrintable(QString::number(rimPixels)));
    for (int octant = 0; octant < 8; ++octant)
        QVERIFY2(octants.at(octant) >= 15, qPrintable(QStringLiteral("octant %1").arg(octant)));

    // On the diagonal from the corner to the centre: black, then rim, then white.
    int x = 0;
    while (isBlack(mMask.pixel(x, x)))
        ++x;
    QVERIFY(x > 0);
    QVERIFY(isRim(mMask.pixel(x, x)));
    while (isRim(mMask.pixel(x, x)))
        ++x;
    QVERIFY(isWhite(mMask.pixel(x, x)));
}

void TestResources::avatarMaskIsSymmetric()
{
    QCOMPARE(mMask.mirrored(true, false), mMask);
    QCOMPARE(mMask.mirrored(false, true), mMask);
    QCOMPARE(mMask.transformed(QTransform().rotate(90)), mMask);
}

void TestResources::avatarMaskFileIsRgba8()
{
    const QString path = buildFile(QStringLiteral("avatar-mask.png"));
    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("png"));
    QCOMPARE(reader.size(), QSize(73, 73));
    QCOMPARE(reader.imageFormat(), QImage::Format_ARGB32);

    // IHDR: signature (8), length (4), type (4), width (4), height (4), bit depth, colour type.
    const QByteArray png = readFile(path);
    QVERIFY(png.size() > 26);
    QCOMPARE(png.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(png.mid(16, 8), QByteArray("\0\0\0\x49\0\0\0\x49", 8));
    QCOMPARE(int(quint8(png.at(24))), 8);
    QCOMPARE(int(quint8(png.at(25))), 6);
}

void TestResources::generatorIsDeterministic()
{
    QTemporaryDir first;
    QTemporaryDir second;
    QVERIFY(first.isValid());
    QVERIFY(second.isValid());
    for (const QTemporaryDir *folder : {&first, &second}) {
        QProcess generator;
        generator.start(QStringLiteral(RESOURCEGEN_BINARY), {folder->path()});
        QVERIFY(generator.waitForFinished(30000));
        QCOMPARE(generator.exitStatus(), QProcess::NormalExit);
        QCOMPARE(generator.exitCode(), 0);
    }
    for (const QString &name : {QStringLiteral("avatar-mask.png"), QStringLiteral("default-avatar.png")}) {
        const QByteArray bytes = readFile(first.filePath(name));
        QVERIFY2(!bytes.isEmpty(), qPrintable(name));
        QCOMPARE(readFile(second.filePath(name)), bytes);
        QCOMPARE(readFile(buildFile(name)), bytes);
    }
    // Nothing else is left behind.
    QCOMPARE(QDir(first.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList({QStringLiteral("avatar-mask.png"), QStringLiteral("default-avatar.png")}));
}

void TestResources::generatorFailsWithMessage()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // A file where the output folder should be.
    const QString blocker = folder.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    const QList<QStringList> argumentLists = {
        {},
        {blocker},
        {blocker + QStringLiteral("/inside")},
    };
    for (const QStringList &arguments : argumentLists) {
        QProcess generator;
        generator.start(QStringLiteral(RESOURCEGEN_BINARY), arguments);
        QVERIFY(generator.waitForFinished(30000));
        QCOMPARE(generator.exitStatus(), QProcess::NormalExit);
        QVERIFY2(generator.exitCode() != 0, qPrintable(arguments.join(QLatin1Char(' '))));
        QVERIFY(!generator.readAllStandardError().trimmed().isEmpty());
    }
}

void TestResources::defaultAvatarIsSilhouette()
{
    const QString path = buildFile(QStringLiteral("default-avatar.png"));
    QImageReader reader(path);
    QCOMPARE(reader.imageFormat(), QImage::Format_ARGB32);
    const QImage avatar = reader.read().convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!avatar.isNull());
    QCOMPARE(avatar.size(), QSize(73, 73));

    const QRgb background = avatar.pixel(0, 0);
    const QRgb head = avatar.pixel(36, 28);
    const QRgb shoulders = avatar.pixel(36, 66);
    QCOMPARE(qAlpha(background), 255);
    QCOMPARE(avatar.pixel(72, 0), background);
    QCOMPARE(head, shoulders);
    QVERIFY(qGray(background) > 180);
    QVERIFY(qGray(head) > 80 && qGray(head) < qGray(background) - 40);
    // Background between head and shoulders' outline, and beside the head.
    QCOMPARE(avatar.pixel(10, 28), background);
    QCOMPARE(avatar.mirrored(true, false), avatar);

    QSet<QRgb> colours;
    for (int y = 0; y < avatar.height(); ++y)
        for (int x = 0; x < avatar.width(); ++x)
            colours.insert(avatar.pixel(x, y));
    // Two flat colours with anti-aliased edges between them.
    QVERIFY2(colours.size() > 10, qPrintable(QString::number(colours.size())));
}

void TestResources::catalogueTexts()
{
    QVERIFY(OLocale::catalogueDirectories().contains(QStringLiteral(DATA_BUILD_DIR "/twitter-ostra/translations")));

    // Before the catalogue, qtTrId gives back the id.
    QCOMPARE(qtTrId("qtn_twit_tweet_retweet"), QStringLiteral("qtn_twit_tweet_retweet"));
    {
        OLocale locale;
        locale.installTrCatalog(QStringLiteral("twitter"));
        OLocale::setDefault(locale);

        QCOMPARE(qtTrId("qtn_twit_tittle_events_feed").arg(QStringLiteral("Alice")), QStringLiteral("Alice"));
        QCOMPARE(qtTrId("qtn_twit_tweet_retweet").arg(QStringLiteral("Bob")), QStringLiteral("Retweeted by Bob"));
        QCOMPARE(qtTrId("qtn_twit_new_mention", 1), QStringLiteral("1 new mention"));
        QCOMPARE(qtTrId("qtn_twit_new_mention", 3), QStringLiteral("3 new mentions"));
        QCOMPARE(qtTrId("qtn_twit_new_mention_banner").arg(5), QStringLiteral("5 new mentions"));
        QCOMPARE(qtTrId("qtn_twit_new_message", 1), QStringLiteral("1 new message"));
        QCOMPARE(qtTrId("qtn_twit_new_message", 3), QStringLiteral("3 new messages"));
        QCOMPARE(qtTrId("qtn_twit_new_message_banner").arg(5), QStringLiteral("5 new messages"));
    }
    // The locale's end takes its catalogue away again.
    QCOMPARE(qtTrId("qtn_twit_tweet_retweet"), QStringLiteral("qtn_twit_tweet_retweet"));
}

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
