// SPDX-License-Identifier: BSD-3-Clause
#include "RateLimits.h"

#include <QMap>

namespace {

// Requests per window for a user, as the service documents them.
const QMap<QString, int> &limits()
{
    static const QMap<QString, int> perEndpoint = {
        {QStringLiteral("friends/list.json"), 15},
        {QStringLiteral("statuses/home_timeline.json"), 15},
        {QStringLiteral("direct_messages.json"), 15},
        {QStringLiteral("statuses/mentions_timeline.json"), 75},
        {QStringLiteral("users/show.json"), 900},
        {QStringLiteral("account/verify_credentials.json"), 75},
        {QStringLiteral("help/configuration.json"), 15},
    };
    return perEndpoint;
}

}

RateLimits::RateLimits(qint64 windowSeconds)
    : mWindowSeconds(qMax<qint64>(0, windowSeconds))
{
}

bool RateLimits::isLimited(const QString &endpoint)
{
    return limits().contains(endpoint);
}

int RateLimits::limitOf(const QString &endpoint)
{
    return limits().value(endpoint);
}

RateLimits::Quota RateLimits::quota(const QString &endpoint, qint64 now) const
{
    Quota quota;
    quota.limit = limitOf(endpoint);
    quota.remaining = quota.limit;
    // Without limits the headers still read as the service's: a full quota.
    quota.reset = now + (enabled() ? mWindowSeconds : ServiceWindowSeconds);
    const auto window = mWindows.constFind(endpoint);
    if (enabled() && window != mWindows.constEnd() && isRunning(*window, now)) {
        quota.remaining = qMax(0, quota.limit - window->used);
        quota.reset = window->start + mWindowSeconds;
    }
    return quota;
}

RateLimits::Quota RateLimits::count(const QString &endpoint, qint64 now)
{
    if (!enabled() || !isLimited(endpoint))
        return quota(endpoint, now);
    Window &window = mWindows[endpoint];
    if (!isRunning(window, now) || window.used == 0)
        window = Window{now, 0};
    ++window.used;
    return quota(endpoint, now);
}

QCborMap RateLimits::running(qint64 now) const
{
    QCborMap answer;
    for (auto it = mWindows.cbegin(); it != mWindows.cend(); ++it) {
        if (!isRunning(*it, now))
            continue;
        const Quota left = quota(it.key(), now);
        answer.insert(it.key(), QCborMap{{QStringLiteral("limit"), left.limit},
                                         {QStringLiteral("remaining"), left.remaining},
                                         {QStringLiteral("reset"), left.reset}});
    }
    return answer;
}

qint64 RateLimits::spentUntil() const
{
    qint64 latest = 0;
    for (auto it = mWindows.cbegin(); it != mWindows.cend(); ++it) {
        if (it->used >= limitOf(it.key()))
            latest = qMax(latest, it->start + mWindowSeconds);
    }
    return latest;
}
