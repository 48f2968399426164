#include "data/AttemptLog.h"

#include "db/BoundStatement.h"

namespace lianbu::data {

namespace {

// Milliseconds, so a wait of one second is measured from the failure itself.
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
const QString kSuccess = QStringLiteral("success");
const QString kFailure = QStringLiteral("failure");

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

} // namespace

AttemptLog::AttemptLog(db::Connection &connection)
    : m_connection(connection)
{}

bool AttemptLog::tableExists() const
{
    QSqlQuery query =
        db::runBound(m_connection, QStringLiteral("select count(*) from sqlite_master where type='table' and name=?"),
                     {QString::fromLatin1(kTable)});
    return query.next() && query.value(0).toInt() > 0;
}

void AttemptLog::record(const QString &name, const QDateTime &time, bool success, AttemptKind kind)
{
    db::runBound(m_connection, QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                              "username VARCHAR(50), attempt_time VARCHAR(30), outcome VARCHAR(10), "
                                              "kind VARCHAR(10))")
                                   .arg(QLatin1String(kTable)));
    db::runBound(m_connection,
                 QStringLiteral("insert into %1 (username,attempt_time,outcome,kind) values (?,?,?,?)")
                     .arg(QLatin1String(kTable)),
                 {name, time.toString(kTimeFormat), success ? kSuccess : kFailure, kindWord(kind)});
}

FailureStreak AttemptLog::streak(const QString &name) const
{
    FailureStreak result;
    if (!tableExists())
        return result;
    QSqlQuery query =
        db::runBound(m_connection,
                     QStringLiteral("select outcome, attempt_time from %1 where username=? order by id desc limit %2")
                         .arg(QLatin1String(kTable))
                         .arg(kStreakRows),
                     {name});
    while (query.next()) {
        if (query.value(0).toString() != kFailure)
            break;
        if (result.failures == 0)
            result.lastFailure = QDateTime::fromString(query.value(1).toString(), kTimeFormat);
        ++result.failures;
    }
    return result;
}

std::vector<Attempt> AttemptLog::lastFailures(int count) const
{
    std::vector<Attempt> result;
    if (count <= 0 || !tableExists())
        return result;
    QSqlQuery query = db::runBound(
        m_connection,
        QStringLiteral("select username, attempt_time, kind from %1 where outcome=? order by id desc limit ?")
            .arg(QLatin1String(kTable)),
        {kFailure, count});
    while (query.next())
        result.push_back({query.value(0).toString(), QDateTime::fromString(query.value(1).toString(), kTimeFormat),
                          false, kindOf(query.value(2).toString())});
    return result;
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
