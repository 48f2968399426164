#pragma once

#include "platform/CommandLine.h"

#include <memory>

class QApplication;
class QWidget;
class Database;

namespace lianbu {

// Sets the application up, creates the permanent windows in their order (main window, login
// dialog, data module) and runs the message loop. When the database cannot be opened, the
// error is shown and the program ends before the main window appears. Returns the exit code.
// The register is the one commandLine and the kind of program choose (app/Register.h); with
// CommandLine::Action::CheckRegister no window is made: the register is opened, the result
// printed, and the program ends (0 opened, 1 not).
int runProgram(QApplication &app, const CommandLine &commandLine = {});

// --check-register on its own, with no more than a core application (no display): prints the
// result of checkRegister and returns the exit status (0 opened, 1 not).
int runRegisterCheck(const CommandLine &commandLine);

// What --check-register reports: whether the register opened, and its path or the reason.
struct RegisterCheck
{
    bool opened = false;
    QString text;
};
// Opens (and, where allowed, creates) the register the program would use, then closes it.
// Never shows a box.
RegisterCheck checkRegister(const CommandLine &commandLine);
// Opens the register the command line, the environment or the saved setting chooses. When it
// cannot be opened, says why and gives nothing; when it is the saved server, first offers
// "数据库连接…" and tries again with what the operator saves there.
std::unique_ptr<::Database> openRegisterAtStart(const CommandLine &commandLine);

namespace db {
class BackgroundDamageCheck;
class Connection;
} // namespace db
// What the open of a large register left unread for damage is read now, beside the operator's
// work; damage found is shown over `window`. Nothing when the open read the whole file.
std::unique_ptr<db::BackgroundDamageCheck> startDeferredDamageCheck(::Database &database, QWidget *window);
// Builds the quick search's index of a register that has none, showing a progress window.
void buildSearchIndexIfMissing(db::Connection &connection);

// The steps before the message loop, for tests: application names and title, resources.
void prepareApplication();

// Maps the Windows font names the forms use onto the CJK family installed here.
void installFontSubstitutions();

} // namespace lianbu
