// The main window's upgrade component and its command 检查升级 (N18), which FormActivate
// triggers at every activation.
#include "app/MAIN.h"
#include "upgrade/auAutoUpgrader.h"

#ifndef LIANBU_UPGRADE_INFO_URL
#define LIANBU_UPGRADE_INFO_URL "http://"
#endif

namespace lianbu {

QString upgradeInfoFileAddress() { return QStringLiteral(LIANBU_UPGRADE_INFO_URL); }

TauAutoUpgrader *createMainUpgrader(QObject *owner)
{
    auto *upgrader = new TauAutoUpgrader(owner);
    upgrader->setObjectName(QStringLiteral("auAutoUpgrader1"));
    // The settings of the main window's definition; everything else keeps its default.
    upgrader->setInfoFileURL(upgradeInfoFileAddress());
    upgrader->setVersionDate(QStringLiteral("08/15/2010"));
    upgrader->setVersionDateAutoSet(true);
    upgrader->Loaded();
    return upgrader;
}

} // namespace lianbu

void TMainForm::N18Click()
{
    // Returns at once; a check or run still in progress makes it do nothing. Closing the ask
    // window activates this window again: once the user said "later", activations stop
    // asking for the rest of the session instead of asking again and again.
    if (auAutoUpgrader1 && !auAutoUpgrader1->UserDeclined())
        auAutoUpgrader1->CheckUpdate();
}
