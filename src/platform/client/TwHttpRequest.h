// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "TwHttpResult.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>

class QNetworkAccessManager;
class QNetworkRequest;
class QTimer;

// One HTTP GET, bounded in time and size: it finishes exactly once, with an answer or a
// failure, and then deletes itself. Its deadline is a child QTimer named "requestTimeout".
class TwHttpRequest : public QObject
{
    Q_OBJECT

public:
    TwHttpRequest(QNetworkAccessManager *manager, const QNetworkRequest &request, qint64 maxBytes,
                  int timeoutMs, QObject *parent);
    ~TwHttpRequest() override;

    QString target() const { return mTarget; }

Q_SIGNALS:
    void finished(const TwHttpResult &result);

private Q_SLOTS:
    void onMetaDataChanged();
    void onDownloadProgress(qint64 received, qint64 total);
    void onFinished();
    void onTimeout();

private:
    void fail(const QString &failure, bool unreachable = false);
    void finish(const TwHttpResult &result);
    void dropReply();

    QPointer<QNetworkReply> mReply;
    QTimer *mTimeout;
    QString mTarget;
    qint64 mMaxBytes;
    int mTimeoutMs;
    bool mDone = false;
};
