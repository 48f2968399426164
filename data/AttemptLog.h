#pragma once

#include <QDateTime>
#include <QString>

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
    QString name;
    QDateTime time;
    bool success = false;
    AttemptKind kind = AttemptKind::Login;
};

// The failures of one operator name since its last success.
struct FailureStreak
{
    int failures = 0;
    QDateTime lastFailure; // invalid when failures is 0
};

// Every password given for an operator name, right or wrong, in its own table, which is created
// the first time something is written, so a register made by an older version opens unchanged
// and an older version still opens a register that has the table. Values are bound.
class AttemptLog
{
public:
    // Persisted names: the table and its columns.
    static constexpr char kTable[] = "login_attempts";

    explicit AttemptLog(db::Connection &connection);

    void record(const QString &name, const QDateTime &time, bool success, AttemptKind kind);
    // Nothing recorded (or no table yet) is a streak of 0.
    FailureStreak streak(const QString &name) const;
    // The newest `count` failures of every name, newest first.
    std::vector<Attempt> lastFailures(int count) const;

private:
    bool tableExists() const;

    db::Connection &m_connection;
};

// The text an attempt's kind has in the table and in 用户管理.
QString attemptKindText(AttemptKind kind);

// The statement that creates the attempt log when it is missing.
QString attemptTableStatement(const db::Engine &engine);

} // namespace lianbu::data
