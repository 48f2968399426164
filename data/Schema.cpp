#include "data/Schema.h"

#include "data/PasswordHash.h"
#include "data/SearchIndex.h"
#include "data/Statements.h"
#include "db/Connection.h"
#include "db/EngineMessage.h"
#include "platform/Error.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace lianbu {

QString superAdministratorName()
{
    return QStringLiteral("超级管理员");
}

QStringList deliveredSchemaStatements()
{
    // rid is the rowid itself; AUTOINCREMENT keeps a deleted row's key from ever coming back,
    // so a stale list in another program instance can never write over a newer record.
    QString data = QStringLiteral("CREATE TABLE data (rid INTEGER PRIMARY KEY AUTOINCREMENT");
    for (const DataColumn &column : kDataColumns)
        data += QStringLiteral(", %1 VARCHAR(%2)").arg(QLatin1String(column.name)).arg(column.width);
    data += QLatin1Char(')');
    QStringList statements{data};
    // The quick search's trigram index and the category index come with a new register; an
    // older one gets them when it is first opened.
    statements << searchIndexStatements();
    return statements
           + QStringList{
               QStringLiteral("CREATE TABLE userdb (username VARCHAR(50), passwd VARCHAR(50))"),
               // One row per operator name: the login accepts exactly one matching row, so a second
               // row of a name would lock that operator out. Only the delivered schema has it; an
               // older file holding duplicates still opens.
               QStringLiteral("CREATE UNIQUE INDEX userdb_username ON userdb (username)"),
               QStringLiteral("CREATE TABLE rz (id INTEGER PRIMARY KEY AUTOINCREMENT, username VARCHAR(50), "
                              "btime VARCHAR(30), jtime VARCHAR(30))"),
           };
}

namespace {

QAtomicInteger<quint64> creationCounter;

void writeSchema(const QString &path)
{
    const QString name = QStringLiteral("lianbu-create-%1").arg(++creationCounter);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            failure = db::detail::engineMessage(db.lastError());
        } else {
            QSqlQuery query(db);
            bool ok = query.exec(QStringLiteral("BEGIN"));
            const QStringList statements = deliveredSchemaStatements();
            for (const QString &statement : statements) {
                if (!ok)
                    break;
                ok = query.exec(statement);
            }
            // The super administrator starts with the default password, stored as its hash
            // (bound, like every password).
            if (ok) {
                ok = query.prepare(QStringLiteral("insert into userdb (username,passwd) values (?,?)"));
                if (ok) {
                    query.addBindValue(superAdministratorName());
                    query.addBindValue(data::hashPassword(sql::defaultPassword()));
                    ok = query.exec();
                }
            }
            ok = ok && query.exec(QStringLiteral("COMMIT"));
            if (!ok)
                failure = db::detail::engineMessage(query.lastError());
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!failure.isEmpty())
        throw Error(QStringLiteral("Cannot create the database file \"%1\": %2").arg(path, failure));
}

} // namespace

void createDeliveredDatabase(const QString &path)
{
    const QFileInfo target(path);
    const QString absolute = target.absoluteFilePath();
    if (target.exists() || target.isSymLink())
        throw Error(QStringLiteral("The file \"%1\" already exists; it is not overwritten.").arg(absolute));
    if (!target.absoluteDir().exists())
        throw Error(QStringLiteral("Cannot create the database file \"%1\": the folder does not exist.").arg(absolute));

    // Build the database under a temporary name beside the target, then move it into place
    // without replacing anything: the file is either complete or not there.
    const QString temporary = absolute
                              + QStringLiteral(".new-%1-%2")
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    {
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            throw Error(QStringLiteral("Cannot create the database file \"%1\": %2").arg(absolute, file.errorString()));
    }
    try {
        writeSchema(temporary);
    } catch (...) {
        QFile::remove(temporary);
        QFile::remove(temporary + QStringLiteral("-journal"));
        throw;
    }
    if (!QFile::rename(temporary, absolute)) {
        QFile::remove(temporary);
        if (QFileInfo::exists(absolute))
            throw Error(QStringLiteral("The file \"%1\" already exists; it is not overwritten.").arg(absolute));
        throw Error(QStringLiteral("Cannot create the database file \"%1\".").arg(absolute));
    }
}

void checkDeliveredSchema(db::Connection &connection)
{
    const QString path = QFileInfo(connection.fileName()).absoluteFilePath();
    QSqlQuery query(connection.database());
    if (!query.exec(QStringLiteral("select count(*) from sqlite_master where type='table' and "
                                   "name in ('data','userdb','rz')")))
        throw Error(QStringLiteral("Cannot read the database file \"%1\": %2")
                        .arg(path, db::detail::engineMessage(query.lastError())));
    if (!query.next() || query.value(0).toInt() != 3)
        throw Error(QStringLiteral("The database file \"%1\" does not hold the tables data, userdb and rz.").arg(path));
}

} // namespace lianbu

namespace lianbu {

QString deliveredSchemaProblem(const QSqlDatabase &database)
{
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("select count(*) from sqlite_master where type='table' and "
                                   "name in ('data','userdb','rz')")))
        return QStringLiteral("无法读取文件中的表：%1").arg(db::detail::engineMessage(query.lastError()));
    if (!query.next() || query.value(0).toInt() != 3)
        return QStringLiteral("这不是联簿宝的数据库（文件中没有 data、userdb 和 rz 三张表）。");
    return {};
}

} // namespace lianbu
