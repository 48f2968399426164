// "打 印": the customer grid, as it currently shows the list, to the grid-printing component.
#include "app/MAIN.h"
#include "app/VendorAddresses.h"
#include "platform/Clock.h"
#include "printing/PrnDbgeh.h"
#include "ui_MAIN.h"

namespace {

// The main window's grid-printing component, configured for the customer list on first use and
// kept (with any changed settings) for as long as the window lives.
TPrintDBGridEh *printDBGridEh1(TMainForm *form)
{
    const QString name = QStringLiteral("PrintDBGridEh1");
    if (auto *existing = form->findChild<TPrintDBGridEh *>(name, Qt::FindDirectChildrenOnly))
        return existing;
    auto *component = new TPrintDBGridEh(form);
    component->setObjectName(name);
    lianbu::printing::configureCustomerPrint(component, lianbu::vendorWebAddress());
    return component;
}

} // namespace

void TMainForm::ToolButton22Click()
{
    TPrintDBGridEh *printer = printDBGridEh1(this);
    printer->setDBGridEh(ui->DBGridEh1);
    printer->SetTextReplacements({{QStringLiteral("%[Today]"), lianbu::dateText(lianbu::today())}});
    printer->ShowPrintPreview();
}
