#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace lianbu::paths {

QString programFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Tools that run before (or without) an application object.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

QString workingFolder()
{
    return QDir::currentPath();
}

QString userConfigFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
}

QString userDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

namespace {

std::optional<QString> &desktopOverride()
{
    static std::optional<QString> folder;
    return folder;
}

} // namespace

QString desktopFolder()
{
    if (desktopOverride())
        return *desktopOverride();
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

void overrideDesktopFolder(std::optional<QString> folder)
{
    desktopOverride() = std::move(folder);
}

QString tempFolder()
{
    return QDir::tempPath();
}

QString settingsFilePath()
{
    return userConfigFolder() + QStringLiteral("/lianbu.ini");
}

void restrictNewFiles()
{
#ifndef _WIN32
    ::umask(077);
#endif
}

bool makePrivateFolder(const QString &folder)
{
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        return false;
    const QFileInfo info(folder);
#ifndef _WIN32
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (info.ownerId() == ::getuid() && (info.permissions() & others))
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#endif
    // On Windows a folder under the user's profile is private by the access list it inherits.
    return info.isDir();
}

} // namespace lianbu::paths
