// SPDX-License-Identifier: BSD-3-Clause
// The real login check: the account's credentials are tried on the service with a
// signed account/verify_credentials.json, and a refusal is told apart by its cause.

#include "TwLoginCheck.h"

#include "TwApiConnection.h"
#include "TwHttpRequest.h"
#include "TwJson.h"

#include <QDebug>

namespace {

const QString VerifyCredentials = QStringLiteral("account/verify_credentials.json");
const QString ClockSkewError = QStringLiteral("Client time out of sync");
// The service accepts timestamps this far from its own clock.
const qint64 MaxClockSkewSeconds = 300;
const int SuspendedCode = 64;

TwLoginError::TwLoginError typeOfStatus(int status, int code)
{
    switch (status) {
    case 401:
        return TwLoginError::LOGIN_ERROR_CREDENTIALS;
    case 403:
        return code == SuspendedCode ? TwLoginError::LOGIN_ERROR_SUSPENDED : TwLoginError::LOGIN_ERROR_GENERIC;
    case 429:
        return TwLoginError::LOGIN_ERROR_RATE_LIMITED;
    case 503:
        return TwLoginError::LOGIN_ERROR_BUSY;
    default:
        return status >= 500 ? TwLoginError::LOGIN_ERROR_SERVER : TwLoginError::LOGIN_ERROR_GENERIC;
    }
}

}

void TwLoginCheck::start()
{
    qDebug() << Q_FUNC_INFO << mApiBase << mScreenName;
    auto *connection = new TwApiConnection(QUrl(mApiBase),
                                           TwRequestSigner(mConsumerKey, mConsumerSecret, mToken, mTokenSecret), this);
    TwHttpRequest *request = connection->get(VerifyCredentials, {{QStringLiteral("skip_status"), QStringLiteral("true")}});
    connect(request, &TwHttpRequest::finished, this, [this](const TwHttpResult &result) {
        if (result.answered() && result.status == 200) {
            qDebug() << Q_FUNC_INFO << "credentials accepted";
            emit accepted(mToken, mTokenSecret, mUserId, mScreenName, mConsumerKey, mConsumerSecret);
            return;
        }
        if (!result.answered()) {
            emit refused(result.unreachable ? TwLoginError::LOGIN_ERROR_NETWORK : TwLoginError::LOGIN_ERROR_GENERIC,
                         result.failure);
            return;
        }
        QString parseError;
        const QVariant body = TwJson::parse(result.body, &parseError);
        QString message = TwJson::errorMessage(body);
        if (message.isEmpty())
            message = QStringLiteral("HTTP status %1").arg(result.status);
        // A signature out of the service's time window looks like bad credentials; the
        // server's clock tells the two apart.
        const qint64 skew = result.serverDate.isValid()
            ? qAbs(result.serverDate.secsTo(QDateTime::currentDateTimeUtc()))
            : 0;
        if (result.status == 401 && skew > MaxClockSkewSeconds) {
            message = ClockSkewError + QStringLiteral(": the service's clock differs by %1 s").arg(skew);
            qWarning() << Q_FUNC_INFO << message;
            emit refused(TwLoginError::LOGIN_ERROR_UNAUTHORIZED, message);
            return;
        }
        qWarning() << Q_FUNC_INFO << result.status << message;
        emit refused(typeOfStatus(result.status, TwJson::errorCode(body)), message);
    });
}
