#include "grid/TitleLevels.h"

#include "db/ListRows.h"

namespace gridtitles {

QStringList splitTitleLevels(const QString &caption)
{
    return lianbu::db::titleLevels(caption);
}

QList<TitleCell> layoutTitleCells(const QStringList &captions, bool multi, int *levelCount)
{
    QList<TitleCell> cells;
    QList<QStringList> levels;
    int depth = 1;
    levels.reserve(captions.size());
    for (const QString &caption : captions) {
        QStringList parts = multi ? splitTitleLevels(caption) : QStringList{caption};
        depth = qMax(depth, int(parts.size()));
        levels.append(parts);
    }
    if (levelCount)
        *levelCount = depth;

    const int n = int(levels.size());
    // Upper (non-last) levels: merge runs of equal prefixes.
    for (int level = 0; level < depth - 1; ++level) {
        int col = 0;
        while (col < n) {
            const QStringList &parts = levels[col];
            if (level >= parts.size() - 1) { // not an upper level of this column
                ++col;
                continue;
            }
            int last = col;
            while (last + 1 < n) {
                const QStringList &next = levels[last + 1];
                if (level >= next.size() - 1)
                    break;
                bool same = true;
                for (int l = 0; l <= level && same; ++l)
                    same = next[l] == parts[l];
                if (!same)
                    break;
                ++last;
            }
            cells.append(TitleCell{level, 1, col, last, parts[level]});
            col = last + 1;
        }
    }
    // Each column's last level reaches down to the bottom.
    for (int col = 0; col < n; ++col) {
        const QStringList &parts = levels[col];
        const int level = int(parts.size()) - 1;
        cells.append(TitleCell{level, depth - level, col, col, parts.last()});
    }
    return cells;
}

} // namespace gridtitles
