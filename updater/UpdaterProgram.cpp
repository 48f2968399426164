#include "updater/UpdaterProgram.h"

#include "platform/AtomicFile.h"
#include "platform/SystemFiles.h"
#include "updater/UpdaterCore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

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
    return files::folderAllowsPrograms(folder.toStdString());
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

QString makePrivateUpdaterFolder(const QString &tempFolder)
{
    const std::string folder =
        files::makePrivateFolder(QDir(tempFolder).filePath(QString::fromLatin1(kUpdaterFolderPrefix)).toStdString());
    return QString::fromStdString(folder);
}

QString privateUpdaterPath(const QString &tempFolder, const QString &programFolder)
{
    const QString chosen = updaterPathFor(tempFolder, programFolder);
    if (QFileInfo(chosen).absolutePath() != QFileInfo(tempFolder).absoluteFilePath())
        return chosen; // the program's own folder
    const QString folder = makePrivateUpdaterFolder(tempFolder);
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QString::fromLatin1(kUpdaterName));
}

void removeUpdaterFolders(const QString &tempFolder)
{
    const QDir temp(tempFolder);
    const QStringList folders = temp.entryList({QString::fromLatin1(kUpdaterFolderPrefix) + QLatin1Char('*')},
                                               QDir::Dirs | QDir::NoSymLinks | QDir::Hidden);
    for (const QString &name : folders) {
        const std::string path = temp.filePath(name).toStdString();
        if (!files::isOwnFolder(path))
            continue;
        files::removeFile(path + '/' + kUpdaterName);
        files::removeFolder(path);
    }
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
    QString path = privateUpdaterPath(QDir::tempPath(), QFileInfo(programPath).absolutePath());
    if (path.isEmpty() || !writeUpdaterProgram(path)) {
        const QString fallback =
            QDir(QFileInfo(programPath).absolutePath()).filePath(QString::fromLatin1(kUpdaterName));
        if (fallback == path || !writeUpdaterProgram(fallback))
            return {};
        path = fallback;
    }
    return startUpdater(path, programPath, restartParameter) ? path : QString();
}

} // namespace lianbu::updater
