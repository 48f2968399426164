#pragma once

#include <QString>

#include <optional>

namespace lianbu {

// Whether this program is the one installed by the system's package (built with the CMake
// option LIANBU_PACKAGED, which scripts/package turns on), rather than one built from the
// sources. The build decides, not the folder the program lies in: the package check runs the
// packaged program from a scratch folder, and a developer may install a build anywhere.
bool isPackagedProgram();
// Tests make the program behave as the packaged one (true) or the source-built one (false);
// std::nullopt returns to what the build says.
void overridePackagedProgram(std::optional<bool> packaged);

// Whether the usual register is the user's own, in the per-user data folder, made with the
// delivered contents at the first start: for the packaged program, and for every Windows build
// (its setup installs per user, and a shortcut's working folder is the program's own).
// overridePackagedProgram() decides this too.
bool registerInUserDataFolder();

// The installed program replaces its files through the package manager only: its own upgrade
// may say that a new version exists, but never downloads or replaces anything.
bool upgradesManagedByPackage();

// The text that tells the operator of a packaged program about a published new version:
// `publishedMessage` is the information file's own message (may be empty), `where` the address
// to get it from (may be empty).
QString packagedUpgradeText(const QString &publishedMessage, const QString &where);

// The command a menu or desktop entry starts: the packaged program's command in the system's
// program folder (a stable name, whatever the package does behind it), otherwise `runningProgram`.
QString launcherPath(const QString &runningProgram);

// The icon of a desktop entry for the packaged program: its name in the desktop's icon theme.
inline constexpr const char *kPackagedIconName = "lianbu";

} // namespace lianbu
