#include "upgrade/DownloadWindow.h"

#include "upgrade/UpgradeMessages.h"
#include "upgrade/UpgradeText.h"
#include "ui_DownloadWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QScreen>

namespace lianbu::upgrade {

namespace {

// Palette shared with the program's icons.
const QColor kInk(0x2b, 0x3a, 0x4a);
const QColor kTeal(0x1f, 0x8a, 0x8a);
const QColor kBlue(0x2f, 0x6f, 0xb8);
const QColor kPaper(0xfb, 0xfb, 0xf8);

QString groupCaption(int slot) { return QLatin1Char(' ') + messageText(slot) + QLatin1Char(' '); }

} // namespace

QPixmap wizardSidePicture()
{
    const int w = 146, h = 269;
    QPixmap pixmap(w, h);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, kBlue.darker(130));
    sky.setColorAt(0.6, kTeal);
    sky.setColorAt(1, kTeal.lighter(140));
    p.fillRect(0, 0, w, h, sky);

    // Soft rings behind the globe.
    p.setPen(QPen(QColor(255, 255, 255, 40), 1.5));
    for (int r = 30; r <= 90; r += 15)
        p.drawEllipse(QPointF(w / 2.0, 86), r, r);

    // The globe the files come from.
    QRadialGradient globe(QPointF(w / 2.0 - 10, 74), 40);
    globe.setColorAt(0, QColor(255, 255, 255, 235));
    globe.setColorAt(1, QColor(200, 225, 240, 220));
    p.setBrush(globe);
    p.setPen(QPen(kInk, 1.6));
    const QPointF c(w / 2.0, 86);
    p.drawEllipse(c, 32, 32);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kBlue, 1.2));
    p.drawEllipse(c, 14, 32);
    p.drawLine(QPointF(c.x() - 32, c.y()), QPointF(c.x() + 32, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - 32), QPointF(c.x(), c.y() + 32));
    p.drawArc(QRectF(c.x() - 28, c.y() - 22, 56, 14), 0, 180 * 16);
    p.drawArc(QRectF(c.x() - 28, c.y() + 8, 56, 14), 180 * 16, 180 * 16);

    // The arrow down to the computer.
    QPainterPath arrow;
    const double ax = w / 2.0;
    arrow.moveTo(ax - 9, 128);
    arrow.lineTo(ax + 9, 128);
    arrow.lineTo(ax + 9, 152);
    arrow.lineTo(ax + 20, 152);
    arrow.lineTo(ax, 174);
    arrow.lineTo(ax - 20, 152);
    arrow.lineTo(ax - 9, 152);
    arrow.closeSubpath();
    p.setPen(QPen(kInk, 1.4));
    p.setBrush(QColor(0xf6, 0xb9, 0x3b));
    p.drawPath(arrow);

    // The computer with the program's box on its screen.
    const QRectF screen(ax - 40, 184, 80, 52);
    p.setBrush(kInk);
    p.drawRoundedRect(screen, 5, 5);
    p.setBrush(kPaper);
    p.drawRect(screen.adjusted(6, 6, -6, -6));
    p.setBrush(kInk);
    p.drawRect(QRectF(ax - 7, 236, 14, 10));
    p.drawRoundedRect(QRectF(ax - 26, 245, 52, 7), 3, 3);
    p.setPen(QPen(kTeal, 3, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(ax - 22, 198 + i * 10), QPointF(ax + (i == 2 ? 4 : 22), 198 + i * 10));
    p.end();
    return pixmap;
}

