#pragma once

#include "db/EngineErrors.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

namespace lianbu::db {

// Everything in which the two database engines differ, as far as the program cares. Windows and
// statements never ask which engine runs; the dataset layer, the connection and the schema ask
// the engine of their connection (engineOf) for the piece of statement text or the step that
// differs. Values are bound on both engines.
// A table as the dataset layer needs to know it.
struct TableInfo
{
    QString name; // as the engine spells it
    struct Column
    {
        QString name;
        QString declared; // the declared type, e.g. "VARCHAR(50)", "INTEGER"
    };
    std::vector<Column> columns;
    // The column that is the hidden row key ("" when the key is not a column of the table:
    // SQLite's rowid of a table without an INTEGER PRIMARY KEY named rid).
    QString hiddenKeyColumn;
};

// The row a result is on, read cell by cell (valid until the reading moves on).
class ResultRow
{
public:
    virtual ~ResultRow() = default;
    virtual int columnCount() const = 0;
    virtual QString columnName(int column) const = 0;
    virtual bool isNull(int column) const = 0;
    virtual bool isFloat(int column) const = 0;
    virtual bool isInteger(int column) const = 0;
    virtual qint64 integer(int column) const = 0;
    // The value as text (numbers as SQLite's driver writes them); the view lives until the next
    // call or row.
    virtual QStringView text(int column, QString *scratch) const = 0;
    // A text value's UTF-8 bytes as stored, where the engine has them at hand; false otherwise.
    virtual bool utf8(int, const unsigned char **, qsizetype *) const { return false; }
};

// Reads rows of one table by their hidden keys: the result of "select <key>, <list> from
// <table>" for given keys, column 0 being the key.
class KeyedRows
{
public:
    virtual ~KeyedRows() = default;
    // The result's columns, known before any row is read; declaredType is "" for an expression
    // (or where the engine does not say).
    virtual int columnCount() const = 0;
    virtual QString columnName(int column) const = 0;
    virtual QString declaredType(int column) const = 0;
    // Reads the rows of keys[from, to) and calls visit(index, row) for each index in order; row
    // is nullptr for a key that names no row (0, or deleted since). Throws lianbu::Error.
    virtual void read(const std::vector<qint64> &keys, int from, int to,
                      const std::function<void(int index, const ResultRow *row)> &visit) = 0;
};

class Engine
{
public:
    enum class Kind { Sqlite, Postgres };
    virtual ~Engine() = default;

    virtual Kind kind() const = 0;

    // The type of an integer key column that grows with every insert and never gives a deleted
    // row's value again ("INTEGER PRIMARY KEY AUTOINCREMENT" on SQLite, an identity column on
    // the server). Copies may still write their own values into it.
    virtual QString growingKeyType() const = 0;
    // The expression naming a row of `table` in selects, updates and deletes: SQLite's rowid;
    // the column rid on the server (data's hidden key column).
    virtual QString rowKey(const QString &quotedTable) const = 0;
    // Text added after an insert so that the new row's key can be read (" returning <key>" on
    // the server, nothing on SQLite), and the key read after the statement ran.
    virtual QString insertKeySuffix(const QString &keyColumn) const = 0;
    virtual qint64 insertedKey(QSqlQuery &query) const = 0;
    // SQLite reads a table without ORDER BY in rowid order, which the program's lists show as
    // "the database's order"; the server promises no order (an updated row moves). True when a
    // statement without ORDER BY must be given "order by <key>" to list as SQLite does.
    virtual bool needsKeyOrder() const = 0;

    // "column IS ?" of SQLite: equal, or both null.
    virtual QString sameAs(const QString &column) const = 0;

    // A condition "column LIKE ?" that compares as SQLite's LIKE does: % and _ are the only
    // wildcards (no escape character), ASCII letters match either case, every other character
    // only itself.
    virtual QString likeCondition(const QString &column) const = 0;

    // What went wrong, for the operator's messages; Busy (SQLite's busy or locked; the server's
    // serialization failure, deadlock or lock timeout) is what execRetrying runs again.
    virtual EngineFault fault(const QSqlError &error) const = 0;

    // The names of the tables of the register (lower case); throws lianbu::Error when they
    // cannot be read.
    virtual QStringList tableNames(const QSqlDatabase &database) const = 0;
    // The table named `table` (any letter case) when its rows have a hidden key the dataset layer
    // can write back to; nothing otherwise (a view, a table without rowid, a server table
    // without a rid column).
    virtual std::optional<TableInfo> keyedTable(const QSqlDatabase &database, const QString &table) const = 0;

    // A function that stops the statement running on this connection as soon as possible; it
    // may be called from any thread while the connection stays open. Made on the connection's
    // own thread. The stopped statement fails with the engine's "interrupted"/"canceled" error.
    // The function returns false when the request could not be sent.
    virtual std::function<bool()> canceller(const QSqlDatabase &database) const = 0;

    // Runs a select (values bound to its "?" in order) and calls visit for every row; throws
    // lianbu::Error with the engine's message when it is refused or fails (also when cancelled).
    virtual void readResult(const QSqlDatabase &database, const QString &sql, const QVariantList &values,
                            const std::function<void(const ResultRow &row)> &visit) const = 0;
    // The reader of rows by key for "select <keyColumn>, <list> from <table>" (`select`, without
    // a WHERE); throws lianbu::Error when the statement is refused.
    virtual std::unique_ptr<KeyedRows> keyedRows(const QSqlDatabase &database, const QString &select,
                                                 const QString &keyColumn) const = 0;
};

// The integers in the first column of a select's rows, in its order.
std::vector<qint64> readKeys(const Engine &engine, const QSqlDatabase &database, const QString &sql,
                             const QVariantList &values = {});
// Puts keys read in another order (an index's) into ascending order. Distinct keys in a range not
// much wider than their number (a table's row ids) are marked in a bitmap and read back in one
// pass; any others are sorted.
void sortKeysAscending(std::vector<qint64> &keys);

const Engine &sqliteEngine();
const Engine &postgresEngine();
// The engine of a connection (by its Qt driver); SQLite for anything else.
const Engine &engineOf(const QSqlDatabase &database);

} // namespace lianbu::db
