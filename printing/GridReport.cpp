#include "printing/GridReport.h"

#include "db/DataSet.h"
#include "grid/DataGrid.h"
#include "platform/Clock.h"
#include "printing/PrintSettingsDialog.h"
#include "printing/PageStore.h"
#include "printing/PrintPreviewWindow.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFontMetricsF>
#include <QElapsedTimer>
#include <QHash>
#include <QRawFont>
#include <QFontDatabase>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

using namespace lianbu::printing;

namespace {

// Thrown inside generation when a stop was requested or the data changed under it.
struct StopGeneration
{};

// The height of one text line in `font`, Chinese included: the print faces are Latin faces and
// the Chinese characters come from a fallback face with taller lines, so "Wg" alone is too short.
// What drawing text in one print font needs, worked out once per font: the print face and the
// Chinese face as separate fonts, which characters the print face has, the line's height and
// ascent with Chinese included.
struct FaceSet
{
    QFont primary, secondary;
    QRawFont raw;
    bool split = false;
    double height = 0, ascent = 0;
};

const FaceSet &faceSet(const QFont &font)
{
    // Node-based, so the returned references stay valid while other fonts are added. Cells ask
    // for the same font many times in a row; comparing fonts is cheaper than building the key.
    static std::unordered_map<QString, FaceSet> cache;
    static QFont lastFont;
    static const FaceSet *last = nullptr;
    if (last && font == lastFont && font.families() == lastFont.families())
        return *last;
    const QString key = font.key() + QLatin1Char('/') + font.families().join(QLatin1Char(','));
    if (auto it = cache.find(key); it != cache.end()) {
        lastFont = font;
        last = &it->second;
        return *last;
    }
    FaceSet set;
    const QStringList families = font.families();
    // fresh fonts: a copied font keeps traces of the face it was made from, which the recorded
    // page would replay with
    auto single = [&font](const QString &family) {
        QFont f(family);
        f.setPixelSize(font.pixelSize());
        f.setWeight(font.weight());
        f.setItalic(font.italic());
        f.setUnderline(font.underline());
        f.setStrikeOut(font.strikeOut());
        return f;
    };
    set.split = families.size() >= 2;
    set.primary = set.split ? single(families.at(0)) : font;
    set.secondary = set.split ? single(families.at(1)) : font;
    // the print face's own characters (font metrics would count the fallback faces too)
    set.raw = QRawFont::fromFont(set.primary, QFontDatabase::Latin);
    if (!set.raw.isValid())
        set.split = false;
    QTextLayout layout(QStringLiteral("Wg\u56fd"), font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e6);
    layout.endLayout();
    const QFontMetricsF fm(font);
    set.height = std::max(fm.height(), line.height());
    set.ascent = std::max(fm.ascent(), line.ascent());
    lastFont = font;
    last = &cache.emplace(key, set).first->second;
    return *last;
}

// The height of one text line in `font`, Chinese included: the print faces are Latin faces and
// the Chinese characters come from a fallback face with taller lines, so "Wg" alone is too short.
double lineHeight(const QFont &font)
{
    return faceSet(font).height;
}

// A recorded page stores every font change in full; most cells keep the font of the one before.
void useFont(QPainter *p, const QFont &font)
{
    if (p->font() != font)
        p->setFont(font);
}

// Draws one line of text from its baseline (or, without a painter, only measures it), each run
// of characters in the face that has them. Recorded pages replay every text item from the top of
// its own font's ascent, so an item that borrows glyphs from a fallback face would land lower
// than its neighbours; one face per item keeps all of them on the baseline. Returns the advance.
double drawTextRuns(QPainter *p, const QFont &font, const QString &text, const QPointF &baseline)
{
    const FaceSet &set = faceSet(font);
    if (!set.split) {
        if (p) {
            useFont(p, font);
            p->drawText(baseline, text);
        }
        return QFontMetricsF(font).horizontalAdvance(text);
    }
    const QFontMetricsF primaryFm(set.primary);
    const QFontMetricsF secondaryFm(set.secondary);
    double x = baseline.x();
    int start = 0;
    auto covered = [&](int i, int *len) {
        char32_t ucs = text.at(i).unicode();
        *len = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size()) {
            ucs = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            *len = 2;
        }
        return ucs <= 0x20 || set.raw.supportsCharacter(ucs);
    };
    while (start < text.size()) {
        int len = 0;
        const bool first = covered(start, &len);
        int end = start + len;
        while (end < text.size()) {
            int l = 0;
            if (covered(end, &l) != first)
                break;
            end += l;
        }
        const QString run = text.mid(start, end - start);
        if (p) {
            useFont(p, first ? set.primary : set.secondary);
            p->drawText(QPointF(x, baseline.y()), run);
        }
        x += (first ? primaryFm : secondaryFm).horizontalAdvance(run);
        start = end;
    }
    return x - baseline.x();
}

