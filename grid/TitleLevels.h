#pragma once

// Multi-level titles: a caption "A|B|C" has three levels; neighbouring columns whose upper
// levels are equal share one title cell spanning them. Pure layout arithmetic, so header
// painting, printing and tests use the same rules.

#include <QList>
#include <QString>
#include <QStringList>

namespace gridtitles {

// Splits a caption at "|" into its levels; blanks around a level are kept as written.
// A caption without "|" is one level.
QStringList splitTitleLevels(const QString &caption);

struct TitleCell
{
    int level = 0;       // first level row this cell occupies (0 = top)
    int levelSpan = 1;   // level rows it occupies downwards
    int firstColumn = 0; // index into the column list given to layoutTitleCells
    int lastColumn = 0;
    QString text;
};

// Lays out the title cells of consecutive columns with the given captions. With `multi`
// false every column gets one cell spanning all levels. Otherwise level L of a column is
// merged with its neighbours' level L while all levels 0..L are equal and neither is its
// column's last level; a column's last level reaches down to the bottom row.
// levelCount receives the number of level rows (the deepest caption).
QList<TitleCell> layoutTitleCells(const QStringList &captions, bool multi, int *levelCount);

} // namespace gridtitles
