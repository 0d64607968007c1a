// SPDX-License-Identifier: BSD-3-Clause
#include "TwApiConnection.h"

#include "TwHttpRequest.h"
#include "TwJson.h"

#include <QDateTime>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

namespace {

const int ApiTimeoutMs = 30000;
const int DownloadTimeoutMs = 60000;
const qint64 MaxApiBytes = 4 * 1024 * 1024;
const qint64 MaxPictureBytes = 4 * 1024 * 1024;
const int MaxRedirects = 5;
const int TooManyRequests = 429;
// The service's rate-limit window, for a 429 that does not say when it ends.
const qint64 DefaultHoldMs = 15 * 60 * 1000;
// No hold outlasts a window and a margin: a reset further away is a wrong header, and
// would keep the endpoint until the daemon restarts.
const qint64 MaxHoldMs = DefaultHoldMs + 60 * 1000;
// A refusal whose reset has passed by our reckoning is still held this long.
const qint64 MinHoldMs = 1000;
const QString RateLimitMessage = QStringLiteral("Rate limit exceeded");

QString percentEncoded(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QNetworkRequest boundedRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("twitter-ostra"));
    return request;
}

}

TwApiConnection::TwApiConnection(const QUrl &apiBase, const TwRequestSigner &signer, QObject *parent)
    : QObject(parent)
    , mApiBase(apiBase)
    , mSigner(signer)
    , mManager(new QNetworkAccessManager(this))
{
}

TwHttpRequest *TwApiConnection::get(const QString &endpoint, const Query &query)
{
    if (mHolds.contains(endpoint))
        return nullptr;
    // Encoded here, strictly, so that the signed text and the sent text are the same.
    QStringList fields;
    for (const auto &field : query)
        fields.append(percentEncoded(field.first) + QLatin1Char('=') + percentEncoded(field.second));
    QUrl url = mApiBase.resolved(QUrl(endpoint));
    if (!fields.isEmpty())
        url.setQuery(fields.join(QLatin1Char('&')), QUrl::StrictMode);

    QNetworkRequest request = boundedRequest(url);
    request.setRawHeader("Authorization", mSigner.authorization(TwRequestSigner::Method::Get, url));
    qDebug() << Q_FUNC_INFO << url.toDisplayString();
    auto *call = new TwHttpRequest(mManager, request, MaxApiBytes, ApiTimeoutMs, this);
    connect(call, &TwHttpRequest::finished, this,
            [this, endpoint](const TwHttpResult &result) { noteAnswer(endpoint, result); });
    return call;
}

TwHttpRequest *TwApiConnection::download(const QUrl &url)
{
    qDebug() << Q_FUNC_INFO << url.toDisplayString();
    return new TwHttpRequest(mManager, boundedRequest(url), MaxPictureBytes, DownloadTimeoutMs, this);
}

QString TwApiConnection::holdMessage(const QString &endpoint) const
{
    return mHolds.value(endpoint).message;
}

void TwApiConnection::noteAnswer(const QString &endpoint, const TwHttpResult &result)
{
    if (result.serverDate.isValid()) {
        mServerDate = result.serverDate;
        mSinceServerDate.start();
    }
    if (result.status == TooManyRequests) {
        QString error;
        QString message = TwJson::errorMessage(TwJson::parse(result.body, &error));
        if (message.isEmpty())
            message = RateLimitMessage;
        // Refused now, so the window has not reset yet, whatever the clocks say.
        hold(endpoint, qMax(untilReset(result, DefaultHoldMs), MinHoldMs), message);
        return;
    }
    // The last request the window allows: the next one would only be refused.
    bool counted = false;
    if (result.rateLimitRemaining.trimmed().toLongLong(&counted) <= 0 && counted)
        hold(endpoint, untilReset(result, 0), RateLimitMessage);
}

// From the answer to its window's reset, by the server's clock where the answer tells it,
// so that a skewed device clock neither ends a hold early nor keeps it for long.
qint64 TwApiConnection::untilReset(const TwHttpResult &result, qint64 fallback)
{
    bool ok = false;
    const qint64 reset = result.rateLimitReset.trimmed().toLongLong(&ok);
    if (!ok)
        return fallback;
    const qint64 now = result.serverDate.isValid() ? result.serverDate.toMSecsSinceEpoch()
                                                   : QDateTime::currentMSecsSinceEpoch();
    // Bounded in seconds first: a reset of the far future would overflow in milliseconds.
    return qMin(qBound<qint64>(0, reset, now / 1000 + MaxHoldMs / 1000) * 1000 - now, MaxHoldMs);
}

QDateTime TwApiConnection::serverTime() const
{
    return mServerDate.isValid() ? mServerDate.addMSecs(mSinceServerDate.elapsed()) : QDateTime();
}

qint64 TwApiConnection::holdRemainingMs(const QString &endpoint) const
{
    const auto hold = mHolds.constFind(endpoint);
    return hold == mHolds.cend() ? 0 : qMax(0, hold->timer->remainingTime());
}

void TwApiConnection::hold(const QString &endpoint, qint64 milliseconds, const QString &message)
{
    qWarning() << Q_FUNC_INFO << endpoint << "for" << milliseconds << "ms:" << message;
    if (milliseconds <= 0)
        return;
    release(endpoint);
    auto *timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("rateLimitHold"));
    timer->setProperty("endpoint", endpoint);
    timer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early, and a request before the reset is refused
    // again; this one wakes the device once.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, endpoint] { release(endpoint); });
    timer->start(int(milliseconds));
    mHolds.insert(endpoint, {timer, message});
}

void TwApiConnection::release(const QString &endpoint)
{
    if (!mHolds.contains(endpoint))
        return;
    qDebug() << Q_FUNC_INFO << endpoint;
    QTimer *timer = mHolds.take(endpoint).timer;
    timer->stop();
    timer->deleteLater();
}