// Lays out (and, with a painter, draws) a text in a rectangle: lines split at '\n', wrapped at the
// width when `wrap`, breaking inside long words when a word alone is too wide.
double layoutText(QPainter *p, const QFont &font, const QString &text, const QRectF &rect, Qt::Alignment align,
                  bool wrap)
{
    const QFontMetricsF fm(font);
    // One line that fits (the common case for grid cells) needs no layout.
    if (!text.contains(QLatin1Char('\n')) && (!wrap || fm.horizontalAdvance(text) <= rect.width())) {
        const FaceSet &set = faceSet(font);
        if (p) {
            double top = rect.top();
            if (align & Qt::AlignVCenter)
                top += (rect.height() - set.height) / 2;
            else if (align & Qt::AlignBottom)
                top += rect.height() - set.height;
            double x = rect.left();
            if (align & (Qt::AlignHCenter | Qt::AlignRight)) {
                const double width = drawTextRuns(nullptr, font, text, QPointF());
                x += (align & Qt::AlignHCenter) ? (rect.width() - width) / 2 : rect.width() - width;
            }
            drawTextRuns(p, font, text, QPointF(x, top + set.ascent));
        }
        return set.height;
    }
    QTextOption option;
    option.setWrapMode(wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    option.setAlignment(Qt::Alignment(int(align) & Qt::AlignHorizontal_Mask));
    std::vector<std::unique_ptr<QTextLayout>> layouts;
    double height = 0;
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    for (const QString &para : paragraphs) {
        auto layout = std::make_unique<QTextLayout>(para, font);
        layout->setTextOption(option);
        layout->beginLayout();
        for (;;) {
            QTextLine line = layout->createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(std::max(1.0, rect.width()));
            line.setPosition(QPointF(0, height));
            height += line.height();
        }
        layout->endLayout();
        layouts.push_back(std::move(layout));
    }
    if (p) {
        double top = rect.top();
        if (align & Qt::AlignVCenter)
            top += (rect.height() - height) / 2;
        else if (align & Qt::AlignBottom)
            top += rect.height() - height;
        for (size_t i = 0; i < layouts.size(); ++i) {
            const QTextLayout &layout = *layouts[i];
            for (int n = 0; n < layout.lineCount(); ++n) {
                const QTextLine line = layout.lineAt(n);
                const QString part = layout.text().mid(line.textStart(), line.textLength());
                double x = rect.left();
                const double natural = line.naturalTextWidth();
                if (align & Qt::AlignHCenter)
                    x += (rect.width() - natural) / 2;
                else if (align & Qt::AlignRight)
                    x += rect.width() - natural;
                drawTextRuns(p, font, part, QPointF(x, top + line.y() + line.ascent()));
            }
        }
    }
    return height;
}

// Converts every size of a document to pixels of a device with `dpi` dots per inch, so the
// document lays out the same on the page store's pictures as on the printer.
void toDevicePixels(QTextDocument *doc, int dpi)
{
    auto px = [dpi](const QFont &f) {
        QFont out = f;
        if (f.pixelSize() <= 0)
            out.setPixelSize(std::max(1, int(std::lround(f.pointSizeF() * dpi / 72.0))));
        return out;
    };
    doc->setDefaultFont(px(doc->defaultFont()));
    QTextCursor cursor(doc);
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        // formats are collected first and set afterwards: setting them while walking the
        // fragments would change the fragments under the walk
        QList<std::tuple<int, int, QTextCharFormat>> sized;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            QTextCharFormat format = fragment.charFormat();
            format.setProperty(QTextFormat::FontPixelSize, px(format.font()).pixelSize());
            format.clearProperty(QTextFormat::FontPointSize);
            sized.append({fragment.position(), fragment.length(), format});
        }
        for (const auto &[position, length, format] : sized) {
            cursor.setPosition(position);
            cursor.setPosition(position + length, QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
        // Characters the fragment's face lacks get the Chinese face explicitly (see drawTextRuns).
        const QString chinese = chineseFallbackFamily();
        if (!chinese.isEmpty()) {
            struct Range
            {
                int start, length;
            };
            QList<Range> ranges;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (!fragment.isValid())
                    continue;
                QFont face(fragment.charFormat().font().family());
                const QRawFont raw = QRawFont::fromFont(face, QFontDatabase::Latin);
                if (!raw.isValid())
                    continue;
                const QString text = fragment.text();
                int runStart = -1;
                for (int i = 0; i <= text.size(); ++i) {
                    const bool missing = i < text.size() && text.at(i).unicode() > 0x20 && !text.at(i).isSurrogate()
                                         && !raw.supportsCharacter(text.at(i));
                    if (missing && runStart < 0)
                        runStart = i;
                    if (!missing && runStart >= 0) {
                        ranges.append({fragment.position() + runStart, i - runStart});
                        runStart = -1;
                    }
                }
            }
            QTextCharFormat chineseFormat;
            chineseFormat.setFontFamilies({chinese});
            for (const Range &r : ranges) {
                cursor.setPosition(r.start);
                cursor.setPosition(r.start + r.length, QTextCursor::KeepAnchor);
                cursor.mergeCharFormat(chineseFormat);
            }
        }
        // The block's own character format sizes its empty line.
        QTextCharFormat blockFormat = block.charFormat();
        if (blockFormat.hasProperty(QTextFormat::FontPointSize)) {
            blockFormat.setProperty(QTextFormat::FontPixelSize,
                                    std::max(1, int(std::lround(blockFormat.fontPointSize() * dpi / 72.0))));
            blockFormat.clearProperty(QTextFormat::FontPointSize);
            cursor.setPosition(block.position());
            cursor.setBlockCharFormat(blockFormat);
        }
    }
}

} // namespace

