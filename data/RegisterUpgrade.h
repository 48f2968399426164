#pragma once

#include <QString>
#include <QStringList>

namespace lianbu::db {
class Connection;
class Engine;
} // namespace lianbu::db

namespace lianbu::data {

// The register's own version, in the table register_version (one row, column version). A
// register without that table was written by an older version (version 1): it may hold plain
// passwords and lacks the attempt and password-change logs.
//
// Version 2: every password was hashed once, when the register was upgraded, so a plain value
// found in passwd afterwards was written by someone else and is refused; login_attempts and
// password_changes exist.
//
// Version 3: operator_rights (every operator of an older register keeps what he could do before:
// everything but administering operators), change_log and customer_bin.
//
// Version 4: followups, followup_ways (with the first ways) and followup_reminders_off.
//
// Version 5: on a server register the customers' log is written by the server's triggers, and
// change_log rows cannot be changed or deleted (data::serverLogStatements); nothing new on data.db.
//
// Version 6: on a server register the triggers also log the writes of operators, their rights and
// follow-ups, and a session that names no operator is logged as such (nothing new on data.db).
//
// Version 7: customer_changes, the change feed other instances follow (data/ChangeFeed), with its
// triggers on both engines.
//
// Version 8: the statistics' indexes of the customers' address beginnings and registration months
// (data_address_start, data_day1_month; lianbu::countIndexStatements), made once here rather
// than by the first count, which held the register's write lock for seconds.
//
// Version 9: the follow-up counts' indexes, by operator and by month of contact
// (followups_operator, followups_month; lianbu::followUpCountIndexStatements).
//
// Version 10: on a server, the change feed's trigger trims from where its last trim in the same
// transaction ended (a large import no longer slows with every row it writes).
//
// Version 11: followup_dates holds customers of data only (a trigger on data removes a deleted
// customer's row, so 未跟进客户 counts from it alone), and followups_operator holds the customer
// (a click on an operator's bar lists his customers from the index).
//
// Version 12: the quick search's stale-list triggers on data.db carry no conflict clause, so a
// writer's own (UPDATE OR FAIL, OR ABORT, OR ROLLBACK) no longer fails a second write of a
// customer the list already holds.
inline constexpr int kRegisterVersion = 12;
inline constexpr char kVersionTable[] = "register_version";
inline constexpr char kPasswordChangeTable[] = "password_changes";

// The statements that create what version 2 adds, for a new register (the row of
// register_version is written by the caller).
QStringList versionTwoStatements(const db::Engine &engine);
// The same for what version 3 adds.
QStringList versionThreeStatements(const db::Engine &engine);
QStringList versionFourStatements(const db::Engine &engine);
QStringList versionSevenStatements(const db::Engine &engine);

// True when the register needs no change of its schema (read only: a role with data rights
// only may ask).
bool registerIsCurrent(db::Connection &connection);

// Brings an older register up to date, once, in one transaction: the missing tables, every
// plain password replaced by its hash (the operators keep their passwords) and the version row.
// Does nothing, and runs no statement that changes the schema, when the register is current.
// On a server whose user may not create tables, throws lianbu::Error naming in Chinese the
// right that is missing.
void upgradeRegister(db::Connection &connection);

// Replaces every plain value in passwd by its hash (the upgrade's step; tests that write
// passwords into userdb directly use it too).
void hashPlainPasswords(db::Connection &connection);

} // namespace lianbu::data
