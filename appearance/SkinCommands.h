#pragma once

#include <QString>

class QObject;
class QWidget;
class SkinCatalog;
class SkinController;

// The appearance commands the main window offers: the five skins of "设 置", the start-up
// restore of the remembered skin, "技术支持" and the help commands.
namespace lianbu::skins {

// The skin component over the program's own skin; it takes over at restoreSkin().
SkinController *createSkinController(QObject *parent);
// The store of the five skins, in menu order.
SkinCatalog *createSkinCatalog(QObject *parent);

// A skin of the menu: shown at once, whether or not it can be remembered.
void chooseSkin(SkinController *controller, SkinCatalog *catalog, int index);
// At the first show: skinning on, the remembered skin (if any) in place.
void restoreSkin(SkinController *controller, SkinCatalog *catalog);

void openSupportPage();          // 技术支持
void openHelp(QWidget *parent);  // 帮助主题, F1
void openHomePage();             // 官方主页
void showAbout(QWidget *parent); // 关于

// The manual that ships with the program: in the program's folder (manual/, where the Windows
// installer puts it), where the package installs it beside the program folder
// (<prefix>/libexec/lianbu -> <prefix>/share/lianbu/manual), else, for a program built from the
// sources, in the source tree. Empty when none exists.
QString helpManualPath(const QString &programFolder, bool packaged);

} // namespace lianbu::skins
