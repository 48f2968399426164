#include "printing/ReportGenerator.h"

#include "grid/TitleLevels.h"
#include "printing/PageStore.h"
#include "printing/ReportText.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace lianbu::printing {

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
    drawColontitle(c.pageHeader, headerFont, true);
    drawColontitle(c.pageFooter, footerFont, false);
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
                               Qt::Alignment align, bool wrap, const CellMeasure *measure)
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
        CellMeasure known = measure ? *measure : CellMeasure{};
        if (known.height < 0)
            known.height = textHeight(font, text, inner.width(), wrap, &known.advance);
        const bool mayOverflow = known.height > inner.height() + 0.5
                                 || (!wrap && QFontMetricsF(font).horizontalAdvance(text) > inner.width());
        if (mayOverflow) {
            p->save();
            p->setClipRect(rect);
        }
        p->setPen(Qt::black);
        layoutText(p, font, text, inner, align, wrap, known.advance);
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
        p->fillRect(r, colored ? look.fixedColor : QColor(Qt::white));
        p->setPen(QPen(Qt::black, ins.line));
        p->drawRect(r);
        p->setPen(Qt::black);
        layoutText(p, titleBarFont, c.title.join(QLatin1Char('\n')), r.adjusted(ins.horizontal, 0, -ins.horizontal, 0),
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
        const double levelMargin = std::lround(look.vTitleMargin * sy);
        const double cut = std::lround(4 * sx);
        QStringList captions;
        for (int i : b.columns)
            captions << cols[size_t(i)]->title;
        const QList<gridtitles::TitleCell> cells =
            multiTitles ? gridtitles::layoutTitleCells(captions, true, nullptr) : QList<gridtitles::TitleCell>();
        for (int pos = 0; pos < b.columns.size(); ++pos) {
            const int i = b.columns[pos];
            const QColor color = colLooks[size_t(i)]->titleColor;
            const Qt::Alignment align = cols[size_t(i)]->titleAlignment;
            if (!multiTitles) {
                drawCell(QRectF(x, y, widths[i], b.titleRowHeight), color, titleFonts[i], cols[size_t(i)]->title, align,
                         false);
                x += widths[i];
                continue;
            }
            // The column's upper levels, each a cell over the neighbours sharing it, drawn once
            // by the group's first column; then its own last level down to the bottom.
            double top = y;
            const int ownLevel = int(titleOf(i).size()) - 1;
            const gridtitles::TitleCell *own = nullptr;
            for (const gridtitles::TitleCell &cell : cells) {
                if (cell.firstColumn > pos || cell.lastColumn < pos)
                    continue;
                if (cell.level == ownLevel) {
                    own = &cell;
                    continue;
                }
                double gx = 0, span = 0;
                for (int q = 0; q < cell.firstColumn; ++q)
                    gx += widths[b.columns[q]];
                for (int q = cell.firstColumn; q <= cell.lastColumn; ++q)
                    span += widths[b.columns[q]];
                const double h = textHeight(titleFonts[i], cell.text, span - cut, true) + levelMargin;
                if (cell.firstColumn == pos)
                    drawCell(QRectF(gx, top, span, h), color, titleFonts[i], cell.text, Qt::AlignCenter, true);
                top += h;
            }
            if (own)
                drawCell(QRectF(x, top, widths[i], bottom - top), color, titleFonts[i], own->text, align, true);
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
            const QColor &alternate = (item + 1) % 2 == 1 ? look.oddRowColor : look.evenRowColor;
            drawCell(r, alternate.isValid() ? alternate : colLooks[size_t(i)]->color, cellFonts[i],
                     p ? cellText(item, i) : QString(), cols[size_t(i)]->alignment, wrapRows, measuredCell(item, i));
        } else {
            const int f = item - recordCount;
            const FooterLook &footer = footerLook(f, i);
            drawCell(r, footer.color, printFont(footer.font, c.printFontName, metrics.dpiY, sy),
                     p ? footerText(f, i) : QString(), footer.alignment, wrapRows);
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

} // namespace lianbu::printing
