// SPDX-License-Identifier: BSD-3-Clause
#include "Fixtures.h"

#include <QFile>
#include <QJsonDocument>

namespace {

QVariant exactIds(const QVariant &value)
{
    if (value.type() == QVariant::List) {
        QVariantList list;
        for (const QVariant &element : value.toList())
            list.append(exactIds(element));
        return list;
    }
    if (value.type() != QVariant::Map)
        return value;
    QVariantMap map = value.toMap();
    for (auto it = map.begin(); it != map.end(); ++it)
        it.value() = exactIds(it.value());
    if (map.contains(QStringLiteral("id_str")))
        map.insert(QStringLiteral("id"), map.value(QStringLiteral("id_str")).toString());
    return map;
}

}

namespace Fixtures {

QVariant load(const QString &fileName)
{
    QFile file(QStringLiteral(FIXTURES_DIR "/") + fileName);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(file.fileName()));
    return exactIds(QJsonDocument::fromJson(file.readAll()).toVariant());
}

QVariantList homeTimeline()
{
    return load(QStringLiteral("home_timeline.json")).toList();
}

}
