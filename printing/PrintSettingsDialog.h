#pragma once

// PrintSettingsDialog: the print settings dialog ("打印设置") of a printed list. Filled from
// the settings, shown modally, written back only when confirmed with "确定(&O)". Owned by
// whoever prints.

#include "printing/ReportSettings.h"

#include <QDialog>

#include <optional>

class QLineEdit;
class QPrinter;

namespace Ui {
class PrintSettingsDialog;
}

namespace lianbu::printing {
// A margin field's text as a number with four decimal places; nullopt when it is no decimal.
std::optional<double> parseMargin(const QString &text);
// A margin as the field shows it: a plain decimal number.
QString marginText(double value);
} // namespace lianbu::printing

class PrintSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PrintSettingsDialog(QWidget *parent = nullptr);
    ~PrintSettingsDialog() override;

    Ui::PrintSettingsDialog *ui;

    // Fills the controls from the settings. The page setup button edits `printer`; it is
    // offered only with one.
    void setupFrom(const ReportSettings &settings, QPrinter *printer = nullptr);
    // Writes the controls back; false (and the error shown) when a margin is no number.
    bool applyTo(ReportSettings &settings);
    // Fill, show modally, write back when confirmed. True when confirmed.
    bool edit(ReportSettings &settings, QPrinter *printer = nullptr);

public slots:
    void cbFitWidthToPageClick();
    void bPrintFontClick();
    void bPrinterSetupDialogClick();
    void bOkClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool checkMargin(QLineEdit *edit);
    bool m_checking = false;
    QPrinter *m_printer = nullptr;
};
