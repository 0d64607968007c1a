// SPDX-License-Identifier: BSD-3-Clause
#include "Waiting.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace Session {

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(int(qBound<qint64>(1, deadline.remainingTime(), 20)), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

}
