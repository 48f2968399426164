#include "data/AttemptLog.h"

#include "data/ChangeLog.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "platform/Clock.h"
#include "platform/Error.h"

namespace lianbu::data {

namespace {

// Milliseconds, so a wait of one second is measured from the failure itself.
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
const QString kSuccess = QStringLiteral("success");
const QString kFailure = QStringLiteral("failure");
const QString kChecking = QStringLiteral("checking");

// Stored words of the kinds; never change them.
QString kindWord(AttemptKind kind)
{
    switch (kind) {
    case AttemptKind::Login:
        return QStringLiteral("login");
    case AttemptKind::Unlock:
        return QStringLiteral("unlock");
    case AttemptKind::PasswordChange:
        return QStringLiteral("change");
    }
    return {};
}

AttemptKind kindOf(const QString &word)
{
    if (word == QLatin1String("unlock"))
        return AttemptKind::Unlock;
    if (word == QLatin1String("change"))
        return AttemptKind::PasswordChange;
    return AttemptKind::Login;
}

// Enough rows to see a streak long enough for the longest wait.
constexpr int kStreakRows = 64;

QString table()
{
    return QLatin1String(AttemptLog::kTable);
}

} // namespace

QString attemptTimeText(const QDateTime &time)
{
    return time.toUTC().toString(kTimeFormat);
}

QDateTime attemptTimeOf(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, kTimeFormat);
    time.setTimeSpec(Qt::UTC);
    return time;
}

QString attemptTableStatement(const db::Engine &engine)
{
    return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (id %2, username VARCHAR(50), attempt_time VARCHAR(30), "
                          "outcome VARCHAR(10), kind VARCHAR(10))")
        .arg(table(), engine.growingKeyType());
}

AttemptLog::AttemptLog(db::Connection &connection)
    : m_connection(connection)
{}

bool AttemptLog::tableExists() const
{
    const QSqlDatabase database = m_connection.database();
    return db::engineOf(database).tableNames(database).contains(table());
}

QDateTime AttemptLog::clockNow() const
{
    if (!m_connection.isServer())
        return lianbu::now().toUTC();
    // The server's clock: no client's clock or time zone moves another client's waits.
    QSqlQuery query = db::runBound(
        m_connection,
        QStringLiteral("select to_char(clock_timestamp() at time zone 'UTC', 'YYYY-MM-DD HH24:MI:SS.MS')"));
    if (!query.next())
        throw Error(QStringLiteral("The server did not tell its time."));
    return attemptTimeOf(query.value(0).toString());
}

void AttemptLog::record(const QString &name, const QDateTime &time, bool success, AttemptKind kind)
{
    const db::Engine &engine = db::engineOf(m_connection.database());
    QSqlQuery query =
        db::runBound(m_connection,
                     QStringLiteral("insert into %1 (username,attempt_time,outcome,kind) values (?,?,?,?)").arg(table())
                         + engine.insertKeySuffix(QStringLiteral("id")),
                     {name, attemptTimeText(time), success ? kSuccess : kFailure, kindWord(kind)});
    prune(engine.insertedKey(query));
}

void AttemptLog::prune(qint64 newestId)
{
    if (newestId > kKeptAttempts)
        db::runBound(m_connection, QStringLiteral("delete from %1 where id<=?").arg(table()),
                     {newestId - kKeptAttempts});
}

FailureStreak AttemptLog::streak(const QString &name) const
{
    FailureStreak result;
    if (!tableExists())
        return result;
    QSqlQuery query = db::runBound(
        m_connection,
        QStringLiteral("select outcome, attempt_time, id from %1 where username=? order by id desc limit %2")
            .arg(table())
            .arg(kStreakRows),
        {name});
    bool newest = true;
    while (query.next()) {
        const QString outcome = query.value(0).toString();
        if (outcome != kFailure && outcome != kChecking)
            break;
        if (result.failures == 0) {
            result.lastFailure = attemptTimeOf(query.value(1).toString());
            result.lastId = query.value(2).toLongLong();
        }
        if (newest)
            result.checking = outcome == kChecking;
        newest = false;
        ++result.failures;
    }
    return result;
}

