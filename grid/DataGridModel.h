#pragma once

// The table model the grid's view shows: one row per row of the list model the grid was given,
// one column per grid column (hidden ones included, their sections hidden). A grid column shows
// the list model's column whose header names its field (db::ListRole::FieldName, any letter
// case); the cells' text comes from that model, their font, colour and alignment from the
// grid column. Follows the list model's protocol one to one (reset, rows inserted and removed,
// values changed, layout changed), so the view keeps its current row through all of them.

#include <QAbstractTableModel>
#include <QPersistentModelIndex>
#include <QPointer>

#include <vector>

class GridSurface;
class GridColumn;

class DataGridModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    DataGridModel(GridSurface *grid, QObject *parent);

    void setSourceModel(QAbstractItemModel *model);
    QAbstractItemModel *sourceModel() const { return m_source; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The list model's column shown by grid column `column` (-1 when none).
    int sourceColumn(int column) const;
    int sourceColumnOf(const GridColumn *column) const;
    // The list model's column whose field is `name` (any letter case), -1 when none.
    int sourceColumnOfField(const QString &name) const;
    // A header value of the list model's column for the field `name`; invalid when none.
    QVariant fieldHeader(const QString &name, int role) const;

    // The grid's columns were added or removed: the view's sections follow (one reset).
    void rebuildColumns();
    // Columns moved or were bound to other fields without the rows changing.
    void columnsRearranged();

signals:
    // The list model was reset or replaced (not a reset of the grid's own columns).
    void sourceReset();
    // The list model's fields changed (titles, widths, their number).
    void fieldsChanged();

private:
    void resolveFields();
    void connectSource();

    GridSurface *m_grid;
    QPointer<QAbstractItemModel> m_source;
    std::vector<int> m_sourceColumn; // per grid column
    int m_columnCount = 0;
    int m_rowCount = 0; // changes only through the reset/insert/remove protocol
    // Across a layout change of the list model: the view's indexes and where their rows are.
    QModelIndexList m_layoutIndexes;
    QList<QPersistentModelIndex> m_layoutSources;
};
