#pragma once

// One file on its way in: its format found from its name or first bytes, read within a
// budget, and its columns matched to the customer fields. Plain functions, without windows;
// the import window runs them on a thread of its own.

#include "export/CustomerImport.h"
#include "export/ExchangeFormats.h"

#include <QByteArray>
#include <QString>

namespace lianbu::exchange {

struct ImportFile
{
    QString path;
    ExportFormat format = ExportFormat::CsvUtf8;
    QByteArray bytes;            // the file as read, kept so a CSV file can be read again
    bool encodingCertain = true; // CSV: the encoding was settled by the bytes
    ImportedSheet imported;

    const FileFormat &entry() const { return fileFormat(format); }
    const SheetData &sheet() const { return imported.sheet; }
};

// Opens, sniffs and reads the file. Throws lianbu::Error with a Chinese message when it cannot
// be opened or read or passes the budget's limits, ReadCancelled on a cancel.
ImportFile readImportFile(const QString &path, ReadBudget &budget);
// The same CSV bytes read in `encoding` (other kinds have one reading and come back as they are).
ImportFile rereadImportFile(const ImportFile &file, TextEncoding encoding, ReadBudget &budget);

} // namespace lianbu::exchange
