#pragma once

// GridReport: prints a list as a paginated report. The list's shown columns (a column
// description), in the look given, and all its rows in the order shown (through a row reader)
// are laid out on pages with a header and a footer block, a framed title bar, the column titles,
// footer rows and rich texts before and after the list. Pages are recorded in a page store.
// Printing only reads the list: its order, fields and current row stay as they are.

#include "db/ListRows.h"
#include "printing/ReportGenerator.h"
#include "printing/ReportLook.h"
#include "printing/ReportSettings.h"
#include "printing/ReportText.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <memory>

class QTextDocument;
class PageStore;

class GridReport : public QObject, public ReportSettings
{
    Q_OBJECT

public:
    explicit GridReport(QObject *parent = nullptr);
    ~GridReport() override;

    // ---- the list ------------------------------------------------------------------------
    // The list printed: its columns, their look (one ColumnLook per column of `columns`) and
    // its rows. `rows` must outlive every generation; nullptr prints nothing.
    void setList(lianbu::db::ListColumns columns, lianbu::printing::ReportLook look, const lianbu::db::RowReader *rows);
    const lianbu::db::ListColumns &columns() const { return m_columns; }

    // ---- texts ---------------------------------------------------------------------------
    QTextDocument *beforeGridText() const { return m_before.get(); }
    QTextDocument *afterGridText() const { return m_after.get(); }
    // Replaces the replacement list applied to the rich texts while printing.
    void setTextReplacements(const QList<QPair<QString, QString>> &replacements);
    const QList<QPair<QString, QString>> &textReplacements() const { return m_replacements; }

    // ---- generation ----------------------------------------------------------------------
    // Generates the pages into `store` (a preview window shows them as they come). Returns the
    // number of pages recorded; 0 without a list, or while a generation runs.
    int generate(PageStore *store);

    using LayoutInfo = lianbu::printing::ReportLayoutInfo;
    // The layout of the last generation, for those who want to check it.
    const LayoutInfo &lastLayout() const { return m_layout; }

private:
    lianbu::db::ListColumns m_columns;
    lianbu::printing::ReportLook m_look;
    const lianbu::db::RowReader *m_rows = nullptr;
    std::unique_ptr<QTextDocument> m_before;
    std::unique_ptr<QTextDocument> m_after;
    QList<QPair<QString, QString>> m_replacements;
    LayoutInfo m_layout;
    bool m_running = false;
};

namespace lianbu::printing {

// Sets `printer` up with the component's configuration for the customer list.
void configureCustomerPrint(GridReport *printer, const QString &vendorAddress);

} // namespace lianbu::printing
