// The customer list following the writes of others, read from the change feed.
#include "data/CustomerColumns.h"
#include "data/CustomerListModel.h"
#include "data/SearchIndex.h"
#include "data/Statements.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/SortKeys.h"

#include <QSqlQuery>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace lianbu::data {

namespace {

// Rows coming and going in a list move its keys: past this many key moves a batch is left to a
// reload in the background (a few milliseconds of the window's time).
constexpr qint64 kMovedKeysBudget = 20'000'000;

QString placeholders(size_t count)
{
    return QStringList(qsizetype(count), QStringLiteral("?")).join(QLatin1Char(','));
}

QVariantList keyValues(const std::vector<qint64> &keys)
{
    QVariantList values;
    values.reserve(qsizetype(keys.size()));
    for (const qint64 key : keys)
        values << key;
    return values;
}

} // namespace

void CustomerListModel::readStates(const std::vector<qint64> &keys, std::vector<bool> &exists,
                                   std::vector<bool> &listed) const
{
    exists.assign(keys.size(), false);
    listed.assign(keys.size(), false);
    db::Connection &connection = *m_list.connection();
    const QString rowKey = db::engineOf(connection.database()).rowKey(QStringLiteral("data"));
    QSqlQuery query = db::runBound(connection,
                                   QStringLiteral("select %1, %2 from data where %1 in (%3)")
                                       .arg(rowKey, QLatin1String(col::ShortName), placeholders(keys.size())),
                                   keyValues(keys));
    std::unordered_map<qint64, std::pair<bool, bool>> found;
    while (query.next())
        found[query.value(0).toLongLong()] = {true, !query.value(1).toString().isEmpty()};
    for (size_t i = 0; i < keys.size(); ++i) {
        const auto at = found.find(keys[i]);
        if (at != found.end()) {
            exists[i] = true;
            listed[i] = at->second.second;
        }
    }
}

