#pragma once

#include "data/Statements.h"
#include "db/RegisterAddress.h"
#include "stats/Counts.h"
#include "stats/StatisticsChart.h"

#include <QWidget>

#include <any>

#include <functional>
#include <memory>
#include <vector>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;
class GridReport;
class PrintPreviewWindow;

QT_BEGIN_NAMESPACE
class QChartView;
QT_END_NAMESPACE

namespace lianbu::db {
class BackgroundSearch;
class BackgroundWork;
} // namespace lianbu::db

namespace lianbu::stats {

class StatisticsPrint;

// 客户统计: ready views of the register, each a chart and the table behind it. The counts run on
// a connection of the window's own in a worker thread, so the window (and the program) stay
// usable while a large register is counted. A click on a bar, slice, point or table row hands
// those customers to the main list as a search result.
class StatisticsWindow : public QWidget
{
    Q_OBJECT

public:
    // `showCustomers`: shows the customers of a row in the main list (its statement and keys).
    using ShowCustomers = std::function<void(const sql::BoundStatement &statement, std::vector<qint64> keys)>;
    StatisticsWindow(const db::RegisterAddress &address, ShowCustomers showCustomers, QWidget *parent = nullptr);
    ~StatisticsWindow() override;

    // The views in the order of the choice.
    static QStringList viewNames();
    void chooseView(int index);
    // True while the counts of the chosen view are being made.
    bool counting() const;
    const std::vector<CountRow> &rows() const { return m_rows; }
    // Shows the customers of the row (as a click on it does).
    void showRowCustomers(int row);
    // 保存图表… (PNG or PDF) and 导出表格… (.xlsx or CSV), through the dialog service.
    void saveChart();
    void exportShownTable();
    // Asked before the table leaves the program (the operator's right to export).
    void setExportGate(std::function<bool()> mayExport) { m_mayExport = std::move(mayExport); }
    // The logged-in operator, named as the author of an exported table.
    void setOperatorName(const QString &name) { m_operatorName = name; }
    // 打印…: the title, the chart and the table in the print preview (its own window, reused).
    void printShown();
    PrintPreviewWindow *printPreview() const { return m_preview.get(); }
    // Asked before printing (the operator's right to print).
    void setPrintGate(std::function<bool()> mayPrint) { m_mayPrint = std::move(mayPrint); }

signals:
    void countsShown();
    // A table written to `path` (`rows` counts), for the session's log of exports.
    void tableExported(const QString &path, const QString &suffix, int rows);
    void customersShown(qint64 count);

private:
    void count();
    void counted(quint64 ticket, const std::any &result);
    void keysFound();
    void showFailure(const QString &message);
    void fillTable();
    void drawChart();
    void entryClicked(int entry);
    CountRequest request() const;
    ChartKind chartKind() const;
    QString chartTitle() const;

    db::RegisterAddress m_address;
    ShowCustomers m_showCustomers;
    std::function<bool()> m_mayExport;
    std::function<bool()> m_mayPrint;
    QString m_operatorName;
    GridReport *m_report = nullptr;
    std::unique_ptr<StatisticsPrint> m_print;
    std::unique_ptr<PrintPreviewWindow> m_preview;
    std::unique_ptr<db::BackgroundWork> m_work;
    std::unique_ptr<db::BackgroundSearch> m_keys;
    QComboBox *m_view;
    QComboBox *m_chartKind;
    QComboBox *m_period;
    QSpinBox *m_days;
    QLabel *m_kindLabel;
    QLabel *m_periodLabel;
    QLabel *m_daysLabel;
    QChartView *m_chartView;
    QTableWidget *m_table;
    QLabel *m_status;
    QHBoxLayout *m_buttons;
    std::vector<CountRow> m_rows;
    CountRequest m_shownRequest;
    ChartPicture m_picture;
    sql::BoundStatement m_pendingStatement;
    QString m_pendingLabel;
};

} // namespace lianbu::stats
