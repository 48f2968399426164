#pragma once

#include "operators/OperatorDialogBase.h"

namespace Ui {
class ChangePasswordDialog;
}
namespace lianbu::operators {
class PasswordGate;
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

    // Opened for one operator who logged in with the default password: that operator is chosen
    // and cannot be changed. With `mandatory` (the super administrator) the window is modal and
    // cannot be left without a change except by ending the program, after a question.
    void requireChangeFor(const QString &name, bool mandatory);
    bool passwordChanged() const { return m_changed; }
    lianbu::operators::PasswordGate *passwordGate() const { return m_gate; }

public slots:
    void onFirstShow() override;
    void operatorChosen();
    // Enter in the password edits (the key filter itself belongs to the password edit).
    void oldPasswordKey();
    void newPasswordKey();
    void repeatPasswordKey();
    void changePassword();
    void quit();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::ChangePasswordDialog *ui;
    lianbu::operators::PasswordGate *m_gate = nullptr;
    bool m_mandatory = false;
    bool m_changed = false;
};
