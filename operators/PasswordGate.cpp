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
    const Result result = m_limiter.check(m_store, name, password, m_kind);
    if (result == Result::Waiting || result == Result::Refused)
        m_countdown.start();
    return result;
}

} // namespace lianbu::operators
