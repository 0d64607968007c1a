// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

// The image plugins, and the libraries the SVG one brings, mapped into this process, sorted;
// a test's own image reading and writing may load them too, so tests call this before any.
inline QStringList mappedImagePlugins()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(no /proc/self/maps)")};
    const QString all = QString::fromLocal8Bit(maps.readAll());
    QStringList found;
    const QRegularExpression library(QStringLiteral("(/imageformats/lib\\w+\\.so|libQt5Svg|libQt5Widgets)"));
    for (auto it = library.globalMatch(all); it.hasNext();) {
        const QString name = it.next().captured(1);
        if (!found.contains(name))
            found.append(name);
    }
    found.sort();
    return found;
}
