#pragma once

#include "data/Statements.h"

#include <QDate>
#include <QString>
#include <QVariantList>

#include <vector>

class QSqlDatabase;

namespace lianbu::db {
class Engine;
}

namespace lianbu::stats {

// Which customers a row of counts stands for: a condition on table data with its values bound.
struct Selection
{
    QString condition;
    QVariantList values;
    bool isEmpty() const { return condition.isEmpty(); }
};

struct CountRow
{
    QString group; // the province of a city; empty elsewhere
    QString label;
    qint64 count = 0;
    Selection selection; // empty for a month without customers
};

enum class View {
    Category,         // 客户类别
    Province,         // province from 地址
    City,             // province and city from 地址
    AddedPerMonth,    // 登记日期
    FollowUpOperator, // follow-ups per operator
    FollowUpMonth,    // follow-ups per month
    FollowUpAbsence,  // customers without a follow-up for some days
};

struct CountRequest
{
    View view = View::Category;
    int months = 12; // the months views: the last 12 or 24 months, 0 for all
    int days = 30;   // FollowUpAbsence
    QDate today;
};

// The counts of one view, by aggregate statements on `database` (data.db or a server register):
// never every row, only a row per group. Throws lianbu::Error when the engine refuses.
std::vector<CountRow> countCustomers(const QSqlDatabase &database, const CountRequest &request);

// The lengths of address beginnings the address counts group by, shortest first: a beginning
// that does not settle the place is read again at the next length. The first is the one the
// register's index holds (lianbu::addressStartExpression).
inline constexpr int kAddressPrefixLengths[] = {8, 16, 48};

// The most values a row's customers are chosen by: one statement holds at most 32,766 on SQLite.
// A row over it (未识别 in a register of very many different unreadable addresses) is counted,
// but its customers are not listed.
inline constexpr int kMostSelectionValues = 30000;
inline bool isListable(const Selection &selection)
{
    return !selection.isEmpty() && selection.values.size() <= kMostSelectionValues;
}

// The customers of a selection: the statement the list shows and the statement of their keys.
sql::BoundStatement customersStatement(const Selection &selection);
sql::BoundStatement customerKeysStatement(const QSqlDatabase &database, const Selection &selection);
sql::BoundStatement customerKeysStatement(const db::Engine &engine, const Selection &selection);

// Labels of rows that are not a value.
QString emptyValueLabel();  // no 客户类别 / operator
QString unknownDateLabel(); // 登记日期 missing or unreadable
QString monthLabel(int year, int month);

} // namespace lianbu::stats
