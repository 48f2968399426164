#include "db/RowCache.h"

#include <algorithm>

namespace lianbu::db {

RowCache::RowCache(int behind, int ahead, int capacity)
    : m_behind(std::max(0, behind))
    , m_ahead(std::max(1, ahead))
    , m_capacity(std::max(1, capacity))
{}

const QString *RowCache::find(qint64 key) const
{
    const auto it = m_rows.constFind(key);
    return it == m_rows.constEnd() ? nullptr : &it.value();
}

std::vector<qint64> RowCache::missingAround(const std::vector<qint64> &keys, int row, int ahead)
{
    const int count = int(keys.size());
    std::vector<qint64> wanted;
    if (row < 0 || row >= count)
        return wanted;
    const int from = std::max(0, row - m_behind);
    const int to = std::min(count, row + (ahead > 0 ? std::min(ahead, m_ahead) : m_ahead));
    if (m_rows.size() + (to - from) > m_capacity)
        m_rows.clear();
    for (int r = from; r < to; ++r) {
        const qint64 key = keys[size_t(r)];
        if (key != 0 && !m_rows.contains(key))
            wanted.push_back(key);
    }
    return wanted;
}

void RowCache::store(qint64 key, QString packed)
{
    m_rows.insert(key, std::move(packed));
}

} // namespace lianbu::db
