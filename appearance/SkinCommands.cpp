#include "appearance/SkinCommands.h"

#include "appearance/AboutDialog.h"
#include "appearance/SkinRegistry.h"
#include "appearance/Skins.h"
#include "platform/Dialogs.h"
#include "platform/Installation.h"
#include "platform/Shell.h"
#include "platform/VendorAddresses.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace lianbu::skins {

SkinController *createSkinController(QObject *parent)
{
    auto *controller = new SkinController(parent);
    controller->setObjectName(QStringLiteral("skinController"));
    controller->setSkinStream(skinData(ownSkin()));
    return controller;
}

SkinCatalog *createSkinCatalog(QObject *parent)
{
    auto *catalog = new SkinCatalog(parent);
    catalog->setObjectName(QStringLiteral("skinCatalog"));
    fillStore(catalog);
    return catalog;
}

void chooseSkin(SkinController *controller, SkinCatalog *catalog, int index)
{
    ApplyStoreSkin(controller, catalog, index);
    rememberSkin(index);
}

void restoreSkin(SkinController *controller, SkinCatalog *catalog)
{
    controller->setActive(true);
    if (const std::optional<int> index = readRememberedSkin())
        ApplyStoreSkin(controller, catalog, *index);
}

void openSupportPage()
{
    lianbu::openWebAddress(lianbu::supportPageAddress());
}

QString helpManualPath(const QString &programFolder, bool packaged)
{
    // Beside the program where the installer keeps everything in one folder; under share/ in
    // the package's layout.
    QStringList candidates{QDir(programFolder).filePath(QStringLiteral("manual/index.html")),
                           QDir(programFolder).filePath(QStringLiteral("../../share/lianbu/manual/index.html"))};
#ifdef LIANBU_SOURCE_MANUAL
    if (!packaged)
        candidates << QStringLiteral(LIANBU_SOURCE_MANUAL);
#else
    (void)packaged;
#endif
    for (const QString &candidate : candidates)
        if (QFileInfo(candidate).isFile())
            return QFileInfo(candidate).canonicalFilePath();
    return {};
}

void openHelp(QWidget *parent)
{
    // Found from the program file, not the working folder.
    const QString manual = helpManualPath(QCoreApplication::applicationDirPath(), lianbu::isPackagedProgram());
    if (manual.isEmpty()) {
        lianbu::showWarning(QStringLiteral("找不到使用说明（帮助文件）。请重新安装联簿宝。"), parent);
        return;
    }
    if (!lianbu::openFile(manual))
        lianbu::showWarning(QStringLiteral("无法打开使用说明“%1”：系统没有能显示网页的程序。").arg(manual), parent);
}

void openHomePage()
{
    lianbu::openWebAddress(lianbu::homePageAddress());
}

void showAbout(QWidget *parent)
{
    AboutDialog box(parent);
    box.exec();
}

} // namespace lianbu::skins
