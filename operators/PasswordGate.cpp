#include "operators/PasswordGate.h"

namespace lianbu::operators {

PasswordGate::PasswordGate(db::Connection &connection, data::AttemptKind kind, QAbstractButton *checkButton,
                           std::function<QString()> currentName, QObject *parent)
    : QObject(parent)
    , m_store(connection)
    , m_limiter(connection)
    , m_kind(kind)
    , m_currentName(std::move(currentName))
    , m_countdown(checkButton, [this] { return m_limiter.waitFor(m_currentName()); })
{}

PasswordGate::Result PasswordGate::check(const QString &name, const QString &password)
{
    if (m_limiter.waitFor(name).count() > 0) {
        m_countdown.start();
        return Result::Waiting;
    }
    const bool accepted = m_store.checkPassword(name, password);
    m_limiter.record(name, accepted, m_kind);
    if (accepted)
        return Result::Accepted;
    m_countdown.start();
    return Result::Refused;
}

} // namespace lianbu::operators
