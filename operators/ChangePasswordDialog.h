#pragma once

#include "operators/OperatorDialogBase.h"

namespace Ui {
class ChangePasswordDialog;
}

// "更改密码": sets a new password for an operator chosen from the list, after the operator's
// current password has been given. Modeless; centres itself on the screen, shows itself when
// created and frees itself when closed, so every opening starts afresh.
class ChangePasswordDialog : public OperatorDialogBase
{
    Q_OBJECT

public:
    ChangePasswordDialog(Database &database, QWidget *owner);
    ~ChangePasswordDialog() override;

public slots:
    void onFirstShow() override;
    void operatorChosen();
    // Enter in the password edits (the key filter itself belongs to the password edit).
    void oldPasswordKey();
    void newPasswordKey();
    void repeatPasswordKey();
    void changePassword();
    void quit();
private:
    Ui::ChangePasswordDialog *ui;
};

