#pragma once

// The rows of a keyset list read lately, by key: the list reads the rows around the one a view
// asks for in one batch (a little behind, for scrolling up, and a few screens ahead) and keeps
// them here; the cache is emptied when a batch would take it past its bound, so a list of any
// length holds at most `capacity` rows in memory.

#include <QHash>
#include <QString>

#include <vector>

namespace lianbu::db {

class RowCache
{
public:
    static constexpr int kBehind = 64;
    static constexpr int kAhead = 448;
    static constexpr int kCapacity = 4096;
    // A list just opened reads no more than a tall window shows: a result the operator types
    // past is never read further.
    static constexpr int kFirstScreen = 128;

    explicit RowCache(int behind = kBehind, int ahead = kAhead, int capacity = kCapacity);

    // The row stored for `key`, nullptr when it is not held.
    const QString *find(qint64 key) const;
    // The keys of the batch around `row` of `keys` (the list's order) that are not held, in
    // list order. Empties the cache first when the batch would not fit beside what it holds.
    // Keys 0 (rows not in the table) are never asked for. `ahead` (when positive) reads less
    // ahead than the cache's own batch.
    std::vector<qint64> missingAround(const std::vector<qint64> &keys, int row, int ahead = 0);
    void store(qint64 key, QString packed);
    // The row is read again the next time it is shown.
    void forget(qint64 key) { m_rows.remove(key); }
    void clear() { m_rows.clear(); }
    int size() const { return int(m_rows.size()); }
    int capacity() const { return m_capacity; }

private:
    int m_behind;
    int m_ahead;
    int m_capacity;
    QHash<qint64, QString> m_rows;
};

} // namespace lianbu::db
