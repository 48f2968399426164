#pragma once

// The pages of a printed list, made in two steps: layout() measures (fonts on the printer,
// column widths and blocks, title and row heights), run() flows the texts and the list over the
// pages, drawing onto the page store or, in a counting pass, only counting pages. Rows are read
// through the list's row reader a window at a time; nothing of the list is changed.

#include "db/ListRows.h"
#include "printing/PrintLayout.h"
#include "printing/ReportLook.h"
#include "printing/ReportSettings.h"

#include <QElapsedTimer>
#include <QFont>
#include <QList>
#include <QPen>
#include <QRect>
#include <QString>

#include <memory>
#include <vector>

class PageStore;
class QPainter;
class QTextDocument;

namespace lianbu::printing {

// Thrown inside generation when a stop was requested or the list changed under it.
struct StopGeneration
{};

// What the layout came to, for those who want to check it.
struct ReportLayoutInfo
{
    QRect body;               // in printer pixels
    double scale = 1.0;       // fit-to-width factor
    QList<int> columnWidths;  // in layout units (before scaling)
    QList<QList<int>> blocks; // printed column indices per block
    int dataRowsPrinted = 0;
    int pagesCounted = 0; // from the counting pass, 0 when none was made
};

// The texts of the printed columns for a window of rows, read from the list in one batch.
class RowTexts
{
public:
    RowTexts(const db::RowReader &rows, std::vector<int> valueIndices);
    const QString &text(int row, int column);

private:
    void load(int from);

    const db::RowReader &m_rows;
    std::vector<int> m_indices;
    int m_first = 0;
    int m_count = 0;
    int m_loads = 0;
    std::vector<QString> m_texts; // row by row
};

class ReportGenerator
{
public:
    ReportGenerator(const ReportSettings &settings, const db::ListColumns &list, const ReportLook &look,
                    const db::RowReader &rows, PageStore *store);
    ~ReportGenerator();

    // Measures everything; fills the layout's geometry.
    void layout(ReportLayoutInfo *info);
    // Runs the body. Counting: nothing is drawn and pages are only counted.
    void run(bool countingPass);
    int countedPages() const { return pageNo; }
    void setDocuments(std::unique_ptr<QTextDocument> b, std::unique_ptr<QTextDocument> a);
    int rowsPrinted() const { return dataRows; }

    MacroValues macros;

private:
    struct Block
    {
        QList<int> columns; // indices into cols
        double width = 0;
        double titleBarHeight = 0;
        double titleRowHeight = 0;
    };

    // ---- measuring (ReportGenerator.cpp)
    double areaTop() const { return headerHeight; }
    double areaBottom() const { return H - footerHeight; }
    double colontitleHeight(const PageHeaderFooter &block, const QFont &font) const;
    double textHeight(const QFont &font, const QString &text, double width, bool wrap, double *advance = nullptr) const;
    double rowHeight(int item);
    QString cellText(int row, int column);
    QString footerText(int footerRow, int column) const;
    const FooterLook &footerLook(int footerRow, int column) const;
    bool hasFooter(int footerRow, int column) const;
    QStringList titleOf(int column) const;
    void titleLayout(Block &block);
    void checkData() const;

    // ---- drawing (ReportDrawing.cpp)
    void beginPage(bool first);
    void newPage();
    void newGridPage();
    void drawColontitle(const PageHeaderFooter &block, const QFont &font, bool header);
    void flowDocument(QTextDocument *doc);
    void drawTitleBar(const Block &block);
    void drawTitleRow(const Block &block);
    void drawItem(const Block &block, int item, double height);
    // `known`: the text's height and one-line advance in the cell, when measured already.
    struct CellMeasure
    {
        double height = -1;
        double advance = -1;
    };
    void drawCell(const QRectF &rect, const QColor &color, const QFont &font, const QString &text, Qt::Alignment align,
                  bool wrap, const CellMeasure *known = nullptr);
    // What rowHeight measured of the data row's cell, nullptr when it measured nothing.
    const CellMeasure *measuredCell(int item, int column) const;
    void afterCell();

    const ReportSettings &c;
    const ReportLook &look;
    const db::RowReader &rows;
    PageStore *store;
    std::vector<const db::ListColumn *> cols; // the printed columns
    std::vector<const ColumnLook *> colLooks;
    RowTexts texts;
    int recordCount = 0;

    PrinterMetrics metrics;
    QRect body;
    double sx = 1, sy = 1, scale = 1, W = 0, H = 0;
    CellInsets ins;
    QPen framePen;
    bool colored = false, autoStretch = false, wrapRows = false, multiTitles = false;
    QList<int> widths;
    QList<Block> blocks;
    QFont headerFont, footerFont, titleBarFont, gridFont;
    QList<QFont> cellFonts, titleFonts;
    double headerHeight = 0, footerHeight = 0, defaultRowHeight = 0;
    int footerRows = 0;
    std::vector<double> heights; // per item, 0 = not computed yet
    // The cells rowHeight measured, for the rows from measuredFirst on (they are drawn soon after,
    // and measuring a cell again costs as much as drawing it).
    int measuredFirst = 0;
    std::vector<CellMeasure> measured;
    std::vector<QString> footerTexts; // per footer row and printed column, worked out once
    std::unique_ptr<QTextDocument> before, after;

    bool counting = false;
    QElapsedTimer eventClock;
    QPainter *p = nullptr;
    int pageNo = 0;
    double y = 0;
    int dataRows = 0;
};

} // namespace lianbu::printing
