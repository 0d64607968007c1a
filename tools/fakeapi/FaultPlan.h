// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QCborArray>
#include <QCborMap>
#include <QList>
#include <QString>

// Faults the control API has asked for, applied to the next requests they match:
//   target     an endpoint ("statuses/home_timeline.json"), "*" for every endpoint, or
//              "pictures" for every picture
//   status     answer with this HTTP status and the service's error body for it
//   malformed  answer 200 with a body that is not JSON
//   bytes      answer 200 with a JSON body of this many bytes (up to 64 MiB), announced
//   delay_ms   answer this much later (up to ten minutes)
//   reset      for a 429: the x-rate-limit-reset time, seconds since the epoch
//              (default: 15 minutes from now)
//   times      how many requests it applies to (default 1; 0: until cleared)
class FaultPlan
{
public:
    struct Fault
    {
        QString target;
        int status = 0;
        bool malformed = false;
        int bytes = 0;
        int delayMs = 0;
        qint64 reset = 0;
        int times = 1;

        bool isNone() const { return target.isEmpty(); }
    };

    // Adds a fault from its description; the reason when it is refused.
    QString add(const QCborMap &description);
    // The fault for a request to this target, counted as used; isNone() when none applies.
    Fault take(const QString &target);
    void clear();
    QCborArray list() const;

private:
    QList<Fault> mFaults;
};
