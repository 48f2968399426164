#include "customers/PrintCommand.h"
#include "data/ChangeLog.h"

#include "customers/ShownList.h"
#include "grid/DataGrid.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/VendorAddresses.h"
#include "printing/GridReport.h"
#include "printing/PageStore.h"
#include "printing/PrintPreviewWindow.h"
#include "printing/PrintSettingsDialog.h"

#include <QAbstractItemModel>

namespace lianbu::customers {

namespace {

const QString kName = QStringLiteral("customerPrinting");

printing::FooterLook footerLook(const ColumnFooter &footer)
{
    return {footer.font(), footer.color(), footer.alignment()};
}

} // namespace

printing::ReportLook printLook(const DataGrid &grid)
{
    printing::ReportLook look;
    look.screenDpiX = grid.logicalDpiX();
    look.screenDpiY = grid.logicalDpiY();
    look.dataFont = grid.dataFont();
    look.titleFont = grid.titleFont();
    look.fixedColor = grid.fixedColor();
    look.oddRowColor = grid.oddRowColor();
    look.evenRowColor = grid.evenRowColor();
    look.rowHeight = grid.rowHeight();
    look.rowLines = grid.rowLines();
    look.titleHeight = grid.titleHeight();
    look.titleLines = grid.titleLines();
    look.vTitleMargin = grid.vTitleMargin();
    for (const GridColumn *column : grid.visibleColumns()) {
        printing::ColumnLook shown;
        shown.font = column->font();
        shown.color = column->color();
        shown.titleFont = column->title()->font();
        shown.titleColor = column->title()->color();
        shown.footer = footerLook(*column->footer());
        for (int row = 0; row < grid.footerRowCount(); ++row) {
            const ColumnFooter *footer = column->footerForRow(row);
            if (!footer)
                break;
            shown.footers.push_back(footerLook(*footer));
        }
        look.columns.push_back(std::move(shown));
    }
    return look;
}

CustomerPrinting::CustomerPrinting(QObject *owner)
    : QObject(owner)
    , m_report(new GridReport(this))
{
    setObjectName(kName);
    m_report->setObjectName(QStringLiteral("customerReport"));
    printing::configureCustomerPrint(m_report, vendorWebAddress());
}

CustomerPrinting::~CustomerPrinting() = default;

void CustomerPrinting::print(DataGrid *grid)
{
    // A print command arriving while pages are being made is ignored: the pages read the list
    // through the reader they started with.
    if (m_preview && m_preview->store()->printing())
        return;
    m_grid = grid;
    if (!grid || !grid->listModel() || grid->listModel()->columnCount() == 0)
        return;
    if (!m_preview) {
        m_preview = std::make_unique<PrintPreviewWindow>();
        m_preview->setSetupOffered(true);
        connect(m_preview.get(), &PrintPreviewWindow::setupRequested, this, [this] {
            if (editSettings())
                print(m_grid);
        });
    }
    m_rows = grid->rowReader();
    m_report->setList(shownColumns(*grid), printLook(*grid), m_rows.get());
    m_report->setTextReplacements({{QStringLiteral("%[Today]"), dateText(today())}});
    try {
        m_report->generate(m_preview->store());
    } catch (const Error &error) {
        showError(error.message(), m_preview.get());
    }
}

bool CustomerPrinting::editSettings()
{
    if (!m_settings)
        m_settings = std::make_unique<PrintSettingsDialog>();
    PageStore *store = m_preview ? m_preview->store() : nullptr;
    return m_settings->edit(*m_report, store && store->printerInstalled() ? store->printer() : nullptr);
}

CustomerPrinting *customerPrinting(QObject *owner)
{
    return owner->findChild<CustomerPrinting *>(kName, Qt::FindDirectChildrenOnly);
}

void printCustomerList(DataGrid *grid, QWidget *owner, const data::SessionOperator *by)
{
    if (!data::mayDo(by, data::Right::Print, owner))
        return;
    CustomerPrinting *printing = customerPrinting(owner);
    if (!printing)
        printing = new CustomerPrinting(owner);
    printing->print(grid);
}

} // namespace lianbu::customers
