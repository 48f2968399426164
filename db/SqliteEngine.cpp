#include "db/SqliteEngine.h"

#include "platform/Error.h"

#include <QFileInfo>
#include <QLocale>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QUrl>
#include <QVariant>

#include <sqlite3.h>

namespace lianbu::db::engine {

QString fileUri(const QString &path, const QString &query)
{
    return QStringLiteral("file:")
           + QString::fromLatin1(QUrl::toPercentEncoding(QFileInfo(path).absoluteFilePath(), "/")) + QLatin1Char('?')
           + query;
}

sqlite3 *nativeHandle(const QSqlDatabase &database)
{
    const QVariant handle = database.isOpen() && database.driver() ? database.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        throw Error(QStringLiteral("Connection is not open."));
    sqlite3 *native = *static_cast<sqlite3 *const *>(handle.constData());
    if (!native)
        throw Error(QStringLiteral("Connection is not open."));
    return native;
}

void interrupt(const QSqlDatabase &database)
{
    const QVariant handle = database.driver() ? database.driver()->handle() : QVariant();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        if (sqlite3 *native = *static_cast<sqlite3 *const *>(handle.constData()))
            sqlite3_interrupt(native);
}

void interrupt(sqlite3 *handle)
{
    sqlite3_interrupt(handle);
}

Statement::Statement(sqlite3 *handle, const QString &sql)
    : m_handle(handle)
{
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(handle, utf8.constData(), int(utf8.size()), &m_statement, nullptr) != SQLITE_OK) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(handle));
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
        throw Error(message);
    }
    if (!m_statement)
        throw Error(QStringLiteral("No statement in \"%1\"").arg(sql));
}

Statement::~Statement()
{
    sqlite3_finalize(m_statement);
}

void Statement::fail() const
{
    throw Error(QString::fromUtf8(sqlite3_errmsg(m_handle)));
}

void Statement::bind(int parameter, qint64 value)
{
    if (sqlite3_bind_int64(m_statement, parameter, value) != SQLITE_OK)
        fail();
}

void Statement::bind(int parameter, const QString &text)
{
    if (sqlite3_bind_text16(m_statement, parameter, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT) != SQLITE_OK)
        fail();
}

void Statement::bindNull(int parameter)
{
    if (sqlite3_bind_null(m_statement, parameter) != SQLITE_OK)
        fail();
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const QString message = QString::fromUtf8(sqlite3_errmsg(m_handle));
    sqlite3_reset(m_statement);
    throw Error(message);
}

void Statement::reset()
{
    sqlite3_reset(m_statement);
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_statement);
}

QString Statement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_statement, column));
}

QString Statement::declaredType(int column) const
{
    return QString::fromUtf8(sqlite3_column_decltype(m_statement, column));
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

bool Statement::isFloat(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_FLOAT;
}

bool Statement::isInteger(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_INTEGER;
}

qint64 Statement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

QStringView Statement::text(int column, QString *scratch) const
{
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_NULL:
        return {};
    case SQLITE_INTEGER:
        *scratch = QString::number(sqlite3_column_int64(m_statement, column));
        return *scratch;
    case SQLITE_FLOAT:
        *scratch = QString::number(sqlite3_column_double(m_statement, column), 'g', QLocale::FloatingPointShortest);
        return *scratch;
    default: {
        const void *p = sqlite3_column_text16(m_statement, column);
        const int bytes = sqlite3_column_bytes16(m_statement, column);
        return QStringView(static_cast<const char16_t *>(p), bytes / 2);
    }
    }
}

ReadTransaction::ReadTransaction(sqlite3 *handle)
    : m_handle(handle)
{
    if (sqlite3_get_autocommit(handle))
        m_began = sqlite3_exec(handle, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
}

ReadTransaction::~ReadTransaction()
{
    if (m_began)
        sqlite3_exec(m_handle, "COMMIT", nullptr, nullptr, nullptr);
}

bool Statement::utf8(int column, const unsigned char **data, qsizetype *size) const
{
    if (sqlite3_column_type(m_statement, column) != SQLITE_TEXT)
        return false;
    *data = sqlite3_column_text(m_statement, column);
    *size = sqlite3_column_bytes(m_statement, column);
    return true;
}

std::vector<qint64> readKeys(sqlite3 *handle, const QString &sql)
{
    Statement statement(handle, sql);
    std::vector<qint64> keys;
    while (statement.step())
        keys.push_back(statement.integer(0));
    return keys;
}

} // namespace lianbu::db::engine