// ---- replacements -------------------------------------------------------------------------

int lianbu::printing::replaceInDocument(QTextDocument *document, const QList<QPair<QString, QString>> &replacements)
{
    int count = 0;
    for (const auto &[placeholder, value] : replacements) {
        if (placeholder.isEmpty())
            continue;
        QTextCursor cursor(document);
        for (;;) {
            cursor = document->find(placeholder, cursor); // case-insensitive by default
            if (cursor.isNull())
                break;
            // The replacement takes the format of the placeholder's first character.
            QTextCursor first(document);
            first.setPosition(cursor.selectionStart() + 1);
            const QTextCharFormat format = first.charFormat();
            cursor.insertText(value, format);
            ++count;
        }
    }
    return count;
}

// ---- the generator ------------------------------------------------------------------------

class ReportGenerator
{
public:
    ReportGenerator(GridReport *component, PageStore *store, DataGrid *grid)
        : c(component)
        , store(store)
        , grid(grid)
        , ds(grid->dataSet())
    {}

    void layout();
    // Runs the body. Counting: nothing is drawn and pages are only counted.
    void run(bool countingPass);
    int countedPages() const { return pageNo; }
    void setDocuments(std::unique_ptr<QTextDocument> b, std::unique_ptr<QTextDocument> a)
    {
        before = std::move(b);
        after = std::move(a);
    }
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

    // geometry in layout units (printer pixels before the fit-to-width scale)
    double areaTop() const { return headerHeight; }
    double areaBottom() const { return H - footerHeight; }
    void beginPage(bool first);
    void newPage();
    void newGridPage();
    void drawColontitle(const PageHeaderFooter &block, const QFont &font, bool header);
    double colontitleHeight(const PageHeaderFooter &block, const QFont &font) const;
    void flowDocument(QTextDocument *doc);
    double rowHeight(int item);
    double textHeight(const QFont &font, const QString &text, double width, bool wrap) const;
    QString footerText(int footerRow, int column) const;
    const ColumnFooter *footerOf(int footerRow, int column) const;
    void titleLayout(Block &block);
    void drawTitleBar(const Block &block);
    void drawTitleRow(const Block &block);
    void drawItem(const Block &block, int item, double height);
    void drawCell(const QRectF &rect, const QColor &color, const QFont &font, const QString &text, Qt::Alignment align,
                  bool wrap);
    void afterCell();
    void checkData() const;

    GridReport *c;
    PageStore *store;
    QPointer<DataGrid> grid;
    lianbu::db::DataSet *ds;
    int recordCount = 0;
    QString sortAtStart;

    PrinterMetrics metrics;
    QRect body;
    double sx = 1, sy = 1, scale = 1, W = 0, H = 0;
    CellInsets ins;
    QPen framePen;
    bool colored = false, autoStretch = false, wrapRows = false;
    QList<GridColumn *> cols;
    QList<int> widths;
    QList<Block> blocks;
    QFont headerFont, footerFont, titleBarFont, gridFont;
    QList<QFont> cellFonts, titleFonts;
    double headerHeight = 0, footerHeight = 0, defaultRowHeight = 0;
    int footerRows = 0;
    std::vector<double> heights; // per item, 0 = not computed yet
    std::unique_ptr<QTextDocument> before, after;

    bool counting = false;
    QElapsedTimer eventClock;
    QPainter *p = nullptr;
    int pageNo = 0;
    double y = 0;
    int dataRows = 0;
};

void ReportGenerator::checkData() const
{
    // The operator may reopen or re-sort the list while pages are made; stop then rather than
    // print a mixture.
    if (!grid || !ds->active() || ds->recordCount() != recordCount || ds->sort() != sortAtStart)
        throw StopGeneration{};
}

