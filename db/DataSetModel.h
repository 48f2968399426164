#pragma once

#include "db/DataSet.h"
#include "db/ListRows.h"

#include <QAbstractTableModel>

#include <functional>
#include <memory>

namespace lianbu::db {

// A table model over an open DataSet: one row per record in the dataset's order, one column per
// field (in field order, so a column is also the value index of the rows reader). Answers the
// roles of db/ListRoles.h. Follows the dataset row by row: an appended, refreshed or forgotten key
// is one inserted, changed or removed row; reopening is one reset; a sort is one layout change
// that keeps the view's current and selected rows on their records. The dataset's own current
// row is not the view's: the view keeps its current index.
class DataSetModel : public QAbstractTableModel, public RowSource, private DataSetObserver
{
    Q_OBJECT

public:
    explicit DataSetModel(QObject *parent = nullptr);
    ~DataSetModel() override;

    // The dataset shown (not owned; nullptr for none). One reset.
    void setDataSet(DataSet *dataSet);
    const DataSet *dataSet() const { return m_dataSet; }
    bool active() const { return m_dataSet && m_dataSet->active(); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Sorts by the column's field (stable; text in Chinese collation, nulls first ascending).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // "field", "field DESC"; "" restores the order the rows were read in.
    void setSortText(const QString &sort);
    QString sortText() const;

    // The column showing the field (any letter case), -1 when none.
    int columnOfField(const QString &name) const;
    // The key of `row` (0 for none) and the row of a key (-1 when the list does not hold it).
    qint64 keyAt(int row) const;
    int rowOfKey(qint64 key) const;

    std::unique_ptr<RowReader> rowReader(int currentRow) const override;

protected:
    // Runs `change`, which reopens or replaces the dataset's rows, as one model reset.
    void resetWith(const std::function<void()> &change);

private:
    void resetAll() override;
    void rowValuesChanged(int row) override;
    void willInsertRow(int row) override;
    void didInsertRow(int row) override;
    void willRemoveRow(int row) override;
    void didRemoveRow(int row) override;
    void currentRowMoved(int) override {}
    void stateMoved(DataSetState) override {}
    void dataSetDestroyed() override;
    void takeCounts();

    DataSet *m_dataSet = nullptr;
    int m_rows = 0;    // as the views know them: changes only through the model's protocol
    int m_columns = 0; // the fields at the last reset
    int m_quiet = 0;   // the model itself drives the change: the dataset's own notices are dropped
};

} // namespace lianbu::db
