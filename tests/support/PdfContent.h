#pragma once

// What a PDF file shows, read through poppler's tools as a person would look at it: the words
// of each page with where they stand (pdftotext -bbox) and where anything is drawn on a page
// rendered to pixels (pdftoppm).

#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

namespace lianbu::test {

struct PdfWord
{
    QString text;
    QRectF box; // in points from the page's top-left corner
};

struct PdfPage
{
    QSizeF size; // in points
    QList<PdfWord> words;
    QStringList texts() const;
    // The first word equal to `text`, or nullptr.
    const PdfWord *find(const QString &text) const;
};

// The pages of the file; empty when it cannot be read (the reason is printed as a warning).
QList<PdfPage> readPdf(const QString &path);

// The rectangle (in points) holding every pixel that is not white when page `page` (1-based) is
// rendered at `dpi`; empty when the page is blank or cannot be rendered.
QRectF inkBox(const QString &path, int page, int dpi = 36);

} // namespace lianbu::test
