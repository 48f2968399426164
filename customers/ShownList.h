#pragma once

// What export and printing read of the customer grid: the description of its shown columns,
// built from the grid by the caller, so neither needs the grid itself.

#include "db/ListRows.h"

#include <QHash>
#include <QString>

class DataGrid;

namespace lianbu::customers {

// The grid's visible columns in their shown order, value indices its list model's columns.
// With `unshownTitles` (field name to title, names in any case), the fields no column shows
// that have a title there follow them, as values written under their own titles.
db::ListColumns shownColumns(const DataGrid &grid, const QHash<QString, QString> &unshownTitles = {});

} // namespace lianbu::customers
