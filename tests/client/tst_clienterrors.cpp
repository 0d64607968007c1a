// SPDX-License-Identifier: BSD-3-Clause
// Failures of the real client's requests, injected by the fake API server or caused by
// a missing server: each ends in exactly one networkRequestError with the service's
// message, a 429 holds its endpoint back until the reset time, and nothing hangs.

#include "FakeApiProcess.h"
#include "TestEnvironment.h"
#include "Twitter.h"

#include <QDateTime>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

const QString HomeTimeline = QStringLiteral("/1.1/statuses/home_timeline.json");
const QString Mentions = QStringLiteral("/1.1/statuses/mentions_timeline.json");

}

class TestClientErrors : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void injectedFaultReachesNetworkRequestError_data();
    void injectedFaultReachesNetworkRequestError();
    void rateLimitHoldsTheEndpointUntilItsReset();
    void farResetHoldsAWindowAtMost_data();
    void farResetHoldsAWindowAtMost();
    void spentWindowHoldsTheEndpointByTheServersClock();
    void slowAnswerEndsAtTheRequestTimeout();
    void unreachableServerIsAnError();
    void brokenPicturesAreErrors_data();
    void brokenPicturesAreErrors();

private:
    int requestHome(Tw::Twitter *client);
    QVariantMap errorFor(QSignalSpy &spy, int queryId);
    QList<QTimer *> activeTimers(const QString &name) const;

    TestEnvironment mEnvironment;
    FakeApiProcess mServer;
    QScopedPointer<Tw::Twitter> mClient;
};

void TestClientErrors::initTestCase()
{
    QVERIFY(mEnvironment.isValid());
    mEnvironment.applyToProcess();
    mServer.setRateWindowSeconds(900);
    QVERIFY(mServer.start());
    mEnvironment.writeDefaultAccount();
    mEnvironment.writeAccount({{QStringLiteral("account/api_base"), mServer.apiBase()}});
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), mServer.port()));
}

void TestClientErrors::init()
{
    QVERIFY(mServer.post(QStringLiteral("reset")));
    mClient.reset(new Tw::Twitter(QStringLiteral("token"), QStringLiteral("token-secret"), QStringLiteral("7"),
                                  QStringLiteral("ostra_owner"), QStringLiteral("consumer-key"),
                                  QStringLiteral("consumer-secret")));
}

void TestClientErrors::cleanup()
{
    mClient->deleteCache();
    mClient.reset();
}

int TestClientErrors::requestHome(Tw::Twitter *client)
{
    QVariantList result;
    int queryId = -1;
    client->retrieveTimelineResources(&result, &queryId, TimelineType::HomeTimeline,
                                      {{QStringLiteral("count"), QStringLiteral("20")}},
                                      Tw::Twitter::RETRIEVE_FROM_NETWORK);
    return queryId;
}

// The error map of the one failure that the spy has seen, or will see, for this query.
QVariantMap TestClientErrors::errorFor(QSignalSpy &spy, int queryId)
{
    if (spy.isEmpty() && !spy.wait(10000))
        return {{QStringLiteral("error"), QStringLiteral("(no error reported)")}};
    const QList<QVariant> arguments = spy.takeFirst();
    if (arguments.at(0).toInt() != queryId)
        return {{QStringLiteral("error"), QStringLiteral("(error for another query)")}};
    return arguments.at(1).toMap();
}

QList<QTimer *> TestClientErrors::activeTimers(const QString &name) const
{
    QList<QTimer *> active;
    for (QTimer *timer : mClient->findChildren<QTimer *>(name)) {
        if (timer->isActive())
            active.append(timer);
    }
    return active;
}

