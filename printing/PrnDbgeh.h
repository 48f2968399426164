#pragma once

// TPrintDBGridEh: prints a TDBGridEh as a paginated report. The grid's visible columns and all
// rows of its dataset (in the dataset's current order) are laid out on pages with a header and a
// footer block, a framed title bar, the column titles, footer rows and rich texts before and after
// the grid. Pages are recorded in the preview window's page store and shown there.

#include "grid/DBGridEh.h"
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
class TPrinterPreview;
class TPreviewFormEh;

enum TPrintGridOptionEh {
    pghFitGridToPageWidth = 1,
    pghColored = 2,
    pghRowAutoStretch = 4,
    pghFitingByColWidths = 8,
    pghOptimalColWidths = 16,
};
Q_DECLARE_FLAGS(TPrintGridOptionsEh, TPrintGridOptionEh)
Q_DECLARE_OPERATORS_FOR_FLAGS(TPrintGridOptionsEh)

enum class TPrintUnitsEh { MM, Inches };

enum TPageColontitleLineType { pcltNon, pcltSingleLine, pcltDoubleLine };

// The block printed at the top (header) or bottom (footer) of every page.
struct TPageColontitleEh
{
    QString LeftText;   // multi-line, lines separated by '\n'
    QString CenterText;
    QString RightText;
    QFont Font;
    TPageColontitleLineType LineType = pcltNon;
};

class TPrintDBGridEh : public QObject
{
    Q_OBJECT

public:
    explicit TPrintDBGridEh(QObject *parent = nullptr);
    ~TPrintDBGridEh() override;

    // ---- settings --------------------------------------------------------------------------
    TDBGridEh *DBGridEh() const { return m_grid; }
    void setDBGridEh(TDBGridEh *grid) { m_grid = grid; }
    TPrintGridOptionsEh Options;
    TPrintUnitsEh Units = TPrintUnitsEh::MM;
    lianbu::printing::PageMargins Page;
    TPageColontitleEh PageHeader;
    TPageColontitleEh PageFooter;
    QString PrintFontName;
    QStringList Title;
    QTextDocument *BeforeGridText() const { return m_before.get(); }
    QTextDocument *AfterGridText() const { return m_after.get(); }

    // ---- operations ------------------------------------------------------------------------
    // Replaces the replacement list applied to the rich texts while printing.
    void SetTextReplacements(const QList<QPair<QString, QString>> &replacements);
    const QList<QPair<QString, QString>> &TextReplacements() const { return m_replacements; }
    // Generates the pages into the preview window's page store and shows the window. Returns
    // when generation has ended (the window stays open). Does nothing without an open grid.
    void ShowPrintPreview();
    // Shows the settings dialog for this component; true when confirmed (settings stored).
    bool EditPrintSettings();

    // Generates into `store` without showing any window (the preview window uses the store it
    // owns). Returns the number of pages recorded.
    int Generate(TPrinterPreview *store);

    // The layout of the last generation, for those who want to check it.
    struct LayoutInfo
    {
        QRect body;               // in printer pixels
        double scale = 1.0;       // fit-to-width factor
        QList<int> columnWidths;  // in layout units (before scaling)
        QList<QList<int>> blocks; // printed column indices per block
        int dataRowsPrinted = 0;
        int pagesCounted = 0;     // from the counting pass, 0 when none was made
    };
    const LayoutInfo &LastLayout() const { return m_layout; }

    // The preview window and settings dialog this component uses (created on first use).
    static TPreviewFormEh *PreviewForm();

private:
    friend class TPrintGridGeneratorEh;

    QPointer<TDBGridEh> m_grid;
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
void configureCustomerPrint(TPrintDBGridEh *printer, const QString &vendorAddress);

} // namespace lianbu::printing
