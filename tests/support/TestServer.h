#pragma once

#include "db/RegisterAddress.h"

namespace lianbu::db {
class Connection;
}

#include <QString>
#include <QtTest/QTest>

namespace lianbu::test {

// The throwaway PostgreSQL cluster scripts/with-test-server starts: its superuser address is in
// LIANBU_TEST_POSTGRESQL. Empty when no cluster runs.
QString testServerAddress();

// A new empty database on the cluster (it goes with the cluster).
db::RegisterAddress createTestServerDatabase();

// A trigger that refuses every `operation` ("insert", "update" or "delete") on `table` with
// `message` as the engine's error text, in the engine's own dialect.
void createRefusingTrigger(db::Connection &connection, const QString &table, const QString &operation,
                           const QString &message);

void dropRefusingTrigger(db::Connection &connection, const QString &table, const QString &operation);

// The variable that makes TestDatabase put the register on the server: "postgresql".
inline constexpr char kTestEngineVariable[] = "LIANBU_TEST_ENGINE";
// True when the tests of this process run against the server.
bool testsUseServer();

} // namespace lianbu::test

// Skips the test (or, in initTestCase, the whole executable) with a message nobody overlooks
// when no test cluster runs. scripts/test always starts one (and fails in CI without it).
#define LIANBU_REQUIRE_TEST_SERVER()                                                     \
    do {                                                                                 \
        if (::lianbu::test::testServerAddress().isEmpty())                               \
            QSKIP("*** NO POSTGRESQL TEST CLUSTER: server tests SKIPPED (run them with " \
                  "scripts/with-test-server, as scripts/test does) ***");                \
    } while (false)

// In initTestCase of the executables that run against both engines: skips the server run when
// no cluster runs.
#define LIANBU_REQUIRE_TEST_ENGINE()          \
    do {                                      \
        if (::lianbu::test::testsUseServer()) \
            LIANBU_REQUIRE_TEST_SERVER();     \
    } while (false)
