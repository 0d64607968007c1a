// SPDX-License-Identifier: BSD-3-Clause
#include "TwRequestSigner.h"

#include <QDateTime>
#include <QRandomGenerator>

TwRequestSigner::TwRequestSigner(const QString &consumerKey, const QString &consumerSecret,
                                 const QString &token, const QString &tokenSecret)
    : mConsumerKey(consumerKey)
    , mConsumerSecret(consumerSecret)
    , mToken(token)
    , mTokenSecret(tokenSecret)
{
}

QVariantMap TwRequestSigner::protocolParameters(const QString &nonce, qint64 timestamp) const
{
    return {{QStringLiteral("oauth_consumer_key"), mConsumerKey},
            {QStringLiteral("oauth_nonce"), nonce},
            {QStringLiteral("oauth_signature_method"), QStringLiteral("HMAC-SHA1")},
            {QStringLiteral("oauth_timestamp"), QString::number(timestamp)},
            {QStringLiteral("oauth_token"), mToken},
            {QStringLiteral("oauth_version"), QStringLiteral("1.0")}};
}

QByteArray TwRequestSigner::signature(Method method, const QUrl &url, const QVariantMap &parameters) const
{
    return QOAuth1Signature(url, mConsumerSecret, mTokenSecret, method, parameters).hmacSha1().toBase64();
}

QByteArray TwRequestSigner::authorization(Method method, const QUrl &url, const QVariantMap &bodyParameters) const
{
    return authorization(method, url, bodyParameters,
                         protocolParameters(freshNonce(), QDateTime::currentSecsSinceEpoch()));
}

QByteArray TwRequestSigner::authorization(Method method, const QUrl &url, const QVariantMap &bodyParameters,
                                          const QVariantMap &protocolParameters) const
{
    QVariantMap parameters = bodyParameters;
    for (auto it = protocolParameters.cbegin(); it != protocolParameters.cend(); ++it)
        parameters.insert(it.key(), it.value());
    QVariantMap header = protocolParameters;
    header.insert(QStringLiteral("oauth_signature"), QString::fromLatin1(signature(method, url, parameters)));

    QByteArrayList fields;
    for (auto it = header.cbegin(); it != header.cend(); ++it)
        fields.append(QUrl::toPercentEncoding(it.key()) + "=\"" + QUrl::toPercentEncoding(it.value().toString()) + '"');
    return "OAuth " + fields.join(", ");
}

QString TwRequestSigner::freshNonce()
{
    // 128 random bits as hex: only unreserved characters, so nothing to encode.
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof(words)).toHex());
}
