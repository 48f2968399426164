#pragma once

// Settling the rows of an import that look like customers the register already has: which
// customer an update changes, and whether the plan can be written as the operator left it.
// A row matching several customers updates the one sharing the most key fields; when two or
// more share as many, the operator picks one. No customer is updated by two rows of a file.

#include "export/RegisterAccess.h"
#include "export/VCardFormat.h"

#include <QHash>
#include <QString>

#include <vector>

namespace lianbu::exchange {

// A register customer a file record matches, with the number of key fields they share (手机,
// 客户简称, 姓名, each compared as the duplicate check compares them).
struct MatchedCustomer
{
    qint64 id = 0;
    int sharedFields = 0;
    bool operator==(const MatchedCustomer &) const = default;
};

int sharedKeyFields(const CustomerRecord &record, const CustomerRecord &customer);

// The matches of `record` among `customers` (ids from DuplicateIndex::matches), best first:
// more shared key fields, then the lower id.
std::vector<MatchedCustomer> rankMatches(const CustomerRecord &record, const std::vector<qint64> &ids,
                                         const QHash<qint64, CustomerRecord> &customers);

// The customer an update changes unless the operator says otherwise: the only one with the
// most shared key fields; 0 when that is ambiguous.
qint64 bestMatch(const std::vector<MatchedCustomer> &ranked);

// What the operator decided for one listed row.
struct DuplicateDecision
{
    std::size_t record = 0;               // index into the file's records
    std::vector<MatchedCustomer> matches; // best first; empty when it only repeats the file
    ImportAction action = ImportAction::Skip;
    qint64 target = 0;       // the customer an update changes; 0: not chosen
    bool withinFile = false; // matches an earlier record of the file only
};

// The records that look like customers of the register (same 手机, or same 客户简称 and 姓名)
// or, failing that, like an earlier record of the file, in file order. Each starts as skip,
// updating its best match (0 when several match equally well).
std::vector<DuplicateDecision> findDuplicates(const std::vector<ImportRow> &records,
                                              const std::vector<IdentifiedCustomer> &customers);
// The operator's choice for a row. A row that only repeats an earlier one of the file has
// nothing in the register to update: update falls back to skip.
void chooseAction(DuplicateDecision &decision, ImportAction action);
// The customer a row updates; one that is not among its matches leaves it unchosen (0).
void chooseTarget(DuplicateDecision &decision, qint64 customer);

// A row that keeps the plan from being written, and why.
struct UnsettledRow
{
    enum class Reason {
        NoCustomerChosen, // several customers match equally well and none was picked
        AlreadyUpdated,   // an earlier row of the file updates the same customer
    };
    int line = 0;
    Reason reason = Reason::NoCustomerChosen;
    int earlierLine = 0; // AlreadyUpdated: the row that updates it
};

struct ImportPlan
{
    std::vector<PlannedRow> rows;
    std::vector<UnsettledRow> unsettled;
    bool ready() const { return unsettled.empty(); }
};

// Every record as an add, except the listed ones, which are added, skipped or update their
// chosen customer. A target that is not one of the row's matches counts as not chosen.
ImportPlan planImport(const std::vector<ImportRow> &records, const std::vector<DuplicateDecision> &decisions);

// What the operator is told about the unsettled rows (Chinese, one sentence per row).
QString unsettledText(const std::vector<UnsettledRow> &unsettled);

// Line numbers for a message: the first 50, joined, then how many there are.
QString linesText(const std::vector<int> &lines);
// The values a reader mended, for the preview and the summary (the first 20, then how many).
QString repairsText(const std::vector<VCardRepair> &repairs);
// The box shown when an import is written: counts, rows added for deleted customers, lines
// that could not be read, mended values and cut values.
QString summaryText(const ImportSummary &summary, const std::vector<int> &unreadableLines,
                    const std::vector<VCardRepair> &repairs);

} // namespace lianbu::exchange