void TestClientErrors::injectedFaultReachesNetworkRequestError_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("status");
    const auto status = [](int code) {
        return QJsonObject{{QStringLiteral("target"), QStringLiteral("statuses/home_timeline.json")},
                           {QStringLiteral("status"), code}};
    };
    QTest::newRow("401") << status(401) << "Could not authenticate with OAuth." << 401;
    QTest::newRow("404") << status(404) << "Sorry, that page does not exist" << 404;
    QTest::newRow("500") << status(500) << "Internal error" << 500;
    QTest::newRow("503") << status(503) << "Over capacity" << 503;
    QTest::newRow("any endpoint") << QJsonObject{{QStringLiteral("target"), QStringLiteral("*")}, {QStringLiteral("status"), 500}}
                                  << "Internal error" << 500;
    QTest::newRow("malformed JSON")
        << QJsonObject{{QStringLiteral("target"), QStringLiteral("statuses/home_timeline.json")}, {QStringLiteral("malformed"), true}}
        << "Malformed JSON in the answer: " << 200;
    // Refused by its announced length, before it is downloaded: a failure of the request,
    // with no status.
    QTest::newRow("body beyond 4 MiB")
        << QJsonObject{{QStringLiteral("target"), QStringLiteral("statuses/home_timeline.json")},
                       {QStringLiteral("bytes"), 4 * 1024 * 1024 + 1}}
        << "Response too large: 4194305 bytes announced" << 0;
    QTest::newRow("body of 4 MiB, read") // and found to be a list of one long string
        << QJsonObject{{QStringLiteral("target"), QStringLiteral("statuses/home_timeline.json")},
                       {QStringLiteral("bytes"), 4 * 1024 * 1024}}
        << "Unexpected answer: not a list of objects" << 200;
}

void TestClientErrors::injectedFaultReachesNetworkRequestError()
{
    QFETCH(QJsonObject, fault);
    QFETCH(QString, error);
    QFETCH(int, status);
    QVERIFY(mServer.post(QStringLiteral("faults"), fault));
    QSignalSpy failed(mClient.data(), &Tw::Twitter::networkRequestError);
    QSignalSpy updated(mClient.data(), &Tw::Twitter::timelineUpdated);
    const int queryId = requestHome(mClient.data());
    QVERIFY(queryId > 0);
    const QVariantMap reported = errorFor(failed, queryId);
    QVERIFY2(reported.value(QStringLiteral("error")).toString().startsWith(error),
             qPrintable(reported.value(QStringLiteral("error")).toString()));
    QCOMPARE(reported.value(QStringLiteral("http_status")).toInt(), status);
    QVERIFY(updated.isEmpty());
    QVERIFY(failed.isEmpty());

    // The fault was for one request: the next one is answered, and nothing was cached
    // from the failed one.
    const int next = requestHome(mClient.data());
    QVERIFY(updated.wait());
    QCOMPARE(updated.first().last().toInt(), next);
    QCOMPARE(updated.first().at(1).toList().size(), 20);
}

void TestClientErrors::rateLimitHoldsTheEndpointUntilItsReset()
{
    const qint64 reset = QDateTime::currentSecsSinceEpoch() + 600;
    QVERIFY(mServer.post(QStringLiteral("faults"), {{QStringLiteral("target"), QStringLiteral("statuses/home_timeline.json")},
                                                    {QStringLiteral("status"), 429},
                                                    {QStringLiteral("reset"), reset}}));
    QSignalSpy failed(mClient.data(), &Tw::Twitter::networkRequestError);
    QSignalSpy updated(mClient.data(), &Tw::Twitter::timelineUpdated);
    int queryId = requestHome(mClient.data());
    QCOMPARE(errorFor(failed, queryId).value(QStringLiteral("error")).toString(), QStringLiteral("Rate limit exceeded"));

    // Held until the reset time, ten minutes away.
    const QList<QTimer *> holds = activeTimers(QStringLiteral("rateLimitHold"));
    QCOMPARE(holds.size(), 1);
    QCOMPARE(holds.first()->property("endpoint").toString(), QStringLiteral("statuses/home_timeline.json"));
    const qint64 expected = (reset - QDateTime::currentSecsSinceEpoch()) * 1000;
    QVERIFY2(qAbs(holds.first()->remainingTime() - expected) < 3000, qPrintable(QString::number(holds.first()->remainingTime())));

    // Meanwhile requests fail at once, after returning their id, without reaching the server.
    const int served = mServer.requestCount(HomeTimeline);
    queryId = requestHome(mClient.data());
    QVERIFY(queryId > 0);
    QVERIFY(failed.isEmpty());
    const QVariantMap held = errorFor(failed, queryId);
    QCOMPARE(held.value(QStringLiteral("error")).toString(), QStringLiteral("Rate limit exceeded"));
    QCOMPARE(held.value(QStringLiteral("http_status")).toInt(), 429);
    QCOMPARE(mServer.requestCount(HomeTimeline), served);

    // Other endpoints are not held.
    QVariantList result;
    mClient->retrieveTimelineResources(&result, &queryId, TimelineType::MentionsTimeline, {}, Tw::Twitter::RETRIEVE_FROM_NETWORK);
    QVERIFY(updated.wait());
    QCOMPARE(updated.takeFirst().last().toInt(), queryId);

    // Once the reset time has come (brought forward here) the endpoint is asked again.
    holds.first()->start(0);
    QTRY_VERIFY(activeTimers(QStringLiteral("rateLimitHold")).isEmpty());
    queryId = requestHome(mClient.data());
    QVERIFY(updated.wait());
    QCOMPARE(updated.first().last().toInt(), queryId);
    QCOMPARE(mServer.requestCount(HomeTimeline), served + 1);
    QVERIFY(failed.isEmpty());
}

