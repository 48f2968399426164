#pragma once

#include "data/CustomerColumns.h"
#include <QString>
#include <QStringList>

class QSqlDatabase;

namespace lianbu {

// The delivered database: tables data, userdb and rz and the super administrator's row, whose
// password is the hash of the default password.
//
// data    a..m, z, day1: VARCHAR(n) (widths in kDataColumns); rows are identified by SQLite's
//         rowid, which "select * from data" does not show.
// userdb  username VARCHAR(50), passwd VARCHAR(50), in this order. SQLite keeps the declared width
//         as a name only: passwd holds a password hash of about 100 characters.
// rz      id INTEGER PRIMARY KEY AUTOINCREMENT (ids only grow, also after deletions),
//         username VARCHAR(50), btime VARCHAR(30), jtime VARCHAR(30).
// and what version 2 of the register adds (data/RegisterUpgrade.h): login_attempts,
// password_changes, register_version.
struct DataColumn
{
    const char *name;
    int width;
};
inline constexpr DataColumn kDataColumns[] = {
    {col::Category, 50}, {col::ShortName, 50}, {col::Name, 30},     {col::Sex, 10},      {col::Position, 30},
    {col::Mobile, 30},   {col::Phone, 30},     {col::Fax, 30},      {col::Address, 100}, {col::Company, 100},
    {col::Postcode, 20}, {col::Email, 60},     {col::Website, 100}, {col::Notes, 200},   {col::RegistrationDate, 20},
};

// The name of the super administrator.
QString superAdministratorName();

namespace db {
class Engine;
}
// The SQL that creates the three tables on the engine (one statement per entry; SQLite when none
// is named); the super administrator's row is added with its password bound.
QStringList deliveredSchemaStatements(const db::Engine &engine);
QStringList deliveredSchemaStatements();

// The indexes the statistics' counts group by instead of sorting every customer: the address's
// first characters and the registration date's month. The counts write exactly these
// expressions, or the engine would not use the indexes.
inline constexpr int kAddressStartLength = 8;
QString addressStartExpression();      // substr(i,1,8)
QString registrationMonthExpression(); // substr(day1,1,7)
// The statements that make them where they are missing (the same text on both engines).
QStringList countIndexStatements();

// The follow-up counts' indexes: by operator and by month of contact, of the follow-ups outside
// the recycle bin only. The counts read these small indexes instead of the whole history; they
// write the same expression and the same condition ("binned=0"), or the engine would not use them
// (binned among the operator index's columns lets SQLite count from the index alone; customer
// lets a click on an operator's bar find his customers from it alone too).
QString followUpMonthExpression(); // substr(contact_time,1,7)
QStringList followUpCountIndexStatements();
// The operator index made again with the customer, for a register that has it without.
QStringList followUpOperatorIndexRemakeStatements();

// Creates the delivered database at `path`. Refuses (lianbu::Error) when the file already
// exists; the file appears complete or not at all (built under a temporary name, then renamed).
void createDeliveredDatabase(const QString &path);

namespace db {
class Connection;
}
// "" when the database holds the tables data, userdb and rz; else the reason in Chinese. Used as
// the connection's content check, so a foreign file is refused before anything in it changes.
QString deliveredSchemaProblem(const QSqlDatabase &database);
// Throws lianbu::Error naming the file when the open database lacks one of the three tables.
void checkDeliveredSchema(db::Connection &connection);

} // namespace lianbu
