#pragma once

#include "data/AttemptLog.h"
#include "data/OperatorStore.h"
#include "operators/AttemptLimiter.h"
#include "operators/WaitCountdown.h"

#include <QObject>
#include <QString>

#include <functional>

class QAbstractButton;

namespace lianbu::db {
class Connection;
}

namespace lianbu::operators {

// The password check of one window (login, administrator unlock, password change): the attempt
// limit, the check against userdb (which also replaces a plain stored value by its hash) and
// the attempt log, with the countdown on the window's check button while the name must wait.
class PasswordGate : public QObject
{
    Q_OBJECT

public:
    using Result = AttemptLimiter::Result;

    // `currentName` gives the name the window is about to check, so the countdown ends early
    // when the operator picks a name that need not wait.
    PasswordGate(db::Connection &connection, data::AttemptKind kind, QAbstractButton *checkButton,
                 std::function<QString()> currentName, QObject *parent = nullptr);

    // Waiting (nothing checked, nothing logged) while `name` must wait or another check of it
    // runs, NameTooLong (nothing logged) for a name longer than any operator's; otherwise
    // checks, logs the outcome and, after a failure that makes the next check wait, starts the
    // countdown.
    Result check(const QString &name, const QString &password);

    // Starts the countdown when the current name must wait (a window shown or a name chosen).
    bool showWait() { return m_countdown.start(); }
    bool waiting() const { return m_countdown.waiting(); }
    WaitCountdown &countdown() { return m_countdown; }

    data::OperatorStore &store() { return m_store; }

private:
    data::OperatorStore m_store;
    AttemptLimiter m_limiter;
    data::AttemptKind m_kind;
    std::function<QString()> m_currentName;
    WaitCountdown m_countdown;
};

} // namespace lianbu::operators
