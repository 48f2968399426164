#pragma once

// The one read of a register file for damage: at open (Connection), of a backup and of the copy a
// restore puts in place (Backup), and of a large register beside the running program
// (BackgroundDamageCheck). It reads through a read-only connection of its own, so it changes
// nothing in the file; callers word what it finds.

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <functional>
#include <mutex>

struct sqlite3;

namespace lianbu::db {

// A check of a database's contents: "" accepts, else the reason in Chinese.
using ContentCheck = std::function<QString(const QSqlDatabase &)>;

// Lets another thread stop a read while it runs: the running statement is interrupted.
class DamageReadStop
{
public:
    void stop();
    bool stopped() const;

private:
    friend struct DamageReadHandle;
    mutable std::mutex m_mutex;
    sqlite3 *m_handle = nullptr; // while a read runs
    bool m_stopped = false;
};

struct DamageRead
{
    enum class Depth {
        SchemaOnly, // only that the file opens as a database and its schema reads
        Quick,      // PRAGMA quick_check: every page and record
        Integrity,  // PRAGMA integrity_check: besides, every index against its table
    };
    Depth depth = Depth::Quick;
    int busyTimeoutMs = 5000;
    // A file with no -wal, -shm or -journal beside it is read as immutable: no connection
    // anywhere writes it, so the read takes no locks and leaves no side files.
    bool immutableWhenUnused = false;
    // When set (Quick only), the schema and the tables it accepts are read, the others left.
    std::function<bool(const QString &table)> onlyTables;
    // Run on the same connection once the file is found sound.
    ContentCheck contentCheck;
    DamageReadStop *stop = nullptr;
};

struct DamageFinding
{
    enum class Outcome {
        Sound,     // sound as far as read, and the content check (if any) accepted it
        NotOpened, // the engine could not open the file: error
        NotRead,   // a statement of the read failed: error (a damaged file often ends here)
        Damaged,   // the check's first line names the damage: verdict
        Foreign,   // sound, but the content check refused it: contentProblem
        Stopped,   // DamageReadStop::stop
    };
    Outcome outcome = Outcome::Sound;
    QSqlError error;
    QString verdict;
    QString contentProblem;
    bool tablesLeft = false; // onlyTables left some tables unread
};

DamageFinding readForDamage(const QString &path, const DamageRead &how);

} // namespace lianbu::db
