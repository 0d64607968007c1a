// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "TwRequestSigner.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QUrl>

class QNetworkAccessManager;
class QTimer;
class TwHttpRequest;
struct TwHttpResult;

// The way to the service for one account: signed API requests under the API base
// address, unsigned picture downloads, and the endpoints held back by the service's
// rate limit. A hold is a child QTimer named "rateLimitHold" whose "endpoint" property
// names what it holds; it runs out at the service's x-rate-limit-reset time. An endpoint
// is held when the service refuses it (429) and when an answer says that no request is
// left in its window, so that no request is sent only to be refused.
class TwApiConnection : public QObject
{
    Q_OBJECT

public:
    using Query = QList<QPair<QString, QString>>;

    TwApiConnection(const QUrl &apiBase, const TwRequestSigner &signer, QObject *parent);

    // A signed GET of an endpoint, e.g. "statuses/home_timeline.json"; null while the
    // endpoint is held back (see holdMessage).
    TwHttpRequest *get(const QString &endpoint, const Query &query);
    TwHttpRequest *download(const QUrl &url);

    // The service's message for a held endpoint; empty when it is not held.
    QString holdMessage(const QString &endpoint) const;
    // How long the endpoint stays held; 0 when it is not.
    qint64 holdRemainingMs(const QString &endpoint) const;
    // The server's time now by the Date of its latest answer; invalid before one.
    QDateTime serverTime() const;

private:
    void noteAnswer(const QString &endpoint, const TwHttpResult &result);
    static qint64 untilReset(const TwHttpResult &result, qint64 fallback);
    void hold(const QString &endpoint, qint64 milliseconds, const QString &message);
    void release(const QString &endpoint);

    struct Hold {
        QTimer *timer;
        QString message;
    };

    QUrl mApiBase;
    TwRequestSigner mSigner;
    QNetworkAccessManager *mManager;
    QHash<QString, Hold> mHolds;
    QDateTime mServerDate;
    QElapsedTimer mSinceServerDate;
};
