// The main window's appearance commands: the five skins of "设 置", the start-up restore of the
// remembered skin, "技术支持" and the help commands.
#include "app/MainWindow.h"

#include "platform/VendorAddresses.h"
#include "appearance/AboutDialog.h"
#include "appearance/SkinRegistry.h"
#include "appearance/Skins.h"
#include "platform/Shell.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QMenu>
#include <QToolButton>

void MainWindow::buildAppearance()
{
    skinCatalog = new SkinCatalog(this);
    skinCatalog->setObjectName(QStringLiteral("skinCatalog"));
    lianbu::skins::fillStore(skinCatalog);

    // The main window's own skin governs every window; it takes over in onFirstShow, before the
    // first paint, once the window's controls are fully set up.
    skinController = new SkinController(this);
    skinController->setObjectName(QStringLiteral("skinController"));
    skinController->setSkinStream(lianbu::skins::skinData(lianbu::skins::ownSkin()));

    connect(blackClassicSkinAction, &QAction::triggered, this, [this] { chooseSkin(0); });
    connect(blueFantasySkinAction, &QAction::triggered, this, [this] { chooseSkin(1); });
    connect(dreamSkySkinAction, &QAction::triggered, this, [this] { chooseSkin(2); });
    connect(blackReverieSkinAction, &QAction::triggered, this, [this] { chooseSkin(3); });
    connect(dreamComeTrueSkinAction, &QAction::triggered, this, [this] { chooseSkin(4); });
    connect(ui->supportButton, &QToolButton::clicked, this, &MainWindow::openSupportPage);

    // The help commands have no button of their own; the operator finds them at the end of
    // the "设 置" drop-down, where the other program-wide commands are.
    helpMenu = new QMenu(this);
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    helpAction = helpMenu->addAction(QStringLiteral("帮助主题"));
    helpAction->setObjectName(QStringLiteral("helpAction"));
    homePageAction = helpMenu->addAction(QStringLiteral("官方主页"));
    homePageAction->setObjectName(QStringLiteral("homePageAction"));
    aboutAction = helpMenu->addAction(QStringLiteral("关于"));
    aboutAction->setObjectName(QStringLiteral("aboutAction"));
    QAction *separator = settingsMenu->addSeparator();
    separator->setObjectName(QStringLiteral("N17"));
    settingsMenu->addActions({helpAction, homePageAction, aboutAction});
    connect(helpAction, &QAction::triggered, this, &MainWindow::openHelp);
    connect(homePageAction, &QAction::triggered, this, &MainWindow::openHomePage);
    connect(aboutAction, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::chooseSkin(int index)
{
    // The new look shows at once, whether or not it can be remembered.
    ApplyStoreSkin(skinController, skinCatalog, index);
    lianbu::skins::rememberSkin(index);
}

void MainWindow::restoreSkin()
{
    skinController->setActive(true);
    if (const std::optional<int> index = lianbu::skins::readRememberedSkin())
        ApplyStoreSkin(skinController, skinCatalog, *index);
}

void MainWindow::openSupportPage()
{
    lianbu::openWebAddress(lianbu::supportPageAddress());
}

void MainWindow::openHelp()
{
    // Beside the program file, not in the working folder.
    lianbu::openFile(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("help.chm")));
}

void MainWindow::openHomePage()
{
    lianbu::openWebAddress(lianbu::homePageAddress());
}

void MainWindow::showAbout()
{
    AboutDialog box(this);
    box.exec();
}
