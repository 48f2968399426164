#pragma once

#include <QString>

#include <optional>

namespace lianbu::paths {

QString programFolder();    // folder of the running executable
QString workingFolder();    // the process's current directory, where data.db is looked up
QString userConfigFolder(); // QStandardPaths::AppConfigLocation (created on demand by callers)
// QStandardPaths::AppLocalDataLocation: the per-user working folder of scripts/run and the
// installed program's register. The same as AppDataLocation on Linux; on Windows the local
// application data, which roaming profiles do not copy at every logon (a register is large).
QString userDataFolder();
// QStandardPaths::DesktopLocation: on Windows the folder the shell names as the user's desktop.
QString desktopFolder();
// Tests: desktopFolder() is `folder` until reset with std::nullopt. Windows finds the desktop
// through the shell whatever the environment says, and a test must not touch the user's.
void overrideDesktopFolder(std::optional<QString> folder);
QString tempFolder();       // QDir::tempPath()
QString settingsFilePath(); // the column layout file: userConfigFolder() + "/lianbu.ini"

// From now on files and folders this process creates are its user's alone (0600 and 0700): the
// register, its -wal and -shm, backups and settings hold every customer's name and mobile.
void restrictNewFiles();
// Creates `folder` (and missing parents) for this user alone; an existing folder of this user
// that others may read is made private as well. False when it is not a folder afterwards.
bool makePrivateFolder(const QString &folder);

} // namespace lianbu::paths
