#include "db/Connection.h"

#include "db/DamageCheck.h"
#include "db/EngineErrors.h"
#include "db/EngineMessage.h"
#include "db/ServerSupport.h"
#include "db/SqliteEngine.h"
#include "platform/Error.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDateTime>
#include <QMutex>
#include <QSqlDriver>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#ifndef LIANBU_NO_SERVER_REGISTER
#include <libpq-fe.h>
#include <poll.h>
#endif

namespace lianbu::db {

namespace {

QAtomicInteger<quint64> connectionCounter;

using detail::engineMessage;

} // namespace

Connection::Connection()
    : m_connectionName(QStringLiteral("lianbu-db-%1").arg(++connectionCounter))
{
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
}

Connection::Connection(const QString &fileName)
    : Connection()
{
    setFileName(fileName);
}

Connection::~Connection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

void Connection::setFileName(const QString &fileName)
{
    // A server address given as a name is taken as the address (it throws when malformed).
    setAddress(parseRegisterAddress(fileName));
}

void Connection::setAddress(const RegisterAddress &address)
{
    const QString driver = address.isServer() ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (database().driverName() != driver) {
        close();
        QSqlDatabase::removeDatabase(m_connectionName);
        QSqlDatabase::addDatabase(driver, m_connectionName);
    }
    m_address = address;
    m_fileName = address.isServer() ? formatRegisterAddress(address) : address.file;
}

bool Connection::isOpen() const
{
    return QSqlDatabase::database(m_connectionName, false).isOpen();
}

namespace {

QMutex noticeMutex;
std::function<void(const QString &)> reconnectionNotice;

#ifndef LIANBU_NO_SERVER_REGISTER
PGconn *serverHandle(const QSqlDatabase &db)
{
    const QSqlDriver *driver = db.driver();
    if (!driver)
        return nullptr;
    const QVariant handle = driver->handle();
    if (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)
        return nullptr;
    return *static_cast<PGconn *const *>(handle.data());
}
#endif

} // namespace

void setReconnectionNotice(std::function<void(const QString &address)> notice)
{
    const QMutexLocker lock(&noticeMutex);
    reconnectionNotice = std::move(notice);
}

QSqlDatabase Connection::database() const
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (m_address.isServer())
        keepServerConnection(db);
    return db;
}

bool serverRegistersAvailable()
{
#ifdef LIANBU_NO_SERVER_REGISTER
    return false;
#else
    return true;
#endif
}

void Connection::keepServerConnection(const QSqlDatabase &db) const
{
#ifdef LIANBU_NO_SERVER_REGISTER
    Q_UNUSED(db);
#else
    if (!db.isOpen())
        return;
    PGconn *connection = serverHandle(db);
    if (!connection)
        return;
    if (PQstatus(connection) == CONNECTION_OK) {
        // Inside a transaction (or while a statement runs) nothing is touched: a reconnection
        // would run the rest of it outside the transaction.
        if (PQtransactionStatus(connection) != PQTRANS_IDLE)
            return;
        // A server that restarts, or ends this session, says goodbye and closes the socket while
        // the program is idle; reading what came marks the connection broken. No wait: the
        // socket is read only as far as it holds data.
        // The goodbye and the closed socket may take two reads.
        for (int read = 0; read < 4 && PQstatus(connection) == CONNECTION_OK; ++read) {
            pollfd socket{PQsocket(connection), POLLIN, 0};
            if (::poll(&socket, 1, 0) <= 0)
                break;
            PQconsumeInput(connection);
        }
        if (PQstatus(connection) == CONNECTION_OK)
            return;
    }
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    if (nowMs < m_nextReconnectMs)
        return; // the server was not back a moment ago: the statement reports it
    // The same connection again, with the same parameters; the driver keeps its handle. The
    // session settings the driver and open() made are made again.
    PQreset(connection);
    if (PQstatus(connection) != CONNECTION_OK) {
        m_nextReconnectMs = nowMs + 3000;
        return;
    }
    m_nextReconnectMs = 0;
    PQsetClientEncoding(connection, "UTF8");
    const QByteArray lockTimeout = "set lock_timeout = " + QByteArray::number(m_busyTimeout);
    for (const char *statement : {"SET DATESTYLE TO 'ISO'", "SET bytea_output TO escape", lockTimeout.constData()})
        PQclear(PQexec(connection, statement));
    const QString address = formatRegisterAddress(m_address);
    if (!QCoreApplication::instance())
        return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [address] {
            std::function<void(const QString &)> notice;
            {
                const QMutexLocker lock(&noticeMutex);
                notice = reconnectionNotice;
            }
            if (notice)
                notice(address);
        },
        Qt::QueuedConnection);
#endif
}

