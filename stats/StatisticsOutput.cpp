#include "stats/StatisticsOutput.h"

#include "db/ListRows.h"
#include "export/ExchangeFormats.h"
#include "export/ListExport.h"
#include "platform/AtomicFile.h"
#include "printing/PdfTextMaps.h"

#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QPixmap>
#include <QWidget>

namespace lianbu::stats {

namespace {

class TableRows final : public db::RowReader
{
public:
    explicit TableRows(std::vector<QStringList> cells)
        : m_cells(std::move(cells))
    {}
    int rowCount() const override { return int(m_cells.size()); }
    int currentRow() const override { return -1; }
    bool stale() const override { return false; }
    void readRows(int from, int to, const Visit &visit) const override
    {
        Cells cells;
        for (int r = std::max(0, from); r < to && r < rowCount(); ++r) {
            cells.texts = &m_cells[size_t(r)];
            visit(r, cells);
        }
    }

private:
    struct Cells final : db::RowCells
    {
        const QStringList *texts = nullptr;
        QStringView text(int valueIndex) const override { return texts->at(valueIndex); }
        bool isNull(int) const override { return false; }
    };
    std::vector<QStringList> m_cells;
};

} // namespace

QStringList tableTitles(View view)
{
    QStringList titles;
    switch (view) {
    case View::Category:
        titles << QStringLiteral("客户类别");
        break;
    case View::Province:
        titles << QStringLiteral("省份");
        break;
    case View::City:
        titles << QStringLiteral("省份") << QStringLiteral("城市");
        break;
    case View::AddedPerMonth:
    case View::FollowUpMonth:
        titles << QStringLiteral("月份");
        break;
    case View::FollowUpOperator:
        titles << QStringLiteral("操作员");
        break;
    case View::FollowUpAbsence:
        titles << QStringLiteral("跟进情况");
        break;
    }
    const bool followUps = view == View::FollowUpOperator || view == View::FollowUpMonth;
    titles << (followUps ? QStringLiteral("跟进次数") : QStringLiteral("客户数")) << QStringLiteral("占比");
    return titles;
}

db::ListColumns tableColumns(View view, int labelWidth, int numberWidth)
{
    const QStringList titles = tableTitles(view);
    db::ListColumns columns;
    for (int k = 0; k < int(titles.size()); ++k) {
        const bool number = k + 2 >= int(titles.size()); // the number and the share
        db::ListColumn column;
        column.fieldName = titles[k];
        column.valueIndex = k;
        column.title = titles[k];
        column.width = number ? numberWidth : labelWidth;
        if (number)
            column.alignment = Qt::AlignRight | Qt::AlignVCenter;
        columns.columns.push_back(column);
    }
    return columns;
}

std::unique_ptr<db::RowReader> tableRows(std::vector<QStringList> cells)
{
    return std::make_unique<TableRows>(std::move(cells));
}

std::vector<QStringList> tableCells(const std::vector<CountRow> &rows, View view)
{
    qint64 total = 0;
    for (const CountRow &row : rows)
        total += row.count;
    std::vector<QStringList> cells;
    for (const CountRow &row : rows) {
        QStringList line;
        if (view == View::City)
            line << row.group;
        line << row.label << QString::number(row.count)
             << (total ? QStringLiteral("%1%").arg(100.0 * double(row.count) / double(total), 0, 'f', 1) : QString());
        cells.push_back(line);
    }
    return cells;
}

namespace {

// Drawn afresh at one size, so the picture does not depend on how large the window is.
void prepareChartView(QChartView &view, const std::vector<CountRow> &rows, ChartKind kind, const QString &title,
                      QSize size = kChartFileSize)
{
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.setRenderHint(QPainter::Antialiasing);
    view.setChart(makeChart(rows, kind, title).chart);
    view.resize(size);
}

} // namespace

QImage chartImage(const std::vector<CountRow> &rows, ChartKind kind, const QString &title, QSize size, qreal pixelRatio)
{
    QChartView view;
    prepareChartView(view, rows, kind, title, size);
    QImage image(size * pixelRatio, QImage::Format_RGB32);
    image.setDevicePixelRatio(pixelRatio);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    static_cast<QWidget &>(view).render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    painter.end();
    return image;
}

QString writeChartFile(const std::vector<CountRow> &rows, ChartKind kind, const QString &title, const QString &path)
{
    QChartView view;
    prepareChartView(view, rows, kind, title);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0) {
        QPdfWriter pdf(&buffer);
        pdf.setTitle(title);
        pdf.setCreator(QStringLiteral("联簿宝"));
        pdf.setPageOrientation(QPageLayout::Landscape);
        pdf.setResolution(150);
        QPainter painter(&pdf);
        // Vectors, scaled to the page with the proportions kept.
        const QRect page = painter.viewport();
        const QSize size = view.size().scaled(page.size(), Qt::KeepAspectRatio);
        painter.setViewport(QRect(page.topLeft(), size));
        painter.setWindow(view.rect());
        static_cast<QWidget &>(view).render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
        painter.end();
        // Otherwise a reader would extract 户 and 乙 of the labels as look-alike radicals.
        printing::mendTextMapsWithInstalledFaces(&bytes);
    } else if (!view.grab().save(&buffer, "PNG")) {
        return QStringLiteral("无法生成图片。");
    }
    buffer.close();
    if (!writeFileAtomically(path, bytes))
        return QStringLiteral("无法写入文件 %1。").arg(path);
    return {};
}

QString chartFilters()
{
    return QStringLiteral("PNG 图片 (*.png);;PDF 文件 (*.pdf)");
}

bool exportTable(const std::vector<CountRow> &rows, View view, const QString &title, const QString &operatorName,
                 const exchange::ExportTarget &target, QWidget *parent)
{
    const db::ListColumns columns = tableColumns(view);
    const TableRows table(tableCells(rows, view));
    const exchange::ListSheet sheet{title, QString(), QString(), operatorName, columns, table, tableTitles(view)};
    return exchange::exportListFile(sheet, target.format, target.path, parent);
}

} // namespace lianbu::stats
