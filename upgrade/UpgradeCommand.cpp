// The main window's upgrade component and its command 检查升级 (checkForUpgradeAction), which onActivated
// triggers at every activation.
#include "app/MainWindow.h"
#include "upgrade/auAutoUpgrader.h"

#ifndef LIANBU_UPGRADE_INFO_URL
#define LIANBU_UPGRADE_INFO_URL "http://"
#endif

namespace lianbu {

QString upgradeInfoFileAddress() { return QStringLiteral(LIANBU_UPGRADE_INFO_URL); }

TauAutoUpgrader *createMainUpgrader(QObject *owner)
{
    auto *upgrader = new TauAutoUpgrader(owner);
    upgrader->setObjectName(QStringLiteral("upgrader"));
    // The settings of the main window's definition; everything else keeps its default.
    upgrader->setInfoFileURL(upgradeInfoFileAddress());
    upgrader->setVersionDate(QStringLiteral("08/15/2010"));
    upgrader->setVersionDateAutoSet(true);
    // At the end of a run the main window closes (writing the session's logout time) so the
    // updater can replace the program.
    if (auto *window = qobject_cast<QWidget *>(owner))
        QObject::connect(upgrader, &TauAutoUpgrader::quitRequested, window, &QWidget::close);
    upgrader->Loaded();
    return upgrader;
}

} // namespace lianbu

void MainWindow::checkForUpgrade()
{
    // Returns at once; a check or run still in progress makes it do nothing. Closing the ask
    // window activates this window again: once the user said "later", activations stop
    // asking for the rest of the session instead of asking again and again.
    if (upgrader && !upgrader->UserDeclined())
        upgrader->CheckUpdate();
}
