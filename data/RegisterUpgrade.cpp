#include "data/RegisterUpgrade.h"

#include "data/AttemptLog.h"
#include "data/ChangeFeed.h"
#include "data/ChangeLog.h"
#include "data/CustomerStore.h"
#include "data/FollowUpDates.h"
#include "data/FollowUpStore.h"
#include "data/OperatorRights.h"
#include "data/PasswordHash.h"
#include "data/Schema.h"
#include "data/SearchIndex.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "platform/Error.h"

#include <QSqlQuery>
#include <QSqlRecord>

#include <vector>

namespace lianbu::data {

namespace {

// Every table an upgrade may have to add, with the statements that create it.
struct AddedTable
{
    const char *table;
    QStringList statements;
};

std::vector<AddedTable> addedTables(const db::Engine &engine)
{
    const QStringList two = versionTwoStatements(engine);
    return {{AttemptLog::kTable, {two.at(0)}},
            {kPasswordChangeTable, {two.at(1)}},
            {kVersionTable, {two.at(2)}},
            {kRightsTable, {rightsTableStatement(engine)}},
            {kChangeLogTable, changeLogStatements(engine)},
            {kCustomerBinTable, customerBinStatements(engine)},
            {kFollowUpTable, followUpTableStatements(engine)},
            {kFollowUpWayTable, followUpWayStatements(engine)},
            {kReminderOffTable, reminderOffStatements(engine)},
            {kFollowUpDatesTable, followUpDateStatements(engine)},
            {kChangeFeedTable, changeFeedStatements(engine)}};
}

bool hasAll(const db::Engine &engine, const QStringList &tables)
{
    for (const AddedTable &added : addedTables(engine))
        if (!tables.contains(QLatin1String(added.table)))
            return false;
    return true;
}

// Operators of an older register keep what they could do: nobody loses access on upgrade.
void giveFormerRights(db::Connection &connection)
{
    QSqlQuery rows = db::runBound(
        connection, QStringLiteral("select distinct username from userdb where username is not null and username "
                                   "not in (select username from %1)")
                        .arg(QLatin1String(kRightsTable)));
    QStringList names;
    while (rows.next())
        names << rows.value(0).toString();
    rows.finish();
    for (const QString &name : std::as_const(names))
        if (name != superAdministratorName())
            storeRights(connection, name, formerRights());
}

int storedVersion(db::Connection &connection)
{
    QSqlQuery query =
        db::runBound(connection, QStringLiteral("select max(version) from %1").arg(QLatin1String(kVersionTable)));
    return query.next() ? query.value(0).toInt() : 0;
}

bool currentOn(db::Connection &connection)
{
    const QSqlDatabase database = connection.database();
    const db::Engine &engine = db::engineOf(database);
    return hasAll(engine, engine.tableNames(database)) && storedVersion(connection) >= kRegisterVersion;
}

// The statistics' indexes, where data has the columns they read (an older file may lack some).
void addCountIndexes(db::Connection &connection)
{
    const QSqlRecord columns = connection.database().record(QStringLiteral("data"));
    if (!columns.contains(QStringLiteral("i")) || !columns.contains(QStringLiteral("day1")))
        return;
    for (const QString &statement : countIndexStatements())
        db::runBound(connection, statement);
}

// The upgrade of a server register fails for a user with data rights only: say which right.
Error upgradeRefused(db::Connection &connection, const Error &error)
{
    const QString place = connection.fileName();
    return Error(QStringLiteral("The register \"%1\" needs new tables and the user may not create them: %2")
                     .arg(place, error.message()),
                 QStringLiteral("数据库“%1”中联簿宝的表需要更新（增加登录记录和密码修改记录表），"
                                "当前的数据库用户没有这个权限：需要在模式 public 上的 CREATE 权限"
                                "（或者用数据库的所有者）。请用有这个权限的用户启动一次联簿宝，"
                                "之后只有数据权限的用户也能使用。详细信息：%2")
                     .arg(place, error.message()));
}

} // namespace

QStringList versionThreeStatements(const db::Engine &engine)
{
    return QStringList{rightsTableStatement(engine)} + changeLogStatements(engine) + customerBinStatements(engine);
}

QStringList versionFourStatements(const db::Engine &engine)
{
    return followUpTableStatements(engine) + followUpWayStatements(engine) + reminderOffStatements(engine)
           + followUpDateStatements(engine);
}

QStringList versionSevenStatements(const db::Engine &engine)
{
    return changeFeedStatements(engine);
}

QStringList versionTwoStatements(const db::Engine &engine)
{
    return {
        attemptTableStatement(engine),
        QStringLiteral("CREATE TABLE %1 (id %2, username VARCHAR(50), changed_by VARCHAR(50), "
                       "change_time VARCHAR(30), kind VARCHAR(10))")
            .arg(QLatin1String(kPasswordChangeTable), engine.growingKeyType()),
        QStringLiteral("CREATE TABLE %1 (version INTEGER)").arg(QLatin1String(kVersionTable)),
    };
}

void hashPlainPasswords(db::Connection &connection)
{
    QSqlQuery rows = db::runBound(connection, QStringLiteral("select username, passwd from userdb"));
    QList<QPair<QString, QString>> plain;
    while (rows.next()) {
        if (rows.value(1).isNull())
            continue; // no password at all refuses every login, as it did
        const QString stored = rows.value(1).toString();
        if (!isPasswordHash(stored))
            plain.append({rows.value(0).toString(), stored});
    }
    rows.finish();
    for (const auto &[name, stored] : plain)
        db::runBound(connection, QStringLiteral("update userdb set passwd=? where username=? and passwd=?"),
                     {hashPassword(stored), name, stored});
}

bool registerIsCurrent(db::Connection &connection)
{
    return currentOn(connection);
}

void upgradeRegister(db::Connection &connection)
{
    if (currentOn(connection))
        return;
    const bool server = connection.isServer();
    const db::Engine &engine = db::engineOf(connection.database());
    // One instance upgrades; one starting at the same moment waits and then finds it done.
    if (server) {
        // Asked first, so a user with data rights only is told what is missing, not an engine text.
        QSqlQuery may =
            db::runBound(connection, QStringLiteral("select has_schema_privilege(current_schema(), 'CREATE')"));
        if (!may.next() || !may.value(0).toBool())
            throw upgradeRefused(connection, Error(QStringLiteral("permission denied for schema public")));
    }
    db::runBound(connection, server ? QStringLiteral("begin") : QStringLiteral("BEGIN IMMEDIATE"));
    try {
        if (server)
            db::runBound(connection, QStringLiteral("lock table userdb in exclusive mode"));
        if (!currentOn(connection)) {
            const QSqlDatabase database = connection.database();
            const QStringList tables = engine.tableNames(database);
            const int before = tables.contains(QLatin1String(kVersionTable)) ? storedVersion(connection) : 0;
            for (const AddedTable &added : addedTables(engine))
                if (!tables.contains(QLatin1String(added.table)))
                    for (const QString &statement : added.statements)
                        db::runBound(connection, statement);
            if (before < 2)
                hashPlainPasswords(connection);
            if (before < 3)
                giveFormerRights(connection);
            if (before < 6 && server)
                for (const QString &statement : serverLogStatements())
                    db::runBound(connection, statement);
            if (before < 10 && server)
                for (const QString &statement : serverChangeFeedStatements())
                    db::runBound(connection, statement);
            if (before < 8)
                addCountIndexes(connection);
            if (before < 9)
                for (const QString &statement : followUpCountIndexStatements())
                    db::runBound(connection, statement);
            // Made just above in their current form where they were missing.
            if (before >= 9 && before < 11)
                for (const QString &statement : followUpOperatorIndexRemakeStatements())
                    db::runBound(connection, statement);
            if (before < 11 && tables.contains(QLatin1String(kFollowUpDatesTable)))
                for (const QString &statement : followUpDatesOnlyListedStatements(engine))
                    db::runBound(connection, statement);
            if (before < 12 && !server && tables.contains(QLatin1String(kSearchExtraStale))) {
                for (const char *event : {"insert", "update", "delete"})
                    db::runBound(connection, QStringLiteral("DROP TRIGGER IF EXISTS %1_%2")
                                                 .arg(QLatin1String(kSearchExtraStale), QLatin1String(event)));
                for (const QString &statement : searchStaleTriggerStatements())
                    db::runBound(connection, statement);
            }
            db::runBound(connection, QStringLiteral("delete from %1").arg(QLatin1String(kVersionTable)));
            db::runBound(connection,
                         QStringLiteral("insert into %1 (version) values (?)").arg(QLatin1String(kVersionTable)),
                         {kRegisterVersion});
        }
        db::runBound(connection, QStringLiteral("commit"));
    } catch (...) {
        QSqlQuery(connection.database()).exec(QStringLiteral("rollback"));
        throw;
    }
}

} // namespace lianbu::data
