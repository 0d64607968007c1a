// SPDX-License-Identifier: BSD-3-Clause
#include "FaultPlan.h"

#include <QDateTime>

namespace {

const int MaxFaults = 100;
const int MaxDelayMs = 10 * 60 * 1000;
const int MaxBytes = 64 * 1024 * 1024;
const qint64 DefaultResetSeconds = 15 * 60;

}

QString FaultPlan::add(const QCborMap &description)
{
    if (mFaults.size() >= MaxFaults)
        return QStringLiteral("too many faults; clear some first");
    Fault fault;
    fault.target = description.value(QStringLiteral("target")).toString();
    fault.status = int(description.value(QStringLiteral("status")).toInteger());
    fault.malformed = description.value(QStringLiteral("malformed")).toBool();
    fault.bytes = int(qBound<qint64>(-1, description.value(QStringLiteral("bytes")).toInteger(), MaxBytes + 1));
    fault.delayMs = int(description.value(QStringLiteral("delay_ms")).toInteger());
    fault.reset = description.value(QStringLiteral("reset")).toInteger(QDateTime::currentSecsSinceEpoch() + DefaultResetSeconds);
    fault.times = int(description.value(QStringLiteral("times")).toInteger(1));
    if (fault.target.isEmpty())
        return QStringLiteral("a fault needs a target");
    if (fault.status != 0 && (fault.status < 400 || fault.status > 599))
        return QStringLiteral("status must be an error status, 400 to 599");
    if (fault.delayMs < 0 || fault.delayMs > MaxDelayMs)
        return QStringLiteral("delay_ms must be 0 to 600000");
    if (fault.bytes < 0 || fault.bytes > MaxBytes)
        return QStringLiteral("bytes must be 0 to 67108864");
    if (fault.times < 0)
        return QStringLiteral("times must not be negative");
    if (fault.status == 0 && !fault.malformed && fault.bytes == 0 && fault.delayMs == 0)
        return QStringLiteral("a fault needs a status, malformed, bytes or delay_ms");
    mFaults.append(fault);
    return QString();
}

FaultPlan::Fault FaultPlan::take(const QString &target)
{
    const bool picture = target == QLatin1String("pictures");
    for (int i = 0; i < mFaults.size(); ++i) {
        Fault &fault = mFaults[i];
        if (fault.target != target && (picture || fault.target != QLatin1String("*")))
            continue;
        const Fault taken = fault;
        if (fault.times > 0 && --fault.times == 0)
            mFaults.removeAt(i);
        return taken;
    }
    return Fault();
}

void FaultPlan::clear()
{
    mFaults.clear();
}

QCborArray FaultPlan::list() const
{
    QCborArray list;
    for (const Fault &fault : mFaults) {
        list.append(QCborMap{{QStringLiteral("target"), fault.target},
                             {QStringLiteral("status"), fault.status},
                             {QStringLiteral("malformed"), fault.malformed},
                             {QStringLiteral("bytes"), fault.bytes},
                             {QStringLiteral("delay_ms"), fault.delayMs},
                             {QStringLiteral("reset"), fault.reset},
                             {QStringLiteral("times"), fault.times}});
    }
    return list;
}
