#include "printing/PdfOutput.h"

#include "platform/AtomicFile.h"
#include "platform/Error.h"
#include "printing/PdfTextMaps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>

#include <algorithm>

namespace lianbu::printing {

QPageLayout pdfPageLayout(const PrinterMetrics &metrics)
{
    auto points = [](int pixels, int dpi) { return double(pixels) / dpi * 72.0; };
    const QSizeF paper(points(metrics.paperWidth(), metrics.dpiX), points(metrics.paperHeight(), metrics.dpiY));
    const double x = points(metrics.offsetX, metrics.dpiX);
    const double y = points(metrics.offsetY, metrics.dpiY);
    // Sizes are named upright; a sheet wider than tall is that size turned.
    const bool landscape = paper.width() > paper.height();
    const QSizeF upright = landscape ? paper.transposed() : paper;
    const QPageSize::PageSizeId id = QPageSize::id(upright, QPageSize::Point, QPageSize::FuzzyMatch);
    // A4 and Letter keep their names in the file; any other size is a custom one.
    const QPageSize size = id != QPageSize::Custom ? QPageSize(id) : QPageSize(upright, QPageSize::Point);
    // Margins are given as the sheet lies: left/right across its width.
    return QPageLayout(size, landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(x, y, x, y),
                       QPageLayout::Point);
}

QString pdfFileFilter()
{
    return QStringLiteral("PDF 文件 (*.pdf)");
}

bool pdfFileComplete(const QString &path)
{
    // The printer ignores failed writes: a full disk leaves a file cut short, or one with a gap.
    // A complete file ends with "startxref <offset> %%EOF", and its cross-reference table lies at
    // that offset; a lost piece anywhere before it moves the table away from where it is said to be.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    const qint64 tailStart = std::max<qint64>(0, size - 1024);
    if (!file.seek(tailStart))
        return false;
    const QByteArray tail = file.read(size - tailStart);
    const qsizetype marker = tail.lastIndexOf("startxref");
    if (marker < 0 || !tail.trimmed().endsWith("%%EOF"))
        return false;
    bool ok = false;
    const qint64 offset = tail.mid(marker + 9).trimmed().split('\n').value(0).trimmed().toLongLong(&ok);
    if (!ok || offset <= 0 || offset >= tailStart + marker || !file.seek(offset))
        return false;
    return file.read(4) == "xref";
}

int writePdf(const QString &path, const PrinterMetrics &metrics, const std::function<int(QPrinter &)> &paint)
{
    const QFileInfo target(path);
    const QString temporary = temporaryNameBeside(path);
    int pages = 0;
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(temporary);
        printer.setPageLayout(pdfPageLayout(metrics));
        printer.setCreator(QStringLiteral("联簿宝"));
        printer.setDocName(target.completeBaseName());
        pages = paint(printer);
    } // the printer finishes the file when it goes
    if (pages <= 0 || !QFileInfo::exists(temporary)) {
        QFile::remove(temporary);
        throw Error(QStringLiteral("无法写入文件“%1”。").arg(QDir::toNativeSeparators(path)));
    }
    // Text copied or searched in the file gives the characters printed, not look-alike radicals.
    if (!mendTextMapsOfFile(temporary) || !pdfFileComplete(temporary)) {
        QFile::remove(temporary);
        throw Error(QStringLiteral("无法写入文件“%1”：文件没有写完整，磁盘可能已满。原来的文件没有改变。")
                        .arg(QDir::toNativeSeparators(path)));
    }
    int error = 0;
    if (!placeWrittenFile(temporary, path, &error))
        throw Error(fileWriteFailureText(path, error));
    return pages;
}

} // namespace lianbu::printing

#include "platform/BusyCursor.h"
#include "platform/Dialogs.h"
#include "printing/PageStore.h"

namespace lianbu::printing {

QString noPrinterQuestion()
{
    return QStringLiteral("没有安装打印机，无法打印。是否把这些页保存为PDF文件？");
}

bool savePagesAsPdf(const PageStore &store, QWidget *parent)
{
    if (store.printing() || store.pageCount() == 0)
        return false;
    SaveFileRequest request;
    request.caption = QStringLiteral("保存为PDF");
    request.filter = pdfFileFilter();
    request.defaultSuffix = QStringLiteral("pdf");
    request.fileName = store.title().isEmpty() ? QString() : store.title() + QStringLiteral(".pdf");
    const QString path = dialogs().saveFileName(parent, request);
    if (path.isEmpty())
        return false;
    if (!mayOverwrite(path, parent))
        return false;
    try {
        const BusyCursor busy;
        writePdf(path, store.metrics(),
                 [&](QPrinter &printer) { return store.printPages(&printer, 1, store.pageCount()); });
    } catch (const Error &error) {
        showError(error.message(), parent);
        return false;
    }
    return true;
}

} // namespace lianbu::printing
