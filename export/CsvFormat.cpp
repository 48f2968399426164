#include "export/CsvFormat.h"

#include "platform/Error.h"
#include "platform/Gbk.h"

#include <QIODevice>
#include <QStringDecoder>

#include <algorithm>

namespace lianbu::exchange {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF", 3);

bool validUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

bool validGbk(const QByteArray &bytes)
{
    return !gbk::decode(bytes).contains(QChar::ReplacementCharacter);
}

bool isAscii(const QByteArray &bytes)
{
    for (const char c : bytes)
        if (uchar(c) >= 0x80)
            return false;
    return true;
}

} // namespace

// ---- writing ---------------------------------------------------------------------------------

QString csvField(const QString &value)
{
    bool quote = value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('"'))
                 || value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'));
    // Spreadsheet programs trim unquoted blanks at the ends of a field.
    if (!quote && !value.isEmpty() && (value.front().isSpace() || value.back().isSpace()))
        quote = true;
    if (!quote)
        return value;
    QString out;
    out.reserve(value.size() + 2);
    out.append(QLatin1Char('"'));
    for (const QChar c : value) {
        if (c == QLatin1Char('"'))
            out.append(QLatin1Char('"'));
        out.append(c);
    }
    out.append(QLatin1Char('"'));
    return out;
}

namespace {

bool startsLikeFormula(QStringView value)
{
    if (value.isEmpty())
        return false;
    const QChar c = value.front();
    return c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('@')
           || c == QLatin1Char('\t') || c == QLatin1Char('\r');
}

bool plainNumber(QStringView value)
{
    qsizetype i = 0;
    if (i < value.size() && (value[i] == QLatin1Char('+') || value[i] == QLatin1Char('-')))
        ++i;
    bool digits = false;
    bool point = false;
    for (; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c >= '0' && c <= '9')
            digits = true;
        else if (c == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits;
}

// A value that would run as a formula, or that is such a value behind apostrophes: the writer
// marks these with one apostrophe more, so the reader can take exactly that one off.
bool needsMark(QStringView value)
{
    qsizetype i = 0;
    while (i < value.size() && value[i] == QLatin1Char('\''))
        ++i;
    const QStringView rest = value.mid(i);
    return startsLikeFormula(rest) && !plainNumber(rest);
}

} // namespace

QString formulaSafe(const QString &value)
{
    return needsMark(value) ? QLatin1Char('\'') + value : value;
}

CsvWriter::CsvWriter(QIODevice *device, TextEncoding encoding)
    : m_device(device)
    , m_encoding(encoding)
{}

void CsvWriter::writeRow(const QStringList &cells)
{
    QString line;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            line.append(QLatin1Char(','));
        line.append(csvField(formulaSafe(cells.at(i))));
    }
    line.append(QLatin1String("\r\n"));

    QByteArray bytes;
    if (!m_started && m_encoding == TextEncoding::Utf8)
        bytes = kUtf8Bom;
    m_started = true;
    if (m_encoding == TextEncoding::Utf8) {
        bytes.append(line.toUtf8());
    } else {
        const QByteArray encoded = gbk::encode(line);
        // gbk::encode writes '?' for what it cannot hold: count those that were not '?' before.
        m_lost += int(encoded.count('?') - line.count(QLatin1Char('?')));
        bytes.append(encoded);
    }
    if (m_device->write(bytes) != bytes.size())
        throw Error(QStringLiteral("写入文件失败：%1").arg(m_device->errorString()));
}

// ---- reading ---------------------------------------------------------------------------------

TextEncoding detectEncoding(const QByteArray &bytes, bool *certain)
{
    if (bytes.startsWith(kUtf8Bom)) {
        if (certain)
            *certain = true;
        return TextEncoding::Utf8;
    }
    const bool utf8 = validUtf8(bytes);
    if (certain) {
        // Short Chinese texts are often valid in both; GBK text that happens to be valid UTF-8
        // for several characters on end is rare, so a few characters settle it.
        int sequences = 0;
        for (const char c : bytes)
            sequences += (uchar(c) & 0xC0) == 0xC0 ? 1 : 0;
        if (isAscii(bytes))
            *certain = false;
        else if (utf8)
            *certain = !validGbk(bytes) || sequences >= 3;
        else
            *certain = validGbk(bytes);
    }
    return utf8 ? TextEncoding::Utf8 : TextEncoding::Gbk;
}

