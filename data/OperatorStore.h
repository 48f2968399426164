#pragma once

#include <QString>

namespace lianbu::db {
class Connection;
}

namespace lianbu::data {

// The passwords of the operator table userdb. Every statement binds its values; a password is
// written only as its hash (data/PasswordHash.h), in full, whatever width the column declares.
// A plain value left by an older register is still accepted and is replaced by its hash the
// first time it is given correctly.
class OperatorStore
{
public:
    explicit OperatorStore(db::Connection &connection);

    // True when exactly one row of `name` holds `password` (two rows of one name with the same
    // password refuse, as they always did). On success a plain or outdated stored value is
    // replaced by a fresh hash, unless another program changed that row meanwhile.
    bool checkPassword(const QString &name, const QString &password);

    // Stores the hash of `newPassword` for every row of `name`; the number of rows changed.
    int setPassword(const QString &name, const QString &newPassword);
    // setPassword with the default password.
    int resetPassword(const QString &name);
    // Adds a row for `name` holding the hash of the default password.
    void addOperator(const QString &name);

    // True when a row of `name` still holds the default password (hashed or plain).
    bool hasDefaultPassword(const QString &name);

private:
    db::Connection &m_connection;
};

} // namespace lianbu::data
