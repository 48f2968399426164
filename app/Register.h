#pragma once

#include <QString>

namespace lianbu {

struct CommandLine;

// Which register (data.db) the program opens, and whether it may create it.
struct RegisterPlace
{
    QString path;                   // absolute
    bool createWhenMissing = false; // with the delivered contents
};

// The name of the register file.
inline constexpr const char *kRegisterFileName = "data.db";

// --database names the file, when given. Otherwise an installed (packaged) program, which is
// started from a menu in whatever folder the desktop chooses, uses data.db in the per-user data
// folder and creates it there on first start; a program built from the sources uses data.db in
// the working folder and never creates it (a missing file is reported, as it always was).
// A server address is not a file; callers check CommandLine::databaseIsServer() first.
RegisterPlace registerPlace(const CommandLine &commandLine, bool packaged, const QString &userDataFolder,
                            const QString &workingFolder);

// Makes sure the register at `place` can be opened: creates its folder and the delivered
// database when it is missing and may be created. An existing file is never touched. Throws
// lianbu::Error when the folder or the file cannot be created.
void prepareRegister(const RegisterPlace &place);

} // namespace lianbu