QString decodeText(const QByteArray &bytes, TextEncoding encoding)
{
    if (encoding == TextEncoding::Gbk)
        return gbk::decode(bytes);
    const QByteArray body = bytes.startsWith(kUtf8Bom) ? bytes.mid(3) : bytes;
    return QString::fromUtf8(body);
}

SheetData parseCsv(const QString &text, ReadBudget *budget)
{
    SheetData sheet;
    const qsizetype n = text.size();
    qsizetype i = 0;
    int line = 1;
    while (i < n) {
        const int startLine = line;
        const qsizetype recordStart = i;
        QStringList cells;
        QString field;
        bool bad = false;
        bool endOfRecord = false;
        while (!endOfRecord) {
            field.clear();
            if (i < n && text.at(i) == QLatin1Char('"')) {
                ++i;
                bool closed = false;
                while (i < n) {
                    const QChar c = text.at(i);
                    if (c == QLatin1Char('"')) {
                        if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                            field.append(c);
                            i += 2;
                            continue;
                        }
                        ++i;
                        closed = true;
                        break;
                    }
                    if (c == QLatin1Char('\n'))
                        ++line;
                    field.append(c);
                    ++i;
                }
                if (!closed) {
                    // Nothing closes the quote: the record cannot be told apart from the rest
                    // of the file. Go on after its first line.
                    const qsizetype next = text.indexOf(QLatin1Char('\n'), recordStart);
                    i = next < 0 ? n : next + 1;
                    line = startLine + 1;
                    bad = true;
                    break;
                }
                if (i < n && text.at(i) != QLatin1Char(',') && text.at(i) != QLatin1Char('\r')
                    && text.at(i) != QLatin1Char('\n')) {
                    bad = true;
                }
            }
            while (i < n && text.at(i) != QLatin1Char(',') && text.at(i) != QLatin1Char('\r')
                   && text.at(i) != QLatin1Char('\n')) {
                if (text.at(i) == QLatin1Char('"'))
                    bad = true; // a quote in the middle of an unquoted field
                field.append(text.at(i));
                ++i;
            }
            if (budget)
                budget->addCell(startLine, int(cells.size()), field.size());
            // What formulaSafe protected comes back as it was.
            if (field.size() > 1 && field.front() == QLatin1Char('\'') && needsMark(QStringView(field).mid(1)))
                field.remove(0, 1);
            cells.append(field);
            if (i >= n) {
                endOfRecord = true;
            } else if (text.at(i) == QLatin1Char(',')) {
                ++i;
            } else {
                if (text.at(i) == QLatin1Char('\r'))
                    ++i;
                if (i < n && text.at(i) == QLatin1Char('\n'))
                    ++i;
                ++line;
                endOfRecord = true;
            }
        }
        if (budget)
            budget->checkLine(startLine, i - recordStart);
        if (bad) {
            sheet.unreadableLines.push_back(startLine);
            continue;
        }
        if (cells.size() == 1 && cells.front().isEmpty())
            continue; // an empty line
        sheet.rows.push_back({startLine, cells});
    }
    return sheet;
}

SheetData parseCsv(const QByteArray &bytes, TextEncoding encoding, ReadBudget *budget)
{
    if (budget)
        budget->checkFileSize(bytes.size());
    SheetData sheet = parseCsv(decodeText(bytes, encoding), budget);
    if (encoding == TextEncoding::Gbk) {
        // Bytes that are no GBK came out as U+FFFD, which GBK itself never produces.
        std::vector<SheetRow> kept;
        kept.reserve(sheet.rows.size());
        for (SheetRow &row : sheet.rows) {
            bool broken = false;
            for (const QString &cell : row.cells)
                broken = broken || cell.contains(QChar::ReplacementCharacter);
            if (broken)
                sheet.unreadableLines.push_back(row.line);
            else
                kept.push_back(std::move(row));
        }
        sheet.rows = std::move(kept);
        std::sort(sheet.unreadableLines.begin(), sheet.unreadableLines.end());
    }
    return sheet;
}

} // namespace lianbu::exchange
