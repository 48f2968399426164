#pragma once

#include "tests/support/RecordingShell.h"
#include "tests/support/ScriptedDialogs.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace lianbu::test {

// Puts QStandardPaths into test mode so no test touches the user's real folders.
void enterTestMode();

// Why this process cannot take file permissions away from itself to provoke a refusal (empty
// when it can): the superuser passes every permission check, and a Windows file keeps only a
// read-only attribute, which neither hides its contents nor closes a folder to new files.
QString whyPermissionsCannotBeTakenAway();
// The same for the read-only mark alone, which Windows honours for everyone.
QString whyReadOnlyCannotBeSet();

// The surroundings of one test, for as long as the object lives:
// - QStandardPaths test mode, and HOME pointing into the temporary folder (with an empty
//   Desktop there, apart from the working folder), so the settings file, the per-user folders and the desktop are private;
// - a fresh temporary folder made the process's current directory (the old one restored after);
// - the scripted dialog double and the recording shell double installed (removed after);
// - the clock on the system time (tests fix it with setFixedNow), and reset again after;
// - the program behaving as the source-built one (its register in the working folder) on every
//   system, until a test says otherwise (overridePackagedProgram).
class Environment
{
public:
    Environment();
    ~Environment();
    Environment(const Environment &) = delete;
    Environment &operator=(const Environment &) = delete;

    bool isValid() const { return m_dir.isValid() && m_home.isValid(); }
    QString path() const { return m_dir.path(); } // the working folder
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString homePath() const;    // the private HOME
    QString desktopPath() const; // its Desktop folder

    ScriptedDialogs &dialogs() { return m_dialogs; }
    RecordingShell &shell() { return m_shell; }

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_home;
    QString m_previousDirectory;
    QByteArray m_previousHome;
    bool m_hadHome = false;
    QByteArray m_previousXdgConfig;
    bool m_hadXdgConfig = false;
    ScriptedDialogs m_dialogs;
    RecordingShell m_shell;
};

} // namespace lianbu::test
