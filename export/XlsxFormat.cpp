#include "export/XlsxFormat.h"

#include "export/XmlScanner.h"
#include "export/ZipArchive.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/Error.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTime>
#include <QXmlStreamReader>

#include <xlsxwriter.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>

namespace lianbu::exchange {

// ---- layout ----------------------------------------------------------------------------------

int SheetLayout::titleLevels() const
{
    std::size_t levels = 1;
    for (const auto &column : titleCells)
        levels = std::max(levels, column.size());
    return int(levels);
}

int SheetLayout::headerRows() const
{
    const bool dates = !beginDate.trimmed().isEmpty() || !endDate.trimmed().isEmpty();
    return 2 + (dates ? 1 : 0) + titleLevels();
}

// ---- writing ---------------------------------------------------------------------------------

namespace {

struct WorkbookCloser
{
    void operator()(lxw_workbook *workbook) const
    {
        if (workbook)
            workbook_close(workbook);
    }
};

QString failure(const QString &path, lxw_error error)
{
    return QStringLiteral("无法写入文件“%1”：%2")
        .arg(QDir::toNativeSeparators(path), QString::fromUtf8(lxw_strerror(error)));
}

// Screen pixels to the width unit of the format (characters of the default font, 7 pixels
// each plus 5 pixels of padding).
double widthInCharacters(int pixels)
{
    return pixels <= 12 ? 1.0 : (pixels - 5) / 7.0;
}

} // namespace

void writeXlsx(const QString &path, const SheetLayout &layout, const RowSource &records, qint64 recordCount,
               const ProgressFunction &progress)
{
    const qint64 rows = layout.headerRows() + recordCount + (layout.footers.empty() ? 0 : 1);
    if (rows > kXlsxMaxRows)
        throw Error(QStringLiteral("列表共有 %1 条记录，连同标题和表尾需要 %2 行，而一个 .xlsx 文件最多只能有 %3 行。")
                        .arg(recordCount)
                        .arg(rows)
                        .arg(kXlsxMaxRows));

    // Written beside the target and put in its place when complete.
    const QString temporary = temporaryNameBeside(path);
    // The library takes UTF-8 names on every system (on Windows it opens them as UTF-16): the
    // system's 8-bit encoding would lose what the Windows code page cannot write.
    const QByteArray temporaryName = temporary.toUtf8();

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    std::unique_ptr<lxw_workbook, WorkbookCloser> workbook(workbook_new_opt(temporaryName.constData(), &options));
    if (!workbook)
        throw Error(QStringLiteral("无法创建文件“%1”。").arg(QDir::toNativeSeparators(path)));
    auto discard = [&] {
        // Closing writes the partial workbook; it is then removed.
        workbook.reset();
        QFile::remove(temporary);
    };

    // The file's creation time is the program's clock, like the sheet's own 制表时间.
    lxw_doc_properties properties{};
    properties.created = time_t(lianbu::now().toSecsSinceEpoch());
    workbook_set_properties(workbook.get(), &properties);

    lxw_worksheet *sheet = workbook_add_worksheet(workbook.get(), "客户");
    lxw_format *bold = workbook_add_format(workbook.get());
    format_set_bold(bold);
    lxw_format *titleFormat = workbook_add_format(workbook.get());
    format_set_bold(titleFormat);
    format_set_font_size(titleFormat, 14);

    for (std::size_t c = 0; c < layout.columnWidths.size(); ++c)
        if (layout.columnWidths[c] > 0)
            worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), widthInCharacters(layout.columnWidths[c]), nullptr);

    lxw_row_t row = 0;
    auto put = [&](lxw_row_t r, int c, const QString &text, lxw_format *format) {
        if (text.isEmpty())
            return;
        const lxw_error error = worksheet_write_string(sheet, r, lxw_col_t(c), text.toUtf8().constData(), format);
        if (error != LXW_NO_ERROR) {
            discard();
            throw Error(failure(path, error));
        }
    };

    put(row, 3, layout.titleName, titleFormat);
    ++row;
    const bool dates = !layout.beginDate.trimmed().isEmpty() || !layout.endDate.trimmed().isEmpty();
    if (dates) {
        if (!layout.beginDate.trimmed().isEmpty())
            put(row, 0, layout.beginDate, nullptr);
        if (!layout.endDate.trimmed().isEmpty())
            put(row, 5, layout.endDate, nullptr);
        ++row;
    }
    put(row, 0, QStringLiteral("制表人：") + layout.userName, nullptr);
    put(row, 5, QStringLiteral("制表时间：") + layout.madeAt, nullptr);
    ++row;
    for (int level = 0; level < layout.titleLevels(); ++level) {
        for (std::size_t c = 0; c < layout.titleCells.size(); ++c) {
            const auto &levels = layout.titleCells[c];
            put(row, int(c), std::size_t(level) < levels.size() ? levels[std::size_t(level)] : QString(), bold);
        }
        ++row;
    }

    QStringList cells;
    qint64 written = 0;
    int lastPermille = -1;
    while (records(cells)) {
        for (qsizetype c = 0; c < cells.size(); ++c)
            put(row, int(c), cells.at(c), nullptr);
        ++row;
        ++written;
        if (progress && recordCount > 0) {
            const int permille = int(written * 1000 / recordCount);
            if (permille != lastPermille) {
                lastPermille = permille;
                if (!progress(permille)) {
                    discard();
                    throw Error(QStringLiteral("导出已取消，没有写入任何文件。"));
                }
            }
        }
        cells.clear();
    }
    if (!layout.footers.empty())
        for (std::size_t c = 0; c < layout.footers.size(); ++c)
            put(row, int(c), layout.footers[c], bold);

    errno = 0;
    const lxw_error closed = workbook_close(workbook.release());
    if (closed != LXW_NO_ERROR) {
        // The library names its own step; a full disk is said as such.
        const int systemError = errno;
        QFile::remove(temporary);
        bool diskError = systemError == ENOSPC || systemError == EFBIG || systemError == EIO;
#ifdef EDQUOT // not on Windows
        diskError = diskError || systemError == EDQUOT;
#endif
        if (diskError)
            throw Error(fileWriteFailureText(path, systemError));
        throw Error(failure(path, closed));
    }
    int error = 0;
    if (!placeWrittenFile(temporary, path, &error))
        throw Error(fileWriteFailureText(path, error));
}

