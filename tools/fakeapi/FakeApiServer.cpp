// SPDX-License-Identifier: BSD-3-Clause
#include "FakeApiServer.h"

#include "ExactJson.h"
#include "HttpConnection.h"
#include "PictureFactory.h"

#include <QDebug>
#include <QTcpSocket>

namespace {

const QString ApiPrefix = QStringLiteral("/1.1/");
const QString ControlPrefix = QStringLiteral("/_control/");
const int MaxConnections = 64;
const int MaxLogEntries = 500;
const QByteArray MalformedBody = "{\"created_at\": \"Sun Dec 06 05:40:12 +0000 2026\", \"id\": 13350951";

QByteArray errorsBody(int code, const QString &message)
{
    return ExactJson::write(QCborMap{{QStringLiteral("errors"),
                                      QCborArray{QCborMap{{QStringLiteral("code"), code},
                                                          {QStringLiteral("message"), message}}}}});
}

// The service's error body for a status, as it sends it.
QByteArray serviceErrorBody(int status, const QString &endpoint)
{
    switch (status) {
    case 401:
        return ExactJson::write(QCborMap{{QStringLiteral("request"), QString(ApiPrefix + endpoint)},
                                         {QStringLiteral("error"), QStringLiteral("Could not authenticate with OAuth.")}});
    case 403:
        return errorsBody(64, QStringLiteral("Your account is suspended and is not permitted to access this feature."));
    case 404:
        return errorsBody(34, QStringLiteral("Sorry, that page does not exist"));
    case 429:
        return errorsBody(88, QStringLiteral("Rate limit exceeded"));
    case 503:
        return errorsBody(130, QStringLiteral("Over capacity"));
    default:
        return status >= 500 ? errorsBody(131, QStringLiteral("Internal error"))
                             : errorsBody(214, QStringLiteral("Bad request."));
    }
}

HttpResponse jsonAnswer(const QCborValue &value)
{
    return HttpResponse::json(200, ExactJson::write(value));
}

}

FakeApiServer::FakeApiServer(const Options &options, QObject *parent)
    : QObject(parent)
    , mOptions(options)
    , mVerifier(options.credentials)
    , mRateLimits(options.rateWindowSeconds)
{
    connect(&mServer, &QTcpServer::newConnection, this, &FakeApiServer::onNewConnection);
}

bool FakeApiServer::start(QString *error)
{
    if (!mState.load(mOptions.fixturesDir, error))
        return false;
    if (!mServer.listen(QHostAddress::LocalHost, mOptions.port)) {
        *error = mServer.errorString();
        return false;
    }
    return true;
}

