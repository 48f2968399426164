#pragma once

// Stored sort keys: for a table's text columns, the Chinese collation key of every value, kept in
// a table of its own with an index per column, so a list is put in a column's order by reading
// that index instead of reading and collating every row.
//
// The key table "<table>_sortkeys" holds (rid, fresh, one key per column). Plain SQL triggers on
// the table mark a written row's keys stale (fresh = 0), so every writer, also the sqlite3 shell
// or an older program, keeps the table truthful; the program computes the stale keys before it
// reads them. Everything SQLite-specific sits here, behind these few functions.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <optional>
#include <vector>

namespace lianbu::db {

class Connection;

// The key whose byte order (memcmp, shorter first on a tie) is the list's text order: digits and
// Latin first, then Chinese by pinyin, by the same collation as DataSet's sort.
QByteArray collationKey(QStringView text);

// Text whose first character is Chinese sorts after all other text.
bool startsWithHan(QStringView text);

// The order of a list sorted by a column (DataSet's sort, or the stored keys) for two of its
// values (nullopt: null): nulls first; text in the stored keys' order; numbers (`numeric`) by
// value after text that is no number. A row placed among sorted rows by it stands where sorting
// them again puts it (after its equals).
bool sortsBefore(const std::optional<QString> &a, const std::optional<QString> &b, bool numeric);

// The statements that create the key table, its indexes and triggers for an empty table.
QStringList sortKeyStatements(const QString &table, const QStringList &columns);

// True when the table has stored keys.
bool hasSortKeys(Connection &connection, const QString &table);

// Creates the key table of a table that has none and computes every key (one transaction).
// `progress(done, total)` is called between batches of rows.
void createSortKeys(Connection &connection, const QString &table, const QStringList &columns,
                    const std::function<void(qint64 done, qint64 total)> &progress);

// Computes every key marked stale (after a bulk write); throws lianbu::Error when the register
// cannot be written.
void updateSortKeys(Connection &connection, const QString &table);

// The rows `keys` (table rowids, in their current order) put in the order of `column`: equal
// values keep their current order, nulls (and rows no longer in the table) first ascending and
// last descending. Fills `order` with positions into `keys`; false when the table has no stored
// keys for the column or they cannot be brought up to date now (the caller sorts by itself).
bool orderByStoredKeys(Connection &connection, const QString &table, const QString &column, bool descending,
                       const std::vector<qint64> &keys, std::vector<int> *order);

} // namespace lianbu::db
