#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace lianbu::db {
class Connection;
class Engine;
} // namespace lianbu::db

namespace lianbu::data {

// Where a password was given.
enum class AttemptKind { Login, Unlock, PasswordChange };

struct Attempt
{
    QString name;   // empty: a name that matched no operator (never stored as typed)
    QDateTime time; // UTC
    bool success = false;
    AttemptKind kind = AttemptKind::Login;
};

// The failures of one operator name since its last success. A check under way (claimed, its
// outcome not written yet) counts as a failure until it ends.
struct FailureStreak
{
    int failures = 0;
    QDateTime lastFailure; // UTC; invalid when failures is 0
    qint64 lastId = 0;     // the attempt row of lastFailure
    bool checking = false; // the newest attempt is a check under way
};

// Every password given for an operator name, right or wrong, in the table login_attempts
// (part of the register since version 2, data/RegisterUpgrade.h). Times are UTC, taken from the
// register's clock: the program's clock for a file, the server's for a server register. The
// table keeps the newest kKeptAttempts rows. Values are bound.
class AttemptLog
{
public:
    // Persisted names: the table and its columns.
    static constexpr char kTable[] = "login_attempts";
    // The rows kept; older ones are removed as new ones come.
    static constexpr int kKeptAttempts = 1000;

    explicit AttemptLog(db::Connection &connection);

    // The register's clock, UTC.
    QDateTime clockNow() const;

    void record(const QString &name, const QDateTime &time, bool success, AttemptKind kind);
    // Nothing recorded (or no table) is a streak of 0.
    FailureStreak streak(const QString &name) const;

    // In one transaction, one at a time for a name across every instance: reads the streak, and
    // when `mayCheck(streak, now)` allows it writes a row for a check under way (the claim),
    // whose id is returned. Nothing is written when it refuses.
    std::optional<qint64> claim(const QString &name, AttemptKind kind,
                                const std::function<bool(const FailureStreak &, const QDateTime &)> &mayCheck);
    // Writes the outcome of a claimed check, with the time it ended.
    void finish(qint64 claimId, bool success);

    // The failures of every name, newest first, `count` of them from the `skip`-th on.
    std::vector<Attempt> lastFailures(int count, int skip = 0) const;
    int failureCount() const;

private:
    bool tableExists() const;
    void prune(qint64 newestId);

    db::Connection &m_connection;
};

// The text an attempt's kind has in the table and in 用户管理.
QString attemptKindText(AttemptKind kind);

// The statement that creates the attempt log.
QString attemptTableStatement(const db::Engine &engine);

// How attempt times are stored (UTC).
QString attemptTimeText(const QDateTime &time);
QDateTime attemptTimeOf(const QString &text);

} // namespace lianbu::data
