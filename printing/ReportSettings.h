#pragma once

// What the operator sets for a printed list in "打印设置" and what the program sets up around
// it: fitting, colours, units, margins, the page header and footer, the print face, the title.

#include "printing/PrintLayout.h"

#include <QFlags>
#include <QFont>
#include <QString>
#include <QStringList>

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

struct ReportSettings
{
    PrintOptions options;
    PrintUnits units = PrintUnits::MM;
    lianbu::printing::PageMargins page;
    PageHeaderFooter pageHeader;
    PageHeaderFooter pageFooter;
    QString printFontName;
    QStringList title;
};
