// SPDX-License-Identifier: BSD-3-Clause
#include "FakeApiProcess.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

FakeApiProcess::FakeApiProcess()
{
    // Loopback only, whatever proxy the environment names.
    mManager.setProxy(QNetworkProxy::NoProxy);
}

void FakeApiProcess::setLogFile(const QString &path)
{
    mProcess.setStandardErrorFile(path);
    mLogged = true;
}

bool FakeApiProcess::start(const QStringList &arguments)
{
    if (!mLogged)
        mProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The caller's own arguments come last, so that they win.
    mProcess.start(QStringLiteral(FAKEAPI_BINARY),
                   QStringList{QStringLiteral("--rate-window-seconds"), QString::number(mRateWindowSeconds)} + arguments);
    if (!mProcess.waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(10000);
    while (!mProcess.canReadLine() && !deadline.hasExpired() && mProcess.state() == QProcess::Running)
        mProcess.waitForReadyRead(100);
    bool ok = false;
    mPort = mProcess.readLine().trimmed().toUShort(&ok);
    return ok && mPort != 0;
}

QString FakeApiProcess::apiBase() const
{
    return QStringLiteral("http://127.0.0.1:%1/1.1/").arg(mPort);
}

QString FakeApiProcess::proxyUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(mPort);
}

bool FakeApiProcess::post(const QString &action, const QJsonObject &body)
{
    int status = 0;
    const QByteArray answer = call("POST", action, QJsonDocument(body).toJson(QJsonDocument::Compact), &status);
    mLastAnswer = QJsonDocument::fromJson(answer).object();
    mLastError.clear();
    if (status != 200) {
        mLastError = QStringLiteral("%1 %2: %3").arg(action).arg(status).arg(QString::fromUtf8(answer).trimmed());
        qWarning() << Q_FUNC_INFO << mLastError;
    }
    return status == 200;
}

QJsonDocument FakeApiProcess::get(const QString &action)
{
    int status = 0;
    return QJsonDocument::fromJson(call("GET", action, QByteArray(), &status));
}

QJsonArray FakeApiProcess::requests()
{
    return get(QStringLiteral("requests")).array();
}

QJsonObject FakeApiProcess::state()
{
    return get(QStringLiteral("state")).object();
}

QJsonObject FakeApiProcess::requestCounts()
{
    return get(QStringLiteral("requests/counts")).object();
}

int FakeApiProcess::requestCount(const QString &path)
{
    int count = 0;
    for (const QJsonValue &request : requests())
        count += request[QStringLiteral("path")].toString() == path ? 1 : 0;
    return count;
}

QByteArray FakeApiProcess::call(const QByteArray &method, const QString &action, const QByteArray &body, int *status)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/_control/%2").arg(mPort).arg(action)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = mManager.sendCustomRequest(request, method, body);
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!reply->isFinished())
        reply->abort();
    *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->readAll();
    reply->deleteLater();
    return answer;
}
