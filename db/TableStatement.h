#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

#include <optional>
#include <vector>

class QSqlQuery;

namespace lianbu::db {

class Connection;
class Engine;

// One test on a row of the statement's table. An empty column names the table's hidden row key.
struct Condition
{
    enum class Test {
        Equals, // column = value
        SameAs, // equal, or both null
    };
    QString column;
    Test test = Test::Equals;
    QVariant value;

    static Condition rowKey(qint64 key) { return {QString(), Test::Equals, key}; }
    static Condition equals(const QString &column, const QVariant &value) { return {column, Test::Equals, value}; }
    static Condition sameAs(const QString &column, const QVariant &value) { return {column, Test::SameAs, value}; }
};

struct OrderTerm
{
    QString column; // empty: the hidden row key
    bool descending = false;
};

// A statement on the rows of one table, described rather than written: its text is made from
// this description by the engine's rules, and every value is bound, never written into it.
struct TableStatement
{
    QString table;
    // select: the columns read; insert and update: the columns written, with `values`.
    QStringList columns;
    QVariantList values;
    std::vector<Condition> conditions; // all must hold
    std::vector<OrderTerm> order;      // select only
    // select: the row key is read first, before `columns`; insert: the new row's key is read
    // back (see runInsert).
    bool withRowKey = false;
};

// The text and the values to bind to its placeholders, in order.
struct BuiltStatement
{
    QString text;
    QVariantList values;
};

BuiltStatement buildSelect(const Engine &engine, const TableStatement &statement);
BuiltStatement buildInsert(const Engine &engine, const TableStatement &statement);
BuiltStatement buildUpdate(const Engine &engine, const TableStatement &statement);
BuiltStatement buildDelete(const Engine &engine, const TableStatement &statement);

// A value for binding: null stays null, and empty text is bound as empty text (Qt binds a null
// QString as NULL).
QVariant boundValue(const std::optional<QString> &value);

// Prepares and runs a built statement on the connection, waiting out a busy database as every
// writer does. False when the engine refused it (the query holds the error).
bool runStatement(Connection &connection, QSqlQuery &query, const BuiltStatement &statement);

// Runs an insert built with withRowKey and gives the new row's key; throws lianbu::Error with the
// engine's message when refused.
qint64 runInsert(Connection &connection, const TableStatement &statement);
// Runs an update or delete and gives the number of rows it changed; throws lianbu::Error with the
// engine's message when refused.
int runUpdate(Connection &connection, const TableStatement &statement);
int runDelete(Connection &connection, const TableStatement &statement);

} // namespace lianbu::db
