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

} // namespace lianbu::test
