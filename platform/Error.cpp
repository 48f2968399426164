#include "platform/Error.h"

namespace lianbu {

Error::Error(const QString &message)
    : std::runtime_error(message.toStdString())
    , m_message(message)
{}

Error::Error(const QString &message, const QString &operatorText)
    : std::runtime_error(message.toStdString())
    , m_message(message)
    , m_operatorText(operatorText)
{}

} // namespace lianbu
