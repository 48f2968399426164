#pragma once

class QApplication;

namespace lianbu {

// Sets the application up, creates the permanent windows in their order (main window, login
// dialog, data module) and runs the message loop. When the database cannot be opened, the
// error is shown and the program ends before the main window appears. Returns the exit code.
int runProgram(QApplication &app);

// The steps before the message loop, for tests: application names and title, resources.
void prepareApplication();

// Maps the Windows font names the forms use onto the CJK family installed here.
void installFontSubstitutions();

} // namespace lianbu
