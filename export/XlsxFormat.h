#pragma once

// Office Open XML spreadsheets (.xlsx): written through libxlsxwriter, one row at a time so
// memory does not grow with the number of records; read with the program's own zip reader and
// Qt's XML reader (libxlsxwriter only writes).

#include "export/ReadLimits.h"
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

// The first worksheet's cells as text (numbers as written in the file, cells formatted as
// dates as yyyy-MM-dd). Throws lianbu::Error with a Chinese message when the bytes are no
// readable .xlsx file or pass the budget's limits.
SheetData readXlsx(const QByteArray &bytes, ReadBudget *budget = nullptr);

// Whether a number format shows a date (built-in format id, or the format's code).
bool isDateFormat(int formatId, const QString &formatCode);
// The text of a date serial number as the cell shows it: yyyy-MM-dd, with " HH:mm:ss" when
// the format shows a time of day and the value has one; empty when it is no valid date.
QString serialDateText(double serial, bool date1904, bool withTime);

// The zero-based column of a cell reference ("B7" -> 1); -1 when it has no letters.
int columnOfReference(const QString &reference);
// Text of a cell value with the _xHHHH_ escapes of the format replaced by their characters.
QString unescapeXlsxText(const QString &text);

} // namespace lianbu::exchange
