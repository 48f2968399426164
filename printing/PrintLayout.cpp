#include "printing/PrintLayout.h"

#include "platform/Clock.h"

#include <QFont>
#include <QFontDatabase>
#include <QLocale>
#include <QPageLayout>
#include <QPrinter>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace lianbu::printing {

PrinterMetrics virtualPageMetrics()
{
    return PrinterMetrics{};
}

PrinterMetrics printerMetrics(const QPrinter &printer)
{
    PrinterMetrics m;
    const int resolution = printer.resolution();
    const QPageLayout layout = printer.pageLayout();
    const QRect paint = layout.paintRectPixels(resolution);
    const QRect full = layout.fullRectPixels(resolution);
    m.dpiX = m.dpiY = resolution;
    m.printableWidth = paint.width();
    m.printableHeight = paint.height();
    m.offsetX = paint.left() - full.left();
    m.offsetY = paint.top() - full.top();
    return m;
}

double marginDivisor(bool metric)
{
    return metric ? 2.54 : 1.0;
}

QRect pageBody(const PrinterMetrics &m, const PageMargins &margins, double u)
{
    const int left = int(std::lround(m.dpiX * margins.left / u)) - m.offsetX;
    const int top = int(std::lround(m.dpiY * margins.top / u)) - m.offsetY;
    const int right = m.printableWidth + m.offsetX - int(std::lround(m.dpiX * margins.right / u));
    const int bottom = m.printableHeight + m.offsetY - int(std::lround(m.dpiY * margins.bottom / u));
    // QRect's right/bottom are inclusive; the body is the half-open range [left, right).
    return QRect(QPoint(left, top), QSize(std::max(right - left, 1), std::max(bottom - top, 1)));
}

double screenToPrinterFactor(int screenDpi, int printerDpi)
{
    screenDpi = std::max(screenDpi, 1);
    printerDpi = std::max(printerDpi, 1);
    return double(std::max(screenDpi, printerDpi)) / double(std::min(screenDpi, printerDpi));
}

CellInsets cellInsets(double sx, double sy, bool flatGrid)
{
    CellInsets c;
    c.horizontal = int(std::lround(2 * sx));
    c.line = std::max(1, int(std::lround(sx)));
    c.vertical = flatGrid ? int(std::lround(sy)) : int(std::lround(2 * sy));
    return c;
}

int printedColumnWidth(int screenWidth, double sx)
{
    return int(std::lround((screenWidth + 1) * sx));
}

double fitScale(const QList<int> &widths, int lineWidth, int bodyWidth)
{
    const qint64 total = std::accumulate(widths.begin(), widths.end(), qint64(0)) + lineWidth;
    if (total <= bodyWidth || total <= 0)
        return 1.0;
    return double(bodyWidth) / double(total);
}

QList<int> fitColumnWidths(const QList<int> &widths, int bodyWidth, int dpiX, int dpiY)
{
    const qint64 total = std::accumulate(widths.begin(), widths.end(), qint64(0));
    if (widths.isEmpty() || total <= bodyWidth)
        return widths;
    const int a = int(std::lround((dpiX + dpiY) / 200.0));
    const qint64 target = std::max<qint64>(bodyWidth - a, widths.size());
    QList<int> out;
    qint64 used = 0;
    for (int i = 0; i < widths.size(); ++i) {
        int w = int(qint64(widths[i]) * target / total);
        if (i == widths.size() - 1)
            w = int(target - used);
        out << std::max(w, 1);
        used += w;
    }
    return out;
}

QList<QList<int>> columnBlocks(QList<int> &widths, int bodyWidth)
{
    QList<QList<int>> blocks;
    int x = 0;
    for (int i = 0; i < widths.size(); ++i) {
        widths[i] = std::min(widths[i], bodyWidth);
        if (blocks.isEmpty() || (x + widths[i] > bodyWidth && !blocks.back().isEmpty())) {
            blocks.append(QList<int>());
            x = 0;
        }
        blocks.back().append(i);
        x += widths[i];
    }
    return blocks;
}

double roundMargin(double value)
{
    return std::round(value * 10000.0) / 10000.0;
}

namespace {

struct Macro
{
    const char *name;
    int kind;
};
const Macro kMacros[] = {{"&[Pages]", 0}, {"&[Page]", 1},     {"&[ShortDate]", 2},
                         {"&[Date]", 3},  {"&[LongDate]", 4}, {"&[Time]", 5}};

QString macroValue(int kind, const MacroValues &v)
{
    switch (kind) {
    case 0:
        return QString::number(v.pages);
    case 1:
        return QString::number(v.page);
    case 2:
    case 3:
        return dateText(v.date);
    case 4:
        return QLocale::system().toString(v.date, QLocale::LongFormat);
    default:
        return v.time.toString(QStringLiteral("H:mm:ss"));
    }
}

} // namespace

QString expandMacros(const QString &text, const MacroValues &values)
{
    if (!text.contains(QLatin1Char('&')))
        return text;
    QString out;
    out.reserve(text.size() + 16);
    int i = 0;
    while (i < text.size()) {
        if (text.at(i) != QLatin1Char('&')) {
            out += text.at(i++);
            continue;
        }
        const bool escaped = i + 1 < text.size() && text.at(i + 1) == QLatin1Char('&');
        const int at = escaped ? i + 1 : i;
        bool matched = false;
        for (const Macro &m : kMacros) {
            const QString name = QString::fromLatin1(m.name);
            if (QStringView(text).mid(at).startsWith(name, Qt::CaseInsensitive)) {
                if (escaped)
                    out += text.mid(i, name.size() + 1); // stays as written
                else
                    out += macroValue(m.kind, values);
                i = at + int(name.size());
                matched = true;
                break;
            }
        }
        if (!matched)
            out += text.at(i++);
    }
    return out;
}

bool asksForPageCount(const QString &text)
{
    return text.contains(QStringLiteral("&[Pages]"), Qt::CaseSensitive);
}

QString chineseFallbackFamily()
{
    static const QString family = [] {
        const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
        for (const QString &preferred :
             {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")})
            if (chinese.contains(preferred))
                return preferred;
        return chinese.value(0);
    }();
    return family;
}

QFont printFont(const QFont &font, const QString &face, int dpiY, double sy)
{
    QFont f = font;
    QStringList families{face.isEmpty() ? font.family() : face};
    const QString chinese = chineseFallbackFamily();
    if (!chinese.isEmpty() && !families.contains(chinese))
        families << chinese;
    f.setFamilies(families);
    int px;
    if (font.pixelSize() > 0)
        px = int(std::lround(font.pixelSize() * sy));
    else
        px = int(std::lround(font.pointSizeF() * dpiY / 72.0));
    f.setPixelSize(std::max(px, 1));
    return f;
}

} // namespace lianbu::printing
