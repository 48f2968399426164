#include "stats/StatisticsWindow.h"

#include "db/BackgroundSearch.h"
#include "db/BackgroundWork.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "printing/GridReport.h"
#include "printing/PageStore.h"
#include "printing/PrintPreviewWindow.h"
#include "stats/StatisticsOutput.h"
#include "stats/StatisticsPrint.h"

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace lianbu::stats {

namespace {

const View kViews[] = {View::Category,         View::Province,      View::City,           View::AddedPerMonth,
                       View::FollowUpOperator, View::FollowUpMonth, View::FollowUpAbsence};

bool isMonthView(View view)
{
    return view == View::AddedPerMonth || view == View::FollowUpMonth;
}

bool countsFollowUps(View view)
{
    return view == View::FollowUpOperator || view == View::FollowUpMonth;
}

} // namespace

QStringList StatisticsWindow::viewNames()
{
    return {QStringLiteral("按客户类别"),   QStringLiteral("按省份"),       QStringLiteral("按城市"),
            QStringLiteral("每月新增客户"), QStringLiteral("按操作员跟进"), QStringLiteral("每月跟进"),
            QStringLiteral("未跟进客户")};
}

StatisticsWindow::StatisticsWindow(const db::RegisterAddress &address, ShowCustomers showCustomers, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_address(address)
    , m_showCustomers(std::move(showCustomers))
    , m_work(std::make_unique<db::BackgroundWork>(address))
    , m_keys(std::make_unique<db::BackgroundSearch>(address))
{
    setObjectName(QStringLiteral("statisticsWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("客户统计"));
    resize(900, 560);

    m_view = new QComboBox(this);
    m_view->setObjectName(QStringLiteral("statisticsView"));
    m_view->addItems(viewNames());
    m_kindLabel = new QLabel(QStringLiteral("图形："), this);
    m_chartKind = new QComboBox(this);
    m_chartKind->setObjectName(QStringLiteral("statisticsChartKind"));
    m_chartKind->addItems({QStringLiteral("柱形图"), QStringLiteral("饼图")});
    m_periodLabel = new QLabel(QStringLiteral("时间："), this);
    m_period = new QComboBox(this);
    m_period->setObjectName(QStringLiteral("statisticsPeriod"));
    m_period->addItems({QStringLiteral("最近 12 个月"), QStringLiteral("最近 24 个月"), QStringLiteral("全部")});
    m_daysLabel = new QLabel(QStringLiteral("未跟进天数："), this);
    m_days = new QSpinBox(this);
    m_days->setObjectName(QStringLiteral("statisticsDays"));
    m_days->setRange(1, 3650);
    m_days->setValue(30);
    auto *refresh = new QPushButton(QStringLiteral("刷新"), this);
    refresh->setObjectName(QStringLiteral("statisticsRefresh"));

    auto *choices = new QHBoxLayout;
    choices->addWidget(new QLabel(QStringLiteral("统计："), this));
    choices->addWidget(m_view);
    choices->addWidget(m_kindLabel);
    choices->addWidget(m_chartKind);
    choices->addWidget(m_periodLabel);
    choices->addWidget(m_period);
    choices->addWidget(m_daysLabel);
    choices->addWidget(m_days);
    choices->addStretch();
    choices->addWidget(refresh);

    m_chartView = new QChartView(this);
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setBackgroundBrush(Qt::white);
    m_chartView->setMinimumWidth(360);
    m_table = new QTableWidget(this);
    m_table->setObjectName(QStringLiteral("statisticsTable"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->setToolTip(QStringLiteral("双击一行，在客户列表中显示这些客户"));
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(m_chartView);
    splitter->addWidget(m_table);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    // The table's own size hint would take most of the window and squeeze the bars' labels to
    // "…": the chart is what the owner came for, the table needs only its three columns.
    splitter->setSizes({600, 300});

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statisticsStatus"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *saveChart = new QPushButton(QStringLiteral("保存图表…"), this);
    saveChart->setObjectName(QStringLiteral("statisticsSaveChart"));
    auto *exportTable = new QPushButton(QStringLiteral("导出表格…"), this);
    exportTable->setObjectName(QStringLiteral("statisticsExportTable"));
    auto *print = new QPushButton(QStringLiteral("打印…"), this);
    print->setObjectName(QStringLiteral("statisticsPrint"));
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("statisticsClose"));
    m_buttons = new QHBoxLayout;
    m_buttons->addWidget(m_status, 1);
    m_buttons->addWidget(saveChart);
    m_buttons->addWidget(exportTable);
    m_buttons->addWidget(print);
    m_buttons->addWidget(close);
    connect(saveChart, &QPushButton::clicked, this, &StatisticsWindow::saveChart);
    connect(exportTable, &QPushButton::clicked, this, &StatisticsWindow::exportShownTable);
    connect(print, &QPushButton::clicked, this, &StatisticsWindow::printShown);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(choices);
    layout->addWidget(splitter, 1);
    layout->addLayout(m_buttons);

    connect(m_view, &QComboBox::currentIndexChanged, this, &StatisticsWindow::count);
    connect(m_period, &QComboBox::currentIndexChanged, this, &StatisticsWindow::count);
    connect(m_days, &QSpinBox::editingFinished, this, [this] {
        if (m_shownRequest.view == View::FollowUpAbsence && m_shownRequest.days != m_days->value())
            count();
    });
    connect(m_chartKind, &QComboBox::currentIndexChanged, this, [this] {
        if (!counting())
            drawChart();
    });
    connect(refresh, &QPushButton::clicked, this, &StatisticsWindow::count);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(m_table, &QTableWidget::cellActivated, this, [this](int row, int) { showRowCustomers(row); });
    connect(m_work.get(), &db::BackgroundWork::finished, this, &StatisticsWindow::counted);
    connect(m_work.get(), &db::BackgroundWork::failed, this,
            [this](quint64, const QString &message) { showFailure(message); });
    connect(m_keys.get(), &db::BackgroundSearch::finished, this, &StatisticsWindow::keysFound);
    connect(m_keys.get(), &db::BackgroundSearch::failed, this,
            [this](quint64, const QString &message) { showFailure(message); });
    count();
}

StatisticsWindow::~StatisticsWindow() = default;

void StatisticsWindow::chooseView(int index)
{
    m_view->setCurrentIndex(index);
}

bool StatisticsWindow::counting() const
{
    return m_work->busy();
}

CountRequest StatisticsWindow::request() const
{
    CountRequest r;
    r.view = kViews[std::clamp(m_view->currentIndex(), 0, int(std::size(kViews)) - 1)];
    static const int kMonths[] = {12, 24, 0};
    r.months = kMonths[std::clamp(m_period->currentIndex(), 0, 2)];
    r.days = m_days->value();
    r.today = QDate::currentDate();
    return r;
}

void StatisticsWindow::count()
{
    const CountRequest r = request();
    const bool category = r.view == View::Category;
    m_kindLabel->setVisible(category);
    m_chartKind->setVisible(category);
    m_periodLabel->setVisible(isMonthView(r.view));
    m_period->setVisible(isMonthView(r.view));
    m_daysLabel->setVisible(r.view == View::FollowUpAbsence);
    m_days->setVisible(r.view == View::FollowUpAbsence);
    m_status->setText(QStringLiteral("正在统计…"));
    m_shownRequest = r;
    m_work->start([r](db::Connection &connection) -> std::any { return countCustomers(connection.database(), r); });
}

void StatisticsWindow::counted(quint64, const std::any &result)
{
    m_rows = std::any_cast<std::vector<CountRow>>(result);
    qint64 total = 0;
    for (const CountRow &row : m_rows)
        total += row.count;
    m_status->setText(countsFollowUps(m_shownRequest.view) ? QStringLiteral("共 %1 条跟进记录").arg(total)
                                                           : QStringLiteral("共 %1 位客户").arg(total));
    fillTable();
    drawChart();
    emit countsShown();
}

void StatisticsWindow::showFailure(const QString &message)
{
    m_status->setText(QStringLiteral("统计失败：%1").arg(message));
}

void StatisticsWindow::fillTable()
{
    const QStringList titles = tableTitles(m_shownRequest.view);
    const std::vector<QStringList> cells = tableCells(m_rows, m_shownRequest.view);
    m_table->clear();
    m_table->setColumnCount(int(titles.size()));
    m_table->setHorizontalHeaderLabels(titles);
    m_table->setRowCount(int(cells.size()));
    for (int r = 0; r < int(cells.size()); ++r) {
        for (int c = 0; c < int(cells[size_t(r)].size()); ++c) {
            auto *item = new QTableWidgetItem(cells[size_t(r)][c]);
            if (c + 2 >= int(titles.size())) // the number and the share
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(r, c, item);
        }
    }
    m_table->resizeColumnsToContents();
}

void StatisticsWindow::saveChart()
{
    if (m_rows.empty() || counting())
        return;
    SaveFileRequest request;
    request.caption = QStringLiteral("保存图表");
    request.fileName = chartTitle().remove(QStringLiteral("客户统计：")) + QStringLiteral(".png");
    request.filter = chartFilters();
    // No default suffix: the chosen filter decides between .png and .pdf below.
    QString chosen;
    request.chosenFilter = &chosen;
    QString path = dialogs().saveFileName(this, request);
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("pdf"))
        path += chosen.contains(QLatin1String("pdf")) ? QStringLiteral(".pdf") : QStringLiteral(".png");
    if (QFileInfo::exists(path) && !mayOverwrite(path, this))
        return;
    const QString failure = writeChartFile(m_rows, chartKind(), chartTitle(), path);
    if (!failure.isEmpty())
        showError(failure, this);
    else
        m_status->setText(QStringLiteral("图表已保存到 %1").arg(QDir::toNativeSeparators(path)));
}

void StatisticsWindow::exportShownTable()
{
    if (m_rows.empty() || counting() || (m_mayExport && !m_mayExport()))
        return;
    using exchange::ExportFormat;
    const auto target = exchange::askExportTarget(
        this, QStringLiteral("导出表格"), chartTitle().remove(QStringLiteral("客户统计：")) + QStringLiteral(".xlsx"),
        {ExportFormat::Xlsx, ExportFormat::CsvUtf8, ExportFormat::CsvGbk});
    if (target && exportTable(m_rows, m_shownRequest.view, chartTitle(), m_operatorName, *target, this))
        emit tableExported(target->path, exchange::formatSuffix(target->format), int(m_rows.size()));
}

void StatisticsWindow::printShown()
{
    if (m_rows.empty() || counting() || (m_mayPrint && !m_mayPrint()))
        return;
    // Pages still being made read the print they started with.
    if (m_preview && m_preview->store()->printing())
        return;
    if (!m_preview)
        m_preview = std::make_unique<PrintPreviewWindow>();
    if (!m_report)
        m_report = new GridReport(this);
    m_print = std::make_unique<StatisticsPrint>(m_rows, m_shownRequest.view, chartKind(), chartTitle());
    m_print->setUp(*m_report, m_preview->store()->currentMetrics());
    try {
        m_report->generate(m_preview->store());
    } catch (const Error &error) {
        showError(error.message(), m_preview.get());
    }
}

ChartKind StatisticsWindow::chartKind() const
{
    if (isMonthView(m_shownRequest.view))
        return ChartKind::Line;
    if (m_shownRequest.view == View::Category && m_chartKind->currentIndex() == 1)
        return ChartKind::Pie;
    return ChartKind::Bars;
}

QString StatisticsWindow::chartTitle() const
{
    QString title = QStringLiteral("客户统计：") + viewNames().at(m_view->currentIndex());
    if (isMonthView(m_shownRequest.view))
        title += QStringLiteral("（%1）").arg(m_period->currentText());
    if (m_shownRequest.view == View::FollowUpAbsence)
        title += QStringLiteral("（%1 天）").arg(m_shownRequest.days);
    return title;
}

void StatisticsWindow::drawChart()
{
    m_picture = makeChart(m_rows, chartKind(), chartTitle());
    QChart *chart = m_picture.chart;
    for (QAbstractSeries *series : chart->series()) {
        if (auto *bars = qobject_cast<QBarSeries *>(series)) {
            connect(bars, &QBarSeries::clicked, this, [this](int index, QBarSet *) { entryClicked(index); });
        } else if (auto *pie = qobject_cast<QPieSeries *>(series)) {
            connect(pie, &QPieSeries::clicked, this,
                    [this, pie](QPieSlice *slice) { entryClicked(int(pie->slices().indexOf(slice))); });
        } else if (auto *line = qobject_cast<QLineSeries *>(series)) {
            connect(line, &QLineSeries::clicked, this,
                    [this](const QPointF &point) { entryClicked(int(std::lround(point.x()))); });
        }
    }
    QChart *old = m_chartView->chart();
    m_chartView->setChart(chart);
    delete old;
}

void StatisticsWindow::entryClicked(int entry)
{
    if (entry < 0 || entry >= int(m_picture.rowOfEntry.size()))
        return;
    const int row = m_picture.rowOfEntry[size_t(entry)];
    if (row < 0) {
        m_status->setText(QStringLiteral("“其他”包含多项，请在右边的表格中双击其中一项。"));
        return;
    }
    m_table->selectRow(row);
    showRowCustomers(row);
}

void StatisticsWindow::showRowCustomers(int row)
{
    if (row < 0 || row >= int(m_rows.size()))
        return;
    const CountRow &counted = m_rows[size_t(row)];
    if (counted.selection.isEmpty() || counted.count == 0) {
        m_status->setText(QStringLiteral("“%1”没有客户。").arg(rowLabel(counted)));
        return;
    }
    if (!isListable(counted.selection)) {
        m_status->setText(QStringLiteral("“%1”的 %2 位客户分布在 %3 种不同的地址开头下，太多，无法在客户列表中列出。")
                              .arg(rowLabel(counted))
                              .arg(counted.count)
                              .arg(counted.selection.values.size()));
        return;
    }
    m_pendingStatement = customersStatement(counted.selection);
    m_pendingLabel = rowLabel(counted);
    m_status->setText(QStringLiteral("正在查找“%1”的客户…").arg(m_pendingLabel));
    const sql::BoundStatement keys =
        customerKeysStatement(m_address.isServer() ? db::postgresEngine() : db::sqliteEngine(), counted.selection);
    m_keys->start(keys.text, keys.values, db::BackgroundSearch::KeyOrder::Ascending);
}

void StatisticsWindow::keysFound()
{
    std::vector<qint64> found = m_keys->takeKeys();
    const qint64 n = qint64(found.size());
    m_showCustomers(m_pendingStatement, std::move(found));
    m_status->setText(
        QStringLiteral("客户列表显示“%1”的 %2 位客户；按“全部记录”回到全部客户。").arg(m_pendingLabel).arg(n));
    emit customersShown(n);
}

} // namespace lianbu::stats
