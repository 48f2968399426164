#pragma once

#include "data/CustomerStore.h"
#include "data/FollowUpStore.h"
#include "db/ListRows.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class GridReport;
class PrintPreviewWindow;
class QWidget;

namespace lianbu::data {
class SessionOperator;
}

namespace lianbu::followups {

// The print of one customer's card: its fields above, its follow-up history (newest first) as the
// printed list below, in the print preview.
class CustomerCard
{
public:
    CustomerCard(data::CustomerRecord customer, std::vector<data::FollowUp> history);
    ~CustomerCard();

    // Sets `report` up for the card: title, the fields as the text before the list, the history as
    // the list. The card must outlive the report's generations.
    void setUp(GridReport &report) const;
    const db::RowReader &rows() const { return *m_rows; }

private:
    data::CustomerRecord m_customer;
    std::unique_ptr<db::RowReader> m_rows;
};

// The card of `customer` read afresh from the register and shown in a print preview that belongs
// to `owner` (one for the owner, reused). Needs the right to print; a customer deleted meanwhile
// is reported.
void printCustomerCard(db::Connection &connection, const data::SessionOperator &by, qint64 customer, QWidget *owner);

} // namespace lianbu::followups
