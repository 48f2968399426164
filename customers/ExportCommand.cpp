#include "app/MainWindow.h"
#include "customers/CustomerExport.h"
#include "ui_MainWindow.h"

// "导 出": the customer list, as the grid shows it, into a file the operator names.

void MainWindow::exportCustomerList()
{
    lianbu::customers::exportCustomerList(ui->customerGrid, this);
}
