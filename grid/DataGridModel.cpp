#include "grid/DataGridModel.h"

#include "grid/GridSurface.h"

#include "db/ListRoles.h"

DataGridModel::DataGridModel(GridSurface *grid, QObject *parent)
    : QAbstractTableModel(parent)
    , m_grid(grid)
{
    m_columnCount = grid->columns()->count();
}

void DataGridModel::setSourceModel(QAbstractItemModel *model)
{
    if (model == m_source)
        return;
    beginResetModel();
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = model;
    connectSource();
    m_rowCount = m_source ? m_source->rowCount() : 0;
    m_columnCount = m_grid->columns()->count();
    resolveFields();
    endResetModel();
    emit sourceReset();
}

void DataGridModel::connectSource()
{
    QAbstractItemModel *source = m_source;
    if (!source)
        return;
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(source, &QAbstractItemModel::modelReset, this, [this] {
        m_rowCount = m_source->rowCount();
        m_columnCount = m_grid->columns()->count();
        resolveFields();
        endResetModel();
        emit sourceReset();
    });
    connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex &parent, int first, int last) {
                if (!parent.isValid())
                    beginInsertRows(QModelIndex(), first, last);
            });
    connect(source, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &parent) {
        if (parent.isValid())
            return;
        m_rowCount = m_source->rowCount();
        endInsertRows();
    });
    connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &parent, int first, int last) {
                if (!parent.isValid())
                    beginRemoveRows(QModelIndex(), first, last);
            });
    connect(source, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex &parent) {
        if (parent.isValid())
            return;
        m_rowCount = m_source->rowCount();
        endRemoveRows();
    });
    // Rows moved by the list model: shown afresh.
    connect(source, &QAbstractItemModel::rowsAboutToBeMoved, this, [this] { beginResetModel(); });
    connect(source, &QAbstractItemModel::rowsMoved, this, [this] {
        m_rowCount = m_source->rowCount();
        endResetModel();
    });
    connect(source, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &from, const QModelIndex &to) {
        if (m_rowCount == 0 || m_columnCount == 0 || !from.isValid() || !to.isValid())
            return;
        const int first = qBound(0, from.row(), m_rowCount - 1);
        const int last = qBound(first, to.row(), m_rowCount - 1);
        emit dataChanged(index(first, 0), index(last, m_columnCount - 1));
    });
    connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        m_layoutIndexes = persistentIndexList();
        m_layoutSources.clear();
        for (const QModelIndex &shown : std::as_const(m_layoutIndexes))
            m_layoutSources.append(QPersistentModelIndex(m_source->index(shown.row(), 0)));
    });
    connect(source, &QAbstractItemModel::layoutChanged, this, [this] {
        QModelIndexList moved;
        for (qsizetype i = 0; i < m_layoutIndexes.size(); ++i) {
            const QPersistentModelIndex &at = m_layoutSources.at(i);
            moved.append(at.isValid() ? index(at.row(), m_layoutIndexes.at(i).column()) : QModelIndex());
        }
        changePersistentIndexList(m_layoutIndexes, moved);
        m_layoutIndexes.clear();
        m_layoutSources.clear();
        m_rowCount = m_source->rowCount();
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    });
    auto fields = [this] {
        resolveFields();
        columnsRearranged();
        emit fieldsChanged();
    };
    connect(source, &QAbstractItemModel::headerDataChanged, this, fields);
    connect(source, &QAbstractItemModel::columnsInserted, this, fields);
    connect(source, &QAbstractItemModel::columnsRemoved, this, fields);
    connect(source, &QAbstractItemModel::columnsMoved, this, fields);
    connect(source, &QObject::destroyed, this, [this] {
        beginResetModel();
        m_rowCount = 0;
        resolveFields();
        endResetModel();
        emit sourceReset();
    });
}

int DataGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int DataGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columnCount;
}

int DataGridModel::sourceColumn(int column) const
{
    return column >= 0 && size_t(column) < m_sourceColumn.size() ? m_sourceColumn[size_t(column)] : -1;
}

int DataGridModel::sourceColumnOf(const GridColumn *column) const
{
    const int at = m_grid->columns()->indexOf(column);
    const int resolved = sourceColumn(at);
    // a column added since the last reset is looked up by name
    return resolved >= 0 || !column ? resolved : sourceColumnOfField(column->fieldName());
}

int DataGridModel::sourceColumnOfField(const QString &name) const
{
    if (!m_source || name.isEmpty())
        return -1;
    const int columns = m_source->columnCount();
    for (int c = 0; c < columns; ++c) {
        if (m_source->headerData(c, Qt::Horizontal, lianbu::db::ListRole::FieldName)
                .toString()
                .compare(name, Qt::CaseInsensitive)
            == 0)
            return c;
    }
    return -1;
}

QVariant DataGridModel::fieldHeader(const QString &name, int role) const
{
    const int column = sourceColumnOfField(name);
    return column >= 0 ? m_source->headerData(column, Qt::Horizontal, role) : QVariant();
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
        const int source = sourceColumn(col);
        if (!m_source || source < 0)
            return QString();
        return m_source->index(row, source).data(Qt::DisplayRole).toString();
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
    m_sourceColumn.assign(size_t(columns->count()), -1);
    for (int i = 0; i < columns->count(); ++i)
        m_sourceColumn[size_t(i)] = sourceColumnOfField(columns->items(i)->fieldName());
}

void DataGridModel::rebuildColumns()
{
    beginResetModel();
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