// ---- reading ---------------------------------------------------------------------------------

namespace {

// Columns past the format's last (XFD) all read as one beyond it, so no reference overflows.
constexpr int kPastLastColumn = 16384;

int columnOfLetters(QByteArrayView reference)
{
    int column = 0;
    bool any = false;
    for (const char c : reference) {
        if (c >= 'A' && c <= 'Z')
            column = column * 26 + (c - 'A' + 1);
        else if (c >= 'a' && c <= 'z')
            column = column * 26 + (c - 'a' + 1);
        else
            break;
        any = true;
        column = std::min(column, kPastLastColumn + 1);
    }
    return any ? column - 1 : -1;
}

// The row number of a reference such as "B7"; 0 when it has none.
qint64 rowOfReference(QByteArrayView reference)
{
    qsizetype i = 0;
    while (i < reference.size() && !(reference[i] >= '0' && reference[i] <= '9'))
        ++i;
    qint64 row = 0;
    for (; i < reference.size() && reference[i] >= '0' && reference[i] <= '9'; ++i)
        row = std::min<qint64>(row * 10 + (reference[i] - '0'), qint64(1) << 40);
    return row;
}

} // namespace

int columnOfReference(const QString &reference)
{
    return columnOfLetters(reference.toLatin1());
}

QString unescapeXlsxText(const QString &text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('_') && i + 6 < text.size() && text.at(i + 1) == QLatin1Char('x')
            && text.at(i + 6) == QLatin1Char('_')) {
            bool ok = false;
            const uint code = text.mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out.append(QChar(char16_t(code)));
                i += 6;
                continue;
            }
        }
        out.append(text.at(i));
    }
    return out;
}

