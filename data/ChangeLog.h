#pragma once

#include "data/OperatorRights.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace lianbu::db {
class Connection;
class Engine;
} // namespace lianbu::db

namespace lianbu::data {

// What was done. The stored words (logKindWord) never change.
enum class LogKind {
    CustomerAdded,
    CustomerChanged,
    CustomerDeleted,
    CustomerRestored, // back from the recycle bin
    CustomerPurged,   // removed from the recycle bin for good
    OperatorAdded,
    OperatorChanged,
    OperatorDeleted,
    Imported,
    Exported,
    BackedUp,
    Restored,
    LoginFailed,
    FollowUpAdded,
    FollowUpChanged,
    FollowUpDeleted,
    BackupFailed,
};
inline constexpr LogKind kLogKinds[] = {LogKind::CustomerAdded,    LogKind::CustomerChanged, LogKind::CustomerDeleted,
                                        LogKind::CustomerRestored, LogKind::CustomerPurged,  LogKind::OperatorAdded,
                                        LogKind::OperatorChanged,  LogKind::OperatorDeleted, LogKind::Imported,
                                        LogKind::Exported,         LogKind::BackedUp,        LogKind::Restored,
                                        LogKind::LoginFailed,      LogKind::FollowUpAdded,   LogKind::FollowUpChanged,
                                        LogKind::FollowUpDeleted,  LogKind::BackupFailed};

QString logKindWord(LogKind kind);
std::optional<LogKind> logKindOfWord(const QString &word);
QString logKindText(LogKind kind); // 增加客户, 修改客户, ...

// One field of a change: its column (or, for an operator, what changed) and its values before and
// after (nullopt: null, or not there).
struct FieldChange
{
    QString field;
    std::optional<QString> before;
    std::optional<QString> after;
    bool operator==(const FieldChange &) const = default;
};

struct LogEntry
{
    qint64 id = 0;
    QDateTime time; // UTC; the register's clock when written
    QString operatorName;
    QString pc;
    LogKind kind = LogKind::CustomerChanged;
    qint64 customerKey = 0; // 0: not about one customer
    QString subject;        // the customer's 客户简称, the operator's name, the file
    std::vector<FieldChange> fields;
};

struct LogFilter
{
    QDate from; // local dates, both included; invalid: open
    QDate to;
    QString operatorName;        // exactly; empty: any
    QString customer;            // part of the subject, or a customer key; empty: any
    std::optional<LogKind> kind; // nullopt: any
};

// This computer's name as the log shows it.
QString localPcName();

inline constexpr char kChangeLogTable[] = "change_log";
QStringList changeLogStatements(const db::Engine &engine);

// On a server register the server writes the log of every row written itself: triggers on data
// and customer_bin (customers added, changed, deleted, restored, removed for good), userdb and
// operator_rights (operators added, changed, deleted) and followups log each write, whoever makes
// it (psql included), with the operator the session named (nameSessionOperator; else
// unnamedSessionMarker and the database user), and refuse any update, delete or truncate of
// change_log. Run by the register's owner; the statements replace what an earlier run made.
QStringList serverLogStatements();
// What the server logs as the operator of a session that named none, before its database user.
QString unnamedSessionMarker();
// Names the session's operator and PC for the server's triggers (nothing on data.db).
void nameSessionOperator(db::Connection &connection, const QString &name);
// Writes the entry of a row the caller just wrote, on data.db; on a server register its triggers
// have logged that write already.
void logRowWrite(db::Connection &connection, const LogEntry &entry);

// The change log of the register: who did what, when, from which PC. Rows are only ever added.
class ChangeLog
{
public:
    explicit ChangeLog(db::Connection &connection);

    // Writes one entry (its time, when invalid, from the register's clock; its PC, when empty,
    // this computer's), inside whatever transaction the connection is in.
    void write(LogEntry entry);

    // The entries the filter lets through, newest first: up to `count` of them, older than
    // entry `before` (0: from the newest). Paged by key, so a page costs the same on any page.
    std::vector<LogEntry> entries(const LogFilter &filter, int count, qint64 before = 0) const;
    qint64 count(const LogFilter &filter) const;

private:
    db::Connection &m_connection;
};

// The operator of a session on his register, for what is not one customer's write (import,
// export, print, backup, restore): each of those asks `require` before it starts and logs what it
// did. An empty name is the program's own tools: nothing is refused.
class SessionOperator
{
public:
    SessionOperator(db::Connection &connection, QString name);

    const QString &name() const { return m_name; }
    db::Connection &connection() const { return m_connection; }
    // Throws lianbu::Error with refusalText when the operator lacks `right`.
    void require(Right right) const;
    // Writes an entry of this operator, inside whatever transaction the connection is in.
    void log(LogKind kind, const QString &subject, std::vector<FieldChange> fields = {}) const;

private:
    db::Connection &m_connection;
    QString m_name;
};

// True when there is no session operator or he has `right`; else the operator is told why
// (an information box over `parent`) and the answer is false.
bool mayDo(const SessionOperator *by, Right right, QWidget *parent);

// Runs `write` and whatever it logs as one unit on the connection: both stay, or neither does
// (an exception from either undoes both and goes on to the caller). Nests inside a transaction
// the caller already holds.
void runLogged(db::Connection &connection, const std::function<void()> &write);
// The same, with `operatorName` (when not empty) named for the server's triggers for this write
// only: its log names the operator the program acts for, whoever the session named.
void runLogged(db::Connection &connection, const QString &operatorName, const std::function<void()> &write);

} // namespace lianbu::data
