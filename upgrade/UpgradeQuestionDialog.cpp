#include "upgrade/UpgradeQuestionDialog.h"

#include "upgrade/UpgradeMessages.h"
#include "ui_UpgradeQuestionDialog.h"

#include <QGuiApplication>
#include <QScreen>

namespace lianbu::upgrade {

namespace {

constexpr int kLabelLeft = 45;
constexpr int kLabelRightMargin = 11;

// Line breaks of the information file (CR LF, CR) shown as line breaks.
QString displayLines(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

QString upgradeQuestionText(const QString &applicationTitle, const QString &message)
{
    const QString shown = message.isEmpty() ? QString() : QLatin1Char('\n') + message + QLatin1Char('\n');
    return formatMessage(MessageSlot::AskUpgrade, {applicationTitle, shown});
}

UpgradeQuestionDialog::UpgradeQuestionDialog(const QString &text, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::UpgradeQuestionDialog)
{
    ui->setupUi(this);
    // A dialog border, always on top of other windows.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::WindowStaysOnTopHint);
    setWindowTitle(messageText(MessageSlot::WizardCaption));
    ui->yesButton->setText(messageText(MessageSlot::Yes));
    ui->laterButton->setText(messageText(MessageSlot::Later));
    ui->yesButton->setDefault(true);
    ui->messageLabel->setText(displayLines(text));
    connect(ui->yesButton, &QPushButton::clicked, this, &UpgradeQuestionDialog::acceptUpgrade);
    connect(ui->laterButton, &QPushButton::clicked, this, &UpgradeQuestionDialog::postpone);
    fitToText();
}

UpgradeQuestionDialog::~UpgradeQuestionDialog()
{
    delete ui;
}

void UpgradeQuestionDialog::fitToText()
{
    QLabel *label = ui->messageLabel;
    const int width = this->width() - kLabelLeft - kLabelRightMargin;
    const int height = label->heightForWidth(width);
    label->setGeometry(kLabelLeft, label->y(), width, height > 0 ? height : label->sizeHint().height());
    const int clientHeight = label->y() + label->height() + ui->bottomPanel->height();
    setFixedSize(this->width(), clientHeight);
    ui->bottomPanel->setGeometry(0, clientHeight - ui->bottomPanel->height(), this->width(), ui->bottomPanel->height());
}

bool UpgradeQuestionDialog::ask()
{
    fitToText();
    return exec() == QDialog::Accepted;
}

void UpgradeQuestionDialog::acceptUpgrade()
{
    accept();
}

void UpgradeQuestionDialog::postpone()
{
    reject();
}

void UpgradeQuestionDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

} // namespace lianbu::upgrade
