#pragma once

// Comma-separated values as Excel and LibreOffice write and read them: fields quoted with '"'
// when they hold a comma, a quote, a line break or leading/trailing blanks, quotes doubled,
// records ended by CR LF. UTF-8 files start with a byte order mark, which makes Excel read them
// as UTF-8 in any locale; GBK files are for older tools that expect the Chinese code page.

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

// The encoding of a CSV file's bytes: UTF-8 when they start with its byte order mark or are
// valid UTF-8 throughout, GBK otherwise. `certain` is false when the bytes are plain ASCII or
// both readings are possible, so the operator should confirm.
TextEncoding detectEncoding(const QByteArray &bytes, bool *certain = nullptr);

// Splits the text into records. A quoted field may span lines. A record whose quotes do not
// close, or that has text after a closing quote, is listed as unreadable by its first line and
// reading goes on at the next line. Empty lines are skipped.
SheetData parseCsv(const QString &text);
// Decodes (without the byte order mark) and parses.
SheetData parseCsv(const QByteArray &bytes, TextEncoding encoding);
QString decodeText(const QByteArray &bytes, TextEncoding encoding);

} // namespace lianbu::exchange
