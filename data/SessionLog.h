#pragma once

#include <QDateTime>
#include <QString>

namespace lianbu::db {
class Connection;
}

namespace lianbu::data {

// The sessions of table rz: one row per login, its end time written at logout.

// Writes the session row of the operator logging in and returns its id: the key this very insert
// got (never the newest id, which another instance logging in at the same moment may own).
// Throws lianbu::Error when the row is refused.
int startSession(db::Connection &connection, const QString &name, const QDateTime &loginTime);

// Writes the logout time into the session's row.
void endSession(db::Connection &connection, int sessionId, const QDateTime &logoutTime);

} // namespace lianbu::data
