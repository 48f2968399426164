#pragma once

// Text on printed pages: lines measured with their Chinese fallback face, text laid out and drawn
// in a cell, rich texts sized for the page's device, placeholders replaced.

#include <QList>
#include <QPair>
#include <QRectF>
#include <QString>
#include <Qt>

class QFont;
class QPainter;
class QTextDocument;

namespace lianbu::printing {

// The height of one text line in `font`, Chinese included: the print faces are Latin faces and
// the Chinese characters come from a fallback face with taller lines, so "Wg" alone is too short.
double lineHeight(const QFont &font);

// Lays out (and, with a painter, draws) a text in a rectangle: lines split at '\n', wrapped at the
// width when `wrap`, breaking inside long words when a word alone is too wide. Returns the height.
// `advance`: the text's one-line width in `font` when the caller has it already (negative: not
// known); `measured`, when given, receives it if it was worked out here (else stays as it is).
double layoutText(QPainter *p, const QFont &font, const QString &text, const QRectF &rect, Qt::Alignment align,
                  bool wrap, double advance = -1, double *measured = nullptr);

// Converts every size of a document to pixels of a device with `dpi` dots per inch, so the
// document lays out the same on the page store's pictures as on the printer.
void toDevicePixels(QTextDocument *doc, int dpi);

// Replaces every occurrence of each placeholder (regardless of case) in the document, keeping
// the character formatting of the replaced text. Returns the number of replacements made.
int replaceInDocument(QTextDocument *document, const QList<QPair<QString, QString>> &replacements);

} // namespace lianbu::printing
