#include "operators/ChangePasswordPrompt.h"

#include "data/Schema.h"
#include "operators/ChangePasswordDialog.h"
#include "platform/Dialogs.h"

#include <QApplication>

namespace lianbu::operators {

void askForOwnPassword(Database &database, QWidget *owner, const QString &name)
{
    const bool superAdministrator = name == superAdministratorName();
    if (superAdministrator) {
        showInformation(QStringLiteral("超级管理员还在使用初始密码，必须先修改密码才能继续使用本程序！"), owner);
    } else if (!askYesNo(QStringLiteral("更改密码"),
                         QStringLiteral("你还在使用初始密码，请及时修改为自己的密码。现在修改吗？"), owner)) {
        return;
    }
    // A window opened earlier (from the menu) is replaced by one for this operator.
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *open = qobject_cast<ChangePasswordDialog *>(window); open && open->isVisible())
            open->close();
    auto *window = new ChangePasswordDialog(database, owner);
    window->requireChangeFor(name, superAdministrator);
}

} // namespace lianbu::operators
