#include "customers/CustomerExport.h"

#include "customers/ShownList.h"
#include "db/DataSet.h"
#include "db/ListRows.h"
#include "export/CustomerFields.h"
#include "export/XlsExporter.h"
#include "export/ExportProgressWindow.h"
#include "export/ListExport.h"
#include "grid/DataGrid.h"
#include "platform/BusyCursor.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/Shell.h"

#include <QApplication>
#include <QFileInfo>

#include <memory>

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

// What the sheet shows: the shown columns in order, then the fields no column shows that have
// a title.
exchange::ListExport listOf(const db::ListColumns &columns)
{
    exchange::ListExport list;
    list.layout.titleName = kTitle;
    list.layout.userName = kAuthor;
    list.layout.madeAt = dateTimeText(now());
    const bool footer = columns.footerRows > 0;
    for (const db::ListColumn &column : columns.columns) {
        const QStringList levels = db::titleLevels(column.title);
        if (column.shown)
            list.layout.titleCells.emplace_back(levels.begin(), levels.end());
        else
            list.layout.titleCells.push_back({column.title});
        list.layout.columnWidths.push_back(column.shown ? column.width : 0);
        list.layout.footers.push_back(footer && column.shown && !column.footers.empty() ? column.footers.front().text
                                                                                        : QString());
        list.fieldNames.push_back(column.fieldName);
    }
    if (!footer)
        list.layout.footers.clear();
    return list;
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

    if (format == ExportFormat::Xls) {
        // A new writer for every export; freed however the export ends. It asks before
        // overwriting, so the dialog does not.
        const db::DataSet *ds = grid->dataSet();
        if (!ds || !ds->active())
            return;
        const db::ListColumns columns = shownColumns(*grid, unshownTitles());
        const db::DataSetRows rows(*ds);
        auto writer = std::make_unique<XlsExporter>(nullptr);
        writer->setTitleName(kTitle);
        writer->setBeginDate(QString());
        writer->setEndDate(QString());
        writer->setUserName(kAuthor);
        writer->setList(&columns, &rows);
        writer->setShowProgress(true);
        writer->setFileName(path);
        writer->exportFile();
        return;
    }

    const db::DataSet *ds = grid->dataSet();
    if (!ds || !ds->active() || ds->isEmpty())
        return;
    if (!mayOverwrite(path, parent))
        return;

    exchange::ExportOutcome outcome;
    {
        BusyCursor busy;
        const int count = ds->recordCount();
        exchange::ExportProgressWindow progress(count, nullptr);
        try {
            outcome = exchange::exportList(*ds, listOf(shownColumns(*grid, unshownTitles())), format, path,
                                           [&](int permille) {
                                               progress.setValue(int(qint64(count) * permille / 1000));
                                               return true;
                                           });
        } catch (const Error &error) {
            progress.hide();
            showError(error.message(), parent);
            return;
        }
    }
    if (outcome.lostCharacters > 0)
        showInformation(QStringLiteral("有 %1 个字符无法用 GBK 编码保存，已写成“?”。需要保留全部文字时，"
                                       "请导出为 UTF-8 的 CSV 文件或 .xlsx 文件。")
                            .arg(outcome.lostCharacters),
                        parent);
    openFile(path);
}

} // namespace lianbu::customers
