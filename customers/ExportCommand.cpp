#include "app/MainWindow.h"
#include "export/DBGridEhToExcel.h"
#include "platform/Dialogs.h"
#include "ui_MainWindow.h"

#include <memory>

// "导 出": the customer list, as the grid shows it, into an .xls file the operator names.

void MainWindow::exportCustomerList()
{
    // A new writer for every export; freed however the export ends.
    auto writer = std::make_unique<TDBGridEhToExcel>(nullptr);
    writer->setTitleName(QStringLiteral("客户统计报表"));
    writer->setBeginDate(QString());
    writer->setEndDate(QString());
    writer->setUserName(QStringLiteral("联簿宝"));
    writer->setDBGridEh(ui->customerGrid);
    writer->setShowProgress(true);

    // The writer asks before overwriting, so the dialog does not.
    lianbu::SaveFileRequest request;
    request.filter = QStringLiteral("Microsoft Excel xls文件 (*.xls)");
    request.defaultSuffix = QStringLiteral("xls");
    const QString path = lianbu::dialogs().saveFileName(this, request);
    if (path.isEmpty())
        return;

    writer->setFileName(path);
    writer->ExportToExcel();
}
