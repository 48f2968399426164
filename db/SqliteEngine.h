#pragma once

// The few things the dataset layer and the quick search need of the database engine below Qt's
// SQL layer: the native handle, a prepared statement, reading a key column, reading a cell as
// text, and interrupting a running statement from another thread. Everything that depends on
// SQLite itself sits here, so another engine can supply the same operations.

#include <QString>
#include <QStringView>

#include <functional>
#include <vector>

class QSqlDatabase;
struct sqlite3;
struct sqlite3_stmt;

namespace lianbu::db::engine {

// The URI SQLite opens the file at `path` by: the absolute path, percent-encoded, then `query`
// ("mode=ro", "mode=rw"). Every connection of ours to a register file is made through one.
QString fileUri(const QString &path, const QString &query);

// The connection's native handle; throws lianbu::Error when the connection is not an open
// SQLite connection.
sqlite3 *nativeHandle(const QSqlDatabase &database);

// Stops the statement running on the connection as soon as possible; safe from any thread while
// the connection is open. The interrupted statement fails with an "interrupted" error.
void interrupt(const QSqlDatabase &database);
void interrupt(sqlite3 *handle);

// A prepared statement, finalized when it goes out of scope.
class Statement
{
public:
    // Throws lianbu::Error with the engine's message when the statement is refused.
    Statement(sqlite3 *handle, const QString &sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // Binds a 64-bit integer to the 1-based parameter.
    void bind(int parameter, qint64 value);
    void bind(int parameter, const QString &text);
    void bindNull(int parameter);
    // Steps to the next row: true when there is one; throws on an engine error.
    bool step();
    // Makes the statement ready to run again (bindings stay).
    void reset();

    int columnCount() const;
    QString columnName(int column) const;
    QString declaredType(int column) const; // "" for an expression
    bool isNull(int column) const;
    bool isFloat(int column) const;
    bool isInteger(int column) const;
    qint64 integer(int column) const;
    // The value as Qt's SQLite driver would give it as text: integers in decimal, reals in
    // their shortest form, text and blobs as UTF-16. The view is valid until the next step.
    QStringView text(int column, QString *scratch) const;
    // A text value's UTF-8 bytes as stored; false for any other value.
    bool utf8(int column, const unsigned char **data, qsizetype *size) const;

    sqlite3_stmt *get() const { return m_statement; }

private:
    [[noreturn]] void fail() const;

    sqlite3 *m_handle;
    sqlite3_stmt *m_statement = nullptr;
};

// Holds one read transaction over several statements (point reads by key would otherwise each
// take and release the file's locks); does nothing inside a transaction already open.
class ReadTransaction
{
public:
    explicit ReadTransaction(sqlite3 *handle);
    ~ReadTransaction();
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;

private:
    sqlite3 *m_handle;
    bool m_began = false;
};

// Runs the statement and returns the integer in its first column for every row.
std::vector<qint64> readKeys(sqlite3 *handle, const QString &sql);

} // namespace lianbu::db::engine
