// SPDX-License-Identifier: BSD-3-Clause
// The client's on-disk cache as files: answers read back as they were stored and made
// younger by being served, pictures found under each extension the client gives them and
// only when they start as their format does.

#include "TestEnvironment.h"
#include "TwCache.h"
#include "TwPictures.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString UserId = QStringLiteral("1318223431118950401");
const QList<QLatin1String> &Thumbnails = TwPictures::thumbnailExtensions();

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The first bytes of a picture of the format an extension names.
QByteArray pictureHead(const QString &extension)
{
    if (extension == QLatin1String(".png"))
        return QByteArrayLiteral("\x89PNG\r\n\x1A\n");
    return extension == QLatin1String(".gif") ? QByteArrayLiteral("GIF89a") : QByteArrayLiteral("\xFF\xD8\xFF\xE0");
}

bool setAge(const QString &path, int days)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(QDateTime::currentDateTimeUtc().addDays(-days), QFileDevice::FileModificationTime);
}

// The one file in the responses folder.
QString responseFile(const TwCache &cache)
{
    const QDir folder(cache.root() + QStringLiteral("/responses"));
    const QStringList names = folder.entryList(QDir::Files);
    return names.size() == 1 ? folder.filePath(names.first()) : QString();
}

}

class TestTwCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void responseReadsBackAndIsServedYounger();
    void damagedResponsesReadAsNone_data();
    void damagedResponsesReadAsNone();
    void pictureUnderEachExtension_data();
    void pictureUnderEachExtension();
    void pictureFirstByName();
    void leftoversAreNoPicture();
    void brokenPictureIsDropped_data();
    void brokenPictureIsDropped();

private:
    TestEnvironment mEnvironment;
};

void TestTwCache::initTestCase()
{
    QVERIFY(mEnvironment.isValid());
    mEnvironment.applyToProcess();
}

void TestTwCache::init()
{
    TwCache(UserId).removeAll();
}

void TestTwCache::responseReadsBackAndIsServedYounger()
{
    const TwCache cache(UserId);
    const QVariantMap user = {{QStringLiteral("id"), QStringLiteral("1335095132469714947")},
                              {QStringLiteral("id_str"), QStringLiteral("1335095132469714947")},
                              {QStringLiteral("status"), QVariantMap{{QStringLiteral("text"), QStringLiteral("Hello")}}}};
    QVERIFY(cache.storeResponse(QStringLiteral("user/alice"), user));
    const QString path = responseFile(cache);
    QVERIFY(!path.isEmpty());
    QVERIFY(setAge(path, 6));

    QCOMPARE(cache.response(QStringLiteral("user/alice")), QVariant(user));
    QVERIFY(QFileInfo(path).lastModified().secsTo(QDateTime::currentDateTime()) < 60);
    QVERIFY(!cache.response(QStringLiteral("user/bob")).isValid());
}

void TestTwCache::damagedResponsesReadAsNone_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("cut short") << QByteArray(R"({"id":"1","name":"Al)");
    QTest::newRow("a key twice") << QByteArray(R"({"id":"1","id":["2"]})");
}

void TestTwCache::damagedResponsesReadAsNone()
{
    QFETCH(QByteArray, bytes);
    const TwCache cache(UserId);
    QVERIFY(cache.storeResponse(QStringLiteral("user/alice"), QVariantMap{{QStringLiteral("id"), QStringLiteral("1")}}));
    const QString path = responseFile(cache);
    QVERIFY(writeBytes(path, bytes));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^QVariant TwCache::response.*unreadable cache file")));
    if (bytes.contains("\"id\":[\"2\"]"))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^static QVariant TwJson::parse")));
    QVERIFY(!cache.response(QStringLiteral("user/alice")).isValid());
}

void TestTwCache::pictureUnderEachExtension_data()
{
    QTest::addColumn<QString>("extension");
    QTest::newRow("png") << QStringLiteral(".png");
    QTest::newRow("jpg") << QStringLiteral(".jpg");
    QTest::newRow("gif") << QStringLiteral(".gif");
}

void TestTwCache::pictureUnderEachExtension()
{
    QFETCH(QString, extension);
    const TwCache cache(UserId);
    const QString path = cache.picturePath(QStringLiteral("thumbnails"), QStringLiteral("media/1")) + extension;
    QVERIFY(writeBytes(path, pictureHead(extension) + "picture"));
    QVERIFY(setAge(path, 6));

    QCOMPARE(cache.existingPicture(QStringLiteral("thumbnails"), QStringLiteral("media/1"), Thumbnails), path);
    QVERIFY(QFileInfo(path).lastModified().secsTo(QDateTime::currentDateTime()) < 60);
    QCOMPARE(cache.existingPicture(QStringLiteral("thumbnails"), QStringLiteral("media/2"), Thumbnails), QString());
    QCOMPARE(cache.existingPicture(QStringLiteral("avatars"), QStringLiteral("media/1"), Thumbnails), QString());
}

void TestTwCache::pictureFirstByName()
{
    const TwCache cache(UserId);
    const QString base = cache.picturePath(QStringLiteral("thumbnails"), QStringLiteral("media/1"));
    QVERIFY(writeBytes(base + QStringLiteral(".png"), pictureHead(QStringLiteral(".png"))));
    QVERIFY(writeBytes(base + QStringLiteral(".jpg"), pictureHead(QStringLiteral(".jpg"))));
    QCOMPARE(cache.existingPicture(QStringLiteral("thumbnails"), QStringLiteral("media/1"), Thumbnails), base + QStringLiteral(".jpg"));
}

void TestTwCache::leftoversAreNoPicture()
{
    const TwCache cache(UserId);
    const QString base = cache.picturePath(QStringLiteral("avatars"), QStringLiteral("alice/bigger"));
    // What a write cut short by a crash leaves (QSaveFile's temporary), and a folder.
    QVERIFY(writeBytes(base + QStringLiteral(".png.aBcDeF"), "half a picture"));
    QVERIFY(QDir().mkpath(base + QStringLiteral(".gif")));
    QCOMPARE(cache.existingPicture(QStringLiteral("avatars"), QStringLiteral("alice/bigger"), Thumbnails), QString());
}

void TestTwCache::brokenPictureIsDropped_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty (a full disk)") << QByteArray();
    QTest::newRow("cut in its signature") << QByteArray("\xFF");
    QTest::newRow("another format") << pictureHead(QStringLiteral(".png"));
}

void TestTwCache::brokenPictureIsDropped()
{
    QFETCH(QByteArray, bytes);
    const TwCache cache(UserId);
    const QString path = cache.picturePath(QStringLiteral("thumbnails"), QStringLiteral("media/1")) + QStringLiteral(".jpg");
    QVERIFY(writeBytes(path, bytes));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^static bool TwCache::servePicture.*no \"jpeg\" file")));
    // Removed, so that the picture is fetched and written anew.
    QCOMPARE(cache.existingPicture(QStringLiteral("thumbnails"), QStringLiteral("media/1"), Thumbnails), QString());
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestTwCache)
#include "tst_twcache.moc"
