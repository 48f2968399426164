// Renders the print preview, its pages and the settings dialog to PNG files for a person to look
// at (not a test):  QT_QPA_PLATFORM=offscreen build/.../tests/printing/lianbu-print-screenshots OUTDIR
#include "tests/support/MainWindowHarness.h"

#include "data/dm.h"
#include "db/Query.h"
#include "grid/DBGridEh.h"
#include "printing/PrnDbgeh.h"
#include "printing/PrnDgDlg.h"
#include "printing/PrvFrmEh.h"
#include "ui_MAIN.h"
#include "ui_PrnDgDlg.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>

using namespace lianbu::test;

namespace {

void savePage(TPrinterPreview *store, int index, const QString &path, double scale = 0.25)
{
    const auto &m = store->Metrics();
    QImage img(QSize(int(m.paperWidth() * scale), int(m.paperHeight() * scale)), QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(scale, scale);
    p.translate(m.offsetX, m.offsetY);
    store->DrawPage(&p, index);
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
        row[13] = i % 9 == 0 ? QStringLiteral("老客户，按时付款。每年年底对账一次，联系人经常出差，请先发邮件再打电话确认。")
                             : QString();
        rows << row;
    }
    h.insertCustomers(rows);
    h.form->Button12Click();
    h.form->ToolButton22Click();
    TPreviewFormEh *preview = TPreviewFormEh::existingInstance();
    if (!preview)
        return 1;
    preview->resize(1280, 900);
    QApplication::processEvents();
    preview->grab().save(out + QStringLiteral("/preview-full.png"));
    preview->PreviewBox()->setZoomMode(TZoomModeEh::PageWidth);
    QApplication::processEvents();
    preview->grab().save(out + QStringLiteral("/preview-width.png"));
    preview->setToolbarLook(TToolbarLookEh::IconsOnly);
    QApplication::processEvents();
    preview->grab().save(out + QStringLiteral("/preview-iconsonly.png"));
    preview->setToolbarLook(TToolbarLookEh::IconsAndCaptions);
    for (int i = 0; i < preview->Store()->PageCount(); ++i)
        savePage(preview->Store(), i, out + QStringLiteral("/page-%1.png").arg(i + 1));
    // a detail at full printer resolution / 2
    savePage(preview->Store(), 0, out + QStringLiteral("/page-1-large.png"), 0.5);
    QImage(out + QStringLiteral("/page-1-large.png")).copy(150, 150, 1400, 900).save(out + QStringLiteral("/page-1-detail.png"));

    // a short list, and the same list with fitting off (column blocks)
    TPrintDBGridEh *printer = h.form->findChild<TPrintDBGridEh *>(QStringLiteral("PrintDBGridEh1"));
    h.data->ADOQuery15->close();
    h.data->ADOQuery15->setSql(QStringLiteral("select * from data where a='VIP客户'"));
    h.data->ADOQuery15->open();
    h.form->ToolButton22Click();
    savePage(preview->Store(), 0, out + QStringLiteral("/short-1.png"));
    const auto options = printer->Options;
    printer->Options = TPrintGridOptionsEh(pghColored) | pghRowAutoStretch;
    printer->ShowPrintPreview();
    for (int i = 0; i < std::min(3, preview->Store()->PageCount()); ++i)
        savePage(preview->Store(), i, out + QStringLiteral("/blocks-%1.png").arg(i + 1));
    printer->Options = options;

    auto *dialog = TfPrnDBGridEhSetupDialog::instance();
    dialog->SetupFrom(h.form->findChild<TPrintDBGridEh *>(QStringLiteral("PrintDBGridEh1")));
    dialog->show();
    QApplication::processEvents();
    dialog->grab().save(out + QStringLiteral("/settings-dialog.png"));
    dialog->hide();
    return 0;
}
