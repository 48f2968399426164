#pragma once

// Customers between the register's data table and the exchange code: all customers with their
// row keys (for duplicate checks and 查重), and an import written as one transaction.

#include "export/CustomerImport.h"

#include <QSqlDatabase>

#include <vector>

namespace lianbu::data {
class SessionOperator;
}

namespace lianbu::exchange {

// Every customer of the register, ordered by row key. Throws lianbu::Error.
std::vector<IdentifiedCustomer> loadCustomers(const QSqlDatabase &database);

enum class ImportAction { Add, Update, Skip };

struct PlannedRow
{
    ImportRow row;
    ImportAction action = ImportAction::Add;
    qint64 updateId = 0; // the customer an Update overwrites
};

struct ImportSummary
{
    int added = 0;
    int updated = 0;
    int skipped = 0;
    // Values longer than their column: cut to the width and listed here (line, field, length).
    struct Cut
    {
        int line;
        CustomerField field;
        int length;
    };
    std::vector<Cut> cut;
    // Lines whose customer to update was deleted meanwhile: added as new customers instead
    // (counted in `added`), so the file's customer is not lost.
    std::vector<int> addedForDeleted;
};

// Added customers are written this many to a statement (the last statement and one before an
// update may hold fewer).
constexpr int kImportRowsPerStatement = 100;

// Writes the plan in one transaction: added rows get every field (today's date when the file
// has no 登记日期), an update overwrites only the fields the file gives a value; a customer to
// update that no longer exists is added instead (addedForDeleted). A failure or
// a cancel (progress answering false) rolls everything back and throws lianbu::Error; the
// register is then as it was. `today` is the date text for rows without a registration date.
// With the session's operator `by` (on the same register): refused (lianbu::Error with the
// operator's text, nothing written) unless he may import, and logged, naming `file`, in the
// import's transaction.
ImportSummary applyImport(QSqlDatabase database, const std::vector<PlannedRow> &plan, const QString &today,
                          const ProgressFunction &progress = {}, const data::SessionOperator *by = nullptr,
                          const QString &file = {});

} // namespace lianbu::exchange
