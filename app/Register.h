#pragma once

#include "db/RegisterAddress.h"

#include <QString>

namespace lianbu {

struct CommandLine;

// Which register the program opens, and whether it may create it.
struct RegisterPlace
{
    QString path;                   // a file register: absolute
    bool createWhenMissing = false; // with the delivered contents
    db::RegisterAddress server;     // a register on a database server (kind Server)

    bool isServer() const { return server.isServer(); }
    // The address to open: the file, or the server (with its password, when one is known).
    db::RegisterAddress address() const;
};

// The name of the register file.
inline constexpr const char *kRegisterFileName = "data.db";
// The environment variable that names the register (a file or a server address).
inline constexpr const char *kRegisterVariable = "LIANBU_DATABASE";
// The value of the per-user settings (QSettings "qiaomu"/"lianbu") where "数据库连接…" keeps the
// server address, without password.
inline constexpr const char *kSavedRegisterKey = "database";

// The first of: --database, the environment variable LIANBU_DATABASE, the server address saved
// by "数据库连接…". Each may be a file or a server address; a file is resolved against the working
// folder and never created. Without any of them an installed program (packaged, or on Windows), which is
// started from a menu in whatever folder the desktop chooses, uses data.db in the per-user data
// folder and creates it there on first start; a program built from the sources uses data.db in
// the working folder and never creates it (a missing file is reported, as it always was).
// A malformed server address throws lianbu::Error naming it.
RegisterPlace registerPlace(const CommandLine &commandLine, bool packaged, const QString &userDataFolder,
                            const QString &workingFolder, const QString &environment = {}, const QString &saved = {});

// The same with the process's environment and the user's saved setting; the password of a
// server comes from the per-user password file (platform/PasswordFile) unless the address
// carries one; without either, libpq's own ~/.pgpass and PGPASSWORD apply.
RegisterPlace chosenRegister(const CommandLine &commandLine);

// The saved server address ("" for none), and saving or clearing it.
QString savedRegister();
void saveRegister(const QString &address);

// Makes sure the register at `place` can be opened: creates its folder and the delivered
// database when it is missing and may be created. An existing file is never touched. Throws
// lianbu::Error when the folder or the file cannot be created. Nothing to do for a server.
void prepareRegister(const RegisterPlace &place);

} // namespace lianbu
