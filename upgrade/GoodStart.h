#pragma once

#include <QString>

namespace lianbu::upgrade {

// After an upgrade the updater waits for the restarted program to say that it started well, and
// puts the old version back when it does not. The program says so once it waits for its
// operator: when its first window (a start-up question, the login, the main window) is shown and
// its event loop runs, however long the operator then takes.
//
// Does nothing unless an install in programPath's folder waits for its start. The program may have
// been started by the updater or, when the updater was killed, by the user (a trial start).
void watchForGoodStart(const QString &programPath);

// The folder (with its trailing "/") for which this process reported a good start; empty when none.
QString goodStartReportedFor();

} // namespace lianbu::upgrade
