#pragma once

#include "data/ChangeLog.h"
#include "db/RegisterAddress.h"
#include "export/ListExport.h"
#include "platform/PagedTableWindow.h"

#include <QStringList>

class QComboBox;
class QDateEdit;
class QLineEdit;

namespace lianbu::operators {

// What a logged field is called on screen: a customer column by its caption (客户简称, 电话),
// anything else (an operator's 角色, 密码) as it was logged.
QString logFieldCaption(const QString &field);
// The fields of an entry as one line: "电话：旧 → 新；…" (an added or removed value alone).
QString logDetailsText(const data::LogEntry &entry);
// The cells of an entry: time (local), operator, PC, what, customer key, about, details.
QStringList logCells(const data::LogEntry &entry);
QStringList logTitles();

inline constexpr int kLogPerPage = 100;

// Page `page` of the entries the filter lets through, newest first, read by key: `below` is the
// key the page starts under (0: from the newest).
TablePage readLogPage(db::Connection &connection, const data::LogFilter &filter, int page, qint64 below);

// Writes every entry the filter lets through into the target (.xlsx or CSV) with the export's
// progress and messages; a written file is logged as `by`'s export like any other.
void exportLog(const data::SessionOperator &by, const data::LogFilter &filter, const exchange::ExportTarget &target,
               QWidget *parent);

// "操作日志": the change log with its filters, a page at a time, each page read on a connection of
// its own on a worker thread. 导出 writes what the filters let through.
class OperationLogWindow : public PagedTableWindow
{
    Q_OBJECT

public:
    // `by` is the session's operator on his connection (for the export and its log entry). The
    // operators' names for the filter are read on the worker too.
    OperationLogWindow(const data::SessionOperator &by, QWidget *parent);

    data::LogFilter filter() const;
    void setFilter(const data::LogFilter &filter);
    QPushButton *exportButton() const { return m_export; }

public slots:
    void search();      // 查询: the first page of what the filters now let through
    void exportShown(); // 导出

protected:
    PageJob pageJob(int page) override;
    void pageArrived(int requested) override;

private:
    void fillOperators();

    data::SessionOperator m_by;
    db::RegisterAddress m_address;
    data::LogFilter m_applied;
    std::vector<qint64> m_starts{0}; // the key each page read so far starts under
    QDateEdit *m_from;
    QDateEdit *m_to;
    QComboBox *m_operator;
    QLineEdit *m_customer;
    QComboBox *m_kind;
    QPushButton *m_export;
};

} // namespace lianbu::operators
