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
    // An error whose message belongs to the program's own machinery (the dataset layer keeps the
    // engine's and its own English texts, which callers compare), with the text the operator is
    // shown in the interface's language.
    Error(const QString &message, const QString &operatorText);
    const QString &message() const noexcept { return m_message; }
    // What the general error display shows: the operator text when there is one.
    const QString &operatorText() const noexcept { return m_operatorText.isEmpty() ? m_message : m_operatorText; }

private:
    QString m_message;
    QString m_operatorText;
};

} // namespace lianbu
