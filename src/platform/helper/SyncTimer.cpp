// SPDX-License-Identifier: BSD-3-Clause
#include "SyncTimer.h"

SyncTimer::SyncTimer(QObject *parent)
    : QObject(parent)
{
    mTimer.setTimerType(Qt::VeryCoarseTimer);
    connect(&mTimer, &QTimer::timeout, this, &SyncTimer::timeout);
}

void SyncTimer::setTimerInterval(int minimumSeconds, int maximumSeconds)
{
    mMinimumSeconds = qMax(1, minimumSeconds);
    mMaximumSeconds = qMax(mMinimumSeconds, maximumSeconds);
    mTimer.start(mMinimumSeconds * 1000);
}

void SyncTimer::wokeUp()
{
    if (mMinimumSeconds > 0 && !mTimer.isActive())
        mTimer.start(mMinimumSeconds * 1000);
}

void SyncTimer::stop()
{
    mTimer.stop();
}
