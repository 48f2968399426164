#pragma once

#include <QApplication>

#include <exception>

namespace lianbu {

// The program's application object. Its notify() is the general error display: an exception
// that leaves an event handler (or a slot run from one) is shown in the error box and the
// program waits for the next command.
class Application : public QApplication
{
    Q_OBJECT
public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

// The text of an exception as the error display shows it (before the full stop rule).
QString exceptionText(std::exception_ptr error);
// Shows an exception the way the general error display does: caption = application title,
// stop icon, one "OK". For code that catches an error itself but wants the same box.
void reportException(std::exception_ptr error);
// Shorthand inside a catch block: reportException(std::current_exception()).
void reportCurrentException();

} // namespace lianbu
