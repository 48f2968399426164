#pragma once

#include <QString>

namespace lianbu {

// The shortcut's file name in the desktop folder: "联簿宝.lnk" on Windows (a Shell Link),
// "联簿宝.desktop" elsewhere (an XDG desktop entry).
QString desktopShortcutFileName();

// The text of the XDG desktop entry that starts programPath in its own folder (the packaged
// program: its command in the system's program folder, with the icon of the icon theme).
QString desktopShortcutText(const QString &programPath);

// Writes (or rewrites) the shortcut in paths::desktopFolder() (on Windows the folder the shell
// names as the user's desktop), replacing the old one atomically. On Windows it is a Shell Link
// to programPath, in programPath's folder, with the icon of the program file. False when the
// desktop folder is missing or not writable or the shell cannot make the link; never shows a box.
bool writeDesktopShortcut(const QString &programPath);

#ifdef _WIN32
// What a Shell Link file points at, read back through the shell; all empty when the file is not
// a link the shell can load.
struct ShellLinkTarget
{
    QString program;       // the target's path, '/' separated
    QString workingFolder; // '/' separated
    QString iconFile;      // '/' separated
    int iconIndex = -1;
};
ShellLinkTarget readShellLink(const QString &linkPath);
#endif

} // namespace lianbu
