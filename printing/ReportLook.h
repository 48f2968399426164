#pragma once

// How a list looks on screen, as a printout repeats it: fonts, colours, row and title heights,
// per shown column and per footer cell. The caller takes it from its view; the report reads it
// beside the list's column description (db/ListRows.h), one ColumnLook per shown column.

#include <QColor>
#include <QFont>
#include <Qt>

#include <vector>

namespace lianbu::printing {

struct FooterLook
{
    QFont font;
    QColor color;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

struct ColumnLook
{
    QFont font; // data cells
    QColor color;
    QFont titleFont;
    QColor titleColor;
    // By footer row, as the column's footers; `footer` for a row the column shows nothing in.
    std::vector<FooterLook> footers;
    FooterLook footer;
};

struct ReportLook
{
    int screenDpiX = 96; // the screen the sizes below are measured on
    int screenDpiY = 96;
    QFont dataFont;
    QFont titleFont; // the title bar above the column titles
    QColor fixedColor;
    // Alternating row background by row number (1-based); invalid: the column's colour.
    QColor oddRowColor;
    QColor evenRowColor;
    // 0/0: one text line; otherwise rowLines lines plus rowHeight pixels (the same for titles).
    int rowHeight = 0;
    int rowLines = 0;
    int titleHeight = 0;
    int titleLines = 0;
    int vTitleMargin = 10; // extra space per title level with multi-level titles
    std::vector<ColumnLook> columns;
};

} // namespace lianbu::printing
