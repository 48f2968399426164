#include "tests/support/TestServer.h"

#include "db/Connection.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace lianbu::test {

QString testServerAddress()
{
    return qEnvironmentVariable("LIANBU_TEST_POSTGRESQL");
}

bool testsUseServer()
{
    return qEnvironmentVariable(kTestEngineVariable) == QLatin1String("postgresql");
}

db::RegisterAddress createTestServerDatabase()
{
    static std::atomic<int> counter{0};
    const QString server = testServerAddress();
    if (server.isEmpty())
        qFatal("createTestServerDatabase: no test cluster (LIANBU_TEST_POSTGRESQL)");
    db::RegisterAddress address = db::parseRegisterAddress(server);
    // Unique across the test processes ctest runs side by side.
    address.database = QStringLiteral("t%1_%2_%3")
                           .arg(QCoreApplication::applicationPid())
                           .arg(++counter)
                           .arg(QDateTime::currentMSecsSinceEpoch() % 100000000);
    db::Connection maintenance;
    maintenance.setAddress(db::parseRegisterAddress(server));
    maintenance.open();
    // The name is made above from digits and letters only.
    QSqlQuery query(maintenance.database());
    if (!query.exec(QStringLiteral("create database %1").arg(address.database)))
        qFatal("createTestServerDatabase: %s", qPrintable(query.lastError().text()));
    return address;
}

void createRefusingTrigger(db::Connection &connection, const QString &table, const QString &operation,
                           const QString &message)
{
    // Names and texts come from the tests themselves.
    const QString name = QStringLiteral("refuse_%1_%2").arg(table, operation);
    if (connection.isServer()) {
        connection.execute(QStringLiteral("create function %1() returns trigger language plpgsql as $$ begin "
                                          "raise exception '%2'; end $$")
                               .arg(name, message));
        connection.execute(QStringLiteral("create trigger %1 before %2 on %3 for each row execute function %1()")
                               .arg(name, operation, table));
    } else {
        connection.execute(QStringLiteral("create trigger %1 before %2 on %3 begin select raise(abort, '%4'); end")
                               .arg(name, operation, table, message));
    }
}

void dropRefusingTrigger(db::Connection &connection, const QString &table, const QString &operation)
{
    const QString name = QStringLiteral("refuse_%1_%2").arg(table, operation);
    connection.execute(connection.isServer() ? QStringLiteral("drop trigger %1 on %2").arg(name, table)
                                             : QStringLiteral("drop trigger %1").arg(name));
}

} // namespace lianbu::test
