#pragma once

#include <QString>
#include <QStringList>

namespace lianbu {

// The delivered database: tables data, userdb and rz and the super administrator's row.
//
// data    a..m, z, day1: VARCHAR(n) (widths in kDataColumns); rows are identified by SQLite's
//         rowid, which "select * from data" does not show.
// userdb  username VARCHAR(50), passwd VARCHAR(50), in this order (statement 10 names none).
// rz      id INTEGER PRIMARY KEY AUTOINCREMENT (ids only grow, also after deletions),
//         username VARCHAR(50), btime VARCHAR(30), jtime VARCHAR(30).
struct DataColumn
{
    const char *name;
    int width;
};
inline constexpr DataColumn kDataColumns[] = {
    {"a", 50}, {"b", 50}, {"c", 30}, {"d", 10}, {"e", 30}, {"f", 30}, {"g", 30}, {"h", 30},
    {"i", 100}, {"j", 100}, {"k", 20}, {"l", 60}, {"m", 100}, {"z", 200}, {"day1", 20},
};

// The name of the super administrator.
QString superAdministratorName();

// The SQL that creates the three tables and the administrator row (one statement per entry).
QStringList deliveredSchemaStatements();

// Creates the delivered database at `path`. Refuses (lianbu::Error) when the file already
// exists; the file appears complete or not at all (built under a temporary name, then renamed).
void createDeliveredDatabase(const QString &path);

namespace db { class Connection; }
// Throws lianbu::Error naming the file when the open database lacks one of the three tables.
void checkDeliveredSchema(db::Connection &connection);

} // namespace lianbu
