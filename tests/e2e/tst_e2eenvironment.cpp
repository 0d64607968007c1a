// SPDX-License-Identifier: BSD-3-Clause
// What the machine does to a running daemon: the session bus going away, the cache's
// disk filling up and freeing again, a loose umask, and links planted in its folders.

#include "PlatformSession.h"
#include "FeedItems.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QScopeGuard>
#include <QTest>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString MediaPath = QStringLiteral("/media/fulldisk.jpg");

// Takes every byte the file system of path has left.
bool fill(const QString &path)
{
    QFile filler(path);
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(64 * 1024, '\0');
    while (filler.write(block) > 0) {
    }
    return filler.size() > 0;
}

// How often the daemon asked the feed to add the item of this tweet.
int addItemCalls(PlatformSession &session, const QString &tweetId)
{
    int count = 0;
    for (const QJsonValue &call : session.feed().calls()) {
        const QString action = call[QStringLiteral("arguments")][0][QStringLiteral("action")].toString();
        count += call[QStringLiteral("method")] == QLatin1String("addItem") && FeedItems::actionArgument(action) == tweetId;
    }
    return count;
}

// The folders and files below root, root included.
QStringList everythingBelow(const QString &root)
{
    QStringList paths = {root};
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(it.next());
    return paths;
}

// Paths that other users may read, write or enter.
QStringList openToOthers(const QStringList &paths)
{
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QStringList open;
    for (const QString &path : paths) {
        if (QFileInfo(path).permissions() & others)
            open.append(path);
    }
    return open;
}

}

class TestE2eEnvironment : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void lostBusEndsTheDaemonWithStatusOne();
    void fullDiskLeavesNoBrokenPictureBehind();
    void filesAreTheUsersAloneWhateverTheUmask();
    void plantedLinksAreReplacedNotWrittenThrough();

private:
    bool mOwnMounts = false;
};

void TestE2eEnvironment::initTestCase()
{
    // Mounts of this process's own, which its children share and nobody else sees; made
    // while the process has no other thread yet.
    mOwnMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

void TestE2eEnvironment::lostBusEndsTheDaemonWithStatusOne()
{
    PlatformSession session;
    QVERIFY(session.start());
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());

    session.bus().kill();
    // Left running it would be unreachable for good; ended, its service manager restarts it.
    QTRY_COMPARE_WITH_TIMEOUT(session.daemon().state(), QProcess::NotRunning, 10000);
    QCOMPARE(session.daemon().exitStatus(), QProcess::NormalExit);
    QCOMPARE(session.daemon().exitCode(), 1);
    QVERIFY2(session.log().contains(QStringLiteral("Lost the connection to the session bus")), qPrintable(session.log()));
}

void TestE2eEnvironment::fullDiskLeavesNoBrokenPictureBehind()
{
    if (!mOwnMounts)
        QSKIP("needs root and a mount namespace of its own for a small file system");
    PlatformSession session;
    const QByteArray cacheHome = QFile::encodeName(session.environment().cacheHome());
    QVERIFY(::mount("tmpfs", cacheHome.constData(), "tmpfs", 0, "size=4m") == 0);
    const auto unmount = qScopeGuard([&] { ::umount2(cacheHome.constData(), MNT_DETACH); });
    QVERIFY(session.start());
    // Only the timeline and its pictures write to the disk while it is full.
    session.environment().writeAccount({{QStringLiteral("services/notifications"), false},
                                        {QStringLiteral("services/contacts"), false}});
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 15000);

    // The disk fills up while the picture is on its way. The tweet is posted, its cache
    // row cannot be written, so it is withdrawn.
    QVERIFY(session.server().post(QStringLiteral("faults"), {{QStringLiteral("target"), QStringLiteral("pictures")},
                                                             {QStringLiteral("delay_ms"), 3000},
                                                             {QStringLiteral("times"), 0}}));
    const QString id = session.postTweet(QStringLiteral("A picture on a full disk"), QStringLiteral("dave"),
                                         QStringLiteral("http://pbs.twimg.com") + MediaPath);
    QVERIFY(!id.isEmpty());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.server().requestCount(MediaPath + QStringLiteral(":thumb")), 1, 2000);
    const QString filler = session.environment().cacheHome() + QStringLiteral("/filler");
    QVERIFY(fill(filler));
    QVERIFY(session.server().post(QStringLiteral("faults/clear")));
    QTRY_COMPARE_WITH_TIMEOUT(addItemCalls(session, id), 1, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!session.itemTweetIds().contains(id), 15000);

    // Space again: posted for good, with the picture, not an empty file left from before.
    QVERIFY(QFile::remove(filler));
    QVERIFY(session.refresh());
    QTRY_VERIFY_WITH_TIMEOUT(session.itemTweetIds().contains(id), 15000);
    QString picture;
    for (const QJsonValue &item : session.feed().items()) {
        if (FeedItems::actionId(item) == id)
            picture = item[QStringLiteral("item")][QStringLiteral("imageList")][0].toString();
    }
    QFile file(picture);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(picture));
    QCOMPARE(file.read(2), QByteArray("\xFF\xD8"));
    QVERIFY(session.stopDaemon());
}

