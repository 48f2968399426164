#include "data/OperatorStore.h"

#include "data/PasswordHash.h"
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
    if (needsRehash(*match)) {
        // Compared with the value just read, so a password another program set in between is
        // kept.
        db::runBound(m_connection, QStringLiteral("update userdb set passwd=? where username=? and passwd=?"),
                     {hashPassword(password), name, *match});
    }
    return true;
}

int OperatorStore::setPassword(const QString &name, const QString &newPassword)
{
    QSqlQuery query = db::runBound(m_connection, QStringLiteral("update userdb set passwd=? where username=?"),
                                   {hashPassword(newPassword), name});
    return query.numRowsAffected();
}

int OperatorStore::resetPassword(const QString &name)
{
    return setPassword(name, sql::defaultPassword());
}

void OperatorStore::addOperator(const QString &name)
{
    db::runBound(m_connection, QStringLiteral("insert into userdb (username,passwd) values (?,?)"),
                 {name, hashPassword(sql::defaultPassword())});
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