void ReportGenerator::afterCell()
{
    if (counting)
        return;
    // Pending events are looked at after a cell once 10 ms have passed since the last look:
    // the window stays as responsive as with a look after every cell, at a fraction of the cost.
    if (!eventClock.isValid() || eventClock.elapsed() >= 10) {
        QCoreApplication::processEvents();
        eventClock.start();
        checkData();
    }
}

double ReportGenerator::textHeight(const QFont &font, const QString &text, double width, bool wrap) const
{
    return layoutText(nullptr, font, text, QRectF(0, 0, width, 0), Qt::AlignLeft, wrap);
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

void ReportGenerator::layout()
{
    recordCount = ds->recordCount();
    sortAtStart = ds->sort();
    metrics = store->metrics();
    const double u = marginDivisor(c->units == PrintUnits::MM);
    body = pageBody(metrics, c->page, u);
    sx = screenToPrinterFactor(grid->logicalDpiX(), metrics.dpiX);
    sy = screenToPrinterFactor(grid->logicalDpiY(), metrics.dpiY);
    ins = cellInsets(sx, sy, true);
    framePen = QPen(Qt::black, ins.line);
    colored = c->options.testFlag(PrintOption::Coloured);
    autoStretch = c->options.testFlag(PrintOption::RowAutoStretch);
    footerRows = grid->footerRowCount();

    const QString face = c->printFontName;
    headerFont = printFont(c->pageHeader.font, face, metrics.dpiY, sy);
    footerFont = printFont(c->pageFooter.font, face, metrics.dpiY, sy);
    titleBarFont = printFont(grid->titleFont(), face, metrics.dpiY, sy);
    gridFont = printFont(grid->dataFont(), face, metrics.dpiY, sy);

    cols = grid->visibleColumns();
    widths.clear();
    cellFonts.clear();
    titleFonts.clear();
    for (GridColumn *col : cols) {
        cellFonts << printFont(col->font(), face, metrics.dpiY, sy);
        titleFonts << printFont(col->title()->font(), face, metrics.dpiY, sy);
        widths << printedColumnWidth(col->width(), sx);
    }

    if (c->options.testFlag(PrintOption::OptimalColumnWidths)) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        for (int i = 0; i < cols.size(); ++i) {
            const QFontMetricsF titleFm(titleFonts[i]);
            const QFontMetricsF cellFm(cellFonts[i]);
            double w = 0;
            for (const QString &level : cols[i]->title()->caption().split(QLatin1Char('|')))
                w = std::max(w, titleFm.horizontalAdvance(level));
            for (int row = 0; row < recordCount; ++row)
                w = std::max(w, cellFm.horizontalAdvance(grid->cellDisplayText(row, cols[i])));
            for (int f = 0; f < footerRows; ++f)
                if (const ColumnFooter *footer = footerOf(f, i))
                    w = std::max(w, QFontMetricsF(printFont(footer->font(), face, metrics.dpiY, sy))
                                        .horizontalAdvance(footerText(f, i)));
            widths[i] = int(std::ceil(w)) + 2 * ins.horizontal;
        }
        QGuiApplication::restoreOverrideCursor();
    }

    scale = 1.0;
    if (c->options.testFlag(PrintOption::FitToPageWidth)) {
        if (c->options.testFlag(PrintOption::FitByColumnWidths))
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

    headerHeight = colontitleHeight(c->pageHeader, headerFont);
    footerHeight = colontitleHeight(c->pageFooter, footerFont);

    const QFontMetricsF fm(gridFont);
    if (grid->rowHeight() > 0 || grid->rowLines() > 0)
        defaultRowHeight =
            std::max(1, grid->rowLines()) * (fm.height() + fm.leading()) + std::lround(grid->rowHeight() * sy);
    else
        defaultRowHeight = lineHeight(gridFont) + 2 * ins.vertical;
    wrapRows = autoStretch || defaultRowHeight > lineHeight(gridFont) + 2 * ins.vertical + 0.5;
    heights.assign(size_t(recordCount + footerRows), 0.0);

    c->m_layout.body = body;
    c->m_layout.scale = scale;
    c->m_layout.columnWidths = widths;
    c->m_layout.blocks = split;
}

void ReportGenerator::titleLayout(Block &b)
{
    const bool multi = grid->useMultiTitle();
    const double barMargin = multi ? std::lround(grid->vTitleMargin() * sy / 2.0) : ins.vertical;
    const QString title = c->title.join(QLatin1Char('\n'));
    b.titleBarHeight =
        title.isEmpty() ? 0 : textHeight(titleBarFont, title, b.width - 2 * ins.horizontal, true) + 2 * barMargin;

    double tallest = 0;
    if (multi) {
        const double levelMargin = std::lround(grid->vTitleMargin() * sy);
        const double cut = std::lround(4 * sx);
        for (int pos = 0; pos < b.columns.size(); ++pos) {
            const int i = b.columns[pos];
            const QStringList levels = cols[i]->title()->caption().split(QLatin1Char('|'));
            double stack = 0;
            for (int k = 0; k < levels.size(); ++k) {
                double span = widths[i];
                if (k < levels.size() - 1) {
                    // a shared upper level spans its neighbours with the same upper captions
                    const QStringList prefix = levels.mid(0, k + 1);
                    for (int q = pos - 1; q >= 0; --q) {
                        const QStringList other = cols[b.columns[q]]->title()->caption().split(QLatin1Char('|'));
                        if (other.size() <= k + 1 || other.mid(0, k + 1) != prefix)
                            break;
                        span += widths[b.columns[q]];
                    }
                    for (int q = pos + 1; q < b.columns.size(); ++q) {
                        const QStringList other = cols[b.columns[q]]->title()->caption().split(QLatin1Char('|'));
                        if (other.size() <= k + 1 || other.mid(0, k + 1) != prefix)
                            break;
                        span += widths[b.columns[q]];
                    }
                }
                stack += textHeight(titleFonts[i], levels[k], span - cut, true) + levelMargin;
            }
            tallest = std::max(tallest, stack);
        }
    } else {
        for (int i : b.columns) {
            const QFontMetricsF fm(titleFonts[i]);
            if (grid->titleHeight() > 0 || grid->titleLines() > 0)
                tallest = std::max(tallest, std::max(1, grid->titleLines()) * fm.height() + fm.leading()
                                                + std::lround(grid->titleHeight() * sy) + ins.vertical);
            else
                tallest = std::max(tallest, textHeight(titleFonts[i], cols[i]->title()->caption(), 1e9, false)
                                                + 2 * ins.vertical);
        }
    }
    b.titleRowHeight = b.columns.isEmpty() ? 0 : tallest;
}

const ColumnFooter *ReportGenerator::footerOf(int footerRow, int column) const
{
    return cols[column]->footerForRow(footerRow);
}

QString ReportGenerator::footerText(int footerRow, int column) const
{
    const ColumnFooter *footer = footerOf(footerRow, column);
    if (!footer)
        return QString();
    switch (footer->valueType()) {
    case FooterValue::StaticText:
        return footer->value();
    case FooterValue::Count:
        return QString::number(recordCount);
    case FooterValue::Sum: {
        const QString name = footer->fieldName().isEmpty() ? cols[column]->fieldName() : footer->fieldName();
        const lianbu::db::Field *field = ds->findField(name);
        if (!field)
            return QString();
        double sum = 0;
        for (int row = 0; row < recordCount; ++row) {
            if (ds->cellIsNull(row, field->index()))
                continue;
            const QString text = ds->cellText(row, field->index()).trimmed();
            if (!text.isEmpty())
                sum += text.toDouble();
        }
        return QString::number(sum, 'g', 15);
    }
    default:
        return grid->footerDisplayText(footerRow, cols[column]);
    }
}

double ReportGenerator::rowHeight(int item)
{
    double &h = heights[size_t(item)];
    if (h > 0)
        return h;
    h = defaultRowHeight;
    if (wrapRows) {
        for (int i = 0; i < cols.size(); ++i) {
            const double w = widths[i] - 2 * ins.horizontal;
            double t;
            if (item < recordCount) {
                t = textHeight(cellFonts[i], grid->cellDisplayText(item, cols[i]), w, true);
            } else {
                const ColumnFooter *footer = footerOf(item - recordCount, i);
                const QFont font = footer ? printFont(footer->font(), c->printFontName, metrics.dpiY, sy) : gridFont;
                t = textHeight(font, footerText(item - recordCount, i), w, true);
            }
            h = std::max(h, t + 2 * ins.vertical);
        }
    }
    return h;
}

void ReportGenerator::beginPage(bool first)
{
    if (counting) {
        p = nullptr;
        if (!first)
            ++pageNo;
    } else {
        if (!first)
            store->newPage();
        pageNo = store->pageNumber();
        p = store->canvas();
        p->setRenderHint(QPainter::Antialiasing, false);
        p->translate(body.left(), body.top());
        p->scale(scale, scale);
    }
    macros.page = pageNo;
    y = areaTop();
    drawColontitle(c->pageHeader, headerFont, true);
    drawColontitle(c->pageFooter, footerFont, false);
}

void ReportGenerator::newPage()
{
    beginPage(false);
}

void ReportGenerator::newGridPage()
{
    if (store->stopRequested())
        throw StopGeneration{};
    newPage();
}

void ReportGenerator::drawColontitle(const PageHeaderFooter &block, const QFont &font, bool header)
{
    if (!p)
        return;
    const double h = header ? headerHeight : footerHeight;
    if (h <= 0)
        return;
    int lines = 0;
    for (const QString *text : {&block.leftText, &block.centerText, &block.rightText})
        if (!text->isEmpty())
            lines = std::max(lines, int(text->count(QLatin1Char('\n'))) + 1);
    const double textH = lines * lineHeight(font);
    const double gap = metrics.dpiY / 20.0;
    const double top = header ? 0 : H - h;
    if (lines > 0) {
        const double textTop = header ? top : H - textH;
        const QRectF r(0, textTop, W, textH);
        p->setPen(Qt::black);
        layoutText(p, font, expandMacros(block.leftText, macros), r, Qt::AlignLeft | Qt::AlignTop, false);
        layoutText(p, font, expandMacros(block.centerText, macros), r, Qt::AlignHCenter | Qt::AlignTop, false);
        layoutText(p, font, expandMacros(block.rightText, macros), r, Qt::AlignRight | Qt::AlignTop, false);
    }
    if (block.lineType == RuleLine::None)
        return;
    p->setPen(QPen(Qt::black, ins.line));
    // The line next to the grid lies 1/20 inch from the block's edge that faces the grid.
    const double inner = header ? top + h - gap : top + gap;
    p->drawLine(QPointF(0, inner), QPointF(W, inner));
    if (block.lineType == RuleLine::Double) {
        const double outer = header ? inner - metrics.dpiY / 30.0 : inner + metrics.dpiY / 30.0;
        p->drawLine(QPointF(0, outer), QPointF(W, outer));
    }
}

void ReportGenerator::flowDocument(QTextDocument *doc)
{
    if (!doc || doc->isEmpty())
        return;
    doc->setDocumentMargin(0);
    doc->setTextWidth(W);
    const double docHeight = doc->documentLayout()->documentSize().height();
    // the bottoms of all lines, where a page may break
    std::vector<double> breaks;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QRectF br = doc->documentLayout()->blockBoundingRect(block);
        QTextLayout *tl = block.layout();
        for (int i = 0; i < tl->lineCount(); ++i) {
            const QTextLine line = tl->lineAt(i);
            breaks.push_back(br.top() + line.y() + line.height());
        }
        breaks.push_back(br.bottom());
    }
    std::sort(breaks.begin(), breaks.end());
    double pos = 0;
    while (pos < docHeight - 0.5) {
        const double room = areaBottom() - y;
        double cut = pos;
        for (double b : breaks)
            if (b > pos + 0.5 && b <= pos + room)
                cut = b;
        if (pos + room >= docHeight)
            cut = docHeight;
        if (cut <= pos) {
            if (y > areaTop() + 0.5) {
                newPage();
                continue;
            }
            cut = pos + room; // a line taller than a page is cut
        }
        if (p) {
            p->save();
            p->translate(0, y - pos);
            doc->drawContents(p, QRectF(0, pos, W, cut - pos));
            p->restore();
        }
        y += cut - pos;
        pos = cut;
        if (pos < docHeight - 0.5)
            newPage();
    }
}

