#include "printing/PrnDgDlg.h"

#include "platform/Dialogs.h"
#include "printing/PrnDbgeh.h"
#include "printing/PrvFrmEh.h"
#include "ui_PrnDgDlg.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QFont>
#include <QLocale>
#include <QPointer>
#include <QPrinter>

#include <cmath>

namespace lianbu::printing {

std::optional<double> parseMargin(const QString &text)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    double value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok)
        value = QLocale::system().toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return roundMargin(value);
}

QString marginText(double value) { return QString::number(roundMargin(value), 'g', 12); }

} // namespace lianbu::printing

namespace {
QPointer<TfPrnDBGridEhSetupDialog> g_dialog;
}

TfPrnDBGridEhSetupDialog *TfPrnDBGridEhSetupDialog::instance()
{
    if (!g_dialog)
        g_dialog = new TfPrnDBGridEhSetupDialog();
    return g_dialog;
}

TfPrnDBGridEhSetupDialog *TfPrnDBGridEhSetupDialog::existingInstance() { return g_dialog; }

TfPrnDBGridEhSetupDialog::TfPrnDBGridEhSetupDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::TfPrnDBGridEhSetupDialog)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("fPrnDBGridEhSetupDialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(sizeHint().expandedTo(QSize(420, 0)));
    for (QLineEdit *edit : {ui->seUpMargin, ui->seLowMargin, ui->seLeftMargin, ui->seRightMargin})
        edit->installEventFilter(this);
    connect(ui->cbFitWidthToPage, &QCheckBox::toggled, this, &TfPrnDBGridEhSetupDialog::cbFitWidthToPageClick);
    connect(ui->bPrintFont, &QToolButton::clicked, this, &TfPrnDBGridEhSetupDialog::bPrintFontClick);
    connect(ui->bPrinterSetupDialog, &QPushButton::clicked, this, &TfPrnDBGridEhSetupDialog::bPrinterSetupDialogClick);
    connect(ui->bOk, &QPushButton::clicked, this, &TfPrnDBGridEhSetupDialog::bOkClick);
    connect(ui->bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TfPrnDBGridEhSetupDialog::~TfPrnDBGridEhSetupDialog() { delete ui; }

void TfPrnDBGridEhSetupDialog::SetupFrom(const TPrintDBGridEh *c)
{
    using lianbu::printing::marginText;
    ui->seUpMargin->setText(marginText(c->Page.top));
    ui->seLowMargin->setText(marginText(c->Page.bottom));
    ui->seLeftMargin->setText(marginText(c->Page.left));
    ui->seRightMargin->setText(marginText(c->Page.right));
    ui->lUnits->setText(c->Units == TPrintUnitsEh::MM ? QStringLiteral("单位：厘米") : QStringLiteral("单位：英寸"));
    ui->cbFitWidthToPage->setChecked(c->Options.testFlag(pghFitGridToPageWidth));
    (c->Options.testFlag(pghFitingByColWidths) ? ui->rbFitColWidths : ui->rbFitScale)->setChecked(true);
    ui->cbOptimalColWidths->setChecked(c->Options.testFlag(pghOptimalColWidths));
    ui->cbAutoStretch->setChecked(c->Options.testFlag(pghRowAutoStretch));
    ui->cbColored->setChecked(c->Options.testFlag(pghColored));
    ui->ePrintFont->setText(c->PrintFontName);
    const TPreviewFormEh *preview = TPreviewFormEh::existingInstance();
    ui->bPrinterSetupDialog->setEnabled(preview && preview->Store()->PrinterInstalled());
    cbFitWidthToPageClick();
}

bool TfPrnDBGridEhSetupDialog::ApplyTo(TPrintDBGridEh *c)
{
    for (QLineEdit *edit : {ui->seUpMargin, ui->seLowMargin, ui->seLeftMargin, ui->seRightMargin})
        if (!checkMargin(edit))
            return false;
    using lianbu::printing::parseMargin;
    c->Page.top = *parseMargin(ui->seUpMargin->text());
    c->Page.bottom = *parseMargin(ui->seLowMargin->text());
    c->Page.left = *parseMargin(ui->seLeftMargin->text());
    c->Page.right = *parseMargin(ui->seRightMargin->text());
    c->Options.setFlag(pghFitGridToPageWidth, ui->cbFitWidthToPage->isChecked());
    c->Options.setFlag(pghFitingByColWidths, ui->rbFitColWidths->isChecked());
    c->Options.setFlag(pghOptimalColWidths, ui->cbOptimalColWidths->isChecked());
    c->Options.setFlag(pghRowAutoStretch, ui->cbAutoStretch->isChecked());
    c->Options.setFlag(pghColored, ui->cbColored->isChecked());
    c->PrintFontName = ui->ePrintFont->text().trimmed();
    return true;
}

bool TfPrnDBGridEhSetupDialog::Edit(TPrintDBGridEh *component)
{
    SetupFrom(component);
    ui->seUpMargin->setFocus();
    if (exec() != QDialog::Accepted)
        return false;
    return ApplyTo(component);
}

void TfPrnDBGridEhSetupDialog::cbFitWidthToPageClick()
{
    ui->rgFitingType->setEnabled(ui->cbFitWidthToPage->isChecked());
}

void TfPrnDBGridEhSetupDialog::bPrintFontClick()
{
    QFont font(ui->ePrintFont->text().trimmed());
    if (lianbu::dialogs().fontDialog(this, &font))
        ui->ePrintFont->setText(font.family());
}

void TfPrnDBGridEhSetupDialog::bPrinterSetupDialogClick()
{
    TPreviewFormEh *preview = TPreviewFormEh::existingInstance();
    if (preview && preview->Store()->PrinterInstalled())
        lianbu::dialogs().pageSetupDialog(this, preview->Store()->Printer());
}

void TfPrnDBGridEhSetupDialog::bOkClick()
{
    // A margin that is no number: the error is shown and the dialog stays open, nothing applied.
    for (QLineEdit *edit : {ui->seUpMargin, ui->seLowMargin, ui->seLeftMargin, ui->seRightMargin})
        if (!checkMargin(edit))
            return;
    accept();
}

bool TfPrnDBGridEhSetupDialog::checkMargin(QLineEdit *edit)
{
    if (lianbu::printing::parseMargin(edit->text()))
        return true;
    if (m_checking)
        return false;
    m_checking = true;
    lianbu::showError(QStringLiteral("'%1' is not a valid floating point value").arg(edit->text()), this);
    edit->setFocus();
    edit->selectAll();
    m_checking = false;
    return false;
}

bool TfPrnDBGridEhSetupDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut && !m_checking && isVisible()) {
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        // Leaving for another window or a menu is no leaving of the field; leaving for
        // "取消(&C)" abandons the values anyway.
        const bool leavesField = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason
            && QApplication::focusWidget() != ui->bCancel;
        if (auto *edit = qobject_cast<QLineEdit *>(watched); edit && leavesField)
            checkMargin(edit);
    }
    return QDialog::eventFilter(watched, event);
}
