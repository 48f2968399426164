#include "data/ServerRegister.h"

#include "data/AttemptLog.h"
#include "data/ChangeFeed.h"
#include "data/ChangeLog.h"
#include "data/CustomerStore.h"
#include "data/FollowUpStore.h"
#include "data/OperatorRights.h"
#include "data/PasswordHash.h"
#include "data/RegisterUpgrade.h"
#include "data/Schema.h"
#include "data/SearchIndex.h"
#include "data/Statements.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/EngineErrors.h"
#include "db/EngineMessage.h"
#include "platform/Error.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace lianbu {

namespace {

// The searched columns of the quick search.
constexpr const char *kSearchedColumns[] = {"a", "b", "g", "c", "i", "j"};

// The register's tables in the order they are created and copied, with the columns a copy takes
// (the key first). The keys of data and userdb are SQLite's rowids (older files have no rid
// column in data; userdb never has one); on the server they are the column rid.
struct TableCopy
{
    const char *table;
    QString sourceColumns;
    QString targetColumns;
};

QList<TableCopy> copiedTables()
{
    QStringList dataColumns;
    for (const DataColumn &column : kDataColumns)
        dataColumns << QLatin1String(column.name);
    const QString data = dataColumns.join(QLatin1Char(','));
    const QString followUpColumns =
        QStringLiteral("id,customer,contact_time,username,way,content,result,next_date,settled,binned");
    return {
        {"data", QStringLiteral("rowid,") + data, QStringLiteral("rid,") + data},
        {"userdb", QStringLiteral("rowid,username,passwd"), QStringLiteral("rid,username,passwd")},
        {"rz", QStringLiteral("id,username,btime,jtime"), QStringLiteral("id,username,btime,jtime")},
        {data::AttemptLog::kTable, QStringLiteral("id,username,attempt_time,outcome,kind"),
         QStringLiteral("id,username,attempt_time,outcome,kind")},
        {data::kPasswordChangeTable, QStringLiteral("id,username,changed_by,change_time,kind"),
         QStringLiteral("id,username,changed_by,change_time,kind")},
        {data::kRightsTable, QStringLiteral("username,role,grants"), QStringLiteral("username,role,grants")},
        {data::kCustomerBinTable, QStringLiteral("rid,") + data + QStringLiteral(",deleted_by,deleted_at,deleted_pc"),
         QStringLiteral("rid,") + data + QStringLiteral(",deleted_by,deleted_at,deleted_pc")},
        {data::kChangeLogTable, QStringLiteral("id,log_time,username,pc,kind,customer_key,subject,details"),
         QStringLiteral("id,log_time,username,pc,kind,customer_key,subject,details")},
        {data::kFollowUpTable, followUpColumns, followUpColumns},
        {data::kFollowUpWayTable, QStringLiteral("way,position"), QStringLiteral("way,position")},
        {data::kReminderOffTable, QStringLiteral("username"), QStringLiteral("username")},
    };
}

// The key column of a copied table whose identity sequence must move on.
const char *keyColumn(const QString &table)
{
    if (table == QLatin1String("data") || table == QLatin1String("userdb"))
        return "rid";
    if (table == QLatin1String("rz") || table == QLatin1String(data::AttemptLog::kTable)
        || table == QLatin1String(data::kPasswordChangeTable) || table == QLatin1String(data::kChangeLogTable)
        || table == QLatin1String(data::kFollowUpTable))
        return "id";
    return nullptr;
}

// The copied columns other than keys that the server keeps as numbers.
bool isNumberColumn(const QString &table, int column)
{
    if (table == QLatin1String(data::kFollowUpTable))
        return column == 1 || column >= 8; // customer, settled, binned
    return table == QLatin1String(data::kFollowUpWayTable) && column == 1;
}

void openServer(db::Connection &connection, const db::RegisterAddress &address)
{
    connection.setAddress(address);
    connection.open();
}

// Refuses a database that already holds one of the register's tables.
void requireEmpty(db::Connection &connection)
{
    const QSqlDatabase database = connection.database();
    const QStringList present = db::postgresEngine().tableNames(database);
    QStringList tables;
    for (const TableCopy &copy : copiedTables())
        tables << QLatin1String(copy.table);
    tables << QLatin1String(data::kVersionTable);
    for (const QString &table : std::as_const(tables))
        if (present.contains(table))
            throw Error(QStringLiteral("The database \"%1\" already holds the table %2; nothing was changed.")
                            .arg(connection.fileName(), table),
                        QStringLiteral("数据库“%1”中已经有表 %2，没有做任何改动。").arg(connection.fileName(), table));
}

void run(db::Connection &connection, const QString &sql, const QVariantList &values = {})
{
    try {
        db::runBound(connection, sql, values);
    } catch (const Error &error) {
        throw Error(QStringLiteral("%1 (%2)").arg(error.message(), sql.left(80)), error.operatorText());
    }
}

// Everything of the schema but the rows, inside the caller's transaction.
ServerCreation createTables(db::Connection &connection)
{
    const db::Engine &engine = db::postgresEngine();
    for (const QString &statement : deliveredSchemaStatements(engine))
        run(connection, statement);
    run(connection, QStringLiteral("insert into %1 (version) values (?)").arg(QLatin1String(data::kVersionTable)),
        {data::kRegisterVersion});
    // The trigram indexes are a help, not a need: a server without pg_trgm (or a user who may
    // not create it) still gets a working register.
    ServerCreation creation;
    run(connection, QStringLiteral("savepoint search_index"));
    try {
        for (const QString &statement : serverSearchIndexStatements())
            db::runBound(connection, statement);
        run(connection, QStringLiteral("release savepoint search_index"));
        creation.searchIndex = true;
    } catch (const Error &error) {
        run(connection, QStringLiteral("rollback to savepoint search_index"));
        creation.searchIndexProblem = error.message();
    }
    return creation;
}

class Transaction
{
public:
    explicit Transaction(db::Connection &connection)
        : m_connection(connection)
    {
        run(m_connection, QStringLiteral("begin"));
    }
    ~Transaction()
    {
        if (!m_done) {
            QSqlQuery query(m_connection.database());
            query.exec(QStringLiteral("rollback"));
        }
    }
    void commit()
    {
        run(m_connection, QStringLiteral("commit"));
        m_done = true;
    }

private:
    db::Connection &m_connection;
    bool m_done = false;
};

qint64 countRows(db::Connection &connection, const QString &table)
{
    QSqlQuery query = db::runBound(connection, QStringLiteral("select count(*) from %1").arg(table));
    return query.next() ? query.value(0).toLongLong() : -1;
}

} // namespace