namespace {

[[noreturn]] void unreadable(const QString &detail = {})
{
    throw Error(QStringLiteral("不是可以读取的 .xlsx 文件%1。")
                    .arg(detail.isEmpty() ? QString() : QStringLiteral("（%1）").arg(detail)));
}

// The longest tag or text the scanner holds: a value over the budget's field length is refused
// as such, and without a budget nothing is bounded but the member's own size.
qint64 tokenBound(const ReadBudget *budget)
{
    return budget ? budget->limits().fieldChars * 3 + 64 * 1024 : qint64(1) << 31;
}

// The scanner's error as the reader says it: a value past the field length names that limit.
[[noreturn]] void scanFailed(const XmlScanner &xml, const ReadBudget *budget, int row)
{
    if (budget && xml.tooLong())
        budget->checkField(row, budget->limits().fieldChars + 1);
    unreadable(xml.errorString());
}

// All text of <t> elements inside the current element (a rich text run splits it in several).
QString textOf(XmlScanner &xml)
{
    QString text;
    int level = 1;
    while (level > 0) {
        switch (xml.next()) {
        case XmlScanner::Token::StartElement:
            if (xml.name() == "t")
                text += xml.readElementText();
            else if (xml.name() == "rPh")
                xml.skipCurrentElement(); // phonetic guides are not part of the value
            else
                ++level;
            break;
        case XmlScanner::Token::EndElement:
            --level;
            break;
        case XmlScanner::Token::Text:
            break;
        case XmlScanner::Token::End:
        case XmlScanner::Token::Invalid:
            return text;
        }
    }
    return text;
}

// Read as it unpacks: the whole member never sits in memory, in bytes or as text.
QStringList sharedStrings(ZipMemberReader *member, ReadBudget *budget)
{
    QStringList strings;
    if (!member)
        return strings;
    XmlScanner xml(member, tokenBound(budget));
    while (!xml.atEnd()) {
        if (xml.next() == XmlScanner::Token::StartElement && xml.name() == "si") {
            strings.append(unescapeXlsxText(textOf(xml)));
            if (budget)
                budget->addCell(0, 0, strings.back().size());
        }
    }
    if (member->failed())
        throw Error(QStringLiteral("文件已损坏（xl/sharedStrings.xml）"));
    if (xml.hasError())
        scanFailed(xml, budget, 0);
    return strings;
}

// A sheet that says it spans more columns or cells than the budget allows is refused before
// its rows are read.
void checkDimension(QByteArrayView ref, const ReadBudget &budget)
{
    const qsizetype colon = ref.indexOf(':');
    if (colon < 0)
        return;
    const QByteArrayView first = ref.first(colon), last = ref.sliced(colon + 1);
    const qint64 columns = qint64(columnOfLetters(last)) - columnOfLetters(first) + 1;
    const qint64 rows = rowOfReference(last) - rowOfReference(first) + 1;
    if (columns <= 0 || rows <= 0)
        return;
    budget.checkSheetSize(rows, columns);
}

// The first sheet's member, by way of the workbook and its relationships.
QString firstSheetPath(const ZipArchive &zip, const ReadBudget *budget)
{
    const QString fallback = QStringLiteral("xl/worksheets/sheet1.xml");
    if (!zip.contains(QStringLiteral("xl/workbook.xml")) || !zip.contains(QStringLiteral("xl/_rels/workbook.xml.rels")))
        return fallback;
    QString id;
    QXmlStreamReader workbook(zip.read(QStringLiteral("xl/workbook.xml"), budget));
    while (!workbook.atEnd() && id.isEmpty()) {
        workbook.readNext();
        if (workbook.isStartElement() && workbook.name() == QLatin1String("sheet"))
            for (const QXmlStreamAttribute &attribute : workbook.attributes())
                if (attribute.name() == QLatin1String("id"))
                    id = attribute.value().toString();
    }
    if (id.isEmpty())
        return fallback;
    QXmlStreamReader rels(zip.read(QStringLiteral("xl/_rels/workbook.xml.rels"), budget));
    while (!rels.atEnd()) {
        rels.readNext();
        if (rels.isStartElement() && rels.name() == QLatin1String("Relationship")
            && rels.attributes().value(QLatin1String("Id")) == id) {
            QString target = rels.attributes().value(QLatin1String("Target")).toString();
            if (target.startsWith(QLatin1Char('/')))
                return target.mid(1);
            return QStringLiteral("xl/") + target;
        }
    }
    return fallback;
}

QString numberText(const QString &value)
{
    // Excel writes big numbers such as telephone numbers in exponent form.
    if (!value.contains(QLatin1Char('E')) && !value.contains(QLatin1Char('e')))
        return value;
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok)
        return value;
    QString text = QString::number(number, 'f', 10);
    while (text.contains(QLatin1Char('.')) && (text.endsWith(QLatin1Char('0')) || text.endsWith(QLatin1Char('.'))))
        text.chop(1);
    return text;
}

