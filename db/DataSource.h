#pragma once

#include "db/DataSet.h"

#include <QObject>

namespace lianbu::db {

// Binds controls to a dataset: forwards every change of the dataset's data, current row and
// state as signals. The signals follow QAbstractItemModel's protocol so a model can map them
// directly:
//   dataSetChanged        -> beginResetModel(); endResetModel();   (open, close, sort, reload,
//                                                                   enableControls)
//   recordChanged(row)    -> dataChanged(row, 0 .. row, last)      (one row's values)
//   rowAboutToBeInserted  -> beginInsertRows(row, row); rowInserted -> endInsertRows()
//   rowAboutToBeRemoved   -> beginRemoveRows(row, row); rowRemoved  -> endRemoveRows()
// currentRowChanged carries the new current row (0-based, -1 for none); stateChanged the new
// state. Nothing is sent while the dataset's controls are disabled.
class DataSource : public QObject, private DataSetObserver
{
    Q_OBJECT

public:
    explicit DataSource(QObject *parent = nullptr);
    ~DataSource() override;

    void setDataSet(DataSet *dataSet);
    DataSet *dataSet() const { return m_dataSet; }

signals:
    void dataSetChanged();
    void recordChanged(int row);
    void rowAboutToBeInserted(int row);
    void rowInserted(int row);
    void rowAboutToBeRemoved(int row);
    void rowRemoved(int row);
    void currentRowChanged(int row);
    void stateChanged(lianbu::db::DataSetState state);

private:
    void resetAll() override { emit dataSetChanged(); }
    void rowValuesChanged(int row) override { emit recordChanged(row); }
    void willInsertRow(int row) override { emit rowAboutToBeInserted(row); }
    void didInsertRow(int row) override { emit rowInserted(row); }
    void willRemoveRow(int row) override { emit rowAboutToBeRemoved(row); }
    void didRemoveRow(int row) override { emit rowRemoved(row); }
    void currentRowMoved(int row) override { emit currentRowChanged(row); }
    void stateMoved(DataSetState state) override { emit stateChanged(state); }
    void dataSetDestroyed() override;

    DataSet *m_dataSet = nullptr;
};

} // namespace lianbu::db
