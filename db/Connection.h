#pragma once

#include <QSqlDatabase>
#include <QString>

namespace lianbu::db {

// One SQLite database file reached through Qt SQL's QSQLITE driver. Every instance has its own
// Qt connection name, so several connections (also to the same file, also on other threads)
// live side by side. Opened connections use the WAL journal, synchronous=FULL and a busy
// timeout, so several program instances can write the same file: a statement waits for the
// other writer instead of failing, and a committed statement is on disk when it returns.
class Connection
{
public:
    Connection();
    explicit Connection(const QString &fileName);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // The database file. A relative name is looked up in the current working directory when
    // the connection opens.
    void setFileName(const QString &fileName);
    QString fileName() const { return m_fileName; }

    // Milliseconds a statement waits for another writer before it fails (default 5000).
    void setBusyTimeout(int milliseconds) { m_busyTimeout = milliseconds; }
    int busyTimeout() const { return m_busyTimeout; }

    // Opens the file. Never creates it: a missing, unreadable, locked or non-database file
    // throws lianbu::Error with a message naming the file; the connection then stays closed.
    void open();
    void close();
    bool isOpen() const;

    // Runs a statement that returns no rows; returns the number of rows it changed.
    // A refused statement throws lianbu::Error with the engine's message.
    int execute(const QString &sql);

    // The Qt database handle (valid while the connection object lives).
    QSqlDatabase database() const;
    QString connectionName() const { return m_connectionName; }

private:
    QString m_fileName;
    QString m_connectionName;
    int m_busyTimeout = 5000;
};

} // namespace lianbu::db
