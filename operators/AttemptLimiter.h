#pragma once

#include "data/AttemptLog.h"

#include <QDateTime>
#include <QString>

#include <chrono>

namespace lianbu::db {
class Connection;
}

namespace lianbu::operators {

// How long a password check for an operator name must wait after failures: the first three
// failures in a row cost nothing; from then on each further attempt waits twice as long as the
// one before, 1 s, 2 s, 4 s … at most 30 s. A success ends the streak.
std::chrono::milliseconds delayAfterFailures(int failures);

// The wait left at `now` for a streak; a clock set back never makes it longer than the delay.
std::chrono::milliseconds remainingWait(const data::FailureStreak &streak, const QDateTime &now);

// The attempt limit of every password check (login, administrator unlock, password change).
// Failures are counted per operator name from the attempt log, so they add up across the
// windows, across restarts and across program instances sharing one register. The time is the
// program's clock (platform/Clock.h).
class AttemptLimiter
{
public:
    explicit AttemptLimiter(db::Connection &connection);

    // The wait before `name` may be checked again; zero when a check may run now.
    std::chrono::milliseconds waitFor(const QString &name) const;
    // Writes the outcome of a check to the attempt log.
    void record(const QString &name, bool success, data::AttemptKind kind);

private:
    data::AttemptLog m_log;
};

// The wait as the operator reads it: whole seconds, rounded up.
int waitSeconds(std::chrono::milliseconds wait);

} // namespace lianbu::operators
