#include "platform/Profile.h"

#include "platform/AtomicFile.h"
#include "platform/Gbk.h"

#include <QFile>
#include <QFileInfo>

#include <optional>
#include <vector>

namespace lianbu {

namespace {

enum class LineKind { Blank, Comment, Section, Key, Outside };

struct Line
{
    QByteArray raw; // the bytes of the line without its line end
    LineKind kind = LineKind::Blank;
    QString name;  // section or key name, trimmed
    QString value; // key value, trimmed
};

bool isBlank(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\r' || u == '\v' || u == '\f' || u == 0x1A;
}

// Only ASCII blanks: an ideographic space is part of the text, as it is for the ANSI functions.
QString trimBlanks(const QString &s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isBlank(s.at(begin)))
        ++begin;
    while (end > begin && isBlank(s.at(end - 1)))
        --end;
    return s.mid(begin, end - begin);
}

QString trimTrailingBlanks(const QString &s)
{
    qsizetype end = s.size();
    while (end > 0 && isBlank(s.at(end - 1)))
        --end;
    return s.left(end);
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

Line parseLine(const QByteArray &raw)
{
    Line line;
    line.raw = raw;
    const QString text = trimBlanks(gbk::decode(raw));
    if (text.isEmpty()) {
        line.kind = LineKind::Blank;
    } else if (text.front() == QLatin1Char(';')) {
        line.kind = LineKind::Comment;
    } else if (text.front() == QLatin1Char('[')) {
        const qsizetype close = text.lastIndexOf(QLatin1Char(']'));
        line.kind = LineKind::Section;
        line.name = trimBlanks(close > 0 ? text.mid(1, close - 1) : text.mid(1));
    } else {
        // A line without "=" is a key without a value, as the Windows functions take it.
        line.kind = LineKind::Key;
        const qsizetype eq = text.indexOf(QLatin1Char('='));
        if (eq < 0) {
            line.name = text;
        } else {
            line.name = trimBlanks(text.left(eq));
            line.value = trimBlanks(text.mid(eq + 1));
        }
    }
    return line;
}

struct Document
{
    std::vector<Line> lines;
};

// Reads file into doc. A missing file is an empty document; an existing file that cannot be
// read is a failure (it must never be replaced by a file holding only our key).
bool load(const QString &file, Document &doc)
{
    doc.lines.clear();
    QFile f(file);
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return false;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype nl = bytes.indexOf('\n', start);
        const qsizetype end = nl < 0 ? bytes.size() : nl;
        qsizetype contentEnd = end;
        if (contentEnd > start && bytes.at(contentEnd - 1) == '\r')
            --contentEnd;
        doc.lines.push_back(parseLine(bytes.mid(start, contentEnd - start)));
        start = nl < 0 ? bytes.size() : nl + 1;
    }
    // Mark key lines before the first section: they belong to no section.
    for (Line &line : doc.lines) {
        if (line.kind == LineKind::Section)
            break;
        if (line.kind == LineKind::Key)
            line.kind = LineKind::Outside;
    }
    return true;
}

bool save(const QString &file, const Document &doc)
{
    // Never create the folder: a missing folder is a failure, as with the Windows functions.
    if (!QFileInfo(QFileInfo(file).absolutePath()).isDir())
        return false;
    QByteArray bytes;
    for (const Line &line : doc.lines) {
        bytes.append(line.raw);
        bytes.append("\r\n");
    }
    return writeFileAtomically(file, bytes);
}

// index of the first line of every section named section, in file order.
std::vector<size_t> sectionStarts(const Document &doc, const QString &section)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i < doc.lines.size(); ++i)
        if (doc.lines[i].kind == LineKind::Section && sameName(doc.lines[i].name, section))
            starts.push_back(i);
    return starts;
}

// One past the last line of the section whose header is at start.
size_t sectionEnd(const Document &doc, size_t start)
{
    size_t i = start + 1;
    while (i < doc.lines.size() && doc.lines[i].kind != LineKind::Section)
        ++i;
    return i;
}