void TestClientErrors::farResetHoldsAWindowAtMost_data()
{
    QTest::addColumn<qint64>("reset");
    QTest::newRow("three years ahead") << QDateTime::currentSecsSinceEpoch() + 3 * 365 * 86400;
    QTest::newRow("past the milliseconds' range") << qint64(100000000000000000);
}

// The service's windows are 15 minutes: a reset further away is held a window and a
// margin, not until the daemon restarts.
void TestClientErrors::farResetHoldsAWindowAtMost()
{
    QFETCH(qint64, reset);
    QVERIFY(mServer.post(QStringLiteral("faults"), {{QStringLiteral("target"), QStringLiteral("statuses/home_timeline.json")},
                                                    {QStringLiteral("status"), 429},
                                                    {QStringLiteral("reset"), reset}}));
    QSignalSpy failed(mClient.data(), &Tw::Twitter::networkRequestError);
    errorFor(failed, requestHome(mClient.data()));
    const QList<QTimer *> holds = activeTimers(QStringLiteral("rateLimitHold"));
    QCOMPARE(holds.size(), 1);
    const int remaining = holds.first()->remainingTime();
    QVERIFY2(remaining > 900000 && remaining <= 960000, qPrintable(QString::number(remaining)));
}

// The answer that spends the window holds the endpoint: the request after it is not sent
// only to be refused. The server's clock runs 200 s ahead; the hold is the window's rest
// by that clock, neither 200 s longer nor shorter.
void TestClientErrors::spentWindowHoldsTheEndpointByTheServersClock()
{
    QVERIFY(mServer.post(QStringLiteral("clock"), {{QStringLiteral("offset_seconds"), 200}}));
    QSignalSpy failed(mClient.data(), &Tw::Twitter::networkRequestError);
    QSignalSpy updated(mClient.data(), &Tw::Twitter::timelineUpdated);
    for (int i = 0; i < 15; ++i) {
        requestHome(mClient.data());
        QVERIFY(updated.wait());
    }
    const QList<QTimer *> holds = activeTimers(QStringLiteral("rateLimitHold"));
    QCOMPARE(holds.size(), 1);
    QVERIFY2(qAbs(holds.first()->remainingTime() - 900000) < 3000, qPrintable(QString::number(holds.first()->remainingTime())));
    // The service's time is its clock's, not the device's.
    QVERIFY(qAbs(QDateTime::currentDateTimeUtc().secsTo(mClient->serviceTime()) - 200) <= 2);

    const int queryId = requestHome(mClient.data());
    const QVariantMap held = errorFor(failed, queryId);
    QCOMPARE(held.value(QStringLiteral("http_status")).toInt(), 429);
    QVERIFY(qAbs(held.value(QStringLiteral("retry_after_ms")).toLongLong() - 900000) < 3000);
    QCOMPARE(mServer.requestCount(HomeTimeline), 15);
    QVERIFY(failed.isEmpty());
}

