#include "data/CustomerStore.h"

#include "data/ChangeLog.h"
#include "data/FollowUpStore.h"
#include "data/CustomerColumns.h"
#include "data/AttemptLog.h"
#include "data/OperatorRights.h"
#include "data/Schema.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/EngineErrors.h"
#include "db/Field.h"
#include "db/SelectShape.h"
#include "db/TableStatement.h"
#include "platform/Error.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace lianbu::data {

namespace {

const QString kTable = QStringLiteral("data");

QString shortNameOf(const CustomerValues &values)
{
    for (const auto &[column, value] : values)
        if (column.compare(QLatin1String(col::ShortName), Qt::CaseInsensitive) == 0)
            return value.value_or(QString());
    return {};
}

} // namespace

std::optional<QString> CustomerRecord::value(const QString &column) const
{
    for (const auto &[name, value] : values)
        if (name.compare(column, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

bool sameStoredValues(const CustomerRecord &a, const CustomerRecord &b)
{
    if (a.values.size() != b.values.size())
        return false;
    for (const auto &[column, value] : a.values) {
        const auto found = std::find_if(b.values.begin(), b.values.end(), [&column](const auto &entry) {
            return entry.first.compare(column, Qt::CaseInsensitive) == 0;
        });
        if (found == b.values.end() || found->second != value)
            return false;
    }
    return true;
}

CustomerStore::CustomerStore(db::Connection &connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{}

void CustomerStore::setOperator(const QString &name)
{
    m_operator = name;
    nameSessionOperator(m_connection, name);
}

void CustomerStore::learnColumns() const
{
    if (!m_columns.isEmpty())
        return;
    const QSqlDatabase database = m_connection.database();
    if (!database.isOpen())
        throw Error(QStringLiteral("Connection is not open."));
    const std::optional<db::TableInfo> info = db::engineOf(database).keyedTable(database, kTable);
    if (!info)
        throw Error(QStringLiteral("The register has no customer table"));
    for (const db::TableInfo::Column &column : info->columns) {
        if (column.name.compare(info->hiddenKeyColumn, Qt::CaseInsensitive) == 0)
            continue;
        m_columns << column.name;
        m_widths.push_back(db::widthFromDeclaration(column.declared));
    }
}

const QStringList &CustomerStore::columns() const
{
    learnColumns();
    return m_columns;
}

int CustomerStore::columnWidth(const QString &column) const
{
    learnColumns();
    for (qsizetype c = 0; c < m_columns.size(); ++c)
        if (m_columns.at(c).compare(column, Qt::CaseInsensitive) == 0)
            return m_widths[size_t(c)];
    return 0;
}

QString CustomerStore::tableColumn(const QString &column) const
{
    learnColumns();
    for (const QString &name : std::as_const(m_columns))
        if (name.compare(column, Qt::CaseInsensitive) == 0)
            return name;
    throw Error(QStringLiteral("Field '%1' not found").arg(column));
}

std::optional<CustomerRecord> CustomerStore::read(qint64 key) const
{
    db::TableStatement select;
    select.table = kTable;
    select.columns = columns();
    select.conditions = {db::Condition::rowKey(key)};
    QSqlQuery query(m_connection.database());
    query.setForwardOnly(true);
    if (!db::runStatement(m_connection, query, db::buildSelect(db::engineOf(m_connection.database()), select)))
        throw db::engineError(query.lastError(), db::databaseFile(m_connection.database()));
    if (!query.next())
        return std::nullopt;
    CustomerRecord record;
    record.key = key;
    for (qsizetype c = 0; c < select.columns.size(); ++c) {
        const QVariant value = query.value(int(c));
        record.values.emplace_back(select.columns.at(c),
                                   value.isNull() ? std::nullopt : std::optional<QString>(value.toString()));
    }
    return record;
}

bool CustomerStore::exists(qint64 key) const
{
    db::TableStatement select;
    select.table = kTable;
    select.withRowKey = true;
    select.conditions = {db::Condition::rowKey(key)};
    QSqlQuery query(m_connection.database());
    query.setForwardOnly(true);
    // When it cannot be read, say "changed" rather than "gone": the operator looks again either way.
    return !db::runStatement(m_connection, query, db::buildSelect(db::engineOf(m_connection.database()), select))
           || query.next();
}

qint64 CustomerStore::add(const CustomerValues &values)
{
    requireRight(m_connection, m_operator, Right::Edit);
    db::TableStatement insert;
    insert.table = kTable;
    for (const auto &[column, value] : values) {
        insert.columns << tableColumn(column);
        insert.values << db::boundValue(value ? std::optional(db::cutToWidth(*value, columnWidth(column)))
                                              : std::nullopt);
    }
    qint64 key = 0;
    runLogged(m_connection, [&] {
        key = db::runInsert(m_connection, insert);
        LogEntry entry;
        entry.operatorName = m_operator;
        entry.kind = LogKind::CustomerAdded;
        entry.customerKey = key;
        for (qsizetype c = 0; c < insert.columns.size(); ++c) {
            const QVariant &value = insert.values.at(c);
            entry.fields.push_back({insert.columns.at(c), std::nullopt,
                                    value.isNull() ? std::nullopt : std::optional<QString>(value.toString())});
            if (insert.columns.at(c).compare(QLatin1String(col::ShortName), Qt::CaseInsensitive) == 0)
                entry.subject = value.toString();
        }
        logRowWrite(m_connection, entry);
    });
    emit customerAdded(key);
    return key;
}

CustomerStore::Outcome CustomerStore::modify(const CustomerRecord &asRead, const CustomerValues &changes)
{
    requireRight(m_connection, m_operator, Right::Edit);
    if (asRead.key == 0)
        return Outcome::Gone;
    db::TableStatement update;
    update.table = kTable;
    for (const auto &[column, value] : changes) {
        update.columns << tableColumn(column);
        update.values << db::boundValue(value ? std::optional(db::cutToWidth(*value, columnWidth(column)))
                                              : std::nullopt);
    }
    if (update.columns.isEmpty())
        return exists(asRead.key) ? Outcome::Done : Outcome::Gone;
    update.conditions.push_back(db::Condition::rowKey(asRead.key));
    for (const auto &[column, value] : asRead.values)
        update.conditions.push_back(db::Condition::sameAs(tableColumn(column), db::boundValue(value)));
    // Each field whose stored text really changes, with the value the operator saw before.
    LogEntry entry;
    entry.operatorName = m_operator;
    entry.kind = LogKind::CustomerChanged;
    entry.customerKey = asRead.key;
    entry.subject = asRead.value(QLatin1String(col::ShortName)).value_or(QString());
    for (qsizetype c = 0; c < update.columns.size(); ++c) {
        const QVariant &value = update.values.at(c);
        const std::optional<QString> after = value.isNull() ? std::nullopt : std::optional<QString>(value.toString());
        const std::optional<QString> before = asRead.value(update.columns.at(c));
        if (before != after)
            entry.fields.push_back({update.columns.at(c), before, after});
    }
    const QString newShortName = shortNameOf(changes);
    if (!newShortName.isEmpty())
        entry.subject = newShortName;
    int written = 0;
    runLogged(m_connection, [&] {
        written = db::runUpdate(m_connection, update);
        if (written > 0 && !entry.fields.empty())
            logRowWrite(m_connection, entry);
    });
    if (written == 0)
        return exists(asRead.key) ? Outcome::Changed : Outcome::Gone;
    emit customerChanged(asRead.key);
    return Outcome::Done;
}

CustomerStore::Outcome CustomerStore::remove(const CustomerRecord &asRead)
{
    requireRight(m_connection, m_operator, Right::Delete);
    if (asRead.key == 0)
        return Outcome::Gone;
    db::TableStatement remove;
    remove.table = kTable;
    remove.conditions.push_back(db::Condition::rowKey(asRead.key));
    for (const auto &[column, value] : asRead.values)
        remove.conditions.push_back(db::Condition::sameAs(tableColumn(column), db::boundValue(value)));
    int removed = 0;
    runLogged(m_connection, [&] {
        // Read whole inside the transaction: the bin keeps every column, also those the
        // operator's record did not carry.
        const std::optional<CustomerRecord> whole = read(asRead.key);
        removed = db::runDelete(m_connection, remove);
        if (removed == 0 || !whole)
            return;
        const QDateTime now = AttemptLog(m_connection).clockNow();
        QStringList binColumns{QStringLiteral("rid")};
        QVariantList values{asRead.key};
        for (const auto &[column, value] : whole->values) {
            for (const DataColumn &binColumn : kDataColumns) {
                if (column.compare(QLatin1String(binColumn.name), Qt::CaseInsensitive) == 0) {
                    binColumns << QLatin1String(binColumn.name);
                    // A plain null: runBound would bind a null text as empty text.
                    values << (value ? QVariant(*value) : QVariant());
                }
            }
        }
        binColumns << QStringLiteral("deleted_by") << QStringLiteral("deleted_at") << QStringLiteral("deleted_pc");
        values << m_operator << attemptTimeText(now) << localPcName();
        db::runBound(m_connection,
                     QStringLiteral("insert into %1 (%2) values (%3)")
                         .arg(QLatin1String(kCustomerBinTable), binColumns.join(QLatin1Char(',')),
                              QStringList(binColumns.size(), QStringLiteral("?")).join(QLatin1Char(','))),
                     values);
        hideFollowUpsOf(m_connection, asRead.key);
        LogEntry entry;
        entry.time = now;
        entry.operatorName = m_operator;
        entry.kind = LogKind::CustomerDeleted;
        entry.customerKey = asRead.key;
        entry.subject = whole->value(QLatin1String(col::ShortName)).value_or(QString());
        for (const auto &[column, value] : whole->values)
            entry.fields.push_back({column, value, std::nullopt});
        logRowWrite(m_connection, entry);
    });
    if (removed == 0) {
        if (exists(asRead.key))
            return Outcome::Changed;
        // Deleted by someone else: the lists drop it all the same.
        emit customerRemoved(asRead.key);
        return Outcome::Gone;
    }
    emit customerRemoved(asRead.key);
    return Outcome::Done;
}

QStringList customerBinStatements(const db::Engine &)
{
    QString table = QStringLiteral("CREATE TABLE %1 (rid BIGINT PRIMARY KEY").arg(QLatin1String(kCustomerBinTable));
    for (const DataColumn &column : kDataColumns)
        table += QStringLiteral(", %1 VARCHAR(%2)").arg(QLatin1String(column.name)).arg(column.width);
    table += QStringLiteral(", deleted_by VARCHAR(50), deleted_at VARCHAR(30), deleted_pc VARCHAR(100))");
    return {
        table,
        QStringLiteral("CREATE INDEX customer_bin_deleted ON %1 (deleted_at)").arg(QLatin1String(kCustomerBinTable))};
}

namespace {

QString binColumnList()
{
    QStringList names;
    for (const DataColumn &column : kDataColumns)
        names << QLatin1String(column.name);
    return names.join(QLatin1Char(','));
}

} // namespace

std::vector<BinEntry> CustomerStore::binEntries(int count, int skip) const
{
    QSqlQuery query = db::runBound(m_connection,
                                   QStringLiteral("select rid,%1,deleted_by,deleted_at,deleted_pc from %2 "
                                                  "order by deleted_at desc, rid desc limit ? offset ?")
                                       .arg(binColumnList(), QLatin1String(kCustomerBinTable)),
                                   {std::max(0, count), std::max(0, skip)});
    std::vector<BinEntry> entries;
    constexpr int kColumns = int(std::size(kDataColumns));
    while (query.next()) {
        BinEntry entry;
        entry.record.key = query.value(0).toLongLong();
        for (int c = 0; c < kColumns; ++c) {
            const QVariant value = query.value(c + 1);
            entry.record.values.emplace_back(QLatin1String(kDataColumns[c].name),
                                             value.isNull() ? std::nullopt : std::optional<QString>(value.toString()));
        }
        entry.deletedBy = query.value(kColumns + 1).toString();
        entry.deletedAt = attemptTimeOf(query.value(kColumns + 2).toString());
        entry.pc = query.value(kColumns + 3).toString();
        entries.push_back(std::move(entry));
    }
    return entries;
}

qint64 CustomerStore::binCount() const
{
    QSqlQuery query =
        db::runBound(m_connection, QStringLiteral("select count(*) from %1").arg(QLatin1String(kCustomerBinTable)));
    return query.next() ? query.value(0).toLongLong() : 0;
}

bool CustomerStore::restore(qint64 key)
{
    requireRight(m_connection, m_operator, Right::Edit);
    bool restored = false;
    runLogged(m_connection, [&] {
        QSqlQuery query = db::runBound(
            m_connection,
            QStringLiteral("select %1 from %2 where rid=?").arg(binColumnList(), QLatin1String(kCustomerBinTable)),
            {key});
        if (!query.next())
            return;
        // Only the columns this register's customer table has (an older one has fewer).
        const QStringList tableColumns = columns();
        QStringList written{m_connection.isServer() ? QStringLiteral("rid") : QStringLiteral("rowid")};
        QVariantList values{key};
        LogEntry entry;
        entry.operatorName = m_operator;
        entry.kind = LogKind::CustomerRestored;
        entry.customerKey = key;
        for (int c = 0; c < int(std::size(kDataColumns)); ++c) {
            const QLatin1String name(kDataColumns[c].name);
            const QVariant value = query.value(c);
            if (name == QLatin1String(col::ShortName))
                entry.subject = value.toString();
            if (!tableColumns.contains(name, Qt::CaseInsensitive))
                continue;
            written << name;
            values << (value.isNull() ? QVariant() : QVariant(value.toString()));
        }
        query.finish();
        db::runBound(m_connection,
                     QStringLiteral("insert into data (%1) values (%2)")
                         .arg(written.join(QLatin1Char(',')),
                              QStringList(written.size(), QStringLiteral("?")).join(QLatin1Char(','))),
                     values);
        db::runBound(m_connection, QStringLiteral("delete from %1 where rid=?").arg(QLatin1String(kCustomerBinTable)),
                     {key});
        showFollowUpsOf(m_connection, key);
        logRowWrite(m_connection, entry);
        restored = true;
    });
    if (restored)
        emit customerAdded(key);
    return restored;
}

bool CustomerStore::purge(qint64 key)
{
    requireRight(m_connection, m_operator, Right::Delete);
    bool purged = false;
    runLogged(m_connection, [&] {
        QSqlQuery query = db::runBound(
            m_connection, QStringLiteral("select b from %1 where rid=?").arg(QLatin1String(kCustomerBinTable)), {key});
        if (!query.next())
            return;
        LogEntry entry;
        entry.operatorName = m_operator;
        entry.kind = LogKind::CustomerPurged;
        entry.customerKey = key;
        entry.subject = query.value(0).toString();
        query.finish();
        db::runBound(m_connection, QStringLiteral("delete from %1 where rid=?").arg(QLatin1String(kCustomerBinTable)),
                     {key});
        purgeFollowUpsOf(m_connection, key);
        logRowWrite(m_connection, entry);
        purged = true;
    });
    return purged;
}

qint64 CustomerStore::emptyBin()
{
    requireRight(m_connection, m_operator, Right::Delete);
    qint64 removed = 0;
    runLogged(m_connection, [&] {
        QSqlQuery query =
            db::runBound(m_connection, QStringLiteral("delete from %1").arg(QLatin1String(kCustomerBinTable)));
        removed = query.numRowsAffected();
        if (removed <= 0)
            return;
        purgeFollowUpsOf(m_connection, 0);
        LogEntry entry;
        entry.operatorName = m_operator;
        entry.kind = LogKind::CustomerPurged;
        entry.subject = QStringLiteral("清空回收站（%1条）").arg(removed);
        logRowWrite(m_connection, entry);
    });
    return std::max<qint64>(removed, 0);
}

void CustomerStore::throwModifyRefused(Outcome outcome)
{
    throw Error(QStringLiteral("Row cannot be located for updating. Some values may have been "
                               "changed since it was last read."),
                outcome == Outcome::Gone ? QStringLiteral("这条资料已被其他操作员删除，你的修改没有保存。"
                                                          "请重新查询列表；你输入的内容仍保留在录入框中。")
                                         : QStringLiteral("这条资料在你读取之后已被其他操作员修改，你的修改没有保存，"
                                                          "以免覆盖别人的修改。请重新查询列表，核对后再修改；"
                                                          "你输入的内容仍保留在录入框中。"));
}

void CustomerStore::throwRemoveRefused(Outcome outcome)
{
    if (outcome == Outcome::Gone)
        throw Error(QStringLiteral("Row cannot be located for deleting. It was deleted since it was last read."),
                    QStringLiteral("这条资料已被其他操作员删除。请重新查询列表。"));
    throw Error(QStringLiteral("Row cannot be located for deleting. Some values may have been "
                               "changed since it was last read."),
                QStringLiteral("这条资料在你读取之后已被其他操作员修改，没有删除。"
                               "请重新查询列表，核对后再删除。"));
}

} // namespace lianbu::data
