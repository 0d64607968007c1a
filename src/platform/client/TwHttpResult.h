// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The outcome of one HTTP request: an answer of the server (status, body and the
// headers the client uses) or a failure that left no answer.
struct TwHttpResult
{
    // Set when no complete answer came: connection failure, time-out, oversized body.
    QString failure;
    bool unreachable = false; // the failure was that no server could be reached at all
    int status = 0;
    QByteArray body;
    QDateTime serverDate;        // the Date header; invalid when absent or unreadable
    QByteArray rateLimitReset;   // the x-rate-limit-reset header: seconds since the epoch
    QByteArray rateLimitRemaining; // the x-rate-limit-remaining header: requests left in the window

    bool answered() const { return failure.isEmpty(); }
};
