#pragma once

#include "stats/Counts.h"

#include <QString>

#include <vector>

QT_BEGIN_NAMESPACE
class QChart;
QT_END_NAMESPACE

namespace lianbu::stats {

enum class ChartKind { Bars, Pie, Line };

// At most this many bars or slices: the rest stay in the table (and in one 其他 slice of a pie).
inline constexpr int kChartEntries = 20;

struct ChartPicture
{
    QChart *chart = nullptr; // owned by the caller (a chart view takes it over)
    // The row of the counts behind each bar, slice or point; -1 for the 其他 slice.
    std::vector<int> rowOfEntry;
};

// The chart of a view's counts, drawn as on paper (white ground, black text in the program's
// font), so it reads the same in every skin, on screen, in a PNG or PDF and printed.
ChartPicture makeChart(const std::vector<CountRow> &rows, ChartKind kind, const QString &title);

// The label of a row as the chart and the table show it (a city with its province).
QString rowLabel(const CountRow &row);

} // namespace lianbu::stats
