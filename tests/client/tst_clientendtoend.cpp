// The real daemon binary, linked with the real client, against the fake API server and
// the reference feed on a private bus: after the login has checked the account's
// credentials, one refresh publishes the newest 20 tweets with round avatars and the
// thumbnails of their pictures, all fetched from loopback.

#include "EventFeedProcess.h"
#include "FeedItems.h"
#include "FakeApiProcess.h"
#include "Fixtures.h"
#include "PrivateBus.h"
#include "TestEnvironment.h"

#include <QDataStream>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <csignal>

class TestClientEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void refreshPublishesTheNewestTwentyFromTheService();

private:
    int refreshesHandled() const { return mLog.count(QStringLiteral("HomeTimeline. Item count")); }

    QScopedPointer<PrivateBus> mBus;
    QScopedPointer<TestEnvironment> mEnvironment;
    QScopedPointer<FakeApiProcess> mServer;
    QScopedPointer<EventFeedProcess> mFeed;
    QProcess mDaemon;
    QString mLog;
};

void TestClientEndToEnd::init()
{
    mBus.reset(new PrivateBus);
    QVERIFY(mBus->isValid());
    mEnvironment.reset(new TestEnvironment);
    mServer.reset(new FakeApiProcess);
    QVERIFY(mServer->start());
    mEnvironment->writeDefaultAccount();
    mEnvironment->writeAccount({{QStringLiteral("account/api_base"), mServer->apiBase()}});
    mFeed.reset(new EventFeedProcess(*mBus));
    QVERIFY(mFeed->start());
    mLog.clear();
}

void TestClientEndToEnd::cleanup()
{
    if (mDaemon.state() != QProcess::NotRunning) {
        ::kill(mDaemon.processId(), SIGTERM);
        QVERIFY(mDaemon.waitForFinished(10000));
        QCOMPARE(mDaemon.exitCode(), 0);
    }
    mFeed.reset();
    mServer.reset();
    mBus.reset();
}

void TestClientEndToEnd::refreshPublishesTheNewestTwentyFromTheService()
{
    // Everything beyond loopback (the pictures' hosts) goes through the fake server.
    QProcessEnvironment environment = mEnvironment->processEnvironment(mBus->address());
    for (const QString &name : {QStringLiteral("http_proxy"), QStringLiteral("HTTP_PROXY"), QStringLiteral("https_proxy"),
                                QStringLiteral("HTTPS_PROXY")})
        environment.insert(name, mServer->proxyUrl());
    environment.remove(QStringLiteral("no_proxy"));
    environment.remove(QStringLiteral("NO_PROXY"));
    mDaemon.setProcessEnvironment(environment);
    connect(&mDaemon, &QProcess::readyReadStandardError, this,
            [this] { mLog += QString::fromUtf8(mDaemon.readAllStandardError()); });
    mDaemon.start(QStringLiteral(DAEMON_BINARY), {QStringLiteral("--debug")});
    QVERIFY(mBus->waitForName(QStringLiteral("com.halvex.twitterostra")));

    // The daemon logs in at start when it is online, else on the first refresh. No
    // refresh is asked for while the login's check is under way: it would start another.
    const auto loginStarted = [this] { return mLog.contains(QStringLiteral("TwLoginCheck::start()")); };
    if (!QTest::qWaitFor(loginStarted, 3000))
        mFeed->control().requestRefresh().waitForFinished();
    QTRY_VERIFY_WITH_TIMEOUT(mLog.contains(QStringLiteral("TwitterDaemon::onTwitterAuthenticated")), 15000);
    mFeed->control().requestRefresh().waitForFinished();
    QTRY_VERIFY_WITH_TIMEOUT(refreshesHandled() == 1, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(mFeed->items().size(), 20, 15000);
    QCOMPARE(mServer->requestCount(QStringLiteral("/1.1/account/verify_credentials.json")), 1);

    const QVariantList timeline = Fixtures::homeTimeline();
    QSet<QString> expected;
    for (int i = 0; i < 20; ++i)
        expected.insert(FeedItems::shownId(timeline.at(i).toMap()));
    QSet<QString> published;
    const QString cache = mEnvironment->cacheHome() + QStringLiteral("/twitter-client/1111111111/");
    for (const QJsonValue &item : mFeed->items()) {
        published.insert(FeedItems::actionId(item));
        const QString icon = item[QStringLiteral("item")][QStringLiteral("icon")].toString();
        QVERIFY2(icon.startsWith(cache + QStringLiteral("avatars/")), qPrintable(icon));
        const QImage avatar(icon);
        QCOMPARE(avatar.size(), QSize(73, 73));
        QCOMPARE(qAlpha(avatar.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(avatar.pixel(36, 36)), 255);
    }
    QCOMPARE(published, expected);

    // The photo attachment and the link to a picture page came as thumbnails.
    QStringList thumbnails;
    for (const QJsonValue &item : mFeed->items()) {
        for (const QJsonValue &image : item[QStringLiteral("item")][QStringLiteral("imageList")].toArray()) {
            if (!image.toString().isEmpty())
                thumbnails.append(image.toString());
        }
    }
    QCOMPARE(thumbnails.size(), 2);
    for (const QString &thumbnail : qAsConst(thumbnails)) {
        QVERIFY2(thumbnail.startsWith(cache + QStringLiteral("thumbnails/")), qPrintable(thumbnail));
        QCOMPARE(QImage(thumbnail).size(), QSize(150, 150));
    }
    QSet<QString> pictureHosts;
    for (const QJsonValue &request : mServer->requests()) {
        if (request[QStringLiteral("host")].toString() != QLatin1String("127.0.0.1"))
            pictureHosts.insert(request[QStringLiteral("host")].toString());
    }
    QCOMPARE(pictureHosts, QSet<QString>({QStringLiteral("pbs.twimg.com"), QStringLiteral("twitpic.com")}));
}

QTEST_GUILESS_MAIN(TestClientEndToEnd)
#include "tst_clientendtoend.moc"
