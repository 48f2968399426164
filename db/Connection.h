#pragma once

#include "db/RegisterAddress.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>

namespace lianbu {
class Error;
}

namespace lianbu::db {

// One register: an SQLite database file reached through Qt SQL's QSQLITE driver, or a database
// on a PostgreSQL server through QPSQL (setAddress with a server address). Every instance has its
// own Qt connection name, so several connections (also to the same register, also on other
// threads) live side by side. Opened SQLite connections use the WAL journal, synchronous=FULL
// and a busy timeout, so several program instances can write the same file: a statement waits
// for the other writer instead of failing, and a committed statement is on disk when it returns.
class Connection
{
public:
    Connection();
    explicit Connection(const QString &fileName);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // The database file. A relative name is looked up in the current working directory when
    // the connection opens. A postgresql:// address is taken as setAddress would.
    void setFileName(const QString &fileName);
    // For a file register the file name; for a server register its address without password.
    QString fileName() const { return m_fileName; }
    // The register: a file (as setFileName) or a database server. A server address's password
    // is used to log in and kept in memory only.
    void setAddress(const RegisterAddress &address);
    const RegisterAddress &address() const { return m_address; }
    bool isServer() const { return m_address.isServer(); }

    // Milliseconds a statement waits for another writer before it fails (default 5000).
    void setBusyTimeout(int milliseconds) { m_busyTimeout = milliseconds; }
    int busyTimeout() const { return m_busyTimeout; }

    // A check of the file's contents run on a read-only connection before the file is opened for
    // writing (on a server: right after connecting): returns "" to accept, else the reason (in
    // Chinese) the register is refused.
    void setContentCheck(std::function<QString(const QSqlDatabase &)> check) { m_contentCheck = std::move(check); }

    // Whether open() reads the whole file for damage first (on by default). A second connection
    // of this process to a file the first one has already checked skips that read, which takes
    // seconds on a large register.
    void setIntegrityCheck(bool on) { m_integrityCheck = on; }

    // For a file larger than `bytes`, open() reads for damage only the tables `checkedAtOpen`
    // names (and the schema): the whole file can take many seconds to read, and the caller has
    // the rest read beside the running program (BackgroundDamageCheck). Files up to that size
    // are read whole as before.
    void setLargeFileCheck(qint64 bytes, std::function<bool(const QString &table)> checkedAtOpen)
    {
        m_largeFileBytes = bytes;
        m_checkedAtOpen = std::move(checkedAtOpen);
    }
    // True when the last open() left tables unread for damage.
    bool wholeCheckDeferred() const { return m_wholeCheckDeferred; }

    // Opens the file. Never creates it, and changes nothing in a file it refuses: a missing,
    // empty, unreadable or unwritable file (or folder, or -wal/-shm), a locked, damaged (quick
    // check) or non-database file, or one the content check refuses, throws lianbu::Error naming
    // the file (English message, Chinese operator text); the connection then stays closed. Only
    // an accepted file is switched to the WAL journal.
    void open();
    void close();
    bool isOpen() const;

    // Runs a statement that returns no rows; returns the number of rows it changed.
    // A refused statement throws lianbu::Error with the engine's message.
    int execute(const QString &sql);

    // The Qt database handle (valid while the connection object lives). On a server, a
    // connection the server dropped while it was idle (a restart, a terminated session) is
    // opened again here first, so the next action works; the reconnection notice is given.
    // Never inside a transaction.
    QSqlDatabase database() const;
    QString connectionName() const { return m_connectionName; }

private:
    void keepServerConnection(const QSqlDatabase &db) const;
    void checkBeforeOpening(const QString &path) const;
    void checkReadOnly(const QString &path) const;
    void openServer();

    QString m_fileName;
    RegisterAddress m_address;
    int m_connectTimeout = 10; // seconds a server connection may take to be made
    std::function<QString(const QSqlDatabase &)> m_contentCheck;
    QString m_connectionName;
    int m_busyTimeout = 5000;
    bool m_integrityCheck = true;
    qint64 m_largeFileBytes = -1; // no limit
    std::function<bool(const QString &)> m_checkedAtOpen;
    mutable bool m_wholeCheckDeferred = false;
    mutable qint64 m_nextReconnectMs = 0; // after a failed reconnection, not before this moment
};

// Called (on the main thread, queued) whenever a server connection was opened again after the
// server dropped it, with the register's address; the main window says so in its status bar.
void setReconnectionNotice(std::function<void(const QString &address)> notice);

// True when `error`, thrown by Connection::open(), says the file is damaged or not a database
// (what a restore from a backup mends).
bool isDamageRefusal(const Error &error);

} // namespace lianbu::db