void ReportGenerator::drawCell(const QRectF &rect, const QColor &color, const QFont &font, const QString &text,
                               Qt::Alignment align, bool wrap)
{
    if (!p)
        return;
    // the paper is white: only coloured cells need filling (keeps the recorded pages small)
    if (colored && color.isValid() && color != QColor(Qt::white))
        p->fillRect(rect, color);
    p->setPen(framePen);
    p->drawRect(rect);
    if (!text.isEmpty()) {
        const QRectF inner = rect.adjusted(ins.horizontal, ins.vertical, -ins.horizontal, -ins.vertical);
        // clip only what may spill over: a cut row, or a line wider than its cell
        const bool mayOverflow = textHeight(font, text, inner.width(), wrap) > inner.height() + 0.5
                                 || (!wrap && QFontMetricsF(font).horizontalAdvance(text) > inner.width());
        if (mayOverflow) {
            p->save();
            p->setClipRect(rect);
        }
        p->setPen(Qt::black);
        layoutText(p, font, text, inner, align, wrap);
        if (mayOverflow)
            p->restore();
    }
    afterCell();
}

void ReportGenerator::drawTitleBar(const Block &b)
{
    if (b.titleBarHeight <= 0)
        return;
    if (p) {
        const QRectF r(0, y, b.width, b.titleBarHeight);
        p->fillRect(r, colored ? grid->fixedColor() : QColor(Qt::white));
        p->setPen(QPen(Qt::black, ins.line));
        p->drawRect(r);
        p->setPen(Qt::black);
        layoutText(p, titleBarFont, c->title.join(QLatin1Char('\n')), r.adjusted(ins.horizontal, 0, -ins.horizontal, 0),
                   Qt::AlignCenter, true);
    }
    y += b.titleBarHeight;
}

