#include "operators/ChangePasswordDialog.h"

#include "data/Database.h"
#include "operators/OperatorDialogBase.h"
#include "operators/PasswordEdit.h"
#include "operators/PasswordGate.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "ui_ChangePasswordDialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

using namespace lianbu;
using namespace lianbu::operators;

ChangePasswordDialog::ChangePasswordDialog(Database &database, QWidget *owner)
    : OperatorDialogBase(database, owner, QSize(296, 160))
    , ui(new Ui::ChangePasswordDialog)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("changePasswordDialog"));
    pressButtonsOnEnter(this);
    for (QLineEdit *edit : {ui->oldPasswordEdit, ui->newPasswordEdit, ui->repeatPasswordEdit}) {
        // Polished first, so the edit's own style sheet ("*" as the echo) takes effect at once.
        edit->ensurePolished();
        configurePasswordEdit(edit);
    }

    m_gate = new PasswordGate(
        *m_database.connection, data::AttemptKind::PasswordChange, ui->changeButton,
        [this] { return ui->operatorCombo->currentText(); }, this);
    connect(ui->operatorCombo, &QComboBox::currentTextChanged, m_gate, [this] { m_gate->showWait(); });
    connect(ui->operatorCombo, &QComboBox::activated, this, &ChangePasswordDialog::operatorChosen);
    connect(ui->oldPasswordEdit, &QLineEdit::returnPressed, this, &ChangePasswordDialog::oldPasswordKey);
    connect(ui->newPasswordEdit, &QLineEdit::returnPressed, this, &ChangePasswordDialog::newPasswordKey);
    connect(ui->repeatPasswordEdit, &QLineEdit::returnPressed, this, &ChangePasswordDialog::repeatPasswordKey);
    connect(ui->changeButton, &QPushButton::clicked, this, &ChangePasswordDialog::changePassword);
    connect(ui->quitButton, &QPushButton::clicked, this, &ChangePasswordDialog::quit);
    // Visible on creation, like every window the main window opens, centred from the start.
    centreOnScreen(this);
    show();
}

ChangePasswordDialog::~ChangePasswordDialog()
{
    delete ui;
}

void ChangePasswordDialog::onFirstShow()
{
    fillComboDistinct(m_database.statementQuery, QStringLiteral("username"), QStringLiteral("userdb"),
                      ui->operatorCombo);
    ui->operatorCombo->setFocus();
}

void ChangePasswordDialog::operatorChosen()
{
    ui->oldPasswordEdit->setFocus();
}

void ChangePasswordDialog::oldPasswordKey()
{
    ui->newPasswordEdit->setFocus();
}

void ChangePasswordDialog::newPasswordKey()
{
    ui->repeatPasswordEdit->setFocus();
}

void ChangePasswordDialog::repeatPasswordKey()
{
    ui->changeButton->setFocus();
}

void ChangePasswordDialog::changePassword()
{
    const QString name = ui->operatorCombo->currentText();
    const QString oldPassword = trimInput(ui->oldPasswordEdit->text());
    const QString newPassword = trimInput(ui->newPasswordEdit->text());
    const QString repeated = trimInput(ui->repeatPasswordEdit->text());

    // With no operator chosen the update would match no row and still report success.
    if (!requireComboText(ui->operatorCombo, QStringLiteral("必须选择用户！")))
        return;
    if (!requireEditText(ui->oldPasswordEdit, QStringLiteral("必须输入旧口令！")))
        return;
    if (!requireEditText(ui->newPasswordEdit, QStringLiteral("新口令长度不能为空！")))
        return;
    if (newPassword != repeated) {
        showInformation(QStringLiteral("两次输入的密码不一致！请重新输入！"), this);
        ui->repeatPasswordEdit->clear();
        ui->repeatPasswordEdit->setFocus();
        return;
    }
    // The default password is only a starting point; keeping it would leave the operator (and
    // for the super administrator, operator administration) open to everyone.
    if (newPassword == sql::defaultPassword()) {
        showInformation(QStringLiteral("新密码不能是初始密码！请重新输入！"), this);
        ui->newPasswordEdit->clear();
        ui->repeatPasswordEdit->clear();
        ui->newPasswordEdit->setFocus();
        return;
    }
    // Only who knows the operator's current password may change it; otherwise anyone could
    // take over any operator, the super administrator included. The check counts towards the
    // operator's attempt limit like a login.
    const PasswordGate::Result result = m_gate->check(name, oldPassword);
    if (result == PasswordGate::Result::Waiting)
        return;
    if (result != PasswordGate::Result::Accepted) {
        showInformation(QStringLiteral("旧密码不正确！请重新输入！"), this);
        ui->oldPasswordEdit->clear();
        ui->oldPasswordEdit->setFocus();
        return;
    }
    // The default password is printed on the login dialog: knowing it proves nothing, so only
    // the operator himself (logged in with it) may replace it. Otherwise anyone could take over
    // an operator who has not chosen a password yet, the super administrator included.
    if (oldPassword == sql::defaultPassword() && name != m_database.sessionOperator) {
        showInformation(QStringLiteral("“%1”还在使用初始密码，只有他本人登录后才能修改密码！").arg(name), this);
        ui->oldPasswordEdit->clear();
        ui->newPasswordEdit->clear();
        ui->repeatPasswordEdit->clear();
        return;
    }
    m_gate->store().setPassword(name, newPassword, m_database.sessionOperator);
    m_changed = true;
    showInformation(QStringLiteral("你已经成功修改了密码！下次运行程序时生效！"), this);
    if (ui->closeWhenDoneCheck->isChecked() || m_mandatory) {
        close();
        return;
    }
    ui->oldPasswordEdit->clear();
    ui->newPasswordEdit->clear();
    ui->repeatPasswordEdit->clear();
}

void ChangePasswordDialog::quit()
{
    close();
}

void ChangePasswordDialog::requireChangeFor(const QString &name, bool mandatory)
{
    ui->operatorCombo->setCurrentIndex(ui->operatorCombo->findText(name));
    ui->operatorCombo->setEnabled(false);
    m_mandatory = mandatory;
    if (mandatory) {
        // Nothing else of the program may be used before the change.
        hide();
        setWindowModality(Qt::ApplicationModal);
        show();
    }
    activateWindow();
    ui->oldPasswordEdit->setFocus();
    m_gate->showWait();
}

void ChangePasswordDialog::closeEvent(QCloseEvent *event)
{
    if (m_mandatory && !m_changed) {
        if (!askYesNo(QStringLiteral("更改密码"),
                      QStringLiteral("超级管理员必须先修改初始密码才能使用本程序。不修改密码，退出程序吗？"), this)) {
            event->ignore();
            return;
        }
        OperatorDialogBase::closeEvent(event);
        // The program ends with its main window.
        if (QWidget *owner = parentWidget())
            QTimer::singleShot(0, owner->window(), &QWidget::close);
        return;
    }
    OperatorDialogBase::closeEvent(event);
}
