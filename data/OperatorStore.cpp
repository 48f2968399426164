#include "data/OperatorStore.h"

#include "data/AttemptLog.h"
#include "data/ChangeLog.h"
#include "data/PasswordHash.h"
#include "data/RegisterUpgrade.h"
#include "data/Statements.h"
#include "db/BoundStatement.h"

#include <QStringList>

namespace lianbu::data {

namespace {

QStringList storedPasswords(db::Connection &connection, const QString &name)
{
    QSqlQuery query = db::runBound(connection, QStringLiteral("select passwd from userdb where username=?"), {name});
    QStringList values;
    while (query.next())
        values << query.value(0).toString();
    return values;
}

void logOperator(db::Connection &connection, LogKind kind, const QString &name, const QString &changedBy,
                 std::vector<FieldChange> fields = {})
{
    LogEntry entry;
    entry.operatorName = changedBy;
    entry.kind = kind;
    entry.subject = name;
    entry.fields = std::move(fields);
    ChangeLog(connection).write(entry);
}

QString grantsText(const Rights &rights)
{
    QStringList names;
    for (Right right : kGrantableRights)
        if (rights.grants & unsigned(right))
            names << rightText(right);
    return names.join(QStringLiteral("、"));
}

} // namespace

OperatorStore::OperatorStore(db::Connection &connection)
    : m_connection(connection)
{}

bool OperatorStore::checkPassword(const QString &name, const QString &password)
{
    const QStringList stored = storedPasswords(m_connection, name);
    const QString *match = nullptr;
    int matches = 0;
    for (const QString &value : stored) {
        if (verifyPassword(value, password)) {
            match = &value;
            ++matches;
        }
    }
    if (matches != 1)
        return false;
    if (isPasswordHash(*match) && needsRehash(*match)) {
        // Compared with the value just read, so a password another program set in between is
        // kept.
        db::runBound(m_connection, QStringLiteral("update userdb set passwd=? where username=? and passwd=?"),
                     {hashPassword(password), name, *match});
    }
    return true;
}

namespace {

int storePassword(db::Connection &connection, const QString &name, const QString &password)
{
    QSqlQuery query = db::runBound(connection, QStringLiteral("update userdb set passwd=? where username=?"),
                                   {hashPassword(password), name});
    return query.numRowsAffected();
}

} // namespace

void OperatorStore::logChange(const QString &name, const QString &changedBy, const QString &kind)
{
    db::runBound(m_connection,
                 QStringLiteral("insert into %1 (username,changed_by,change_time,kind) values (?,?,?,?)")
                     .arg(QLatin1String(kPasswordChangeTable)),
                 {name, changedBy, attemptTimeText(AttemptLog(m_connection).clockNow()), kind});
}

int OperatorStore::setPassword(const QString &name, const QString &newPassword, const QString &changedBy)
{
    int changed = 0;
    runLogged(m_connection, [&] {
        changed = storePassword(m_connection, name, newPassword);
        if (changed > 0) {
            logChange(name, changedBy, QStringLiteral("change"));
            // Never the password itself, nor its hash.
            logOperator(m_connection, LogKind::OperatorChanged, name, changedBy,
                        {{QStringLiteral("密码"), std::nullopt, QStringLiteral("（已修改）")}});
        }
    });
    return changed;
}

int OperatorStore::resetPassword(const QString &name, const QString &changedBy)
{
    int changed = 0;
    runLogged(m_connection, [&] {
        changed = storePassword(m_connection, name, sql::defaultPassword());
        if (changed > 0) {
            logChange(name, changedBy, QStringLiteral("reset"));
            logOperator(m_connection, LogKind::OperatorChanged, name, changedBy,
                        {{QStringLiteral("密码"), std::nullopt, QStringLiteral("（初始化）")}});
        }
    });
    return changed;
}

void OperatorStore::addOperator(const QString &name, const QString &changedBy)
{
    runLogged(m_connection, [&] {
        db::runBound(m_connection, QStringLiteral("insert into userdb (username,passwd) values (?,?)"),
                     {name, hashPassword(sql::defaultPassword())});
        storeRights(m_connection, name, newOperatorRights());
        logChange(name, changedBy, QStringLiteral("add"));
        logOperator(m_connection, LogKind::OperatorAdded, name, changedBy,
                    {{QStringLiteral("角色"), std::nullopt, roleText(newOperatorRights().role)}});
    });
}

int OperatorStore::removeOperator(const QString &name, const QString &changedBy)
{
    int removed = 0;
    runLogged(m_connection, [&] {
        QSqlQuery query = db::runBound(m_connection, QStringLiteral("delete from userdb where username=?"), {name});
        removed = query.numRowsAffected();
        forgetRights(m_connection, name);
        if (removed > 0)
            logOperator(m_connection, LogKind::OperatorDeleted, name, changedBy);
    });
    return removed;
}

bool OperatorStore::setRights(const QString &name, const Rights &rights, const QString &changedBy)
{
    if (!exists(name))
        return false;
    runLogged(m_connection, [&] {
        const Rights before = rightsOf(m_connection, name);
        storeRights(m_connection, name, rights);
        std::vector<FieldChange> fields;
        if (before.role != rights.role)
            fields.push_back({QStringLiteral("角色"), roleText(before.role), roleText(rights.role)});
        if (grantsText(before) != grantsText(rights))
            fields.push_back({QStringLiteral("单项权限"), grantsText(before), grantsText(rights)});
        if (!fields.empty())
            logOperator(m_connection, LogKind::OperatorChanged, name, changedBy, std::move(fields));
    });
    return true;
}

bool OperatorStore::exists(const QString &name)
{
    QSqlQuery query =
        db::runBound(m_connection, QStringLiteral("select count(*) from userdb where username=?"), {name});
    return query.next() && query.value(0).toInt() > 0;
}

std::vector<OperatorStore::Change> OperatorStore::changes()
{
    std::vector<Change> result;
    QSqlQuery query =
        db::runBound(m_connection, QStringLiteral("select username, changed_by, change_time, kind from %1 "
                                                  "order by id")
                                       .arg(QLatin1String(kPasswordChangeTable)));
    while (query.next())
        result.push_back({query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                          query.value(3).toString()});
    return result;
}

bool OperatorStore::hasDefaultPassword(const QString &name)
{
    const QStringList stored = storedPasswords(m_connection, name);
    for (const QString &value : stored)
        if (verifyPassword(value, sql::defaultPassword()))
            return true;
    return false;
}

} // namespace lianbu::data
