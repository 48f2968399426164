#pragma once

#include "db/Field.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace lianbu::db {

class Connection;
struct Condition;
struct EditBuffer;
class RowCache;
struct SortRanks;

enum class DataSetState { Inactive, Browse, Edit, Insert };

// What a dataset tells the controls bound to it, in the order of QAbstractItemModel's protocol
// (DataSource forwards it as signals). Nothing is told while the controls are disabled.
class DataSetObserver
{
public:
    virtual void resetAll() = 0;                // open, close, sort, reload, enableControls
    virtual void rowValuesChanged(int row) = 0; // one row's values
    virtual void willInsertRow(int row) = 0;
    virtual void didInsertRow(int row) = 0;
    virtual void willRemoveRow(int row) = 0;
    virtual void didRemoveRow(int row) = 0;
    virtual void currentRowMoved(int row) = 0; // the new current row, -1 for none
    virtual void stateMoved(DataSetState state) = 0;
    virtual void dataSetDestroyed() = 0;

protected:
    ~DataSetObserver() = default;
};

// Identifies one record of an open dataset; stays valid across sorting and edits of other rows,
// becomes invalid when its record is deleted or the dataset is reopened.
struct Bookmark
{
    quint32 serial = 0;
    quint32 generation = 0; // which open it belongs to; 0 = no bookmark
    bool isValid() const { return generation != 0; }
    bool operator==(const Bookmark &) const = default;
};

// Base of Query and Table: the result of a select statement.
//
// When the statement selects from one table only (no join, grouping, aggregate or DISTINCT),
// open() keeps only the ordered rowids of its result (a keyset: one integer per row) and reads
// the rows a control asks for by key, a few screens at a time, into a small cache. The set and
// order of the rows are fixed at open, as with a static snapshot; a row's values are those of
// the table when they are read. Such a dataset is updatable: the rowid is a hidden key (never a
// field), so edit/post and delete act on exactly that row in the table. Any other statement is
// read completely at open and held in memory.
//
// Navigation follows the usual dataset rules: first() sets bof(), last() sets eof(), next() on
// the last row and prior() on the first row only set eof()/bof(). Row positions ("row") are
// 0-based; recNo() is 1-based.
//
// Errors are lianbu::Error: "Field '%s' not found", "Cannot perform this operation on an empty
// dataset", "Operation is not allowed when the object is closed", and the engine's own message
// when the database refuses a statement (with a Chinese text for the operator). A failed open
// leaves the dataset closed; a refused post or delete leaves the dataset in browse state with the
// row as it was in the database.
//
// Edits and deletes are optimistic: they act only while the row still holds every value as it
// was read. A row another connection changed or deleted meanwhile refuses them with "Row cannot
// be located for updating/deleting..." (the operator text says what happened and asks for a
// reload); a row found deleted leaves the list.
class DataSet
{
public:
    explicit DataSet(Connection *connection = nullptr);
    virtual ~DataSet();
    DataSet(const DataSet &) = delete;
    DataSet &operator=(const DataSet &) = delete;

    void setConnection(Connection *connection);
    Connection *connection() const { return m_connection; }

    // ---- open / close ------------------------------------------------------------------
    // Runs the statement and reads every row; an open dataset is closed and read again.
    // Reopening clears the sort, the fields and the bookmarks of the previous result.
    void open();
    // Opens the statement's result as the given rows in the given order, without running the
    // statement: for a result found elsewhere (a search on another connection). The statement
    // must select from one table; `keys` are that table's rowids.
    void openKeys(std::vector<qint64> keys);
    void close();
    // Closes and hands over the keys (in the order shown) instead of freeing them.
    std::vector<qint64> closeTakingKeys();
    bool active() const { return m_state != DataSetState::Inactive; }
    void setActive(bool active) { active ? open() : close(); }
    DataSetState state() const { return m_state; }
    // True when edit/append/delete are possible (single-table statement).
    bool canModify() const { return !m_updateTable.isEmpty(); }
    // The table that edits and deletes are written to ("" when read-only).
    const QString &updateTable() const { return m_updateTable; }

