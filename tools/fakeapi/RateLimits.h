// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QCborMap>
#include <QHash>
#include <QString>

// The service's rate limits for the one account: per endpoint, so many requests in a
// window that starts at the first request after the last window ended. A window length
// of 0 turns them off: every request is let through and the quota stays full.
class RateLimits
{
public:
    struct Quota
    {
        int limit = 0;
        int remaining = 0;
        qint64 reset = 0; // seconds since the epoch, in the server's clock
    };

    // The service's window: 15 minutes.
    static constexpr qint64 ServiceWindowSeconds = 15 * 60;

    explicit RateLimits(qint64 windowSeconds = ServiceWindowSeconds);

    // Whether the endpoint ("statuses/home_timeline.json") has a limit at all.
    static bool isLimited(const QString &endpoint);
    static int limitOf(const QString &endpoint);

    // The endpoint's quota now, without counting a request.
    Quota quota(const QString &endpoint, qint64 now) const;
    bool isSpent(const QString &endpoint, qint64 now) const { return enabled() && quota(endpoint, now).remaining == 0; }
    // Counts one request against the endpoint's window, starting one when none runs;
    // the quota after it.
    Quota count(const QString &endpoint, qint64 now);
    // {endpoint: {"limit", "remaining", "reset"}} of the windows running now.
    QCborMap running(qint64 now) const;
    // The latest reset of a window that was spent, ended or not; 0 when none was. A client
    // that reads the reset in whole seconds may wait up to a second past it.
    qint64 spentUntil() const;
    // Every window ends.
    void clear() { mWindows.clear(); }

private:
    struct Window
    {
        qint64 start = 0;
        int used = 0;
    };

    bool enabled() const { return mWindowSeconds > 0; }
    bool isRunning(const Window &window, qint64 now) const { return now < window.start + mWindowSeconds; }

    qint64 mWindowSeconds;
    QHash<QString, Window> mWindows;
};