void Connection::close()
{
    QSqlDatabase db = database();
    if (db.isOpen())
        db.close();
}

namespace {

// A refusal: the English message the layer has always given, the Chinese text for the operator.
Error refusal(const QString &path, const QString &reason, const QString &operatorReason)
{
    return Error(QStringLiteral("Cannot open the database file \"%1\": %2").arg(path, reason),
                 QStringLiteral("无法打开数据库文件“%1”：%2").arg(path, operatorReason));
}

} // namespace

bool isDamageRefusal(const Error &error)
{
    return error.message().contains(kDamagedFileReason);
}

void Connection::checkBeforeOpening(const QString &path) const
{
    const QFileInfo info(path);
    if (!info.exists())
        throw refusal(path, QStringLiteral("the file does not exist."), QStringLiteral("文件不存在。"));
    if (!info.isFile())
        throw refusal(path, QStringLiteral("it is not a file."), QStringLiteral("这不是一个文件。"));
    if (!info.isReadable())
        throw refusal(path, QStringLiteral("the file cannot be read (permission denied)."),
                      QStringLiteral("没有读取这个文件的权限。"));
    // SQLite would take an empty file for a new database and write a header into it.
    if (info.size() == 0)
        throw refusal(path, QStringLiteral("the file is empty (0 bytes), it is not a database."),
                      QStringLiteral("文件是空的（0 字节），不是数据库。"));
    // Writing needs the file, its folder (the engine creates the -wal and -shm files there) and
    // any -wal and -shm left behind. Checked before the engine sees the file, so a file that
    // cannot be used leaves no new side files.
    if (!info.isWritable())
        throw refusal(path, QStringLiteral("the file cannot be written (permission denied)."),
                      QStringLiteral("文件是只读的，无法保存数据。请给这个文件写入权限。"));
    const QFileInfo folder(info.absolutePath());
    if (!folder.isWritable())
        throw refusal(path, QStringLiteral("its folder cannot be written (permission denied)."),
                      QStringLiteral("文件所在的文件夹“%1”是只读的，无法保存数据。请给这个文件夹写入权限。")
                          .arg(folder.absoluteFilePath()));
    for (const char *suffix : {"-wal", "-shm"}) {
        const QFileInfo side(path + QLatin1String(suffix));
        if (side.exists() && !side.isWritable())
            throw refusal(path,
                          QStringLiteral("\"%1\" cannot be written (permission denied).").arg(side.absoluteFilePath()),
                          QStringLiteral("附属文件“%1”是只读的，数据库因此无法写入。请给它写入权限，或者在没有"
                                         "程序使用数据库时删除它。")
                              .arg(side.absoluteFilePath()));
    }
}

void Connection::checkReadOnly(const QString &path) const
{
    DamageRead how;
    how.depth = m_integrityCheck ? DamageRead::Depth::Quick : DamageRead::Depth::SchemaOnly;
    how.busyTimeoutMs = m_busyTimeout;
    how.immutableWhenUnused = true;
    if (m_integrityCheck && m_checkedAtOpen && m_largeFileBytes >= 0 && QFileInfo(path).size() > m_largeFileBytes)
        how.onlyTables = m_checkedAtOpen;
    how.contentCheck = m_contentCheck;
    const DamageFinding finding = readForDamage(path, how);
    m_wholeCheckDeferred = finding.tablesLeft;
    switch (finding.outcome) {
    case DamageFinding::Outcome::Sound:
    case DamageFinding::Outcome::Stopped:
        return;
    case DamageFinding::Outcome::NotOpened:
    case DamageFinding::Outcome::NotRead: {
        const RefusalReason reason = refusalReason(finding.error);
        throw refusal(path, reason.english, reason.chinese);
    }
    case DamageFinding::Outcome::Damaged:
        throw refusal(
            path, QStringLiteral("%1 (%2).").arg(kDamagedFileReason, finding.verdict),
            QStringLiteral("数据库已损坏（完整性检查：%1）。请用“恢复数据…”从备份恢复。").arg(finding.verdict));
    case DamageFinding::Outcome::Foreign:
        throw refusal(path, QStringLiteral("the file does not hold the program's tables."), finding.contentProblem);
    }
}

