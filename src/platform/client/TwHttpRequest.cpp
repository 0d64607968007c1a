// SPDX-License-Identifier: BSD-3-Clause
#include "TwHttpRequest.h"

#include <QDebug>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

namespace {

// "Sun, 06 Dec 2026 05:40:12 GMT", the one form HTTP servers must send.
QDateTime httpDate(const QByteArray &text)
{
    QDateTime time = QLocale::c().toDateTime(QString::fromLatin1(text).trimmed(),
                                             QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    time.setTimeSpec(Qt::UTC);
    return time;
}

bool isUnreachable(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        return true;
    default:
        return false;
    }
}

}

TwHttpRequest::TwHttpRequest(QNetworkAccessManager *manager, const QNetworkRequest &request, qint64 maxBytes,
                             int timeoutMs, QObject *parent)
    : QObject(parent)
    , mTimeout(new QTimer(this))
    , mTarget(request.url().toDisplayString(QUrl::RemoveQuery))
    , mMaxBytes(maxBytes)
    , mTimeoutMs(timeoutMs)
{
    mTimeout->setObjectName(QStringLiteral("requestTimeout"));
    mTimeout->setSingleShot(true);
    mTimeout->setInterval(timeoutMs);
    connect(mTimeout, &QTimer::timeout, this, &TwHttpRequest::onTimeout);
    mTimeout->start();

    mReply = manager->get(request);
    connect(mReply, &QNetworkReply::metaDataChanged, this, &TwHttpRequest::onMetaDataChanged);
    connect(mReply, &QNetworkReply::downloadProgress, this, &TwHttpRequest::onDownloadProgress);
    connect(mReply, &QNetworkReply::finished, this, &TwHttpRequest::onFinished);
}

TwHttpRequest::~TwHttpRequest()
{
    dropReply();
}

void TwHttpRequest::onMetaDataChanged()
{
    const qint64 announced = mReply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (announced > mMaxBytes)
        fail(QStringLiteral("Response too large: %1 bytes announced").arg(announced));
}

void TwHttpRequest::onDownloadProgress(qint64 received, qint64 total)
{
    if (received > mMaxBytes || total > mMaxBytes)
        fail(QStringLiteral("Response too large: more than %1 bytes").arg(mMaxBytes));
}

void TwHttpRequest::onFinished()
{
    if (mDone)
        return;
    const int status = mReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0) {
        fail(mReply->errorString(), isUnreachable(mReply->error()));
        return;
    }
    TwHttpResult result;
    result.status = status;
    // The whole body is buffered by now: read as much as there is, rather than a buffer
    // of the largest size allowed for every answer.
    if (mReply->bytesAvailable() > mMaxBytes) {
        fail(QStringLiteral("Response too large: more than %1 bytes").arg(mMaxBytes));
        return;
    }
    result.body = mReply->readAll();
    result.serverDate = httpDate(mReply->rawHeader("Date"));
    result.rateLimitReset = mReply->rawHeader("x-rate-limit-reset");
    result.rateLimitRemaining = mReply->rawHeader("x-rate-limit-remaining");
    finish(result);
}

void TwHttpRequest::onTimeout()
{
    fail(QStringLiteral("Request timed out after %1 s").arg(mTimeoutMs / 1000));
}

void TwHttpRequest::fail(const QString &failure, bool unreachable)
{
    qWarning() << Q_FUNC_INFO << mTarget << failure;
    TwHttpResult result;
    result.failure = failure;
    result.unreachable = unreachable;
    finish(result);
}

void TwHttpRequest::finish(const TwHttpResult &result)
{
    if (mDone)
        return;
    mDone = true;
    mTimeout->stop();
    dropReply();
    emit finished(result);
    deleteLater();
}

// Disconnected first: aborting makes the reply report its end, which is of no interest now.
void TwHttpRequest::dropReply()
{
    if (!mReply)
        return;
    mReply->disconnect(this);
    mReply->abort();
    mReply->deleteLater();
}
