// Renders the print preview, its pages and the settings dialog to PNG files for a person to look
// at (not a test):  QT_QPA_PLATFORM=offscreen build/dev/tools/lianbu-print-screenshots OUTDIR
#include "tests/support/FormWidgets.h"
#include "tests/support/MainWindowHarness.h"

#include "data/Database.h"
#include "db/Query.h"
#include "grid/DataGrid.h"
#include "printing/GridReport.h"
#include "printing/PrintSettingsDialog.h"
#include "printing/PrintPreviewWindow.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>

using namespace lianbu::test;

namespace {

void savePage(PageStore *store, int index, const QString &path, double scale = 0.25)
{
    const auto &m = store->metrics();
    QImage img(QSize(int(m.paperWidth() * scale), int(m.paperHeight() * scale)), QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(scale, scale);
    p.translate(m.offsetX, m.offsetY);
    store->drawPage(&p, index);
    p.end();
    img.save(path);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    QDir().mkpath(out);
    MainWindowHarness h;
    QList<CustomerRow> rows;
    const QStringList categories{QStringLiteral("VIP客户"), QStringLiteral("普通"), QStringLiteral("代理商"),
                                 QStringLiteral("供应商")};
    const QStringList names{QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("王五"),
                            QStringLiteral("赵六"), QStringLiteral("Smith")};
    for (int i = 0; i < 70; ++i) {
        CustomerRow row = customer(categories[i % categories.size()], QStringLiteral("客户%1").arg(i + 1),
                                   QStringLiteral("0571-8%1").arg(1000 + i * 7), names[i % names.size()]);
        row[13] = i % 9 == 0
                      ? QStringLiteral("老客户，按时付款。每年年底对账一次，联系人经常出差，请先发邮件再打电话确认。")
                      : QString();
        rows << row;
    }
    h.insertCustomers(rows);
    h.form->showAllRecords();
    h.form->printCustomerList();
    PrintPreviewWindow *preview = nullptr;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *found = qobject_cast<PrintPreviewWindow *>(window))
            preview = found;
    if (!preview)
        return 1;
    preview->resize(1280, 900);
    QApplication::processEvents();
    preview->grab().save(out + QStringLiteral("/preview-full.png"));
    preview->previewBox()->setZoomMode(ZoomMode::PageWidth);
    QApplication::processEvents();
    preview->grab().save(out + QStringLiteral("/preview-width.png"));
    preview->setToolbarLook(ToolbarLook::IconsOnly);
    QApplication::processEvents();
    preview->grab().save(out + QStringLiteral("/preview-iconsonly.png"));
    preview->setToolbarLook(ToolbarLook::IconsAndCaptions);
    for (int i = 0; i < preview->store()->pageCount(); ++i)
        savePage(preview->store(), i, out + QStringLiteral("/page-%1.png").arg(i + 1));
    // a detail at full printer resolution / 2
    savePage(preview->store(), 0, out + QStringLiteral("/page-1-large.png"), 0.5);
    QImage(out + QStringLiteral("/page-1-large.png"))
        .copy(150, 150, 1400, 900)
        .save(out + QStringLiteral("/page-1-detail.png"));

    // a short list, and the same list with fitting off (column blocks)
    GridReport *printer = h.form->findChild<GridReport *>(QStringLiteral("customerReport"));
    h.data->customerList->showStatement(QStringLiteral("select * from data where a='VIP客户'"));
    h.form->printCustomerList();
    savePage(preview->store(), 0, out + QStringLiteral("/short-1.png"));
    const auto options = printer->options;
    printer->options = PrintOptions(PrintOption::Coloured) | PrintOption::RowAutoStretch;
    h.form->printCustomerList();
    for (int i = 0; i < std::min(3, preview->store()->pageCount()); ++i)
        savePage(preview->store(), i, out + QStringLiteral("/blocks-%1.png").arg(i + 1));
    printer->options = options;

    PrintSettingsDialog dialog;
    PageStore *store = preview->store();
    dialog.setupFrom(*printer, store->printerInstalled() ? store->printer() : nullptr);
    dialog.show();
    QApplication::processEvents();
    dialog.grab().save(out + QStringLiteral("/settings-dialog.png"));
    dialog.hide();
    return 0;
}
