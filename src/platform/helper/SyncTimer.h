// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QObject>
#include <QTimer>

// Periodic timer for background synchronisation. Its wake-ups are coarse, so that the
// system can fold them with other work and keep the device asleep longer.
class SyncTimer : public QObject
{
    Q_OBJECT

public:
    explicit SyncTimer(QObject *parent = nullptr);

    // Interval bounds in seconds; arms the timer.
    void setTimerInterval(int minimumSeconds, int maximumSeconds);
    // The device is awake anyway: re-arms the timer after a stop().
    void wokeUp();
    void stop();

    bool isActive() const { return mTimer.isActive(); }
    int minimumInterval() const { return mMinimumSeconds; }
    int maximumInterval() const { return mMaximumSeconds; }

Q_SIGNALS:
    void timeout();

private:
    QTimer mTimer;
    int mMinimumSeconds = 0;
    int mMaximumSeconds = 0;
};
