#pragma once

#include "db/ListRows.h"
#include "printing/PrintLayout.h"
#include "stats/Counts.h"
#include "stats/StatisticsChart.h"

#include <QImage>
#include <QString>

#include <memory>
#include <vector>

class GridReport;

namespace lianbu::stats {

// The printout of a view: its title and the date, the chart as wide as the page, and the table
// behind it below, carried over as many pages as it needs, through the list printing's report
// (so the print preview, the printer and its PDF treat it as any printed list). The chart is
// drawn for the page: its texts print at the point sizes they have on screen, and the title is
// printed once, above it.
class StatisticsPrint
{
public:
    StatisticsPrint(const std::vector<CountRow> &rows, View view, ChartKind kind, QString title);
    ~StatisticsPrint();

    // Sets `report` up for pages of `metrics` (the store's next document). The print must outlive
    // the report's generations.
    void setUp(GridReport &report, const printing::PrinterMetrics &metrics);
    const db::RowReader &rows() const { return *m_rows; }
    // The chart of the last setUp, and its width on the page in printer pixels.
    const QImage &chart() const { return m_chart; }
    qreal printedChartWidth() const { return m_printedWidth; }

private:
    std::vector<CountRow> m_counts;
    View m_view;
    ChartKind m_kind;
    QString m_title;
    qreal m_printedWidth = 0;
    qint64 m_total = 0;
    QImage m_chart;
    std::unique_ptr<db::RowReader> m_rows;
};

} // namespace lianbu::stats
