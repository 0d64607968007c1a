// SPDX-License-Identifier: BSD-3-Clause
#include "OAuthVerifier.h"

#include <QOAuth1Signature>
#include <QVariantMap>

namespace {

const qint64 MaxSkewSeconds = 300;
const int MaxHeaderFields = 20;

// The fields of "OAuth k1="v1", k2="v2"", decoded; empty when the header is not one.
QVariantMap authorizationFields(const QByteArray &header)
{
    QVariantMap fields;
    if (!header.startsWith("OAuth "))
        return fields;
    const QList<QByteArray> parts = header.mid(6).split(',');
    if (parts.size() > MaxHeaderFields)
        return fields;
    for (const QByteArray &part : parts) {
        const QByteArray field = part.trimmed();
        const int equals = field.indexOf('=');
        if (equals <= 0)
            return QVariantMap();
        QByteArray value = field.mid(equals + 1);
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        fields.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(field.left(equals))),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return fields;
}

QOAuth1Signature::HttpRequestMethod methodOf(const QByteArray &method)
{
    if (method == "GET")
        return QOAuth1Signature::HttpRequestMethod::Get;
    if (method == "POST")
        return QOAuth1Signature::HttpRequestMethod::Post;
    if (method == "PUT")
        return QOAuth1Signature::HttpRequestMethod::Put;
    if (method == "DELETE")
        return QOAuth1Signature::HttpRequestMethod::Delete;
    if (method == "HEAD")
        return QOAuth1Signature::HttpRequestMethod::Head;
    return QOAuth1Signature::HttpRequestMethod::Unknown;
}

OAuthVerifier::Verdict refusal(int code, int status, const char *message)
{
    return {code, status, QString::fromLatin1(message)};
}

}

OAuthVerifier::OAuthVerifier(const Credentials &credentials)
    : mCredentials(credentials)
{
}

OAuthVerifier::Verdict OAuthVerifier::check(const HttpRequest &request, qint64 serverTime) const
{
    QVariantMap fields = authorizationFields(request.header("authorization"));
    const QString signature = fields.take(QStringLiteral("oauth_signature")).toString();
    fields.remove(QStringLiteral("realm"));
    if (signature.isEmpty() || fields.value(QStringLiteral("oauth_signature_method")) != QLatin1String("HMAC-SHA1")
        || methodOf(request.method) == QOAuth1Signature::HttpRequestMethod::Unknown)
        return refusal(215, 400, "Bad Authentication data.");
    if (fields.value(QStringLiteral("oauth_consumer_key")) != mCredentials.consumerKey)
        return refusal(32, 401, "Could not authenticate you.");
    if (fields.value(QStringLiteral("oauth_token")) != mCredentials.token)
        return refusal(89, 401, "Invalid or expired token.");
    bool ok = false;
    const qint64 timestamp = fields.value(QStringLiteral("oauth_timestamp")).toString().toLongLong(&ok);
    if (!ok || qAbs(timestamp - serverTime) > MaxSkewSeconds)
        return refusal(135, 401, "Timestamp out of bounds.");

    QVariantMap parameters = fields;
    if (request.header("content-type").startsWith("application/x-www-form-urlencoded")) {
        const QUrlQuery body(QString::fromUtf8(request.body).replace(QLatin1Char('+'), QLatin1Char(' ')));
        for (const auto &item : body.queryItems(QUrl::FullyDecoded))
            parameters.insert(item.first, item.second);
    }
    const QByteArray expected = QOAuth1Signature(request.url, mCredentials.consumerSecret, mCredentials.tokenSecret,
                                                 methodOf(request.method), parameters)
                                    .hmacSha1()
                                    .toBase64();
    if (expected != signature.toLatin1())
        return refusal(32, 401, "Could not authenticate you.");
    return Verdict();
}
