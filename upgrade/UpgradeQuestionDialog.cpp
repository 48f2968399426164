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
    return formatMessage(msgAskUpgrade, {applicationTitle, shown});
}

UpgradeQuestionDialog::UpgradeQuestionDialog(const QString &text, QWidget *parent)
    : QDialog(parent), ui(new Ui::UpgradeQuestionDialog)
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
    connect(ui->YesBtn, &QPushButton::clicked, this, &UpgradeQuestionDialog::YesBtnClick);
    connect(ui->LaterBtn, &QPushButton::clicked, this, &UpgradeQuestionDialog::LaterBtnClick);
    FitToText();
}

UpgradeQuestionDialog::~UpgradeQuestionDialog() { delete ui; }

void UpgradeQuestionDialog::FitToText()
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

bool UpgradeQuestionDialog::Ask()
{
    FitToText();
    return exec() == QDialog::Accepted;
}

void UpgradeQuestionDialog::YesBtnClick() { accept(); }

void UpgradeQuestionDialog::LaterBtnClick() { reject(); }

void UpgradeQuestionDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

} // namespace lianbu::upgrade
