#pragma once

#include "operators/OperatorWindow.h"

namespace Ui {
class Tchangepassfm;
}

// "更改密码": sets a new password for an operator chosen from the list, after the operator's
// current password has been given. Modeless; centres itself on the screen, shows itself when
// created and frees itself when closed, so every opening starts afresh.
class Tchangepassfm : public TOperatorWindow
{
    Q_OBJECT

public:
    explicit Tchangepassfm(QWidget *owner = nullptr);
    ~Tchangepassfm() override;

    Ui::Tchangepassfm *ui;

public slots:
    void FormShow() override;
    void ComboBox1Click();
    // Enter in the password edits (the key filter itself belongs to the password edit).
    void Edit1KeyPress();
    void Edit14KeyPress();
    void Edit15KeyPress();
    void bitbtn4Click();
    void BitBtn1Click();
};

// The open password change window, nullptr when there is none.
extern Tchangepassfm *changepassfm;
