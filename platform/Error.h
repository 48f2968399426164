#pragma once

#include <QString>

#include <stdexcept>

namespace lianbu {

// The one exception type of the program: a message text, shown by the general error display
// when it reaches the event loop. Library routines throw it with fixed texts such as
// "Unable to write to %s"; the database layer throws it with the engine's message.
class Error : public std::runtime_error
{
public:
    explicit Error(const QString &message);
    const QString &message() const noexcept { return m_message; }

private:
    QString m_message;
};

} // namespace lianbu
