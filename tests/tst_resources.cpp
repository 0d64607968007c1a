// SPDX-License-Identifier: BSD-3-Clause
// The daemon's resources: the compiled-in avatar mask, the default avatar, and the
// translation catalogue as OLocale loads it.

#include "OLocale.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

class TestResources : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void avatarMaskIsAWhiteDiscCompiledIn();
    void defaultAvatarIsAnOpaquePicture();
    void catalogueTexts();

private:
    QTemporaryDir mDataHome;
};

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}

void TestResources::initTestCase()
{
    // The catalogue from the build tree only: no user or system data folder in between.
    QVERIFY(mDataHome.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(mDataHome.path()));
    qputenv("XDG_DATA_DIRS", QByteArrayLiteral(DATA_BUILD_DIR));
}

// The mask lets the middle of an avatar through and hides its corners.
void TestResources::avatarMaskIsAWhiteDiscCompiledIn()
{
    const QByteArray embedded = readFile(QStringLiteral(":/avatar-mask"));
    QVERIFY(!embedded.isEmpty());
    QCOMPARE(embedded, readFile(QStringLiteral(RESOURCES_BUILD_DIR "/avatar-mask.png")));
    const QImage mask = QImage::fromData(embedded).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(mask.size(), QSize(73, 73));
    QCOMPARE(mask.pixel(36, 36), qRgba(255, 255, 255, 255));
    for (const QPoint &corner : {QPoint(0, 0), QPoint(72, 0), QPoint(0, 72), QPoint(72, 72)})
        QCOMPARE(mask.pixel(corner), qRgba(0, 0, 0, 255));
}

void TestResources::defaultAvatarIsAnOpaquePicture()
{
    const QImage avatar(QStringLiteral(RESOURCES_BUILD_DIR "/default-avatar.png"));
    QCOMPARE(avatar.size(), QSize(73, 73));
    QCOMPARE(qAlpha(avatar.pixel(0, 0)), 255);
    QVERIFY(avatar.pixel(36, 28) != avatar.pixel(0, 0));
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
