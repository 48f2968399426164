#pragma once

#include <QString>
#include <QVariantList>

namespace lianbu::db {
class Engine;
}

// The catalogue of the program's SQL statements, one function per statement.
// Every value goes into its statement through sqlLiteral(), the one quoting helper. The
// statements that read or write passwords are not here: they bind their values
// (data/OperatorStore.h), so no password is ever part of a statement's text.
namespace lianbu::sql {

// The password a new or reset operator receives (shown in the login dialog and in the
// operator administration messages).
inline constexpr char16_t kDefaultPassword[] = u"888";
QString defaultPassword();

// A value as an SQL string literal: between single quotes, every single quote doubled.
QString sqlLiteral(const QString &value);

// Every record (trailing blank kept).
QString allRecords();
// The quick search; an empty field adds no condition; fields as typed (not trimmed).
QString search(const QString &a, const QString &b, const QString &g, const QString &c, const QString &i,
               const QString &j);
// The quick search with its values bound, on either engine (the engine supplies its LIKE
// condition, which compares as SQLite's LIKE does): the rows of search(), and also those whose
// mobile number (f) holds the telephone text, and, with `extra` (the register has the table of
// initials, data/SearchIndex.h), those whose 客户简称 or 姓名 has pinyin initials holding a text of
// ASCII letters alone ("hw" finds 华为).
struct BoundStatement
{
    QString text;
    QVariantList values;
};
BoundStatement boundSearch(const db::Engine &engine, const QString &a, const QString &b, const QString &g,
                           const QString &c, const QString &i, const QString &j, bool extra = false);
// The distinct values of a column, ascending. column and table are identifiers of the program
// (letters, digits, "_"); anything else throws lianbu::Error.
QString distinctValues(const QString &column, const QString &table);
// The same values in the same order, found by one seek in the column's index for each value
// instead of reading every row (SQLite; the column must have an index).
QString distinctValuesBySeek(const QString &column, const QString &table);
// The start of a session.
QString sessionStart(const QString &name, const QString &dateTimeText);
// The id of the rz row this connection inserted last, column "maxid". Used for the session id
// instead of the newest id of rz, which would give another instance's session when two log in
// at once.
QString insertedSessionId();
// The end of a session (no blank before "where").
QString sessionEnd(const QString &dateTimeText, int sessionId);
// The removal of an operator (every row of that name).
QString deleteOperator(const QString &name);
// The operator list in the database's order.
QString operatorList();

} // namespace lianbu::sql
