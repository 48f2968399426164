#include "operators/usergl.h"

#include "data/dm.h"
#include "operators/OperatorWindow.h"
#include "operators/PasswordEdit.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "ui_usergl.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QTabBar>

Tuserglfm *userglfm = nullptr;

using namespace lianbu;
using namespace lianbu::operators;

namespace {

// Runs a statement that returns no rows on the shared query, as ExecStatement does, and tells
// how many rows it changed.
int execCounting(db::Query *query, const QString &statement)
{
    query->close();
    query->setSql(statement);
    return query->execute();
}

} // namespace

Tuserglfm::Tuserglfm(QWidget *owner)
    : TOperatorWindow(owner, QSize(393, 152))
    , ui(new Ui::Tuserglfm)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("userglfm"));
    pressButtonsOnEnter(this);
    // Polished first, so the edit's own style sheet ("*" as the echo) takes effect at once.
    ui->LabeledEdit1->ensurePolished();
    configurePasswordEdit(ui->LabeledEdit1);
    ui->ListBox1->setEnabled(false);
    ui->PageControl1->setEnabled(false);
    ui->PageControl1->setCurrentIndex(0);
    // The three tabs fit side by side in the narrow third column only with slim padding.
    ui->PageControl1->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 3px 5px; }"));

    connect(ui->LabeledEdit1, &QLineEdit::returnPressed, this, &Tuserglfm::LabeledEdit1KeyPress);
    connect(ui->BitBtn3, &QPushButton::clicked, this, &Tuserglfm::BitBtn3Click);
    // A click, or moving the selection with the keyboard, chooses an operator.
    connect(ui->ListBox1, &QListWidget::itemClicked, this, &Tuserglfm::ListBox1Click);
    connect(ui->ListBox1, &QListWidget::currentRowChanged, this, &Tuserglfm::ListBox1Click);
    connect(ui->BitBtn5, &QPushButton::clicked, this, &Tuserglfm::BitBtn5Click);
    connect(ui->BitBtn4, &QPushButton::clicked, this, &Tuserglfm::BitBtn4Click);
    connect(ui->BitBtn7, &QPushButton::clicked, this, &Tuserglfm::BitBtn7Click);
    connect(ui->BitBtn9, &QPushButton::clicked, this, &Tuserglfm::BitBtn9Click);
    connect(ui->BitBtn2, &QPushButton::clicked, this, &Tuserglfm::BitBtn2Click);

    userglfm = this;
    // Visible on creation, like every window the main window opens, centred from the start.
    centreOnScreen(this);
    show();
}

Tuserglfm::~Tuserglfm()
{
    if (userglfm == this)
        userglfm = nullptr;
    delete ui;
}

bool Tuserglfm::unlocked() const
{
    return ui->PageControl1->isEnabled();
}

void Tuserglfm::FormShow()
{
    fillOperatorList();
    ui->LabeledEdit1->setFocus();
}

void Tuserglfm::fillOperatorList()
{
    // Refilling is no choice by the operator: Edit5 and Edit7 keep their names.
    const QSignalBlocker blocker(ui->ListBox1);
    ui->ListBox1->clear();
    OpenStatement(dmfm->ADOQuery1, sql::operatorList());
    db::Query *query = dmfm->ADOQuery1;
    const int n = query->recordCount();
    db::Field &field = query->fieldByName(QStringLiteral("username"));
    for (int i = 0; i < n; ++i) {
        ui->ListBox1->addItem(field.asString());
        query->next();
    }
}

void Tuserglfm::LabeledEdit1KeyPress()
{
    ui->BitBtn3->setFocus();
}

void Tuserglfm::BitBtn3Click()
{
    const QString password = TrimInput(ui->LabeledEdit1->text());
    OpenStatement(dmfm->ADOQuery1, sql::loginCheck(password, superAdministratorName()));
    if (dmfm->ADOQuery1->recordCount() == 1) {
        showInformation(QStringLiteral("超级管理员登录成功！"), this);
        ui->ListBox1->setEnabled(true);
        ui->PageControl1->setEnabled(true);
        ui->LabeledEdit1->clear();
    } else {
        showInformation(QStringLiteral("密码不对！"), this);
    }
}

void Tuserglfm::ListBox1Click()
{
    const QListWidgetItem *item = ui->ListBox1->currentItem();
    if (!item || !item->isSelected())
        return;
    ui->Edit5->setText(item->text());
    ui->Edit7->setText(item->text());
}

void Tuserglfm::BitBtn5Click()
{
    const QString name = TrimInput(ui->Edit5->text());
    if (name.isEmpty()) {
        showInformation(QStringLiteral("请选择用户名！"), this);
        return;
    }
    // The name may have been deleted since it was chosen (here or by another instance):
    // reporting a reset that changed nothing would leave the operator locked out.
    if (execCounting(dmfm->ADOQuery1, sql::resetPassword(name)) == 0) {
        showInformation(QStringLiteral("用户不存在！"), this);
        ui->Edit5->clear();
        fillOperatorList();
        return;
    }
    showInformation(QStringLiteral("已经成功将密码初始化为：") + sql::defaultPassword(), this);
}

void Tuserglfm::BitBtn4Click()
{
    // The hint names the password a reset really sets: naming any other would send an operator
    // away with a password that does not let him in.
    showInformation(QStringLiteral("初始化口令用于忘记密码的用户，将口令更改为:") + sql::defaultPassword(), this);
}

void Tuserglfm::BitBtn7Click()
{
    const QString name = TrimInput(ui->Edit6->text());
    if (name == superAdministratorName()) {
        showInformation(QStringLiteral("超级管理员只能有一个，不能增加"), this);
        return;
    }
    if (name.isEmpty()) {
        showInformation(QStringLiteral("请选择用户名！"), this);
    } else {
        // A second row of the same name would lock that operator out of the login (which needs
        // exactly one matching row). Names compare exactly, as the login compares them.
        OpenStatement(dmfm->ADOQuery1, sql::operatorList());
        db::Query *query = dmfm->ADOQuery1;
        db::Field &field = query->fieldByName(QStringLiteral("username"));
        bool exists = false;
        for (int i = 0, n = query->recordCount(); i < n && !exists; ++i, query->next())
            exists = field.asString() == name;
        query->close();
        if (exists) {
            showInformation(QStringLiteral("用户名已存在！"), this);
        } else {
            ExecStatement(dmfm->ADOQuery1, sql::addOperator(name));
            showInformation(QStringLiteral("成功添加新用户！缺省口令是：") + sql::defaultPassword()
                                + QStringLiteral(",请此用户下次登录时及时修改口令！"),
                            this);
        }
    }
    fillOperatorList();
}

void Tuserglfm::BitBtn9Click()
{
    const QString name = TrimInput(ui->Edit7->text());
    if (name == superAdministratorName()) {
        showInformation(QStringLiteral("超级管理员不能删除！"), this);
        return;
    }
    if (name.isEmpty()) {
        showInformation(QStringLiteral("请选择用户"), this);
        return;
    }
    if (confirmOperatorDeletion(QStringLiteral("你真的要删除用户：") + name + QStringLiteral("吗?"), this)) {
        ExecStatement(dmfm->ADOQuery1, sql::deleteOperator(name));
        showInformation(QStringLiteral("成功删除！"), this);
        ui->Edit7->clear();
        // The reset tab must not go on offering an operator who no longer exists.
        if (TrimInput(ui->Edit5->text()) == name)
            ui->Edit5->clear();
    }
    fillOperatorList();
}

void Tuserglfm::BitBtn2Click()
{
    close();
}

