#include "platform/Application.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"

namespace lianbu {

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // The handler stops where it threw; what it changed before stays changed.
        reportCurrentException();
        return true;
    }
}

QString exceptionText(std::exception_ptr error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const Error &e) {
        return e.operatorText();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void reportException(std::exception_ptr error)
{
    if (!error)
        return;
    try {
        showError(exceptionText(error));
    } catch (...) {
        // The error display itself must never take the program down.
    }
}

void reportCurrentException()
{
    reportException(std::current_exception());
}

} // namespace lianbu
