#pragma once

// The state a DataSet keeps besides its rows' order, shared by its source files (DataSet*.cpp);
// nothing else includes it.

#include <QHash>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace lianbu::db {

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

} // namespace lianbu::db
