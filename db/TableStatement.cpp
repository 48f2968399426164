#include "db/TableStatement.h"

#include "db/Connection.h"
#include "db/Engine.h"
#include "db/EngineErrors.h"
#include "db/SelectShape.h"
#include "platform/Error.h"

#include <QSqlError>
#include <QSqlQuery>

namespace lianbu::db {

namespace {

QString columnText(const Engine &engine, const QString &table, const QString &column)
{
    return column.isEmpty() ? engine.rowKey(quoteIdentifier(table)) : quoteIdentifier(column);
}

void checkShape(const TableStatement &statement, bool valuesPerColumn)
{
    if (statement.table.isEmpty())
        throw Error(QStringLiteral("A statement needs its table"));
    if (valuesPerColumn && statement.values.size() != statement.columns.size())
        throw Error(QStringLiteral("%1 columns but %2 values for table %3")
                        .arg(statement.columns.size())
                        .arg(statement.values.size())
                        .arg(statement.table));
}

// " where a=? and b is ?", binding the conditions' values.
QString whereClause(const Engine &engine, const TableStatement &statement, QVariantList *values)
{
    QStringList tests;
    for (const Condition &condition : statement.conditions) {
        const QString column = columnText(engine, statement.table, condition.column);
        tests << (condition.test == Condition::Test::SameAs ? engine.sameAs(column) : column + QLatin1String("=?"));
        *values << condition.value;
    }
    return tests.isEmpty() ? QString() : QLatin1String(" where ") + tests.join(QLatin1String(" and "));
}

[[noreturn]] void throwRefused(Connection &connection, const QSqlQuery &query)
{
    throw engineError(query.lastError(), databaseFile(connection.database()));
}

} // namespace

BuiltStatement buildSelect(const Engine &engine, const TableStatement &statement)
{
    checkShape(statement, false);
    QStringList list;
    if (statement.withRowKey)
        list << columnText(engine, statement.table, QString());
    for (const QString &column : statement.columns)
        list << quoteIdentifier(column);
    if (list.isEmpty())
        throw Error(QStringLiteral("A select from %1 reads no column").arg(statement.table));
    BuiltStatement built;
    built.text = QLatin1String("select ") + list.join(QLatin1Char(',')) + QLatin1String(" from ")
                 + quoteIdentifier(statement.table) + whereClause(engine, statement, &built.values);
    QStringList order;
    for (const OrderTerm &term : statement.order)
        order << columnText(engine, statement.table, term.column)
                     + (term.descending ? QLatin1String(" desc") : QString());
    if (!order.isEmpty())
        built.text += QLatin1String(" order by ") + order.join(QLatin1Char(','));
    return built;
}

BuiltStatement buildInsert(const Engine &engine, const TableStatement &statement)
{
    checkShape(statement, true);
    const QString table = quoteIdentifier(statement.table);
    const QString keyBack = statement.withRowKey ? engine.insertKeySuffix(engine.rowKey(table)) : QString();
    BuiltStatement built;
    if (statement.columns.isEmpty()) {
        built.text = QLatin1String("insert into ") + table + QLatin1String(" default values") + keyBack;
        return built;
    }
    QStringList columns, marks;
    for (const QString &column : statement.columns) {
        columns << quoteIdentifier(column);
        marks << QStringLiteral("?");
    }
    built.text = QLatin1String("insert into ") + table + QLatin1String(" (") + columns.join(QLatin1Char(','))
                 + QLatin1String(") values (") + marks.join(QLatin1Char(',')) + QLatin1Char(')') + keyBack;
    built.values = statement.values;
    return built;
}

BuiltStatement buildUpdate(const Engine &engine, const TableStatement &statement)
{
    checkShape(statement, true);
    if (statement.columns.isEmpty())
        throw Error(QStringLiteral("An update of %1 writes no column").arg(statement.table));
    if (statement.conditions.empty())
        throw Error(QStringLiteral("An update of %1 without a condition").arg(statement.table));
    QStringList assignments;
    for (const QString &column : statement.columns)
        assignments << quoteIdentifier(column) + QLatin1String("=?");
    BuiltStatement built;
    built.values = statement.values;
    built.text = QLatin1String("update ") + quoteIdentifier(statement.table) + QLatin1String(" set ")
                 + assignments.join(QLatin1Char(',')) + whereClause(engine, statement, &built.values);
    return built;
}

BuiltStatement buildDelete(const Engine &engine, const TableStatement &statement)
{
    checkShape(statement, false);
    if (statement.conditions.empty())
        throw Error(QStringLiteral("A delete from %1 without a condition").arg(statement.table));
    BuiltStatement built;
    built.text = QLatin1String("delete from ") + quoteIdentifier(statement.table)
                 + whereClause(engine, statement, &built.values);
    return built;
}

QVariant boundValue(const std::optional<QString> &value)
{
    if (!value)
        return QVariant(QMetaType::fromType<QString>());
    if (value->isEmpty())
        return QVariant(QString::fromLatin1(""));
    return QVariant(*value);
}

bool runStatement(Connection &connection, QSqlQuery &query, const BuiltStatement &statement)
{
    if (!query.prepare(statement.text))
        return false;
    for (const QVariant &value : statement.values)
        query.addBindValue(value);
    return execRetrying(query, connection.busyTimeout());
}

qint64 runInsert(Connection &connection, const TableStatement &statement)
{
    const QSqlDatabase database = connection.database();
    if (!database.isOpen())
        throw Error(QStringLiteral("Connection is not open."));
    const Engine &engine = engineOf(database);
    TableStatement keyed = statement;
    keyed.withRowKey = true;
    QSqlQuery query(database);
    if (!runStatement(connection, query, buildInsert(engine, keyed)))
        throwRefused(connection, query);
    const qint64 key = engine.insertedKey(query);
    query.finish();
    return key;
}

namespace {

int runChange(Connection &connection, const BuiltStatement &built)
{
    QSqlQuery query(connection.database());
    if (!runStatement(connection, query, built))
        throwRefused(connection, query);
    const int changed = query.numRowsAffected();
    query.finish();
    return changed;
}

} // namespace

int runUpdate(Connection &connection, const TableStatement &statement)
{
    if (!connection.database().isOpen())
        throw Error(QStringLiteral("Connection is not open."));
    return runChange(connection, buildUpdate(engineOf(connection.database()), statement));
}

int runDelete(Connection &connection, const TableStatement &statement)
{
    if (!connection.database().isOpen())
        throw Error(QStringLiteral("Connection is not open."));
    return runChange(connection, buildDelete(engineOf(connection.database()), statement));
}

} // namespace lianbu::db
