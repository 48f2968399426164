#pragma once

#include <QString>

namespace lianbu {

// The desktop entry's file name in the desktop folder.
QString desktopShortcutFileName(); // "联簿宝.desktop"

// The text of the XDG desktop entry that starts programPath in its own folder (the packaged
// program: its command in the system's program folder, with the icon of the icon theme).
QString desktopShortcutText(const QString &programPath);

// Writes (or rewrites) 联簿宝.desktop in paths::desktopFolder(), replacing the old one
// atomically. False when the desktop folder is missing or not writable; never shows a box.
bool writeDesktopShortcut(const QString &programPath);

} // namespace lianbu
