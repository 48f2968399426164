#include "db/Connection.h"

#include "db/EngineMessage.h"
#include "platform/Error.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

namespace lianbu::db {

namespace {

QAtomicInteger<quint64> connectionCounter;

// SQLite's primary result code of a failed statement (extended codes carry it in the low byte).
int primaryCode(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : -1;
}

using detail::engineMessage;

constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteNotADb = 26;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqlitePerm = 3;

} // namespace

Connection::Connection()
    : m_connectionName(QStringLiteral("lianbu-db-%1").arg(++connectionCounter))
{
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
}

Connection::Connection(const QString &fileName)
    : Connection()
{
    m_fileName = fileName;
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
    m_fileName = fileName;
}

bool Connection::isOpen() const
{
    return QSqlDatabase::database(m_connectionName, false).isOpen();
}

QSqlDatabase Connection::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

void Connection::close()
{
    QSqlDatabase db = database();
    if (db.isOpen())
        db.close();
}

void Connection::open()
{
    if (isOpen())
        return;
    const QString path = QFileInfo(m_fileName).absoluteFilePath();
    const QFileInfo info(path);
    auto fail = [&path](const QString &reason) -> Error {
        return Error(QStringLiteral("Cannot open the database file \"%1\": %2").arg(path, reason));
    };
    if (m_fileName.isEmpty())
        throw Error(QStringLiteral("Cannot open a database: no file name given."));
    if (!info.exists())
        throw fail(QStringLiteral("the file does not exist."));
    if (!info.isFile())
        throw fail(QStringLiteral("it is not a file."));
    if (!info.isReadable())
        throw fail(QStringLiteral("the file cannot be read (permission denied)."));

    QSqlDatabase db = database();
    // A URI with mode=rw: SQLite then never creates the file, even if it vanished meanwhile.
    db.setDatabaseName(QStringLiteral("file:") + QString::fromLatin1(QUrl::toPercentEncoding(path, "/"))
                       + QStringLiteral("?mode=rw"));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeout));
    if (!db.open()) {
        const QSqlError error = db.lastError();
        const int code = primaryCode(error);
        if (code == kSqlitePerm || code == kSqliteCantOpen || code == kSqliteReadOnly)
            throw fail(QStringLiteral("the file cannot be opened for reading and writing (%1).")
                           .arg(engineMessage(error)));
        throw fail(engineMessage(error) + QLatin1Char('.'));
    }

    auto run = [&](const QString &sql, QString *firstValue) {
        QSqlQuery query(db);
        if (!query.exec(sql)) {
            const QSqlError error = query.lastError();
            query.finish();
            db.close();
            switch (primaryCode(error)) {
            case kSqliteNotADb:
            case kSqliteCorrupt:
                throw fail(QStringLiteral("the file is not a database or it is damaged."));
            case kSqliteBusy:
            case kSqliteLocked:
                throw fail(QStringLiteral("the file is locked by another program."));
            case kSqliteReadOnly:
            case kSqlitePerm:
            case kSqliteCantOpen:
                throw fail(QStringLiteral("the file cannot be written (%1).").arg(engineMessage(error)));
            default:
                throw fail(engineMessage(error) + QLatin1Char('.'));
            }
        }
        if (firstValue && query.next())
            *firstValue = query.value(0).toString();
    };
    // Reading the schema proves the file is a database nobody holds exclusively.
    run(QStringLiteral("select count(*) from sqlite_master"), nullptr);
    QString mode;
    run(QStringLiteral("PRAGMA journal_mode=WAL"), &mode);
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        db.close();
        throw fail(QStringLiteral("the file is locked by another program."));
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
    if (!query.exec(sql))
        throw Error(engineMessage(query.lastError()));
    return query.numRowsAffected();
}

} // namespace lianbu::db
