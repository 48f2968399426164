#include "db/SortKeysParts.h"

#include "db/SortKeys.h"
#include "db/SqliteEngine.h"
#include "platform/Error.h"

#include <QHash>
#include <QThread>
#include <QtEndian>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace lianbu::db::sortkeys {

QString quoted(const QString &name)
{
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString orderTable(const QString &table)
{
    return table + QLatin1String("_sortorder");
}

QString columnTable(const QString &table)
{
    return table + QLatin1String("_sortorder_columns");
}

QString staleTable(const QString &table)
{
    return table + QLatin1String("_sortorder_stale");
}

QString formerKeyTable(const QString &table)
{
    return table + QLatin1String("_sortkeys");
}

void execute(sqlite3 *handle, const QString &sql)
{
    engine::Statement statement(handle, sql);
    while (statement.step()) {
    }
}

qint64 singleInteger(sqlite3 *handle, const QString &sql)
{
    engine::Statement statement(handle, sql);
    return statement.step() ? statement.integer(0) : 0;
}

bool tableExists(sqlite3 *handle, const QString &name)
{
    engine::Statement find(handle, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name=?"));
    find.bind(1, name);
    return find.step();
}

std::vector<KeyColumn> keyColumns(sqlite3 *handle, const QString &table)
{
    std::vector<KeyColumn> columns;
    if (!tableExists(handle, columnTable(table)) || !tableExists(handle, orderTable(table))
        || !tableExists(handle, staleTable(table)))
        return columns;
    engine::Statement read(handle,
                           QStringLiteral("SELECT bit, name FROM %1 ORDER BY bit").arg(quoted(columnTable(table))));
    QString scratch;
    while (read.step()) {
        const qint64 bit = read.integer(0);
        if (bit < 0 || bit >= kMaxColumns)
            continue; // not ours: ignored rather than shifted out of range
        columns.push_back({int(bit), read.text(1, &scratch).toString()});
    }
    return columns;
}

// ---- labels as stored ----------------------------------------------------------------------------

Labels::Chunk &Labels::chunk(qint64 number)
{
    m_last = nullptr;
    m_direct.clear();
    return m_chunks[number];
}

void Labels::index()
{
    m_direct.clear();
    m_last = nullptr;
    if (m_chunks.empty())
        return;
    m_first = m_chunks.begin()->first;
    const quint64 span = quint64(m_chunks.rbegin()->first - m_first) + 1;
    if (span > quint64(m_chunks.size()) * 2 + 16)
        return;
    m_direct.assign(size_t(span), nullptr);
    for (auto &[number, c] : m_chunks)
        m_direct[size_t(number - m_first)] = &c;
}

quint32 Labels::at(qint64 rid) const
{
    const qint64 number = chunkOf(rid);
    if (!m_direct.empty()) {
        const quint64 at = quint64(number - m_first);
        const Chunk *c = at < m_direct.size() ? m_direct[size_t(at)] : nullptr;
        return c ? c->labels[size_t(slotOf(rid))] : 0;
    }
    if (!m_last || m_lastNumber != number) {
        const auto found = m_chunks.find(number);
        if (found == m_chunks.end())
            return 0;
        m_last = &found->second;
        m_lastNumber = number;
    }
    return m_last->labels[size_t(slotOf(rid))];
}

void Labels::set(qint64 rid, quint32 label)
{
    const qint64 number = chunkOf(rid);
    if (!m_direct.empty()) {
        const quint64 at = quint64(number - m_first);
        if (at < m_direct.size() && m_direct[size_t(at)]) {
            Chunk &c = *m_direct[size_t(at)];
            c.labels[size_t(slotOf(rid))] = label;
            c.changed = true;
            return;
        }
    }
    if (!m_writing || m_writingNumber != number) {
        m_writing = &chunk(number);
        m_writingNumber = number;
    }
    m_writing->labels[size_t(slotOf(rid))] = label;
    m_writing->changed = true;
}

void Labels::markAllChanged()
{
    for (auto &[number, c] : m_chunks)
        c.changed = true;
}

void Labels::load(sqlite3 *handle, const QString &table, int bit, const std::vector<qint64> *rids)
{
    m_chunks.clear();
    m_direct.clear();
    m_last = nullptr;
    m_writing = nullptr;
    auto take = [this](qint64 number, const void *blob, int bytes) {
        Chunk &c = m_chunks[number];
        // A chunk of another length was not written by this program: its rows read as unsorted.
        if (blob && bytes == int(kChunkRows * 4))
            for (size_t s = 0; s < size_t(kChunkRows); ++s)
                c.labels[s] = qFromLittleEndian<quint32>(static_cast<const uchar *>(blob) + s * 4);
    };
    if (!rids) {
        engine::Statement read(
            handle, QStringLiteral("SELECT chunk, labels FROM %1 WHERE bit=?").arg(quoted(orderTable(table))));
        read.bind(1, qint64(bit));
        while (read.step())
            take(read.integer(0), sqlite3_column_blob(read.get(), 1), sqlite3_column_bytes(read.get(), 1));
        index();
        return;
    }
    std::vector<qint64> numbers;
    numbers.reserve(rids->size());
    for (qint64 rid : *rids)
        numbers.push_back(chunkOf(rid));
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    engine::Statement read(
        handle, QStringLiteral("SELECT labels FROM %1 WHERE bit=? AND chunk=?").arg(quoted(orderTable(table))));
    for (qint64 number : numbers) {
        read.reset();
        read.bind(1, qint64(bit));
        read.bind(2, number);
        if (read.step())
            take(number, sqlite3_column_blob(read.get(), 0), sqlite3_column_bytes(read.get(), 0));
    }
    index();
}

void Labels::store(sqlite3 *handle, const QString &table, int bit)
{
    engine::Statement write(handle, QStringLiteral("INSERT OR REPLACE INTO %1 (bit, chunk, labels) VALUES (?, ?, ?)")
                                        .arg(quoted(orderTable(table))));
    engine::Statement drop(handle,
                           QStringLiteral("DELETE FROM %1 WHERE bit=? AND chunk=?").arg(quoted(orderTable(table))));
    QByteArray bytes(int(kChunkRows * 4), Qt::Uninitialized);
    for (auto &[number, c] : m_chunks) {
        if (!c.changed)
            continue;
        c.changed = false;
        const bool empty = std::all_of(c.labels.begin(), c.labels.end(), [](quint32 l) { return l == 0; });
        engine::Statement &statement = empty ? drop : write;
        statement.reset();
        statement.bind(1, qint64(bit));
        statement.bind(2, number);
        if (!empty) {
            for (size_t s = 0; s < size_t(kChunkRows); ++s)
                qToLittleEndian<quint32>(c.labels[s], bytes.data() + s * 4);
            if (sqlite3_bind_blob(statement.get(), 3, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT)
                != SQLITE_OK)
                throw Error(QString::fromUtf8(sqlite3_errmsg(handle)));
        }
        statement.step();
    }
}

void Labels::replaceAll(sqlite3 *handle, const QString &table, int bit)
{
    engine::Statement clear(handle, QStringLiteral("DELETE FROM %1 WHERE bit=?").arg(quoted(orderTable(table))));
    clear.bind(1, qint64(bit));
    clear.step();
    store(handle, table, bit);
}

void sortByUpperHalf(std::vector<quint64> &values)
{
    if (values.size() < 2)
        return;
    std::vector<quint64> scratch(values.size());
    std::vector<size_t> counts(65537);
    for (int shift : {32, 48}) {
        std::fill(counts.begin(), counts.end(), 0);
        for (quint64 v : values)
            ++counts[size_t((v >> shift) & 0xFFFF) + 1];
        if (counts[size_t((values.front() >> shift) & 0xFFFF) + 1] == values.size())
            continue; // one bucket: nothing moves
        for (size_t b = 1; b < counts.size(); ++b)
            counts[b] += counts[b - 1];
        for (quint64 v : values)
            scratch[counts[size_t((v >> shift) & 0xFFFF)]++] = v;
        values.swap(scratch);
    }
}

quint32 spacingFor(quint64 groups)
{
    if (groups >= 0x7FFFFFFFu)
        throw Error(QStringLiteral("Too many different values to sort."));
    return quint32(0xFFFFFFFFull / (groups + 1));
}

// ---- collation keys of many values ------------------------------------------------------------

namespace {

// Collation keys of distinct texts, kept in a few large buffers (one per worker).
class KeyList
{
public:
    // `progress` (0 to 1) is called on this thread as its own share of the keys is made.
    explicit KeyList(const std::vector<QString> &texts, const ColumnProgress &progress = {})
        : m_views(texts.size())
    {
        if (texts.empty())
            return;
        // One key here first: a missing collation is an error of this thread, not a crash.
        (void)collationKey(texts.front());
        const size_t workers = texts.size() < 20000 ? 1 : size_t(std::clamp(QThread::idealThreadCount(), 1, 4));
        m_buffers.resize(workers);
        std::vector<std::vector<std::pair<size_t, size_t>>> spans(workers);
        auto work = [&](size_t w) {
            const size_t from = texts.size() * w / workers;
            const size_t to = texts.size() * (w + 1) / workers;
            std::string &buffer = m_buffers[w];
            spans[w].reserve(to - from);
            for (size_t i = from; i < to; ++i) {
                const size_t start = buffer.size();
                appendCollationKey(texts[i], &buffer);
                spans[w].emplace_back(start, buffer.size() - start);
                if (w == 0 && progress && (i & 8191) == 8191)
                    progress(double(i - from) / double(to - from));
            }
        };
        std::vector<std::thread> threads;
        for (size_t w = 1; w < workers; ++w)
            threads.emplace_back(work, w);
        work(0);
        for (std::thread &t : threads)
            t.join();
        for (size_t w = 0; w < workers; ++w) {
            const size_t from = texts.size() * w / workers;
            for (size_t i = 0; i < spans[w].size(); ++i)
                m_views[from + i] = std::string_view(m_buffers[w]).substr(spans[w][i].first, spans[w][i].second);
        }
    }
    std::string_view operator[](size_t i) const { return m_views[i]; }
    size_t size() const { return m_views.size(); }
    // Indexes of the keys in their order.
    std::vector<int> order() const
    {
        std::vector<int> o(m_views.size());
        std::iota(o.begin(), o.end(), 0);
        std::sort(o.begin(), o.end(), [this](int x, int y) { return m_views[size_t(x)] < m_views[size_t(y)]; });
        return o;
    }

private:
    std::vector<std::string> m_buffers;
    std::vector<std::string_view> m_views;
};

// The column's values read with their rowids, each distinct text once.
struct ColumnValues
{
    std::vector<std::pair<qint64, qint32>> rows; // rowid, distinct text (-1: null)
    std::vector<QString> distinct;
};

ColumnValues readColumn(sqlite3 *handle, const QString &table, const QString &column, const ColumnProgress &progress)
{
    const qint64 expected =
        progress ? singleInteger(handle, QStringLiteral("SELECT max(rowid) FROM %1").arg(quoted(table))) : 0;
    ColumnValues values;
    engine::Statement read(handle, QStringLiteral("SELECT rowid, %1 FROM %2").arg(quoted(column), quoted(table)));
    QHash<QString, qint32> ids;
    QString scratch;
    while (read.step()) {
        const qint64 rid = read.integer(0);
        if (read.isNull(1)) {
            values.rows.emplace_back(rid, -1);
            continue;
        }
        QString text = read.text(1, &scratch).toString();
        auto found = ids.constFind(text);
        if (found == ids.constEnd()) {
            found = ids.insert(text, qint32(values.distinct.size()));
            values.distinct.push_back(std::move(text));
        }
        values.rows.emplace_back(rid, found.value());
        if (progress && (values.rows.size() & 65535) == 0 && expected > 0)
            progress(std::min(1.0, double(values.rows.size()) / double(expected)));
    }
    return values;
}

} // namespace

void rebuildColumn(sqlite3 *handle, const QString &table, const KeyColumn &column, const ColumnProgress &progress)
{
    // Reading takes about a third of the time, the keys half, the rest sorting and writing.
    const ColumnValues values =
        readColumn(handle, table, column.name, progress ? [&](double f) { progress(0.3 * f); } : ColumnProgress());
    const KeyList keys(values.distinct, progress ? [&](double f) { progress(0.3 + 0.5 * f); } : ColumnProgress());
    const std::vector<int> order = keys.order();
    if (progress)
        progress(0.85);
    std::vector<quint32> groupOf(values.distinct.size());
    quint64 groups = 0;
    for (size_t p = 0; p < order.size(); ++p) {
        if (p == 0 || keys[size_t(order[p - 1])] != keys[size_t(order[p])])
            ++groups;
        groupOf[size_t(order[p])] = quint32(groups);
    }
    const quint32 spacing = spacingFor(groups);
    Labels labels;
    for (const auto &[rid, id] : values.rows)
        labels.set(rid, id < 0 ? 0 : groupOf[size_t(id)] * spacing);
    labels.replaceAll(handle, table, column.bit);
}

bool labelsFromFormerKeys(sqlite3 *handle, const QString &table, const KeyColumn &column,
                          const std::unordered_set<qint64> &staleRids)
{
    const QString former = formerKeyTable(table);
    const QString index = former + QLatin1Char('_') + column.name;
    {
        engine::Statement find(
            handle, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='index' AND tbl_name=? AND name=?"));
        find.bind(1, former);
        find.bind(2, index);
        if (!find.step())
            return false;
    }
    // The former index holds the keys in order: equal keys become one label, without collating.
    engine::Statement read(handle, QStringLiteral("SELECT rid, %1 FROM %2 INDEXED BY %3 ORDER BY %1")
                                       .arg(quoted(column.name), quoted(former), quoted(index)));
    std::vector<std::pair<qint64, quint32>> rows;
    std::string previous;
    quint32 groups = 0;
    bool any = false;
    while (read.step()) {
        const qint64 rid = read.integer(0);
        if (read.isNull(1) || staleRids.count(rid))
            continue;
        const auto *blob = static_cast<const char *>(sqlite3_column_blob(read.get(), 1));
        const size_t bytes = size_t(sqlite3_column_bytes(read.get(), 1));
        const std::string_view key(blob ? blob : "", bytes);
        if (!any || key != previous) {
            previous.assign(key);
            ++groups;
            any = true;
        }
        rows.emplace_back(rid, groups);
    }
    const quint32 spacing = spacingFor(groups);
    Labels labels;
    for (const auto &[rid, group] : rows)
        labels.set(rid, group * spacing);
    labels.replaceAll(handle, table, column.bit);
    return true;
}

bool refreshColumn(sqlite3 *handle, const QString &table, const KeyColumn &column)
{
    struct StaleRow
    {
        qint64 rid;
        qint32 id; // distinct text; -1: null or gone
    };
    std::vector<StaleRow> stale;
    std::vector<QString> texts;
    {
        engine::Statement read(handle, QStringLiteral("SELECT s.rid, d.%1 FROM %2 s LEFT JOIN %3 d ON d.rowid=s.rid "
                                                      "WHERE (s.done>>%4)&1=0")
                                           .arg(quoted(column.name), quoted(staleTable(table)), quoted(table))
                                           .arg(column.bit));
        QHash<QString, qint32> ids;
        QString scratch;
        while (read.step()) {
            if (read.isNull(1)) {
                stale.push_back({read.integer(0), -1});
                continue;
            }
            QString text = read.text(1, &scratch).toString();
            auto found = ids.constFind(text);
            if (found == ids.constEnd()) {
                found = ids.insert(text, qint32(texts.size()));
                texts.push_back(std::move(text));
            }
            stale.push_back({read.integer(0), found.value()});
        }
    }
    if (stale.empty())
        return false;
    std::unordered_set<qint64> staleRids;
    staleRids.reserve(stale.size() * 2);
    for (const StaleRow &row : stale)
        staleRids.insert(row.rid);

    Labels labels;
    labels.load(handle, table, column.bit);
    // Every labelled row that is still right, by label.
    std::vector<quint64> packed;
    std::vector<qint64> rids;
    labels.forEach([&](qint64 rid, quint32 label) {
        if (!staleRids.count(rid)) {
            packed.push_back((quint64(label) << 32) | rids.size());
            rids.push_back(rid);
        }
    });
    // Many rows written at once (an import): making the column again costs less than placing
    // each new value by comparisons.
    if (stale.size() > 256 && stale.size() * 64 > rids.size()) {
        rebuildColumn(handle, table, column);
        return true;
    }
    sortByUpperHalf(packed);
    std::vector<quint32> groupLabel;
    std::vector<qint64> groupRow;
    for (quint64 p : packed) {
        const quint32 label = quint32(p >> 32);
        if (groupLabel.empty() || groupLabel.back() != label) {
            groupLabel.push_back(label);
            groupRow.push_back(rids[size_t(p & 0xFFFFFFFFu)]);
        }
    }
    rids.clear();
    packed.clear();

    // Each group's key, read from one of its rows when a search first needs it.
    engine::Statement probe(handle,
                            QStringLiteral("SELECT %1 FROM %2 WHERE rowid=?").arg(quoted(column.name), quoted(table)));
    std::unordered_map<size_t, std::string> groupKeys;
    bool consistent = true;
    auto groupKey = [&](size_t g) -> const std::string & {
        auto found = groupKeys.find(g);
        if (found != groupKeys.end())
            return found->second;
        probe.reset();
        probe.bind(1, groupRow[g]);
        std::string key;
        QString scratch;
        if (probe.step() && !probe.isNull(0))
            appendCollationKey(probe.text(0, &scratch), &key);
        else
            consistent = false; // a labelled row without its value: the labels are not to be trusted
        return groupKeys.emplace(g, std::move(key)).first->second;
    };

    const KeyList keys(texts);
    const std::vector<int> order = keys.order();
    std::vector<quint32> newLabel(texts.size(), 0);
    // New values equal to one already there, with its group; the others by the group they come
    // before.
    std::vector<std::pair<int, size_t>> equalTo;
    std::map<size_t, std::vector<int>> gaps;
    const size_t groups = groupLabel.size();
    size_t from = 0;
    for (size_t k = 0; k < order.size() && consistent; ++k) {
        const int id = order[k];
        const std::string_view key = keys[size_t(id)];
        if (k > 0 && keys[size_t(order[k - 1])] == key)
            continue; // labelled with the value before it below
        size_t low = from, high = groups;
        while (low < high && consistent) {
            const size_t middle = low + (high - low) / 2;
            if (std::string_view(groupKey(middle)) < key)
                low = middle + 1;
            else
                high = middle;
        }
        from = low;
        if (low < groups && std::string_view(groupKey(low)) == key)
            equalTo.emplace_back(id, low);
        else
            gaps[low].push_back(id);
    }
    if (!consistent) {
        rebuildColumn(handle, table, column);
        return true;
    }
    bool respread = false;
    for (const auto &[position, ids] : gaps) {
        const quint64 low = position > 0 ? groupLabel[position - 1] : 0;
        const quint64 high = position < groups ? groupLabel[position] : 0x100000000ull;
        const quint64 room = high - low;
        if (room < ids.size() + 1) {
            respread = true;
            break;
        }
        for (size_t j = 0; j < ids.size(); ++j)
            newLabel[size_t(ids[j])] = quint32(low + room * (j + 1) / (ids.size() + 1));
    }
    if (respread) {
        // No room left between two labels: every label is spread out again, in the same order.
        const quint32 spacing = spacingFor(groups + [&] {
            size_t added = 0;
            for (const auto &[position, ids] : gaps)
                added += ids.size();
            return added;
        }());
        std::vector<quint32> movedLabel(groups);
        quint64 next = 0;
        auto gap = gaps.begin();
        for (size_t g = 0; g <= groups; ++g) {
            if (gap != gaps.end() && gap->first == g) {
                for (int id : gap->second)
                    newLabel[size_t(id)] = quint32(++next * spacing);
                ++gap;
            }
            if (g < groups)
                movedLabel[g] = quint32(++next * spacing);
        }
        labels.forEach([&](qint64 rid, quint32 label) {
            if (staleRids.count(rid))
                return;
            const auto at = std::lower_bound(groupLabel.begin(), groupLabel.end(), label);
            labels.set(rid, movedLabel[size_t(at - groupLabel.begin())]);
        });
        groupLabel = std::move(movedLabel);
    }
    for (const auto &[id, group] : equalTo)
        newLabel[size_t(id)] = groupLabel[group];
    for (size_t k = 1; k < order.size(); ++k)
        if (keys[size_t(order[k - 1])] == keys[size_t(order[k])])
            newLabel[size_t(order[k])] = newLabel[size_t(order[k - 1])];
    for (const StaleRow &row : stale)
        labels.set(row.rid, row.id < 0 ? 0 : newLabel[size_t(row.id)]);
    labels.store(handle, table, column.bit);
    return true;
}

} // namespace lianbu::db::sortkeys