std::optional<std::vector<bool>> CustomerListModel::readMatches(const std::vector<qint64> &keys) const
{
    // The list's statements select whole rows of data, with or without conditions.
    const QString prefix = QStringLiteral("select * from data");
    QString sql = m_list.sql().trimmed();
    if (!sql.startsWith(prefix, Qt::CaseInsensitive))
        return std::nullopt;
    db::Connection &connection = *m_list.connection();
    const QString rowKey = db::engineOf(connection.database()).rowKey(QStringLiteral("data"));
    QString rest = sql.mid(prefix.size()).trimmed();
    if (rest.isEmpty())
        rest = QStringLiteral("where %1 in (%2)").arg(rowKey, placeholders(keys.size()));
    else if (rest.startsWith(QLatin1String("where "), Qt::CaseInsensitive))
        rest = QStringLiteral("where %1 in (%2) and (%3)").arg(rowKey, placeholders(keys.size()), rest.mid(6));
    else
        return std::nullopt; // an order or anything else: not known here
    // A search by pinyin initials reads them from the table of initials, which lists rows
    // written since its last refresh: brought up to date first, as the search itself does, so a
    // row changed elsewhere is matched by its initials now, not by what they were.
    if (sql.contains(QLatin1String(kSearchExtraTable)))
        refreshSearchExtra(connection);
    QSqlQuery query = db::runBound(connection, QStringLiteral("select %1 from data %2").arg(rowKey, rest),
                                   keyValues(keys) + m_list.values());
    std::unordered_set<qint64> found;
    while (query.next())
        found.insert(query.value(0).toLongLong());
    std::vector<bool> matches(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        matches[i] = found.count(keys[i]) > 0;
    return matches;
}

int CustomerListModel::placeOf(qint64 key, bool keyOrder) const
{
    const std::vector<qint64> &keys = m_list.keys();
    const int end = int(keys.size());
    const QStringList parts = m_list.sort().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return keyOrder ? int(std::lower_bound(keys.begin(), keys.end(), key) - keys.begin()) : end;
    const db::Field *field = m_list.findField(parts[0]);
    const std::optional<CustomerRecord> stored = field ? m_store.read(key) : std::nullopt;
    if (!stored)
        return end; // a column beside the fields (follow-up dates): at the end
    const bool descending = parts.size() == 2 && parts[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0;
    const std::optional<QString> value = stored->value(field->fieldName());
    int fieldIndex = 0;
    while (&m_list.field(fieldIndex) != field)
        ++fieldIndex;
    // The sort's own order (the stored order's), not a collation of this file's choosing: a row
    // placed otherwise lands where the next sort would move it from.
    auto before = [&](const std::optional<QString> &a, const std::optional<QString> &b) {
        return db::sortsBefore(
            a, b, field->dataType() == db::Field::DataType::Integer || field->dataType() == db::Field::DataType::Float);
    };
    int low = 0;
    int high = end;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        const std::optional<QString> shown = m_list.cellIsNull(middle, fieldIndex)
                                                 ? std::nullopt
                                                 : std::optional<QString>(m_list.cellText(middle, fieldIndex));
        const bool newGoesFirst = descending ? before(shown, value) : before(value, shown);
        if (newGoesFirst)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

void CustomerListModel::keepState(qint64 key, bool exists, bool listed)
{
    if (!m_everyRecordInList && m_allKeys) {
        const auto at = std::lower_bound(m_allKeys->begin(), m_allKeys->end(), key);
        const bool kept = at != m_allKeys->end() && *at == key;
        if (exists && !kept)
            m_allKeys->insert(at, key);
        else if (!exists && kept)
            m_allKeys->erase(at);
    }
    if (!m_emptySearchKnown)
        return;
    const auto at = std::lower_bound(m_notInEmptySearch.begin(), m_notInEmptySearch.end(), key);
    const bool leftOut = at != m_notInEmptySearch.end() && *at == key;
    const bool shouldBeLeftOut = exists && !listed;
    if (shouldBeLeftOut && !leftOut)
        m_notInEmptySearch.insert(at, key);
    else if (!shouldBeLeftOut && leftOut)
        m_notInEmptySearch.erase(at);
}

void CustomerListModel::applyChanges(const std::vector<FeedEntry> &entries)
{
    if (!m_list.active() || entries.empty())
        return;
    std::vector<qint64> keys;
    std::unordered_map<qint64, FeedKind> newest; // each customer's last entry
    std::unordered_set<qint64> followUps;
    for (const FeedEntry &entry : entries) {
        if (entry.kind == FeedKind::FollowUps)
            followUps.insert(entry.customer);
        else if (newest.insert_or_assign(entry.customer, entry.kind).second)
            keys.push_back(entry.customer);
    }
    if (followUps.size() > 8) {
        followUpsChanged(0);
    } else {
        for (const qint64 customer : followUps)
            followUpsChanged(customer);
    }
    if (keys.empty())
        return;
    if (keys.size() > size_t(m_rowByRowLimit)) {
        emit listOutdated();
        return;
    }
    const bool everyRecord = m_list.sql() == sql::allRecords() && m_list.values().isEmpty();
    const std::vector<int> rows = m_list.rowsOfKeys(keys);
    // The entries alone may already say the batch moves too many keys (an import elsewhere): the
    // reload is asked for without the window first waiting for the customers' state (on a server,
    // a round trip). A listed customer last deleted leaves any list; one last added comes into
    // the list of every record. Should it be gone again since, the reload finds that out.
    qint64 certainMoves = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
        const FeedKind kind = newest.at(keys[i]);
        if ((rows[i] >= 0 && kind == FeedKind::Deleted) || (rows[i] < 0 && everyRecord && kind == FeedKind::Added))
            ++certainMoves;
    }
    if (certainMoves * qint64(m_list.keys().size()) > kMovedKeysBudget) {
        emit listOutdated();
        return;
    }
    std::vector<bool> exists;
    std::vector<bool> listed;
    readStates(keys, exists, listed);
    std::optional<std::vector<bool>> matches = everyRecord ? std::optional(exists) : readMatches(keys);
    if (!matches) {
        // A statement of another shape: its rows are read again or leave, none come.
        matches.emplace(keys.size());
        for (size_t i = 0; i < keys.size(); ++i)
            (*matches)[i] = exists[i] && rows[i] >= 0;
    }
    qint64 moves = 0;
    for (size_t i = 0; i < keys.size(); ++i)
        if ((rows[i] >= 0) != (*matches)[i])
            ++moves;
    if (moves * qint64(m_list.keys().size()) > kMovedKeysBudget) {
        emit listOutdated();
        return;
    }

    std::vector<qint64> changed;
    for (size_t i = 0; i < keys.size(); ++i)
        if (rows[i] >= 0 && (*matches)[i])
            changed.push_back(keys[i]);
    m_list.refreshKeys(changed);
    const bool keyOrder = m_list.sort().isEmpty() && std::is_sorted(m_list.keys().begin(), m_list.keys().end());
    for (size_t i = 0; i < keys.size(); ++i) {
        if (rows[i] >= 0 && !(*matches)[i])
            m_list.forgetKey(keys[i]);
        else if (rows[i] < 0 && (*matches)[i])
            m_list.insertKey(placeOf(keys[i], keyOrder), keys[i]);
        keepState(keys[i], exists[i], listed[i]);
    }
}

} // namespace lianbu::data
