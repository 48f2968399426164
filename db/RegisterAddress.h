#pragma once

#include <QString>

namespace lianbu::db {

// Where the register lives: an SQLite file, or a database on a PostgreSQL server named by an
// address of the form postgresql://user@host:port/dbname (also postgres://). The host may be a
// folder holding the server's Unix socket, percent-encoded as libpq writes it
// (postgresql://lianbu@%2Fvar%2Frun%2Fpostgresql/lianbu). A password may be written into an
// address (user:password@...); it is kept only in memory and never formatted back.
struct RegisterAddress
{
    enum class Kind { File, Server };
    Kind kind = Kind::File;

    QString file; // Kind::File: the path as given (relative names are taken in the working folder)

    QString user;     // Kind::Server
    QString password; // only when the address carried one
    QString host;     // empty: the local socket folder libpq uses by default
    int port = 5432;
    QString database;

    bool isServer() const { return kind == Kind::Server; }
    bool operator==(const RegisterAddress &other) const;
};

// True when the text is a server address (postgresql:// or postgres://, any letter case).
bool isServerAddress(const QString &text);

// Reads a file path or a server address. A malformed server address throws lianbu::Error with a
// Chinese operator text saying what is wrong (English message for logs and scripts).
RegisterAddress parseRegisterAddress(const QString &text);

// The address as text, without any password: the file path, or
// postgresql://user@host:port/dbname with the parts percent-encoded where needed.
QString formatRegisterAddress(const RegisterAddress &address);

// A short Chinese description for the status bar: "资料库：/path/data.db" or
// "服务器：user@host:port/dbname".
QString describeRegister(const RegisterAddress &address);
// The same without the user and port of a server ("服务器：host/dbname"), for a narrow panel.
QString describeRegisterBriefly(const RegisterAddress &address);

} // namespace lianbu::db
