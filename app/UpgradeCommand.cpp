// The main window's command 检查升级 (checkForUpgradeAction), which onActivated triggers at every
// activation.
#include "app/MainWindow.h"
#include "upgrade/Upgrader.h"

void MainWindow::checkForUpgrade()
{
    // Returns at once; a check or run still in progress makes it do nothing. Closing the ask
    // window activates this window again: once the user said "later", activations stop
    // asking for the rest of the session instead of asking again and again.
    if (upgrader && !upgrader->userDeclined())
        upgrader->checkUpdate();
}