void ReportGenerator::drawTitleRow(const Block &b)
{
    if (b.titleRowHeight <= 0)
        return;
    const double bottom = y + b.titleRowHeight;
    if (p) {
        double x = 0;
        const bool multi = grid->useMultiTitle();
        const double levelMargin = std::lround(grid->vTitleMargin() * sy);
        const double cut = std::lround(4 * sx);
        std::map<QString, bool> drawnGroups;
        for (int pos = 0; pos < b.columns.size(); ++pos) {
            const int i = b.columns[pos];
            const ColumnTitle *title = cols[i]->title();
            const QColor color = title->color();
            const Qt::Alignment align = title->alignment();
            if (!multi) {
                drawCell(QRectF(x, y, widths[i], b.titleRowHeight), color, titleFonts[i], title->caption(), align,
                         false);
                x += widths[i];
                continue;
            }
            const QStringList levels = title->caption().split(QLatin1Char('|'));
            double top = y;
            for (int k = 0; k < levels.size() - 1; ++k) {
                // the group of neighbours sharing this upper level
                const QStringList prefix = levels.mid(0, k + 1);
                int first = pos, last = pos;
                auto sameGroup = [&](int q) {
                    const QStringList other = cols[b.columns[q]]->title()->caption().split(QLatin1Char('|'));
                    return other.size() > k + 1 && other.mid(0, k + 1) == prefix;
                };
                while (first > 0 && sameGroup(first - 1))
                    --first;
                while (last + 1 < b.columns.size() && sameGroup(last + 1))
                    ++last;
                double gx = 0, span = 0;
                for (int q = 0; q < first; ++q)
                    gx += widths[b.columns[q]];
                for (int q = first; q <= last; ++q)
                    span += widths[b.columns[q]];
                const double h = textHeight(titleFonts[i], levels[k], span - cut, true) + levelMargin;
                const QString key = QStringLiteral("%1/%2").arg(k).arg(first);
                if (!drawnGroups[key]) {
                    drawnGroups[key] = true;
                    drawCell(QRectF(gx, top, span, h), color, titleFonts[i], levels[k], Qt::AlignCenter, true);
                }
                top += h;
            }
            drawCell(QRectF(x, top, widths[i], bottom - top), color, titleFonts[i], levels.back(), align, true);
            x += widths[i];
        }
    }
    y = bottom;
}