QStringList serverSearchIndexStatements()
{
    QStringList statements{QStringLiteral("create extension if not exists pg_trgm")};
    // The same expression as the search's condition (Engine::likeCondition), so the planner
    // matches the index to it.
    const db::Engine &engine = db::postgresEngine();
    for (const char *column : kSearchedColumns) {
        QString folded = engine.likeCondition(QLatin1String(column));
        folded = folded.left(folded.indexOf(QLatin1String(" like ")));
        statements << QStringLiteral("create index data_%1_trgm on data using gin (%2 gin_trgm_ops)")
                          .arg(QLatin1String(column), folded);
    }
    // The telephone field also searches the mobile numbers.
    QString mobile = engine.likeCondition(QStringLiteral("f"));
    mobile = mobile.left(mobile.indexOf(QLatin1String(" like ")));
    statements << QStringLiteral("create index data_f_trgm on data using gin (%1 gin_trgm_ops)").arg(mobile);
    return statements + searchExtraStatements(engine);
}

ServerCheck checkServerRegister(const db::RegisterAddress &address)
{
    ServerCheck check;
    try {
        db::Connection connection;
        openServer(connection, address);
        check.connected = true;
        check.hasRegister = deliveredSchemaProblem(connection.database()).isEmpty();
    } catch (const Error &error) {
        check.text = QStringLiteral("连接失败：%1").arg(error.operatorText());
        return check;
    }
    check.text = check.hasRegister
                     ? QStringLiteral("连接成功，服务器上的客户资料库可以使用。")
                     : QStringLiteral("连接成功，但这个数据库里还没有联簿宝的表。请先在服务器上运行：lianbu-initdb %1")
                           .arg(db::formatRegisterAddress(address));
    return check;
}

ServerCreation createServerRegister(const db::RegisterAddress &address)
{
    db::Connection connection;
    openServer(connection, address);
    requireEmpty(connection);
    Transaction transaction(connection);
    const ServerCreation creation = createTables(connection);
    run(connection, QStringLiteral("insert into userdb (username,passwd) values (?,?)"),
        {superAdministratorName(), data::hashPassword(sql::defaultPassword())});
    for (const QString &statement : data::serverLogStatements() + data::serverChangeFeedStatements())
        run(connection, statement);
    transaction.commit();
    return creation;
}

