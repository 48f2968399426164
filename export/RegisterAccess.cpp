#include "export/RegisterAccess.h"

#include "data/ChangeLog.h"

#include "platform/Error.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <array>
#include <map>

namespace lianbu::exchange {

namespace {

QString columnList()
{
    QStringList columns;
    for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
        columns.append(fieldColumn(CustomerField(f)));
    return columns.join(QLatin1Char(','));
}

[[noreturn]] void refused(const QSqlQuery &query)
{
    throw Error(QStringLiteral("写入数据库失败：%1").arg(query.lastError().text()));
}

// Cuts a value to its column without splitting a surrogate pair; notes the cut.
QString fitted(const ImportRow &row, CustomerField field, ImportSummary &summary)
{
    const QString &value = row.record[field];
    const int width = fieldInfo(field).width;
    if (width <= 0 || value.size() <= width)
        return value;
    summary.cut.push_back({row.line, field, int(value.size())});
    qsizetype n = width;
    if (value.at(n - 1).isHighSurrogate())
        --n;
    return value.left(n);
}

// Each insert fires the search index's triggers, which change more pages than SQLite keeps of
// a statement's undo in memory (64 KiB); past that, every page changed is another write to a
// temporary file, and those writes were most of an import's time. For the import's length the
// undo stays in memory: it is bounded by what one row's insert changes.
class StatementUndoInMemory
{
public:
    explicit StatementUndoInMemory(const QSqlDatabase &database)
        : m_database(database)
    {
        if (m_database.driverName() != QLatin1String("QSQLITE"))
            return;
        QSqlQuery query(m_database);
        if (query.exec(QStringLiteral("PRAGMA temp_store")) && query.next())
            m_previous = query.value(0).toInt();
        query.finish();
        // Best effort: refused inside a transaction, the import is only slower.
        if (m_previous >= 0 && !query.exec(QStringLiteral("PRAGMA temp_store=MEMORY")))
            m_previous = -1;
    }
    ~StatementUndoInMemory()
    {
        if (m_previous < 0)
            return;
        QSqlQuery query(m_database);
        query.exec(QStringLiteral("PRAGMA temp_store=%1").arg(m_previous));
    }
    StatementUndoInMemory(const StatementUndoInMemory &) = delete;
    StatementUndoInMemory &operator=(const StatementUndoInMemory &) = delete;

private:
    QSqlDatabase m_database;
    int m_previous = -1;
};

// Added rows, written a statement of many rows at a time. The search index's full-text table
// writes its pending terms to disk at the end of every statement that changes it; with an
// insert per row that write came once per row and was most of a large import's time. One
// statement of kImportRowsPerStatement rows writes them once for all; the rows, their order,
// their keys and what the triggers store are the same as row by row.
class BatchedInsert
{
public:
    using Values = std::array<QString, kCustomerFieldCount>;

    explicit BatchedInsert(const QSqlDatabase &database)
        : m_database(database)
    {
        m_pending.reserve(std::size_t(kImportRowsPerStatement));
    }

    void add(Values values)
    {
        m_pending.push_back(std::move(values));
        if (int(m_pending.size()) == kImportRowsPerStatement)
            flush();
    }

    // Writes the rows added since the last call, in one statement.
    void flush()
    {
        if (m_pending.empty())
            return;
        QSqlQuery &insert = statementFor(int(m_pending.size()));
        int position = 0;
        for (const Values &values : m_pending)
            for (const QString &value : values)
                insert.bindValue(position++, value);
        m_pending.clear();
        if (!insert.exec())
            refused(insert);
    }

private:
    // A statement per row count, prepared once: full batches reuse one, and the shorter ones
    // (before an update, at the end) are few.
    QSqlQuery &statementFor(int rows)
    {
        const auto found = m_statements.find(rows);
        if (found != m_statements.end())
            return found->second;
        QString one = QStringLiteral("(?");
        for (std::size_t f = 1; f < kCustomerFieldCount; ++f)
            one += QStringLiteral(",?");
        one += QLatin1Char(')');
        QStringList tuples;
        for (int r = 0; r < rows; ++r)
            tuples.append(one);
        QSqlQuery &insert = m_statements.emplace(rows, QSqlQuery(m_database)).first->second;
        if (!insert.prepare(
                QStringLiteral("INSERT INTO data (%1) VALUES %2").arg(columnList(), tuples.join(QLatin1Char(',')))))
            refused(insert);
        return insert;
    }