void ReportGenerator::drawItem(const Block &b, int item, double height)
{
    double x = 0;
    for (int i : b.columns) {
        const QRectF r(x, y, widths[i], height);
        if (item < recordCount) {
            drawCell(r, grid->cellColor(item, cols[i]), cellFonts[i],
                     p ? grid->cellDisplayText(item, cols[i]) : QString(), cols[i]->alignment(), wrapRows);
        } else {
            const int f = item - recordCount;
            const ColumnFooter *footer = footerOf(f, i);
            const ColumnFooter *look = footer ? footer : cols[i]->footer();
            drawCell(r, look->color(), printFont(look->font(), c->printFontName, metrics.dpiY, sy),
                     p ? footerText(f, i) : QString(), look->alignment(), wrapRows);
        }
        x += widths[i];
    }
    y += height;
}

void ReportGenerator::run(bool countingPass)
{
    counting = countingPass;
    pageNo = 1;
    dataRows = 0;
    beginPage(true);

    flowDocument(before.get());

    const int total = recordCount + footerRows;
    double headMax = 0;
    for (const Block &b : blocks)
        headMax = std::max(headMax, b.titleBarHeight + b.titleRowHeight);

    if (store->stopRequested() && !counting)
        throw StopGeneration{};
    int start = 0;
    for (;;) {
        const double firstRow = start < total ? rowHeight(start) : 0;
        if (y > areaTop() + 0.5 && y + headMax + firstRow > areaBottom()) {
            newGridPage(); // no room left below what came before
            continue;
        }
        int end = start;
        double yy = y + headMax;
        while (end < total && yy + rowHeight(end) <= areaBottom()) {
            yy += rowHeight(end);
            ++end;
        }
        if (end == start && start < total)
            end = start + 1; // a row taller than the page: cut at the page's bottom
        const double top = y;
        for (int bi = 0; bi < blocks.size(); ++bi) {
            if (bi > 0)
                newGridPage();
            else
                y = top;
            const Block &b = blocks[bi];
            drawTitleBar(b);
            drawTitleRow(b);
            for (int item = start; item < end; ++item) {
                const double h = std::min(rowHeight(item), std::max(1.0, areaBottom() - y));
                drawItem(b, item, h);
            }
        }
        for (int item = start; item < end; ++item)
            if (item < recordCount)
                ++dataRows;
        start = end;
        if (start >= total)
            break;
        newGridPage();
    }

    flowDocument(after.get());
}

