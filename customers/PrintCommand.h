#pragma once

#include "db/ListRows.h"
#include "printing/ReportLook.h"

#include <QObject>
#include <QPointer>

#include <memory>

class DataGrid;
class GridReport;
class PrintPreviewWindow;
class PrintSettingsDialog;
class QWidget;

namespace lianbu::data {
class SessionOperator;
}

namespace lianbu::customers {

// The customer list's printout, kept by the window that prints for as long as it lives: the
// report component with its settings (changed ones included), the preview window and the
// settings dialog, all made on first use.
class CustomerPrinting : public QObject
{
    Q_OBJECT

public:
    explicit CustomerPrinting(QObject *owner);
    ~CustomerPrinting() override;

    // The pages of the grid's list, as the grid shows it now, in the preview.
    void print(DataGrid *grid);
    // The settings dialog for the report; true when confirmed (settings stored).
    bool editSettings();

    GridReport *report() const { return m_report; }
    PrintPreviewWindow *preview() const { return m_preview.get(); }
    PrintSettingsDialog *settingsDialog() const { return m_settings.get(); }

private:
    GridReport *m_report;
    QPointer<DataGrid> m_grid;
    std::unique_ptr<db::RowReader> m_rows;
    // Windows of their own (no parent): they keep their look whatever window prints.
    std::unique_ptr<PrintPreviewWindow> m_preview;
    std::unique_ptr<PrintSettingsDialog> m_settings;
};

// How the grid looks, for a printout of its shown columns (those of shownColumns(grid), in
// that order).
printing::ReportLook printLook(const DataGrid &grid);

// "打 印": the customer grid, as it currently shows the list, in the print preview. The
// printout is made for the customer list on first use and kept by `owner`. Refused (said) unless
// the session's operator `by` may print.
void printCustomerList(DataGrid *grid, QWidget *owner, const data::SessionOperator *by = nullptr);
// The printout `owner` keeps, nullptr before the first print.
CustomerPrinting *customerPrinting(QObject *owner);

} // namespace lianbu::customers
