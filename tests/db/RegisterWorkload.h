#pragma once

#include <QString>
#include <QHash>
#include <QStringList>

namespace lianbu::db {
class Connection;
}

namespace lianbu::test {

// What several operators do to one register, as the entry panel does it: add a record, save a
// change to the shared record from the values read (all fifteen columns written back), delete an
// own record added earlier. Every step the program confirmed goes into a log, so a check at the
// end can prove that nothing confirmed was lost.
//
// Log lines: "add <b>", "del <b>", "mod <column> <value>", "refused <what>".
class RegisterWorkload
{
public:
    // `writer` (1, 2, ...) names the operator; its own column of the shared record is
    // sharedColumn(writer).
    RegisterWorkload(db::Connection &connection, int writer, const QString &logFile);

    // One round: add, save the shared record, and every third round delete the record added
    // two rounds before.
    void round(int i);

    static QString sharedShortName() { return QStringLiteral("共享记录"); }
    static QString sharedColumn(int writer) { return writer == 1 ? QStringLiteral("e") : QStringLiteral("f"); }
    static QString recordName(int writer, int i) { return QStringLiteral("W%1-%2").arg(writer).arg(i); }

private:
    void log(const QString &line);

    db::Connection &m_connection;
    int m_writer;
    QString m_logFile;
};

// What the logs of all writers promise about the register at the end.
struct Promises
{
    QStringList present;                  // confirmed added and not confirmed deleted
    QStringList absent;                   // confirmed deleted
    QHash<QString, QString> sharedValues; // column -> last confirmed value
    int refused = 0;
};
Promises readPromises(const QStringList &logFiles);

// Opens, reads and closes a connection of its own `rounds` times: each close is the moment a
// connection that wrongly believes itself alone would checkpoint and remove the -wal.
void readAndClose(const QString &file, int rounds);

} // namespace lianbu::test
