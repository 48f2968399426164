#pragma once

// Stored sort order: for a table's text columns, a 4-byte label per row and column whose order is
// the Chinese collation's (equal labels for values that collate equal, 0 for null), so a list is
// put in a column's order by reading that column's labels (4 bytes a row) and sorting integers,
// instead of reading and collating every row.
//
// "<table>_sortorder" holds the labels, 1,000 consecutive rowids to a row; "<table>_sortorder_columns"
// names the columns. Plain SQL triggers on the table list a written row in
// "<table>_sortorder_stale", so every writer, also the sqlite3 shell or an older program, keeps
// the order truthful; before a column's labels are read the program places the rows written
// since between the labels already there (a search comparing collation keys), and makes the
// column again when many were written. Everything SQLite-specific sits here, behind these few
// functions.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <vector>

namespace lianbu::db {

class Connection;

// The key whose byte order (memcmp, shorter first on a tie) is the list's text order: digits and
// Latin first, then Chinese by pinyin, by the same collation as DataSet's sort.
QByteArray collationKey(QStringView text);

// Text whose first character is Chinese sorts after all other text.
bool startsWithHan(QStringView text);

// The statements that create the order tables and triggers for an empty table.
QStringList sortKeyStatements(const QString &table, const QStringList &columns);

// True when the table has a stored order.
bool hasSortKeys(Connection &connection, const QString &table);

// Creates the stored order of a table that has none (one transaction). A table with the former
// stored keys ("<table>_sortkeys", a key per row and column with an index per column) has its
// labels read from those indexes in order, without collating again, and the former keys dropped.
// `progress(done, total)` is called after each column and every few thousand rows of one.
void createSortKeys(Connection &connection, const QString &table, const QStringList &columns,
                    const std::function<void(qint64 done, qint64 total)> &progress);

// Labels every row written since (after a bulk write); throws lianbu::Error when the register
// cannot be written.
void updateSortKeys(Connection &connection, const QString &table);

// The rows `keys` (table rowids, in their current order) put in the order of `column`: equal
// values keep their current order, nulls (and rows no longer in the table) first ascending and
// last descending. Fills `order` with positions into `keys`; false when the table has no stored
// order for the column or it cannot be brought up to date now (the caller sorts by itself).
bool orderByStoredKeys(Connection &connection, const QString &table, const QString &column, bool descending,
                       const std::vector<qint64> &keys, std::vector<int> *order);

} // namespace lianbu::db
