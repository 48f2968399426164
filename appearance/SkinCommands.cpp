#include "appearance/SkinCommands.h"

#include "appearance/AboutDialog.h"
#include "appearance/SkinRegistry.h"
#include "appearance/Skins.h"
#include "platform/Shell.h"
#include "platform/VendorAddresses.h"

#include <QCoreApplication>
#include <QDir>

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

void openHelp()
{
    // Beside the program file, not in the working folder.
    lianbu::openFile(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("help.chm")));
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
