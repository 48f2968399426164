#pragma once

#include "data/OperatorRights.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace lianbu::db {
class Connection;
}

namespace lianbu::data {

// The passwords of the operator table userdb. Every statement binds its values; a password is
// written only as its hash (data/PasswordHash.h), in full, whatever width the column declares.
// The plain values of an older register are hashed once when it is upgraded
// (data/RegisterUpgrade.h); a plain value found later matches no password. Every change of a
// password is logged in password_changes: whose, by whom, when (UTC), how.
class OperatorStore
{
public:
    explicit OperatorStore(db::Connection &connection);

    // True when exactly one row of `name` holds `password` (two rows of one name with the same
    // password refuse, as they always did). On success a hash made with older limits is replaced
    // by a fresh one, unless another program changed that row meanwhile.
    bool checkPassword(const QString &name, const QString &password);

    // Stores the hash of `newPassword` for every row of `name` and logs the change as made by
    // `changedBy` (the operator of the session; empty when none); the number of rows changed.
    int setPassword(const QString &name, const QString &newPassword, const QString &changedBy = {});
    // setPassword with the default password, logged as a reset.
    int resetPassword(const QString &name, const QString &changedBy = {});
    // Adds a row for `name` holding the hash of the default password, with the rights of a new
    // operator (newOperatorRights).
    void addOperator(const QString &name, const QString &changedBy = {});
    // Removes every row of `name` and his rights; the number of rows removed.
    int removeOperator(const QString &name, const QString &changedBy = {});
    // The role and grants of `name`; false (nothing stored) when there is no such operator.
    bool setRights(const QString &name, const Rights &rights, const QString &changedBy = {});

    // True when a row of `name` still holds the default password.
    bool hasDefaultPassword(const QString &name);
    // True when there is a row of `name`.
    bool exists(const QString &name);

    struct Change
    {
        QString name;
        QString changedBy;
        QString time; // UTC, yyyy-MM-dd HH:mm:ss.zzz
        QString kind; // "change", "reset" or "add"
    };
    // The logged changes, oldest first.
    std::vector<Change> changes();

private:
    void logChange(const QString &name, const QString &changedBy, const QString &kind);

    db::Connection &m_connection;
};

// The server's log triggers on userdb and operator_rights (see serverLogStatements): an added
// operator with his role, a changed name, password (never its value) or rights, a removed operator;
// an operator's rights written just before his row are logged with his add.
QStringList serverOperatorLogStatements();

} // namespace lianbu::data
