#include "operators/AttemptLimiter.h"

#include "data/OperatorStore.h"
#include "db/Connection.h"
#include "platform/Clock.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>

namespace lianbu::operators {

using std::chrono::milliseconds;

namespace {

constexpr int kFreeFailures = 3;
constexpr milliseconds kFirstDelay{1000};
constexpr milliseconds kLongestDelay{30000};

// When this program first saw each attempt row (by the forward-only clock), per register.
class FirstSeen
{
public:
    qint64 elapsedSince(const QString &key)
    {
        const qint64 now = monotonicMilliseconds();
        QMutexLocker lock(&m_mutex);
        if (m_seen.size() > 4096)
            m_seen.clear(); // only the newest rows matter; a few waits start over
        auto it = m_seen.find(key);
        // A moment before the first sight can only be a test moving its fixed clock back.
        if (it == m_seen.end() || *it > now)
            it = m_seen.insert(key, now);
        return now - *it;
    }

private:
    QMutex m_mutex;
    QHash<QString, qint64> m_seen;
};

FirstSeen &firstSeen()
{
    static FirstSeen seen;
    return seen;
}

// The wait of `delay` from `stamp`: over when the register's clock says so, or at the latest
// `delay` after this program first saw the row.
milliseconds waitFrom(milliseconds delay, const QDateTime &stamp, const QDateTime &now, const QString &key)
{
    if (delay.count() <= 0)
        return milliseconds{0};
    if (!stamp.isValid())
        return milliseconds{0}; // a time that cannot be read must not lock the name for good
    const qint64 byClock = std::max<qint64>(0, stamp.msecsTo(now));
    const qint64 seen = firstSeen().elapsedSince(key);
    return std::max(milliseconds{0}, delay - milliseconds{std::max(byClock, seen)});
}

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
        return milliseconds{0};
    const qint64 elapsed = std::max<qint64>(0, streak.lastFailure.msecsTo(now));
    return std::max(milliseconds{0}, delay - milliseconds{elapsed});
}

AttemptLimiter::AttemptLimiter(db::Connection &connection)
    : m_connection(connection)
    , m_log(connection)
{}

milliseconds AttemptLimiter::waitOf(const data::FailureStreak &streak, const QDateTime &now) const
{
    // The time as well: a register put back from a backup may give an id to another row.
    const QString key = m_connection.fileName() + QLatin1Char('#') + QString::number(streak.lastId) + QLatin1Char('#')
                        + QString::number(streak.lastFailure.toMSecsSinceEpoch());
    // A check under way counts as a failure for the next one, and holds it back until it ends.
    milliseconds wait = waitFrom(delayAfterFailures(streak.failures), streak.lastFailure, now, key);
    if (streak.checking)
        wait = std::max(wait, waitFrom(kCheckClaimTimeout, streak.lastFailure, now, key));
    return wait;
}

QString AttemptLimiter::loggedName(const QString &name) const
{
    return data::OperatorStore(m_connection).exists(name) ? name : QString();
}

milliseconds AttemptLimiter::waitFor(const QString &name) const
{
    if (name.size() > kOperatorNameLength)
        return milliseconds{0};
    return waitOf(m_log.streak(loggedName(name)), m_log.clockNow());
}

void AttemptLimiter::record(const QString &name, bool success, data::AttemptKind kind)
{
    m_log.record(loggedName(name), m_log.clockNow(), success, kind);
}

AttemptLimiter::Result AttemptLimiter::check(data::OperatorStore &store, const QString &name, const QString &password,
                                             data::AttemptKind kind)
{
    if (name.size() > kOperatorNameLength)
        return Result::NameTooLong;
    const std::optional<qint64> claim =
        m_log.claim(loggedName(name), kind, [this](const data::FailureStreak &streak, const QDateTime &now) {
            return waitOf(streak, now).count() == 0;
        });
    if (!claim)
        return Result::Waiting;
    bool accepted = false;
    try {
        accepted = store.checkPassword(name, password);
    } catch (...) {
        m_log.finish(*claim, false);
        throw;
    }
    m_log.finish(*claim, accepted);
    return accepted ? Result::Accepted : Result::Refused;
}

int waitSeconds(milliseconds wait)
{
    return int((wait.count() + 999) / 1000);
}

} // namespace lianbu::operators
