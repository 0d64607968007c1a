// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>
#include <QCborValue>
#include <QString>

// JSON in and out with 64-bit integers kept exact: the service's ids exceed what a double
// holds, and QJsonDocument writes every number as a double.
class ExactJson
{
public:
    static QByteArray write(const QCborValue &value);
    // The parsed document, or an undefined value and *error set.
    static QCborValue read(const QByteArray &text, QString *error);
};
