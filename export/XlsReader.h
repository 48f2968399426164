#pragma once

// Reads .xls files: the bare record streams that this program and the legacy program write
// (BOF, LABEL, NUMBER, RK, BLANK, EOF and, since our files carry it, CODEPAGE; the number
// formats of other programs' streams, FORMAT, XF and DATEMODE, so date cells read as dates), and Excel's own
// BIFF8 workbooks inside a compound document, which FreeXL reads.

#include "export/ReadLimits.h"
#include "export/SheetData.h"

#include <QByteArray>
#include <QString>

namespace lianbu::exchange {

// The first worksheet's cells as text, date cells as yyyy-MM-dd. Throws lianbu::Error with a
// Chinese message when the file is neither kind, is damaged or passes the budget's limits (a
// workbook's sheet sizes are checked before FreeXL, which sets aside room for every cell a
// sheet claims, ever sees the file).
SheetData readXls(const QString &path, ReadBudget *budget = nullptr);
// The bare record stream only (what readXls does for such files).
SheetData readBiffStream(const QByteArray &bytes, ReadBudget *budget = nullptr);
// The workbook stream ("Workbook", else "Book") of a compound document; empty when there is
// none or the container is damaged.
QByteArray compoundWorkbookStream(const QByteArray &file);

// The number an RK value holds, and its text as a person would write the number.
double rkValue(quint32 rk);
QString rkText(quint32 rk);

} // namespace lianbu::exchange
