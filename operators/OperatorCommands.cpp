// The main window's commands that open the operator windows ("设 置" menu).
#include "app/MAIN.h"

#include "operators/changepass.h"
#include "operators/usergl.h"

void TMainForm::N15Click()
{
    ShowOrCreateForm(changepassfm, this);
}

void TMainForm::N13Click()
{
    ShowOrCreateForm(userglfm, this);
}