DownloadWindow::DownloadWindow(const QPixmap &picture, bool stayOnTop, QWidget *parent)
    : QDialog(parent), ui(new Ui::DownloadWindow)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (stayOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    setFixedSize(size());
    setWindowTitle(messageText(msgWizardCaption));

    ui->Image1->setPixmap(picture.isNull() ? wizardSidePicture() : picture);
    ui->Image1->setScaledContents(true);

    QFont title(QStringLiteral("Times New Roman"));
    title.setPixelSize(23);
    title.setBold(true);
    title.setItalic(true);
    ui->WizardTitle->setFont(title);
    ui->WizardTitle->setText(messageText(msgDownloadingFiles));
    ui->AfterNote->clear();
    ui->AfterNote->hide();
    ui->LCurrentFile->setTitle(groupCaption(msgCurrentFile));
    ui->LAllFiles->setTitle(groupCaption(msgAllFiles));
    ui->LDownloadingFileFrom->setText(messageText(msgDownloadingFrom));
    ui->FileSizeLab->setText(formatMessage(msgFileSize, {0.0}));
    ui->TransferRateLab->setText(formatMessage(msgTransferRate, {0.0}));
    ui->EstimatedTimeLeftLab->setText(messageText(msgPreparing));
    ui->AllDownloading->clear();

    // The address: read-only text in the highlight colour on the face colour, no border.
    QFont urlFont = ui->FileURL->font();
    urlFont.setPixelSize(15);
    ui->FileURL->setFont(urlFont);
    ui->FileURL->setReadOnly(true);
    ui->FileURL->setFrame(false);
    ui->FileURL->setFocusPolicy(Qt::ClickFocus);
    QPalette urlPalette = ui->FileURL->palette();
    urlPalette.setColor(QPalette::Base, urlPalette.color(QPalette::Window));
    urlPalette.setColor(QPalette::Text, urlPalette.color(QPalette::Highlight));
    ui->FileURL->setPalette(urlPalette);

    const QString label = QLatin1Char(' ') + stringResource(kProductLabelId) + QLatin1Char(' ');
    ui->AboutLabel->setText(label);
    ui->AboutShadow->setText(label);
    QFont aboutFont = ui->AboutLabel->font();
    aboutFont.setPixelSize(15);
    ui->AboutLabel->setFont(aboutFont);
    ui->AboutShadow->setFont(aboutFont);
    QPalette shadow = ui->AboutShadow->palette();
    shadow.setColor(QPalette::WindowText, shadow.color(QPalette::Light));
    ui->AboutShadow->setPalette(shadow);
    QPalette engraved = ui->AboutLabel->palette();
    engraved.setColor(QPalette::WindowText, engraved.color(QPalette::Mid));
    ui->AboutLabel->setPalette(engraved);
    ui->AboutLabel->setAttribute(Qt::WA_TranslucentBackground);
    ui->AboutLabel->raise();

    ui->ProgressCurrentFile->setRange(0, 100);
    ui->ProgressAllFiles->setRange(0, 100);
    ui->ProgressCurrentFile->setValue(0);
    ui->ProgressAllFiles->setValue(0);

    ui->FinishBtn->setText(messageText(msgNext));
    ui->FinishBtn->setEnabled(false);
    ui->CancelBtn->setText(messageText(msgCancel));
    ui->CancelBtn->setDefault(true);
    connect(ui->FinishBtn, &QPushButton::clicked, this, &DownloadWindow::FinishBtnClick);
    connect(ui->CancelBtn, &QPushButton::clicked, this, &DownloadWindow::CancelBtnClick);
}

DownloadWindow::~DownloadWindow() { delete ui; }

void DownloadWindow::ShowFile(const QString &url, int number, int count)
{
    ui->FileURL->setText(url);
    ui->FileURL->setCursorPosition(0);
    ui->AllDownloading->setText(formatMessage(msgFileCounter, {number, count}));
}

void DownloadWindow::ShowFileSize(quint32 announcedSize)
{
    ui->FileSizeLab->setText(formatMessage(msgFileSize, {double(announcedSize) / 1024.0}));
}

void DownloadWindow::ShowPreparing(int totalPercent)
{
    ui->ProgressCurrentFile->setValue(0);
    ui->ProgressAllFiles->setValue(qBound(0, totalPercent, 100));
    ui->EstimatedTimeLeftLab->setText(messageText(msgPreparing));
}

void DownloadWindow::ShowProgress(int percent, int totalPercent, float rate, int secondsLeft)
{
    ui->ProgressCurrentFile->setValue(qBound(0, percent, 100));
    ui->ProgressAllFiles->setValue(qBound(0, totalPercent, 100));
    ui->TransferRateLab->setText(formatMessage(msgTransferRate, {double(rate)}));
    const HoursMinutesSeconds t = splitSeconds(secondsLeft);
    ui->EstimatedTimeLeftLab->setText(formatMessage(msgTimeLeft, {t.hours, t.minutes, t.seconds}));
}

void DownloadWindow::ShowCompleted(const QString &applicationTitle)
{
    m_completed = true;
    ui->WizardTitle->setText(messageText(msgUpgradeCompleted));
    QString note = formatMessage(msgCompletedNote, {applicationTitle});
    note.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    ui->AfterNote->setText(note);
    const int height = ui->AfterNote->heightForWidth(ui->AfterNote->width());
    ui->AfterNote->resize(ui->AfterNote->width(), height > 0 ? height : ui->AfterNote->sizeHint().height());
    ui->AfterNote->show();
    ui->LCurrentFile->hide();
    ui->LAllFiles->hide();
    ui->CancelBtn->setEnabled(false);
    ui->CancelBtn->setDefault(false);
    ui->FinishBtn->setText(messageText(msgOk));
    ui->FinishBtn->setEnabled(true);
    ui->FinishBtn->setDefault(true);
    ui->FinishBtn->setFocus();
    activateWindow();
}

void DownloadWindow::Release()
{
    m_releasing = true;
    close(); // WA_DeleteOnClose releases it
}

void DownloadWindow::FinishBtnClick()
{
    if (!m_completed)
        return;
    emit finished();
}

void DownloadWindow::CancelBtnClick() { emit cancelRequested(); }

void DownloadWindow::reject()
{
    // Esc asks like the close box; the window only goes when the component releases it.
    emit cancelRequested();
}

void DownloadWindow::closeEvent(QCloseEvent *event)
{
    if (m_releasing) {
        event->accept();
        return;
    }
    event->ignore();
    emit cancelRequested();
}

void DownloadWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

} // namespace lianbu::upgrade
