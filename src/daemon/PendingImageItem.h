// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// A tweet held back until every thumbnail requested for it has been answered.
struct PendingImageItem
{
    QVariantMap tweet;
    QString avatar;
    // Thumbnail paths in the order their answers arrived.
    QStringList images;
    int expectedCount = 0;
    // The client's query id of each request, or a local id for an answer given at once.
    QList<int> queryIds;
};