    // ---- navigation ----------------------------------------------------------------------
    int recordCount() const;
    bool isEmpty() const { return recordCount() == 0; }
    void first();
    void last();
    void next();
    void prior();
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    // 1-based number of the current record, 0 when there is none.
    int recNo() const { return m_current + 1; }
    void setRecNo(int recNo) { moveToRow(recNo - 1); }
    // 0-based current row, -1 when there is none.
    int currentRow() const { return m_current; }
    // Makes `row` current (clamped into range); posts a pending edit first.
    void moveToRow(int row);
    // The rowid of each row in the current order (0 for a row not yet posted or a statement
    // that does not select from one table).
    const std::vector<qint64> &keys() const { return m_keys; }
    // The row showing the table row `key`, -1 when the dataset does not hold it.
    int rowOfKey(qint64 key) const;

    // ---- fields --------------------------------------------------------------------------
    int fieldCount() const { return int(m_fields.size()); }
    Field &field(int index) const { return *m_fields.at(size_t(index)); }
    Field *findField(const QString &name) const;   // case-insensitive; nullptr when absent
    Field &fieldByName(const QString &name) const; // throws "Field '%s' not found"

    // Random access for bound controls: the text of a cell of any row, without moving the
    // current row. The current row shows its edit buffer while editing.
    QString cellText(int row, int fieldIndex) const;
    bool cellIsNull(int row, int fieldIndex) const;

    // The cells of one row handed to readRows(), by field index; valid during the call only.
    class RowCells
    {
    public:
        QStringView text(int fieldIndex) const;
        bool isNull(int fieldIndex) const;

    private:
        friend class DataSet;
        const QString *m_packed = nullptr;
        const std::vector<std::unique_ptr<Field>> *m_fields = nullptr;
    };
    // Reads the rows [from, to) in the current order for an export or a printout of a long list:
    // in large batches through one prepared statement (a range scan where the keys ascend),
    // without moving the current row or touching the row cache. The row being edited shows its
    // edit buffer.
    void readRows(int from, int to, const std::function<void(int row, const RowCells &cells)> &visit) const;

    // ---- editing -------------------------------------------------------------------------
    // The values of the current row as read now, kept by a form that shows the record while the
    // operator types: the rows of a keyset may be read again meanwhile, but a save must be
    // checked against what the operator saw.
    struct RecordAsRead
    {
        qint64 key = 0;                             // the table row; 0 for none
        std::vector<std::optional<QString>> values; // by stored column
    };
    RecordAsRead currentRecordAsRead() const;
    // True when the table still holds the row `key` (read now; also when it cannot be read).
    bool tableHoldsRow(qint64 key) const;
    // The table row `key` was written through another dataset: where this one shows it, it is
    // read again.
    void refreshKey(qint64 key);
    // The table row `key` was added through another dataset: a keyset shows it as its last row
    // (once; a dataset read completely, or one that holds it already, stays as it is).
    void appendKey(qint64 key);
    // The table row `key` was deleted through another dataset: where this one shows it, the row
    // leaves (unless it is being edited).
    void forgetKey(qint64 key);
    // The table row `key`, added elsewhere, shown at `row` (clamped) of a keyset that does not
    // hold it yet; the current record stays current.
    void insertKey(int row, qint64 key);
    // The rows showing each of `keys` (-1 for a key not held), found in one pass.
    std::vector<int> rowsOfKeys(const std::vector<qint64> &keys) const;
    // refreshKey for many keys at once, found in one pass.
    void refreshKeys(const std::vector<qint64> &keys);
    void edit(); // current row into edit state
    // As edit(), but a save goes through only while the row still holds `asRead`. `asRead` must
    // be the current row, read by a dataset of the same columns: anything else throws, so a
    // form never writes into a row other than the one it showed.
    void edit(const RecordAsRead &asRead);
    void append();       // a new empty row at the end, current, in insert state
    void post();         // writes the edit or the new row; on disk when it returns
    void cancel();       // drops the pending edit or new row
    void deleteRecord(); // deletes the current row from the table and the snapshot
    // Posts a pending edit (used before moving, sorting, closing).
    void checkBrowseMode();

    // ---- client-side sort ----------------------------------------------------------------
    // "col" or "col DESC" (also "col ASC"); "" restores the order in which the rows were read.
    // Stable; text by Chinese collation, numbers by value, nulls first when ascending. The sort
    // belongs to the open result: close/open clears it. The current record stays current.
    void setSort(const QString &sort);
    const QString &sort() const { return m_sort; }
    // A sort by a value the rows do not hold (a column a model adds beside the fields): given the
    // name, the direction and the keys in their current order, the positions into the keys in
    // the new order; nullopt when the name is not its own.
    using OutsideSort = std::function<std::optional<std::vector<int>>(const QString &name, bool descending,
                                                                      const std::vector<qint64> &keys)>;
    void setOutsideSort(OutsideSort sort) { m_outsideSort = std::move(sort); }

