// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QJsonValue>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// Reading event feed items as the reference feed dumps them.
namespace FeedItems {

// The id a tweet's item opens: the retweeted tweet's for a retweet.
QString shownId(const QVariantMap &tweet);
// The first argument of a remote action's textual form, decoded.
QVariant actionArgument(const QString &action);
// The tweet id that an item of itemsJson() opens.
QString actionId(const QJsonValue &item);

}