void FakeApiServer::onNewConnection()
{
    while (QTcpSocket *socket = mServer.nextPendingConnection()) {
        if (mConnections >= MaxConnections) {
            qWarning() << Q_FUNC_INFO << "too many connections; one refused";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++mConnections;
        auto *connection = new HttpConnection(socket, this);
        connect(connection, &HttpConnection::requestReceived, this, &FakeApiServer::onRequest);
        connect(connection, &QObject::destroyed, this, [this] { --mConnections; });
    }
}

void FakeApiServer::onRequest(HttpConnection *connection, const HttpRequest &request)
{
    const HttpResponse response = respond(request);
    qDebug() << Q_FUNC_INFO << request.method << request.url.toDisplayString() << response.status;
    // The log is the service's: a test polling it must not fill it with its own calls.
    if (!isControl(request))
        log(request, response.status);
    connection->respond(response, serverTime());
}

bool FakeApiServer::isOwnHost(const HttpRequest &request) const
{
    return !request.absoluteForm
        || (QHostAddress(request.url.host()).isLoopback() && request.url.port() == mServer.serverPort());
}

bool FakeApiServer::isControl(const HttpRequest &request) const
{
    return isOwnHost(request) && request.url.path().startsWith(ControlPrefix);
}

QDateTime FakeApiServer::serverTime() const
{
    return QDateTime::currentDateTimeUtc().addSecs(mClockOffsetSeconds);
}

HttpResponse FakeApiServer::respond(const HttpRequest &request)
{
    const QString path = request.url.path();
    if (isControl(request))
        return control(request, path.mid(ControlPrefix.size()));
    if (isOwnHost(request) && path.startsWith(ApiPrefix))
        return api(request, path.mid(ApiPrefix.size()));
    return picture(request);
}

HttpResponse FakeApiServer::api(const HttpRequest &request, const QString &endpoint)
{
    const OAuthVerifier::Verdict verdict = mVerifier.check(request, serverTime().toSecsSinceEpoch());
    if (verdict.code != 0) {
        qWarning() << Q_FUNC_INFO << endpoint << "refused:" << verdict.message;
        return HttpResponse::json(verdict.status, verdict.code == 32 ? serviceErrorBody(401, endpoint)
                                                                     : errorsBody(verdict.code, verdict.message));
    }
    const qint64 now = serverTime().toSecsSinceEpoch();
    const FaultPlan::Fault fault = mFaults.take(endpoint);
    const bool faulty = fault.status != 0 || fault.malformed || fault.bytes != 0;
    HttpResponse response;
    RateLimits::Quota quota;
    const bool injectedLimit = faulty && fault.status == 429;
    if (injectedLimit) {
        // An injected 429 is the test's own limit: its reset, and nothing counted.
        quota = mRateLimits.quota(endpoint, now);
        quota.remaining = 0;
        quota.reset = fault.reset;
        response = faultAnswer(fault, endpoint);
    } else if (!faulty && mRateLimits.isSpent(endpoint, now)) {
        // As the service: refused until the window's reset, and not counted.
        quota = mRateLimits.quota(endpoint, now);
        response = HttpResponse::json(429, serviceErrorBody(429, endpoint));
    } else {
        quota = mRateLimits.count(endpoint, now);
        response = faulty ? faultAnswer(fault, endpoint) : endpointAnswer(request, endpoint);
    }
    response.delayMs = fault.delayMs;
    if (RateLimits::isLimited(endpoint) || injectedLimit)
        response.headers += {{"x-rate-limit-limit", QByteArray::number(quota.limit)},
                             {"x-rate-limit-remaining", QByteArray::number(quota.remaining)},
                             {"x-rate-limit-reset", QByteArray::number(quota.reset)}};
    return response;
}

HttpResponse FakeApiServer::endpointAnswer(const HttpRequest &request, const QString &endpoint)
{
    if (request.method != "GET")
        return HttpResponse::json(404, serviceErrorBody(404, endpoint));
    const QUrlQuery query = request.query();
    if (endpoint == QLatin1String("statuses/home_timeline.json"))
        return jsonAnswer(mState.homeTimeline(query));
    if (endpoint == QLatin1String("statuses/mentions_timeline.json"))
        return jsonAnswer(mState.mentions(query));
    if (endpoint == QLatin1String("direct_messages.json"))
        return jsonAnswer(mState.directMessages(query));
    if (endpoint == QLatin1String("account/verify_credentials.json"))
        return jsonAnswer(mState.account());
    if (endpoint == QLatin1String("help/configuration.json"))
        return jsonAnswer(mState.configuration());
    if (endpoint == QLatin1String("friends/list.json")) {
        QCborMap page;
        if (!mState.friendsPage(query, &page))
            return HttpResponse::json(400, errorsBody(44, QStringLiteral("cursor parameter is invalid.")));
        return jsonAnswer(page);
    }
    if (endpoint == QLatin1String("users/show.json")) {
        const QCborMap user = mState.user(query.queryItemValue(QStringLiteral("screen_name")));
        if (user.isEmpty())
            return HttpResponse::json(404, errorsBody(50, QStringLiteral("User not found.")));
        return jsonAnswer(user);
    }
    return HttpResponse::json(404, serviceErrorBody(404, endpoint));
}

HttpResponse FakeApiServer::faultAnswer(const FaultPlan::Fault &fault, const QString &endpoint) const
{
    if (fault.bytes != 0)
        return HttpResponse::json(200, "[\"" + QByteArray(qMax(0, fault.bytes - 4), 'x') + "\"]");
    if (fault.status == 0)
        return HttpResponse::json(200, MalformedBody);
    return HttpResponse::json(fault.status, serviceErrorBody(fault.status, endpoint));
}

HttpResponse FakeApiServer::picture(const HttpRequest &request)
{
    if (request.method != "GET" || !PictureFactory::isPicture(request.url)) {
        HttpResponse response = HttpResponse::json(404, "no such picture\n");
        response.contentType = "text/plain";
        return response;
    }
    const FaultPlan::Fault fault = mFaults.take(QStringLiteral("pictures"));
    HttpResponse response = PictureFactory::picture(request.url);
    if (fault.status != 0) {
        response.status = fault.status;
        response.contentType = "text/plain";
        response.body = "picture fault\n";
    } else if (fault.malformed) {
        response.body = "this is not a picture";
    }
    response.delayMs = fault.delayMs;
    return response;
}

void FakeApiServer::log(const HttpRequest &request, int status)
{
    QCborMap query;
    for (const auto &item : request.query().queryItems(QUrl::FullyDecoded))
        query.insert(item.first, item.second);
    mLog.append(QCborMap{{QStringLiteral("method"), QString::fromLatin1(request.method)},
                         {QStringLiteral("host"), request.url.host()},
                         {QStringLiteral("path"), request.url.path()},
                         {QStringLiteral("query"), query},
                         {QStringLiteral("status"), status}});
    while (mLog.size() > MaxLogEntries)
        mLog.removeFirst();
    // Counted beyond the log's bound; pictures under one key, so that the counts stay few.
    const QString key = isOwnHost(request) && request.url.path().startsWith(ApiPrefix) ? request.url.path()
                                                                                     : QStringLiteral("pictures");
    QCborMap byStatus = mRequestCounts.value(key).toMap();
    byStatus.insert(QString::number(status), byStatus.value(QString::number(status)).toInteger() + 1);
    mRequestCounts.insert(key, byStatus);
}
