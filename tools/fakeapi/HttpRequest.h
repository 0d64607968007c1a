// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>
#include <QMap>
#include <QUrl>
#include <QUrlQuery>

// One request as read from a connection.
struct HttpRequest
{
    QByteArray method;
    // The full address: for a request in origin form ("/1.1/...") built from the Host
    // header, for one in absolute form (as sent to a proxy) the address as sent.
    QUrl url;
    bool absoluteForm = false;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    QUrlQuery query() const { return QUrlQuery(url); }
    QByteArray header(const QByteArray &name) const { return headers.value(name); }
};
