#pragma once

#include <QString>

namespace lianbu {

// The passwords the program keeps for database servers: one file per user, readable and
// writable by its owner only (mode 0600, in a folder of mode 0700), in the line format of
// PostgreSQL's ~/.pgpass (host:port:database:user:password; "\" escapes ":" and "\"; "*" in the
// first four fields matches anything), so an administrator can read and write it with the
// tools he knows. The program never writes ~/.pgpass itself: that file belongs to the user and
// his other programs; libpq still reads it when this file has no password for a server.
struct ServerLogin
{
    QString host;
    int port = 5432;
    QString database;
    QString user;
};

// <per-user config folder>/server-passwords
QString serverPasswordFilePath();

// The password of the first line matching the login, or a null string when there is none or the
// file can be read by others than its owner (libpq ignores such a file for the same reason).
QString findServerPassword(const QString &filePath, const ServerLogin &login);

// Replaces the line of exactly this host, port, database and user (or adds one); an empty
// password removes it. Creates the folder (0700); the file is replaced atomically with mode
// 0600. False when it cannot be written.
bool saveServerPassword(const QString &filePath, const ServerLogin &login, const QString &password);

} // namespace lianbu
