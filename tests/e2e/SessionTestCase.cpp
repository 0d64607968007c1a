// SPDX-License-Identifier: BSD-3-Clause

#include "SessionTestCase.h"

#include <QTest>

SessionTestCase::SessionTestCase(Start start, int rateWindowSeconds)
    : mStart(start)
    , mRateWindowSeconds(rateWindowSeconds)
{
}

void SessionTestCase::init()
{
    mSession.reset(new PlatformSession);
    mSession->setRateWindowSeconds(mRateWindowSeconds);
    QVERIFY(mSession->start());
    if (mStart == LoggedInDaemon) {
        QVERIFY(mSession->startDaemon());
        QVERIFY(mSession->waitForLogin());
    }
}

void SessionTestCase::cleanup()
{
    const bool stopped = mSession->stopDaemon();
    mSession.reset();
    QVERIFY(stopped);
}
