#pragma once

#include "data/AttemptLog.h"

#include <QDateTime>
#include <QString>

#include <chrono>

namespace lianbu::db {
class Connection;
}
namespace lianbu::data {
class OperatorStore;
}

namespace lianbu::operators {

// How long a password check for an operator name must wait after failures: the first three
// failures in a row cost nothing; from then on each further attempt waits twice as long as the
// one before, 1 s, 2 s, 4 s … at most 30 s. A success ends the streak.
std::chrono::milliseconds delayAfterFailures(int failures);

// The wait left at `now` for a streak, by the clock alone; a clock set back never makes it
// longer than the delay.
std::chrono::milliseconds remainingWait(const data::FailureStreak &streak, const QDateTime &now);

// The longest an unfinished check (a program that ended in the middle of one) keeps other
// checks of the same name waiting.
inline constexpr std::chrono::milliseconds kCheckClaimTimeout{15000};

// The longest name an operator can have; a longer one is refused before anything is stored.
inline constexpr int kOperatorNameLength = 50;

// The attempt limit of every password check (login, administrator unlock, password change).
// Failures are counted per operator name from the attempt log, so they add up across the
// windows, across restarts and across program instances sharing one register, and only one
// check of a name runs at a time among them. Waits are measured by the register's clock (UTC),
// and never last longer than the delay after this program first saw the failure, by a clock
// that only moves forward: a failure stamped by a clock set ahead (or in another zone) does not
// lock the name until that clock's time. A name that matches no operator is logged as ""
// (a password typed into the name field is never stored).
class AttemptLimiter
{
public:
    enum class Result { Accepted, Refused, Waiting, NameTooLong };

    explicit AttemptLimiter(db::Connection &connection);

    // The wait before `name` may be checked again; zero when a check may run now.
    std::chrono::milliseconds waitFor(const QString &name) const;
    // Writes the outcome of a check to the attempt log (no claim).
    void record(const QString &name, bool success, data::AttemptKind kind);

    // Claims the check of `name` (refused while the name must wait or another check of it runs),
    // checks the password against `store` and writes the outcome.
    Result check(data::OperatorStore &store, const QString &name, const QString &password, data::AttemptKind kind);

    // The name as the attempt log keeps it.
    QString loggedName(const QString &name) const;

private:
    std::chrono::milliseconds waitOf(const data::FailureStreak &streak, const QDateTime &now) const;

    db::Connection &m_connection;
    data::AttemptLog m_log;
};

// The wait as the operator reads it: whole seconds, rounded up.
int waitSeconds(std::chrono::milliseconds wait);

} // namespace lianbu::operators
