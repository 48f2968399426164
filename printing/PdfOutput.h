#pragma once

// Pages of the print preview as a PDF file, through Qt's PDF printer: the same vector drawing
// that goes to a printer, so text stays text (with its fonts embedded) at any zoom.

#include "printing/PrintLayout.h"

#include <QPageLayout>
#include <QString>

#include <functional>

class QPrinter;

namespace lianbu::printing {

// The paper and unprintable border the pages were laid out for, as a PDF page.
QPageLayout pdfPageLayout(const PrinterMetrics &metrics);

// Makes a PDF printer with that page, lets `paint` print the pages on it (returning how many)
// and puts the file at `path`, replacing an existing one only when the new file is complete.
// Throws lianbu::Error (Chinese message) when nothing could be written.
int writePdf(const QString &path, const PrinterMetrics &metrics, const std::function<int(QPrinter &)> &paint);

// Whether the PDF file at `path` was written to its end with nothing missing.
bool pdfFileComplete(const QString &path);

// The save dialog's filter.
QString pdfFileFilter();

} // namespace lianbu::printing

class QWidget;
class PageStore;

namespace lianbu::printing {

// "保存为PDF…": asks for the file (through the dialog service), writes every page of the store
// and opens nothing. Errors are shown; true when the file was written.
bool savePagesAsPdf(const PageStore &store, QWidget *parent);
// What 打印 says when no printer is installed; Yes saves the pages as PDF instead.
QString noPrinterQuestion();

} // namespace lianbu::printing