// Started under umask 022 without its cache folder, the daemon makes every folder 0700
// and every file 0600: the cached answers (direct messages among them), the item cache
// and its WAL, the settings.
void TestE2eEnvironment::filesAreTheUsersAloneWhateverTheUmask()
{
    const mode_t previous = ::umask(022);
    const auto restore = qScopeGuard([previous] { ::umask(previous); });
    PlatformSession session;
    const QString cacheHome = session.environment().cacheHome();
    QVERIFY(QDir(cacheHome).removeRecursively());
    QVERIFY(session.start());
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 15000);

    const QStringList written = everythingBelow(cacheHome);
    QVERIFY2(written.contains(session.environment().cacheDatabase() + QStringLiteral("-wal")), qPrintable(written.join('\n')));
    QVERIFY2(written.filter(QStringLiteral("/responses/")).size() >= 3, qPrintable(written.join('\n')));
    const QString settings = session.environment().daemonSettingsFile();
    QVERIFY(QFileInfo::exists(settings));
    QCOMPARE(openToOthers(written + QStringList{settings}), QStringList());
    QVERIFY(session.stopDaemon());
}

// A link where one of the daemon's files should be, to a file elsewhere: the daemon
// writes its own file in its place, and the file elsewhere stays as it was.
void TestE2eEnvironment::plantedLinksAreReplacedNotWrittenThrough()
{
    PlatformSession session;
    QVERIFY(session.start());
    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    QTRY_COMPARE_WITH_TIMEOUT(session.feed().items().size(), 20, 15000);
    QVERIFY(session.stopDaemon());

    const TestEnvironment &environment = session.environment();
    const QString database = environment.cacheDatabase();
    QStringList own = {environment.daemonSettingsFile(), environment.configHome() + QStringLiteral("/Halvex/Rosterd.ini"),
                       environment.notificationStore(), database, database + QStringLiteral("-wal"),
                       database + QStringLiteral("-shm")};
    own += everythingBelow(environment.cacheHome() + QStringLiteral("/twitter-client")).filter(QStringLiteral("/responses/"));
    own.removeDuplicates();
    QTemporaryDir elsewhere;
    QMap<QString, QByteArray> decoys;
    for (int i = 0; i < own.size(); ++i) {
        if (QFileInfo(own.at(i)).isDir())
            continue;
        const QString decoy = elsewhere.filePath(QString::number(i));
        QFile file(own.at(i));
        const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("decoy");
        file.close();
        QFile::remove(own.at(i));
        QFile target(decoy);
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write(content) == content.size());
        QVERIFY(QDir().mkpath(QFileInfo(own.at(i)).path()));
        QVERIFY2(QFile::link(decoy, own.at(i)), qPrintable(own.at(i)));
        decoys.insert(decoy, content);
    }
    QVERIFY(decoys.size() >= 9);

    QVERIFY(session.startDaemon());
    QVERIFY(session.waitForLogin());
    QVERIFY(session.refresh());
    // A new mention, so that the notification store is written too.
    QVERIFY(session.server().post(QStringLiteral("mentions"), {{QStringLiteral("text"), QStringLiteral("@AliceInData linked")},
                                                               {QStringLiteral("screen_name"), QStringLiteral("bob")}}));
    QVERIFY(session.refresh());
    QTRY_VERIFY_WITH_TIMEOUT(!session.storeEntries(QStringLiteral("notification")).isEmpty(), 15000);
    QVERIFY(session.stopDaemon());

    for (auto it = decoys.cbegin(); it != decoys.cend(); ++it) {
        QFile file(it.key());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll() == it.value(), qPrintable(it.key()));
    }
    for (const QString &path : qAsConst(own))
        QVERIFY2(!QFileInfo(path).isSymLink(), qPrintable(path));
    QVERIFY(session.log().contains(QStringLiteral("a link stands where")));
}

QTEST_GUILESS_MAIN(TestE2eEnvironment)
#include "tst_e2eenvironment.moc"
