#include "db/EngineErrors.h"

#include "db/EngineMessage.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <sqlite3.h>

namespace lianbu::db {

EngineFault engineFault(int sqliteCode, const QString &engineText)
{
    switch (sqliteCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return EngineFault::Busy;
    case SQLITE_FULL:
        return EngineFault::Full;
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return EngineFault::ReadOnly;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return EngineFault::Damaged;
    case SQLITE_IOERR:
        return EngineFault::Io;
    case SQLITE_CANTOPEN:
        return EngineFault::CannotOpen;
    case SQLITE_ERROR:
        // The engine reports an over-long pattern only by its text.
        if (engineText.contains(QLatin1String("pattern too complex"), Qt::CaseInsensitive))
            return EngineFault::PatternTooComplex;
        return EngineFault::Other;
    default:
        return EngineFault::Other;
    }
}

EngineFault engineFault(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return engineFault(ok ? code : SQLITE_ERROR, detail::engineMessage(error));
}

QString operatorText(EngineFault fault, const QString &file, const QString &engineText)
{
    const QString name = file.isEmpty() ? QStringLiteral("数据库") : QStringLiteral("“%1”").arg(file);
    switch (fault) {
    case EngineFault::Busy:
        return QStringLiteral("数据库文件%1正被其他程序或其他操作员占用，等待后仍未能完成操作，"
                              "这次操作没有保存。请稍后再试。")
            .arg(name);
    case EngineFault::Full:
        return QStringLiteral("磁盘已满，无法写入数据库文件%1，这次操作没有保存。"
                              "请腾出磁盘空间后再试。")
            .arg(name);
    case EngineFault::ReadOnly:
        return QStringLiteral("数据库文件%1无法写入（文件或所在文件夹是只读的），这次操作没有保存。"
                              "请检查文件和文件夹的写入权限。")
            .arg(name);
    case EngineFault::Damaged:
        return QStringLiteral("数据库文件%1已损坏。请用“恢复数据…”从备份恢复。").arg(name);
    case EngineFault::Io:
        return QStringLiteral("读写数据库文件%1时发生磁盘错误，这次操作没有完成。").arg(name);
    case EngineFault::CannotOpen:
        return QStringLiteral("无法打开数据库文件%1。").arg(name);
    case EngineFault::PatternTooComplex:
        return QStringLiteral("查询内容太长或太复杂，请缩短查询内容后再试。");
    case EngineFault::Other:
        break;
    }
    return QStringLiteral("数据库文件%1拒绝了这次操作：%2").arg(name, engineText);
}

Error engineError(const QSqlError &error, const QString &file)
{
    const QString text = detail::engineMessage(error);
    return Error(text, operatorText(engineFault(error), file, text));
}

QString databaseFile(const QSqlDatabase &database)
{
    return databaseFile(database.driver());
}

QString databaseFile(const QSqlDriver *driver)
{
    if (!driver)
        return {};
    const QVariant handle = driver->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return {};
    sqlite3 *connection = *static_cast<sqlite3 *const *>(handle.data());
    if (!connection)
        return {};
    const char *name = sqlite3_db_filename(connection, "main");
    return name ? QString::fromUtf8(name) : QString();
}

namespace {

bool isBusy(const QSqlError &error)
{
    return error.isValid() && engineFault(error) == EngineFault::Busy;
}

template <typename Run>
bool retrying(QSqlQuery &query, int busyTimeoutMs, Run run)
{
    const QDeadlineTimer deadline(busyTimeoutMs);
    for (;;) {
        if (run())
            return true;
        if (!isBusy(query.lastError()) || deadline.hasExpired())
            return false;
        query.finish();
        QThread::msleep(20);
    }
}

} // namespace

bool execRetrying(QSqlQuery &query, int busyTimeoutMs)
{
    return retrying(query, busyTimeoutMs, [&] { return query.exec(); });
}

bool execRetrying(QSqlQuery &query, const QString &sql, int busyTimeoutMs)
{
    return retrying(query, busyTimeoutMs, [&] { return query.exec(sql); });
}

} // namespace lianbu::db