    // ---- bookmarks -----------------------------------------------------------------------
    Bookmark bookmark() const;
    bool bookmarkValid(const Bookmark &bookmark) const;
    void gotoBookmark(const Bookmark &bookmark);       // throws when invalid
    int rowOfBookmark(const Bookmark &bookmark) const; // -1 when invalid

    // ---- bound controls ------------------------------------------------------------------
    // While disabled (nesting), data sources send nothing; enabling the last level sends one
    // dataSetChanged (and currentRowChanged / stateChanged when they changed).
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return m_disableCount > 0; }
    void addObserver(DataSetObserver *observer);
    void removeObserver(DataSetObserver *observer);

protected:
    // The select statement that open() runs, and the values bound to its placeholders.
    virtual QString selectStatement() const = 0;
    virtual QVariantList selectValues() const { return {}; }

private:
    friend class Field;

    void checkActive() const;
    void checkNotEmpty() const;
    void checkModifiable() const;
    void resetAfterClose();
    void openWith(std::vector<qint64> *givenKeys);
    void loadRows(const QString &sql);
    bool loadKeys(const QString &sql, const QString &table, qsizetype listStart, qsizetype listEnd,
                  const QString &hiddenKey, const std::vector<std::pair<QString, QString>> &columns);
    // The stored cells of a row (nullptr when a keyed row can no longer be read).
    const QString *packedRow(int row) const;
    void fetchAround(int row, int ahead = 0) const;
    void storeFetched(qint64 key, QString packed) const;
    std::optional<QString> valueOf(int row, int fieldIndex) const;
    // Per reading position: an integer whose order is the sort order of the field's column.
    const std::vector<int> &sortRanks(int column, Field::DataType type) const;
    void forgetSortRanks();
    void moveField(int from, int to);
    // The fields in the order their values are stored (the order of the first reading).
    std::vector<const Field *> fieldsByColumn() const;
    void setFieldValue(int fieldIndex, const std::optional<QString> &value);
    void refreshRowFromDatabase(int row);
    // "col is ?" for every stored column, binding the values as read (by stored column).
    void addUnchangedConditions(const std::vector<std::optional<QString>> &asRead,
                                std::vector<Condition> *conditions) const;
    bool rowExists(qint64 key) const;
    void removeRowAt(int row, int newCurrent);
    void setCurrent(int row);
    void setState(DataSetState state);

    // notifications to the observers
    void notifyDataSetChanged();
    void notifyRecordChanged(int row);
    void notifyRowAboutToBeInserted(int row);
    void notifyRowInserted(int row);
    void notifyRowAboutToBeRemoved(int row);
    void notifyRowRemoved(int row);
    void notifyCurrentRowChanged();
    void notifyStateChanged();

    Connection *m_connection = nullptr;
    DataSetState m_state = DataSetState::Inactive;
    QString m_updateTable;
    std::vector<std::unique_ptr<Field>> m_fields;
    // Per row in the current order: the table's rowid (0 for a row not yet posted) and the
    // position in which the row was read (its bookmark). Cells live in m_packed for a statement
    // read completely, in the row cache for a keyset.
    std::vector<qint64> m_keys;
    std::vector<quint32> m_serials;
    std::vector<QString> m_packed;
    bool m_keyset = false;
    std::vector<qint64> *m_givenKeys = nullptr; // during openKeys()
    QString m_fetchStatement;                   // keyset: "select <key>, <list> from <table>", read by key
    QString m_fetchKey;                         // keyset: the key column (the engine's hidden row key)
    std::vector<int> m_columnOf;                // keyset: result column of each stored field
    std::unique_ptr<RowCache> m_cache;
    mutable std::unique_ptr<SortRanks> m_ranks;
    OutsideSort m_outsideSort;
    std::optional<std::vector<int>> outsideOrder(const QStringList &parts) const;
    std::unique_ptr<EditBuffer> m_edit;
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    QString m_sort;
    quint32 m_nextSerial = 0;
    quint32 m_generation = 0;
    int m_disableCount = 0;
    bool m_pendingReset = false;
    std::vector<DataSetObserver *> m_observers;
};

} // namespace lianbu::db
