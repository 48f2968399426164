#include "operators/OperatorCommands.h"

#include "operators/ChangePasswordDialog.h"
#include "operators/OperatorAdminDialog.h"
#include "platform/Windows.h"

namespace lianbu::operators {

void openChangePassword(Database &database, QWidget *owner)
{
    showOrCreateWindow<ChangePasswordDialog>(owner, database);
}

void openOperatorAdmin(Database &database, QWidget *owner)
{
    showOrCreateWindow<OperatorAdminDialog>(owner, database);
}

} // namespace lianbu::operators
