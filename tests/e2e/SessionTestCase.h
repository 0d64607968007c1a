// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include "PlatformSession.h"

#include <QObject>
#include <QScopedPointer>

// The start and end of each test function of an end-to-end suite: a platform session of
// its own (private bus, reference feed, fake API server) before it, and after it the
// daemon stopped in order, which fails the test if the daemon did not end cleanly.
class SessionTestCase : public QObject
{
    Q_OBJECT

public:
    enum Start {
        ServicesOnly,   // the test starts the daemon itself
        LoggedInDaemon, // the daemon started and logged in too
    };

protected:
    // rateWindowSeconds: the fake server's rate-limit window; 0 leaves the limits off.
    explicit SessionTestCase(Start start = ServicesOnly, int rateWindowSeconds = 0);

    QScopedPointer<PlatformSession> mSession;

private Q_SLOTS:
    void init();
    void cleanup();

private:
    const Start mStart;
    const int mRateWindowSeconds;
};
