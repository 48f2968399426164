#pragma once

#include <QString>

class TDBGridEh;

namespace lianbu::customers {

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
void configureCustomerGrid(TDBGridEh *grid);

// The sort a title click asks for, given the clicked column's marker before the click:
// the field ascending after a down marker, otherwise descending.
QString sortForTitleClick(const QString &fieldName, int markerBeforeClick);

} // namespace lianbu::customers
