#pragma once

// Comma-separated values as Excel and LibreOffice write and read them: fields quoted with '"'
// when they hold a comma, a quote, a line break or leading/trailing blanks, quotes doubled,
// records ended by CR LF. UTF-8 files start with a byte order mark, which makes Excel read them
// as UTF-8 in any locale; GBK files are for older tools that expect the Chinese code page.

#include "export/ReadLimits.h"
#include "export/SheetData.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class QIODevice;

namespace lianbu::exchange {

enum class TextEncoding { Utf8, Gbk };

class CsvWriter
{
public:
    CsvWriter(QIODevice *device, TextEncoding encoding);
    // Writes one record. Throws lianbu::Error when the device refuses the bytes.
    void writeRow(const QStringList &cells);
    // Characters the encoding could not hold so far (GBK only); they went out as '?'.
    int lostCharacters() const { return m_lost; }

private:
    QIODevice *m_device;
    TextEncoding m_encoding;
    bool m_started = false;
    int m_lost = 0;
};

// One field, quoted when it must be.
QString csvField(const QString &value);
// A value a spreadsheet would run as a formula (starting with = + - @, a tab or a carriage
// return) gets a leading apostrophe; a plain number such as -12.5 or +8613900001111 stays as it
// is, since the spreadsheet reads it as the number it is. The reader takes the apostrophe off
// again (a value that itself starts with apostrophes before such a character gets one more), so
// the program reads back exactly what it wrote.
QString formulaSafe(const QString &value);

// The encoding of a CSV file's bytes: UTF-8 when they start with its byte order mark or are
// valid UTF-8 throughout, GBK otherwise. `certain` is false when the bytes are plain ASCII or
// both readings are possible, so the operator should confirm.
TextEncoding detectEncoding(const QByteArray &bytes, bool *certain = nullptr);

// Splits the text into records. A quoted field may span lines. A record whose quotes do not
// close, or that has text after a closing quote, is listed as unreadable by its first line and
// reading goes on at the next line. Empty lines are skipped. With a budget, the lines, columns,
// cells and memory are held to its limits while reading.
SheetData parseCsv(const QString &text, ReadBudget *budget = nullptr);
// Decodes (without the byte order mark) and parses.
SheetData parseCsv(const QByteArray &bytes, TextEncoding encoding, ReadBudget *budget = nullptr);
QString decodeText(const QByteArray &bytes, TextEncoding encoding);

} // namespace lianbu::exchange
