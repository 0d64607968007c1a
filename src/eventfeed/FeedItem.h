// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace EventFeed {

// Items of this daemon carry this source name, by which they are withdrawn together.
const QString SourceName = QStringLiteral("Twitter");

// The event feed item of a tweet with this avatar and these thumbnails, as it is posted.
QVariantMap homeViewItem(const QVariantMap &tweet, const QString &avatar, QStringList images);

}
