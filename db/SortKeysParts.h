#pragma once

// The pieces db/SortKeys.cpp and db/SortKeysBuild.cpp share: the names of the order tables, the
// per-column order labels as stored (chunks of consecutive rowids), and the work of making them.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

struct sqlite3;

namespace lianbu::db::sortkeys {

// Rowids per stored chunk: 1,000 labels of 4 bytes fill one 4 KB page with one row.
inline constexpr qint64 kChunkRows = 1000;
inline constexpr int kMaxColumns = 62;

QString quoted(const QString &name);
QString orderTable(const QString &table);     // (bit, chunk, labels)
QString columnTable(const QString &table);    // (bit, name)
QString staleTable(const QString &table);     // (rid, done): rows written since their labels were made
QString formerKeyTable(const QString &table); // the earlier layout: one stored key per row and column

void execute(sqlite3 *handle, const QString &sql);
bool tableExists(sqlite3 *handle, const QString &name);
qint64 singleInteger(sqlite3 *handle, const QString &sql);

struct KeyColumn
{
    int bit = 0;
    QString name;
};
// The columns with stored labels; empty when the table has none.
std::vector<KeyColumn> keyColumns(sqlite3 *handle, const QString &table);

inline qint64 chunkOf(qint64 rid)
{
    return rid >= 0 ? rid / kChunkRows : -((-(rid + 1)) / kChunkRows) - 1;
}

inline int slotOf(qint64 rid)
{
    return int(rid - chunkOf(rid) * kChunkRows);
}

// One column's labels by rowid: equal labels for values that collate equal, larger labels for
// values that sort later, 0 for null (and for rows that are not there).
class Labels
{
public:
    quint32 at(qint64 rid) const;
    void set(qint64 rid, quint32 label);
    // Every chunk of the column, or those holding `rids` only.
    void load(sqlite3 *handle, const QString &table, int bit, const std::vector<qint64> *rids = nullptr);
    // Writes the chunks set() changed (a chunk of zeros is deleted).
    void store(sqlite3 *handle, const QString &table, int bit);
    // Every changed chunk is rewritten and every other stored chunk of the column goes.
    void replaceAll(sqlite3 *handle, const QString &table, int bit);
    template <typename F>
    void forEach(F f) const
    {
        for (const auto &[chunk, c] : m_chunks)
            for (int s = 0; s < int(kChunkRows); ++s)
                if (c.labels[size_t(s)] != 0)
                    f(chunk * kChunkRows + s, c.labels[size_t(s)]);
    }
    void markAllChanged();

private:
    struct Chunk
    {
        std::vector<quint32> labels = std::vector<quint32>(size_t(kChunkRows), 0);
        bool changed = false;
    };
    Chunk &chunk(qint64 number);
    // Chunks by number from m_first, when they lie close together (as rowids mostly do).
    void index();
    std::map<qint64, Chunk> m_chunks;
    std::vector<Chunk *> m_direct;
    qint64 m_first = 0;
    Chunk *m_writing = nullptr; // the chunk set() wrote last (map nodes stay where they are)
    qint64 m_writingNumber = 0;
    mutable qint64 m_lastNumber = 0;
    mutable const Chunk *m_last = nullptr;
};

// Sorts values by their upper 32 bits, keeping the order of equal ones (two counting passes).
void sortByUpperHalf(std::vector<quint64> &values);

// Labels spread evenly over the 32 bits for `groups` groups of equal values: group g (from 0)
// gets (g + 1) * spacing.
quint32 spacingFor(quint64 groups);

// Appends the collation key of `text` (db::collationKey's bytes) to `into`.
void appendCollationKey(QStringView text, std::string *into);

// How far the work on one column has come (0 to 1), called every few thousand rows on the
// calling thread.
using ColumnProgress = std::function<void(double)>;

// Makes the labels of one column from the table's values (every row, its collation key once
// per distinct value) and replaces the column's stored chunks.
void rebuildColumn(sqlite3 *handle, const QString &table, const KeyColumn &column, const ColumnProgress &progress = {});

// Makes the labels of one column from the former layout's index of the column (its keys in
// order, so nothing is collated again), leaving the rows in `staleRids` unlabelled; false when
// there is no such index.
bool labelsFromFormerKeys(sqlite3 *handle, const QString &table, const KeyColumn &column,
                          const std::unordered_set<qint64> &staleRids);

// Brings the labels of the column up to date for the rows written since they were made; false
// when there was nothing to do. Runs inside the caller's write transaction.
bool refreshColumn(sqlite3 *handle, const QString &table, const KeyColumn &column);

} // namespace lianbu::db::sortkeys
