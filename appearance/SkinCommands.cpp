// The main window's appearance commands: the five skins of "设 置", the start-up restore of the
// remembered skin, "技术支持" and the help commands.
#include "app/MAIN.h"

#include "app/VendorAddresses.h"
#include "appearance/About.h"
#include "appearance/SkinRegistry.h"
#include "appearance/Skins.h"
#include "platform/Shell.h"
#include "ui_MAIN.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QMenu>
#include <QToolButton>

void TMainForm::buildAppearance()
{
    SkinStore1 = new TSkinStore(this);
    SkinStore1->setObjectName(QStringLiteral("SkinStore1"));
    lianbu::skins::fillStore(SkinStore1);

    // The main window's own skin governs every window; it takes over in FormShow, before the
    // first paint, once the window's controls are fully set up.
    SkinData1 = new TSkinData(this);
    SkinData1->setObjectName(QStringLiteral("SkinData1"));
    SkinData1->setSkinFormtype(sfMainform);
    SkinData1->setSkinStream(lianbu::skins::skinData(lianbu::skins::ownSkin()));

    connect(N19, &QAction::triggered, this, &TMainForm::N19Click);
    connect(N26, &QAction::triggered, this, &TMainForm::N26Click);
    connect(N32, &QAction::triggered, this, &TMainForm::N32Click);
    connect(N42, &QAction::triggered, this, &TMainForm::N42Click);
    connect(N52, &QAction::triggered, this, &TMainForm::N52Click);
    connect(ui->ToolButton1, &QToolButton::clicked, this, &TMainForm::ToolButton1Click);

    // The help commands have no button of their own; the operator finds them at the end of
    // the "设 置" drop-down, where the other program-wide commands are.
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    N14 = PopupMenu2->addAction(QStringLiteral("帮助主题"));
    N14->setObjectName(QStringLiteral("N14"));
    N24 = PopupMenu2->addAction(QStringLiteral("官方主页"));
    N24->setObjectName(QStringLiteral("N24"));
    N25 = PopupMenu2->addAction(QStringLiteral("关于"));
    N25->setObjectName(QStringLiteral("N25"));
    QAction *separator = PopupMenu1->addSeparator();
    separator->setObjectName(QStringLiteral("N17"));
    PopupMenu1->addActions({N14, N24, N25});
    connect(N14, &QAction::triggered, this, &TMainForm::N14Click);
    connect(N24, &QAction::triggered, this, &TMainForm::N24Click);
    connect(N25, &QAction::triggered, this, &TMainForm::N25Click);
}

void TMainForm::chooseSkin(int index)
{
    // The new look shows at once, whether or not it can be remembered.
    ApplyStoreSkin(SkinData1, SkinStore1, index);
    lianbu::skins::rememberSkin(index);
}

void TMainForm::N19Click() { chooseSkin(0); }
void TMainForm::N26Click() { chooseSkin(1); }
void TMainForm::N32Click() { chooseSkin(2); }
void TMainForm::N42Click() { chooseSkin(3); }
void TMainForm::N52Click() { chooseSkin(4); }

void TMainForm::RestoreSkin()
{
    SkinData1->setActive(true);
    if (const std::optional<int> index = lianbu::skins::readRememberedSkin())
        ApplyStoreSkin(SkinData1, SkinStore1, *index);
}

void TMainForm::ToolButton1Click() { lianbu::openWebAddress(lianbu::supportPageAddress()); }

void TMainForm::N14Click()
{
    // Beside the program file, not in the working folder.
    lianbu::openFile(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("help.chm")));
}

void TMainForm::N24Click() { lianbu::openWebAddress(lianbu::homePageAddress()); }

void TMainForm::N25Click()
{
    TAboutBox box(this);
    box.exec();
}
