#include "db/DataSetModel.h"

#include "db/ListRoles.h"

namespace lianbu::db {

DataSetModel::DataSetModel(QObject *parent)
    : QAbstractTableModel(parent)
{}

DataSetModel::~DataSetModel()
{
    if (m_dataSet)
        m_dataSet->removeObserver(this);
}

void DataSetModel::setDataSet(DataSet *dataSet)
{
    if (dataSet == m_dataSet)
        return;
    beginResetModel();
    if (m_dataSet)
        m_dataSet->removeObserver(this);
    m_dataSet = dataSet;
    if (m_dataSet)
        m_dataSet->addObserver(this);
    takeCounts();
    endResetModel();
}

void DataSetModel::takeCounts()
{
    const bool open = active();
    m_rows = open ? m_dataSet->recordCount() : 0;
    m_columns = open ? m_dataSet->fieldCount() : 0;
}

int DataSetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DataSetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant DataSetModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    const int column = index.column();
    if (!index.isValid() || !active() || row >= m_rows || column >= m_columns || row >= m_dataSet->recordCount()
        || column >= m_dataSet->fieldCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_dataSet->cellText(row, column);
    case Qt::EditRole: {
        if (m_dataSet->cellIsNull(row, column))
            return {};
        const QString text = m_dataSet->cellText(row, column);
        bool ok = false;
        switch (m_dataSet->field(column).dataType()) {
        case Field::DataType::Integer:
            if (const qlonglong value = text.toLongLong(&ok); ok)
                return value;
            break;
        case Field::DataType::Float:
            if (const double value = text.toDouble(&ok); ok)
                return value;
            break;
        default:
            break;
        }
        return text;
    }
    case Qt::TextAlignmentRole: {
        const Field::DataType type = m_dataSet->field(column).dataType();
        const bool number = type == Field::DataType::Integer || type == Field::DataType::Float;
        return QVariant::fromValue(Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    case ListRole::Key:
        return keyAt(row);
    default:
        return {};
    }
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || !active() || section < 0 || section >= m_columns
        || section >= m_dataSet->fieldCount())
        return {};
    const Field &field = m_dataSet->field(section);
    switch (role) {
    case Qt::DisplayRole:
        return field.displayLabel();
    case ListRole::FieldName:
        return field.fieldName();
    case ListRole::FieldWidth:
        return field.size();
    case ListRole::FieldType:
        return int(field.dataType());
    default:
        return {};
    }
}

Qt::ItemFlags DataSetModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

void DataSetModel::sort(int column, Qt::SortOrder order)
{
    if (!active() || column < 0 || column >= m_columns)
        return;
    const QString name = m_dataSet->field(column).fieldName();
    setSortText(order == Qt::DescendingOrder ? name + QStringLiteral(" DESC") : name);
}

QString DataSetModel::sortText() const
{
    return m_dataSet ? m_dataSet->sort() : QString();
}

void DataSetModel::setSortText(const QString &sort)
{
    if (!active())
        return;
    // The rows keep their records: the view's current and selected rows go where their keys went.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistent = persistentIndexList();
    std::vector<qint64> keys;
    keys.reserve(size_t(persistent.size()));
    for (const QModelIndex &index : persistent)
        keys.push_back(keyAt(index.row()));
    ++m_quiet;
    try {
        m_dataSet->setSort(sort);
    } catch (...) {
        --m_quiet;
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        throw;
    }
    --m_quiet;
    QModelIndexList moved;
    moved.reserve(persistent.size());
    for (qsizetype i = 0; i < persistent.size(); ++i) {
        const int row = keys[size_t(i)] != 0 ? rowOfKey(keys[size_t(i)]) : -1;
        moved.append(row >= 0 ? index(row, persistent[i].column()) : QModelIndex());
    }
    changePersistentIndexList(persistent, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int DataSetModel::columnOfField(const QString &name) const
{
    if (!active())
        return -1;
    const Field *field = m_dataSet->findField(name);
    return field && field->index() < m_columns ? field->index() : -1;
}

qint64 DataSetModel::keyAt(int row) const
{
    if (!active() || row < 0 || size_t(row) >= m_dataSet->keys().size())
        return 0;
    return m_dataSet->keys()[size_t(row)];
}

int DataSetModel::rowOfKey(qint64 key) const
{
    return active() ? m_dataSet->rowOfKey(key) : -1;
}

std::unique_ptr<RowReader> DataSetModel::rowReader(int currentRow) const
{
    if (!active())
        return nullptr;
    return std::make_unique<DataSetRows>(*m_dataSet, currentRow);
}

void DataSetModel::resetWith(const std::function<void()> &change)
{
    ++m_quiet;
    beginResetModel();
    try {
        change();
    } catch (...) {
        takeCounts();
        endResetModel();
        --m_quiet;
        throw;
    }
    takeCounts();
    endResetModel();
    --m_quiet;
}

void DataSetModel::resetAll()
{
    if (m_quiet)
        return;
    beginResetModel();
    takeCounts();
    endResetModel();
}

void DataSetModel::rowValuesChanged(int row)
{
    if (m_quiet || m_rows == 0 || m_columns == 0)
        return;
    if (row < 0 || row >= m_rows)
        emit dataChanged(index(0, 0), index(m_rows - 1, m_columns - 1));
    else
        emit dataChanged(index(row, 0), index(row, m_columns - 1));
}

void DataSetModel::willInsertRow(int row)
{
    if (!m_quiet)
        beginInsertRows(QModelIndex(), row, row);
}

void DataSetModel::didInsertRow(int)
{
    if (m_quiet)
        return;
    ++m_rows;
    endInsertRows();
}

void DataSetModel::willRemoveRow(int row)
{
    if (!m_quiet)
        beginRemoveRows(QModelIndex(), row, row);
}

void DataSetModel::didRemoveRow(int)
{
    if (m_quiet)
        return;
    --m_rows;
    endRemoveRows();
}

void DataSetModel::dataSetDestroyed()
{
    beginResetModel();
    m_dataSet = nullptr;
    takeCounts();
    endResetModel();
}

} // namespace lianbu::db
