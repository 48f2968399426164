#include "customers/CustomerExport.h"

#include "customers/ShownList.h"
#include "data/ChangeLog.h"
#include "db/ListRoles.h"
#include "db/ListRows.h"
#include "export/CustomerFields.h"
#include "export/ListExport.h"
#include "grid/DataGrid.h"
#include "platform/Dialogs.h"

#include <QAbstractItemModel>
#include <QDir>
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

void exportCustomerList(DataGrid *grid, QWidget *parent, const data::SessionOperator *by)
{
    using exchange::ExportFormat;
    if (!data::mayDo(by, data::Right::Export, parent))
        return;
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

    const QAbstractItemModel *model = grid->listModel();
    if (!model || model->columnCount() == 0)
        return;
    const db::ListColumns columns = shownColumns(*grid, unshownTitles());
    const std::unique_ptr<db::RowReader> rows = grid->rowReader();
    QStringList names;
    for (int k = 0; k < model->columnCount(); ++k)
        names.append(model->headerData(k, Qt::Horizontal, db::ListRole::FieldName).toString());
    const exchange::ListSheet sheet{kTitle, QString(), QString(), kAuthor, columns, *rows, names};
    if (exchange::exportListFile(sheet, format, path, parent) && by)
        by->log(data::LogKind::Exported, QDir::toNativeSeparators(path),
                {{QStringLiteral("记录数"), std::nullopt, QString::number(rows->rowCount())},
                 {QStringLiteral("格式"), std::nullopt, exchange::formatSuffix(format)}});
}

} // namespace lianbu::customers
