#include "customers/CustomerExport.h"

#include "db/DataSet.h"
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

// What the sheet shows, from the grid: visible columns in order, then the fields no column
// shows that have a title.
exchange::ListExport listOf(DataGrid *grid)
{
    exchange::ListExport list;
    list.layout.titleName = kTitle;
    list.layout.userName = kAuthor;
    list.layout.madeAt = dateTimeText(now());
    const bool footer = grid->footerRowCount() > 0;
    for (const GridColumn *column : grid->visibleColumns()) {
        const QStringList levels = column->title()->caption().split(QLatin1Char('|'));
        list.layout.titleCells.emplace_back(levels.begin(), levels.end());
        list.layout.columnWidths.push_back(column->width());
        list.layout.footers.push_back(footer ? column->footer()->value() : QString());
        list.fieldNames.push_back(column->fieldName());
    }
    const db::DataSet *ds = grid->dataSet();
    const QHash<QString, QString> extra = unshownTitles();
    for (auto it = extra.cbegin(); it != extra.cend(); ++it) {
        if (!ds->findField(it.key()) || grid->columns()->findByFieldName(it.key()))
            continue;
        list.layout.titleCells.push_back({it.value()});
        list.layout.columnWidths.push_back(0);
        list.layout.footers.push_back(QString());
        list.fieldNames.push_back(it.key());
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
        auto writer = std::make_unique<XlsExporter>(nullptr);
        writer->setTitleName(kTitle);
        writer->setBeginDate(QString());
        writer->setEndDate(QString());
        writer->setUserName(kAuthor);
        writer->setGrid(grid);
        writer->setShowProgress(true);
        writer->setExtraFieldTitles(unshownTitles());
        writer->setFileName(path);
        writer->ExportToExcel();
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
            outcome = exchange::exportList(*ds, listOf(grid), format, path, [&](int permille) {
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
