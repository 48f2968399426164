#include "printing/ReportGenerator.h"

#include "grid/TitleLevels.h"
#include "platform/BusyCursor.h"
#include "printing/PageStore.h"
#include "printing/ReportText.h"

#include <QFontMetricsF>
#include <QTextDocument>

#include <cmath>

namespace lianbu::printing {

// ---- row texts ------------------------------------------------------------------------------

namespace {
// Rows read at a time: a few pages' worth, so laying out a page and drawing it read once; the
// first read is short, so the first page shows soon.
constexpr int kFirstWindow = 64;
constexpr int kRowWindow = 512;
} // namespace

RowTexts::RowTexts(const db::RowReader &rows, std::vector<int> valueIndices)
    : m_rows(rows)
    , m_indices(std::move(valueIndices))
{}

const QString &RowTexts::text(int row, int column)
{
    if (row < m_first || row >= m_first + m_count)
        load(row);
    static const QString none;
    if (row < m_first || row >= m_first + m_count)
        return none;
    return m_texts[size_t(row - m_first) * m_indices.size() + size_t(column)];
}

void RowTexts::load(int from)
{
    m_first = from;
    m_count = 0;
    m_texts.clear();
    const int to = std::min(m_rows.rowCount(), from + (m_loads++ == 0 ? kFirstWindow : kRowWindow));
    m_texts.reserve(size_t(std::max(0, to - from)) * m_indices.size());
    m_rows.readRows(from, to, [&](int, const db::RowCells &cells) {
        for (const int index : m_indices)
            m_texts.push_back(index >= 0 ? cells.text(index).toString() : QString());
        ++m_count;
    });
}

// ---- the generator --------------------------------------------------------------------------

namespace {

std::vector<int> valueIndicesOf(const db::ListColumns &list)
{
    std::vector<int> indices;
    for (const db::ListColumn &column : list.columns)
        if (column.shown)
            indices.push_back(column.valueIndex);
    return indices;
}

} // namespace

ReportGenerator::ReportGenerator(const ReportSettings &settings, const db::ListColumns &list, const ReportLook &look,
                                 const db::RowReader &rows, PageStore *store)
    : c(settings)
    , look(look)
    , rows(rows)
    , store(store)
    , texts(rows, valueIndicesOf(list))
{
    static const ColumnLook plain;
    for (size_t i = 0; i < list.columns.size(); ++i) {
        if (!list.columns[i].shown)
            continue;
        cols.push_back(&list.columns[i]);
        colLooks.push_back(i < look.columns.size() ? &look.columns[i] : &plain);
    }
    footerRows = list.footerRows;
    multiTitles = list.multiLevelTitles;
}

ReportGenerator::~ReportGenerator() = default;

void ReportGenerator::setDocuments(std::unique_ptr<QTextDocument> b, std::unique_ptr<QTextDocument> a)
{
    before = std::move(b);
    after = std::move(a);
}

void ReportGenerator::checkData() const
{
    // The operator may reopen or re-sort the list while pages are made; stop then rather than
    // print a mixture.
    if (rows.stale() || rows.rowCount() != recordCount)
        throw StopGeneration{};
}

double ReportGenerator::textHeight(const QFont &font, const QString &text, double width, bool wrap,
                                   double *advance) const
{
    return layoutText(nullptr, font, text, QRectF(0, 0, width, 0), Qt::AlignLeft, wrap, -1, advance);
}

const ReportGenerator::CellMeasure *ReportGenerator::measuredCell(int item, int column) const
{
    if (item < measuredFirst)
        return nullptr;
    const size_t at = size_t(item - measuredFirst) * cols.size() + size_t(column);
    return at < measured.size() ? &measured[at] : nullptr;
}

double ReportGenerator::colontitleHeight(const PageHeaderFooter &block, const QFont &font) const
{
    int lines = 0;
    bool any = false;
    for (const QString *text : {&block.leftText, &block.centerText, &block.rightText}) {
        if (text->isEmpty())
            continue;
        any = true;
        lines = std::max(lines, int(text->count(QLatin1Char('\n'))) + 1);
    }
    double h = any ? lines * lineHeight(font) + metrics.dpiY / 20.0 : 0;
    if (block.lineType == RuleLine::Single)
        h += metrics.dpiY / 20.0;
    else if (block.lineType == RuleLine::Double)
        h += metrics.dpiY / 20.0 + metrics.dpiY / 30.0;
    return h;
}

QString ReportGenerator::cellText(int row, int column)
{
    return texts.text(row, column);
}

QStringList ReportGenerator::titleOf(int column) const
{
    return db::titleLevels(cols[size_t(column)]->title);
}

void ReportGenerator::layout(ReportLayoutInfo *info)
{
    recordCount = rows.rowCount();
    metrics = store->metrics();
    const double u = marginDivisor(c.units == PrintUnits::MM);
    body = pageBody(metrics, c.page, u);
    sx = screenToPrinterFactor(look.screenDpiX, metrics.dpiX);
    sy = screenToPrinterFactor(look.screenDpiY, metrics.dpiY);
    ins = cellInsets(sx, sy, true);
    framePen = QPen(Qt::black, ins.line);
    colored = c.options.testFlag(PrintOption::Coloured);
    autoStretch = c.options.testFlag(PrintOption::RowAutoStretch);

    const QString face = c.printFontName;
    headerFont = printFont(c.pageHeader.font, face, metrics.dpiY, sy);
    footerFont = printFont(c.pageFooter.font, face, metrics.dpiY, sy);
    titleBarFont = printFont(look.titleFont, face, metrics.dpiY, sy);
    gridFont = printFont(look.dataFont, face, metrics.dpiY, sy);

    // footer texts, worked out once over the whole list
    footerTexts.assign(size_t(footerRows) * cols.size(), QString());
    for (int f = 0; f < footerRows; ++f)
        for (size_t i = 0; i < cols.size(); ++i)
            if (const db::ListFooter *footer = cols[i]->footerForRow(f))
                footerTexts[size_t(f) * cols.size() + i] = db::footerText(*footer, *cols[i], rows);

    widths.clear();
    cellFonts.clear();
    titleFonts.clear();
    for (size_t i = 0; i < cols.size(); ++i) {
        cellFonts << printFont(colLooks[i]->font, face, metrics.dpiY, sy);
        titleFonts << printFont(colLooks[i]->titleFont, face, metrics.dpiY, sy);
        widths << printedColumnWidth(cols[i]->width, sx);
    }

    if (c.options.testFlag(PrintOption::OptimalColumnWidths)) {
        const BusyCursor busy;
        std::vector<double> widest(cols.size(), 0.0);
        for (size_t i = 0; i < cols.size(); ++i) {
            const QFontMetricsF titleFm(titleFonts[int(i)]);
            for (const QString &level : titleOf(int(i)))
                widest[i] = std::max(widest[i], titleFm.horizontalAdvance(level));
        }
        std::vector<QFontMetricsF> cellFm;
        for (const QFont &font : cellFonts)
            cellFm.emplace_back(font);
        rows.readRows(0, recordCount, [&](int, const db::RowCells &cells) {
            for (size_t i = 0; i < cols.size(); ++i)
                if (cols[i]->valueIndex >= 0)
                    widest[i] =
                        std::max(widest[i], cellFm[i].horizontalAdvance(cells.text(cols[i]->valueIndex).toString()));
        });
        for (size_t i = 0; i < cols.size(); ++i) {
            for (int f = 0; f < footerRows; ++f)
                if (hasFooter(f, int(i)))
                    widest[i] =
                        std::max(widest[i], QFontMetricsF(printFont(footerLook(f, int(i)).font, face, metrics.dpiY, sy))
                                                .horizontalAdvance(footerText(f, int(i))));
            widths[int(i)] = int(std::ceil(widest[i])) + 2 * ins.horizontal;
        }
    }

    scale = 1.0;
    if (c.options.testFlag(PrintOption::FitToPageWidth)) {
        if (c.options.testFlag(PrintOption::FitByColumnWidths))
            widths = fitColumnWidths(widths, body.width(), metrics.dpiX, metrics.dpiY);
        else
            scale = fitScale(widths, ins.line, body.width());
    }
    W = body.width() / scale;
    H = body.height() / scale;

    blocks.clear();
    const QList<QList<int>> split = columnBlocks(widths, int(std::floor(W)));
    for (const QList<int> &indices : split) {
        Block b;
        b.columns = indices;
        for (int i : indices)
            b.width += widths[i];
        titleLayout(b);
        blocks << b;
    }
    if (blocks.isEmpty())
        blocks << Block{};

    headerHeight = colontitleHeight(c.pageHeader, headerFont);
    footerHeight = colontitleHeight(c.pageFooter, footerFont);

    const QFontMetricsF fm(gridFont);
    if (look.rowHeight > 0 || look.rowLines > 0)
        defaultRowHeight = std::max(1, look.rowLines) * (fm.height() + fm.leading()) + std::lround(look.rowHeight * sy);
    else
        defaultRowHeight = lineHeight(gridFont) + 2 * ins.vertical;
    wrapRows = autoStretch || defaultRowHeight > lineHeight(gridFont) + 2 * ins.vertical + 0.5;
    heights.assign(size_t(recordCount + footerRows), 0.0);

    info->body = body;
    info->scale = scale;
    info->columnWidths = widths;
    info->blocks = split;
}

void ReportGenerator::titleLayout(Block &b)
{
    const double barMargin = multiTitles ? std::lround(look.vTitleMargin * sy / 2.0) : ins.vertical;
    const QString title = c.title.join(QLatin1Char('\n'));
    b.titleBarHeight =
        title.isEmpty() ? 0 : textHeight(titleBarFont, title, b.width - 2 * ins.horizontal, true) + 2 * barMargin;

    double tallest = 0;
    if (multiTitles) {
        const double levelMargin = std::lround(look.vTitleMargin * sy);
        const double cut = std::lround(4 * sx);
        QStringList captions;
        for (int i : b.columns)
            captions << cols[size_t(i)]->title;
        const QList<gridtitles::TitleCell> cells = gridtitles::layoutTitleCells(captions, true, nullptr);
        for (int pos = 0; pos < b.columns.size(); ++pos) {
            const int i = b.columns[pos];
            // the column's levels, each over the neighbours that share it
            double stack = 0;
            for (const gridtitles::TitleCell &cell : cells) {
                if (cell.firstColumn > pos || cell.lastColumn < pos)
                    continue;
                double span = 0;
                for (int q = cell.firstColumn; q <= cell.lastColumn; ++q)
                    span += widths[b.columns[q]];
                stack += textHeight(titleFonts[i], cell.text, span - cut, true) + levelMargin;
            }
            tallest = std::max(tallest, stack);
        }
    } else {
        for (int i : b.columns) {
            const QFontMetricsF fm(titleFonts[i]);
            if (look.titleHeight > 0 || look.titleLines > 0)
                tallest = std::max(tallest, std::max(1, look.titleLines) * fm.height() + fm.leading()
                                                + std::lround(look.titleHeight * sy) + ins.vertical);
            else
                tallest =
                    std::max(tallest, textHeight(titleFonts[i], cols[size_t(i)]->title, 1e9, false) + 2 * ins.vertical);
        }
    }
    b.titleRowHeight = b.columns.isEmpty() ? 0 : tallest;
}

bool ReportGenerator::hasFooter(int footerRow, int column) const
{
    return cols[size_t(column)]->footerForRow(footerRow) != nullptr;
}

const FooterLook &ReportGenerator::footerLook(int footerRow, int column) const
{
    const ColumnLook &columnLook = *colLooks[size_t(column)];
    if (footerRow >= 0 && size_t(footerRow) < columnLook.footers.size() && hasFooter(footerRow, column))
        return columnLook.footers[size_t(footerRow)];
    return columnLook.footer;
}

QString ReportGenerator::footerText(int footerRow, int column) const
{
    return footerTexts[size_t(footerRow) * cols.size() + size_t(column)];
}

double ReportGenerator::rowHeight(int item)
{
    double &h = heights[size_t(item)];
    if (h > 0)
        return h;
    h = defaultRowHeight;
    if (wrapRows) {
        // Rows are measured in order: keep this one's cells after those of the rows before it,
        // or start again from it.
        const bool record = item < recordCount;
        if (record && size_t(item - measuredFirst) * cols.size() != measured.size()) {
            measured.clear();
            measuredFirst = item;
        }
        if (record && measured.size() > 4096 * cols.size()) {
            measured.clear();
            measuredFirst = item;
        }
        for (int i = 0; i < int(cols.size()); ++i) {
            const double w = widths[i] - 2 * ins.horizontal;
            double t;
            if (record) {
                CellMeasure cell;
                t = textHeight(cellFonts[i], cellText(item, i), w, true, &cell.advance);
                cell.height = t;
                measured.push_back(cell);
            } else {
                const int f = item - recordCount;
                const QFont font =
                    hasFooter(f, i) ? printFont(footerLook(f, i).font, c.printFontName, metrics.dpiY, sy) : gridFont;
                t = textHeight(font, footerText(f, i), w, true);
            }
            h = std::max(h, t + 2 * ins.vertical);
        }
    }
    return h;
}

} // namespace lianbu::printing
