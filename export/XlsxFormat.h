#pragma once

// Office Open XML spreadsheets (.xlsx): written through libxlsxwriter, one row at a time so
// memory does not grow with the number of records; read with the program's own zip reader and
// Qt's XML reader (libxlsxwriter only writes).

#include "export/SheetData.h"

#include <QByteArray>
#include <QString>

namespace lianbu::exchange {

// The rows a sheet of this format can hold.
inline constexpr qint64 kXlsxMaxRows = 1048576;

// Writes the sheet to `path`, replacing the file only when the whole workbook is written.
// Every cell is text, so telephone numbers keep their leading zeros. `recordCount` sizes the
// progress and is checked against the row limit before anything is written.
// Throws lianbu::Error with a Chinese message on failure or cancel; the old file then stays.
void writeXlsx(const QString &path, const SheetLayout &layout, const RowSource &records, qint64 recordCount,
               const ProgressFunction &progress = {});

// The first worksheet's cells as text (numbers as written in the file). Throws lianbu::Error
// with a Chinese message when the bytes are no readable .xlsx file.
SheetData readXlsx(const QByteArray &bytes);

// The zero-based column of a cell reference ("B7" -> 1); -1 when it has no letters.
int columnOfReference(const QString &reference);
// Text of a cell value with the _xHHHH_ escapes of the format replaced by their characters.
QString unescapeXlsxText(const QString &text);

} // namespace lianbu::exchange
