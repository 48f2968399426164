#pragma once

// GridReport: prints a DataGrid as a paginated report. The grid's visible columns and all
// rows of its dataset (in the dataset's current order) are laid out on pages with a header and a
// footer block, a framed title bar, the column titles, footer rows and rich texts before and after
// the grid. Pages are recorded in the preview window's page store and shown there.

#include "grid/DataGrid.h"
#include "printing/PrintLayout.h"

#include <QFont>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class QTextDocument;
class PageStore;
class PrintPreviewWindow;

enum class PrintOption {
    FitToPageWidth = 1,
    Coloured = 2,
    RowAutoStretch = 4,
    FitByColumnWidths = 8,
    OptimalColumnWidths = 16,
};
Q_DECLARE_FLAGS(PrintOptions, PrintOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(PrintOptions)

enum class PrintUnits { MM, Inches };

enum class RuleLine { None, Single, Double };

// The block printed at the top (header) or bottom (footer) of every page.
struct PageHeaderFooter
{
    QString leftText; // multi-line, lines separated by '\n'
    QString centerText;
    QString rightText;
    QFont font;
    RuleLine lineType = RuleLine::None;
};

class GridReport : public QObject
{
    Q_OBJECT

public:
    explicit GridReport(QObject *parent = nullptr);
    ~GridReport() override;

    // ---- settings --------------------------------------------------------------------------
    DataGrid *dbGridEh() const { return m_grid; }
    void setDBGridEh(DataGrid *grid) { m_grid = grid; }
    PrintOptions options;
    PrintUnits units = PrintUnits::MM;
    lianbu::printing::PageMargins page;
    PageHeaderFooter pageHeader;
    PageHeaderFooter pageFooter;
    QString printFontName;
    QStringList title;
    QTextDocument *beforeGridText() const { return m_before.get(); }
    QTextDocument *afterGridText() const { return m_after.get(); }

    // ---- operations ------------------------------------------------------------------------
    // Replaces the replacement list applied to the rich texts while printing.
    void setTextReplacements(const QList<QPair<QString, QString>> &replacements);
    const QList<QPair<QString, QString>> &textReplacements() const { return m_replacements; }
    // Generates the pages into the preview window's page store and shows the window. Returns
    // when generation has ended (the window stays open). Does nothing without an open grid.
    void showPrintPreview();
    // Shows the settings dialog for this component; true when confirmed (settings stored).
    bool editPrintSettings();

    // Generates into `store` without showing any window (the preview window uses the store it
    // owns). Returns the number of pages recorded.
    int generate(PageStore *store);

    // The layout of the last generation, for those who want to check it.
    struct LayoutInfo
    {
        QRect body;               // in printer pixels
        double scale = 1.0;       // fit-to-width factor
        QList<int> columnWidths;  // in layout units (before scaling)
        QList<QList<int>> blocks; // printed column indices per block
        int dataRowsPrinted = 0;
        int pagesCounted = 0; // from the counting pass, 0 when none was made
    };
    const LayoutInfo &lastLayout() const { return m_layout; }

    // The preview window and settings dialog this component uses (created on first use).
    static PrintPreviewWindow *previewForm();

private:
    friend class ReportGenerator;

    QPointer<DataGrid> m_grid;
    std::unique_ptr<QTextDocument> m_before;
    std::unique_ptr<QTextDocument> m_after;
    QList<QPair<QString, QString>> m_replacements;
    LayoutInfo m_layout;
    bool m_running = false;
};

namespace lianbu::printing {

// Replaces every occurrence of each placeholder (regardless of case) in the document, keeping
// the character formatting of the replaced text. Returns the number of replacements made.
int replaceInDocument(QTextDocument *document, const QList<QPair<QString, QString>> &replacements);

// Sets `printer` up with the component's configuration for the customer list.
void configureCustomerPrint(GridReport *printer, const QString &vendorAddress);

} // namespace lianbu::printing
