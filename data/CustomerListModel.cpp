#include "data/CustomerListModel.h"

#include "data/CustomerColumns.h"
#include "db/BackgroundSearch.h"
#include "db/Connection.h"
#include "db/Engine.h"

#include <algorithm>
#include <iterator>

namespace lianbu::data {

CustomerListModel::CustomerListModel(db::Connection &connection, CustomerStore &store, QObject *parent)
    : db::DataSetModel(parent)
    , m_store(store)
{
    m_list.setConnection(&connection);
    m_list.setSql(QStringLiteral("select * from data"));
    setDataSet(&m_list);
    connect(&store, &CustomerStore::customerAdded, this, &CustomerListModel::customerAdded);
    connect(&store, &CustomerStore::customerChanged, this, &CustomerListModel::customerChanged);
    connect(&store, &CustomerStore::customerRemoved, this, &CustomerListModel::customerRemoved);
    followUpColumnsInit();
}

CustomerListModel::~CustomerListModel()
{
    setDataSet(nullptr);
}

void CustomerListModel::showStatement(const QString &sql, const QVariantList &values)
{
    m_showLoad = false;
    const bool everyRecord = sql == sql::allRecords() && values.isEmpty();
    if (everyRecord)
        m_everyRecordInList = false; // read afresh
    resetWith([&] {
        keepEveryRecordFromList();
        m_list.close();
        m_list.setSql(sql, values);
        m_list.open();
    });
    if (everyRecord)
        everyRecordInList();
}

void CustomerListModel::showResult(const sql::BoundStatement &statement, std::vector<qint64> keys)
{
    m_showLoad = false;
    showKeys(statement, std::move(keys));
}

void CustomerListModel::showKeys(const sql::BoundStatement &statement, std::vector<qint64> keys)
{
    resetWith([&] {
        keepEveryRecordFromList();
        m_list.close();
        m_list.setSql(statement.text, statement.values);
        m_list.openKeys(std::move(keys));
    });
}

void CustomerListModel::keepEveryRecordFromList()
{
    if (!std::exchange(m_everyRecordInList, false))
        return;
    // A title click or a customer back from the recycle bin may have left them out of key order.
    m_allKeys = m_list.closeTakingKeys();
    db::sortKeysAscending(*m_allKeys);
}

void CustomerListModel::everyRecordInList()
{
    m_everyRecordInList = true;
    m_allKeys.reset();
    // Read afresh: which of them the empty search leaves out is learned again from its result.
    m_notInEmptySearch.clear();
    m_emptySearchKnown = false;
}

const std::vector<qint64> *CustomerListModel::everyRecordInKeyOrder(std::vector<qint64> &sorted) const
{
    if (!m_everyRecordInList)
        return m_allKeys ? &*m_allKeys : nullptr;
    if (std::is_sorted(m_list.keys().begin(), m_list.keys().end()))
        return &m_list.keys();
    sorted = m_list.keys();
    db::sortKeysAscending(sorted);
    return &sorted;
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
    if (m_allKeys) {
        // The kept keys go to the list, which keeps them from now on.
        m_showLoad = false;
        std::vector<qint64> keys = std::move(*m_allKeys);
        const std::vector<qint64> notInEmptySearch = m_notInEmptySearch;
        const bool emptySearchKnown = m_emptySearchKnown;
        showKeys({sql::allRecords(), {}}, std::move(keys));
        everyRecordInList();
        m_notInEmptySearch = notInEmptySearch;
        m_emptySearchKnown = emptySearchKnown;
    } else {
        showStatement(sql::allRecords());
    }
}

bool CustomerListModel::readInBackground() const
{
    const QSqlDatabase database = m_list.connection()->database();
    const db::Engine &engine = db::engineOf(database);
    // The largest key bounds the number of rows at the cost of one index lookup.
    const std::vector<qint64> largest = db::readKeys(
        engine, database, QStringLiteral("select max(%1) from data").arg(engine.rowKey(QStringLiteral("data"))), {});
    return !largest.empty() && largest.front() > m_backgroundFrom;
}

db::BackgroundSearch &CustomerListModel::loader()
{
    if (m_loader)
        return *m_loader;
    m_loader = std::make_unique<db::BackgroundSearch>(m_list.connection()->address());
    connect(m_loader.get(), &db::BackgroundSearch::finished, this,
            [this](quint64 ticket, const std::vector<qint64> &) { loaded(ticket); });
    connect(m_loader.get(), &db::BackgroundSearch::failed, this, [this](quint64 ticket, const QString &message) {
        if (ticket != m_loadTicket)
            return;
        const bool shown = std::exchange(m_showLoad, false);
        endLoad();
        if (shown)
            emit loadFailed(message);
    });
    return *m_loader;
}

// Without an order the engine may read the keys from any index of the table (each holds every
// key and is a tenth of the table's size); the worker sorts them.
static QString everyKeyStatement(const db::Connection &connection)
{
    return QStringLiteral("select %1 from data")
        .arg(db::engineOf(connection.database()).rowKey(QStringLiteral("data")));
}

void CustomerListModel::prepareEveryRecord()
{
    if (m_loadTicket != 0 || !readInBackground())
        return;
    // Its ticket is nobody's: loaded() drops the keys, and a load started meanwhile interrupts it.
    loader().start(everyKeyStatement(*m_list.connection()), {}, db::BackgroundSearch::KeyOrder::Ascending);
}

void CustomerListModel::loadEveryRecord()
{
    if (!readInBackground()) {
        if (m_loader)
            m_loader->cancel();
        if (m_loadTicket != 0)
            endLoad();
        showStatement(sql::allRecords());
        emit everyRecordShown();
        return;
    }
    db::BackgroundSearch &worker = loader();
    m_showLoad = true;
    m_loadTicket = worker.start(everyKeyStatement(*m_list.connection()), {}, db::BackgroundSearch::KeyOrder::Ascending);
}

void CustomerListModel::endLoad()
{
    m_loadTicket = 0;
    emit loadEnded();
}

void CustomerListModel::loaded(quint64 ticket)
{
    if (ticket != m_loadTicket || ticket == 0)
        return;
    std::vector<qint64> keys = m_loader->takeKeys();
    if (!std::exchange(m_showLoad, false)) {
        keepEveryRecord(std::move(keys));
        endLoad();
        return;
    }
    // The list of every record it shows is read afresh: its old keys need not be kept.
    m_everyRecordInList = false;
    showKeys({sql::allRecords(), {}}, std::move(keys));
    everyRecordInList();
    endLoad();
    emit everyRecordShown();
}

void CustomerListModel::close()
{
    // The worker's connection is to this register; the next one is opened afresh.
    m_loader.reset();
    m_showLoad = false;
    if (m_loadTicket != 0)
        endLoad();
    resetWith([this] { m_list.close(); });
    // The register may be another one when the list opens again.
    m_everyRecordInList = false;
    m_allKeys.reset();
    m_notInEmptySearch.clear();
    m_emptySearchKnown = false;
}

void CustomerListModel::keepEveryRecord(std::vector<qint64> keys)
{
    m_everyRecordInList = false;
    m_allKeys = std::move(keys);
    // Read afresh: which of them the empty search leaves out is learned again from its result.
    m_notInEmptySearch.clear();
    m_emptySearchKnown = false;
}

std::optional<std::vector<qint64>> CustomerListModel::keptEmptySearchResult() const
{
    std::vector<qint64> sorted;
    const std::vector<qint64> *every = everyRecordInKeyOrder(sorted);
    if (!every || !m_emptySearchKnown)
        return std::nullopt;
    std::vector<qint64> keys;
    keys.reserve(every->size() - std::min(every->size(), m_notInEmptySearch.size()));
    std::set_difference(every->begin(), every->end(), m_notInEmptySearch.begin(), m_notInEmptySearch.end(),
                        std::back_inserter(keys));
    return keys;
}

void CustomerListModel::keepEmptySearchResult(const std::vector<qint64> &keys)
{
    std::vector<qint64> sorted;
    const std::vector<qint64> *every = everyRecordInKeyOrder(sorted);
    if (!every || !std::is_sorted(keys.begin(), keys.end()))
        return;
    // Records other programs added since every record was read are records too.
    if (!std::includes(every->begin(), every->end(), keys.begin(), keys.end())) {
        std::vector<qint64> merged;
        merged.reserve(every->size() + keys.size());
        std::set_union(every->begin(), every->end(), keys.begin(), keys.end(), std::back_inserter(merged));
        // The list keeps showing what it read; the kept keys know more.
        m_everyRecordInList = false;
        m_allKeys = std::move(merged);
        every = &*m_allKeys;
    }
    m_notInEmptySearch.clear();
    std::set_difference(every->begin(), every->end(), keys.begin(), keys.end(), std::back_inserter(m_notInEmptySearch));
    m_emptySearchKnown = true;
}

bool CustomerListModel::hasShortName(qint64 key) const
{
    const std::optional<CustomerRecord> stored = m_store.read(key);
    const std::optional<QString> shortName = stored ? stored->value(QLatin1String(col::ShortName)) : std::nullopt;
    return shortName && !shortName->isEmpty();
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
    if (m_everyRecordInList) {
        // The list appended it among every record.
        const auto at = std::lower_bound(m_notInEmptySearch.begin(), m_notInEmptySearch.end(), key);
        if (key > 0 && m_emptySearchKnown && (at == m_notInEmptySearch.end() || *at != key) && !hasShortName(key))
            m_notInEmptySearch.insert(at, key);
        return;
    }
    if (!m_allKeys || key <= 0)
        return;
    // A new record ends the list of every record; one back from the recycle bin has its old key.
    const auto at = std::lower_bound(m_allKeys->begin(), m_allKeys->end(), key);
    if (at != m_allKeys->end() && *at == key)
        return;
    m_allKeys->insert(at, key);
    if (m_emptySearchKnown && !hasShortName(key))
        m_notInEmptySearch.insert(std::lower_bound(m_notInEmptySearch.begin(), m_notInEmptySearch.end(), key), key);
}

void CustomerListModel::customerChanged(qint64 key)
{
    m_list.refreshKey(key);
    // A 客户简称 written or emptied moves the record into or out of the empty search's result.
    const bool kept = m_everyRecordInList ? m_list.rowOfKey(key) >= 0
                                          : m_allKeys && std::binary_search(m_allKeys->begin(), m_allKeys->end(), key);
    if (!kept || !m_emptySearchKnown)
        return;
    const auto at = std::lower_bound(m_notInEmptySearch.begin(), m_notInEmptySearch.end(), key);
    const bool leftOut = at != m_notInEmptySearch.end() && *at == key;
    const bool listed = hasShortName(key);
    if (listed && leftOut)
        m_notInEmptySearch.erase(at);
    else if (!listed && !leftOut)
        m_notInEmptySearch.insert(at, key);
}

void CustomerListModel::customerRemoved(qint64 key)
{
    m_list.forgetKey(key);
    std::vector<std::vector<qint64> *> lists{&m_notInEmptySearch};
    if (m_allKeys && !m_everyRecordInList)
        lists.push_back(&*m_allKeys);
    for (std::vector<qint64> *keys : lists) {
        const auto found = std::lower_bound(keys->begin(), keys->end(), key);
        if (found != keys->end() && *found == key)
            keys->erase(found);
    }
}

} // namespace lianbu::data
