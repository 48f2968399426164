#pragma once

#include "data/Statements.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace lianbu {

namespace db {
class Connection;
class Engine;
} // namespace db

// The quick search's index: a trigram full-text index over the six searched columns of data
// (a, b, g, c, i, j) that reads its texts from data itself, kept up to date by triggers on data,
// so every writer (also an older program or the sqlite3 shell) keeps it right. A LIKE pattern
// with a run of three or more characters without wildcards is answered from it; the candidates
// are checked with the plain LIKE on data, so the result is exactly the plain statement's.
inline constexpr char kSearchIndexTable[] = "data_fts";
// The index of the category column that comes with it.
inline constexpr char kCategoryIndex[] = "data_a";

// The quick search's second table, on both engines: per customer the pinyin initials of 客户简称
// (b) and 姓名 (c) and the mobile number (f), under a trigram index, so "hw" finds 华为 and the
// telephone field finds mobile numbers without reading every row. The initials are the program's
// (data/PinyinInitials); plain SQL triggers on data only list the rows written since
// (kSearchExtraStale), so every writer keeps the table truthful, and the program brings the
// listed rows up to date before it searches.
inline constexpr char kSearchExtraTable[] = "data_search_extra";
inline constexpr char kSearchExtraStale[] = "data_search_stale";

// The statements that create the table, its stale list and the triggers for an empty data
// (the server's trigram indexes need pg_trgm).
QStringList searchExtraStatements(const db::Engine &engine);
// SQLite: the triggers that list written rows in the stale table (made again by the register's
// upgrade when an older form of them is there).
QStringList searchStaleTriggerStatements();
bool hasSearchExtra(db::Connection &connection);
// Creates the table in a register that has none and fills it (one transaction).
void createSearchExtra(db::Connection &connection, const std::function<void(qint64 done, qint64 total)> &progress);
// Brings the rows written since the last refresh up to date; false when the register cannot be
// written now (the search then finds what the table held).
bool refreshSearchExtra(db::Connection &connection);

// The customer list's stored sort keys (db/SortKeys.h): every column of data, so a title click
// reads an index instead of collating every row.
QStringList sortKeyColumns();

// The statements that create the index and its triggers in an empty register (with the sort
// keys).
QStringList searchIndexStatements();

// True when the register has the index (never on a server: there the pg_trgm indexes serve the
// plain LIKE conditions).
bool hasSearchIndex(db::Connection &connection);
// True when the register's categories have their index (data_a; never on a server).
bool hasCategoryIndex(db::Connection &connection);

// Builds the index in a register that has none (one transaction: either complete or absent).
// `progress(done, total)` is called between steps of a few thousand rows.
void createSearchIndex(db::Connection &connection, const std::function<void(qint64 done, qint64 total)> &progress);

namespace sql {

// The rowids of the rows the quick search statement sql::search() lists, in the same order,
// for the same six fields. With `indexed`, when a field holds three or more characters without
// % and _ in a row, the candidates come from the trigram index first.
QString searchKeys(const QString &a, const QString &b, const QString &g, const QString &c, const QString &i,
                   const QString &j, bool indexed = true);

// searchKeys() with the values bound, on either engine: the keys of sql::boundSearch()'s rows in
// its order (the trigram index narrows only on SQLite, with `indexed`).
// With `extra` (the register has the second table), its index narrows the telephone and pinyin
// conditions too.
BoundStatement boundSearchKeys(const db::Engine &engine, const QString &a, const QString &b, const QString &g,
                               const QString &c, const QString &i, const QString &j, bool indexed, bool extra = false);

// The longest run of characters without % and _ in the text.
int longestLiteralRun(const QString &text);

} // namespace sql

} // namespace lianbu
