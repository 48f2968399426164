#include "export/ExchangeFormats.h"

#include "export/ListExport.h"
#include "export/XlsReader.h"
#include "export/XlsxFormat.h"
#include "platform/Error.h"

#include <QFileInfo>

namespace lianbu::exchange {

namespace {

bool zipHead(const QByteArray &head)
{
    return head.startsWith("PK\x03\x04");
}

// A compound document (Excel's own workbooks) or the bare record stream's BOF.
bool xlsHead(const QByteArray &head)
{
    return head.startsWith("\xD0\xCF\x11\xE0") || head.startsWith("\x09\x08");
}

bool vCardHead(const QByteArray &head)
{
    return head.trimmed().toUpper().startsWith("BEGIN:VCARD");
}

// Any text may be CSV; it is what is left when nothing else fits.
bool noHead(const QByteArray &)
{
    return false;
}

ImportedSheet readXlsFile(const QString &path, const QByteArray &, ReadBudget &budget)
{
    return {readXls(path, &budget), {}};
}

ImportedSheet readXlsxFile(const QString &, const QByteArray &bytes, ReadBudget &budget)
{
    return {readXlsx(bytes, &budget), {}};
}

ImportedSheet readUtf8Csv(const QString &, const QByteArray &bytes, ReadBudget &budget)
{
    return {parseCsv(bytes, TextEncoding::Utf8, &budget), {}};
}

ImportedSheet readGbkCsv(const QString &, const QByteArray &bytes, ReadBudget &budget)
{
    return {parseCsv(bytes, TextEncoding::Gbk, &budget), {}};
}

// A vCard file as a sheet: one title row with the fields' titles, one row per card.
ImportedSheet readVCardFile(const QString &, const QByteArray &bytes, ReadBudget &budget)
{
    VCardData cards = parseVCards(bytes, &budget);
    ImportedSheet imported;
    SheetData &sheet = imported.sheet;
    QStringList titles;
    for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
        titles.append(fieldTitle(CustomerField(f)));
    sheet.rows.push_back({0, titles});
    for (const VCardCard &card : cards.cards) {
        QStringList cells;
        for (const QString &value : card.record.values)
            cells.append(value);
        sheet.rows.push_back({card.line, cells});
    }
    sheet.unreadableLines = std::move(cards.unreadableLines);
    imported.repairs = std::move(cards.repairs);
    return imported;
}

std::vector<FileFormat> makeFormats()
{
    const QString excel = QStringLiteral("Excel 工作簿");
    std::vector<FileFormat> formats;
    formats.push_back({.id = ExportFormat::Xls,
                       .kind = FormatKind::Xls,
                       .encoding = TextEncoding::Gbk,
                       .filter = QStringLiteral("Microsoft Excel xls文件 (*.xls)"),
                       .suffix = QStringLiteral("xls"),
                       .alsoRead = {},
                       .kindTitle = excel,
                       .sniff = xlsHead,
                       .readsPath = true,
                       .read = readXlsFile,
                       .tooLong = xlsTooLong,
                       .write = writeXlsSheet});
    formats.push_back({.id = ExportFormat::Xlsx,
                       .kind = FormatKind::Xlsx,
                       .encoding = TextEncoding::Utf8,
                       .filter = QStringLiteral("Excel 工作簿 (*.xlsx)"),
                       .suffix = QStringLiteral("xlsx"),
                       .alsoRead = {},
                       .kindTitle = excel,
                       .sniff = zipHead,
                       .readsPath = false,
                       .read = readXlsxFile,
                       .tooLong = xlsxTooLong,
                       .write = writeXlsxSheet});
    formats.push_back({.id = ExportFormat::CsvUtf8,
                       .kind = FormatKind::Csv,
                       .encoding = TextEncoding::Utf8,
                       .filter = QStringLiteral("CSV 文件，UTF-8 (*.csv)"),
                       .suffix = QStringLiteral("csv"),
                       .alsoRead = {QStringLiteral("txt")},
                       .kindTitle = QStringLiteral("CSV 文件"),
                       .sniff = noHead,
                       .readsPath = false,
                       .read = readUtf8Csv,
                       .tooLong = fitsAnyLength,
                       .write = writeUtf8CsvSheet});
    formats.push_back({.id = ExportFormat::CsvGbk,
                       .kind = FormatKind::Csv,
                       .encoding = TextEncoding::Gbk,
                       .filter = QStringLiteral("CSV 文件，GBK (*.csv)"),
                       .suffix = QStringLiteral("csv"),
                       .alsoRead = {QStringLiteral("txt")},
                       .kindTitle = QStringLiteral("CSV 文件"),
                       .sniff = noHead,
                       .readsPath = false,
                       .read = readGbkCsv,
                       .tooLong = fitsAnyLength,
                       .write = writeGbkCsvSheet});
    formats.push_back({.id = ExportFormat::VCard,
                       .kind = FormatKind::VCard,
                       .encoding = TextEncoding::Utf8,
                       .filter = QStringLiteral("vCard 名片 (*.vcf)"),
                       .suffix = QStringLiteral("vcf"),
                       .alsoRead = {QStringLiteral("vcard")},
                       .kindTitle = QStringLiteral("vCard 名片"),
                       .sniff = vCardHead,
                       .readsPath = false,
                       .read = readVCardFile,
                       .tooLong = fitsAnyLength,
                       .write = writeVCardSheet});
    return formats;
}

} // namespace

const std::vector<FileFormat> &fileFormats()
{
    static const std::vector<FileFormat> formats = makeFormats();
    return formats;
}

const FileFormat &fileFormat(ExportFormat format)
{
    for (const FileFormat &entry : fileFormats())
        if (entry.id == format)
            return entry;
    throw Error(QStringLiteral("Unknown file format"));
}

const FileFormat &formatOf(FormatKind kind, TextEncoding encoding)
{
    const FileFormat *first = nullptr;
    for (const FileFormat &entry : fileFormats())
        if (entry.kind == kind) {
            if (entry.encoding == encoding)
                return entry;
            if (!first)
                first = &entry;
        }
    if (!first)
        throw Error(QStringLiteral("Unknown file format"));
    return *first;
}

QString formatFilter(ExportFormat format)
{
    return fileFormat(format).filter;
}

QString formatSuffix(ExportFormat format)
{
    return fileFormat(format).suffix;
}

QString exportFilters()
{
    QStringList filters;
    for (const FileFormat &entry : fileFormats())
        filters.append(entry.filter);
    return filters.join(QStringLiteral(";;"));
}

ExportFormat formatOfChoice(const QString &filter, const QString &path)
{
    const FileFormat *chosen = &fileFormats().front();
    bool filtered = false;
    for (const FileFormat &entry : fileFormats())
        if (filter == entry.filter) {
            chosen = &entry;
            filtered = true;
        }
    // A typed suffix says what the operator wants, whatever type the dialog still showed;
    // writing one format under another's name makes a file nothing reads, this program included.
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (filtered && suffix == chosen->suffix)
        return chosen->id;
    for (const FileFormat &entry : fileFormats())
        if (suffix == entry.suffix)
            return entry.id;
    return chosen->id;
}

ExportOutcome exportList(const ListSheet &sheet, ExportFormat format, const QString &path,
                         const ProgressFunction &progress)
{
    return fileFormat(format).write(sheet, path, progress);
}

QString importFilters()
{
    // One line per kind, in the registry's order, then every kind together.
    QStringList titles;
    QList<QStringList> patterns;
    QStringList all;
    for (const FileFormat &entry : fileFormats()) {
        qsizetype line = titles.indexOf(entry.kindTitle);
        if (line < 0) {
            titles.append(entry.kindTitle);
            patterns.append(QStringList());
            line = titles.size() - 1;
        }
        for (const QString &suffix : QStringList{entry.suffix} + entry.alsoRead) {
            const QString pattern = QStringLiteral("*.") + suffix;
            if (!patterns[line].contains(pattern))
                patterns[line].append(pattern);
        }
        const QString own = QStringLiteral("*.") + entry.suffix;
        if (!all.contains(own))
            all.append(own);
    }
    QStringList filters{QStringLiteral("客户文件 (%1)").arg(all.join(QLatin1Char(' ')))};
    for (qsizetype k = 0; k < titles.size(); ++k)
        filters.append(QStringLiteral("%1 (%2)").arg(titles[k], patterns[k].join(QLatin1Char(' '))));
    filters.append(QStringLiteral("所有文件 (*)"));
    return filters.join(QStringLiteral(";;"));
}

FormatKind sniffKind(const QString &path, const QByteArray &head)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const FileFormat &entry : fileFormats())
        if (suffix == entry.suffix || entry.alsoRead.contains(suffix))
            return entry.kind;
    for (const FileFormat &entry : fileFormats())
        if (entry.sniff(head))
            return entry.kind;
    return FormatKind::Csv;
}

} // namespace lianbu::exchange
