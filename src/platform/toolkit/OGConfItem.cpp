// SPDX-License-Identifier: BSD-3-Clause
#include "OGConfItem.h"

#include <QSettings>
#include <QStandardPaths>

OGConfItem::OGConfItem(const QString &key, QObject *parent)
    : QObject(parent)
    , mKey(key)
{
}

QString OGConfItem::storePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Halvex/gconf.conf");
}

QVariant OGConfItem::value() const
{
    QString path = mKey;
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    if (path.isEmpty())
        return QVariant();
    return QSettings(storePath(), QSettings::IniFormat).value(path);
}