std::optional<size_t> findKey(const Document &doc, const QString &section, const QString &key)
{
    for (size_t start : sectionStarts(doc, section)) {
        const size_t end = sectionEnd(doc, start);
        for (size_t i = start + 1; i < end; ++i)
            if (doc.lines[i].kind == LineKind::Key && sameName(doc.lines[i].name, key))
                return i;
    }
    return std::nullopt;
}

bool hasLineBreak(const QString &s)
{
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

bool validSection(const QString &section)
{
    const QString name = trimBlanks(section);
    return !name.isEmpty() && !hasLineBreak(section) && !name.contains(QLatin1Char(']'));
}

bool validKey(const QString &key)
{
    const QString name = trimBlanks(key);
    return !name.isEmpty() && !hasLineBreak(key) && !name.contains(QLatin1Char('='))
           && !name.startsWith(QLatin1Char('[')) && !name.startsWith(QLatin1Char(';'));
}

Line makeLine(const QString &text)
{
    Line line = parseLine(gbk::encode(text));
    return line;
}

QString unquote(const QString &value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

} // namespace

QString profileString(const QString &file, const QString &section, const QString &key, const QString &defaultValue)
{
    const QString fallback = trimTrailingBlanks(defaultValue);
    Document doc;
    if (!load(file, doc))
        return fallback;
    const std::optional<size_t> at = findKey(doc, trimBlanks(section), trimBlanks(key));
    if (!at)
        return fallback;
    return unquote(doc.lines[*at].value);
}

QStringList profileKeys(const QString &file, const QString &section)
{
    QStringList keys;
    Document doc;
    if (!load(file, doc))
        return keys;
    for (size_t start : sectionStarts(doc, trimBlanks(section))) {
        const size_t end = sectionEnd(doc, start);
        for (size_t i = start + 1; i < end; ++i) {
            const Line &line = doc.lines[i];
            if (line.kind != LineKind::Key)
                continue;
            bool seen = false;
            for (const QString &k : keys)
                seen = seen || sameName(k, line.name);
            if (!seen)
                keys.append(line.name);
        }
    }
    return keys;
}

bool writeProfileString(const QString &file, const QString &section, const QString &key, const QString &value)
{
    if (!validSection(section) || !validKey(key) || hasLineBreak(value))
        return false;
    const QString sectionName = trimBlanks(section);
    const QString keyName = trimBlanks(key);
    Document doc;
    if (!load(file, doc))
        return false;

    if (const std::optional<size_t> at = findKey(doc, sectionName, keyName)) {
        // Replace in place, keeping the key's spelling as the file has it.
        doc.lines[*at] = makeLine(doc.lines[*at].name + QLatin1Char('=') + value);
        return save(file, doc);
    }

    const std::vector<size_t> starts = sectionStarts(doc, sectionName);
    if (!starts.empty()) {
        const size_t start = starts.front();
        const size_t end = sectionEnd(doc, start);
        size_t insertAt = start + 1;
        for (size_t i = start + 1; i < end; ++i)
            if (doc.lines[i].kind == LineKind::Key)
                insertAt = i + 1;
        doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                         makeLine(keyName + QLatin1Char('=') + value));
        return save(file, doc);
    }

    doc.lines.push_back(makeLine(QLatin1Char('[') + sectionName + QLatin1Char(']')));
    doc.lines.push_back(makeLine(keyName + QLatin1Char('=') + value));
    return save(file, doc);
}

bool deleteProfileKey(const QString &file, const QString &section, const QString &key)
{
    Document doc;
    if (!load(file, doc))
        return false;
    bool changed = false;
    while (const std::optional<size_t> at = findKey(doc, trimBlanks(section), trimBlanks(key))) {
        doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(*at));
        changed = true;
    }
    return changed ? save(file, doc) : true;
}

bool eraseProfileSection(const QString &file, const QString &section)
{
    Document doc;
    if (!load(file, doc))
        return false;
    bool changed = false;
    for (;;) {
        const std::vector<size_t> starts = sectionStarts(doc, trimBlanks(section));
        if (starts.empty())
            break;
        const size_t start = starts.front();
        const size_t end = sectionEnd(doc, start);
        doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(start),
                        doc.lines.begin() + static_cast<std::ptrdiff_t>(end));
        changed = true;
    }
    return changed ? save(file, doc) : true;
}

} // namespace lianbu
