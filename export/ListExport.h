#pragma once

// A dataset's records, in their current order, into the newer file formats: .xlsx (the same
// sheet as the legacy .xls: title block, title rows, widths, footer), CSV and vCard. The
// dataset's current record does not move: rows are read by position.

#include "export/CsvFormat.h"
#include "export/ExchangeFormats.h"
#include "export/SheetData.h"

#include <QString>

#include <vector>

namespace lianbu::db {
class DataSet;
}

namespace lianbu::exchange {

struct ListExport
{
    SheetLayout layout;              // titles (one per column), widths, footers
    std::vector<QString> fieldNames; // dataset field of each column, in layout order
};

struct ExportOutcome
{
    qint64 records = 0;
    int lostCharacters = 0; // GBK only: characters written as '?'
};

// Writes the file, replacing an existing one only when complete. CSV has one title row (the
// titles' levels joined with "|") and no title block or footer, which other programs would
// take for records. vCard writes every customer field whatever the columns are.
// Throws lianbu::Error (Chinese message) on failure or cancel; the old file then stays.
ExportOutcome exportList(const db::DataSet &dataSet, const ListExport &list, ExportFormat format, const QString &path,
                         const ProgressFunction &progress = {});

} // namespace lianbu::exchange
