#pragma once

// The BIFF records the .xls export writes, as bytes: a bare stream of BOF, CODEPAGE, cell
// records and EOF, which spreadsheet programs read as one worksheet.

#include <QByteArray>
#include <QString>
#include <QStringView>

// The six BIFF records as bytes (little-endian; rows and columns zero-based; cell format 0).
namespace lianbu::xls {

constexpr int kMaxRow = 0xFFFF;            // the last addressable row
constexpr int kMaxColumn = 0xFFFF;         // the last addressable column
constexpr int kMaxLabelBytes = 0xFFFF - 8; // a LABEL's text fits its record length
// The integers the RK record holds exactly (30 bits, signed).
constexpr qint64 kMinRkInteger = -536870912;
constexpr qint64 kMaxRkInteger = 536870911;

QByteArray bofRecord();
QByteArray eofRecord();
// CODEPAGE 936 (42 00 02 00 A8 03): the code page of the LABEL texts. Readers in a Chinese
// locale assume it anyway; readers anywhere else need it to read the text as GBK.
QByteArray codepageRecord();
// `text` is the cell's GBK bytes; at most kMaxLabelBytes.
QByteArray labelRecord(int row, int column, const QByteArray &text);
QByteArray numberRecord(int row, int column, double value);
// `value` within kMinRkInteger .. kMaxRkInteger.
QByteArray rkRecord(int row, int column, qint32 value);
QByteArray blankRecord(int row, int column);

// GBK bytes of `text`, cut to at most `maxBytes` without splitting a double-byte character.
QByteArray labelText(const QString &text, int maxBytes = kMaxLabelBytes);

// blankRecord, rkRecord and numberRecord appended to `out` (the cells of a long export).
void appendBlankRecord(QByteArray *out, int row, int column);
void appendRkRecord(QByteArray *out, int row, int column, qint32 value);
void appendNumberRecord(QByteArray *out, int row, int column, double value);

// labelRecord(row, column, labelText(text)) appended to `out` in one pass (the cells of a long
// export); clears `*lossless` when a character of the text has no GBK form.
void appendLabelRecord(QByteArray *out, int row, int column, QStringView text, bool *lossless);

} // namespace lianbu::xls
