#pragma once

// The file formats customers go out to and come in from, one entry each: what kind of file it
// is, its line in the file dialogs, its suffix, how its first bytes give it away, and how it is
// read and written. The dialogs, the export and the import all take what they need from here.

#include "db/ListRows.h"
#include "export/CsvFormat.h"
#include "export/ReadLimits.h"
#include "export/SheetData.h"
#include "export/VCardFormat.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace lianbu::exchange {

// What a file is, whatever its text encoding.
enum class FormatKind { Xls, Xlsx, Csv, VCard };
// One entry of the registry. Xls is the legacy record stream.
enum class ExportFormat { Xls, Xlsx, CsvUtf8, CsvGbk, VCard };

// What a reader hands on: the cells, and the values a vCard reader had to mend.
struct ImportedSheet
{
    SheetData sheet;
    std::vector<VCardRepair> repairs;
};

// What an export writes: the heading above the list, its columns and its rows.
struct ListSheet
{
    QString titleName;
    QString beginDate; // left out when blank
    QString endDate;
    QString userName;
    const db::ListColumns &columns;
    const db::RowReader &rows;
    // The field of each value of a row, by value index: vCard finds every customer field by
    // it, whatever the columns show.
    QStringList valueNames;
};

struct ExportOutcome
{
    qint64 records = 0;
    int lostCharacters = 0;   // CSV in GBK: characters written as '?'
    int unencodableCells = 0; // .xls: cells holding characters written as '?'
};

struct FileFormat
{
    ExportFormat id;
    FormatKind kind;
    TextEncoding encoding; // of the text formats; the others say it themselves
    QString filter;        // the save dialog's line
    QString suffix;        // written, and recognised on import
    QStringList alsoRead;  // further suffixes taken for this kind on import
    QString kindTitle;     // the open dialog's line for the kind
    // Whether the first bytes of a file without a known suffix show this kind.
    bool (*sniff)(const QByteArray &head);
    // Reads the file: `bytes` holds it whole, except for formats that read `path` themselves.
    bool readsPath;
    ImportedSheet (*read)(const QString &path, const QByteArray &bytes, ReadBudget &budget);
    // What the operator is told when the list has more rows than the format holds; empty
    // when it fits.
    QString (*tooLong)(const ListSheet &sheet);
    // Writes the file, replacing one there only when complete. Throws lianbu::Error with a
    // Chinese message; the old file then stays.
    ExportOutcome (*write)(const ListSheet &sheet, const QString &path, const ProgressFunction &progress);
};

// Every format, the legacy .xls first (the save dialog's default).
const std::vector<FileFormat> &fileFormats();
const FileFormat &fileFormat(ExportFormat format);
// The entry of `kind` in `encoding` (the encoding matters for CSV only).
const FileFormat &formatOf(FormatKind kind, TextEncoding encoding = TextEncoding::Utf8);

// ---- saving ----------------------------------------------------------------------------------

QString formatFilter(ExportFormat format);
QString formatSuffix(ExportFormat format);
// All formats' filters for the save dialog, the legacy .xls first.
QString exportFilters();
// The format the operator chose: by the typed suffix when it names a format (.csv: the CSV
// filter's encoding when one is chosen, else UTF-8), else by the dialog's filter, else the
// legacy .xls.
ExportFormat formatOfChoice(const QString &filter, const QString &path);

// Writes the list in `format` (the entry's writer).
ExportOutcome exportList(const ListSheet &sheet, ExportFormat format, const QString &path,
                         const ProgressFunction &progress = {});

// ---- opening ---------------------------------------------------------------------------------

// The open dialog's filters: every customer file, each kind, all files.
QString importFilters();
// The kind of a file from its suffix, or from its first bytes when the suffix says nothing;
// CSV when neither does.
FormatKind sniffKind(const QString &path, const QByteArray &head);

} // namespace lianbu::exchange
