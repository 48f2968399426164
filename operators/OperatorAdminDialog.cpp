#include "operators/OperatorAdminDialog.h"

#include "data/AttemptLog.h"
#include "data/Database.h"
#include "data/OperatorStore.h"
#include "operators/FailureLogWindow.h"
#include "operators/OperatorDialogBase.h"
#include "operators/OperatorRightsWindow.h"
#include "operators/PasswordEdit.h"
#include "operators/PasswordGate.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "ui_OperatorAdminDialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QTabBar>

using namespace lianbu;
using namespace lianbu::operators;

OperatorAdminDialog::OperatorAdminDialog(Database &database, QWidget *owner)
    : OperatorDialogBase(database, owner, QSize(393, 152))
    , ui(new Ui::OperatorAdminDialog)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("operatorAdminDialog"));
    // Polished first, so the edit's own style sheet ("*" as the echo) takes effect at once.
    ui->adminPasswordEdit->ensurePolished();
    configurePasswordEdit(ui->adminPasswordEdit);
    ui->operatorList->setEnabled(false);
    ui->actionTabs->setEnabled(false);
    // The newest failed password attempts, for the administrator only: in the free space
    // between the password and "登录".
    m_failuresButton = new QPushButton(QStringLiteral("失败记录"), this);
    m_failuresButton->setObjectName(QStringLiteral("failuresButton"));
    m_failuresButton->setGeometry(6, 54, 78, 22);
    m_failuresButton->setEnabled(false);
    setTabOrder(ui->adminPasswordEdit, m_failuresButton);
    setTabOrder(m_failuresButton, ui->unlockButton);
    // Each operator's rights, below the list (which gives up the room).
    ui->operatorList->setGeometry(90, 28, 86, 88);
    m_rightsButton = new QPushButton(QStringLiteral("权限…"), this);
    m_rightsButton->setObjectName(QStringLiteral("rightsButton"));
    m_rightsButton->setGeometry(90, 119, 86, 25);
    m_rightsButton->setEnabled(false);
    m_rightsButton->setToolTip(QStringLiteral("设置所选用户的角色（管理员、业务员、查询员）和单项权限"));
    setTabOrder(ui->operatorList, m_rightsButton);
    ui->actionTabs->setCurrentIndex(0);
    m_gate = new PasswordGate(
        *m_database.connection, data::AttemptKind::Unlock, ui->unlockButton, [] { return superAdministratorName(); },
        this);
    // The three tabs fit side by side in the narrow third column only with slim padding.
    ui->actionTabs->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 3px 5px; }"));

    connect(ui->adminPasswordEdit, &QLineEdit::returnPressed, this, &OperatorAdminDialog::adminPasswordKey);
    connect(ui->unlockButton, &QPushButton::clicked, this, &OperatorAdminDialog::unlock);
    // A click, or moving the selection with the keyboard, chooses an operator.
    connect(ui->operatorList, &QListWidget::itemClicked, this, &OperatorAdminDialog::operatorChosen);
    connect(ui->operatorList, &QListWidget::currentRowChanged, this, &OperatorAdminDialog::operatorChosen);
    connect(ui->resetButton, &QPushButton::clicked, this, &OperatorAdminDialog::resetPassword);
    connect(ui->resetHintButton, &QPushButton::clicked, this, &OperatorAdminDialog::showResetHint);
    connect(ui->addButton, &QPushButton::clicked, this, &OperatorAdminDialog::addOperator);
    connect(ui->deleteButton, &QPushButton::clicked, this, &OperatorAdminDialog::deleteOperator);
    connect(ui->quitButton, &QPushButton::clicked, this, &OperatorAdminDialog::quit);
    connect(m_failuresButton, &QPushButton::clicked, this, &OperatorAdminDialog::showFailures);
    connect(m_rightsButton, &QPushButton::clicked, this, &OperatorAdminDialog::editRights);
    pressButtonsOnEnter(this);
    // Visible on creation, like every window the main window opens, centred from the start.
    centreOnScreen(this);
    show();
}

OperatorAdminDialog::~OperatorAdminDialog()
{
    delete ui;
}

bool OperatorAdminDialog::unlocked() const
{
    return ui->actionTabs->isEnabled();
}

void OperatorAdminDialog::onFirstShow()
{
    fillOperatorList();
    ui->adminPasswordEdit->setFocus();
    m_gate->showWait();
}

void OperatorAdminDialog::showFailures()
{
    auto *window = new FailureLogWindow(*m_database.connection, this);
    window->open();
}

void OperatorAdminDialog::fillOperatorList()
{
    // Refilling is no choice by the operator: resetNameEdit and deleteNameEdit keep their names.
    const QSignalBlocker blocker(ui->operatorList);
    ui->operatorList->clear();
    openStatement(m_database.statementQuery, sql::operatorList());
    db::Query *query = m_database.statementQuery;
    const int n = query->recordCount();
    db::Field &field = query->fieldByName(QStringLiteral("username"));
    for (int i = 0; i < n; ++i) {
        ui->operatorList->addItem(field.asString());
        query->next();
    }
}

void OperatorAdminDialog::adminPasswordKey()
{
    ui->unlockButton->setFocus();
}

