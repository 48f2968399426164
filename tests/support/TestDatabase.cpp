#include "tests/support/TestDatabase.h"

#include "data/Schema.h"
#include "data/ServerRegister.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "tests/support/TestServer.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace lianbu::test {

qint64 countOf(db::Connection &connection, const QString &sql)
{
    QSqlQuery query = db::runBound(connection, sql);
    return query.next() ? query.value(0).toLongLong() : -1;
}

bool damageCustomerPage(const QString &path)
{
    QStringList statements{QStringLiteral("begin")};
    for (int i = 0; i < 400; ++i)
        statements << QStringLiteral("insert into data (a, b) values ('VIP', '客户%1%2')")
                          .arg(i)
                          .arg(QString(100, QLatin1Char('z')));
    statements << QStringLiteral("commit") << QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")
               << QStringLiteral("select rootpage from sqlite_master where name='data'");
    QString rootPage;
    if (!execOnFile(path, statements, &rootPage) || rootPage.toLongLong() < 2)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.seek((rootPage.toLongLong() - 1) * 4096))
        return false;
    return file.write(QByteArray(64, char(0xA5))) == 64;
}

bool execOnFile(const QString &path, const QStringList &statements, QString *lastValue)
{
    const QString name = QStringLiteral("exec-on-file");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery query(db);
        for (const QString &statement : statements) {
            if (!ok)
                break;
            ok = query.exec(statement);
            if (!ok)
                qWarning() << statement << query.lastError().text();
            else if (lastValue && query.next())
                *lastValue = query.value(0).toString();
        }
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

QString createDataDb(const QString &folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("data.db"));
    createDeliveredDatabase(path);
    return path;
}

TestDatabase::TestDatabase(bool makeCurrent)
{
    if (!m_dir.isValid())
        qFatal("TestDatabase: cannot create a temporary folder");
    if (testsUseServer()) {
        if (testServerAddress().isEmpty())
            qFatal("TestDatabase: LIANBU_TEST_ENGINE=postgresql but no test cluster; call "
                   "LIANBU_REQUIRE_TEST_ENGINE() in initTestCase");
        const db::RegisterAddress address = createTestServerDatabase();
        createServerRegister(address);
        m_path = db::formatRegisterAddress(address);
        m_server = true;
    } else {
        m_path = createDataDb(m_dir.path());
    }
    if (makeCurrent) {
        m_previousCurrent = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
    }
}

TestDatabase::~TestDatabase()
{
    if (!m_previousCurrent.isEmpty())
        QDir::setCurrent(m_previousCurrent);
}

} // namespace lianbu::test
