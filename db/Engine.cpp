#include "db/Engine.h"

#include "db/EngineMessage.h"
#include "db/SqliteEngine.h"
#include "platform/Error.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <QHash>
#include <QLocale>

#include <bit>
#include <limits>

#include <algorithm>
#include <initializer_list>
#include <memory>

#ifndef LIANBU_NO_SERVER_REGISTER
#include <libpq-fe.h>
#endif
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

// The driver's native handle. Qt names the type as the driver's headers declare it: "sqlite3*",
// and for libpq the struct's own name "pg_conn*" (PGconn is a typedef of it).
template <typename Handle>
Handle *nativeHandleOf(const QSqlDatabase &database, std::initializer_list<const char *> typeNames)
{
    const QVariant handle = database.driver() ? database.driver()->handle() : QVariant();
    if (!handle.isValid())
        return nullptr;
    if (std::none_of(typeNames.begin(), typeNames.end(),
                     [&](const char *name) { return qstrcmp(handle.typeName(), name) == 0; }))
        return nullptr;
    return *static_cast<Handle *const *>(handle.data());
}

// ---- SQLite: the C-API path, prepared statements on the connection's own handle -----------

class StatementRow final : public ResultRow
{
public:
    explicit StatementRow(const engine::Statement &statement)
        : m_statement(statement)
    {}
    int columnCount() const override { return m_statement.columnCount(); }
    QString columnName(int column) const override { return m_statement.columnName(column); }
    bool isNull(int column) const override { return m_statement.isNull(column); }
    bool isFloat(int column) const override { return m_statement.isFloat(column); }
    bool isInteger(int column) const override { return m_statement.isInteger(column); }
    qint64 integer(int column) const override { return m_statement.integer(column); }
    QStringView text(int column, QString *scratch) const override { return m_statement.text(column, scratch); }
    bool utf8(int column, const unsigned char **data, qsizetype *size) const override
    {
        return m_statement.utf8(column, data, size);
    }

private:
    const engine::Statement &m_statement;
};

bool isIntegerValue(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

bool isFloatValue(const QVariant &value)
{
    return value.metaType().id() == QMetaType::Double || value.metaType().id() == QMetaType::Float;
}

void bindAll(engine::Statement &statement, const QVariantList &values)
{
    for (int i = 0; i < values.size(); ++i) {
        const QVariant &value = values.at(i);
        if (value.isNull())
            statement.bindNull(i + 1);
        else if (isIntegerValue(value))
            statement.bind(i + 1, value.toLongLong());
        else
            statement.bind(i + 1, value.toString());
    }
}

class SqliteKeyedRows final : public KeyedRows
{
public:
    SqliteKeyedRows(sqlite3 *handle, const QString &select, const QString &keyColumn)
        : m_handle(handle)
        , m_byKey(handle, select + QLatin1String(" where ") + keyColumn + QLatin1String("=?"))
        , m_rangeText(select + QLatin1String(" where ") + keyColumn + QLatin1String(">=? and ") + keyColumn
                      + QLatin1String("<=? order by ") + keyColumn)
    {}
    int columnCount() const override { return m_byKey.columnCount(); }
    QString columnName(int column) const override { return m_byKey.columnName(column); }
    QString declaredType(int column) const override { return m_byKey.declaredType(column); }
    void read(const std::vector<qint64> &keys, int from, int to,
              const std::function<void(int, const ResultRow *)> &visit) override
    {
        if (from >= to)
            return;
        const engine::ReadTransaction transaction(m_handle);
        // Keys that ascend closely are read by one range scan, others one by one.
        bool ascending = true;
        for (int r = from + 1; r < to && ascending; ++r)
            ascending = keys[size_t(r)] > keys[size_t(r - 1)];
        const qint64 low = keys[size_t(from)];
        const qint64 high = keys[size_t(to - 1)];
        if (to - from > 1 && ascending && low > 0 && high - low < qint64(to - from) * 4) {
            if (!m_byRange)
                m_byRange = std::make_unique<engine::Statement>(m_handle, m_rangeText);
            engine::Statement &range = *m_byRange;
            range.reset();
            range.bind(1, low);
            range.bind(2, high);
            const StatementRow row(range);
            int index = from;
            bool more = range.step();
            while (index < to) {
                const qint64 key = more ? range.integer(0) : std::numeric_limits<qint64>::max();
                if (more && key < keys[size_t(index)]) {
                    more = range.step();
                    continue;
                }
                visit(index, more && key == keys[size_t(index)] ? &row : nullptr);
                ++index;
            }
            range.reset();
            return;
        }
        const StatementRow row(m_byKey);
        for (int index = from; index < to; ++index) {
            const qint64 key = keys[size_t(index)];
            m_byKey.reset();
            m_byKey.bind(1, key);
            visit(index, key != 0 && m_byKey.step() ? &row : nullptr);
        }
        m_byKey.reset();
    }

private:
    sqlite3 *m_handle;
    engine::Statement m_byKey;
    QString m_rangeText;
    std::unique_ptr<engine::Statement> m_byRange;
};

// ---- the server: Qt's QSqlQuery, values read as QVariants --------------------------------

class VariantRow final : public ResultRow
{
public:
    VariantRow(const QSqlRecord &record, const std::vector<QVariant> &values)
        : m_record(record)
        , m_values(values)
    {}
    int columnCount() const override { return m_record.count(); }
    QString columnName(int column) const override { return m_record.fieldName(column); }
    bool isNull(int column) const override { return m_values[size_t(column)].isNull(); }
    bool isFloat(int column) const override { return isFloatValue(m_values[size_t(column)]); }
    bool isInteger(int column) const override { return isIntegerValue(m_values[size_t(column)]); }
    qint64 integer(int column) const override { return m_values[size_t(column)].toLongLong(); }
    QStringView text(int column, QString *scratch) const override
    {
        const QVariant &value = m_values[size_t(column)];
        if (value.isNull())
            return {};
        *scratch = isFloatValue(value) ? QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest)
                                       : value.toString();
        return *scratch;
    }

private:
    const QSqlRecord &m_record;
    const std::vector<QVariant> &m_values;
};

