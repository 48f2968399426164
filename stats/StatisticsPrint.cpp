#include "stats/StatisticsPrint.h"

#include "platform/Clock.h"
#include "printing/GridReport.h"
#include "stats/StatisticsOutput.h"

#include <QApplication>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>

#include <algorithm>

namespace lianbu::stats {

namespace {

// Sizes of the list printing (and of the chart's drawing) are screen pixels of this resolution.
constexpr int kScreenDpi = 96;
// The most device pixels per chart pixel: sharp on paper (288 dpi), small enough to keep in the
// preview's pages.
constexpr qreal kMostChartPixelRatio = 3.0;
const QString kChartName = QStringLiteral("statistics-chart");

QTextCharFormat textFormat(qreal points, bool bold)
{
    QTextCharFormat format;
    format.setFontFamilies({QApplication::font().family()});
    format.setFontPointSize(points);
    format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    return format;
}

} // namespace

StatisticsPrint::StatisticsPrint(const std::vector<CountRow> &rows, View view, ChartKind kind, QString title)
    : m_counts(rows)
    , m_view(view)
    , m_kind(kind)
    , m_title(std::move(title))
    , m_rows(tableRows(tableCells(rows, view)))
{
    for (const CountRow &row : rows)
        m_total += row.count;
}

StatisticsPrint::~StatisticsPrint() = default;

void StatisticsPrint::setUp(GridReport &report, const printing::PrinterMetrics &metrics)
{
    report.options = PrintOptions(PrintOption::FitToPageWidth) | PrintOption::RowAutoStretch;
    report.units = PrintUnits::MM;
    report.page = printing::PageMargins{2.0, 2.0, 2.0, 2.0};
    report.printFontName = QApplication::font().family();
    report.title = {};
    QFont small = QApplication::font();
    small.setPointSize(8);
    report.pageHeader = PageHeaderFooter{};
    report.pageHeader.font = small;
    report.pageHeader.leftText = QStringLiteral("联簿宝 客户统计");
    report.pageHeader.rightText = QStringLiteral("第 &[Page] 页，共 &[Pages] 页");
    report.pageHeader.lineType = RuleLine::Single;
    report.pageFooter = PageHeaderFooter{};
    report.pageFooter.font = small;

    // The page's body in printer pixels: the chart takes its whole width, the table too.
    const QRect body = printing::pageBody(metrics, report.page, printing::marginDivisor(true));
    const int screenWidth = std::max(200, body.width() * kScreenDpi / std::max(1, metrics.dpiX) - 4);
    const QStringList titles = tableTitles(m_view);
    const int labels = int(titles.size()) - 2;
    const int numberWidth = std::min(110, screenWidth / 5);
    const int labelWidth = (screenWidth - 2 * numberWidth) / std::max(1, labels);

    // Drawn as wide in screen pixels as the page's body, so that shown across the body a chart
    // pixel is a screen pixel and its 9-point labels print at 9 points (drawn at the size of the
    // saved picture and shrunk to the page, they printed at about 6). No title of its own: the
    // printout's title stands above it.
    const int screenHeight = body.height() * kScreenDpi / std::max(1, metrics.dpiY);
    const QSize chartSize(screenWidth, std::max(160, std::min(screenWidth * 2 / 3, screenHeight * 11 / 20)));
    const qreal ratio = std::clamp(qreal(metrics.dpiX) / kScreenDpi, 1.0, kMostChartPixelRatio);
    m_chart = chartImage(m_counts, m_kind, QString(), chartSize, ratio);

    QTextDocument *before = report.beforeGridText();
    before->clear();
    before->addResource(QTextDocument::ImageResource, QUrl(kChartName), m_chart);
    QTextCursor cursor(before);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.setBlockFormat(centred);
    cursor.insertText(m_title, textFormat(14, true));
    QTextBlockFormat left;
    left.setAlignment(Qt::AlignLeft);
    const bool followUps = m_view == View::FollowUpOperator || m_view == View::FollowUpMonth;
    cursor.insertBlock(left, textFormat(9, false));
    cursor.insertText(QStringLiteral("统计日期：%1    合计：%2 %3")
                          .arg(dateText(today()))
                          .arg(m_total)
                          .arg(followUps ? QStringLiteral("条跟进记录") : QStringLiteral("位客户")),
                      textFormat(9, false));
    cursor.insertBlock(centred);
    QTextImageFormat image;
    image.setName(kChartName);
    // In printer pixels: the report lays its texts out at the printer's resolution.
    m_printedWidth = qreal(chartSize.width()) * metrics.dpiX / kScreenDpi;
    image.setWidth(m_printedWidth);
    image.setHeight(m_printedWidth * chartSize.height() / chartSize.width());
    cursor.insertImage(image);
    cursor.insertBlock(left, textFormat(6, false));

    QTextDocument *after = report.afterGridText();
    after->clear();

    db::ListColumns columns = tableColumns(m_view, labelWidth, numberWidth);
    printing::ReportLook look;
    QFont font = QApplication::font();
    font.setPixelSize(13);
    QFont bold = font;
    bold.setBold(true);
    look.dataFont = font;
    look.titleFont = bold;
    look.fixedColor = QColor(230, 230, 230);
    for (size_t i = 0; i < columns.columns.size(); ++i) {
        printing::ColumnLook shown;
        shown.font = font;
        shown.color = Qt::white;
        shown.titleFont = bold;
        shown.titleColor = look.fixedColor;
        look.columns.push_back(std::move(shown));
    }
    report.setList(std::move(columns), std::move(look), m_rows.get());
}

} // namespace lianbu::stats
