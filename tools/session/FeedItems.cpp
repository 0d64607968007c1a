// SPDX-License-Identifier: BSD-3-Clause
#include "FeedItems.h"

#include <QDataStream>

namespace FeedItems {

QString shownId(const QVariantMap &tweet)
{
    const QVariant retweeted = tweet.value(QStringLiteral("retweeted_status"));
    return (retweeted.isValid() ? retweeted.toMap() : tweet).value(QStringLiteral("id")).toString();
}

QVariant actionArgument(const QString &action)
{
    QByteArray bytes = QByteArray::fromBase64(action.section(QLatin1Char(' '), 4, 4).toLatin1());
    QDataStream stream(&bytes, QIODevice::ReadOnly);
    QVariant argument;
    stream >> argument;
    return argument;
}

QString actionId(const QJsonValue &item)
{
    return actionArgument(item[QStringLiteral("item")][QStringLiteral("action")].toString()).toString();
}

}
