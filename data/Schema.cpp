#include "data/Schema.h"

#include "data/PasswordHash.h"
#include "data/RegisterUpgrade.h"
#include "data/SearchIndex.h"
#include "data/Statements.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/EngineMessage.h"
#include "platform/Error.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace lianbu {

QString superAdministratorName()
{
    return QStringLiteral("超级管理员");
}

QString addressStartExpression()
{
    return QStringLiteral("substr(i,1,%1)").arg(kAddressStartLength);
}

QString registrationMonthExpression()
{
    return QStringLiteral("substr(day1,1,7)");
}

QStringList countIndexStatements()
{
    return {
        QStringLiteral("CREATE INDEX IF NOT EXISTS data_address_start ON data ((%1))").arg(addressStartExpression()),
        QStringLiteral("CREATE INDEX IF NOT EXISTS data_day1_month ON data ((%1))").arg(registrationMonthExpression())};
}

QString followUpMonthExpression()
{
    return QStringLiteral("substr(contact_time,1,7)");
}

namespace {

QString operatorIndexStatement()
{
    return QStringLiteral(
        "CREATE INDEX IF NOT EXISTS followups_operator ON followups (username, binned, customer) WHERE binned=0");
}

} // namespace

QStringList followUpCountIndexStatements()
{
    return {operatorIndexStatement(),
            QStringLiteral("CREATE INDEX IF NOT EXISTS followups_month ON followups ((%1)) WHERE binned=0")
                .arg(followUpMonthExpression())};
}

QStringList followUpOperatorIndexRemakeStatements()
{
    return {QStringLiteral("DROP INDEX IF EXISTS followups_operator"), operatorIndexStatement()};
}

QStringList deliveredSchemaStatements(const db::Engine &engine)
{
    // rid is SQLite's rowid itself (an identity column on the server); AUTOINCREMENT keeps a
    // deleted row's key from ever coming back, so a stale list in another program instance can
    // never write over a newer record.
    const bool server = engine.kind() == db::Engine::Kind::Postgres;
    QString data = QStringLiteral("CREATE TABLE data (rid %1").arg(engine.growingKeyType());
    for (const DataColumn &column : kDataColumns)
        data += QStringLiteral(", %1 VARCHAR(%2)").arg(QLatin1String(column.name)).arg(column.width);
    data += QLatin1Char(')');
    QStringList statements{data};
    statements << countIndexStatements();
    // On SQLite the quick search's trigram index, the category index and the sort keys come with
    // a new register (an older one gets them when it is first opened); the server's own indexes
    // are made by the server register's creation.
    if (!server)
        statements << searchIndexStatements();
    statements += QStringList{
        // SQLite keeps the declared width as a name only; the server enforces it, and a password
        // hash needs up to 128 characters. The server has no rowid: userdb's rows get the same
        // hidden key column as data's, which the dataset layer keeps out of the field list.
        server ? QStringLiteral("CREATE TABLE userdb (rid %1, username VARCHAR(50), passwd VARCHAR(128))")
                     .arg(engine.growingKeyType())
               : QStringLiteral("CREATE TABLE userdb (username VARCHAR(50), passwd VARCHAR(50))"),
        // One row per operator name: the login accepts exactly one matching row, so a second
        // row of a name would lock that operator out. Only the delivered schema has it; an
        // older file holding duplicates still opens.
        QStringLiteral("CREATE UNIQUE INDEX userdb_username ON userdb (username)"),
        QStringLiteral("CREATE TABLE rz (id %1, username VARCHAR(50), "
                       "btime VARCHAR(30), jtime VARCHAR(30))")
            .arg(engine.growingKeyType()),
    };
    // The attempt and password-change logs, the register's version (its row is written with the
    // super administrator's) and the operators' rights.
    return statements + data::versionTwoStatements(engine) + data::versionThreeStatements(engine)
           + data::versionFourStatements(engine) + data::versionSevenStatements(engine)
           + followUpCountIndexStatements();
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
            if (ok) {
                ok = query.prepare(
                    QStringLiteral("insert into %1 (version) values (?)").arg(QLatin1String(data::kVersionTable)));
                if (ok) {
                    query.addBindValue(data::kRegisterVersion);
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
        // The owner's alone; SQLite gives its -wal and -shm the same mode.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
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
    const QString place =
        connection.isServer() ? connection.fileName() : QFileInfo(connection.fileName()).absoluteFilePath();
    const QSqlDatabase database = connection.database();
    const QStringList tables = db::engineOf(database).tableNames(database);
    for (const char *table : {"data", "userdb", "rz"})
        if (!tables.contains(QLatin1String(table)))
            throw Error(QStringLiteral("The database \"%1\" does not hold the tables data, userdb and rz.").arg(place));
}

} // namespace lianbu

namespace lianbu {

QString deliveredSchemaProblem(const QSqlDatabase &database)
{
    QStringList tables;
    try {
        tables = db::engineOf(database).tableNames(database);
    } catch (const Error &error) {
        return QStringLiteral("无法读取文件中的表：%1").arg(error.message());
    }
    for (const char *table : {"data", "userdb", "rz"})
        if (!tables.contains(QLatin1String(table)))
            return QStringLiteral("这不是联簿宝的数据库（文件中没有 data、userdb 和 rz 三张表）。");
    return {};
}

} // namespace lianbu

namespace lianbu {

QStringList deliveredSchemaStatements()
{
    return deliveredSchemaStatements(db::sqliteEngine());
}

} // namespace lianbu
