#include "operators/LoginDialog.h"
#include "data/SessionLog.h"

#include "data/Database.h"
#include "operators/ChangePasswordPrompt.h"
#include "operators/PasswordEdit.h"
#include "operators/PasswordGate.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/DesktopShortcut.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "ui_LoginDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

namespace lianbu::operators {} // namespace lianbu::operators

namespace {

// The client area and the colour of the panel behind the picture.
constexpr int kClientWidth = 371;
constexpr int kClientHeight = 160;
const QColor kSkyBlue(166, 202, 240);

bool isEnter(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// The background picture, scaled to cover the client area without distortion.
QPixmap backgroundPicture()
{
    const QImage image(QStringLiteral(":/images/login.jpg"));
    if (image.isNull())
        return {};
    const QImage scaled =
        image.scaled(kClientWidth, kClientHeight, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    return QPixmap::fromImage(scaled.copy((scaled.width() - kClientWidth) / 2, (scaled.height() - kClientHeight) / 2,
                                          kClientWidth, kClientHeight));
}

} // namespace

LoginDialog::LoginDialog(Database &database, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::LoginDialog)
    , m_database(database)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("loginDialog"));
    // A fixed single border with only the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setModal(true);

    QPalette panel = ui->pictureFrame->palette();
    panel.setColor(QPalette::Window, kSkyBlue);
    ui->pictureFrame->setPalette(panel);
    ui->loginPicture->setScaledContents(false);
    ui->loginPicture->setPixmap(backgroundPicture());

    for (QWidget *w : {static_cast<QWidget *>(ui->operatorLabel), static_cast<QWidget *>(ui->passwordLabel),
                       static_cast<QWidget *>(ui->defaultPasswordHint), static_cast<QWidget *>(ui->operatorCombo),
                       static_cast<QWidget *>(ui->passwordEdit)}) {
        QFont font = w->font();
        font.setFamily(QStringLiteral("宋体"));
        w->setFont(font);
    }
    ui->defaultPasswordHint->setStyleSheet(QStringLiteral("color: #ff0000;"));
    ui->defaultPasswordHint->setText(QStringLiteral("用户初始登陆密码：") + lianbu::sql::defaultPassword());

    lianbu::operators::configurePasswordEdit(ui->passwordEdit);
    // No operator name is longer; a longer text is no name (perhaps a password typed here).
    ui->operatorCombo->lineEdit()->setMaxLength(lianbu::operators::kOperatorNameLength);

    // Enter moves the focus along; it must not reach the dialog's default button.
    ui->okButton->setAutoDefault(true);
    ui->quitButton->setAutoDefault(true);
    // Keys typed into the name box reach the combo box, which hands them to its edit directly
    // (past the edit's filters); watch both.
    ui->operatorCombo->installEventFilter(this);
    ui->operatorCombo->lineEdit()->installEventFilter(this);
    ui->passwordEdit->installEventFilter(this);

    connect(ui->operatorCombo, &QComboBox::activated, this, &LoginDialog::operatorChosen);
    connect(ui->okButton, &QPushButton::clicked, this, &LoginDialog::tryLogin);
    connect(ui->quitButton, &QPushButton::clicked, this, &LoginDialog::quit);
}

LoginDialog::~LoginDialog()
{
    delete ui;
}

void LoginDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return; // the window system showing it again (restored), not the program
    onFirstShow();
}

lianbu::operators::PasswordGate *LoginDialog::passwordGate()
{
    if (!m_gate) {
        m_gate = new lianbu::operators::PasswordGate(
            *m_database.connection, lianbu::data::AttemptKind::Login, ui->okButton,
            [this] { return ui->operatorCombo->currentText(); }, this);
        // Choosing another name shows at once whether that operator must wait.
        connect(ui->operatorCombo, &QComboBox::currentTextChanged, m_gate, [this] { m_gate->showWait(); });
    }
    return m_gate;
}

