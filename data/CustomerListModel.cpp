#include "data/CustomerListModel.h"

#include <algorithm>

namespace lianbu::data {

CustomerListModel::CustomerListModel(db::Connection &connection, CustomerStore &store, QObject *parent)
    : db::DataSetModel(parent)
{
    m_list.setConnection(&connection);
    m_list.setSql(QStringLiteral("select * from data"));
    setDataSet(&m_list);
    connect(&store, &CustomerStore::customerAdded, this, &CustomerListModel::customerAdded);
    connect(&store, &CustomerStore::customerChanged, this, [this](qint64 key) { m_list.refreshKey(key); });
    connect(&store, &CustomerStore::customerRemoved, this, &CustomerListModel::customerRemoved);
}

CustomerListModel::~CustomerListModel()
{
    setDataSet(nullptr);
}

void CustomerListModel::showStatement(const QString &sql, const QVariantList &values)
{
    resetWith([&] {
        m_list.close();
        m_list.setSql(sql, values);
        m_list.open();
    });
    if (sql == sql::allRecords() && values.isEmpty())
        m_allKeys = m_list.keys();
}

void CustomerListModel::showResult(const sql::BoundStatement &statement, std::vector<qint64> keys)
{
    resetWith([&] {
        m_list.close();
        m_list.setSql(statement.text, statement.values);
        m_list.openKeys(std::move(keys));
    });
}

void CustomerListModel::showAllKept()
{
    const bool everyRecord = m_list.active() && m_list.sql() == sql::allRecords() && m_list.values().isEmpty();
    if (everyRecord) {
        // Read in key order: the reading order is the order of every record.
        if (!m_list.sort().isEmpty())
            setSortText(QString());
        return;
    }
    if (m_allKeys)
        showResult({sql::allRecords(), {}}, *m_allKeys);
    else
        showStatement(sql::allRecords());
}

void CustomerListModel::close()
{
    resetWith([this] { m_list.close(); });
    m_allKeys.reset(); // the register may be another one when the list opens again
}

bool CustomerListModel::shows(const sql::BoundStatement &statement) const
{
    return m_list.active() && m_list.sql() == statement.text && m_list.values() == statement.values;
}

CustomerRecord CustomerListModel::customerAt(int row) const
{
    CustomerRecord record;
    if (!m_list.active() || row < 0 || row >= m_list.recordCount())
        return record;
    record.key = m_list.keys().at(size_t(row));
    for (int f = 0; f < m_list.fieldCount(); ++f) {
        const bool isNull = m_list.cellIsNull(row, f);
        record.values.emplace_back(m_list.field(f).fieldName(),
                                   isNull ? std::nullopt : std::optional<QString>(m_list.cellText(row, f)));
    }
    return record;
}

void CustomerListModel::customerAdded(qint64 key)
{
    m_list.appendKey(key);
    // A new record has the largest key: it ends the list of every record.
    if (m_allKeys && key > 0 && (m_allKeys->empty() || m_allKeys->back() < key))
        m_allKeys->push_back(key);
}

void CustomerListModel::customerRemoved(qint64 key)
{
    m_list.forgetKey(key);
    if (!m_allKeys)
        return;
    const auto found = std::lower_bound(m_allKeys->begin(), m_allKeys->end(), key);
    if (found != m_allKeys->end() && *found == key)
        m_allKeys->erase(found);
}

} // namespace lianbu::data
