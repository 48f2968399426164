#pragma once

// From the cells of a file to customer records: which column holds which field, which rows are
// records, and which records look like customers the register already has.

#include "export/CustomerFields.h"
#include "export/SheetData.h"

#include <QHash>

#include <array>
#include <vector>

namespace lianbu::exchange {

struct ColumnChoice
{
    int titleRow = -1;                           // index into SheetData::rows of the title row; -1: no title row
    std::array<int, kCustomerFieldCount> column; // source column per field; -1: not imported

    ColumnChoice() { column.fill(-1); }
    int matched() const;
};

// Finds the title row among the first rows (the one naming the most fields; titles compare
// without their blanks) and maps each titled column to its field. An untitled column right
// after the titles, with values below it, is taken for 网站 when no column is titled so: the
// .xls files of the legacy program write that field there without a title.
ColumnChoice matchColumns(const SheetData &sheet);

struct ImportRow
{
    int line = 0;
    CustomerRecord record;
};

// The records below the title row, values trimmed of line-ending blanks. Rows that hold
// nothing for the chosen columns are left out, and so is a footer row that only repeats
// "总计" in the first column.
std::vector<ImportRow> recordsOf(const SheetData &sheet, const ColumnChoice &choice);

// ---- duplicates ------------------------------------------------------------------------------

// The digits of a mobile number, without a leading 86 or +86 of an 11-digit number; empty
// when it has no digits.
QString mobileKey(const QString &mobile);
// 客户简称 and 姓名 with their blanks removed; empty when the name is empty.
QString nameKey(const CustomerRecord &record);

// Customers by both keys, for the checks before an import and for 查重.
class DuplicateIndex
{
public:
    void add(qint64 id, const CustomerRecord &record);
    // Ids of the customers added so far that share a key with `record`, each once, in the
    // order they were added.
    std::vector<qint64> matches(const CustomerRecord &record) const;

private:
    QHash<QString, std::vector<qint64>> m_byMobile;
    QHash<QString, std::vector<qint64>> m_byName;
};

struct IdentifiedCustomer
{
    qint64 id = 0;
    CustomerRecord record;
};
// Groups of customers connected by a shared key (directly or through others), each of at
// least two, ids ascending; groups ordered by their first id.
std::vector<std::vector<qint64>> duplicateGroups(const std::vector<IdentifiedCustomer> &customers);

} // namespace lianbu::exchange
