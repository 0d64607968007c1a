// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// One answer to write to a connection, at once or after a delay.
struct HttpResponse
{
    int status = 200;
    QByteArray contentType = "application/json; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    int delayMs = 0;

    static HttpResponse json(int status, const QByteArray &body)
    {
        HttpResponse response;
        response.status = status;
        response.body = body;
        return response;
    }
};
