#include "upgrade/auAutoUpgraderUpgradeMsg.h"

#include "upgrade/auMessages.h"
#include "ui_auAutoUpgraderUpgradeMsg.h"

#include <QGuiApplication>
#include <QScreen>

namespace lianbu {

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
    return formatMessage(msgAskUpgrade, {applicationTitle, shown});
}

TauAutoUpgraderUpgradeMessageForm::TauAutoUpgraderUpgradeMessageForm(const QString &text, QWidget *parent)
    : QDialog(parent), ui(new Ui::TauAutoUpgraderUpgradeMessageForm)
{
    ui->setupUi(this);
    // A dialog border, always on top of other windows.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::WindowStaysOnTopHint);
    setWindowTitle(messageText(msgWizardCaption));
    ui->YesBtn->setText(messageText(msgYes));
    ui->LaterBtn->setText(messageText(msgLater));
    ui->YesBtn->setDefault(true);
    ui->Label1->setText(displayLines(text));
    connect(ui->YesBtn, &QPushButton::clicked, this, &TauAutoUpgraderUpgradeMessageForm::YesBtnClick);
    connect(ui->LaterBtn, &QPushButton::clicked, this, &TauAutoUpgraderUpgradeMessageForm::LaterBtnClick);
    FitToText();
}

TauAutoUpgraderUpgradeMessageForm::~TauAutoUpgraderUpgradeMessageForm() { delete ui; }

void TauAutoUpgraderUpgradeMessageForm::FitToText()
{
    QLabel *label = ui->Label1;
    const int width = this->width() - kLabelLeft - kLabelRightMargin;
    const int height = label->heightForWidth(width);
    label->setGeometry(kLabelLeft, label->y(), width, height > 0 ? height : label->sizeHint().height());
    const int clientHeight = label->y() + label->height() + ui->BottomPanel->height();
    setFixedSize(this->width(), clientHeight);
    ui->BottomPanel->setGeometry(0, clientHeight - ui->BottomPanel->height(), this->width(),
                                 ui->BottomPanel->height());
}

bool TauAutoUpgraderUpgradeMessageForm::Ask()
{
    FitToText();
    return exec() == QDialog::Accepted;
}

void TauAutoUpgraderUpgradeMessageForm::YesBtnClick() { accept(); }

void TauAutoUpgraderUpgradeMessageForm::LaterBtnClick() { reject(); }

void TauAutoUpgraderUpgradeMessageForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

} // namespace lianbu
