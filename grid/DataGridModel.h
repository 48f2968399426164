#pragma once

// The table model of DataGrid: one row per dataset record, one column per grid column
// (hidden ones included, their sections hidden). Reads cells straight from the dataset's
// snapshot; keeps only the field index per column.

#include <QAbstractTableModel>

#include <vector>

class GridSurface;
class GridColumn;

class DataGridModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    DataGridModel(GridSurface *grid, QObject *parent);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Field index of the column at `column`, -1 when it has none in the dataset.
    int fieldIndex(int column) const;
    int fieldIndexOf(const GridColumn *column) const;

    // Called by the grid: the dataset or the columns changed wholesale.
    void beginReset() { beginResetModel(); }
    void endReset();
    void resolveFields();
    // columns moved/added/removed without the rows changing.
    void columnsRearranged();
    // A row's values changed (or every row when row < 0).
    void rowChanged(int row);
    void beginInsertRow(int row);
    void endInsertRow();
    void beginRemoveRow(int row);
    void endRemoveRow();

private:
    GridSurface *m_grid;
    std::vector<int> m_fieldIndex; // per column
    int m_columnCount = 0;
    int m_rowCount = 0; // changes only through the reset/insert/remove protocol
};
