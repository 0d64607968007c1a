// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "SessionProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>

// The fake Twitter API server (tools/fakeapi) as a second process, killed with this
// object, and its control API.
class FakeApiProcess
{
public:
    FakeApiProcess();

    // Its log goes to this file instead of this process's standard error.
    void setLogFile(const QString &path);
    // The rate limits' window the server is started with (--rate-window-seconds); 0, the
    // default here, turns the limits off, so that only a test about them meets them.
    void setRateWindowSeconds(int seconds) { mRateWindowSeconds = seconds; }
    int rateWindowSeconds() const { return mRateWindowSeconds; }
    // Starts the server with these options and reads its port; false when it fails.
    bool start(const QStringList &arguments = {});
    quint16 port() const { return mPort; }
    QString apiBase() const;
    // The address to give a client as its HTTP proxy, so that pictures come from here.
    QString proxyUrl() const;

    // Control calls; a POST is true when the server accepted it, else lastError() says why.
    bool post(const QString &action, const QJsonObject &body = QJsonObject());
    QJsonObject lastAnswer() const { return mLastAnswer; }
    QString lastError() const { return mLastError; }
    QJsonArray requests();
    // GET /_control/state: what it holds, and "rate_limits" of the windows running.
    QJsonObject state();
    // GET /_control/requests/counts: path ("pictures" for them all) -> status -> requests.
    QJsonObject requestCounts();
    // {endpoint: {"limit", "remaining", "reset"}} of the windows running.
    QJsonObject rateLimits() { return state().value(QStringLiteral("rate_limits")).toObject(); }
    // How many requests have reached this path ("/1.1/statuses/home_timeline.json").
    int requestCount(const QString &path);

private:
    QJsonDocument get(const QString &action);
    QByteArray call(const QByteArray &method, const QString &action, const QByteArray &body, int *status);

    SessionProcess mProcess;
    bool mLogged = false;
    int mRateWindowSeconds = 0;
    quint16 mPort = 0;
    QNetworkAccessManager mManager;
    QJsonObject mLastAnswer;
    QString mLastError;
};
