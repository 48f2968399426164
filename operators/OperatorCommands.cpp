// The main window's commands that open the operator windows ("设 置" menu).
#include "app/MainWindow.h"

#include "operators/ChangePasswordDialog.h"
#include "operators/OperatorAdminDialog.h"

void MainWindow::openChangePassword()
{
    showOrCreateWindow<ChangePasswordDialog>(this);
}

void MainWindow::openOperatorAdmin()
{
    showOrCreateWindow<OperatorAdminDialog>(this);
}