std::vector<QVariant> rowValues(const QSqlQuery &query, int count)
{
    std::vector<QVariant> values(static_cast<size_t>(count));
    for (int c = 0; c < count; ++c)
        values[size_t(c)] = query.value(c);
    return values;
}

// The keys as one bound array value: one statement for a whole batch.
QString keyArray(const std::vector<qint64> &keys, int from, int to)
{
    QString text = QStringLiteral("{");
    for (int i = from; i < to; ++i) {
        if (keys[size_t(i)] == 0)
            continue;
        if (text.size() > 1)
            text += QLatin1Char(',');
        text += QString::number(keys[size_t(i)]);
    }
    return text + QLatin1Char('}');
}

class PostgresKeyedRows final : public KeyedRows
{
public:
    PostgresKeyedRows(const QSqlDatabase &database, const QString &select, const QString &keyColumn)
        : m_query(database)
    {
        m_query.setForwardOnly(true);
        if (!m_query.prepare(select + QLatin1String(" where ") + keyColumn + QLatin1String(" = any(?::bigint[])")))
            throw Error(detail::engineMessage(m_query.lastError()));
        // The columns, from a run that reads nothing.
        run(QStringLiteral("{}"));
        m_record = m_query.record();
        m_query.finish();
    }
    int columnCount() const override { return m_record.count(); }
    QString columnName(int column) const override { return m_record.fieldName(column); }
    QString declaredType(int) const override { return {}; }
    void read(const std::vector<qint64> &keys, int from, int to,
              const std::function<void(int, const ResultRow *)> &visit) override
    {
        if (from >= to)
            return;
        run(keyArray(keys, from, to));
        QHash<qint64, std::vector<QVariant>> rows;
        const int count = m_record.count();
        while (m_query.next())
            rows.insert(m_query.value(0).toLongLong(), rowValues(m_query, count));
        if (m_query.lastError().isValid())
            throw Error(detail::engineMessage(m_query.lastError()));
        m_query.finish();
        for (int index = from; index < to; ++index) {
            const auto found = rows.constFind(keys[size_t(index)]);
            if (found == rows.constEnd()) {
                visit(index, nullptr);
            } else {
                const VariantRow row(m_record, found.value());
                visit(index, &row);
            }
        }
    }

private:
    void run(const QString &keys)
    {
        m_query.addBindValue(keys);
        if (!m_query.exec())
            throw Error(detail::engineMessage(m_query.lastError()));
    }

    QSqlQuery m_query;
    QSqlRecord m_record;
};

} // namespace

std::vector<qint64> readKeys(const Engine &engine, const QSqlDatabase &database, const QString &sql,
                             const QVariantList &values)
{
    std::vector<qint64> keys;
    engine.readResult(database, sql, values, [&keys](const ResultRow &row) { keys.push_back(row.integer(0)); });
    return keys;
}

