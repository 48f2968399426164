// The main window's command 检查升级 (checkForUpgradeAction), which onActivated triggers at every
// activation.
#include "app/MainWindow.h"
#include "upgrade/Upgrader.h"

void MainWindow::checkForUpgrade()
{
    // Returns at once; a check or run still in progress makes it do nothing. Closing the ask
    // window activates this window again: once the user said "later", activations stop
    // asking for the rest of the session instead of asking again and again.
    // Not before the operator has logged in: the ask window would take the focus from the login
    // dialog, and the password's Enter would answer it. Closing the login activates this window
    // again, which checks then.
    if (m_loginDialog && !m_sessionId)
        return;
    if (upgrader && !upgrader->userDeclined())
        upgrader->checkUpdate();
}
