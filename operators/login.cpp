#include "operators/login.h"

#include "app/MAIN.h"
#include "data/dm.h"
#include "operators/PasswordEdit.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/DesktopShortcut.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "ui_MAIN.h"
#include "ui_login.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

Tloginfm *loginfm = nullptr;

namespace lianbu::operators {

void insertSessionRow(lianbu::db::Query *query, const QString &name, const QDateTime &loginTime)
{
    ExecStatement(query, sql::sessionStart(name, dateTimeText(loginTime)));
}

int insertedSessionId(lianbu::db::Query *query)
{
    OpenStatement(query, sql::insertedSessionId());
    const qint64 id = query->fieldByName(QStringLiteral("maxid")).asInteger();
    if (id <= 0)
        throw Error(QStringLiteral("The session row was not written."));
    return int(id);
}

} // namespace lianbu::operators

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
    const QImage scaled = image.scaled(kClientWidth, kClientHeight, Qt::KeepAspectRatioByExpanding,
                                       Qt::SmoothTransformation);
    return QPixmap::fromImage(scaled.copy((scaled.width() - kClientWidth) / 2,
                                          (scaled.height() - kClientHeight) / 2, kClientWidth,
                                          kClientHeight));
}

} // namespace

Tloginfm::Tloginfm(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Tloginfm)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("loginfm"));
    // A fixed single border with only the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setModal(true);

    QPalette panel = ui->Panel1->palette();
    panel.setColor(QPalette::Window, kSkyBlue);
    ui->Panel1->setPalette(panel);
    ui->Image1->setScaledContents(false);
    ui->Image1->setPixmap(backgroundPicture());

    for (QWidget *w : {static_cast<QWidget *>(ui->Label1), static_cast<QWidget *>(ui->Label2),
                       static_cast<QWidget *>(ui->Label3), static_cast<QWidget *>(ui->ComboBox1),
                       static_cast<QWidget *>(ui->Edit1)}) {
        QFont font = w->font();
        font.setFamily(QStringLiteral("宋体"));
        w->setFont(font);
    }
    ui->Label3->setStyleSheet(QStringLiteral("color: #ff0000;"));
    ui->Label3->setText(QStringLiteral("用户初始登陆密码：") + lianbu::sql::defaultPassword());

    lianbu::operators::configurePasswordEdit(ui->Edit1);

    // Enter moves the focus along; it must not reach the dialog's default button.
    ui->bitbtn4->setAutoDefault(true);
    ui->BitBtn1->setAutoDefault(true);
    ui->Button1->setAutoDefault(false);
    // Keys typed into the name box reach the combo box, which hands them to its edit directly
    // (past the edit's filters); watch both.
    ui->ComboBox1->installEventFilter(this);
    ui->ComboBox1->lineEdit()->installEventFilter(this);
    ui->Edit1->installEventFilter(this);

    connect(ui->Button1, &QPushButton::clicked, this, &Tloginfm::Button1Click);
    connect(ui->ComboBox1, &QComboBox::activated, this, &Tloginfm::ComboBox1Click);
    connect(ui->bitbtn4, &QPushButton::clicked, this, &Tloginfm::bitbtn4Click);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &Tloginfm::BitBtn1Click);

    if (!loginfm)
        loginfm = this;
}

Tloginfm::~Tloginfm()
{
    if (loginfm == this)
        loginfm = nullptr;
    delete ui;
}

void Tloginfm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return; // the window system showing it again (restored), not the program
    FormShow();
}

void Tloginfm::FormShow()
{
    ui->Button1->click();
    FillComboDistinct(dmfm->ADOQuery1, QStringLiteral("username"), QStringLiteral("userdb"), ui->ComboBox1);
    ui->ComboBox1->setFocus();
    if (ui->ComboBox1->count() > 0)
        ui->ComboBox1->setCurrentIndex(0);
}

void Tloginfm::Button1Click()
{
    // The shortcut is a convenience: a desktop that cannot take it changes nothing here.
    lianbu::writeDesktopShortcut(QCoreApplication::applicationFilePath());
}

void Tloginfm::ComboBox1Click() { ui->Edit1->setFocus(); }

bool Tloginfm::ComboBox1KeyPress(QKeyEvent *event)
{
    if (!isEnter(event))
        return false;
    ui->Edit1->setFocus();
    return true;
}

bool Tloginfm::Edit1KeyPress(QKeyEvent *event)
{
    // The password filter itself sits on the edit (configurePasswordEdit). Enter only moves the
    // focus; a second Enter on the focused button confirms.
    if (!isEnter(event))
        return false;
    ui->bitbtn4->setFocus();
    return true;
}

bool Tloginfm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (watched == ui->ComboBox1 || watched == ui->ComboBox1->lineEdit())
            return ComboBox1KeyPress(key);
        if (watched == ui->Edit1)
            return Edit1KeyPress(key);
    }
    return QDialog::eventFilter(watched, event);
}

void Tloginfm::keyPressEvent(QKeyEvent *event)
{
    // Escape would close the dialog and with it the program; only "退出" and the close box do.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Tloginfm::bitbtn4Click()
{
    const QString name = ui->ComboBox1->currentText();
    if (!RequireComboText(ui->ComboBox1, QStringLiteral("必须选择用户！")))
        return;
    if (!RequireEditText(ui->Edit1, QStringLiteral("必须输入密码！")))
        return;
    const QString password = ui->Edit1->text().trimmed();
    OpenStatement(dmfm->ADOQuery1, lianbu::sql::loginCheck(password, name));
    if (dmfm->ADOQuery1->recordCount() == 1) {
        Tag = 1;
        if (MainForm)
            MainForm->ui->Button12->click();
        close();
        return;
    }
    lianbu::showInformation(QStringLiteral("密码不正确！请重新输入！"), this);
    ui->Edit1->clear();
    ui->Edit1->setFocus();
}

void Tloginfm::BitBtn1Click()
{
    Tag = 0;
    close();
}

void Tloginfm::done(int result)
{
    try {
        FormClose();
    } catch (...) {
        lianbu::reportCurrentException();
        return;
    }
    QDialog::done(result);
}

void Tloginfm::FormClose()
{
    dmfm->ADOQuery1->close();
    if (Tag != 1) {
        // No session: the program ends; the main window writes no logout time for session 0.
        if (MainForm)
            MainForm->close();
        return;
    }
    const QString name = ui->ComboBox1->currentText();
    // The session row first: the status bar names the operator only once the session exists.
    lianbu::operators::insertSessionRow(dmfm->ADOQuery1, name, lianbu::now());
    const int session = lianbu::operators::insertedSessionId(dmfm->ADOQuery1);
    dmfm->ADOQuery1->close();
    if (MainForm) {
        MainForm->activateWindow();
        MainForm->StatusPanel(1)->setText(name);
        MainForm->Tag = session;
    }
}
