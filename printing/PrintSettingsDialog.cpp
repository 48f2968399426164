#include "printing/PrintSettingsDialog.h"

#include "platform/Dialogs.h"
#include "ui_PrintSettingsDialog.h"

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

QString marginText(double value)
{
    return QString::number(roundMargin(value), 'g', 12);
}

} // namespace lianbu::printing

PrintSettingsDialog::PrintSettingsDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::PrintSettingsDialog)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("fPrnDBGridEhSetupDialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(sizeHint().expandedTo(QSize(420, 0)));
    for (QLineEdit *edit : {ui->topMarginSpin, ui->bottomMarginSpin, ui->leftMarginSpin, ui->rightMarginSpin})
        edit->installEventFilter(this);
    connect(ui->fitToPageWidthCheck, &QCheckBox::toggled, this, &PrintSettingsDialog::cbFitWidthToPageClick);
    connect(ui->printFontButton, &QToolButton::clicked, this, &PrintSettingsDialog::bPrintFontClick);
    connect(ui->printerSetupButton, &QPushButton::clicked, this, &PrintSettingsDialog::bPrinterSetupDialogClick);
    connect(ui->okButton, &QPushButton::clicked, this, &PrintSettingsDialog::bOkClick);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

PrintSettingsDialog::~PrintSettingsDialog()
{
    delete ui;
}

void PrintSettingsDialog::setupFrom(const ReportSettings &settings, QPrinter *printer)
{
    const ReportSettings *c = &settings;
    m_printer = printer;
    using lianbu::printing::marginText;
    ui->topMarginSpin->setText(marginText(c->page.top));
    ui->bottomMarginSpin->setText(marginText(c->page.bottom));
    ui->leftMarginSpin->setText(marginText(c->page.left));
    ui->rightMarginSpin->setText(marginText(c->page.right));
    ui->unitsLabel->setText(c->units == PrintUnits::MM ? QStringLiteral("单位：厘米") : QStringLiteral("单位：英寸"));
    ui->fitToPageWidthCheck->setChecked(c->options.testFlag(PrintOption::FitToPageWidth));
    (c->options.testFlag(PrintOption::FitByColumnWidths) ? ui->fitByColumnWidthsRadio : ui->fitByScaleRadio)
        ->setChecked(true);
    ui->optimalColumnWidthsCheck->setChecked(c->options.testFlag(PrintOption::OptimalColumnWidths));
    ui->autoStretchCheck->setChecked(c->options.testFlag(PrintOption::RowAutoStretch));
    ui->colouredCheck->setChecked(c->options.testFlag(PrintOption::Coloured));
    ui->printFontEdit->setText(c->printFontName);
    ui->printerSetupButton->setEnabled(m_printer != nullptr);
    cbFitWidthToPageClick();
}

bool PrintSettingsDialog::applyTo(ReportSettings &settings)
{
    ReportSettings *c = &settings;
    for (QLineEdit *edit : {ui->topMarginSpin, ui->bottomMarginSpin, ui->leftMarginSpin, ui->rightMarginSpin})
        if (!checkMargin(edit))
            return false;
    using lianbu::printing::parseMargin;
    c->page.top = *parseMargin(ui->topMarginSpin->text());
    c->page.bottom = *parseMargin(ui->bottomMarginSpin->text());
    c->page.left = *parseMargin(ui->leftMarginSpin->text());
    c->page.right = *parseMargin(ui->rightMarginSpin->text());
    c->options.setFlag(PrintOption::FitToPageWidth, ui->fitToPageWidthCheck->isChecked());
    c->options.setFlag(PrintOption::FitByColumnWidths, ui->fitByColumnWidthsRadio->isChecked());
    c->options.setFlag(PrintOption::OptimalColumnWidths, ui->optimalColumnWidthsCheck->isChecked());
    c->options.setFlag(PrintOption::RowAutoStretch, ui->autoStretchCheck->isChecked());
    c->options.setFlag(PrintOption::Coloured, ui->colouredCheck->isChecked());
    c->printFontName = ui->printFontEdit->text().trimmed();
    return true;
}

bool PrintSettingsDialog::edit(ReportSettings &settings, QPrinter *printer)
{
    setupFrom(settings, printer);
    ui->topMarginSpin->setFocus();
    if (exec() != QDialog::Accepted)
        return false;
    return applyTo(settings);
}

void PrintSettingsDialog::cbFitWidthToPageClick()
{
    ui->fittingTypeGroup->setEnabled(ui->fitToPageWidthCheck->isChecked());
}

void PrintSettingsDialog::bPrintFontClick()
{
    QFont font(ui->printFontEdit->text().trimmed());
    if (lianbu::dialogs().fontDialog(this, &font))
        ui->printFontEdit->setText(font.family());
}

void PrintSettingsDialog::bPrinterSetupDialogClick()
{
    if (m_printer)
        lianbu::dialogs().pageSetupDialog(this, m_printer);
}

void PrintSettingsDialog::bOkClick()
{
    // A margin that is no number: the error is shown and the dialog stays open, nothing applied.
    for (QLineEdit *edit : {ui->topMarginSpin, ui->bottomMarginSpin, ui->leftMarginSpin, ui->rightMarginSpin})
        if (!checkMargin(edit))
            return;
    accept();
}

bool PrintSettingsDialog::checkMargin(QLineEdit *edit)
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

bool PrintSettingsDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut && !m_checking && isVisible()) {
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        // Leaving for another window or a menu is no leaving of the field; leaving for
        // "取消(&C)" abandons the values anyway.
        const bool leavesField = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason
                                 && QApplication::focusWidget() != ui->cancelButton;
        if (auto *edit = qobject_cast<QLineEdit *>(watched); edit && leavesField)
            checkMargin(edit);
    }
    return QDialog::eventFilter(watched, event);
}
