// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>

class QTimer;

// One client connection: reads one request, bounded in size and time, and writes one
// answer, after which the connection closes. It deletes itself when the socket goes.
class HttpConnection : public QObject
{
    Q_OBJECT

public:
    HttpConnection(QTcpSocket *socket, QObject *parent);

    // Writes the answer now, or after response.delayMs, dated by the server's clock.
    void respond(const HttpResponse &response, const QDateTime &date);
    // "Sun, 06 Dec 2026 05:40:12 GMT"
    static QByteArray httpDate(const QDateTime &time);

Q_SIGNALS:
    void requestReceived(HttpConnection *connection, const HttpRequest &request);

private Q_SLOTS:
    void onReadyRead();

private:
    bool parseHead(const QByteArray &head);
    void write(const HttpResponse &response, const QDateTime &date);
    void refuse(int status, const QByteArray &message);

    QTcpSocket *mSocket;
    QTimer *mIdleTimer;
    QByteArray mBuffer;
    HttpRequest mRequest;
    qint64 mBodyLength = -1; // -1 until the head has been read
    bool mAnswering = false;
};
