#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace lianbu::gbk {

// Unicode to code page 936 bytes. Characters GBK cannot hold become "?". Never fails.
QByteArray encode(const QString &text);
// True when every character of the text survives the trip to GBK and back (nothing becomes "?").
bool canEncode(const QString &text);
// Code page 936 bytes to Unicode. Invalid sequences become U+FFFD. Never fails.
QString decode(const QByteArray &bytes);
// Appends the GBK bytes of the text to `out` (as encode() would give them) and clears
// `*lossless` when a character does not survive the trip (as canEncode() would say); one pass,
// from a per-character table, for the many short texts of an export.
void appendEncoded(QStringView text, QByteArray *out, bool *lossless);
// True when byte b starts a double-byte character of GBK (0x81..0xFE).
bool isLeadByte(unsigned char b);

} // namespace lianbu::gbk
