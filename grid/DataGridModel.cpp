#include "grid/DataGridModel.h"

#include "grid/GridSurface.h"

#include "db/DataSet.h"
#include "db/Field.h"

DataGridModel::DataGridModel(GridSurface *grid, QObject *parent)
    : QAbstractTableModel(parent)
    , m_grid(grid)
{
    m_columnCount = grid->columns()->count();
}

int DataGridModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return m_rowCount;
}

int DataGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columnCount;
}

int DataGridModel::fieldIndex(int column) const
{
    return column >= 0 && size_t(column) < m_fieldIndex.size() ? m_fieldIndex[size_t(column)] : -1;
}

int DataGridModel::fieldIndexOf(const GridColumn *column) const
{
    return fieldIndex(m_grid->columns()->indexOf(column));
}

QVariant DataGridModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    const int col = index.column();
    if (row < 0 || row >= m_rowCount || col < 0 || col >= m_grid->columns()->count())
        return {};
    const GridColumn *column = m_grid->columns()->items(col);
    switch (role) {
    case Qt::DisplayRole: {
        const lianbu::db::DataSet *ds = m_grid->dataSet();
        const int field = fieldIndex(col);
        if (!ds || field < 0 || !ds->active() || row >= ds->recordCount())
            return QString();
        return ds->cellText(row, field);
    }
    case Qt::BackgroundRole:
        return m_grid->cellColor(row, column);
    case Qt::FontRole:
        return column->font();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(column->alignment());
    default:
        return {};
    }
}

QVariant DataGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal) {
        if (section >= 0 && section < m_grid->columns()->count())
            return m_grid->columns()->items(section)->title()->caption();
        return {};
    }
    return QString();
}

Qt::ItemFlags DataGridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void DataGridModel::resolveFields()
{
    const GridColumns *columns = m_grid->columns();
    const lianbu::db::DataSet *ds = m_grid->dataSet();
    m_fieldIndex.assign(size_t(columns->count()), -1);
    if (!ds || !ds->active())
        return;
    for (int i = 0; i < columns->count(); ++i) {
        if (const lianbu::db::Field *field = ds->findField(columns->items(i)->fieldName()))
            m_fieldIndex[size_t(i)] = field->index();
    }
}

void DataGridModel::endReset()
{
    const lianbu::db::DataSet *ds = m_grid->dataSet();
    m_rowCount = ds && ds->active() ? ds->recordCount() : 0;
    m_columnCount = m_grid->columns()->count();
    resolveFields();
    endResetModel();
}

void DataGridModel::columnsRearranged()
{
    resolveFields();
    if (m_columnCount > 0)
        emit headerDataChanged(Qt::Horizontal, 0, m_columnCount - 1);
    if (m_rowCount > 0 && m_columnCount > 0)
        emit dataChanged(index(0, 0), index(m_rowCount - 1, m_columnCount - 1));
}

void DataGridModel::rowChanged(int row)
{
    if (m_rowCount == 0 || m_columnCount == 0)
        return;
    if (row < 0 || row >= m_rowCount)
        emit dataChanged(index(0, 0), index(m_rowCount - 1, m_columnCount - 1));
    else
        emit dataChanged(index(row, 0), index(row, m_columnCount - 1));
}

void DataGridModel::beginInsertRow(int row)
{
    beginInsertRows(QModelIndex(), row, row);
}

void DataGridModel::endInsertRow()
{
    ++m_rowCount;
    endInsertRows();
}

void DataGridModel::beginRemoveRow(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
}

void DataGridModel::endRemoveRow()
{
    --m_rowCount;
    endRemoveRows();
}
