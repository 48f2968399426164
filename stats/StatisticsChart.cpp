#include "stats/StatisticsChart.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QFontMetricsF>
#include <QLegend>
#include <QLineSeries>
#include <QPieSeries>
#include <QPieSlice>
#include <QValueAxis>

#include <cmath>

#include <algorithm>

namespace lianbu::stats {

namespace {

QFont chartFont(int pointSize, bool bold = false)
{
    QFont font = QApplication::font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

void paperLook(QChart *chart, const QString &title)
{
    chart->setTheme(QChart::ChartThemeLight);
    chart->setBackgroundBrush(Qt::white);
    chart->setTitle(title);
    chart->setTitleFont(chartFont(12, true));
    chart->setTitleBrush(Qt::black);
    chart->legend()->setFont(chartFont(9));
    chart->legend()->setLabelColor(Qt::black);
    chart->setAnimationOptions(QChart::NoAnimation);
}

void styleAxis(QAbstractAxis *axis)
{
    axis->setLabelsFont(chartFont(9));
    axis->setLabelsBrush(QBrush(Qt::black));
}

// The numbers over the bars stand upright once they no longer fit side by side (twenty bars in
// a narrow window, on paper), decided again whenever the plot changes size.
void keepBarLabelsApart(QChart *chart, QBarSeries *bars, QBarSet *set)
{
    QObject::connect(chart, &QChart::plotAreaChanged, bars, [bars, set](const QRectF &plot) {
        const int n = set->count();
        if (n == 0)
            return;
        const QFontMetricsF metrics(set->labelFont());
        qreal widest = 0;
        for (int i = 0; i < n; ++i)
            widest = std::max(widest, metrics.horizontalAdvance(QString::number(qint64(set->at(i)))));
        // A little space between two numbers, so they do not read as one.
        const qreal angle = widest + metrics.averageCharWidth() > plot.width() / n ? -90 : 0;
        if (bars->labelsAngle() != angle)
            bars->setLabelsAngle(angle);
    });
}

} // namespace

QString rowLabel(const CountRow &row)
{
    if (row.group.isEmpty() || row.group == row.label)
        return row.label;
    return row.group + QStringLiteral(" ") + row.label;
}

ChartPicture makeChart(const std::vector<CountRow> &rows, ChartKind kind, const QString &title)
{
    ChartPicture picture;
    auto *chart = new QChart;
    picture.chart = chart;
    paperLook(chart, title);

    if (kind == ChartKind::Pie) {
        auto *series = new QPieSeries;
        qint64 rest = 0;
        const auto positive =
            std::count_if(rows.begin(), rows.end(), [](const CountRow &row) { return row.count > 0; });
        // Slices past the last that fits are taken together as one.
        const int own = positive <= kChartEntries ? kChartEntries : kChartEntries - 1;
        for (int r = 0; r < int(rows.size()); ++r) {
            if (rows[size_t(r)].count <= 0)
                continue;
            if (int(picture.rowOfEntry.size()) < own) {
                QPieSlice *slice = series->append(rowLabel(rows[size_t(r)]), qreal(rows[size_t(r)].count));
                slice->setLabelFont(chartFont(9));
                slice->setLabelBrush(QBrush(Qt::black));
                picture.rowOfEntry.push_back(r);
            } else {
                rest += rows[size_t(r)].count;
            }
        }
        if (rest > 0) {
            QPieSlice *slice = series->append(QStringLiteral("其他"), qreal(rest));
            slice->setLabelFont(chartFont(9));
            picture.rowOfEntry.push_back(-1);
        }
        qint64 total = 0;
        for (const CountRow &row : rows)
            total += std::max<qint64>(0, row.count);
        for (QPieSlice *slice : series->slices()) {
            slice->setLabel(QStringLiteral("%1 %2 (%3%)")
                                .arg(slice->label())
                                .arg(qint64(slice->value()))
                                .arg(total ? 100.0 * slice->value() / double(total) : 0.0, 0, 'f', 1));
            slice->setLabelVisible(series->count() <= 12);
        }
        chart->addSeries(series);
        chart->legend()->setAlignment(Qt::AlignRight);
        return picture;
    }

    QStringList categories;
    qint64 highest = 0;
    QAbstractSeries *series = nullptr;
    if (kind == ChartKind::Line) {
        auto *line = new QLineSeries;
        line->setPointsVisible(true);
        for (int r = 0; r < int(rows.size()); ++r) {
            line->append(qreal(r), qreal(rows[size_t(r)].count));
            categories << rowLabel(rows[size_t(r)]);
            highest = std::max(highest, rows[size_t(r)].count);
            picture.rowOfEntry.push_back(r);
        }
        series = line;
    } else {
        auto *set = new QBarSet(QStringLiteral("数量"));
        for (int r = 0; r < int(rows.size()) && r < kChartEntries; ++r) {
            *set << qreal(rows[size_t(r)].count);
            categories << rowLabel(rows[size_t(r)]);
            highest = std::max(highest, rows[size_t(r)].count);
            picture.rowOfEntry.push_back(r);
        }
        set->setLabelFont(chartFont(8));
        set->setLabelBrush(QBrush(Qt::black));
        auto *bars = new QBarSeries;
        bars->append(set);
        bars->setLabelsVisible(true);
        bars->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
        // Every digit of a count: the default rounds to six and writes a million as 1e+06.
        bars->setLabelsPrecision(15);
        keepBarLabelsApart(chart, bars, set);
        series = bars;
    }
    chart->addSeries(series);
    chart->legend()->hide();
    auto *x = new QBarCategoryAxis;
    x->append(categories);
    // Upright labels once the names no longer fit under their bars side by side, so a long
    // category name is read whole instead of cut to "…". Upright, not slanted: the chart hides a
    // slanted name that reaches past the plot's edge, which the first and last ones do.
    qsizetype longest = 0;
    for (const QString &category : categories)
        longest = std::max(longest, category.size());
    if (categories.size() > 8 || categories.size() * longest > 32) {
        x->setLabelsAngle(-90);
        x->setTruncateLabels(false); // upright, a whole name takes no width from its neighbours
    }
    styleAxis(x);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    auto *y = new QValueAxis;
    y->setLabelFormat(QStringLiteral("%d"));
    // Whole numbers only: a scale of a few customers (or none) would otherwise label its ticks
    // 0, 0, 1, 1, 2. Room above the highest bar for its number, also when it stands upright.
    y->setRange(0, std::max(4.0, qreal(highest) * (kind == ChartKind::Bars ? 1.3 : 1.15)));
    y->applyNiceNumbers();
    const qreal step = y->max() / std::max(1, y->tickCount() - 1);
    if (step != std::floor(step)) {
        y->setTickCount(int(std::ceil(y->max())) + 1 <= 11 ? int(std::ceil(y->max())) + 1 : 5);
        y->setRange(0, std::ceil(y->max()));
    }
    styleAxis(y);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    return picture;
}

} // namespace lianbu::stats