void Connection::openServer()
{
    const QString place = formatRegisterAddress(m_address);
    if (!serverRegistersAvailable())
        throw Error(QStringLiteral("Cannot open \"%1\": this build of the program cannot open a register on a "
                                   "database server; use a register file.")
                        .arg(place),
                    QStringLiteral("无法打开数据库服务器上的资料库“%1”：这个版本的联簿宝不能使用数据库服务器，"
                                   "请使用本机的资料库文件。")
                        .arg(place));
    QSqlDatabase db = database();
    if (!db.isValid())
        throw Error(QStringLiteral("Cannot open \"%1\": Qt's PostgreSQL driver (QPSQL) is not installed.").arg(place),
                    QStringLiteral("无法打开数据库服务器上的资料库“%1”：没有安装 Qt 的 PostgreSQL 驱动"
                                   "（Debian 软件包 libqt6sql6-psql）。")
                        .arg(place));
    db.setHostName(m_address.host);
    db.setPort(m_address.port);
    db.setDatabaseName(m_address.database);
    db.setUserName(m_address.user);
    db.setPassword(m_address.password);
    db.setConnectOptions(QStringLiteral("connect_timeout=%1;application_name=lianbu").arg(m_connectTimeout));
    if (!db.open()) {
        const QString reason = detail::engineMessage(db.lastError());
        const QString problem = serverLoginProblem(reason);
        throw Error(QStringLiteral("Cannot open the database \"%1\" on the server: %2").arg(place, reason),
                    QStringLiteral("无法打开数据库服务器上的资料库“%1”：%2")
                        .arg(place, problem.isEmpty() ? reason : problem + QStringLiteral("。详细信息：") + reason));
    }
    // Text is exchanged as UTF-8 whatever the server's default, and a statement waiting for a
    // row another operator holds gives up after the busy timeout, as on SQLite.
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("set client_encoding to 'UTF8'"))
        || !query.exec(QStringLiteral("set lock_timeout = %1").arg(m_busyTimeout))) {
        const Error error = engineError(query.lastError(), place);
        query.finish();
        db.close();
        throw error;
    }
    if (m_contentCheck) {
        const QString problem = m_contentCheck(db);
        if (!problem.isEmpty()) {
            db.close();
            throw Error(
                QStringLiteral("Cannot open the database \"%1\" on the server: it does not hold the program's tables.")
                    .arg(place),
                QStringLiteral("无法打开数据库服务器上的资料库“%1”：%2").arg(place, problem));
        }
    }
}

void Connection::open()
{
    if (isOpen())
        return;
    if (m_address.isServer()) {
        openServer();
        return;
    }
    if (m_fileName.isEmpty())
        throw Error(QStringLiteral("Cannot open a database: no file name given."),
                    QStringLiteral("没有给出数据库文件名。"));
    const QString path = QFileInfo(m_fileName).absoluteFilePath();
    // Everything that can refuse the file is decided before anything in it changes: only a file
    // that passes is switched to the WAL journal.
    checkBeforeOpening(path);
    checkReadOnly(path);

    QSqlDatabase db = database();
    // A URI with mode=rw: SQLite then never creates the file, even if it vanished meanwhile.
    db.setDatabaseName(engine::fileUri(path, QStringLiteral("mode=rw")));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeout));
    if (!db.open()) {
        const QSqlError error = db.lastError();
        const RefusalReason reason = refusalReason(error);
        const EngineFault fault = engineFault(error);
        if (fault == EngineFault::ReadOnly || fault == EngineFault::CannotOpen)
            throw refusal(
                path,
                QStringLiteral("the file cannot be opened for reading and writing (%1).").arg(engineMessage(error)),
                reason.chinese);
        throw refusal(path, reason.english, reason.chinese);
    }

    auto run = [&](const QString &sql, QString *firstValue) {
        QSqlQuery query(db);
        if (!execRetrying(query, sql, m_busyTimeout)) {
            const QSqlError error = query.lastError();
            query.finish();
            db.close();
            const RefusalReason reason = refusalReason(error);
            throw refusal(path, reason.english, reason.chinese);
        }
        if (firstValue && query.next())
            *firstValue = query.value(0).toString();
    };
    // Reading the schema proves nobody holds the file exclusively.
    run(QStringLiteral("select count(*) from sqlite_master"), nullptr);
    QString mode;
    run(QStringLiteral("PRAGMA journal_mode=WAL"), &mode);
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        db.close();
        throw refusal(path, QStringLiteral("the file is locked by another program."),
                      QStringLiteral("文件正被其他程序独占使用。请关闭那个程序后再试。"));
    }
    run(QStringLiteral("PRAGMA synchronous=FULL"), nullptr);
    run(QStringLiteral("PRAGMA busy_timeout=%1").arg(m_busyTimeout), nullptr);
}

int Connection::execute(const QString &sql)
{
    QSqlDatabase db = database();
    if (!db.isOpen())
        throw Error(QStringLiteral("Connection is not open."));
    QSqlQuery query(db);
    if (!execRetrying(query, sql, m_busyTimeout))
        throw engineError(query.lastError(),
                          m_address.isServer() ? m_fileName : QFileInfo(m_fileName).absoluteFilePath());
    return query.numRowsAffected();
}

} // namespace lianbu::db
