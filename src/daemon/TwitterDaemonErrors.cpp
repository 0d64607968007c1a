// Failed requests of the client: releasing what waits on them, and the re-login that an
// authentication failure calls for.

#include "TwitterDaemon.h"

#include <QDebug>
#include <QTimer>

namespace {
const QString ErrorKey = QStringLiteral("error");
const QString OAuthFailure = QStringLiteral("Could not authenticate with OAuth.");
}

void TwitterDaemon::onNetworkRequestError(int queryId, const QVariantMap &err)
{
    qDebug() << Q_FUNC_INFO << "Got net error for:" << queryId;
    if (err.contains(ErrorKey)) {
        qDebug() << Q_FUNC_INFO << err.value(ErrorKey);
        qWarning() << Q_FUNC_INFO << err;
        if (err.value(ErrorKey).toString() == OAuthFailure) {
            reloginAfterAuthFailure();
            return;
        }
    }
}

// One forced login 100 ms later; failures reported before it starts are ignored.
void TwitterDaemon::reloginAfterAuthFailure()
{
    if (mLoginInProgress || mForceLogin)
        return;
    logout();
    mForceLogin = true;
    mLoginTimer->start();
}
