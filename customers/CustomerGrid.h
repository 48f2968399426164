#pragma once

#include "grid/GridColumns.h"
#include <QString>

class DataGrid;

namespace lianbu::customers {

// Where the customer grid's column layout is saved in lianbu.ini: the section, and the first
// part of every entry name (the grid's name in the program's first version, which users'
// files carry).
inline constexpr char kLayoutSection[] = "lianbugrid";
inline constexpr char kLayoutKey[] = "DBGridEh1";

// One column of the customer grid as it is configured at start.
struct CustomerColumn
{
    const char *field;
    const char *title;
    int width; // 0: the grid's default width for the field
};

// The fourteen grid columns in their initial order (web site `m` has none).
extern const CustomerColumn kCustomerColumns[14];

// Configures the customer grid: columns, titles, widths, fonts, colours, footer, behaviour.
void configureCustomerGrid(DataGrid *grid);

// The sort a title click asks for, given the clicked column's marker before the click:
// the field ascending after a down marker, otherwise descending.
QString sortForTitleClick(const QString &fieldName, SortMarker markerBeforeClick);

} // namespace lianbu::customers
