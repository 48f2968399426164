#pragma once

#include "operators/OperatorWindow.h"

namespace Ui {
class Tuserglfm;
}

// "用户管理—(管理员专用)": locked until the super administrator's password is given; then resets
// an operator's password to the default, adds operators and deletes them. Modeless; centres
// itself on the screen, shows itself when created and frees itself when closed, so every
// opening starts locked again.
class Tuserglfm : public TOperatorWindow
{
    Q_OBJECT

public:
    explicit Tuserglfm(QWidget *owner = nullptr);
    ~Tuserglfm() override;

    Ui::Tuserglfm *ui;

    // True once the super administrator's password has been given.
    bool unlocked() const;

public slots:
    void FormShow() override;
    void LabeledEdit1KeyPress(); // Enter (the key filter itself belongs to the password edit)
    void BitBtn3Click();         // 登录
    void ListBox1Click();
    void BitBtn5Click();         // 初始化密码
    void BitBtn4Click();         // 提示
    void BitBtn7Click();         // 增加用户
    void BitBtn9Click();         // 删除用户
    void BitBtn2Click();         // 退出

private:
    // Refills ListBox1 with every row of userdb in the database's order.
    void fillOperatorList();
};

// The open administration window, nullptr when there is none.
extern Tuserglfm *userglfm;
