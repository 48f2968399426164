#include "platform/Installation.h"

// LIANBU_PACKAGED and LIANBU_LAUNCHER_PATH are defined for this file alone (see the top-level
// CMakeLists.txt), so switching the option rebuilds one file.
#ifndef LIANBU_PACKAGED
#define LIANBU_PACKAGED 0
#endif
#ifndef LIANBU_LAUNCHER_PATH
#define LIANBU_LAUNCHER_PATH "/usr/bin/lianbu"
#endif

namespace lianbu {

namespace {

std::optional<bool> &packagedOverride()
{
    static std::optional<bool> value;
    return value;
}

} // namespace

bool isPackagedProgram()
{
    return packagedOverride().value_or(LIANBU_PACKAGED != 0);
}

void overridePackagedProgram(std::optional<bool> packaged)
{
    packagedOverride() = packaged;
}

bool registerInUserDataFolder()
{
#ifdef _WIN32
    constexpr bool windows = true;
#else
    constexpr bool windows = false;
#endif
    return packagedOverride().value_or(LIANBU_PACKAGED != 0 || windows);
}

bool upgradesManagedByPackage()
{
    return isPackagedProgram();
}

QString packagedUpgradeText(const QString &publishedMessage, const QString &where)
{
    QString text = QStringLiteral("联簿宝有新版本了。");
    if (!publishedMessage.trimmed().isEmpty())
        text += QLatin1Char('\n') + publishedMessage.trimmed();
    text += QStringLiteral("\n\n本机的联簿宝是用软件包安装的，请用系统的软件包管理器升级");
    if (!where.trimmed().isEmpty())
        text += QStringLiteral("，或从 %1 下载新的安装包").arg(where.trimmed());
    text += QStringLiteral("。");
    return text;
}

QString launcherPath(const QString &runningProgram)
{
    return isPackagedProgram() ? QStringLiteral(LIANBU_LAUNCHER_PATH) : runningProgram;
}

} // namespace lianbu
