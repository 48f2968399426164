#pragma once

#include <QSqlQuery>
#include <QString>
#include <QVariantList>

namespace lianbu::db {

class Connection;

// Runs `sql` with its positional "?" placeholders bound to `values`, in order, on an open
// connection, and returns the query positioned before its first row. Values never become
// statement text. An empty text is bound as empty text, never as NULL. A refused statement
// throws lianbu::Error with the engine's message.
QSqlQuery runBound(Connection &connection, const QString &sql, const QVariantList &values = {});

} // namespace lianbu::db
