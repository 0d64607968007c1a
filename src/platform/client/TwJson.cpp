#include "TwJson.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace {
const QString TextSuffix = QStringLiteral("_str");
}

QVariant TwJson::parse(const QByteArray &text, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = parseError.errorString() + QStringLiteral(" at offset ") + QString::number(parseError.offset);
        return QVariant();
    }
    if (document.isNull()) {
        *error = QStringLiteral("neither an object nor an array");
        return QVariant();
    }
    return exactIds(document.toVariant());
}

QVariant TwJson::exactIds(const QVariant &value)
{
    if (value.type() == QVariant::List) {
        QVariantList list = value.toList();
        for (QVariant &element : list)
            element = exactIds(element);
        return list;
    }
    if (value.type() != QVariant::Map)
        return value;
    QVariantMap map = value.toMap();
    for (auto it = map.begin(); it != map.end(); ++it)
        it.value() = exactIds(it.value());
    for (const QString &key : map.keys()) {
        const QString number = key.chopped(qMin(key.size(), TextSuffix.size()));
        if (key.endsWith(TextSuffix) && map.contains(number) && map.value(key).type() == QVariant::String)
            map.insert(number, map.value(key));
    }
    return map;
}

QString TwJson::errorMessage(const QVariant &body)
{
    const QVariantMap map = body.toMap();
    const QString error = map.value(QStringLiteral("error")).toString();
    if (!error.isEmpty())
        return error;
    return map.value(QStringLiteral("errors")).toList().value(0).toMap().value(QStringLiteral("message")).toString();
}

int TwJson::errorCode(const QVariant &body)
{
    return body.toMap().value(QStringLiteral("errors")).toList().value(0).toMap().value(QStringLiteral("code")).toInt();
}