std::optional<qint64> AttemptLog::claim(const QString &name, AttemptKind kind,
                                        const std::function<bool(const FailureStreak &, const QDateTime &)> &mayCheck)
{
    const bool server = m_connection.isServer();
    const db::Engine &engine = db::engineOf(m_connection.database());
    // SQLite: the write lock of the file, taken before the streak is read; on the server a lock
    // per name, held to the end of the transaction.
    db::runBound(m_connection, server ? QStringLiteral("begin") : QStringLiteral("BEGIN IMMEDIATE"));
    try {
        if (server)
            db::runBound(m_connection, QStringLiteral("select pg_advisory_xact_lock(hashtext(?))"),
                         {QStringLiteral("lianbu login ") + name});
        const QDateTime now = clockNow();
        std::optional<qint64> id;
        if (mayCheck(streak(name), now)) {
            QSqlQuery query = db::runBound(
                m_connection,
                QStringLiteral("insert into %1 (username,attempt_time,outcome,kind) values (?,?,?,?)").arg(table())
                    + engine.insertKeySuffix(QStringLiteral("id")),
                {name, attemptTimeText(now), kChecking, kindWord(kind)});
            id = engine.insertedKey(query);
            query.finish();
            prune(*id);
        }
        db::runBound(m_connection, QStringLiteral("commit"));
        return id;
    } catch (...) {
        QSqlQuery(m_connection.database()).exec(QStringLiteral("rollback"));
        throw;
    }
}

void AttemptLog::finish(qint64 claimId, bool success)
{
    const QDateTime now = clockNow();
    runLogged(m_connection, [&] {
        db::runBound(m_connection, QStringLiteral("update %1 set outcome=?, attempt_time=? where id=?").arg(table()),
                     {success ? kSuccess : kFailure, attemptTimeText(now), claimId});
        const QSqlDatabase database = m_connection.database();
        if (success || !db::engineOf(database).tableNames(database).contains(QLatin1String(kChangeLogTable)))
            return;
        // A failure goes into the change log too, where the administrator looks first.
        QSqlQuery row = db::runBound(
            m_connection, QStringLiteral("select username, kind from %1 where id=?").arg(table()), {claimId});
        if (!row.next())
            return;
        LogEntry entry;
        entry.time = now;
        entry.kind = LogKind::LoginFailed;
        entry.subject =
            row.value(0).toString().isEmpty() ? QStringLiteral("（不存在的用户名）") : row.value(0).toString();
        entry.fields.push_back(
            {QStringLiteral("位置"), std::nullopt, attemptKindText(kindOf(row.value(1).toString()))});
        row.finish();
        ChangeLog(m_connection).write(entry);
    });
}

std::vector<Attempt> AttemptLog::lastFailures(int count, int skip) const
{
    std::vector<Attempt> result;
    if (count <= 0 || !tableExists())
        return result;
    QSqlQuery query = db::runBound(m_connection,
                                   QStringLiteral("select username, attempt_time, kind from %1 where outcome=? "
                                                  "order by id desc limit ? offset ?")
                                       .arg(table()),
                                   {kFailure, count, std::max(0, skip)});
    while (query.next())
        result.push_back({query.value(0).toString(), attemptTimeOf(query.value(1).toString()), false,
                          kindOf(query.value(2).toString())});
    return result;
}

int AttemptLog::failureCount() const
{
    if (!tableExists())
        return 0;
    QSqlQuery query =
        db::runBound(m_connection, QStringLiteral("select count(*) from %1 where outcome=?").arg(table()), {kFailure});
    return query.next() ? query.value(0).toInt() : 0;
}

QString attemptKindText(AttemptKind kind)
{
    switch (kind) {
    case AttemptKind::Login:
        return QStringLiteral("登录");
    case AttemptKind::Unlock:
        return QStringLiteral("用户管理");
    case AttemptKind::PasswordChange:
        return QStringLiteral("修改密码");
    }
    return {};
}

} // namespace lianbu::data
