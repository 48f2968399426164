#include "followups/FollowUpExport.h"

#include "data/AttemptLog.h"
#include "data/ChangeLog.h"
#include "data/CustomerColumns.h"
#include "data/FollowUpStore.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "export/ListExport.h"
#include "platform/Dialogs.h"

#include <QDir>
#include <QSqlQuery>

#include <algorithm>
#include <climits>

namespace lianbu::followups {

namespace {

constexpr int kPage = 2000;

class Cells final : public db::RowCells
{
public:
    QStringList values;
    QStringView text(int valueIndex) const override { return QStringView(values.at(valueIndex)); }
    bool isNull(int valueIndex) const override { return values.at(valueIndex).isNull(); }
};

// The sheet's heading: the title, the period asked for and the operator who made it.
exchange::ListSheet sheetOf(const FollowUpSelection &selection, const QString &author, const db::ListColumns &columns,
                            const FollowUpRows &rows)
{
    QStringList names;
    for (const db::ListColumn &column : columns.columns)
        names << column.fieldName;
    return {QStringLiteral("客户跟进记录"),
            selection.from.isValid() ? selection.from.toString(Qt::ISODate) : QString(),
            selection.to.isValid() ? selection.to.toString(Qt::ISODate) : QString(),
            author,
            columns,
            rows,
            names};
}

} // namespace

db::ListColumns followUpColumns()
{
    const struct
    {
        const char *field;
        const char *title;
        int width;
    } shown[] = {{"contact_time", "时间", 130}, {"customer", "客户简称", 110}, {"way", "方式", 50},
                 {"content", "内容", 320},      {"result", "结果", 160},       {"next_date", "下次联系", 80},
                 {"settled", "完成", 40},       {"username", "操作员", 80}};
    db::ListColumns columns;
    int index = 0;
    for (const auto &column : shown) {
        db::ListColumn listed;
        listed.fieldName = QLatin1String(column.field);
        listed.valueIndex = index++;
        listed.title = QString::fromUtf8(column.title);
        listed.width = column.width;
        columns.columns.push_back(listed);
    }
    return columns;
}

FollowUpRows::FollowUpRows(db::Connection &connection, const FollowUpSelection &selection)
    : m_connection(connection)
    , m_selection(selection)
{
    QVariantList values;
    const QString where = conditions(values);
    QSqlQuery query = db::runBound(
        m_connection,
        QStringLiteral("select count(*) from %1 f where %2").arg(QLatin1String(data::kFollowUpTable), where), values);
    m_count = query.next() ? int(std::min<qint64>(query.value(0).toLongLong(), INT_MAX)) : 0;
}

QString FollowUpRows::conditions(QVariantList &values) const
{
    QStringList terms{QStringLiteral("f.binned = 0")};
    if (m_selection.customer != 0) {
        terms << QStringLiteral("f.customer = ?");
        values << m_selection.customer;
    }
    if (m_selection.from.isValid()) {
        terms << QStringLiteral("f.contact_time >= ?");
        values << data::attemptTimeText(m_selection.from.startOfDay());
    }
    if (m_selection.to.isValid()) {
        terms << QStringLiteral("f.contact_time < ?");
        values << data::attemptTimeText(m_selection.to.addDays(1).startOfDay());
    }
    return terms.join(QStringLiteral(" and "));
}

void FollowUpRows::readRows(int from, int to, const Visit &visit) const
{
    to = std::min(to, m_count);
    if (from >= to)
        return;
    if (from != m_nextRow) {
        // Out of sequence (not what the writers do): find the key before row `from`.
        m_lastId = 0;
        if (from > 0) {
            QVariantList values;
            const QString where = conditions(values);
            values << from - 1;
            QSqlQuery query =
                db::runBound(m_connection,
                             QStringLiteral("select f.id from %1 f where %2 order by f.id limit 1 offset ?")
                                 .arg(QLatin1String(data::kFollowUpTable), where),
                             values);
            m_lastId = query.next() ? query.value(0).toLongLong() : LLONG_MAX;
        }
    }
    const QString key = m_connection.isServer() ? QStringLiteral("rid") : QStringLiteral("rowid");
    Cells cells;
    int row = from;
    while (row < to) {
        QVariantList values;
        const QString where = conditions(values);
        values << m_lastId << std::min(kPage, to - row);
        QSqlQuery query = db::runBound(
            m_connection,
            QStringLiteral("select f.id, f.contact_time, d.%1, f.way, f.content, f.result, f.next_date, f.settled, "
                           "f.username from %2 f left join data d on d.%3 = f.customer where %4 and f.id > ? "
                           "order by f.id limit ?")
                .arg(QLatin1String(col::ShortName), QLatin1String(data::kFollowUpTable), key, where),
            values);
        const int before = row;
        while (query.next()) {
            m_lastId = query.value(0).toLongLong();
            const QDate next = QDate::fromString(query.value(6).toString(), Qt::ISODate);
            cells.values = {data::attemptTimeOf(query.value(1).toString())
                                .toLocalTime()
                                .toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                            query.value(2).toString(),
                            query.value(3).toString(),
                            query.value(4).toString(),
                            query.value(5).toString(),
                            next.isValid() ? next.toString(Qt::ISODate) : QString(),
                            next.isValid() ? (query.value(7).toInt() != 0 ? QStringLiteral("是") : QStringLiteral("否"))
                                           : QString(),
                            query.value(8).toString()};
            visit(row++, cells);
        }
        if (row == before)
            break; // fewer rows than counted: some were deleted meanwhile
    }
    m_nextRow = row;
}

exchange::ExportOutcome writeFollowUps(db::Connection &connection, const FollowUpSelection &selection,
                                       const QString &author, exchange::ExportFormat format, const QString &path,
                                       const exchange::ProgressFunction &progress)
{
    const db::ListColumns columns = followUpColumns();
    const FollowUpRows rows(connection, selection);
    const exchange::ListSheet sheet = sheetOf(selection, author, columns, rows);
    return exchange::exportList(sheet, format, path, progress);
}

void exportFollowUps(const data::SessionOperator &by, const FollowUpSelection &selection, QWidget *parent)
{
    using exchange::ExportFormat;
    if (!data::mayDo(&by, data::Right::Export, parent))
        return;
    const db::ListColumns columns = followUpColumns();
    const FollowUpRows rows(by.connection(), selection);
    if (rows.rowCount() == 0) {
        showInformation(QStringLiteral("没有可以导出的跟进记录。"), parent);
        return;
    }
    // The spreadsheet and text formats; vCard carries no history, .xls too few rows.
    const std::optional<exchange::ExportTarget> target =
        exchange::askExportTarget(parent, QStringLiteral("导出跟进记录"), QStringLiteral("跟进记录"),
                                  {ExportFormat::Xlsx, ExportFormat::CsvUtf8, ExportFormat::CsvGbk});
    if (!target)
        return;
    const ExportFormat format = target->format;
    const QString &path = target->path;
    const exchange::ListSheet sheet = sheetOf(selection, by.name(), columns, rows);
    if (exchange::exportListFile(sheet, format, path, parent))
        by.log(data::LogKind::Exported, QDir::toNativeSeparators(path),
               {{QStringLiteral("记录数"), std::nullopt, QString::number(rows.rowCount())},
                {QStringLiteral("格式"), std::nullopt, exchange::formatSuffix(format)},
                {QStringLiteral("内容"), std::nullopt, QStringLiteral("跟进记录")}});
}

} // namespace lianbu::followups
