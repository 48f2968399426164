#pragma once

#include "export/ListExport.h"
#include "stats/Counts.h"
#include "stats/StatisticsChart.h"

#include <QSize>

#include <QString>
#include <QStringList>

#include <vector>

class QWidget;

namespace lianbu::stats {

// The table behind a chart: its titles and one line of texts per row (label or province and
// city, the number, the share of the total).
QStringList tableTitles(View view);
std::vector<QStringList> tableCells(const std::vector<CountRow> &rows, View view);

// The chart of `rows` as PNG or PDF (chosen by the name's ending), drawn at kChartFileSize; the
// file is replaced whole or not at all. Empty when written, otherwise why not (in Chinese).
inline constexpr QSize kChartFileSize{1200, 800};
QString writeChartFile(const std::vector<CountRow> &rows, ChartKind kind, const QString &title, const QString &path);

// 导出表格: the table as .xlsx or CSV through the export's steps (overwrite question, messages,
// the file opened afterwards). True when the file was written.
bool exportTable(const std::vector<CountRow> &rows, View view, const QString &title,
                 const exchange::ExportTarget &target, QWidget *parent);
// The save dialog's filters of the chart.
QString chartFilters();

} // namespace lianbu::stats
