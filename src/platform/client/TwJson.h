// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The service's JSON as the daemon takes it: variants in which every number that has
// an exact text twin ("id" and "id_str", "next_cursor" and "next_cursor_str", ...)
// carries that text, since the service's ids exceed what a double holds.
class TwJson
{
public:
    // The document's object or array; an invalid variant and *error set when the text
    // is not one.
    static QVariant parse(const QByteArray &text, QString *error);
    // The same conversion for a variant read from elsewhere (the cache).
    static QVariant exactIds(const QVariant &value);
    // The service's message in an error body: {"error": "..."} or
    // {"errors": [{"code": n, "message": "..."}]}; empty when there is none.
    static QString errorMessage(const QVariant &body);
    // The code of the first entry of "errors", or 0.
    static int errorCode(const QVariant &body);
};
