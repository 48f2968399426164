// "打 印": the customer grid, as it currently shows the list, to the grid-printing component.
#include "app/MainWindow.h"
#include "platform/VendorAddresses.h"
#include "platform/Clock.h"
#include "printing/GridReport.h"
#include "ui_MainWindow.h"

namespace {

// The main window's grid-printing component, configured for the customer list on first use and
// kept (with any changed settings) for as long as the window lives.
GridReport *printDBGridEh1(MainWindow *form)
{
    const QString name = QStringLiteral("customerReport");
    if (auto *existing = form->findChild<GridReport *>(name, Qt::FindDirectChildrenOnly))
        return existing;
    auto *component = new GridReport(form);
    component->setObjectName(name);
    lianbu::printing::configureCustomerPrint(component, lianbu::vendorWebAddress());
    return component;
}

} // namespace

void MainWindow::printCustomerList()
{
    GridReport *printer = printDBGridEh1(this);
    printer->setDBGridEh(ui->customerGrid);
    printer->setTextReplacements({{QStringLiteral("%[Today]"), lianbu::dateText(lianbu::today())}});
    printer->showPrintPreview();
}
