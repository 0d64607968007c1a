// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>

// The fake API server's control API (/_control/...), answered within a few seconds; the
// event loop keeps running meanwhile, so that Ctrl-C is still heard.
class FakeApiControl : public QObject
{
    Q_OBJECT

public:
    explicit FakeApiControl(QObject *parent = nullptr);

    void setPort(quint16 port) { mPort = port; }
    // A POST; true when the server accepted it. The answer is kept in lastAnswer().
    bool post(const QString &action, const QJsonObject &body = QJsonObject());
    QJsonObject get(const QString &action);
    QJsonObject lastAnswer() const { return mLastAnswer; }
    QString lastError() const { return mLastError; }

private:
    QByteArray call(const QByteArray &method, const QString &action, const QByteArray &body, int *status);

    QNetworkAccessManager mManager;
    quint16 mPort = 0;
    QJsonObject mLastAnswer;
    QString mLastError;
};
