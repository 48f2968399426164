#pragma once

#include "operators/OperatorDialogBase.h"

class QPushButton;

namespace Ui {
class OperatorAdminDialog;
}
namespace lianbu::operators {
class PasswordGate;
}

// "用户管理—(管理员专用)": locked until the super administrator's password is given; then resets
// an operator's password to the default, adds operators and deletes them. Modeless; centres
// itself on the screen, shows itself when created and frees itself when closed, so every
// opening starts locked again.
class OperatorAdminDialog : public OperatorDialogBase
{
    Q_OBJECT

public:
    OperatorAdminDialog(Database &database, QWidget *owner);
    ~OperatorAdminDialog() override;

    // True once the super administrator's password has been given.
    bool unlocked() const;
    lianbu::operators::PasswordGate *passwordGate() const { return m_gate; }
    // "失败记录": lists the newest failed password attempts (enabled once unlocked).
    QPushButton *failuresButton() const { return m_failuresButton; }
    // "权限…": the role and grants of the chosen operator (enabled once unlocked).
    QPushButton *rightsButton() const { return m_rightsButton; }

public slots:
    void onFirstShow() override;
    void adminPasswordKey(); // Enter (the key filter itself belongs to the password edit)
    void unlock();           // 登录
    void operatorChosen();
    void resetPassword();  // 初始化密码
    void showResetHint();  // 提示
    void addOperator();    // 增加用户
    void deleteOperator(); // 删除用户
    void quit();           // 退出
    void showFailures();   // 失败记录
    void editRights();     // 权限…

private:
    // Refills operatorList with every row of userdb in the database's order.
    void fillOperatorList();
    Ui::OperatorAdminDialog *ui;

    lianbu::operators::PasswordGate *m_gate = nullptr;
    QPushButton *m_failuresButton = nullptr;
    QPushButton *m_rightsButton = nullptr;
};