void LoginDialog::onFirstShow()
{
    writeDesktopShortcut();
    fillComboDistinct(m_database.statementQuery, QStringLiteral("username"), QStringLiteral("userdb"),
                      ui->operatorCombo);
    ui->operatorCombo->setFocus();
    if (ui->operatorCombo->count() > 0)
        ui->operatorCombo->setCurrentIndex(0);
    passwordGate()->showWait();
}

void LoginDialog::writeDesktopShortcut()
{
    // The shortcut is a convenience: a desktop that cannot take it changes nothing here.
    lianbu::writeDesktopShortcut(QCoreApplication::applicationFilePath());
}

void LoginDialog::operatorChosen()
{
    ui->passwordEdit->setFocus();
}

bool LoginDialog::operatorComboKey(QKeyEvent *event)
{
    if (!isEnter(event))
        return false;
    ui->passwordEdit->setFocus();
    return true;
}

bool LoginDialog::passwordKey(QKeyEvent *event)
{
    // The password filter itself sits on the edit (configurePasswordEdit). Enter only moves the
    // focus; a second Enter on the focused button confirms.
    if (!isEnter(event))
        return false;
    ui->okButton->setFocus();
    return true;
}

bool LoginDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (watched == ui->operatorCombo || watched == ui->operatorCombo->lineEdit())
            return operatorComboKey(key);
        if (watched == ui->passwordEdit)
            return passwordKey(key);
    }
    return QDialog::eventFilter(watched, event);
}

void LoginDialog::keyPressEvent(QKeyEvent *event)
{
    // Escape would close the dialog and with it the program; only "退出" and the close box do.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void LoginDialog::tryLogin()
{
    const QString name = ui->operatorCombo->currentText();
    if (!requireComboText(ui->operatorCombo, QStringLiteral("必须选择用户！")))
        return;
    if (!requireEditText(ui->passwordEdit, QStringLiteral("必须输入密码！")))
        return;
    const QString password = ui->passwordEdit->text().trimmed();
    using Result = lianbu::operators::PasswordGate::Result;
    const Result result = passwordGate()->check(name, password);
    if (result == Result::Waiting)
        return; // the button counts the wait down; nothing was checked
    if (result == Result::NameTooLong) {
        lianbu::showWarning(QStringLiteral("用户名不能超过%1个字符！").arg(lianbu::operators::kOperatorNameLength),
                            this);
        ui->operatorCombo->setFocus();
        return;
    }
    if (result == Result::Accepted) {
        m_usedDefaultPassword = password == lianbu::sql::defaultPassword();
        m_loggedIn = true;
        emit passwordAccepted();
        close();
        return;
    }
    lianbu::showInformation(QStringLiteral("密码不正确！请重新输入！"), this);
    ui->passwordEdit->clear();
    ui->passwordEdit->setFocus();
}

void LoginDialog::quit()
{
    m_loggedIn = false;
    close();
}

void LoginDialog::done(int result)
{
    try {
        endSession();
    } catch (...) {
        lianbu::reportCurrentException();
        return;
    }
    QDialog::done(result);
}

void LoginDialog::endSession()
{
    m_database.statementQuery->close();
    if (!m_loggedIn) {
        // No session: the program ends.
        emit loginAbandoned();
        return;
    }
    const QString name = ui->operatorCombo->currentText();
    // The session row first: the status bar names the operator only once the session exists.
    const int session = lianbu::data::startSession(*m_database.connection, name, lianbu::now());
    emit sessionOpened(name, session);
    if (m_usedDefaultPassword) {
        m_usedDefaultPassword = false;
        // After the login has ended, so the password window opens over the main window.
        QWidget *owner = parentWidget();
        QTimer::singleShot(0, owner ? static_cast<QObject *>(owner) : static_cast<QObject *>(this),
                           [this, owner, name] { lianbu::operators::askForOwnPassword(m_database, owner, name); });
    }
}
