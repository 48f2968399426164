#include "customers/PrintCommand.h"

#include "platform/Clock.h"
#include "platform/VendorAddresses.h"
#include "printing/GridReport.h"

namespace lianbu::customers {

namespace {

GridReport *customerReport(QWidget *owner)
{
    const QString name = QStringLiteral("customerReport");
    if (auto *existing = owner->findChild<GridReport *>(name, Qt::FindDirectChildrenOnly))
        return existing;
    auto *component = new GridReport(owner);
    component->setObjectName(name);
    lianbu::printing::configureCustomerPrint(component, lianbu::vendorWebAddress());
    return component;
}

} // namespace

void printCustomerList(DataGrid *grid, QWidget *owner)
{
    GridReport *printer = customerReport(owner);
    printer->setDBGridEh(grid);
    printer->setTextReplacements({{QStringLiteral("%[Today]"), lianbu::dateText(lianbu::today())}});
    printer->showPrintPreview();
}

} // namespace lianbu::customers
