#include "operators/AttemptLimiter.h"

#include "platform/Clock.h"

#include <algorithm>

namespace lianbu::operators {

using std::chrono::milliseconds;

namespace {

constexpr int kFreeFailures = 3;
constexpr milliseconds kFirstDelay{1000};
constexpr milliseconds kLongestDelay{30000};

} // namespace

milliseconds delayAfterFailures(int failures)
{
    if (failures < kFreeFailures)
        return milliseconds{0};
    const int doublings = failures - kFreeFailures;
    // 2^5 s already passes the longest wait; no shift may overflow.
    if (doublings >= 5)
        return kLongestDelay;
    return std::min(kLongestDelay, kFirstDelay * (1 << doublings));
}

milliseconds remainingWait(const data::FailureStreak &streak, const QDateTime &now)
{
    const milliseconds delay = delayAfterFailures(streak.failures);
    if (delay.count() == 0)
        return delay;
    if (!streak.lastFailure.isValid())
        return milliseconds{0}; // a time that cannot be read must not lock the name for good
    const qint64 elapsed = std::max<qint64>(0, streak.lastFailure.msecsTo(now));
    return std::max(milliseconds{0}, delay - milliseconds{elapsed});
}

AttemptLimiter::AttemptLimiter(db::Connection &connection)
    : m_log(connection)
{}

milliseconds AttemptLimiter::waitFor(const QString &name) const
{
    return remainingWait(m_log.streak(name), lianbu::now());
}

void AttemptLimiter::record(const QString &name, bool success, data::AttemptKind kind)
{
    m_log.record(name, lianbu::now(), success, kind);
}

int waitSeconds(milliseconds wait)
{
    return int((wait.count() + 999) / 1000);
}

} // namespace lianbu::operators