QList<CopiedTable> copyRegisterToServer(const QString &file, const db::RegisterAddress &address,
                                        const std::function<void(const QString &, qint64)> &progress)
{
    db::Connection source(file);
    source.setContentCheck(deliveredSchemaProblem);
    source.open();
    // An older file is upgraded first, as the program would on opening it: no plain password
    // reaches the server, and none stays in the file.
    data::upgradeRegister(source);
    const QStringList sourceTables = db::sqliteEngine().tableNames(source.database());

    db::Connection target;
    openServer(target, address);
    requireEmpty(target);

    // One read transaction on the file: the copy is of one committed moment, even while other
    // instances go on writing it.
    run(source, QStringLiteral("begin"));
    QList<CopiedTable> copied;
    try {
        Transaction transaction(target);
        createTables(target);
        for (const TableCopy &copy : copiedTables()) {
            const QString table = QLatin1String(copy.table);
            if (!sourceTables.contains(table))
                continue;
            // The file's own list of ways replaces the first list the new tables came with.
            if (table == QLatin1String(data::kFollowUpWayTable))
                run(target, QStringLiteral("delete from %1").arg(table));
            const int columns = int(copy.targetColumns.count(QLatin1Char(',')) + 1);
            QSqlQuery rows =
                db::runBound(source, QStringLiteral("select %1 from %2 order by 1").arg(copy.sourceColumns, table));
            // Many rows per insert: one round trip to the server per batch, values bound.
            constexpr int kBatch = 200;
            const QString oneRow =
                QLatin1Char('(') + QStringList(columns, QStringLiteral("?")).join(QLatin1Char(',')) + QLatin1Char(')');
            qint64 done = 0;
            QVariantList values;
            int pending = 0;
            auto flush = [&] {
                if (pending == 0)
                    return;
                run(target,
                    QStringLiteral("insert into %1 (%2) values %3")
                        .arg(table, copy.targetColumns, QStringList(pending, oneRow).join(QLatin1Char(','))),
                    values);
                done += pending;
                values.clear();
                pending = 0;
                if (progress)
                    progress(table, done);
            };
            while (rows.next()) {
                for (int column = 0; column < columns; ++column) {
                    const QVariant value = rows.value(column);
                    // SQLite keeps whatever type a value came with; the server's columns are
                    // text, except the keys (and the bin's and the log's customer keys).
                    if (value.isNull())
                        values << QVariant(); // NULL (a null text would be bound as empty text)
                    else if ((column == 0 && (keyColumn(table) || table == QLatin1String(data::kCustomerBinTable)))
                             || (table == QLatin1String(data::kChangeLogTable) && column == 5)
                             || isNumberColumn(table, column))
                        values << value.toLongLong();
                    else
                        values << value.toString();
                }
                if (++pending == kBatch)
                    flush();
            }
            flush();
            const qint64 sourceCount = countRows(source, table);
            const qint64 targetCount = countRows(target, table);
            if (sourceCount != targetCount || targetCount != done)
                throw Error(QStringLiteral("Table %1: %2 rows in the file, %3 on the server; nothing was copied.")
                                .arg(table)
                                .arg(sourceCount)
                                .arg(targetCount),
                            QStringLiteral("表 %1：文件中有 %2 行，服务器上有 %3 行，复制已取消。")
                                .arg(table)
                                .arg(sourceCount)
                                .arg(targetCount));
            // New rows continue after every id the file ever gave (AUTOINCREMENT remembers
            // deleted ones in sqlite_sequence).
            if (const char *key = keyColumn(table)) {
                qint64 next = 1;
                QSqlQuery highest =
                    db::runBound(source, QStringLiteral("select max(%1) from %2")
                                             .arg(copy.sourceColumns.section(QLatin1Char(','), 0, 0), table));
                if (highest.next())
                    next = std::max(next, highest.value(0).toLongLong() + 1);
                if (sourceTables.contains(QLatin1String("sqlite_sequence"))) {
                    QSqlQuery sequence =
                        db::runBound(source, QStringLiteral("select seq from sqlite_sequence where name=?"), {table});
                    if (sequence.next())
                        next = std::max(next, sequence.value(0).toLongLong() + 1);
                }
                run(target, QStringLiteral("select setval(pg_get_serial_sequence(?, ?)::regclass, ?::bigint, false)"),
                    {table, QLatin1String(key), next});
            }
            copied.append({table, done});
        }
        // After the copy: the rows copied are no one's new change.
        for (const QString &statement : data::serverLogStatements() + data::serverChangeFeedStatements())
            run(target, statement);
        transaction.commit();
    } catch (...) {
        QSqlQuery(source.database()).exec(QStringLiteral("rollback"));
        throw;
    }
    QSqlQuery(source.database()).exec(QStringLiteral("rollback"));
    return copied;
}

} // namespace lianbu