void sortKeysAscending(std::vector<qint64> &keys)
{
    if (std::is_sorted(keys.begin(), keys.end()))
        return;
    const auto [low, high] = std::minmax_element(keys.begin(), keys.end());
    const quint64 span = quint64(*high) - quint64(*low); // one less than the bitmap's bits
    // A bitmap of at most 8 bits a key (one byte, an eighth of the keys' own size).
    if (span / 8 >= keys.size()) {
        std::sort(keys.begin(), keys.end());
        return;
    }
    const qint64 first = *low;
    std::vector<quint64> marks(size_t(span / 64 + 1), 0);
    for (const qint64 key : keys) {
        const quint64 at = quint64(key) - quint64(first);
        marks[size_t(at / 64)] |= quint64(1) << (at % 64);
    }
    size_t marked = 0;
    for (const quint64 word : marks)
        marked += size_t(std::popcount(word));
    if (marked != keys.size()) { // a key twice: the bitmap would keep it once
        std::sort(keys.begin(), keys.end());
        return;
    }
    size_t out = 0;
    for (size_t w = 0; w < marks.size(); ++w)
        for (quint64 word = marks[w]; word != 0; word &= word - 1)
            keys[out++] = qint64(quint64(first) + w * 64 + quint64(std::countr_zero(word)));
}

namespace {

class SqliteEngine final : public Engine
{
public:
    Kind kind() const override { return Kind::Sqlite; }
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
    QStringList tableNames(const QSqlDatabase &database) const override
    {
        return readNames(database, QStringLiteral("select name from sqlite_master where type='table'"));
    }
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
    std::function<bool()> canceller(const QSqlDatabase &database) const override
    {
        sqlite3 *handle = nativeHandleOf<sqlite3>(database, {"sqlite3*"});
        return [handle] {
            if (handle)
                sqlite3_interrupt(handle);
            return handle != nullptr;
        };
    }
    void readResult(const QSqlDatabase &database, const QString &sql, const QVariantList &values,
                    const std::function<void(const ResultRow &)> &visit) const override
    {
        engine::Statement statement(engine::nativeHandle(database), sql);
        bindAll(statement, values);
        const StatementRow row(statement);
        while (statement.step())
            visit(row);
    }
    std::unique_ptr<KeyedRows> keyedRows(const QSqlDatabase &database, const QString &select,
                                         const QString &keyColumn) const override
    {
        return std::make_unique<SqliteKeyedRows>(engine::nativeHandle(database), select, keyColumn);
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
    QString growingKeyType() const override
    {
        return QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY");
    }
    QString rowKey(const QString &quotedTable) const override { return quotedTable + QLatin1String(".rid"); }
    QString insertKeySuffix(const QString &keyColumn) const override
    {
        return QLatin1String(" returning ") + keyColumn;
    }
    bool needsKeyOrder() const override { return true; }
    qint64 insertedKey(QSqlQuery &query) const override { return query.next() ? query.value(0).toLongLong() : 0; }
    QString sameAs(const QString &column) const override { return column + QLatin1String(" is not distinct from ?"); }
    QString likeCondition(const QString &column) const override
    {
        // ESCAPE '' : SQLite's LIKE has no escape character, the server's default is "\".
        return QStringLiteral("translate(%1,'%2','%3') like translate(?,'%2','%3') escape ''")
            .arg(column, QLatin1String(kUpper), QLatin1String(kLower));
    }
    EngineFault fault(const QSqlError &error) const override { return postgresFault(error); }
    QStringList tableNames(const QSqlDatabase &database) const override
    {
        return readNames(database, QStringLiteral("select table_name from information_schema.tables "
                                                  "where table_schema = current_schema()"));
    }
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
    std::function<bool()> canceller(const QSqlDatabase &database) const override
    {
#ifdef LIANBU_NO_SERVER_REGISTER
        Q_UNUSED(database);
        return [] { return false; };
#else
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
#endif
    }
    void readResult(const QSqlDatabase &database, const QString &sql, const QVariantList &values,
                    const std::function<void(const ResultRow &)> &visit) const override
    {
        QSqlQuery query(database);
        query.setForwardOnly(true);
        bool ok = query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        ok = ok && query.exec();
        if (!ok)
            throw Error(detail::engineMessage(query.lastError()));
        const QSqlRecord record = query.record();
        while (query.next()) {
            const std::vector<QVariant> cells = rowValues(query, record.count());
            visit(VariantRow(record, cells));
        }
        if (query.lastError().isValid())
            throw Error(detail::engineMessage(query.lastError()));
    }
    std::unique_ptr<KeyedRows> keyedRows(const QSqlDatabase &database, const QString &select,
                                         const QString &keyColumn) const override
    {
        return std::make_unique<PostgresKeyedRows>(database, select, keyColumn);
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
