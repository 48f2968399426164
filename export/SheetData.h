#pragma once

// What the tabular readers hand on: the cells of one sheet as text, with the line (CSV) or row
// (spreadsheets) each record came from, and the lines that could not be read.

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace lianbu::exchange {

struct SheetRow
{
    int line = 0; // 1-based line of a text file or row of a sheet, as a person counts them
    QStringList cells;
};

struct SheetData
{
    std::vector<SheetRow> rows;
    std::vector<int> unreadableLines; // rows dropped because they could not be read
};

// Called now and then with the share done so far (0 .. 1000); a false answer cancels.
using ProgressFunction = std::function<bool(int permille)>;

} // namespace lianbu::exchange

namespace lianbu::exchange {

// What a report sheet shows above and below its records, the same in every spreadsheet format:
// the title block (title; the period's dates when given; author and time of making), one row
// per title level, then the records, then the footer row.
struct SheetLayout
{
    QString titleName;
    QString beginDate;
    QString endDate;
    QString userName;
    QString madeAt;                               // date-time text of the export
    std::vector<std::vector<QString>> titleCells; // [column][level]
    std::vector<int> columnWidths;                // pixels on screen; 0: the program's default
    std::vector<QString> footers;                 // one per column; empty: no footer row

    int titleLevels() const;
    // Rows above the records: title block and title rows.
    int headerRows() const;
};

// Hands out the next record's cells; false after the last one.
using RowSource = std::function<bool(QStringList &cells)>;

} // namespace lianbu::exchange
