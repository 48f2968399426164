#include "upgrade/CredentialsDialog.h"

#include "upgrade/UpgradeMessages.h"
#include "ui_CredentialsDialog.h"

#include <QGuiApplication>
#include <QScreen>

namespace lianbu::upgrade {

CredentialsDialog::CredentialsDialog(const QString &fileName, const QString &userName,
                                                         QWidget *parent, const QString &realm)
    : QDialog(parent), ui(new Ui::CredentialsDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(messageText(msgPasswordCaption));
    ui->Label1->setTextFormat(Qt::PlainText);
    QString prompt = passwordPromptText(fileName);
    if (!realm.isEmpty())
        prompt += QStringLiteral("\n\n") + realm.left(200);
    ui->Label1->setText(prompt);
    ui->UsernameLab->setText(messageText(msgUserName));
    ui->PasswordLab->setText(messageText(msgPassword));
    ui->OKBtn->setText(messageText(msgOk));
    ui->CancelBtn->setText(messageText(msgCancel));
    ui->OKBtn->setDefault(true);
    ui->UsernameEdit->setText(userName);
    ui->PasswordEdit->setEchoMode(QLineEdit::Password);
    connect(ui->OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    FitToText();
}

CredentialsDialog::~CredentialsDialog() { delete ui; }

void CredentialsDialog::FitToText()
{
    QLabel *label = ui->Label1;
    const int width = this->width() - label->x() - 11;
    const int height = label->heightForWidth(width);
    label->setGeometry(label->x(), label->y(), width, height > 0 ? height : label->sizeHint().height());
    const int panel = ui->BottomPanel->height();
    const int clientHeight = label->y() + label->height() + panel;
    setFixedSize(this->width(), clientHeight);
    ui->BottomPanel->setGeometry(0, clientHeight - panel, this->width(), panel);
}

QString CredentialsDialog::UserName() const { return ui->UsernameEdit->text(); }

QString CredentialsDialog::Password() const { return ui->PasswordEdit->text(); }

void CredentialsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    ui->UsernameEdit->text().isEmpty() ? ui->UsernameEdit->setFocus() : ui->PasswordEdit->setFocus();
}

} // namespace lianbu::upgrade
