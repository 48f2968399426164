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

QString groupCaption(MessageSlot slot)
{
    return QLatin1Char(' ') + messageText(slot) + QLatin1Char(' ');
}

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
    : QDialog(parent)
    , ui(new Ui::DownloadWindow)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (stayOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    setFixedSize(size());
    setWindowTitle(messageText(MessageSlot::WizardCaption));

    ui->sidePicture->setPixmap(picture.isNull() ? wizardSidePicture() : picture);
    ui->sidePicture->setScaledContents(true);

    QFont title(QStringLiteral("Times New Roman"));
    title.setPixelSize(23);
    title.setBold(true);
    title.setItalic(true);
    ui->titleLabel->setFont(title);
    ui->titleLabel->setText(messageText(MessageSlot::DownloadingFiles));
    ui->completedNoteLabel->clear();
    ui->completedNoteLabel->hide();
    ui->currentFileBox->setTitle(groupCaption(MessageSlot::CurrentFile));
    ui->allFilesBox->setTitle(groupCaption(MessageSlot::AllFiles));
    ui->downloadingFromLabel->setText(messageText(MessageSlot::DownloadingFrom));
    ui->fileSizeLabel->setText(formatMessage(MessageSlot::FileSize, {0.0}));
    ui->transferRateLabel->setText(formatMessage(MessageSlot::TransferRate, {0.0}));
    ui->timeLeftLabel->setText(messageText(MessageSlot::Preparing));
    ui->allFilesLabel->clear();

    // The address: read-only text in the highlight colour on the face colour, no border.
    QFont urlFont = ui->fileAddressEdit->font();
    urlFont.setPixelSize(15);
    ui->fileAddressEdit->setFont(urlFont);
    ui->fileAddressEdit->setReadOnly(true);
    ui->fileAddressEdit->setFrame(false);
    ui->fileAddressEdit->setFocusPolicy(Qt::ClickFocus);
    QPalette urlPalette = ui->fileAddressEdit->palette();
    urlPalette.setColor(QPalette::Base, urlPalette.color(QPalette::Window));
    urlPalette.setColor(QPalette::Text, urlPalette.color(QPalette::Highlight));
    ui->fileAddressEdit->setPalette(urlPalette);

    const QString label = QLatin1Char(' ') + stringResource(kProductLabelId) + QLatin1Char(' ');
    ui->productLabel->setText(label);
    ui->productShadowLabel->setText(label);
    QFont aboutFont = ui->productLabel->font();
    aboutFont.setPixelSize(15);
    ui->productLabel->setFont(aboutFont);
    ui->productShadowLabel->setFont(aboutFont);
    QPalette shadow = ui->productShadowLabel->palette();
    shadow.setColor(QPalette::WindowText, shadow.color(QPalette::Light));
    ui->productShadowLabel->setPalette(shadow);
    QPalette engraved = ui->productLabel->palette();
    engraved.setColor(QPalette::WindowText, engraved.color(QPalette::Mid));
    ui->productLabel->setPalette(engraved);
    ui->productLabel->setAttribute(Qt::WA_TranslucentBackground);
    ui->productLabel->raise();

    ui->downloadProgressBar->setRange(0, 100);
    ui->totalProgressBar->setRange(0, 100);
    ui->downloadProgressBar->setValue(0);
    ui->totalProgressBar->setValue(0);

    ui->finishButton->setText(messageText(MessageSlot::Next));
    ui->finishButton->setEnabled(false);
    ui->cancelButton->setText(messageText(MessageSlot::Cancel));
    ui->cancelButton->setDefault(true);
    connect(ui->finishButton, &QPushButton::clicked, this, &DownloadWindow::finish);
    connect(ui->cancelButton, &QPushButton::clicked, this, &DownloadWindow::requestCancel);
}

DownloadWindow::~DownloadWindow()
{
    delete ui;
}

void DownloadWindow::showFile(const QString &url, int number, int count)
{
    ui->fileAddressEdit->setText(url);
    ui->fileAddressEdit->setCursorPosition(0);
    ui->allFilesLabel->setText(formatMessage(MessageSlot::FileCounter, {number, count}));
}

void DownloadWindow::showFileSize(quint32 announcedSize)
{
    ui->fileSizeLabel->setText(formatMessage(MessageSlot::FileSize, {double(announcedSize) / 1024.0}));
}

void DownloadWindow::showPreparing(int totalPercent)
{
    ui->downloadProgressBar->setValue(0);
    ui->totalProgressBar->setValue(qBound(0, totalPercent, 100));
    ui->timeLeftLabel->setText(messageText(MessageSlot::Preparing));
}

void DownloadWindow::showProgress(int percent, int totalPercent, float rate, int secondsLeft)
{
    ui->downloadProgressBar->setValue(qBound(0, percent, 100));
    ui->totalProgressBar->setValue(qBound(0, totalPercent, 100));
    ui->transferRateLabel->setText(formatMessage(MessageSlot::TransferRate, {double(rate)}));
    const HoursMinutesSeconds t = splitSeconds(secondsLeft);
    ui->timeLeftLabel->setText(formatMessage(MessageSlot::TimeLeft, {t.hours, t.minutes, t.seconds}));
}

void DownloadWindow::showCompleted(const QString &applicationTitle)
{
    m_completed = true;
    ui->titleLabel->setText(messageText(MessageSlot::UpgradeCompleted));
    QString note = formatMessage(MessageSlot::CompletedNote, {applicationTitle});
    note.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    ui->completedNoteLabel->setText(note);
    const int height = ui->completedNoteLabel->heightForWidth(ui->completedNoteLabel->width());
    ui->completedNoteLabel->resize(ui->completedNoteLabel->width(),
                                   height > 0 ? height : ui->completedNoteLabel->sizeHint().height());
    ui->completedNoteLabel->show();
    ui->currentFileBox->hide();
    ui->allFilesBox->hide();
    ui->cancelButton->setEnabled(false);
    ui->cancelButton->setDefault(false);
    ui->finishButton->setText(messageText(MessageSlot::Ok));
    ui->finishButton->setEnabled(true);
    ui->finishButton->setDefault(true);
    ui->finishButton->setFocus();
    activateWindow();
}

void DownloadWindow::release()
{
    m_releasing = true;
    close(); // WA_DeleteOnClose releases it
}

void DownloadWindow::finish()
{
    if (!m_completed)
        return;
    emit finished();
}

void DownloadWindow::requestCancel()
{
    emit cancelRequested();
}

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
