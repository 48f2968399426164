#include "upgrade/CredentialsDialog.h"

#include "upgrade/UpgradeMessages.h"
#include "ui_CredentialsDialog.h"

#include <QGuiApplication>
#include <QScreen>

namespace lianbu::upgrade {

CredentialsDialog::CredentialsDialog(const QString &fileName, const QString &userName, QWidget *parent,
                                     const QString &realm)
    : QDialog(parent)
    , ui(new Ui::CredentialsDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(messageText(MessageSlot::PasswordCaption));
    ui->promptLabel->setTextFormat(Qt::PlainText);
    QString prompt = passwordPromptText(fileName);
    if (!realm.isEmpty())
        prompt += QStringLiteral("\n\n") + realm.left(200);
    ui->promptLabel->setText(prompt);
    ui->userNameLabel->setText(messageText(MessageSlot::UserName));
    ui->passwordLabel->setText(messageText(MessageSlot::Password));
    ui->okButton->setText(messageText(MessageSlot::Ok));
    ui->cancelButton->setText(messageText(MessageSlot::Cancel));
    ui->okButton->setDefault(true);
    ui->userNameEdit->setText(userName);
    ui->passwordEdit->setEchoMode(QLineEdit::Password);
    connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    fitToText();
}

CredentialsDialog::~CredentialsDialog()
{
    delete ui;
}

void CredentialsDialog::fitToText()
{
    QLabel *label = ui->promptLabel;
    const int width = this->width() - label->x() - 11;
    const int height = label->heightForWidth(width);
    label->setGeometry(label->x(), label->y(), width, height > 0 ? height : label->sizeHint().height());
    const int panel = ui->bottomPanel->height();
    const int clientHeight = label->y() + label->height() + panel;
    setFixedSize(this->width(), clientHeight);
    ui->bottomPanel->setGeometry(0, clientHeight - panel, this->width(), panel);
}

QString CredentialsDialog::userName() const
{
    return ui->userNameEdit->text();
}

QString CredentialsDialog::password() const
{
    return ui->passwordEdit->text();
}

void CredentialsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    ui->userNameEdit->text().isEmpty() ? ui->userNameEdit->setFocus() : ui->passwordEdit->setFocus();
}

} // namespace lianbu::upgrade
