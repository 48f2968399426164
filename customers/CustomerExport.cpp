#include "customers/CustomerExport.h"

#include "customers/ShownList.h"
#include "db/DataSet.h"
#include "db/ListRows.h"
#include "export/CustomerFields.h"
#include "export/ListExport.h"
#include "grid/DataGrid.h"
#include "platform/Dialogs.h"

#include <QFileInfo>

namespace lianbu::customers {

namespace {

const QString kTitle = QStringLiteral("客户统计报表");
const QString kAuthor = QStringLiteral("联簿宝");

// 网站 has no grid column; it goes out under its own title so no record value is lost.
QHash<QString, QString> unshownTitles()
{
    using exchange::CustomerField;
    return {{exchange::fieldColumn(CustomerField::Website),
             exchange::compactTitle(exchange::fieldTitle(CustomerField::Website))}};
}

} // namespace

void exportCustomerList(DataGrid *grid, QWidget *parent)
{
    using exchange::ExportFormat;
    QString filter;
    SaveFileRequest request;
    request.filter = exchange::exportFilters();
    request.selectedFilter = exchange::formatFilter(ExportFormat::Xls);
    request.chosenFilter = &filter;
    QString path = dialogs().saveFileName(parent, request);
    if (path.isEmpty())
        return;
    const ExportFormat format = exchange::formatOfChoice(filter, path);
    // The suffix follows the chosen format when the operator typed none.
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + exchange::formatSuffix(format);

    const db::DataSet *ds = grid->dataSet();
    if (!ds || !ds->active())
        return;
    const db::ListColumns columns = shownColumns(*grid, unshownTitles());
    const db::DataSetRows rows(*ds);
    QStringList names;
    for (int k = 0; k < ds->fieldCount(); ++k)
        names.append(ds->field(k).fieldName());
    const exchange::ListSheet sheet{kTitle, QString(), QString(), kAuthor, columns, rows, names};
    exchange::exportListFile(sheet, format, path, parent);
}

} // namespace lianbu::customers
