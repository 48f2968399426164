#pragma once

// The program's side of the updater: the updater executable is built with the program and
// embedded in it as the resource kUpdaterResource; at the end of an upgrade the program writes it
// out, starts it and ends.

#include <QString>
#include <QStringList>

namespace lianbu::updater {

inline constexpr const char *kUpdaterResource = ":/updater/Rurezure3";

// Where the updater is written: the temporary folder, or programFolder when the temporary folder
// does not exist or does not allow programs to run (mounted noexec).
QString updaterPathFor(const QString &tempFolder, const QString &programFolder);
// updaterPathFor(QDir::tempPath(), the running program's folder).
QString updaterPath();

// Updaters are written into a folder of their own in the temporary folder, never straight into
// a folder others can write: a name there could be another user's link or program.
inline constexpr const char *kUpdaterFolderPrefix = "lianbu-updater-";
// Makes such a folder in tempFolder (mkdtemp: mode 700) and checks that it is a real folder, owned
// by this user, that nobody else may enter. Empty when none can be had.
QString makePrivateUpdaterFolder(const QString &tempFolder);
// Where the updater goes: a private folder in the temporary folder, or the program's folder when
// the temporary folder cannot take it (updaterPathFor).
QString privateUpdaterPath(const QString &tempFolder, const QString &programFolder);
// Deletes the updater folders of earlier upgrades (this user's only) in tempFolder.
void removeUpdaterFolders(const QString &tempFolder);

// Copies the embedded updater to path atomically (temporary file + rename) and makes it
// executable. False when the folder cannot be written.
bool writeUpdaterProgram(const QString &path);
// Deletes an updater left from an earlier upgrade. True when none is left.
bool removeUpdaterProgram(const QString &path);

// The updater's command line: updater path + " " + program path + " " + restart parameter
// ("+/afterupgrade0"), each path double-quoted when it holds a blank (a quote inside is doubled).
QString updaterCommandLine(const QString &updaterPath, const QString &programPath, const QString &restartParameter);
// The arguments the updater is started with; no shell is involved, so the paths need no quotes.
QStringList updaterArguments(const QString &programPath, const QString &restartParameter);

// Starts the updater without waiting for it, in the current working folder (where the program
// finds its database when it is started again).
bool startUpdater(const QString &updaterPath, const QString &programPath, const QString &restartParameter);

// Writes the updater (to the program folder when the temporary folder cannot take it) and starts
// it for programPath. Returns the updater's path, or an empty string when it could not be started.
QString launchUpdater(const QString &programPath, const QString &restartParameter);

} // namespace lianbu::updater
