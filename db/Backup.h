#pragma once

#include "db/DamageCheck.h"

#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>

namespace lianbu::db {

// Copies and restores of the register made by SQLite itself (its online backup API), so that
// nothing but the engine ever opens the register's files and a copy is consistent even while
// other instances write: the copy is the database as of one committed moment.

// Copies the database `source` into a new file `target` (which must not exist): written under a
// temporary name in the target's folder, checked (integrity and `check`) and renamed only when
// complete and sound, so a damaged register leaves no backup. The copy is a single file
// (rollback journal). Waits up to `busyTimeoutMs` for writers holding the database. Throws
// lianbu::Error naming the file and the reason.
void backupDatabase(const QString &source, const QString &target, int busyTimeoutMs = 5000,
                    const ContentCheck &check = {});

// Opens `file` read-only and checks it with PRAGMA integrity_check and `check`. Throws
// lianbu::Error naming the file and the reason (in Chinese) when it fails.
void verifyDatabaseFile(const QString &file, const ContentCheck &check);

// The folder of the automatic and menu backups: "backups" next to the register.
QString backupFolder(const QString &registerFile);
// The backups in `folder`, oldest first ("data-yyyyMMdd-HHmmss.db").
QStringList listBackups(const QString &folder);
// A new, checked backup of the register into its backup folder (created when missing), named for
// `now`, or for the second after the newest backup when the clock is behind it; then all but the
// newest `keep` backups are removed (never the new one). A register that fails the check leaves
// every backup as it was. Returns the new file.
QString makeBackup(const QString &registerFile, const QDateTime &now, int keep = 7, const ContentCheck &check = {});
// Makes a backup unless one of `now`'s day exists already; returns the new file or "".
QString makeDailyBackup(const QString &registerFile, const QDateTime &now, int keep = 7,
                        const ContentCheck &check = {});

// Puts the backup `backupFile` in place of `registerFile`. The backup is checked first
// (integrity and `check`); the register is replaced only when no connection anywhere holds it
// (SQLite must be able to leave WAL mode, which it refuses while any other connection is open),
// and it is kept as "<register>.replaced-yyyyMMdd-HHmmss". The swap is one atomic rename; the
// engine's exclusive lock on the old file is held until the new one has its name, so no other
// instance can write to the old file in between. Returns the path of the kept file. Throws
// lianbu::Error (English message, Chinese operator text) and changes nothing when refused.
QString restoreDatabase(const QString &backupFile, const QString &registerFile, const ContentCheck &check,
                        const QDateTime &now);

} // namespace lianbu::db