    QSqlDatabase m_database;
    std::vector<Values> m_pending;
    std::map<int, QSqlQuery> m_statements;
};

} // namespace

std::vector<IdentifiedCustomer> loadCustomers(const QSqlDatabase &database)
{
    QSqlQuery query(database);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT rid,%1 FROM data ORDER BY rid").arg(columnList())))
        throw Error(QStringLiteral("读取客户失败：%1").arg(query.lastError().text()));
    std::vector<IdentifiedCustomer> customers;
    while (query.next()) {
        IdentifiedCustomer customer;
        customer.id = query.value(0).toLongLong();
        for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
            customer.record.values[f] = query.value(int(f) + 1).toString();
        customers.push_back(std::move(customer));
    }
    return customers;
}

ImportSummary applyImport(QSqlDatabase database, const std::vector<PlannedRow> &plan, const QString &today,
                          const ProgressFunction &progress, const data::SessionOperator *by, const QString &file)
{
    if (by)
        by->require(data::Right::Import);
    ImportSummary summary;
    const StatementUndoInMemory undoInMemory(database);
    if (!database.transaction())
        throw Error(QStringLiteral("无法开始导入：%1").arg(database.lastError().text()));
    try {
        BatchedInsert insert(database);
        auto addRow = [&](const ImportRow &row) {
            BatchedInsert::Values values;
            for (std::size_t f = 0; f < kCustomerFieldCount; ++f) {
                values[f] = fitted(row, CustomerField(f), summary);
                if (CustomerField(f) == CustomerField::RegistrationDate && values[f].isEmpty())
                    values[f] = today;
            }
            insert.add(std::move(values));
            ++summary.added;
        };
        QSqlQuery exists(database);
        if (!exists.prepare(QStringLiteral("SELECT 1 FROM data WHERE rid=?")))
            refused(exists);

        int lastPermille = -1;
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const PlannedRow &planned = plan[i];
            switch (planned.action) {
            case ImportAction::Skip:
                ++summary.skipped;
                break;
            case ImportAction::Add:
                addRow(planned.row);
                break;
            case ImportAction::Update: {
                // The rows added before this one are written first, so the register changes in
                // the file's order, as row by row.
                insert.flush();
                // Another operator may have deleted the customer since the duplicates were
                // found: its row is checked here, where the transaction holds the register.
                exists.bindValue(0, planned.updateId);
                if (!exists.exec())
                    refused(exists);
                const bool found = exists.next();
                exists.finish();
                if (!found) {
                    addRow(planned.row);
                    summary.addedForDeleted.push_back(planned.row.line);
                    break;
                }
                const std::size_t cutBefore = summary.cut.size();
                QStringList sets;
                QVariantList values;
                for (std::size_t f = 0; f < kCustomerFieldCount; ++f) {
                    const QString value = fitted(planned.row, CustomerField(f), summary);
                    if (value.isEmpty())
                        continue;
                    sets.append(fieldColumn(CustomerField(f)) + QStringLiteral("=?"));
                    values.append(value);
                }
                if (!sets.isEmpty()) {
                    QSqlQuery update(database);
                    if (!update.prepare(
                            QStringLiteral("UPDATE data SET %1 WHERE rid=?").arg(sets.join(QLatin1Char(',')))))
                        refused(update);
                    for (qsizetype k = 0; k < values.size(); ++k)
                        update.bindValue(int(k), values.at(k));
                    update.bindValue(int(values.size()), planned.updateId);
                    if (!update.exec())
                        refused(update);
                    if (update.numRowsAffected() == 0) {
                        // Deleted between the check and the update (a server reads committed rows).
                        summary.cut.resize(cutBefore); // the add notes its own cuts
                        addRow(planned.row);
                        summary.addedForDeleted.push_back(planned.row.line);
                        break;
                    }
                }
                ++summary.updated;
                break;
            }
            }
            if (progress && !plan.empty()) {
                const int permille = int((i + 1) * 1000 / plan.size());
                if (permille != lastPermille) {
                    lastPermille = permille;
                    if (!progress(permille))
                        throw Error(QStringLiteral("导入已取消，没有写入任何客户。"));
                }
            }
        }
        insert.flush();
        if (by)
            by->log(data::LogKind::Imported, file,
                    {{QStringLiteral("新增"), std::nullopt, QString::number(summary.added)},
                     {QStringLiteral("更新"), std::nullopt, QString::number(summary.updated)},
                     {QStringLiteral("跳过"), std::nullopt, QString::number(summary.skipped)}});
        if (!database.commit())
            throw Error(QStringLiteral("导入失败：%1").arg(database.lastError().text()));
    } catch (...) {
        database.rollback();
        throw;
    }
    return summary;
}

} // namespace lianbu::exchange
