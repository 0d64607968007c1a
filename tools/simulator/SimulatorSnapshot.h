// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the user would see at one moment: the feed's items, the notification store's
// entries of the daemon, the contacts the daemon gave the contacts daemon, and how much
// of the service's rate limits is spent.
struct SimulatorSnapshot
{
    // One of the service's running rate limit windows.
    struct RateWindow
    {
        QString endpoint;
        int remaining = 0;
        int limit = 0;
        qint64 resetInSeconds = 0;
    };

    int round = 0;
    int rounds = 0;
    QJsonArray items;          // the feed's items, oldest first
    QJsonArray groups;         // notification groups of the daemon
    QJsonArray notifications;  // notifications of the daemon
    QStringList contacts;      // "Name (@screen_name)"
    QList<RateWindow> rateLimits;
    QStringList events;        // what happened in the last round, for the reader
    QStringList errors;        // everything that went wrong so far
};
