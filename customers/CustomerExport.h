#pragma once

// "导 出": the customer list, as the grid shows it, into a file of the format the operator
// picks in the save dialog: the legacy .xls, .xlsx, CSV (UTF-8 or GBK) or vCard.

class QWidget;
class DataGrid;

namespace lianbu::customers {

void exportCustomerList(DataGrid *grid, QWidget *parent);

} // namespace lianbu::customers
