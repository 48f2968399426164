#pragma once

#include "platform/Error.h"

#include <QString>

class QSqlDatabase;
class QSqlDriver;
class QSqlError;
class QSqlQuery;

namespace lianbu::db {

// What went wrong in the database engine, as far as the operator needs to know.
enum class EngineFault {
    Other,
    Busy,              // another connection holds the lock longer than the busy timeout
    Full,              // the disk (or the engine's size limit) is full
    ReadOnly,          // the file, its folder or its -wal/-shm cannot be written
    Damaged,           // not a database, or a damaged one
    Io,                // the operating system refused a read or write
    CannotOpen,        // the file cannot be opened at all
    PatternTooComplex, // a LIKE pattern beyond the engine's limit
    Unreachable,       // the database server cannot be reached, or the connection to it broke
};

// The fault of an SQLite result code (primary or extended) and the engine's text.
EngineFault engineFault(int sqliteCode, const QString &engineText = {});
// Either engine's error: a five-character code is the server's SQLSTATE, anything else is an
// SQLite result code (at most four digits, also for the extended codes).
EngineFault engineFault(const QSqlError &error);
// The fault of a PostgreSQL error, from its SQLSTATE.
EngineFault postgresFault(const QSqlError &error);

// The one Chinese text of every engine fault; names the file (or the server register, when
// `file` is a postgresql:// address) where the fault concerns it.
QString operatorText(EngineFault fault, const QString &file, const QString &engineText);

// The English words of a refusal at open for a file that is damaged or no database at all.
inline constexpr QLatin1String kDamagedFileReason("the file is not a database or it is damaged");

// Why a register file is refused at open when the engine could not open or read it: the English
// reason the layer has always given (locked, damaged, cannot be written, else the engine's own
// words) and the operator's reason in Chinese.
struct RefusalReason
{
    QString english;
    QString chinese;
};
RefusalReason refusalReason(const QSqlError &error);

// The reason, in Chinese, of a failed login to a server, from the text libpq gives ("" when the
// text says nothing the operator could act on).
QString serverLoginProblem(const QString &clientText);

// The error a refused statement throws: the engine's own English text as the message (callers
// and logs compare it), the Chinese text for the operator.
Error engineError(const QSqlError &error, const QString &file);

// The absolute path of the main database file of a connection ("" for a memory database); for a
// server connection its address without password.
QString databaseFile(const QSqlDatabase &database);
QString databaseFile(const QSqlDriver *driver);

// Runs a prepared query; while the engine answers busy or locked it is run again, until
// `busyTimeoutMs` have passed. SQLite's own busy handler does not cover every case (a WAL
// recovery or a lock taken while another connection checkpoints answer busy at once).
bool execRetrying(QSqlQuery &query, int busyTimeoutMs);
// The same for a statement text.
bool execRetrying(QSqlQuery &query, const QString &sql, int busyTimeoutMs);

} // namespace lianbu::db
