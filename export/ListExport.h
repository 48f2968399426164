#pragma once

// A list into a file of any exchange format: the command's steps (the overwrite question, the
// progress window, the failure and lost-character messages, opening the file) and each format's
// writer over the list's column description and rows. .xlsx carries the same sheet as the
// legacy .xls (title block, title rows, widths, footer); CSV and vCard their own shapes. The
// list is only read: its current row and what it shows stay as they are.

#include "export/ExchangeFormats.h"
#include "export/SheetData.h"

#include <QString>

#include <optional>
#include <vector>

class QWidget;

namespace lianbu::exchange {

// The sheet's layout (titles, widths, footers, heading) of the list, for the spreadsheet formats.
SheetLayout layoutOf(const ListSheet &sheet);

// The writers and length checks of the registry's entries. CSV has one title row (the titles'
// levels joined with "|") and no title block or footer, which other programs would take for
// records. vCard writes every customer field whatever the columns are.
ExportOutcome writeXlsSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress);
ExportOutcome writeXlsxSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress);
ExportOutcome writeUtf8CsvSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress);
ExportOutcome writeGbkCsvSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress);
ExportOutcome writeVCardSheet(const ListSheet &sheet, const QString &path, const ProgressFunction &progress);
QString xlsTooLong(const ListSheet &sheet);
QString xlsxTooLong(const ListSheet &sheet);
QString fitsAnyLength(const ListSheet &sheet);

// What the operator is told after a complete export that had to write characters as '?';
// empty when none were.
QString lossText(const ExportOutcome &outcome, const QString &path);

// "导 出" once the file is chosen: nothing for an empty list or a blank name; a list longer
// than the format holds is refused with an information box before anything is written; then,
// under the busy cursor, the overwrite question, the progress window (when `showProgress`), the
// file, what was lost, and the file opened with the desktop's program. A failure is shown
// (which file, why); the file is then neither replaced nor opened. A column whose field the
// list lacks throws "Field '%s' not found" before anything happens. True when the file was written.
bool exportListFile(const ListSheet &sheet, ExportFormat format, const QString &path, QWidget *parent = nullptr,
                    bool showProgress = true);

// The file a table export writes, and in which format.
struct ExportTarget
{
    QString path;
    ExportFormat format = ExportFormat::Xlsx;
};

// The one rule for the name a save dialog gave: a typed suffix one of `offered` writes wins (.csv:
// in the encoding of the CSV filter chosen, else of the first CSV offered); otherwise the chosen
// filter's format (the first offered when none matches) with its suffix appended.
ExportTarget exportTargetOf(const QString &path, const QString &chosenFilter, const std::vector<ExportFormat> &offered);

// The save dialog of a table export, through the dialog service: `offered` formats, the first
// chosen at first, the name resolved by exportTargetOf. nullopt when cancelled. The one overwrite
// question is exportListFile's, about the name resolved here.
std::optional<ExportTarget> askExportTarget(QWidget *parent, const QString &caption, const QString &fileName,
                                            const std::vector<ExportFormat> &offered);

} // namespace lianbu::exchange
