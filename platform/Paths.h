#pragma once

#include <QString>

namespace lianbu::paths {

QString programFolder();    // folder of the running executable
QString workingFolder();    // the process's current directory, where data.db is looked up
QString userConfigFolder(); // QStandardPaths::AppConfigLocation (created on demand by callers)
QString userDataFolder();   // QStandardPaths::AppDataLocation: the per-user working folder of scripts/run
QString desktopFolder();    // QStandardPaths::DesktopLocation
QString tempFolder();       // QDir::tempPath()
QString settingsFilePath(); // the column layout file: userConfigFolder() + "/lianbu.ini"

} // namespace lianbu::paths
