#pragma once

// The two dates the customer list can show of a customer's follow-ups: when the last one was
// made (最近跟进) and the earliest promise still open (下次联系: the one to keep first, overdue or
// not, since that is what the operator has to act on). Kept per customer in a table of their own
// by triggers on the follow-ups, so every writer keeps them true and the list reads a screen of
// them, or sorts a million customers by them, without going through the whole history.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <unordered_map>
#include <vector>

namespace lianbu::db {
class Connection;
class Engine;
} // namespace lianbu::db

namespace lianbu::data {

inline constexpr char kFollowUpDatesTable[] = "followup_dates";

// The names the list's two columns bind to (kept in users' column layouts).
inline constexpr char kLastFollowUpField[] = "last_followup";
inline constexpr char kNextContactField[] = "next_contact";

// The table, its triggers on the follow-ups and on data, and its first filling from them. The
// table holds customers of data only: a customer deleted (into the bin or by any writer) leaves.
QStringList followUpDateStatements(const db::Engine &engine);

// For a register whose table was made before it was kept to the customers of data: its triggers
// made again and the rows of customers no longer in data removed.
QStringList followUpDatesOnlyListedStatements(const db::Engine &engine);

struct FollowUpDates
{
    QDateTime last; // UTC; invalid when the customer has no follow-up
    QDate next;     // invalid when no promise is open
};

// The dates of `keys` (customers without follow-ups are left out), one statement per few hundred.
std::unordered_map<qint64, FollowUpDates> readFollowUpDates(db::Connection &connection,
                                                            const std::vector<qint64> &keys);

enum class FollowUpDate { Last, Next };

// The positions into `keys` in the order of the date: stable, customers without one first
// ascending and last descending (as the list sorts its other columns).
std::vector<int> orderByFollowUpDate(db::Connection &connection, FollowUpDate date, bool descending,
                                     const std::vector<qint64> &keys);

} // namespace lianbu::data
