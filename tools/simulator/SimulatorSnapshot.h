// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QJsonArray>
#include <QString>
#include <QStringList>

// What the user would see at one moment: the feed's items, the notification store's
// entries of the daemon, the contacts the daemon gave the contacts daemon, and how much
// of the service's rate limits is spent.
struct SimulatorSnapshot
{
    int round = 0;
    int rounds = 0;
    QJsonArray items;          // the feed's items, oldest first
    QJsonArray groups;         // notification groups of the daemon
    QJsonArray notifications;  // notifications of the daemon
    QStringList contacts;      // "Name (@screen_name)"
    QStringList rateLimits;    // the service's running windows: "endpoint: 3 of 15 left, reset in 42 s"
    QStringList events;        // what happened in the last round, for the reader
    QStringList errors;        // everything that went wrong so far
};
