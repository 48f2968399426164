#pragma once

#include "db/ListRows.h"
#include "export/ListExport.h"
#include "stats/Counts.h"
#include "stats/StatisticsChart.h"

#include <QImage>
#include <QSize>

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QWidget;

namespace lianbu::stats {

// The table behind a chart: its titles and one line of texts per row (label or province and
// city, the number, the share of the total).
QStringList tableTitles(View view);
std::vector<QStringList> tableCells(const std::vector<CountRow> &rows, View view);
// The table as a list the export and the printout read: its columns (`labelWidth` screen pixels
// for each label column, `numberWidth` for the number and the share) and its rows.
db::ListColumns tableColumns(View view, int labelWidth = 140, int numberWidth = 80);
std::unique_ptr<db::RowReader> tableRows(std::vector<QStringList> cells);

// The chart of `rows` as PNG or PDF (chosen by the name's ending), drawn at kChartFileSize; the
// file is replaced whole or not at all. Empty when written, otherwise why not (in Chinese).
inline constexpr QSize kChartFileSize{1200, 800};

// The chart drawn at `size` (pixels of a 96 dpi screen: its texts keep their point sizes when
// the picture is shown at that resolution) with `pixelRatio` device pixels per pixel.
QImage chartImage(const std::vector<CountRow> &rows, ChartKind kind, const QString &title, QSize size,
                  qreal pixelRatio);
QString writeChartFile(const std::vector<CountRow> &rows, ChartKind kind, const QString &title, const QString &path);

// 导出表格: the table as .xlsx or CSV through the export's steps (overwrite question, messages,
// the file opened afterwards). True when the file was written.
// `operatorName` is written as the sheet's author (制表人).
bool exportTable(const std::vector<CountRow> &rows, View view, const QString &title, const QString &operatorName,
                 const exchange::ExportTarget &target, QWidget *parent);
// The save dialog's filters of the chart.
QString chartFilters();

} // namespace lianbu::stats
