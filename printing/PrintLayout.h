#pragma once

// The arithmetic of a printed grid report, kept free of widgets so it can be checked directly:
// page geometry, screen-to-printer factors, column widths and fitting, column blocks and the
// header/footer macros.

#include <QDate>
#include <QList>
#include <QRect>
#include <QString>
#include <QTime>

class QPrinter;
class QFont;

namespace lianbu::printing {

// What the layout needs to know of a printer, in its device pixels.
struct PrinterMetrics
{
    int dpiX = 600;
    int dpiY = 600;
    int printableWidth = 4676;
    int printableHeight = 6744;
    int offsetX = 130; // unprintable border left and right
    int offsetY = 150; // unprintable border top and bottom
    int paperWidth() const { return printableWidth + 2 * offsetX; }
    int paperHeight() const { return printableHeight + 2 * offsetY; }
    bool operator==(const PrinterMetrics &) const = default;
};

// The page used when no printer is installed: 600 dpi, 4676 x 6744 printable, border 130/150.
PrinterMetrics virtualPageMetrics();
// The metrics of a real printer (its resolution, printable area and unprintable border).
PrinterMetrics printerMetrics(const QPrinter &printer);

struct PageMargins
{
    double top = 2.0;
    double bottom = 2.0;
    double left = 2.0;
    double right = 2.0;
};

// Margin values are divided by this to give inches: 2.54 for centimetres, 1 for inches.
double marginDivisor(bool metric);

// The body of the page (inside the margins) in coordinates of the printable area.
QRect pageBody(const PrinterMetrics &metrics, const PageMargins &margins, double divisor);

// Screen-to-printer factor: the larger resolution divided by the smaller.
double screenToPrinterFactor(int screenDpi, int printerDpi);

struct CellInsets
{
    int horizontal = 0; // on each side of a text
    int vertical = 0;
    int line = 1; // grid-line width
};
CellInsets cellInsets(double sx, double sy, bool flatGrid);

// A grid column's printed width from its screen width.
int printedColumnWidth(int screenWidth, double sx);

// Fit-to-width by scaling: the factor (<= 1) that makes widths + one grid line fill the body;
// 1 when the grid already fits (a narrow grid is never enlarged).
double fitScale(const QList<int> &widths, int lineWidth, int bodyWidth);

// Fit-to-width by shrinking the columns: each width scaled by (body - a) / total with
// a = round((dx + dy) / 200); the last column takes the rounding remainder. Unchanged when
// the widths already fit.
QList<int> fitColumnWidths(const QList<int> &widths, int bodyWidth, int dpiX, int dpiY);

// Splits columns into blocks that each fit the body width. columns wider than the body are cut
// to it (in `widths`); a block starts at any column that would cross the right edge, except
// the first column of a block. Returns the column indices of each block, in order.
QList<QList<int>> columnBlocks(QList<int> &widths, int bodyWidth);

// Rounds to the four decimal places the margins are kept with.
double roundMargin(double value);

// The values header and footer macros are replaced with.
struct MacroValues
{
    int page = 1;
    int pages = 1;
    QDate date;
    QTime time;
};

// Replaces &[page], &[Pages], &[ShortDate], &[Date], &[LongDate] and &[Time], every
// occurrence and regardless of case; an occurrence preceded by an extra "&" stays as written.
QString expandMacros(const QString &text, const MacroValues &values);

// Whether a text asks for the page total (compared with case, as the counting pass requires).
bool asksForPageCount(const QString &text);

// `font` with the face replaced (when `face` is not empty) and its size expressed in pixels of
// a device with `dpiY` dots per inch; a size in screen pixels is converted with `sy`.
// The fallback face list puts a Chinese face right after the print face, so Chinese text always
// comes from one known face.
QFont printFont(const QFont &font, const QString &face, int dpiY, double sy);

// The face that supplies Chinese characters the print faces lack ("" when none is installed).
QString chineseFallbackFamily();

} // namespace lianbu::printing
