#include "updater/UpdaterProgram.h"

#include "platform/AtomicFile.h"
#include "updater/UpdaterCore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <sys/statvfs.h>

// Q_INIT_RESOURCE must be used outside any namespace. Calling it also makes the linker keep the
// resource's object file from the static library.
static void initUpdaterResource()
{
    Q_INIT_RESOURCE(lianbu_updater);
}

namespace lianbu::updater {

namespace {

bool allowsPrograms(const QString &folder)
{
    struct statvfs vfs
    {};
    if (::statvfs(QFile::encodeName(folder).constData(), &vfs) != 0)
        return false;
    return (vfs.f_flag & ST_NOEXEC) == 0;
}

QString quoted(const QString &path)
{
    return QString::fromStdString(quoteIfNeeded(path.toStdString()));
}

} // namespace

QString updaterPathFor(const QString &tempFolder, const QString &programFolder)
{
    const QFileInfo temp(tempFolder);
    const QString folder =
        !tempFolder.isEmpty() && temp.isDir() && allowsPrograms(tempFolder) ? tempFolder : programFolder;
    return QDir(folder).filePath(QString::fromLatin1(kUpdaterName));
}

QString updaterPath()
{
    return updaterPathFor(QDir::tempPath(), QCoreApplication::applicationDirPath());
}

bool writeUpdaterProgram(const QString &path)
{
    initUpdaterResource();
    QFile resource(QString::fromLatin1(kUpdaterResource));
    if (!resource.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = resource.readAll();
    if (bytes.isEmpty())
        return false;
    // Executable before it takes the final name, so a half-ready file is never started.
    return writeFileAtomically(path, bytes, kExecutablePermissions);
}

bool removeUpdaterProgram(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    return QFile::remove(path);
}

QString updaterCommandLine(const QString &updaterPath, const QString &programPath, const QString &restartParameter)
{
    return quoted(updaterPath) + QLatin1Char(' ') + quoted(programPath) + QLatin1Char(' ') + restartParameter;
}

QStringList updaterArguments(const QString &programPath, const QString &restartParameter)
{
    QStringList args{programPath};
    if (!restartParameter.isEmpty())
        args << restartParameter;
    return args;
}

bool startUpdater(const QString &updaterPath, const QString &programPath, const QString &restartParameter)
{
    return QProcess::startDetached(updaterPath, updaterArguments(programPath, restartParameter), QDir::currentPath());
}

QString launchUpdater(const QString &programPath, const QString &restartParameter)
{
    QString path = updaterPath();
    if (!writeUpdaterProgram(path)) {
        const QString fallback =
            QDir(QFileInfo(programPath).absolutePath()).filePath(QString::fromLatin1(kUpdaterName));
        if (fallback == path || !writeUpdaterProgram(fallback))
            return {};
        path = fallback;
    }
    return startUpdater(path, programPath, restartParameter) ? path : QString();
}

} // namespace lianbu::updater