// How each cell style shows numbers: as a date, a date with its time, a time, or plain.
enum class NumberShape { Plain, Date, DateTime, Time };

bool showsTime(const QString &code)
{
    return code.contains(QLatin1Char('h'), Qt::CaseInsensitive) || code.contains(QLatin1Char('s'), Qt::CaseInsensitive);
}

// The code with quoted text, escaped characters and [colour]/[$-locale] parts taken out.
QString formatLetters(const QString &code)
{
    QString out;
    bool quoted = false;
    int bracket = 0;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (quoted) {
            quoted = c != QLatin1Char('"');
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char('\\') || c == QLatin1Char('_') || c == QLatin1Char('*')) {
            ++i; // the next character is shown as it is
        } else if (c == QLatin1Char('[')) {
            ++bracket;
        } else if (c == QLatin1Char(']')) {
            bracket = std::max(0, bracket - 1);
        } else if (bracket == 0) {
            out.append(c);
        }
    }
    return out;
}

NumberShape shapeOf(int formatId, const QString &formatCode)
{
    if ((formatId >= 18 && formatId <= 21) || formatId == 45 || formatId == 46 || formatId == 47)
        return NumberShape::Time;
    if (formatId == 22)
        return NumberShape::DateTime;
    if (isDateFormat(formatId, formatCode)) {
        const QString letters = formatLetters(formatCode);
        return !letters.isEmpty() && showsTime(letters) ? NumberShape::DateTime : NumberShape::Date;
    }
    if (formatId >= 164 || formatCode.size() > 0) {
        const QString letters = formatLetters(formatCode).remove(QStringLiteral("General"), Qt::CaseInsensitive);
        if (letters.contains(QLatin1Char('h'), Qt::CaseInsensitive)
            && (letters.contains(QLatin1Char('m'), Qt::CaseInsensitive)
                || letters.contains(QLatin1Char('s'), Qt::CaseInsensitive)))
            return NumberShape::Time;
    }
    return NumberShape::Plain;
}

struct Styles
{
    std::vector<NumberShape> cellShapes; // by cell style index (the s attribute)
};

Styles readStyles(const ZipArchive &zip, const ReadBudget *budget)
{
    Styles styles;
    const QString member = QStringLiteral("xl/styles.xml");
    if (!zip.contains(member))
        return styles;
    QHash<int, QString> codes;
    QXmlStreamReader xml(zip.read(member, budget));
    bool inCellXfs = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("numFmt")) {
            const QXmlStreamAttributes a = xml.attributes();
            codes.insert(a.value(QLatin1String("numFmtId")).toInt(), a.value(QLatin1String("formatCode")).toString());
        } else if (xml.isStartElement() && xml.name() == QLatin1String("cellXfs")) {
            inCellXfs = true;
        } else if (xml.isEndElement() && xml.name() == QLatin1String("cellXfs")) {
            inCellXfs = false;
        } else if (inCellXfs && xml.isStartElement() && xml.name() == QLatin1String("xf")) {
            const int id = xml.attributes().value(QLatin1String("numFmtId")).toInt();
            styles.cellShapes.push_back(shapeOf(id, codes.value(id)));
            xml.skipCurrentElement();
            if (budget && qint64(styles.cellShapes.size()) > budget->limits().cells)
                unreadable(QStringLiteral("样式太多"));
        }
    }
    return styles; // damaged styles only cost the dates their form
}

