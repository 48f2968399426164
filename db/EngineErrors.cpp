#include "db/EngineErrors.h"

#include "db/EngineMessage.h"
#include "db/RegisterAddress.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>

#ifndef LIANBU_NO_SERVER_REGISTER
#include <libpq-fe.h>
#endif
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

EngineFault postgresFault(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    if (state.isEmpty())
        return error.type() == QSqlError::ConnectionError ? EngineFault::Unreachable : EngineFault::Other;
    const QString stateClass = state.left(2);
    if (state == QLatin1String("40001") || state == QLatin1String("40P01") || state == QLatin1String("55P03")
        || state == QLatin1String("55006"))
        return EngineFault::Busy;
    if (state == QLatin1String("53100") || state == QLatin1String("53200"))
        return EngineFault::Full;
    if (state == QLatin1String("25006") || state == QLatin1String("42501"))
        return EngineFault::ReadOnly;
    if (stateClass == QLatin1String("XX"))
        return EngineFault::Damaged;
    if (state == QLatin1String("58030"))
        return EngineFault::Io;
    if (stateClass == QLatin1String("08") || (stateClass == QLatin1String("57") && state != QLatin1String("57014")))
        return EngineFault::Unreachable;
    if (state == QLatin1String("54001"))
        return EngineFault::PatternTooComplex;
    if (state == QLatin1String("28000") || state == QLatin1String("28P01") || state == QLatin1String("3D000"))
        return EngineFault::CannotOpen;
    return EngineFault::Other;
}

QString serverLoginProblem(const QString &clientText)
{
    // libpq and the server word these in English unless their own translations are installed
    // and chosen; then the text is already in the operator's language and passes unchanged.
    static const struct
    {
        const char *fragment;
        const char *reason;
    } known[] = {
        {"password authentication failed", "用户名或密码不对"},
        {"no password supplied", "服务器要求密码，但没有填写密码"},
        {"fe_sendauth: no password", "服务器要求密码，但没有填写密码"},
        {"Connection refused", "服务器没有在这个端口上接受连接（服务器没有运行，或端口不对）"},
        {"could not translate host name", "找不到这个主机名"},
        {"timeout expired", "服务器在规定时间内没有应答"},
        {"No route to host", "网络上找不到这台服务器"},
        {"no pg_hba.conf entry", "服务器不允许从这台电脑连接（请管理员修改 pg_hba.conf）"},
        {"role \"", "服务器上没有这个用户"},
        {"database \"", "服务器上没有这个数据库"},
        {"too many clients", "服务器的连接数已满"},
        {"the database system is starting up", "服务器正在启动，请稍后再试"},
        {"the database system is shutting down", "服务器正在关闭"},
    };
    for (const auto &entry : known)
        if (clientText.contains(QLatin1String(entry.fragment), Qt::CaseInsensitive))
            return QString::fromUtf8(entry.reason);
    return {};
}

EngineFault engineFault(const QSqlError &error)
{
    if (error.nativeErrorCode().size() == 5
        || (error.nativeErrorCode().isEmpty() && error.type() == QSqlError::ConnectionError))
        return postgresFault(error);
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return engineFault(ok ? code : SQLITE_ERROR, detail::engineMessage(error));
}

QString operatorText(EngineFault fault, const QString &file, const QString &engineText)
{
    const bool server = file.startsWith(QLatin1String("postgresql://"));
    if (server) {
        // The server's own words for its faults; the file texts below would send the operator
        // looking for a file.
        const QString place = QStringLiteral("数据库服务器上的资料库“%1”").arg(file);
        switch (fault) {
        case EngineFault::Busy:
            return QStringLiteral("%1正被其他操作员同时修改，等待后仍未能完成操作，这次操作没有保存。请稍后再试。")
                .arg(place);
        case EngineFault::Full:
            return QStringLiteral("数据库服务器的磁盘或内存不足，无法写入%1，这次操作没有保存。请联系服务器管理员。")
                .arg(place);
        case EngineFault::ReadOnly:
            return QStringLiteral("没有写入%1的权限，这次操作没有保存。请联系服务器管理员。").arg(place);
        case EngineFault::Damaged:
            return QStringLiteral("%1已损坏（%2）。请联系服务器管理员。").arg(place, engineText);
        case EngineFault::Io:
            return QStringLiteral("数据库服务器读写磁盘时出错，%1的这次操作没有完成。").arg(place);
        case EngineFault::CannotOpen:
            return QStringLiteral("无法打开%1：%2").arg(place, engineText);
        case EngineFault::Unreachable:
            return QStringLiteral("无法连接%1，或者连接已中断，这次操作没有完成。请检查网络和服务器后再试。")
                .arg(place);
        case EngineFault::PatternTooComplex:
            return QStringLiteral("查询内容太长或太复杂，请缩短查询内容后再试。");
        case EngineFault::Other:
            break;
        }
        return QStringLiteral("%1拒绝了这次操作：%2").arg(place, engineText);
    }
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
    case EngineFault::Unreachable:
    case EngineFault::Other:
        break;
    }
    return QStringLiteral("数据库文件%1拒绝了这次操作：%2").arg(name, engineText);
}

RefusalReason refusalReason(const QSqlError &error)
{
    const QString text = detail::engineMessage(error);
    switch (engineFault(error)) {
    case EngineFault::Damaged:
        return {QString(kDamagedFileReason) + QLatin1Char('.'), QStringLiteral("文件不是数据库，或者已损坏。")};
    case EngineFault::Busy:
        return {QStringLiteral("the file is locked by another program."),
                QStringLiteral("文件正被其他程序独占使用。请关闭那个程序后再试。")};
    case EngineFault::ReadOnly:
    case EngineFault::CannotOpen:
        return {QStringLiteral("the file cannot be written (%1).").arg(text),
                QStringLiteral("文件无法写入（%1）。请检查文件和所在文件夹的写入权限。").arg(text)};
    default:
        return {text + QLatin1Char('.'), QStringLiteral("数据库引擎报告：%1").arg(text)};
    }
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
#ifndef LIANBU_NO_SERVER_REGISTER
    // libpq's handle is named by its struct, "pg_conn*".
    if (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0) {
        PGconn *connection = *static_cast<PGconn *const *>(handle.data());
        if (!connection)
            return {};
        RegisterAddress address;
        address.kind = RegisterAddress::Kind::Server;
        address.user = QString::fromUtf8(PQuser(connection));
        address.host = QString::fromUtf8(PQhost(connection));
        address.port = QString::fromUtf8(PQport(connection)).toInt();
        address.database = QString::fromUtf8(PQdb(connection));
        return formatRegisterAddress(address);
    }
#endif
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
