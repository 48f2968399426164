#include "tests/support/TestSupport.h"

#include "platform/Clock.h"
#include "platform/Installation.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace lianbu::test {

QString whyReadOnlyCannotBeSet()
{
#ifdef _WIN32
    return {};
#else
    return ::geteuid() == 0 ? QStringLiteral("file permissions do not bind the superuser") : QString();
#endif
}

QString whyPermissionsCannotBeTakenAway()
{
#ifdef _WIN32
    return QStringLiteral("a Windows file or folder cannot be made unreadable or closed to new files here");
#else
    return whyReadOnlyCannotBeSet();
#endif
}

void enterTestMode()
{
    QStandardPaths::setTestModeEnabled(true);
}

namespace {

// On Linux the private HOME gives every Environment fresh per-user folders. Windows finds them
// through the shell, whatever the environment says, so the test mode's own folders (under
// "qttest", never the user's) are emptied instead, before and after each test.
void clearTestModeFolders()
{
#ifdef _WIN32
    for (const auto location :
         {QStandardPaths::AppLocalDataLocation, QStandardPaths::AppConfigLocation, QStandardPaths::AppDataLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.contains(QStringLiteral("/qttest")))
            continue;
        if (QFileInfo(folder).isDir())
            QDir(folder).removeRecursively();
        else
            QFile::remove(folder); // a test's file standing where the folder belongs
    }
#endif
}

} // namespace

Environment::Environment()
    : m_dir(QDir::tempPath() + QStringLiteral("/lianbu-test-XXXXXX"))
    , m_home(QDir::tempPath() + QStringLiteral("/lianbu-home-XXXXXX"))
{
    enterTestMode();
    clearTestModeFolders();
    m_previousDirectory = QDir::currentPath();
    m_hadHome = qEnvironmentVariableIsSet("HOME");
    m_previousHome = qgetenv("HOME");
    m_hadXdgConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_previousXdgConfig = qgetenv("XDG_CONFIG_HOME");
    if (isValid()) {
        QDir(m_home.path()).mkpath(QStringLiteral("Desktop"));
        // The desktop folder is not covered by QStandardPaths' test mode: a private HOME
        // (and no XDG_CONFIG_HOME naming the real user-dirs file) keeps it in here too.
        qputenv("HOME", QFile::encodeName(homePath()));
        qunsetenv("XDG_CONFIG_HOME");
#ifdef _WIN32
        // Windows names the desktop through the shell, whatever HOME says, and the user's own
        // must stay untouched. (On Linux the private HOME above is what the lookup finds.)
        paths::overrideDesktopFolder(desktopPath());
#endif
        QDir::setCurrent(m_dir.path());
    }
    setDialogService(&m_dialogs);
    setShellService(&m_shell);
    setFixedNow(QDateTime());
    // The program as built from the sources: its register is data.db in the working folder. A
    // Windows build's own would be in the per-user folder, away from the test's.
    overridePackagedProgram(false);
}

Environment::~Environment()
{
    overridePackagedProgram(std::nullopt);
    paths::overrideDesktopFolder(std::nullopt);
    setFixedNow(QDateTime());
    setShellService(nullptr);
    setDialogService(nullptr);
    QDir::setCurrent(m_previousDirectory);
    clearTestModeFolders();
    if (m_hadHome)
        qputenv("HOME", m_previousHome);
    else
        qunsetenv("HOME");
    if (m_hadXdgConfig)
        qputenv("XDG_CONFIG_HOME", m_previousXdgConfig);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString Environment::homePath() const
{
    return m_home.path();
}

QString Environment::desktopPath() const
{
    return homePath() + QStringLiteral("/Desktop");
}

} // namespace lianbu::test