// ---- GridReport -----------------------------------------------------------------------

GridReport::GridReport(QObject *parent)
    : QObject(parent)
    , m_before(std::make_unique<QTextDocument>())
    , m_after(std::make_unique<QTextDocument>())
{
    pageHeader.font = QFont(QStringLiteral("MS Sans Serif"));
    pageHeader.font.setPointSize(8);
    pageFooter.font = pageHeader.font;
}

GridReport::~GridReport() = default;

void GridReport::setTextReplacements(const QList<QPair<QString, QString>> &replacements)
{
    m_replacements = replacements;
}

PrintPreviewWindow *GridReport::previewForm()
{
    return PrintPreviewWindow::instance();
}

void GridReport::showPrintPreview()
{
    if (!m_grid || !m_grid->dataSource() || !m_grid->dataActive())
        return;
    PrintPreviewWindow *form = previewForm();
    generate(form->store());
}

bool GridReport::editPrintSettings()
{
    PrintSettingsDialog *dialog = PrintSettingsDialog::instance();
    return dialog->edit(this);
}

int GridReport::generate(PageStore *store)
{
    if (!m_grid || !m_grid->dataSource() || !m_grid->dataActive() || !store)
        return 0;
    // A print command arriving while pages are being made (events are processed between
    // cells) is ignored rather than nested.
    if (m_running || store->printing())
        return 0;
    lianbu::db::DataSet *ds = m_grid->dataSet();
    m_running = true;
    m_layout = LayoutInfo{};

    ReportGenerator gen(this, store, m_grid);
    gen.macros.date = lianbu::today();
    gen.macros.time = lianbu::now().time();
    gen.macros.pages = 1;

    store->beginDoc();
    const lianbu::db::Bookmark bookmark = ds->bookmark();
    std::unique_ptr<QTextDocument> keptBefore, keptAfter;
    if (!m_replacements.isEmpty()) {
        keptBefore.reset(m_before->clone());
        keptAfter.reset(m_after->clone());
        lianbu::printing::replaceInDocument(m_before.get(), m_replacements);
        lianbu::printing::replaceInDocument(m_after.get(), m_replacements);
    }
    ds->disableControls();
    {
        // Puts everything back however generation ends.
        struct Finish
        {
            GridReport *self;
            PageStore *store;
            lianbu::db::DataSet *ds;
            QPointer<DataGrid> grid;
            lianbu::db::Bookmark bookmark;
            std::unique_ptr<QTextDocument> &keptBefore, &keptAfter;
            ~Finish()
            {
                if (keptBefore)
                    self->m_before.swap(keptBefore);
                if (keptAfter)
                    self->m_after.swap(keptAfter);
                try {
                    if (ds->active() && ds->bookmarkValid(bookmark))
                        ds->gotoBookmark(bookmark);
                } catch (...) {
                }
                ds->enableControls();
                store->setPrintComponent(self);
                store->endDoc();
                self->m_running = false;
            }
        } finish{this, store, ds, m_grid, bookmark, keptBefore, keptAfter};

        if (!ds->isEmpty())
            ds->first();
        store->setTitle(QStringLiteral("列表信息"));

        auto prepareTexts = [&] {
            const int dpi = store->metrics().dpiY;
            std::unique_ptr<QTextDocument> b(m_before->clone()), a(m_after->clone());
            toDevicePixels(b.get(), dpi);
            toDevicePixels(a.get(), dpi);
            return std::make_pair(std::move(b), std::move(a));
        };
        try {
            gen.layout();
            {
                auto docs = prepareTexts();
                gen.setDocuments(std::move(docs.first), std::move(docs.second));
            }
            const bool countPages = asksForPageCount(pageHeader.leftText) || asksForPageCount(pageHeader.centerText)
                                    || asksForPageCount(pageHeader.rightText) || asksForPageCount(pageFooter.leftText)
                                    || asksForPageCount(pageFooter.centerText)
                                    || asksForPageCount(pageFooter.rightText);
            if (countPages) {
                QGuiApplication::setOverrideCursor(Qt::WaitCursor);
                try {
                    gen.run(true);
                } catch (...) {
                    QGuiApplication::restoreOverrideCursor();
                    throw;
                }
                QGuiApplication::restoreOverrideCursor();
                m_layout.pagesCounted = gen.countedPages();
                gen.macros.pages = gen.countedPages();
                gen.macros.date = lianbu::today();
                gen.macros.time = lianbu::now().time();
                if (!ds->isEmpty())
                    ds->first();
            }
            gen.run(false);
        } catch (const StopGeneration &) {
        }
        m_layout.dataRowsPrinted = gen.rowsPrinted();
    }
    return store->pageCount();
}
