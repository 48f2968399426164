#pragma once

#include "db/ListRows.h"
#include "export/ExchangeFormats.h"

#include <QDate>

class QWidget;

namespace lianbu::db {
class Connection;
}
namespace lianbu::data {
class SessionOperator;
}

namespace lianbu::followups {

// Which follow-ups go out: of one customer (0: of every customer) added on the local dates
// from..to (invalid: open). A customer in the recycle bin takes its follow-ups with it.
struct FollowUpSelection
{
    qint64 customer = 0;
    QDate from;
    QDate to;
};

// The columns of the export: 时间, 客户简称, 方式, 内容, 结果, 下次联系, 完成, 操作员.
db::ListColumns followUpColumns();

// The selected follow-ups oldest first, read from the register a page at a time as the writer
// asks for them (an export of millions holds one page in memory).
class FollowUpRows final : public db::RowReader
{
public:
    FollowUpRows(db::Connection &connection, const FollowUpSelection &selection);

    int rowCount() const override { return m_count; }
    void readRows(int from, int to, const Visit &visit) const override;
    int currentRow() const override { return -1; }
    bool stale() const override { return false; }

private:
    QString conditions(QVariantList &values) const;

    db::Connection &m_connection;
    FollowUpSelection m_selection;
    int m_count = 0;
    // Where the last page ended, so the next one goes on from there by key.
    mutable int m_nextRow = 0;
    mutable qint64 m_lastId = 0;
};

// Writes the selection to `path` in `format` (.xlsx or CSV) with `author` as the sheet's 制表人,
// replacing a file there only when complete; throws lianbu::Error with a Chinese message.
exchange::ExportOutcome writeFollowUps(db::Connection &connection, const FollowUpSelection &selection,
                                       const QString &author, exchange::ExportFormat format, const QString &path,
                                       const exchange::ProgressFunction &progress = {});

// The command for the operator `by` (who needs the right to export): asks for the file (.xlsx or
// CSV), then exports as "导 出" does (the overwrite question, the progress window, the file
// opened) and logs it. Nothing to export is said so.
void exportFollowUps(const data::SessionOperator &by, const FollowUpSelection &selection, QWidget *parent);

} // namespace lianbu::followups
