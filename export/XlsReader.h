#pragma once

// Reads .xls files: the bare record streams that this program and the legacy program write
// (BOF, LABEL, NUMBER, RK, BLANK, EOF and, since our files carry it, CODEPAGE), and Excel's own
// BIFF8 workbooks inside a compound document, which FreeXL reads.

#include "export/SheetData.h"

#include <QByteArray>
#include <QString>

namespace lianbu::exchange {

// The first worksheet's cells as text. Throws lianbu::Error with a Chinese message when the
// file is neither kind or is damaged.
SheetData readXls(const QString &path);
// The bare record stream only (what readXls does for such files).
SheetData readBiffStream(const QByteArray &bytes);

// The text of an RK value as a person would write the number.
QString rkText(quint32 rk);

} // namespace lianbu::exchange
