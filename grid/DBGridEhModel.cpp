#include "grid/DBGridEhModel.h"

#include "grid/DBGridEh.h"

#include "db/DataSet.h"
#include "db/Field.h"

TDBGridEhModel::TDBGridEhModel(TDBGridEh *grid) : QAbstractTableModel(grid), m_grid(grid)
{
    m_columnCount = grid->Columns()->Count();
}

int TDBGridEhModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return m_rowCount;
}

int TDBGridEhModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columnCount;
}

int TDBGridEhModel::fieldIndex(int column) const
{
    return column >= 0 && size_t(column) < m_fieldIndex.size() ? m_fieldIndex[size_t(column)] : -1;
}

int TDBGridEhModel::fieldIndexOf(const TColumnEh *column) const
{
    return fieldIndex(m_grid->Columns()->IndexOf(column));
}

QVariant TDBGridEhModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    const int col = index.column();
    if (row < 0 || row >= m_rowCount || col < 0 || col >= m_grid->Columns()->Count())
        return {};
    const TColumnEh *column = m_grid->Columns()->Items(col);
    switch (role) {
    case Qt::DisplayRole: {
        const lianbu::db::DataSet *ds = m_grid->DataSet();
        const int field = fieldIndex(col);
        if (!ds || field < 0 || !ds->active() || row >= ds->recordCount())
            return QString();
        return ds->cellText(row, field);
    }
    case Qt::BackgroundRole:
        return m_grid->CellColor(row, column);
    case Qt::FontRole:
        return column->Font();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(column->Alignment());
    default:
        return {};
    }
}

QVariant TDBGridEhModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal) {
        if (section >= 0 && section < m_grid->Columns()->Count())
            return m_grid->Columns()->Items(section)->Title()->Caption();
        return {};
    }
    return QString();
}

Qt::ItemFlags TDBGridEhModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void TDBGridEhModel::resolveFields()
{
    const TDBGridColumnsEh *columns = m_grid->Columns();
    const lianbu::db::DataSet *ds = m_grid->DataSet();
    m_fieldIndex.assign(size_t(columns->Count()), -1);
    if (!ds || !ds->active())
        return;
    for (int i = 0; i < columns->Count(); ++i) {
        if (const lianbu::db::Field *field = ds->findField(columns->Items(i)->FieldName()))
            m_fieldIndex[size_t(i)] = field->index();
    }
}

void TDBGridEhModel::endReset()
{
    const lianbu::db::DataSet *ds = m_grid->DataSet();
    m_rowCount = ds && ds->active() ? ds->recordCount() : 0;
    m_columnCount = m_grid->Columns()->Count();
    resolveFields();
    endResetModel();
}

void TDBGridEhModel::columnsRearranged()
{
    resolveFields();
    if (m_columnCount > 0)
        emit headerDataChanged(Qt::Horizontal, 0, m_columnCount - 1);
    if (m_rowCount > 0 && m_columnCount > 0)
        emit dataChanged(index(0, 0), index(m_rowCount - 1, m_columnCount - 1));
}

void TDBGridEhModel::rowChanged(int row)
{
    if (m_rowCount == 0 || m_columnCount == 0)
        return;
    if (row < 0 || row >= m_rowCount)
        emit dataChanged(index(0, 0), index(m_rowCount - 1, m_columnCount - 1));
    else
        emit dataChanged(index(row, 0), index(row, m_columnCount - 1));
}

void TDBGridEhModel::beginInsertRow(int row)
{
    beginInsertRows(QModelIndex(), row, row);
}

void TDBGridEhModel::endInsertRow()
{
    ++m_rowCount;
    endInsertRows();
}

void TDBGridEhModel::beginRemoveRow(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
}

void TDBGridEhModel::endRemoveRow()
{
    --m_rowCount;
    endRemoveRows();
}
