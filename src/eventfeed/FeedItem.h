// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace EventFeed {

// Items of this daemon carry this source name, by which they are withdrawn together.
const QString SourceName = QStringLiteral("Twitter");

// The event feed item of a tweet with this avatar and these thumbnails, as it is posted.
// Its time is local, in the zone as last read by readTimeZone().
QVariantMap homeViewItem(const QVariantMap &tweet, const QString &avatar, QStringList images);

// Reads the local time zone again (TZ, or the system's zone file), so that the items made
// from now on follow a zone changed meanwhile. It checks a file: once per refresh, not
// once per item.
void readTimeZone();

}
