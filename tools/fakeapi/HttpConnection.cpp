// SPDX-License-Identifier: BSD-3-Clause
#include "HttpConnection.h"

#include <QDateTime>
#include <QDebug>
#include <QLocale>
#include <QTimer>

namespace {

const int MaxHeadBytes = 16 * 1024;
const int MaxHeaders = 100;
const qint64 MaxBodyBytes = 64 * 1024;
// A client that sends no complete request in this time is dropped.
const int IdleTimeoutMs = 30000;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

}

HttpConnection::HttpConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , mSocket(socket)
    , mIdleTimer(new QTimer(this))
{
    mSocket->setParent(this);
    mIdleTimer->setSingleShot(true);
    connect(mIdleTimer, &QTimer::timeout, mSocket, &QTcpSocket::abort);
    mIdleTimer->start(IdleTimeoutMs);
    connect(mSocket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(mSocket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(mSocket, &QTcpSocket::errorOccurred, this, &QObject::deleteLater);
}

void HttpConnection::onReadyRead()
{
    if (mAnswering) {
        mSocket->readAll(); // one request per connection: the rest is not read
        return;
    }
    mBuffer += mSocket->read(MaxHeadBytes + MaxBodyBytes + 1 - mBuffer.size());
    if (mBodyLength < 0) {
        const int end = mBuffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (mBuffer.size() > MaxHeadBytes)
                refuse(431, "request head too large");
            return;
        }
        if (!parseHead(mBuffer.left(end)))
            return;
        mBuffer.remove(0, end + 4);
    }
    if (mBuffer.size() < mBodyLength)
        return;
    mRequest.body = mBuffer.left(mBodyLength);
    mAnswering = true;
    mIdleTimer->stop();
    emit requestReceived(this, mRequest);
}

bool HttpConnection::parseHead(const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1.")) {
        refuse(400, "malformed request line");
        return false;
    }
    if (lines.size() - 1 > MaxHeaders) {
        refuse(431, "too many header fields");
        return false;
    }
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon <= 0) {
            refuse(400, "malformed header field");
            return false;
        }
        mRequest.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    mRequest.method = requestLine.at(0);
    const QByteArray target = requestLine.at(1);
    mRequest.absoluteForm = !target.startsWith('/');
    mRequest.url = QUrl::fromEncoded(mRequest.absoluteForm ? target : "http://" + mRequest.header("host") + target,
                                     QUrl::StrictMode);
    if (!mRequest.url.isValid() || mRequest.url.host().isEmpty()) {
        refuse(400, "malformed request target");
        return false;
    }
    if (mRequest.headers.contains("transfer-encoding")) {
        refuse(411, "a body needs a Content-Length");
        return false;
    }
    bool ok = true;
    mBodyLength = mRequest.headers.contains("content-length") ? mRequest.header("content-length").toLongLong(&ok) : 0;
    if (!ok || mBodyLength < 0) {
        refuse(400, "malformed Content-Length");
        return false;
    }
    if (mBodyLength > MaxBodyBytes) {
        refuse(413, "request body too large");
        return false;
    }
    return true;
}

void HttpConnection::respond(const HttpResponse &response, const QDateTime &date)
{
    if (response.delayMs <= 0) {
        write(response, date);
        return;
    }
    // The timer is this connection's child: a client that leaves takes it along.
    QTimer::singleShot(response.delayMs, this, [this, response, date] { write(response, date); });
}

void HttpConnection::write(const HttpResponse &response, const QDateTime &date)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    head += "Date: " + httpDate(date) + "\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += "Connection: close\r\n";
    for (const auto &header : response.headers)
        head += header.first + ": " + header.second + "\r\n";
    mSocket->write(head + "\r\n" + response.body);
    mSocket->disconnectFromHost();
}

void HttpConnection::refuse(int status, const QByteArray &message)
{
    qWarning() << Q_FUNC_INFO << status << message;
    mAnswering = true;
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain";
    response.body = message + '\n';
    write(response, QDateTime::currentDateTimeUtc());
}

QByteArray HttpConnection::httpDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")).toLatin1();
}
