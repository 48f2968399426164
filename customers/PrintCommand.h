#pragma once

class DataGrid;
class QWidget;

namespace lianbu::customers {

// "打 印": the customer grid, as it currently shows the list, in the print preview. The
// grid-printing component is made for the customer list on first use and kept by `owner`
// (with any changed settings) for as long as it lives.
void printCustomerList(DataGrid *grid, QWidget *owner);

} // namespace lianbu::customers