bool usesDate1904(const ZipArchive &zip, const ReadBudget *budget)
{
    if (!zip.contains(QStringLiteral("xl/workbook.xml")))
        return false;
    QXmlStreamReader xml(zip.read(QStringLiteral("xl/workbook.xml"), budget));
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("workbookPr")) {
            const QStringView value = xml.attributes().value(QLatin1String("date1904"));
            return value == QLatin1String("1") || value == QLatin1String("true");
        }
        if (xml.isStartElement() && xml.name() == QLatin1String("sheets"))
            break;
    }
    return false;
}

QString shapedNumber(const QString &value, NumberShape shape, bool date1904)
{
    if (shape == NumberShape::Plain)
        return numberText(value);
    bool ok = false;
    const double serial = value.toDouble(&ok);
    if (!ok)
        return numberText(value);
    if (shape == NumberShape::Time) {
        if (serial < 0 || serial >= 1)
            return numberText(value);
        const int seconds = int(std::lround(serial * 86400.0)) % 86400;
        return QTime(0, 0).addSecs(seconds).toString(QStringLiteral("HH:mm:ss"));
    }
    const QString text = serialDateText(serial, date1904, shape == NumberShape::DateTime);
    return text.isEmpty() ? numberText(value) : text;
}

} // namespace

bool isDateFormat(int formatId, const QString &formatCode)
{
    if ((formatId >= 14 && formatId <= 17) || formatId == 22 || (formatId >= 27 && formatId <= 36)
        || (formatId >= 50 && formatId <= 58))
        return true;
    if (formatCode.isEmpty())
        return false;
    const QString letters = formatLetters(formatCode);
    for (const QChar c : letters) {
        const char16_t u = c.toLower().unicode();
        if (u == 'y' || u == 'd')
            return true;
    }
    return false;
}

QString serialDateText(double serial, bool date1904, bool withTime)
{
    if (!std::isfinite(serial) || serial < 0 || serial > 2958465.0) // 9999-12-31
        return {};
    double whole = std::floor(serial);
    int seconds = int(std::lround((serial - whole) * 86400.0));
    if (seconds >= 86400) {
        whole += 1;
        seconds -= 86400;
    }
    QDate date;
    if (date1904) {
        date = QDate(1904, 1, 1).addDays(qint64(whole));
    } else {
        // The 1900 system counts a 29 February 1900 that never was: day 60.
        if (whole < 1)
            return {};
        date = whole < 60 ? QDate(1899, 12, 31).addDays(qint64(whole)) : QDate(1899, 12, 30).addDays(qint64(whole));
    }
    if (!date.isValid())
        return {};
    QString text = date.toString(QStringLiteral("yyyy-MM-dd"));
    if (withTime && seconds > 0)
        text += QLatin1Char(' ') + QTime(0, 0).addSecs(seconds).toString(QStringLiteral("HH:mm:ss"));
    return text;
}

namespace {

enum class CellType { Number, Shared, Inline, Text, Boolean, Failure, IsoDate };

CellType cellType(QByteArrayView t)
{
    if (t.isEmpty() || t == "n")
        return CellType::Number;
    if (t == "s")
        return CellType::Shared;
    if (t == "inlineStr")
        return CellType::Inline;
    if (t == "str")
        return CellType::Text;
    if (t == "b")
        return CellType::Boolean;
    if (t == "e")
        return CellType::Failure;
    if (t == "d")
        return CellType::IsoDate;
    return CellType::Number;
}

} // namespace

