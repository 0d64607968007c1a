// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>
#include <QOAuth1Signature>
#include <QString>
#include <QUrl>
#include <QVariantMap>

// OAuth 1.0a (HMAC-SHA1) signing of the service's requests with one account's
// credentials. The signature itself is Qt Network Authorization's; this class only
// gathers the protocol parameters and writes the Authorization header.
class TwRequestSigner
{
public:
    using Method = QOAuth1Signature::HttpRequestMethod;

    TwRequestSigner(const QString &consumerKey, const QString &consumerSecret, const QString &token,
                    const QString &tokenSecret);

    // The oauth_* parameters of one request, oauth_version included, without the signature.
    QVariantMap protocolParameters(const QString &nonce, qint64 timestamp) const;
    // Base64 HMAC-SHA1 of a request: the URL carries its query, parameters hold the
    // protocol parameters and any form-encoded body parameters.
    QByteArray signature(Method method, const QUrl &url, const QVariantMap &parameters) const;

    // The Authorization header of a request, with a fresh nonce and the current time.
    QByteArray authorization(Method method, const QUrl &url, const QVariantMap &bodyParameters = {}) const;
    // The same with the protocol parameters given (for reproducible signatures).
    QByteArray authorization(Method method, const QUrl &url, const QVariantMap &bodyParameters,
                             const QVariantMap &protocolParameters) const;

private:
    static QString freshNonce();

    QString mConsumerKey;
    QString mConsumerSecret;
    QString mToken;
    QString mTokenSecret;
};
