#pragma once

// PrintSettingsDialog: the print settings dialog ("打印设置") of GridReport. Filled from
// a component's settings, shown modally, written back only when confirmed with "确定(&O)".
// One dialog for the whole program, created on first use.

#include <QDialog>

#include <optional>

class QLineEdit;
class GridReport;

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

    static PrintSettingsDialog *instance();
    static PrintSettingsDialog *existingInstance();

    Ui::PrintSettingsDialog *ui;

    // Fills the controls from the component's settings.
    void setupFrom(const GridReport *component);
    // Writes the controls back; false (and the error shown) when a margin is no number.
    bool applyTo(GridReport *component);
    // Fill, show modally, write back when confirmed. True when confirmed.
    bool edit(GridReport *component);

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
};