SheetData readXlsx(const QByteArray &bytes, ReadBudget *budget)
{
    if (budget)
        budget->checkFileSize(bytes.size());
    ZipArchive zip;
    if (!zip.open(bytes))
        unreadable();
    const QString sheetPath = firstSheetPath(zip, budget);
    if (!zip.contains(sheetPath))
        unreadable(QStringLiteral("没有工作表"));
    // What every member will unpack to is checked before anything is unpacked.
    const QString stringsPath = QStringLiteral("xl/sharedStrings.xml");
    const auto stringsMember = zip.contains(stringsPath) ? zip.stream(stringsPath, budget) : nullptr;
    const auto member = zip.stream(sheetPath, budget);
    XmlScanner xml(member.get(), tokenBound(budget));
    // The sheet's head, up to its rows: a dimension it claims is checked before anything else is read.
    while (!xml.atEnd() && !(xml.token() == XmlScanner::Token::StartElement && xml.name() == "sheetData")) {
        if (xml.next() == XmlScanner::Token::StartElement && xml.name() == "dimension" && budget)
            checkDimension(xml.rawAttribute("ref"), *budget);
    }

    const QStringList strings = sharedStrings(stringsMember.get(), budget);
    const Styles styles = readStyles(zip, budget);
    const bool date1904 = usesDate1904(zip, budget);

    SheetData sheet;
    int rowNumber = 0;
    while (!xml.atEnd()) {
        if (xml.next() != XmlScanner::Token::StartElement || xml.name() != "row")
            continue;
        const QByteArrayView r = xml.rawAttribute("r");
        rowNumber = r.isEmpty() ? rowNumber + 1 : int(std::min<qint64>(rowOfReference(r), 1 << 30));
        if (budget)
            budget->checkCancel();
        SheetRow row{rowNumber, {}};
        int nextColumn = 0;
        for (;;) {
            const XmlScanner::Token token = xml.next();
            if (token == XmlScanner::Token::End || token == XmlScanner::Token::Invalid)
                break;
            if (token == XmlScanner::Token::EndElement && xml.name() == "row")
                break;
            if (token != XmlScanner::Token::StartElement)
                continue;
            if (xml.name() != "c") {
                xml.skipCurrentElement();
                continue;
            }
            const int referenced = columnOfLetters(xml.rawAttribute("r"));
            const int column = referenced >= 0 ? referenced : nextColumn;
            nextColumn = column + 1;
            const CellType type = cellType(xml.rawAttribute("t"));
            bool styled = false;
            const int style = xml.rawAttribute("s").toInt(&styled);
            const NumberShape shape = styled && style >= 0 && std::size_t(style) < styles.cellShapes.size()
                                          ? styles.cellShapes[std::size_t(style)]
                                          : NumberShape::Plain;
            QString value;
            QString inlineText;
            for (;;) {
                const XmlScanner::Token inner = xml.next();
                if (inner == XmlScanner::Token::End || inner == XmlScanner::Token::Invalid)
                    break;
                if (inner == XmlScanner::Token::EndElement && xml.name() == "c")
                    break;
                if (inner != XmlScanner::Token::StartElement)
                    continue;
                if (xml.name() == "v")
                    value = xml.readElementText();
                else if (xml.name() == "is")
                    inlineText = textOf(xml);
                else
                    xml.skipCurrentElement(); // formulas and anything else
            }
            QString text;
            switch (type) {
            case CellType::Shared: {
                bool ok = false;
                const int index = value.toInt(&ok);
                if (!ok || index < 0 || index >= strings.size())
                    unreadable(QStringLiteral("第 %1 行").arg(rowNumber));
                text = strings.at(index);
                break;
            }
            case CellType::Inline:
                text = unescapeXlsxText(inlineText);
                break;
            case CellType::Text:
                text = unescapeXlsxText(value);
                break;
            case CellType::Boolean:
                text = value == QLatin1String("1") ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
                break;
            case CellType::Failure:
                text = value;
                break;
            case CellType::IsoDate:
                // An ISO 8601 date written as text.
                text = shape == NumberShape::DateTime || value.size() <= 10 ? value : value.left(10);
                text.replace(QLatin1Char('T'), QLatin1Char(' '));
                break;
            case CellType::Number:
                text = shapedNumber(value, shape, date1904);
                break;
            }
            if (column < 0 || column >= kPastLastColumn)
                continue;
            if (budget)
                budget->addCell(rowNumber, column, text.size(), std::max<qint64>(0, column - row.cells.size()));
            if (row.cells.size() == column) {
                row.cells.append(std::move(text));
                continue;
            }
            while (row.cells.size() <= column)
                row.cells.append(QString());
            row.cells[column] = std::move(text);
        }
        bool empty = true;
        for (const QString &cell : row.cells)
            empty = empty && cell.isEmpty();
        if (!empty)
            sheet.rows.push_back(std::move(row));
    }
    if (member->failed())
        throw Error(QStringLiteral("文件已损坏（%1）").arg(sheetPath));
    if (xml.hasError())
        scanFailed(xml, budget, rowNumber);
    return sheet;
}

} // namespace lianbu::exchange
