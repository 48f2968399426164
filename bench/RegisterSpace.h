#pragma once

#include <QString>

#include <functional>

namespace lianbu::bench {

// Where a register's pages go, by SQLite's dbstat (MB of 1,048,576 bytes).
struct RegisterSpace
{
    double fileMb = 0;
    double freeMb = 0;       // pages on the free list (a VACUUM would give them back)
    double customersMb = 0;  // data with its own indexes and the quick search's tables: the floor
    double sortOrderMb = 0;  // the stored sort order (data_sortorder*)
    double formerKeysMb = 0; // the former stored keys (data_sortkeys and its indexes)
    double otherMb = 0;      // everything else (operators, logs, follow-ups, change feed)
    double keptMb() const { return customersMb + sortOrderMb + formerKeysMb + otherMb; }
};
RegisterSpace measureSpace(const QString &path);

// Removes the stored sort order and the former keys from the register, as a register from
// before either had them (one transaction).
void dropSortOrder(const QString &path);

// Gives the register the former layout of stored keys (data_sortkeys: the collation key of every
// value of every column, an index per column, the triggers that mark written rows), as the
// previous version made it for an older register; returns the seconds it took.
double addFormerKeys(const QString &path);

struct OpenTiming
{
    double seconds = 0;
    double cpuSeconds = 0;        // the whole process's, every thread
    double longestGapSeconds = 0; // between two progress calls (or the start and the first)
    int progressCalls = 0;
};
// Times the start's making of the sort order (db::createSortKeys on "data").
OpenTiming timeSortOrderCreation(const QString &path);

} // namespace lianbu::bench
