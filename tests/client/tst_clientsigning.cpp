// SPDX-License-Identifier: BSD-3-Clause
// OAuth 1.0a request signing against the published examples: the service's own
// documentation and RFC 5849.

#include "TwRequestSigner.h"

#include <QDateTime>
#include <QTest>

class TestClientSigning : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void serviceDocumentationExample();
    void rfc5849Example();
    void headerCarriesEveryParameterEncoded();
    void freshRequestsDifferInNonceOnly();
};

void TestClientSigning::serviceDocumentationExample()
{
    const TwRequestSigner signer(QStringLiteral("xvz1evFS4wEEPTGEFPHBog"),
                                 QStringLiteral("kAcSOqF21Fu85e7zjz7ZN2U4ZRhfV3WpwPAoE3Z7kBw"),
                                 QStringLiteral("370773112-GmHxMAgYyLbNEtIKZeRNFsMKPR9EyMZeS9weJAEb"),
                                 QStringLiteral("LswwdoUaIvS8ltyTt5jkRh4J50vUPVVHtR2YPi5kE"));
    QVariantMap parameters = signer.protocolParameters(QStringLiteral("kYjzVBB8Y0ZFabxSWbWovY3uYSQ2pTgmZeNu2VS4cg"),
                                                       1318622958);
    QCOMPARE(parameters.value(QStringLiteral("oauth_version")).toString(), QStringLiteral("1.0"));
    parameters.insert(QStringLiteral("status"), QStringLiteral("Hello Ladies + Gentlemen, a signed OAuth request!"));
    const QUrl url(QStringLiteral("https://api.twitter.com/1.1/statuses/update.json?include_entities=true"));
    QCOMPARE(signer.signature(TwRequestSigner::Method::Post, url, parameters), QByteArray("hCtSmYh+iHYCEqBWrE7C7hYmtUk="));
}

void TestClientSigning::rfc5849Example()
{
    const TwRequestSigner signer(QStringLiteral("dpf43f3p2l4k3l03"), QStringLiteral("kd94hf93k423kf44"),
                                 QStringLiteral("nnch734d00sl2jdk"), QStringLiteral("pfkkdhi9sl3r4s00"));
    // The RFC's request has no oauth_version.
    const QVariantMap parameters = {{QStringLiteral("oauth_consumer_key"), QStringLiteral("dpf43f3p2l4k3l03")},
                                    {QStringLiteral("oauth_token"), QStringLiteral("nnch734d00sl2jdk")},
                                    {QStringLiteral("oauth_signature_method"), QStringLiteral("HMAC-SHA1")},
                                    {QStringLiteral("oauth_timestamp"), QStringLiteral("137131202")},
                                    {QStringLiteral("oauth_nonce"), QStringLiteral("chapoH")}};
    const QUrl url(QStringLiteral("http://photos.example.net/photos?file=vacation.jpg&size=original"));
    QCOMPARE(signer.signature(TwRequestSigner::Method::Get, url, parameters), QByteArray("MdpQcU8iPSUjWoN/UDMsK2sui9I="));
}

void TestClientSigning::headerCarriesEveryParameterEncoded()
{
    const TwRequestSigner signer(QStringLiteral("xvz1evFS4wEEPTGEFPHBog"),
                                 QStringLiteral("kAcSOqF21Fu85e7zjz7ZN2U4ZRhfV3WpwPAoE3Z7kBw"),
                                 QStringLiteral("370773112-GmHxMAgYyLbNEtIKZeRNFsMKPR9EyMZeS9weJAEb"),
                                 QStringLiteral("LswwdoUaIvS8ltyTt5jkRh4J50vUPVVHtR2YPi5kE"));
    const QVariantMap protocol = signer.protocolParameters(QStringLiteral("kYjzVBB8Y0ZFabxSWbWovY3uYSQ2pTgmZeNu2VS4cg"),
                                                           1318622958);
    const QByteArray header = signer.authorization(
        TwRequestSigner::Method::Post, QUrl(QStringLiteral("https://api.twitter.com/1.1/statuses/update.json?include_entities=true")),
        {{QStringLiteral("status"), QStringLiteral("Hello Ladies + Gentlemen, a signed OAuth request!")}}, protocol);
    QVERIFY(header.startsWith("OAuth "));
    const QByteArrayList expected = {"oauth_consumer_key=\"xvz1evFS4wEEPTGEFPHBog\"",
                                     "oauth_nonce=\"kYjzVBB8Y0ZFabxSWbWovY3uYSQ2pTgmZeNu2VS4cg\"",
                                     "oauth_signature=\"hCtSmYh%2BiHYCEqBWrE7C7hYmtUk%3D\"",
                                     "oauth_signature_method=\"HMAC-SHA1\"",
                                     "oauth_timestamp=\"1318622958\"",
                                     "oauth_token=\"370773112-GmHxMAgYyLbNEtIKZeRNFsMKPR9EyMZeS9weJAEb\"",
                                     "oauth_version=\"1.0\""};
    QCOMPARE(header.mid(6).split(',').size(), expected.size());
    for (const QByteArray &field : expected)
        QVERIFY2(header.contains(field), field.constData());
    // Body parameters are signed, not sent in the header.
    QVERIFY(!header.contains("status"));
}

void TestClientSigning::freshRequestsDifferInNonceOnly()
{
    const TwRequestSigner signer(QStringLiteral("ck"), QStringLiteral("cs"), QStringLiteral("t"), QStringLiteral("ts"));
    const QUrl url(QStringLiteral("http://127.0.0.1/1.1/help/configuration.json"));
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const QByteArray first = signer.authorization(TwRequestSigner::Method::Get, url);
    const QByteArray second = signer.authorization(TwRequestSigner::Method::Get, url);
    QVERIFY(first != second);
    const auto field = [](const QByteArray &header, const QByteArray &name) {
        const int start = header.indexOf(name + "=\"") + name.size() + 2;
        return header.mid(start, header.indexOf('"', start) - start);
    };
    QVERIFY(field(first, "oauth_nonce") != field(second, "oauth_nonce"));
    QVERIFY(field(first, "oauth_nonce").size() >= 32);
    QVERIFY(qAbs(field(first, "oauth_timestamp").toLongLong() - before) <= 2);
}

QTEST_GUILESS_MAIN(TestClientSigning)
#include "tst_clientsigning.moc"
