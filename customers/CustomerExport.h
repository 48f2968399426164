#pragma once

// "导 出": the customer list, as the grid shows it, into a file of the format the operator
// picks in the save dialog: the legacy .xls, .xlsx, CSV (UTF-8 or GBK) or vCard.

class QWidget;
class DataGrid;

namespace lianbu::data {
class SessionOperator;
}

namespace lianbu::customers {

// Refused (said) unless the session's operator `by` may export; a file written is logged.
void exportCustomerList(DataGrid *grid, QWidget *parent, const data::SessionOperator *by = nullptr);

} // namespace lianbu::customers
