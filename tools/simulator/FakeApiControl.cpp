// SPDX-License-Identifier: BSD-3-Clause
#include "FakeApiControl.h"

#include <QDebug>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

namespace {
const int AnswerTimeoutMs = 5000;
}

FakeApiControl::FakeApiControl(QObject *parent)
    : QObject(parent)
{
    // Loopback only, whatever proxy the environment names.
    mManager.setProxy(QNetworkProxy::NoProxy);
}

bool FakeApiControl::post(const QString &action, const QJsonObject &body)
{
    int status = 0;
    const QByteArray answer = call("POST", action, QJsonDocument(body).toJson(QJsonDocument::Compact), &status);
    mLastAnswer = QJsonDocument::fromJson(answer).object();
    if (status != 200) {
        mLastError = QStringLiteral("%1 %2: %3").arg(action).arg(status).arg(QString::fromUtf8(answer).trimmed());
        qWarning() << Q_FUNC_INFO << mLastError;
    }
    return status == 200;
}

QJsonObject FakeApiControl::get(const QString &action)
{
    int status = 0;
    return QJsonDocument::fromJson(call("GET", action, QByteArray(), &status)).object();
}

QByteArray FakeApiControl::call(const QByteArray &method, const QString &action, const QByteArray &body, int *status)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/_control/%2").arg(mPort).arg(action)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = mManager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(AnswerTimeoutMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (!reply->isFinished())
        reply->abort();
    *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->readAll();
    reply->deleteLater();
    return answer;
}
