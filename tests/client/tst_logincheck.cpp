// SPDX-License-Identifier: BSD-3-Clause
// The account's login with the real check of its credentials against the fake API
// server: accepted, refused, unreachable, and refused for a clock out of sync.

#include "FakeApiProcess.h"
#include "TestEnvironment.h"
#include "TwAccount.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {
const QString VerifyCredentials = QStringLiteral("/1.1/account/verify_credentials.json");
}

class TestLoginCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void acceptedCredentialsLogIn();
    void refusedCredentials();
    void unreachableService();
    void clockOutOfSync();
    void serviceTrouble_data();
    void serviceTrouble();
    void injectedLoginErrorComesFirst();

private:
    // The type and text of the login error that follows a login, or -1 on success.
    QPair<int, QString> loginOutcome();

    TestEnvironment mEnvironment;
    FakeApiProcess mServer;
};

void TestLoginCheck::initTestCase()
{
    QVERIFY(mEnvironment.isValid());
    mEnvironment.applyToProcess();
    QVERIFY(mServer.start());
}

void TestLoginCheck::init()
{
    QVERIFY(mServer.post(QStringLiteral("reset")));
    QFile::remove(mEnvironment.accountFile());
    mEnvironment.writeDefaultAccount();
    mEnvironment.writeAccount({{QStringLiteral("account/api_base"), mServer.apiBase()}});
}

QPair<int, QString> TestLoginCheck::loginOutcome()
{
    TwAccount account;
    QSignalSpy response(&account, &TwAccount::loginResponse);
    QSignalSpy error(&account, &TwAccount::loginError);
    account.login(false, 0);
    if (!QTest::qWaitFor([&] { return !response.isEmpty() || !error.isEmpty(); }, 10000))
        return {-2, QStringLiteral("no answer")};
    if (response.count() + error.count() != 1)
        return {-3, QStringLiteral("more than one answer")};
    if (!error.isEmpty())
        return {error.first().at(0).toInt(), error.first().at(1).toString()};
    const QVariantList expected = {QStringLiteral("token"), QStringLiteral("token-secret"), QStringLiteral("1111111111"),
                                   QStringLiteral("AliceInData"), QStringLiteral("consumer-key"), QStringLiteral("consumer-secret")};
    return {-1, response.first() == expected ? QStringLiteral("accepted") : QStringLiteral("wrong credentials answered")};
}

void TestLoginCheck::acceptedCredentialsLogIn()
{
    QCOMPARE(loginOutcome(), qMakePair(-1, QStringLiteral("accepted")));
    QCOMPARE(mServer.requestCount(VerifyCredentials), 1);
    QCOMPARE(mServer.requests().last()[QStringLiteral("status")].toInt(), 200);
}

void TestLoginCheck::refusedCredentials()
{
    mEnvironment.writeAccount({{QStringLiteral("account/token_secret"), QStringLiteral("stolen")}});
    QCOMPARE(loginOutcome(), qMakePair(int(TwLoginError::LOGIN_ERROR_CREDENTIALS), QStringLiteral("Could not authenticate with OAuth.")));
    mEnvironment.writeAccount({{QStringLiteral("account/token"), QStringLiteral("revoked")}});
    QCOMPARE(loginOutcome(), qMakePair(int(TwLoginError::LOGIN_ERROR_CREDENTIALS), QStringLiteral("Invalid or expired token.")));
}

void TestLoginCheck::unreachableService()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    mEnvironment.writeAccount({{QStringLiteral("account/api_base"), QStringLiteral("http://127.0.0.1:%1/1.1").arg(closedPort)}});
    QCOMPARE(loginOutcome().first, int(TwLoginError::LOGIN_ERROR_NETWORK));
}

void TestLoginCheck::clockOutOfSync()
{
    // The service's clock an hour ahead: the request's timestamp is refused, and the
    // server's Date tells why.
    QVERIFY(mServer.post(QStringLiteral("clock"), {{QStringLiteral("offset_seconds"), 3600}}));
    const QPair<int, QString> outcome = loginOutcome();
    QCOMPARE(outcome.first, int(TwLoginError::LOGIN_ERROR_UNAUTHORIZED));
    QVERIFY2(outcome.second.startsWith(QStringLiteral("Client time out of sync")), qPrintable(outcome.second));

    // A few seconds off is within what the service accepts.
    QVERIFY(mServer.post(QStringLiteral("clock"), {{QStringLiteral("offset_seconds"), -20}}));
    QCOMPARE(loginOutcome(), qMakePair(-1, QStringLiteral("accepted")));
}

void TestLoginCheck::serviceTrouble_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::newRow("500") << 500 << int(TwLoginError::LOGIN_ERROR_SERVER) << "Internal error";
    QTest::newRow("503") << 503 << int(TwLoginError::LOGIN_ERROR_BUSY) << "Over capacity";
    QTest::newRow("429") << 429 << int(TwLoginError::LOGIN_ERROR_RATE_LIMITED) << "Rate limit exceeded";
    QTest::newRow("403") << 403 << int(TwLoginError::LOGIN_ERROR_SUSPENDED)
                         << "Your account is suspended and is not permitted to access this feature.";
}

void TestLoginCheck::serviceTrouble()
{
    QFETCH(int, status);
    QFETCH(int, type);
    QFETCH(QString, text);
    QVERIFY(mServer.post(QStringLiteral("faults"), {{QStringLiteral("target"), QStringLiteral("account/verify_credentials.json")},
                                                    {QStringLiteral("status"), status}}));
    QCOMPARE(loginOutcome(), qMakePair(type, text));
}

void TestLoginCheck::injectedLoginErrorComesFirst()
{
    mEnvironment.writeAccount({{QStringLiteral("account/login_error_type"), 8},
                               {QStringLiteral("account/login_error_text"), QStringLiteral("User has been deleted")}});
    QCOMPARE(loginOutcome(), qMakePair(int(TwLoginError::LOGIN_ERROR_USER), QStringLiteral("User has been deleted")));
    QCOMPARE(mServer.requestCount(VerifyCredentials), 0);
}

QTEST_GUILESS_MAIN(TestLoginCheck)
#include "tst_logincheck.moc"
