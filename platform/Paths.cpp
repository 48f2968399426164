#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString desktopFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString tempFolder()
{
    return QDir::tempPath();
}

QString settingsFilePath()
{
    return userConfigFolder() + QStringLiteral("/lianbu.ini");
}

} // namespace lianbu::paths
