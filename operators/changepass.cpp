#include "operators/changepass.h"

#include "data/dm.h"
#include "operators/OperatorWindow.h"
#include "operators/PasswordEdit.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "ui_changepass.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

Tchangepassfm *changepassfm = nullptr;


using namespace lianbu;
using namespace lianbu::operators;

Tchangepassfm::Tchangepassfm(QWidget *owner)
    : TOperatorWindow(owner, QSize(296, 160))
    , ui(new Ui::Tchangepassfm)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("changepassfm"));
    pressButtonsOnEnter(this);
    for (QLineEdit *edit : {ui->Edit1, ui->Edit14, ui->Edit15}) {
        // Polished first, so the edit's own style sheet ("*" as the echo) takes effect at once.
        edit->ensurePolished();
        configurePasswordEdit(edit);
    }

    connect(ui->ComboBox1, &QComboBox::activated, this, &Tchangepassfm::ComboBox1Click);
    connect(ui->Edit1, &QLineEdit::returnPressed, this, &Tchangepassfm::Edit1KeyPress);
    connect(ui->Edit14, &QLineEdit::returnPressed, this, &Tchangepassfm::Edit14KeyPress);
    connect(ui->Edit15, &QLineEdit::returnPressed, this, &Tchangepassfm::Edit15KeyPress);
    connect(ui->bitbtn4, &QPushButton::clicked, this, &Tchangepassfm::bitbtn4Click);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &Tchangepassfm::BitBtn1Click);

    changepassfm = this;
    // Visible on creation, like every window the main window opens, centred from the start.
    centreOnScreen(this);
    show();
}

Tchangepassfm::~Tchangepassfm()
{
    if (changepassfm == this)
        changepassfm = nullptr;
    delete ui;
}

void Tchangepassfm::FormShow()
{
    FillComboDistinct(dmfm->ADOQuery1, QStringLiteral("username"), QStringLiteral("userdb"), ui->ComboBox1);
    ui->ComboBox1->setFocus();
}

void Tchangepassfm::ComboBox1Click()
{
    ui->Edit1->setFocus();
}

void Tchangepassfm::Edit1KeyPress()
{
    ui->Edit14->setFocus();
}

void Tchangepassfm::Edit14KeyPress()
{
    ui->Edit15->setFocus();
}

void Tchangepassfm::Edit15KeyPress()
{
    ui->bitbtn4->setFocus();
}

void Tchangepassfm::bitbtn4Click()
{
    const QString name = ui->ComboBox1->currentText();
    const QString oldPassword = TrimInput(ui->Edit1->text());
    const QString newPassword = TrimInput(ui->Edit14->text());
    const QString repeated = TrimInput(ui->Edit15->text());

    // With no operator chosen the update would match no row and still report success.
    if (!RequireComboText(ui->ComboBox1, QStringLiteral("必须选择用户！")))
        return;
    if (!RequireEditText(ui->Edit1, QStringLiteral("必须输入旧口令！")))
        return;
    if (!RequireEditText(ui->Edit14, QStringLiteral("新口令长度不能为空！")))
        return;
    if (newPassword != repeated) {
        showInformation(QStringLiteral("两次输入的密码不一致！请重新输入！"), this);
        ui->Edit15->clear();
        ui->Edit15->setFocus();
        return;
    }
    // Only who knows the operator's current password may change it; otherwise anyone could
    // take over any operator, the super administrator included.
    OpenStatement(dmfm->ADOQuery1, sql::loginCheck(oldPassword, name));
    if (dmfm->ADOQuery1->recordCount() < 1) {
        dmfm->ADOQuery1->close();
        showInformation(QStringLiteral("旧密码不正确！请重新输入！"), this);
        ui->Edit1->clear();
        ui->Edit1->setFocus();
        return;
    }
    ExecStatement(dmfm->ADOQuery1, sql::changePassword(newPassword, name));
    showInformation(QStringLiteral("你已经成功修改了密码！下次运行程序时生效！"), this);
    if (ui->CheckBox1->isChecked()) {
        close();
        return;
    }
    ui->Edit1->clear();
    ui->Edit14->clear();
    ui->Edit15->clear();
}

void Tchangepassfm::BitBtn1Click()
{
    close();
}