void TestClientErrors::slowAnswerEndsAtTheRequestTimeout()
{
    QVERIFY(mServer.post(QStringLiteral("faults"), {{QStringLiteral("target"), QStringLiteral("statuses/home_timeline.json")},
                                                    {QStringLiteral("delay_ms"), 120000}}));
    QSignalSpy failed(mClient.data(), &Tw::Twitter::networkRequestError);
    QSignalSpy updated(mClient.data(), &Tw::Twitter::timelineUpdated);
    const int queryId = requestHome(mClient.data());
    QTRY_COMPARE(mServer.requestCount(HomeTimeline), 1);

    // An explicit deadline of half a minute, brought forward here.
    const QList<QTimer *> deadlines = activeTimers(QStringLiteral("requestTimeout"));
    QCOMPARE(deadlines.size(), 1);
    QCOMPARE(deadlines.first()->interval(), 30000);
    QVERIFY(failed.isEmpty());
    // The connection is given up as the failure is told, not at some later turn.
    bool replyRunning = true;
    connect(mClient.data(), &Tw::Twitter::networkRequestError, this, [&] {
        replyRunning = false;
        for (const QNetworkReply *reply : mClient->findChildren<QNetworkReply *>())
            replyRunning |= reply->isRunning();
    });
    deadlines.first()->start(0);
    QCOMPARE(errorFor(failed, queryId).value(QStringLiteral("error")).toString(), QStringLiteral("Request timed out after 30 s"));
    QVERIFY(updated.isEmpty());
    QVERIFY(!replyRunning);
    QTRY_VERIFY(mClient->findChildren<QTimer *>(QStringLiteral("requestTimeout")).isEmpty());
}

void TestClientErrors::unreachableServerIsAnError()
{
    // A port that was free a moment ago: nothing listens there.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    mEnvironment.writeAccount({{QStringLiteral("account/api_base"), QStringLiteral("http://127.0.0.1:%1/1.1/").arg(closedPort)}});
    QScopedPointer<Tw::Twitter> client(new Tw::Twitter(QStringLiteral("token"), QStringLiteral("token-secret"), QStringLiteral("7"),
                                                       QStringLiteral("ostra_owner"), QStringLiteral("consumer-key"),
                                                       QStringLiteral("consumer-secret")));
    mEnvironment.writeAccount({{QStringLiteral("account/api_base"), mServer.apiBase()}});
    QSignalSpy failed(client.data(), &Tw::Twitter::networkRequestError);
    const int queryId = requestHome(client.data());
    const QVariantMap reported = errorFor(failed, queryId);
    QVERIFY(reported.value(QStringLiteral("error")).toString().contains(QStringLiteral("refused"), Qt::CaseInsensitive));
    QVERIFY(!reported.contains(QStringLiteral("http_status")));
}

void TestClientErrors::brokenPicturesAreErrors_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<QString>("error");
    QTest::newRow("404") << QJsonObject{{QStringLiteral("target"), QStringLiteral("pictures")}, {QStringLiteral("status"), 404}}
                         << "HTTP status 404 for the picture";
    QTest::newRow("not a picture") << QJsonObject{{QStringLiteral("target"), QStringLiteral("pictures")}, {QStringLiteral("malformed"), true}}
                                   << "Not a picture";
}

void TestClientErrors::brokenPicturesAreErrors()
{
    QFETCH(QJsonObject, fault);
    QFETCH(QString, error);
    QVERIFY(mServer.post(QStringLiteral("faults"), fault));
    QSignalSpy failed(mClient.data(), &Tw::Twitter::networkRequestError);
    QSignalSpy updated(mClient.data(), &Tw::Twitter::userUpdated);
    const QMap<QString, QString> arguments = {{QStringLiteral("screen_name"), QStringLiteral("bob")},
                                              {QStringLiteral("url"), QStringLiteral("http://pbs.twimg.com/profile_images/94945/bob_bigger.jpg")},
                                              {QStringLiteral("size"), QStringLiteral("bigger")}};
    QVariantList result;
    int queryId = -1;
    QCOMPARE(mClient->retrieveUserResources(&result, &queryId, UserType::Avatar, arguments, Tw::Twitter::RETRIEVE_FROM_NETWORK),
             int(Tw::Twitter::RETRIEVE_OK));
    QCOMPARE(errorFor(failed, queryId).value(QStringLiteral("error")).toString(), error);
    QVERIFY(updated.isEmpty());
    mClient->retrieveUserResources(&result, &queryId, UserType::Avatar, arguments, Tw::Twitter::RETRIEVE_FROM_CACHE);
    QCOMPARE(result, QVariantList{QString()});
}

QTEST_GUILESS_MAIN(TestClientErrors)
#include "tst_clienterrors.moc"
