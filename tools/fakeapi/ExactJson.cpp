// SPDX-License-Identifier: BSD-3-Clause
#include "ExactJson.h"

#include <QCborArray>
#include <QCborMap>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

void writeString(const QString &text, QByteArray *out)
{
    // Escaped as text and encoded once, so that surrogate pairs stay whole.
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\') + QString(c);
        else if (c.unicode() < 0x20)
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    out->append('"');
    out->append(escaped.toUtf8());
    out->append('"');
}

void writeValue(const QCborValue &value, QByteArray *out)
{
    if (value.isInteger()) {
        out->append(QByteArray::number(value.toInteger()));
    } else if (value.isDouble()) {
        out->append(QByteArray::number(value.toDouble(), 'g', 17));
    } else if (value.isString()) {
        writeString(value.toString(), out);
    } else if (value.isBool()) {
        out->append(value.toBool() ? "true" : "false");
    } else if (value.isArray()) {
        out->append('[');
        const QCborArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (i > 0)
                out->append(',');
            writeValue(array.at(i), out);
        }
        out->append(']');
    } else if (value.isMap()) {
        out->append('{');
        const QCborMap map = value.toMap();
        bool first = true;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            if (!first)
                out->append(',');
            first = false;
            writeString(it.key().toString(), out);
            out->append(':');
            writeValue(it.value(), out);
        }
        out->append('}');
    } else {
        out->append("null");
    }
}

}

QByteArray ExactJson::write(const QCborValue &value)
{
    QByteArray out;
    writeValue(value, &out);
    return out;
}

QCborValue ExactJson::read(const QByteArray &text, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = parseError.errorString();
        return QCborValue();
    }
    // Converted from the containers, which hold integers exactly (single values do not).
    if (document.isArray())
        return QCborArray::fromJsonArray(document.array());
    return QCborMap::fromJsonObject(document.object());
}
