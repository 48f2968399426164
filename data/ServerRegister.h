#pragma once

#include "db/RegisterAddress.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace lianbu {

// Registers on a PostgreSQL server: creating one in an empty database, and moving an SQLite
// register (data.db) into one.

// The quick search's substring conditions are served on the server by pg_trgm GIN indexes over
// the six searched columns, folded as the search folds them (ASCII letters to lower case).
QStringList serverSearchIndexStatements();

struct ServerCreation
{
    bool searchIndex = false;   // pg_trgm and its indexes were created
    QString searchIndexProblem; // why not, when not (the register works without them)
};

// Creates data, userdb (with its unique operator index), rz and login_attempts and the super
// administrator (the hash of the default password) in the database at `address`, in one
// transaction. Refuses (lianbu::Error) a database that already holds any of those tables.
ServerCreation createServerRegister(const db::RegisterAddress &address);

struct ServerCheck
{
    bool connected = false;   // the server accepted the login
    bool hasRegister = false; // and the database holds the register's tables
    QString text;             // what to tell the operator
};

// Connects to `address` and looks for the register's tables, on the calling thread (it may
// wait for the server up to the connection timeout: call it from a worker thread).
ServerCheck checkServerRegister(const db::RegisterAddress &address);

struct CopiedTable
{
    QString table;
    qint64 rows = 0;
};

// Copies the SQLite register `file` into the empty database at `address`: the same tables,
// every row with its id (customer keys and session ids included), identity sequences moved past
// every id the file ever gave, the row counts compared before the one transaction commits.
// A refusal or a failure leaves the server database as it was. `progress(table, done)` is
// called now and then.
QList<CopiedTable> copyRegisterToServer(const QString &file, const db::RegisterAddress &address,
                                        const std::function<void(const QString &, qint64)> &progress = {});

} // namespace lianbu
