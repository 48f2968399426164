#include "db/DataSet.h"

#include "db/Connection.h"
#include "db/DataSetParts.h"
#include "db/Engine.h"
#include "db/PackedRow.h"
#include "db/SelectShape.h"
#include "db/SortKeys.h"
#include "db/SqliteEngine.h"
#include "platform/Error.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <numeric>

namespace lianbu::db {

// ---- sort -------------------------------------------------------------------------------------

std::optional<std::vector<int>> DataSet::outsideOrder(const QStringList &parts) const
{
    if (!m_outsideSort || findField(parts[0]))
        return std::nullopt;
    const bool descending = parts.size() == 2 && parts[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0;
    return m_outsideSort(parts[0], descending, m_keys);
}

void DataSet::setSort(const QString &sort)
{
    checkActive();
    checkBrowseMode();
    const QStringList parts = sort.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() > 2
        || (parts.size() == 2 && parts[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) != 0
            && parts[1].compare(QLatin1String("ASC"), Qt::CaseInsensitive) != 0))
        throw Error(QStringLiteral("Invalid sort order '%1'").arg(sort));

    const quint32 currentSerial = m_current >= 0 ? m_serials[size_t(m_current)] : 0;
    const size_t n = m_keys.size();
    std::vector<int> order(n);
    if (parts.isEmpty()) {
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(),
                  [this](int x, int y) { return m_serials[size_t(x)] < m_serials[size_t(y)]; });
    } else if (std::optional<std::vector<int>> outside = outsideOrder(parts); outside && outside->size() == n) {
        order = std::move(*outside);
    } else {
        const Field &field = fieldByName(parts[0]);
        const bool descending = parts.size() == 2 && parts[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0;
        // A table with stored collation keys gives the order from an index; otherwise the
        // values are ranked here.
        std::vector<int> stored;
        // (A server register has none: its sort is the ranking below, as for any other table.)
        if (m_keyset && !m_updateTable.isEmpty() && field.dataType() == Field::DataType::String
            && engineOf(m_connection->database()).kind() == Engine::Kind::Sqlite
            && orderByStoredKeys(*m_connection, m_updateTable, field.fieldName(), descending, m_keys, &stored)
            && stored.size() == n) {
            order = std::move(stored);
        } else {
            const std::vector<int> &ranks = sortRanks(field.m_column, field.dataType());
            // Ranks are small integers: a counting sort, stable in both directions.
            int maxRank = 0;
            for (size_t r = 0; r < n; ++r)
                maxRank = std::max(maxRank, ranks[m_serials[r]]);
            std::vector<int> start(size_t(maxRank) + 2, 0);
            for (size_t r = 0; r < n; ++r) {
                const int rank = ranks[m_serials[r]];
                ++start[size_t(descending ? maxRank - rank : rank) + 1];
            }
            for (size_t b = 1; b < start.size(); ++b)
                start[b] += start[b - 1];
            for (size_t r = 0; r < n; ++r) {
                const int rank = ranks[m_serials[r]];
                order[size_t(start[size_t(descending ? maxRank - rank : rank)]++)] = int(r);
            }
        }
    }

    int newCurrent = -1;
    std::vector<qint64> keys(n);
    std::vector<quint32> serials(n);
    for (size_t i = 0; i < n; ++i) {
        keys[i] = m_keys[size_t(order[i])];
        serials[i] = m_serials[size_t(order[i])];
        if (m_current >= 0 && serials[i] == currentSerial)
            newCurrent = int(i);
    }
    if (!m_keyset) {
        std::vector<QString> packed(n);
        for (size_t i = 0; i < n; ++i)
            packed[i] = std::move(m_packed[size_t(order[i])]);
        m_packed = std::move(packed);
    }
    m_keys = std::move(keys);
    m_serials = std::move(serials);
    m_sort = parts.isEmpty() ? QString() : sort.simplified();
    m_current = newCurrent;
    notifyDataSetChanged();
    notifyCurrentRowChanged();
}

void DataSet::forgetSortRanks()
{
    m_ranks.reset();
}

const std::vector<int> &DataSet::sortRanks(int column, Field::DataType type) const
{
    if (!m_ranks)
        m_ranks = std::make_unique<SortRanks>();
    auto found = m_ranks->byColumn.find(column);
    if (found != m_ranks->byColumn.end())
        return found->second;

    // Every value of the column with the reading position of its row.
    std::vector<quint32> serialOf; // per value
    std::vector<QString> texts;    // per value; null values are left out
    std::vector<quint32> nullSerials;
    auto take = [&](quint32 serial, QStringView value, bool isNull) {
        if (isNull) {
            nullSerials.push_back(serial);
        } else {
            serialOf.push_back(serial);
            texts.push_back(value.toString());
        }
    };
    const size_t n = m_keys.size();
    if (!m_keyset) {
        for (size_t r = 0; r < n; ++r) {
            bool isNull = false;
            const QStringView v = cellView(m_packed[r], fieldCount(), column, &isNull);
            take(m_serials[r], v, isNull);
        }
    } else {
        // One pass over the table in rowid order, matched against the list's keys in key order,
        // instead of reading the rows one by one.
        std::vector<std::pair<qint64, quint32>> byKey(n);
        for (size_t r = 0; r < n; ++r)
            byKey[r] = {m_keys[r], m_serials[r]};
        if (!std::is_sorted(byKey.begin(), byKey.end()))
            std::sort(byKey.begin(), byKey.end());
        const Field *field = fieldsByColumn()[size_t(column)];
        const bool tableColumn = !m_updateTable.isEmpty();
        const QString table = quoteIdentifier(m_updateTable.isEmpty() ? QString() : m_updateTable);
        QString scan = m_fetchStatement;
        int valueColumn = m_columnOf[size_t(column)];
        if (tableColumn) {
            scan = QStringLiteral("select %1, %2 from %3").arg(m_fetchKey, quoteIdentifier(field->fieldName()), table);
            valueColumn = 1;
        }
        // Only the stretch of keys the list holds.
        const auto firstKey = std::upper_bound(byKey.begin(), byKey.end(), std::pair<qint64, quint32>(0, ~0u));
        const qint64 low = firstKey == byKey.end() ? 0 : firstKey->first;
        const qint64 high = byKey.empty() ? 0 : byKey.back().first;
        scan += QLatin1String(" where ") + m_fetchKey + QLatin1String(">=? and ") + m_fetchKey
                + QLatin1String("<=? order by 1");
        size_t next = 0;
        QString scratch;
        const QSqlDatabase db = m_connection->database();
        engineOf(db).readResult(db, scan, {low, high}, [&](const ResultRow &row) {
            const qint64 key = row.integer(0);
            while (next < byKey.size() && byKey[next].first < key) {
                take(byKey[next].second, QStringView(), true); // gone since the open
                ++next;
            }
            while (next < byKey.size() && byKey[next].first == key) {
                const bool isNull = row.isNull(valueColumn);
                take(byKey[next].second, isNull ? QStringView() : row.text(valueColumn, &scratch), isNull);
                ++next;
            }
        });
        for (; next < byKey.size(); ++next)
            if (byKey[next].first != 0)
                take(byKey[next].second, QStringView(), true);
    }

    std::vector<int> ranks(m_nextSerial, 0); // 0: null
    const bool numeric = type == Field::DataType::Integer || type == Field::DataType::Float;
    if (numeric) {
        // 1: text that is no number; 2 and up: numbers by value, equal values equal ranks
        std::vector<std::pair<double, quint32>> numbers;
        for (size_t v = 0; v < texts.size(); ++v) {
            bool ok = false;
            const double d = QStringView(texts[v]).toDouble(&ok);
            if (ok)
                numbers.emplace_back(d, serialOf[v]);
            else
                ranks[serialOf[v]] = 1;
        }
        std::sort(numbers.begin(), numbers.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
        int rank = 1;
        for (size_t i = 0; i < numbers.size(); ++i) {
            if (i == 0 || numbers[i - 1].first < numbers[i].first)
                rank = 2 + int(i);
            ranks[numbers[i].second] = rank;
        }
    } else {
        // Collation keys are made once per distinct value (lists repeat categories, dates,
        // sexes a lot); rows are then ordered by small integers.
        QHash<QStringView, int> ids;
        ids.reserve(qsizetype(texts.size()));
        std::vector<QStringView> distinct;
        std::vector<int> valueId(texts.size());
        for (size_t v = 0; v < texts.size(); ++v) {
            const QStringView text(texts[v]);
            auto it = ids.constFind(text);
            if (it == ids.constEnd()) {
                it = ids.insert(text, int(distinct.size()));
                distinct.push_back(text);
            }
            valueId[v] = it.value();
        }
        QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
        std::vector<QCollatorSortKey> keys;
        keys.reserve(distinct.size());
        // The zh collation puts Chinese ahead of Latin letters; the register lists digits and
        // Latin first, then Chinese by pinyin (as Chinese Windows sorts).
        std::vector<quint8> han(distinct.size());
        for (size_t d = 0; d < distinct.size(); ++d) {
            keys.push_back(collator.sortKey(distinct[d].toString()));
            han[d] = startsWithHan(distinct[d]) ? 1 : 0;
        }
        std::vector<int> byCollation(distinct.size());
        std::iota(byCollation.begin(), byCollation.end(), 0);
        std::sort(byCollation.begin(), byCollation.end(), [&](int x, int y) {
            if (han[size_t(x)] != han[size_t(y)])
                return han[size_t(x)] < han[size_t(y)];
            return keys[size_t(x)].compare(keys[size_t(y)]) < 0;
        });
        // Values that collate equal share a rank, so their rows keep their order.
        std::vector<int> position(distinct.size());
        for (size_t p = 0; p < byCollation.size(); ++p) {
            const int d = byCollation[p];
            const bool same = p > 0 && han[size_t(byCollation[p - 1])] == han[size_t(d)]
                              && keys[size_t(byCollation[p - 1])].compare(keys[size_t(d)]) == 0;
            position[size_t(d)] = same ? position[size_t(byCollation[p - 1])] : int(p) + 1;
        }
        for (size_t v = 0; v < texts.size(); ++v)
            ranks[serialOf[v]] = position[size_t(valueId[v])];
    }
    return m_ranks->byColumn.emplace(column, std::move(ranks)).first->second;
}

} // namespace lianbu::db