void OperatorAdminDialog::unlock()
{
    const QString password = trimInput(ui->adminPasswordEdit->text());
    const PasswordGate::Result result = m_gate->check(superAdministratorName(), password);
    if (result == PasswordGate::Result::Waiting)
        return; // the button counts the wait down
    if (result != PasswordGate::Result::Accepted) {
        showInformation(QStringLiteral("密码不对！"), this);
        return;
    }
    // The default password is printed on the login dialog: while the super administrator
    // still has it, anyone could unlock here.
    if (password == sql::defaultPassword()) {
        showInformation(QStringLiteral("超级管理员的密码还是初始密码，用户管理暂不能使用！"
                                       "请超级管理员先登录并修改自己的密码。"),
                        this);
        ui->adminPasswordEdit->clear();
        return;
    }
    showInformation(QStringLiteral("超级管理员登录成功！"), this);
    ui->operatorList->setEnabled(true);
    ui->actionTabs->setEnabled(true);
    ui->adminPasswordEdit->clear();
    m_failuresButton->setEnabled(true);
    m_rightsButton->setEnabled(true);
}

void OperatorAdminDialog::editRights()
{
    const QListWidgetItem *item = ui->operatorList->currentItem();
    const QString name = item && item->isSelected() ? item->text() : trimInput(ui->resetNameEdit->text());
    if (name.isEmpty()) {
        showInformation(QStringLiteral("请选择用户名！"), this);
        return;
    }
    if (name == superAdministratorName()) {
        showInformation(QStringLiteral("超级管理员拥有全部权限，不需要设置。"), this);
        return;
    }
    auto *window =
        new lianbu::operators::OperatorRightsWindow(*m_database.connection, name, m_database.sessionOperator, this);
    window->open();
}

void OperatorAdminDialog::operatorChosen()
{
    const QListWidgetItem *item = ui->operatorList->currentItem();
    if (!item || !item->isSelected())
        return;
    ui->resetNameEdit->setText(item->text());
    ui->deleteNameEdit->setText(item->text());
}

void OperatorAdminDialog::resetPassword()
{
    const QString name = trimInput(ui->resetNameEdit->text());
    if (name.isEmpty()) {
        showInformation(QStringLiteral("请选择用户名！"), this);
        return;
    }
    // The name may have been deleted since it was chosen (here or by another instance):
    // reporting a reset that changed nothing would leave the operator locked out.
    if (data::OperatorStore(*m_database.connection).resetPassword(name, m_database.sessionOperator) == 0) {
        showInformation(QStringLiteral("用户不存在！"), this);
        ui->resetNameEdit->clear();
        fillOperatorList();
        return;
    }
    showInformation(QStringLiteral("已经成功将密码初始化为：") + sql::defaultPassword(), this);
}

void OperatorAdminDialog::showResetHint()
{
    // The hint names the password a reset really sets: naming any other would send an operator
    // away with a password that does not let him in.
    showInformation(QStringLiteral("初始化口令用于忘记密码的用户，将口令更改为:") + sql::defaultPassword(), this);
}

void OperatorAdminDialog::addOperator()
{
    const QString name = trimInput(ui->newNameEdit->text());
    if (name == superAdministratorName()) {
        showInformation(QStringLiteral("超级管理员只能有一个，不能增加"), this);
        return;
    }
    if (name.isEmpty()) {
        showInformation(QStringLiteral("请选择用户名！"), this);
    } else if (name.size() > kOperatorNameLength) {
        // The login refuses longer names before checking anything: such an operator could
        // never log in.
        showInformation(QStringLiteral("用户名不能超过%1个字符！").arg(kOperatorNameLength), this);
    } else {
        // A second row of the same name would lock that operator out of the login (which needs
        // exactly one matching row). Names compare exactly, as the login compares them.
        openStatement(m_database.statementQuery, sql::operatorList());
        db::Query *query = m_database.statementQuery;
        db::Field &field = query->fieldByName(QStringLiteral("username"));
        bool exists = false;
        for (int i = 0, n = query->recordCount(); i < n && !exists; ++i, query->next())
            exists = field.asString() == name;
        query->close();
        if (exists) {
            showInformation(QStringLiteral("用户名已存在！"), this);
        } else {
            data::OperatorStore(*m_database.connection).addOperator(name, m_database.sessionOperator);
            showInformation(QStringLiteral("成功添加新用户！缺省口令是：") + sql::defaultPassword()
                                + QStringLiteral(",请此用户下次登录时及时修改口令！"),
                            this);
        }
    }
    fillOperatorList();
}

void OperatorAdminDialog::deleteOperator()
{
    const QString name = trimInput(ui->deleteNameEdit->text());
    if (name == superAdministratorName()) {
        showInformation(QStringLiteral("超级管理员不能删除！"), this);
        return;
    }
    if (name.isEmpty()) {
        showInformation(QStringLiteral("请选择用户"), this);
        return;
    }
    if (confirmOperatorDeletion(QStringLiteral("你真的要删除用户：") + name + QStringLiteral("吗?"), this)) {
        data::OperatorStore(*m_database.connection).removeOperator(name, m_database.sessionOperator);
        showInformation(QStringLiteral("成功删除！"), this);
        ui->deleteNameEdit->clear();
        // The reset tab must not go on offering an operator who no longer exists.
        if (trimInput(ui->resetNameEdit->text()) == name)
            ui->resetNameEdit->clear();
    }
    fillOperatorList();
}

void OperatorAdminDialog::quit()
{
    close();
}
