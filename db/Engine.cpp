#include "db/Engine.h"

#include "db/EngineMessage.h"
#include "platform/Error.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <initializer_list>
#include <memory>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace lianbu::db {

namespace {

QStringList readNames(const QSqlDatabase &database, const QString &sql)
{
    QStringList names;
    QSqlQuery query(database);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw Error(detail::engineMessage(query.lastError()));
    while (query.next())
        names << query.value(0).toString().toLower();
    return names;
}

std::vector<qint64> readIntegers(const QSqlDatabase &database, const QString &sql)
{
    QSqlQuery query(database);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw engineError(query.lastError(), databaseFile(database));
    std::vector<qint64> keys;
    while (query.next())
        keys.push_back(query.value(0).toLongLong());
    if (query.lastError().isValid())
        throw engineError(query.lastError(), databaseFile(database));
    return keys;
}

// The driver's native handle. Qt names the type as the driver's headers declare it: "sqlite3*",
// and for libpq the struct's own name "pg_conn*" (PGconn is a typedef of it).
template <typename Handle>
Handle *nativeHandleOf(const QSqlDatabase &database, std::initializer_list<const char *> typeNames)
{
    const QVariant handle = database.driver() ? database.driver()->handle() : QVariant();
    if (!handle.isValid())
        return nullptr;
    if (std::none_of(typeNames.begin(), typeNames.end(), [&](const char *name) { return qstrcmp(handle.typeName(), name) == 0; }))
        return nullptr;
    return *static_cast<Handle *const *>(handle.data());
}

class SqliteEngine final : public Engine
{
public:
    Kind kind() const override { return Kind::Sqlite; }
    QString driverName() const override { return QStringLiteral("QSQLITE"); }
    QString growingKeyType() const override { return QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT"); }
    QString rowKey(const QString &quotedTable) const override { return quotedTable + QLatin1String(".rowid"); }
    QString insertKeySuffix(const QString &) const override { return {}; }
    qint64 insertedKey(QSqlQuery &query) const override { return query.lastInsertId().toLongLong(); }
    bool needsKeyOrder() const override { return false; }
    QString likeCondition(const QString &column) const override { return column + QLatin1String(" like ?"); }
    QString sameAs(const QString &column) const override { return column + QLatin1String(" is ?"); }
    EngineFault fault(const QSqlError &error) const override
    {
        bool ok = false;
        const int code = error.nativeErrorCode().toInt(&ok);
        return engineFault(ok ? code : SQLITE_ERROR, detail::engineMessage(error));
    }
    bool transient(const QSqlError &error) const override
    {
        return error.isValid() && fault(error) == EngineFault::Busy;
    }
    QStringList tableNames(const QSqlDatabase &database) const override
    {
        return readNames(database, QStringLiteral("select name from sqlite_master where type='table'"));
    }
    QString location(const QSqlDatabase &database) const override { return databaseFile(database); }
    std::optional<TableInfo> keyedTable(const QSqlDatabase &database, const QString &table) const override
    {
        QSqlQuery info(database);
        info.prepare(QStringLiteral("select name, sql from sqlite_master where type='table' and lower(name)=lower(?)"));
        info.addBindValue(table);
        if (!info.exec() || !info.next()
            || info.value(1).toString().contains(QLatin1String("without rowid"), Qt::CaseInsensitive))
            return std::nullopt;
        TableInfo result;
        result.name = info.value(0).toString();
        info.finish();
        QSqlQuery pragma(database);
        QString quoted = result.name;
        quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
        if (!pragma.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(quoted)))
            return std::nullopt;
        int keyCount = 0;
        QString keyName, keyType;
        while (pragma.next()) {
            result.columns.push_back({pragma.value(1).toString(), pragma.value(2).toString()});
            if (pragma.value(5).toInt() > 0) {
                ++keyCount;
                keyName = pragma.value(1).toString();
                keyType = pragma.value(2).toString();
            }
        }
        // An INTEGER PRIMARY KEY named rid is the rowid itself: the hidden key.
        if (keyCount == 1 && keyType.compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0
            && keyName.compare(QLatin1String("rid"), Qt::CaseInsensitive) == 0)
            result.hiddenKeyColumn = keyName;
        return result;
    }
    std::vector<qint64> readKeys(const QSqlDatabase &database, const QString &sql) const override
    {
        return readIntegers(database, sql);
    }
    std::function<bool()> canceller(const QSqlDatabase &database) const override
    {
        sqlite3 *handle = nativeHandleOf<sqlite3>(database, {"sqlite3*"});
        return [handle] {
            if (handle)
                sqlite3_interrupt(handle);
            return handle != nullptr;
        };
    }
};

// The ASCII letters, for translate(): the server's lower() would also fold other scripts, which
// SQLite's LIKE does not.
constexpr char kUpper[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr char kLower[] = "abcdefghijklmnopqrstuvwxyz";

class PostgresEngine final : public Engine
{
public:
    Kind kind() const override { return Kind::Postgres; }
    QString driverName() const override { return QStringLiteral("QPSQL"); }
    QString growingKeyType() const override { return QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"); }
    QString rowKey(const QString &quotedTable) const override { return quotedTable + QLatin1String(".rid"); }
    QString insertKeySuffix(const QString &keyColumn) const override { return QLatin1String(" returning ") + keyColumn; }
    bool needsKeyOrder() const override { return true; }
    qint64 insertedKey(QSqlQuery &query) const override
    {
        return query.next() ? query.value(0).toLongLong() : 0;
    }
    QString sameAs(const QString &column) const override { return column + QLatin1String(" is not distinct from ?"); }
    QString likeCondition(const QString &column) const override
    {
        // ESCAPE '' : SQLite's LIKE has no escape character, the server's default is "\".
        return QStringLiteral("translate(%1,'%2','%3') like translate(?,'%2','%3') escape ''")
            .arg(column, QLatin1String(kUpper), QLatin1String(kLower));
    }
    EngineFault fault(const QSqlError &error) const override { return postgresFault(error); }
    bool transient(const QSqlError &error) const override
    {
        const QString state = error.nativeErrorCode();
        return state == QLatin1String("40001") || state == QLatin1String("40P01") || state == QLatin1String("55P03");
    }
    QStringList tableNames(const QSqlDatabase &database) const override
    {
        return readNames(database, QStringLiteral("select table_name from information_schema.tables "
                                                  "where table_schema = current_schema()"));
    }
    QString location(const QSqlDatabase &database) const override { return databaseFile(database); }
    std::optional<TableInfo> keyedTable(const QSqlDatabase &database, const QString &table) const override
    {
        QSqlQuery info(database);
        info.prepare(QStringLiteral("select column_name, upper(data_type), character_maximum_length, table_name "
                                    "from information_schema.columns where table_schema = current_schema() "
                                    "and lower(table_name) = lower(?) order by ordinal_position"));
        info.addBindValue(table);
        if (!info.exec())
            return std::nullopt;
        TableInfo result;
        while (info.next()) {
            result.name = info.value(3).toString();
            QString declared = info.value(1).toString();
            // The declared width, as SQLite shows it, for the layer that cuts text to it.
            if (declared == QLatin1String("CHARACTER VARYING"))
                declared = QStringLiteral("VARCHAR(%1)").arg(info.value(2).toInt());
            else if (declared == QLatin1String("CHARACTER"))
                declared = QStringLiteral("CHAR(%1)").arg(info.value(2).toInt());
            const QString name = info.value(0).toString();
            result.columns.push_back({name, declared});
            if (name == QLatin1String("rid"))
                result.hiddenKeyColumn = name;
        }
        // Without rowids, only a table with the key column can be written back row by row.
        if (result.columns.empty() || result.hiddenKeyColumn.isEmpty())
            return std::nullopt;
        return result;
    }
    std::vector<qint64> readKeys(const QSqlDatabase &database, const QString &sql) const override
    {
        return readIntegers(database, sql);
    }
    std::function<bool()> canceller(const QSqlDatabase &database) const override
    {
        PGconn *connection = nativeHandleOf<PGconn>(database, {"pg_conn*", "PGconn*"});
        if (!connection)
            return [] { return false; };
        // PQcancel with an object made beforehand is safe from any thread (and from a signal
        // handler); PQgetCancel itself must run where the connection is used.
        std::shared_ptr<PGcancel> cancel(PQgetCancel(connection), PQfreeCancel);
        return [cancel] {
            char reason[256] = {};
            if (!cancel || !PQcancel(cancel.get(), reason, int(sizeof reason))) {
                qWarning("cannot cancel the statement on the server: %s", reason);
                return false;
            }
            return true;
        };
    }
};

} // namespace

const Engine &sqliteEngine()
{
    static const SqliteEngine engine;
    return engine;
}

const Engine &postgresEngine()
{
    static const PostgresEngine engine;
    return engine;
}

const Engine &engineOf(const QSqlDatabase &database)
{
    if (database.driverName() == QLatin1String("QPSQL"))
        return postgresEngine();
    return sqliteEngine();
}

} // namespace lianbu::db
