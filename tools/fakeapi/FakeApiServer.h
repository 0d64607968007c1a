// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "FakeApiState.h"
#include "FaultPlan.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "OAuthVerifier.h"
#include "RateLimits.h"

#include <QCborArray>
#include <QCborMap>
#include <QObject>
#include <QTcpServer>

class HttpConnection;

// A loopback stand-in for the service's REST API v1.1 under /1.1/, with signed requests
// checked and the service's rate limits played, pictures made up for any picture address (also when it is asked for as an
// HTTP proxy, so that a client pointed at it never leaves the machine), and a control
// API under /_control/ to change what it knows and to inject faults.
class FakeApiServer : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        quint16 port = 0;
        QString fixturesDir;
        OAuthVerifier::Credentials credentials;
        // The rate limits' window; 0 turns them off.
        qint64 rateWindowSeconds = RateLimits::ServiceWindowSeconds;
    };

    FakeApiServer(const Options &options, QObject *parent = nullptr);

    bool start(QString *error);
    quint16 port() const { return mServer.serverPort(); }

private Q_SLOTS:
    void onNewConnection();
    void onRequest(HttpConnection *connection, const HttpRequest &request);

private:
    QDateTime serverTime() const;
    bool isOwnHost(const HttpRequest &request) const;
    bool isControl(const HttpRequest &request) const;
    HttpResponse respond(const HttpRequest &request);
    HttpResponse api(const HttpRequest &request, const QString &endpoint);
    HttpResponse endpointAnswer(const HttpRequest &request, const QString &endpoint);
    HttpResponse faultAnswer(const FaultPlan::Fault &fault, const QString &endpoint) const;
    HttpResponse picture(const HttpRequest &request);
    void log(const HttpRequest &request, int status);

    // The control API (FakeApiServerControl.cpp).
    HttpResponse control(const HttpRequest &request, const QString &action);
    HttpResponse controlWithBody(const QString &action, const QCborMap &body);

    Options mOptions;
    QTcpServer mServer;
    FakeApiState mState;
    FaultPlan mFaults;
    OAuthVerifier mVerifier;
    RateLimits mRateLimits;
    qint64 mClockOffsetSeconds = 0;
    QCborArray mLog;
    QCborMap mRequestCounts; // path -> status -> requests, since the log was last cleared
    int mConnections = 0;
};
