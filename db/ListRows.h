#pragma once

// What export and printing read of a list: its columns as the operator sees them and its rows
// in the order shown. They read through these and nothing else, so whatever they do leaves the
// list as it is: no field is renumbered or relabelled, no current row moves.

#include "db/Field.h"

#include <QString>
#include <QStringList>
#include <QStringView>
#include <Qt>

#include <functional>
#include <memory>
#include <vector>

namespace lianbu::db {

class DataSet;

// What a footer cell shows.
enum class FooterKind { None, Text, Count, Sum, Average, CurrentValue };

struct ListFooter
{
    FooterKind kind = FooterKind::None;
    // The fixed text of FooterKind::Text. The legacy sheet writes it whatever the kind.
    QString text;
    // The value summed, averaged or shown; -1 means the column's own.
    int valueIndex = -1;
};

// One shown column.
struct ListColumn
{
    QString fieldName;
    int valueIndex = -1; // which value of a row (RowCells) it shows; -1 = none
    Field::DataType type = Field::DataType::String;
    QString title; // levels separated by "|"
    int width = 0; // on screen, in pixels
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    Qt::Alignment titleAlignment = Qt::AlignHCenter | Qt::AlignVCenter;
    // By footer row, from the first; a footer row past the end shows nothing in this column.
    std::vector<ListFooter> footers;
    // False for a value no column shows that an export writes after the shown columns, under
    // its own title (printing leaves it out).
    bool shown = true;

    // The footer shown in `row`, nullptr when the column shows nothing there.
    const ListFooter *footerForRow(int row) const
    {
        return row >= 0 && size_t(row) < footers.size() ? &footers[size_t(row)] : nullptr;
    }
};

// The shown columns in the shown order, and what the list shows around them.
struct ListColumns
{
    std::vector<ListColumn> columns;
    int footerRows = 0;
    bool multiLevelTitles = false;
    // The levels of the deepest title of all the list's columns, hidden ones included (the
    // sheet has that many title rows); at least 1.
    int titleDepth = 1;
};

// The cells of one row handed to RowReader::readRows, by value index; valid during the call only.
class RowCells
{
public:
    virtual QStringView text(int valueIndex) const = 0;
    virtual bool isNull(int valueIndex) const = 0;

protected:
    ~RowCells() = default;
};

// The rows of a list in the order it shows them.
class RowReader
{
public:
    using Visit = std::function<void(int row, const RowCells &cells)>;

    virtual ~RowReader() = default;
    virtual int rowCount() const = 0;
    // Hands the rows [from, to) to `visit` in the shown order, read in large batches, without
    // moving the list's current row. Throws lianbu::Error when the rows cannot be read.
    virtual void readRows(int from, int to, const Visit &visit) const = 0;
    // The row the list shows as current, -1 when none.
    virtual int currentRow() const = 0;
    // True once the list was reopened, re-sorted or changed its length since this reader was
    // made: a reader used over a long time (a printout) stops then rather than mix two lists.
    virtual bool stale() const = 0;
};

// A list model that reads its rows in batches offers a reader over them (value index = the
// model's column); the grid's sums, export and printing read through it instead of cell by cell.
class RowSource
{
public:
    // The rows as shown now; `currentRow` is the row the view shows as current (-1 for none).
    virtual std::unique_ptr<RowReader> rowReader(int currentRow) const = 0;

protected:
    ~RowSource() = default;
};

// The reader over an open DataSet: value index = field index, rows in the dataset's current
// order (its sort applied). The dataset must outlive the reader.
class DataSetRows final : public RowReader
{
public:
    explicit DataSetRows(const DataSet &dataSet);
    // The same, with the current row of the view that shows the dataset.
    DataSetRows(const DataSet &dataSet, int currentRow);

    int rowCount() const override;
    void readRows(int from, int to, const Visit &visit) const override;
    int currentRow() const override;
    bool stale() const override;

private:
    const DataSet &m_dataSet;
    int m_rowsAtStart;
    QString m_sortAtStart;
    bool m_ownCurrent = false;
    int m_currentRow = -1;
};

// The text of a footer cell of `column` over the rows `rows` reads, as the grid shows it:
// sums and averages of the values that are numbers ("" for an average of none), integers
// without a decimal point. Reads every row for a sum or an average.
QString footerText(const ListFooter &footer, const ListColumn &column, const RowReader &rows);

// Splits a title at "|" into its levels; blanks around a level are kept as written.
QStringList titleLevels(const QString &title);

} // namespace lianbu::db
