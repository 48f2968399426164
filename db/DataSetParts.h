#pragma once

// The state a DataSet keeps besides its rows' order, shared by its source files (DataSet*.cpp);
// nothing else includes it.

#include <QHash>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace lianbu::db {

// The packed rows (PackedRow.h) a keyset read lately, by key.
struct RowCache
{
    QHash<qint64, QString> rows;
};

// Sort ranks per stored column, computed at the first sort by that column and kept until a row
// is written (a deleted row only leaves an unused rank behind).
struct SortRanks
{
    std::map<int, std::vector<int>> byColumn;
};

// The values of the row being edited or inserted.
struct EditBuffer
{
    int row = -1;
    bool inserting = false;
    int previousCurrent = -1;
    std::vector<std::optional<QString>> values;
    std::vector<bool> modified;
    // The row's values when the edit began (by stored column): the save only goes through while
    // the database still holds them.
    std::vector<std::optional<QString>> asRead;
};

// A keyset reads rows around the one asked for: a little behind (scrolling up) and a few
// screens ahead; the cache is emptied when it would hold more than a few thousand rows.
inline constexpr int kFetchBehind = 64;
inline constexpr int kFetchAhead = 448;
inline constexpr int kCacheCapacity = 4096;

} // namespace lianbu::db
