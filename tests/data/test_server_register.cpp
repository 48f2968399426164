// Registers on a PostgreSQL server: addresses, the per-user password file, the choice of the
// register, creating and copying a register on the server, and the connection test of
// "数据库连接…". The server cases need the throwaway cluster of scripts/with-test-server.
#include "app/Register.h"
#include "app/ServerConnectionDialog.h"
#include "data/ChangeLog.h"
#include "data/CustomerStore.h"
#include "data/Database.h"
#include "data/FollowUpStore.h"
#include "data/OperatorStore.h"
#include "data/PasswordHash.h"
#include "data/RegisterUpgrade.h"
#include "operators/AttemptLimiter.h"
#include "data/Schema.h"
#include "data/ServerRegister.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "platform/CommandLine.h"
#include "platform/Error.h"
#include "platform/PasswordFile.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"
#include "tests/support/TestSupport.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QLineEdit>
#include <QSpinBox>
#include <QtEndian>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <sodium.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

using namespace lianbu;
using db::RegisterAddress;

namespace {

QStringList column(db::Connection &connection, const QString &sql)
{
    QStringList values;
    QSqlQuery query = db::runBound(connection, sql);
    while (query.next())
        values << (query.value(0).isNull() ? QStringLiteral("<null>") : query.value(0).toString());
    return values;
}

db::Connection &openServer(db::Connection &connection, const RegisterAddress &address)
{
    connection.setAddress(address);
    connection.open();
    return connection;
}

// A "server" that asks the first client for its password in clear and keeps every byte the
// client sends after the question.
class PasswordCatcher
{
public:
    PasswordCatcher()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof where;
        m_ready = m_socket >= 0 && ::bind(m_socket, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0
                  && ::listen(m_socket, 4) == 0
                  && ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&where), &length) == 0;
        m_port = ntohs(where.sin_port);
        if (m_ready)
            m_thread = std::thread([this] { serve(); });
    }
    ~PasswordCatcher()
    {
        ::shutdown(m_socket, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_socket);
    }
    bool ready() const { return m_ready; }
    int port() const { return m_port; }
    // Valid once the client has gone.
    QByteArray caught()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_caught;
    }

private:
    static bool readAll(int socket, char *into, size_t size)
    {
        while (size > 0) {
            const ssize_t got = ::recv(socket, into, size, 0);
            if (got <= 0)
                return false;
            into += got;
            size -= size_t(got);
        }
        return true;
    }
    void serve()
    {
        const int client = ::accept(m_socket, nullptr, nullptr);
        if (client < 0)
            return;
        timeval timeout{5, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        for (;;) {
            char header[8];
            if (!readAll(client, header, 8))
                break;
            const quint32 length = qFromBigEndian<quint32>(header);
            const quint32 code = qFromBigEndian<quint32>(header + 4);
            if (length == 8 && (code == 80877103 || code == 80877104)) { // SSL or GSS encryption asked
                ::send(client, "N", 1, MSG_NOSIGNAL);
                continue;
            }
            QByteArray rest(int(length) - 8, '\0');
            if (length > 8 && !readAll(client, rest.data(), size_t(rest.size())))
                break;
            const char cleartext[] = {'R', 0, 0, 0, 8, 0, 0, 0, 3};
            ::send(client, cleartext, sizeof cleartext, MSG_NOSIGNAL);
            char buffer[1024];
            ssize_t got = 0;
            while ((got = ::recv(client, buffer, sizeof buffer, 0)) > 0)
                m_caught.append(buffer, int(got));
            break;
        }
        ::close(client);
    }

    int m_socket = -1;
    int m_port = 0;
    bool m_ready = false;
    std::thread m_thread;
    QByteArray m_caught;
};

// Runs 测试连接 in `dialog` to its end.
bool runConnectionTest(ServerConnectionDialog &dialog)
{
    QSignalSpy finished(&dialog, &ServerConnectionDialog::testFinished);
    QMetaObject::invokeMethod(&dialog, "testConnection");
    return finished.wait(20000) || finished.size() == 1;
}

} // namespace

class TestServerRegister : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { test::enterTestMode(); }
    void addresses_data();
    void addresses();
    void malformedAddressesAreRefused();
    void passwordFileKeepsPasswordsPrivate();
    void registerChoiceOrder();
    void serverRegisterIsCreatedOnceWithHashedAdministrator();
    void copyKeepsIdsAndSessionsAndMovesSequences();
    void failedCopyLeavesServerDatabaseEmpty();
    void connectionTestDoesNotHoldUpTheWindow();
    void likeMatchesTheSameRowsOnBothEngines();
    void runningStatementIsCancelledFromAnotherThread();
    void rowHeldByAnotherOperatorIsReportedAsBusy();
    void savedConnectionLogsInWithThePrivatePassword();
    void connectionTestSendsNoKnownPasswordToAnotherServer();
    void dataRightsAloneAreEnoughOnACurrentRegister();
    void copyOfAnOlderFileHashesEveryPassword();
    void theServerLogsEveryCustomerChangeAndKeepsItsLogRows();
    void operatorAndFollowUpWritesOfAnyClientAreLoggedOnceByTheServer();
};

void TestServerRegister::addresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("formatted");
    const struct
    {
        const char *row, *text, *user, *host;
        int port;
        const char *database, *formatted;
    } rows[] = {
        {"full", "postgresql://li@db.office:6543/lianbu", "li", "db.office", 6543, "lianbu",
         "postgresql://li@db.office:6543/lianbu"},
        {"default port, short scheme", "postgres://li@10.0.0.5/reg", "li", "10.0.0.5", 5432, "reg",
         "postgresql://li@10.0.0.5:5432/reg"},
        {"socket folder", "postgresql://li@%2Fvar%2Frun%2Fpostgresql:5433/reg", "li", "/var/run/postgresql", 5433,
         "reg", "postgresql://li@%2Fvar%2Frun%2Fpostgresql:5433/reg"},
        {"IPv6", "postgresql://li@[::1]:5432/reg", "li", "::1", 5432, "reg", "postgresql://li@[::1]:5432/reg"},
        {"password never formatted", "postgresql://li:s%3Acret@h/reg", "li", "h", 5432, "reg",
         "postgresql://li@h:5432/reg"},
        {"Chinese names", "postgresql://%E6%9D%8E@h:1/%E5%AE%A2%E6%88%B7", "李", "h", 1, "客户",
         "postgresql://%E6%9D%8E@h:1/%E5%AE%A2%E6%88%B7"},
    };
    for (const auto &r : rows)
        QTest::newRow(r.row) << QString::fromUtf8(r.text) << QString::fromUtf8(r.user) << QString::fromUtf8(r.host)
                             << r.port << QString::fromUtf8(r.database) << QString::fromUtf8(r.formatted);
}

void TestServerRegister::addresses()
{
    QFETCH(QString, text);
    const RegisterAddress address = db::parseRegisterAddress(text);
    QVERIFY(address.isServer());
    QTEST(address.user, "user");
    QTEST(address.host, "host");
    QTEST(address.port, "port");
    QTEST(address.database, "database");
    QTEST(db::formatRegisterAddress(address), "formatted");
    QCOMPARE(db::parseRegisterAddress(db::formatRegisterAddress(address)), address);
    // A file stays a file, however it looks.
    QVERIFY(!db::parseRegisterAddress(QStringLiteral("postgresql.db")).isServer());
}

void TestServerRegister::malformedAddressesAreRefused()
{
    for (const char *text : {"postgresql://h/reg", "postgresql://li@h", "postgresql://li@h/", "postgresql://li@h:0/r",
                             "postgresql://li@h:99999/r", "postgresql://li@h:x/r",
                             "postgresql://li@h/r?sslmode=require", "postgresql://@h/r"}) {
        try {
            db::parseRegisterAddress(QString::fromUtf8(text));
            QFAIL(text);
        } catch (const Error &error) {
            QVERIFY2(error.operatorText().contains(QStringLiteral("数据库服务器地址")),
                     qPrintable(error.operatorText()));
        }
    }
}

void TestServerRegister::passwordFileKeepsPasswordsPrivate()
{
    QTemporaryDir home;
    const QString file = home.filePath(QStringLiteral("config/lianbu/server-passwords"));
    const ServerLogin office{QStringLiteral("db.office"), 5432, QStringLiteral("reg"), QStringLiteral("li")};
    const ServerLogin other{QStringLiteral("db.office"), 5432, QStringLiteral("reg"), QStringLiteral("wang")};
    // ":" and "\" must survive the pgpass escaping.
    QVERIFY(saveServerPassword(file, office, QStringLiteral("a:b\\c")));
    QVERIFY(saveServerPassword(file, other, QStringLiteral("w1")));
    struct stat status
    {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0600u);
    QCOMPARE(findServerPassword(file, office), QStringLiteral("a:b\\c"));
    QCOMPARE(findServerPassword(file, other), QStringLiteral("w1"));
    // Saving again replaces the line; an empty password removes it; the other stays.
    QVERIFY(saveServerPassword(file, office, QStringLiteral("new")));
    QCOMPARE(findServerPassword(file, office), QStringLiteral("new"));
    QVERIFY(saveServerPassword(file, office, QString()));
    QVERIFY(findServerPassword(file, office).isNull());
    QCOMPARE(findServerPassword(file, other), QStringLiteral("w1"));
    // A file others may read is not trusted, as libpq treats ~/.pgpass.
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    QVERIFY(findServerPassword(file, other).isNull());
}

void TestServerRegister::registerChoiceOrder()
{
    const QString server = QStringLiteral("postgresql://li@h:5432/reg");
    CommandLine given;
    given.database = QStringLiteral("given.db");
    // --database, then the environment, then the saved address, then data.db.
    QCOMPARE(registerPlace(given, false, "/d", "/w", server, server).path, QString("/w/given.db"));
    QCOMPARE(registerPlace(CommandLine(), false, "/d", "/w", QStringLiteral("env.db"), server).path,
             QString("/w/env.db"));
    const RegisterPlace saved = registerPlace(CommandLine(), true, "/d", "/w", {}, server);
    QVERIFY(saved.isServer());
    QCOMPARE(db::formatRegisterAddress(saved.address()), server);
    QVERIFY(!saved.createWhenMissing);
    QCOMPARE(registerPlace(CommandLine(), false, "/d", "/w").path, QString("/w/data.db"));
}

void TestServerRegister::serverRegisterIsCreatedOnceWithHashedAdministrator()
{
    LIANBU_REQUIRE_TEST_SERVER();
    const RegisterAddress address = test::createTestServerDatabase();
    const ServerCreation creation = createServerRegister(address);
    QVERIFY2(creation.searchIndex, qPrintable(creation.searchIndexProblem));

    db::Connection connection;
    openServer(connection, address);
    QCOMPARE(column(connection, QStringLiteral("select username from userdb")), QStringList{superAdministratorName()});
    const QString hash = column(connection, QStringLiteral("select passwd from userdb")).value(0);
    QVERIFY(data::verifyPassword(hash, QStringLiteral("888")));
    // The unique operator index holds on the server too.
    QVERIFY_THROWS_EXCEPTION(Error, db::runBound(connection,
                                                 QStringLiteral("insert into userdb (username,passwd) values (?,?)"),
                                                 {superAdministratorName(), QStringLiteral("x")}));
    // The check of "数据库连接…" finds the register.
    const ServerCheck check = checkServerRegister(address);
    QVERIFY(check.connected && check.hasRegister);

    // A second creation is refused and changes nothing.
    db::runBound(connection, QStringLiteral("insert into data (a,b) values (?,?)"),
                 {QStringLiteral("x"), QStringLiteral("y")});
    try {
        createServerRegister(address);
        QFAIL("a database holding the register was created again");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(QStringLiteral("already holds")), qPrintable(error.message()));
    }
    QCOMPARE(column(connection, QStringLiteral("select count(*) from data")), QStringList{"1"});
}

void TestServerRegister::copyKeepsIdsAndSessionsAndMovesSequences()
{
    LIANBU_REQUIRE_TEST_SERVER();
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("data.db"));
    createDeliveredDatabase(file);
    {
        db::Connection source(file);
        source.open();
        for (const char *sql :
             {"insert into data (a,b,c,g) values ('客户','Ab','张三','')",
              "insert into data (a,b,c) values ('x','y',null)", "insert into data (a,b) values ('gone','gone')",
              "delete from data where b='gone'", // the highest id, remembered by AUTOINCREMENT
              "insert into rz (username,btime) values ('超级管理员','2026-01-01 9:00:00')",
              "insert into rz (username,btime) values ('超级管理员','2026-01-02 9:00:00')", "delete from rz where id=1",
              "insert into operator_rights values ('职员','viewer','export')"})
            source.execute(QString::fromUtf8(sql));
    }
    const RegisterAddress address = test::createTestServerDatabase();
    const QList<CopiedTable> copied = copyRegisterToServer(file, address);
    QCOMPARE(copied.size(), 11); // data, userdb, rz, the three logs, the operators' rights, the bin, the
                                 // follow-ups, their ways and the reminders switched off

    db::Connection server;
    openServer(server, address);
    QCOMPARE(column(server, QStringLiteral("select rid from data order by rid")), (QStringList{"1", "2"}));
    QCOMPARE(column(server, QStringLiteral("select c from data order by rid")), (QStringList{"张三", "<null>"}));
    // Empty text stays empty text, not NULL.
    QCOMPARE(column(server, QStringLiteral("select g is null from data where rid=1")), QStringList{"false"});
    QCOMPARE(column(server, QStringLiteral("select id from rz")), QStringList{"2"});
    QCOMPARE(column(server, QStringLiteral("select role || '/' || grants from operator_rights")),
             QStringList{"viewer/export"});
    // New rows continue after every id the file ever gave, so a stale list elsewhere can never
    // hit a reused key.
    QCOMPARE(column(server, QStringLiteral("insert into data (a) values ('n') returning rid")), QStringList{"4"});
    QCOMPARE(column(server, QStringLiteral("insert into rz (username) values ('n') returning id")), QStringList{"3"});
    // The copy is a working register: the operator can log in with the copied hash.
    QVERIFY(data::verifyPassword(column(server, QStringLiteral("select passwd from userdb")).value(0),
                                 QStringLiteral("888")));
}

void TestServerRegister::failedCopyLeavesServerDatabaseEmpty()
{
    LIANBU_REQUIRE_TEST_SERVER();
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("data.db"));
    createDeliveredDatabase(file);
    {
        db::Connection source(file);
        source.open();
        source.execute(QStringLiteral("insert into data (a,b) values ('ok','ok')"));
        // SQLite does not enforce the declared width; the server does.
        source.execute(
            QStringLiteral("insert into data (a,b) values ('%1','too long')").arg(QString(60, QLatin1Char('x'))));
    }
    const RegisterAddress address = test::createTestServerDatabase();
    QVERIFY_THROWS_EXCEPTION(Error, copyRegisterToServer(file, address));
    db::Connection server;
    openServer(server, address);
    QCOMPARE(
        column(server, QStringLiteral("select count(*) from information_schema.tables where table_schema='public'")),
        QStringList{"0"});
    // Nothing half-done stands in the way of a second attempt.
    createServerRegister(address);
}

void TestServerRegister::connectionTestDoesNotHoldUpTheWindow()
{
    test::Environment environment;
    // A "server" that takes the connection (the kernel completes it in the listen queue) and
    // never answers: the test must run beside the window, which keeps handling events, and
    // report the failure once the server goes away.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(silent >= 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    QVERIFY(::bind(silent, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0);
    QVERIFY(::listen(silent, 4) == 0);
    QVERIFY(::getsockname(silent, reinterpret_cast<sockaddr *>(&where), &length) == 0);

    RegisterAddress address =
        db::parseRegisterAddress(QStringLiteral("postgresql://li@127.0.0.1:%1/reg").arg(ntohs(where.sin_port)));
    ServerConnectionDialog dialog(address);
    QSignalSpy finished(&dialog, &ServerConnectionDialog::testFinished);
    QElapsedTimer timer;
    timer.start();
    QMetaObject::invokeMethod(&dialog, "testConnection");
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(dialog.testing());
    QTest::qWait(1000); // the window's events go on meanwhile
    QVERIFY(dialog.testing());
    QVERIFY(finished.isEmpty());
    ::close(silent); // the waiting connection is reset
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
    QCOMPARE(finished.first().at(0).toBool(), false);
    QVERIFY2(finished.first().at(1).toString().startsWith(QStringLiteral("连接失败")),
             qPrintable(finished.first().at(1).toString()));
    QVERIFY(!dialog.testing());
}

void TestServerRegister::likeMatchesTheSameRowsOnBothEngines()
{
    LIANBU_REQUIRE_TEST_SERVER();
    // SQLite's LIKE folds ASCII letters only and knows no escape character; the server must
    // answer every pattern with exactly the same rows.
    const QStringList values{"xAbCx", "abc", "é", "É", "a\\b", "a%b", "aXc", "张三", "Жж", "ß", "SS", ""};
    const QStringList patterns{"%abc%", "%ABC%", "%é%",  "%É%", "%\\%", "a\\%", "%a_c%",
                               "%张%",  "%ж%",   "%ss%", "_",   "%",    "a%b",  "%\\_%"};
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("data.db"));
    createDeliveredDatabase(file);
    db::Connection sqlite(file);
    sqlite.open();
    const RegisterAddress address = test::createTestServerDatabase();
    createServerRegister(address);
    db::Connection server;
    openServer(server, address);
    for (db::Connection *connection : {&sqlite, &server})
        for (const QString &value : values)
            db::runBound(*connection, QStringLiteral("insert into data (b) values (?)"), {value});
    for (const QString &pattern : patterns) {
        QStringList found[2];
        int n = 0;
        for (db::Connection *connection : {&sqlite, &server}) {
            const db::Engine &engine = db::engineOf(connection->database());
            QSqlQuery query = db::runBound(
                *connection, QStringLiteral("select b from data where %1 order by rid").arg(engine.likeCondition("b")),
                {pattern});
            while (query.next())
                found[n] << query.value(0).toString();
            ++n;
        }
        QVERIFY2(found[0] == found[1], qPrintable(pattern + ": " + found[0].join('|') + " / " + found[1].join('|')));
    }
}

void TestServerRegister::runningStatementIsCancelledFromAnotherThread()
{
    LIANBU_REQUIRE_TEST_SERVER();
    const RegisterAddress address = test::createTestServerDatabase();
    std::function<bool()> cancel;
    QSemaphore ready;
    QString failure;
    QElapsedTimer timer;
    // The statement runs on a connection of a worker thread, as a background search would; the
    // canceller is made there and called from here.
    QThread *worker = QThread::create([&] {
        db::Connection connection;
        connection.setAddress(address);
        connection.open();
        cancel = db::engineOf(connection.database()).canceller(connection.database());
        ready.release();
        try {
            db::runBound(connection, QStringLiteral("select pg_sleep(20)"));
        } catch (const Error &error) {
            failure = error.message();
        }
    });
    timer.start();
    worker->start();
    QVERIFY(ready.tryAcquire(1, 10000));
    QTest::qWait(200);
    QVERIFY(cancel());
    QVERIFY(worker->wait(10000));
    delete worker;
    QVERIFY2(timer.elapsed() < 10000, "the statement was not cancelled");
    QVERIFY2(failure.contains(QStringLiteral("cancel")), qPrintable(failure));
}

void TestServerRegister::rowHeldByAnotherOperatorIsReportedAsBusy()
{
    LIANBU_REQUIRE_TEST_SERVER();
    const RegisterAddress address = test::createTestServerDatabase();
    createServerRegister(address);
    db::Connection holder, waiter;
    openServer(holder, address);
    waiter.setBusyTimeout(300);
    openServer(waiter, address);
    db::runBound(holder, QStringLiteral("insert into data (b) values ('客户')"));
    // Another program's transaction holds the row.
    db::runBound(holder, QStringLiteral("begin"));
    db::runBound(holder, QStringLiteral("update data set c = 'x'"));
    QElapsedTimer timer;
    timer.start();
    try {
        db::runBound(waiter, QStringLiteral("update data set c = 'y'"));
        QFAIL("the update did not wait for the row");
    } catch (const Error &) {
    }
    QVERIFY(timer.elapsed() >= 250);
    // Through the connection, as the program's statements run: busy, in the server's words.
    try {
        waiter.execute(QStringLiteral("update data set c = 'y'"));
        QFAIL("the update did not wait for the row");
    } catch (const Error &error) {
        QVERIFY2(error.operatorText().contains(QStringLiteral("正被其他操作员同时修改")),
                 qPrintable(error.operatorText()));
        QVERIFY2(error.operatorText().contains(db::formatRegisterAddress(address)), qPrintable(error.operatorText()));
    }
    db::runBound(holder, QStringLiteral("rollback"));
    QCOMPARE(waiter.execute(QStringLiteral("update data set c = 'y'")), 1);
}

void TestServerRegister::savedConnectionLogsInWithThePrivatePassword()
{
    LIANBU_REQUIRE_TEST_SERVER();
    test::Environment environment;
    qunsetenv(kRegisterVariable);
    const RegisterAddress created = test::createTestServerDatabase();
    // An office login over the network: a role that must give its password (scram-sha-256 on
    // 127.0.0.1), with ":" and "\" that the password file escapes.
    const QString role = QStringLiteral("clerk_") + created.database;
    const QString password = QStringLiteral("芝麻sesame:pw\\1");
    {
        db::Connection super;
        openServer(super, db::parseRegisterAddress(test::testServerAddress()));
        // Names made by the fixture; the password has no quote.
        super.execute(QStringLiteral("create role %1 login password '%2'").arg(role, password));
        super.execute(QStringLiteral("alter database %1 owner to %2").arg(created.database, role));
    }
    RegisterAddress office;
    office.kind = RegisterAddress::Kind::Server;
    office.host = QStringLiteral("127.0.0.1");
    office.port = qEnvironmentVariableIntValue("LIANBU_TEST_POSTGRESQL_PORT");
    office.database = created.database;
    office.user = role;
    QVERIFY(office.port > 0);
    // Failed logins say why in the operator's words.
    const auto loginProblem = [](const RegisterAddress &address) {
        try {
            db::Connection refused;
            openServer(refused, address);
        } catch (const Error &error) {
            return error.operatorText();
        }
        return QString();
    };
    QVERIFY2(loginProblem(office).contains(QStringLiteral("没有填写密码")), qPrintable(loginProblem(office)));
    RegisterAddress wrong = office;
    wrong.password = QStringLiteral("wrong");
    QVERIFY2(loginProblem(wrong).contains(QStringLiteral("用户名或密码不对")), qPrintable(loginProblem(wrong)));
    RegisterAddress missing = db::parseRegisterAddress(test::testServerAddress());
    missing.database = QStringLiteral("no_such_register");
    QVERIFY2(loginProblem(missing).contains(QStringLiteral("没有这个数据库")), qPrintable(loginProblem(missing)));

    // "保存" in 数据库连接…: the address goes to the settings, the password only to the private file.
    office.password = password;
    ServerConnectionDialog dialog(office);
    QMetaObject::invokeMethod(&dialog, "saveAddress");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(savedRegister(), db::formatRegisterAddress(office));
    QDirIterator files(environment.homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    int filesWithPassword = 0;
    while (files.hasNext()) {
        const QString path = files.next();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        if (!file.readAll().contains("sesame"))
            continue;
        ++filesWithPassword;
        QCOMPARE(path, serverPasswordFilePath());
        struct stat status
        {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0600u);
    }
    QCOMPARE(filesWithPassword, 1);

    // The next start opens the saved register with the saved password.
    RegisterPlace place = chosenRegister(CommandLine());
    QVERIFY(place.isServer());
    QCOMPARE(place.server.password, password);
    {
        db::Connection connection;
        openServer(connection, place.server);
        QCOMPARE(column(connection, QStringLiteral("select current_user")), QStringList{role});
    }
    // A password file others can read is not used, and the login fails with a message.
    QFile::setPermissions(serverPasswordFilePath(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    place = chosenRegister(CommandLine());
    QVERIFY(place.server.password.isEmpty());
    QVERIFY2(loginProblem(place.server).contains(QStringLiteral("没有填写密码")),
             qPrintable(loginProblem(place.server)));
}

QTEST_MAIN(TestServerRegister)
#include "test_server_register.moc"

void TestServerRegister::connectionTestSendsNoKnownPasswordToAnotherServer()
{
    test::Environment environment;
    const QString secret = QStringLiteral("sesame9secret");
    {
        // The catcher works: a test of its own server sends the password the window knows for it.
        PasswordCatcher catcher;
        QVERIFY(catcher.ready());
        RegisterAddress own =
            db::parseRegisterAddress(QStringLiteral("postgresql://li@127.0.0.1:%1/reg").arg(catcher.port()));
        own.password = secret;
        ServerConnectionDialog dialog(own);
        QVERIFY(dialog.findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->text().isEmpty());
        QVERIFY(runConnectionTest(dialog));
        QVERIFY2(catcher.caught().contains(secret.toUtf8()), catcher.caught().constData());
    }
    // The program started with --database on the office server; the operator types another
    // server (another port, say) and tests it: the office password must not go there.
    PasswordCatcher catcher;
    QVERIFY(catcher.ready());
    RegisterAddress office = db::parseRegisterAddress(QStringLiteral("postgresql://li@127.0.0.1:1/reg"));
    office.password = secret;
    ServerConnectionDialog dialog(office);
    dialog.findChild<QSpinBox *>(QStringLiteral("portSpin"))->setValue(catcher.port());
    QVERIFY(runConnectionTest(dialog));
    QVERIFY2(!catcher.caught().contains(secret.toUtf8()), catcher.caught().constData());

    // The password known for a server goes to that server only; another one gets the password
    // saved for it, or none.
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("server-passwords"));
    QVERIFY(saveServerPassword(file, {QStringLiteral("other"), 5432, QStringLiteral("reg"), QStringLiteral("li")},
                               QStringLiteral("otherpw")));
    RegisterAddress typed = office;
    typed.password.clear();
    QCOMPARE(knownServerPassword(typed, office, file), secret);
    typed.host = QStringLiteral("other");
    typed.port = 5432;
    QCOMPARE(knownServerPassword(typed, office, file), QStringLiteral("otherpw"));
    typed.user = QStringLiteral("li2");
    QCOMPARE(knownServerPassword(typed, office, file), QString());
}

void TestServerRegister::dataRightsAloneAreEnoughOnACurrentRegister()
{
    LIANBU_REQUIRE_TEST_SERVER();
    const RegisterAddress owner = test::createTestServerDatabase();
    createServerRegister(owner);
    const QString role = QStringLiteral("data_") + owner.database;
    {
        db::Connection super;
        openServer(super, db::parseRegisterAddress(test::testServerAddress()));
        super.execute(QStringLiteral("create role %1 login").arg(role));
    }
    {
        db::Connection admin;
        openServer(admin, owner);
        for (const QString &grant :
             {QStringLiteral("revoke create on schema public from public"),
              QStringLiteral("grant select, insert, update, delete on all tables in schema public to %1").arg(role),
              QStringLiteral("grant usage, select on all sequences in schema public to %1").arg(role)})
            admin.execute(grant);
    }
    RegisterAddress clerk = owner;
    clerk.user = role;
    clerk.password.clear();

    // A role with data rights only opens the register, logs in, and its attempt is logged.
    {
        Database database(clerk);
        data::OperatorStore store(*database.connection);
        operators::AttemptLimiter limiter(*database.connection);
        QCOMPARE(limiter.check(store, superAdministratorName(), QStringLiteral("888"), data::AttemptKind::Login),
                 operators::AttemptLimiter::Result::Accepted);
        QCOMPARE(column(*database.connection, QStringLiteral("select outcome from login_attempts")),
                 QStringList{QStringLiteral("success")});
        QCOMPARE(column(*database.connection, QStringLiteral("select current_user")), QStringList{role});
    }

    // A register made by the older version needs new tables: the role is told which right it lacks,
    // and nothing changed.
    {
        db::Connection admin;
        openServer(admin, owner);
        admin.execute(QStringLiteral("drop table register_version"));
        admin.execute(QStringLiteral("drop table password_changes"));
        admin.execute(QStringLiteral("update userdb set passwd='888'"));
    }
    try {
        Database database(clerk);
        QFAIL("an older register was opened without the right to upgrade it");
    } catch (const Error &error) {
        QVERIFY2(error.operatorText().contains(QStringLiteral("CREATE")), qPrintable(error.operatorText()));
        QVERIFY2(error.operatorText().contains(QStringLiteral("public")), qPrintable(error.operatorText()));
    }
    {
        db::Connection admin;
        openServer(admin, owner);
        QCOMPARE(column(admin, QStringLiteral("select passwd from userdb")), QStringList{QStringLiteral("888")});
    }
    // Its owner opens it once and gives the role its rights on the new tables; then the role
    // works again.
    {
        Database database(owner);
    }
    {
        db::Connection admin;
        openServer(admin, owner);
        admin.execute(
            QStringLiteral("grant select, insert, update, delete on all tables in schema public to %1").arg(role));
        admin.execute(QStringLiteral("grant usage, select on all sequences in schema public to %1").arg(role));
    }
    {
        Database database(clerk);
        QVERIFY(
            data::isPasswordHash(column(*database.connection, QStringLiteral("select passwd from userdb")).value(0)));
        QVERIFY(
            data::OperatorStore(*database.connection).checkPassword(superAdministratorName(), QStringLiteral("888")));
    }
}

void TestServerRegister::copyOfAnOlderFileHashesEveryPassword()
{
    LIANBU_REQUIRE_TEST_SERVER();
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("old.db"));
    QStringList columns;
    for (const DataColumn &column : kDataColumns)
        columns << QStringLiteral("%1 VARCHAR(%2)").arg(QLatin1String(column.name)).arg(column.width);
    QVERIFY(test::execOnFile(
        file, {QStringLiteral("CREATE TABLE data (%1)").arg(columns.join(QLatin1Char(','))),
               QStringLiteral("CREATE TABLE userdb (username VARCHAR(50), passwd VARCHAR(50))"),
               QStringLiteral("CREATE TABLE rz (id INTEGER PRIMARY KEY AUTOINCREMENT, username VARCHAR(50), "
                              "btime VARCHAR(30), jtime VARCHAR(30))"),
               QStringLiteral("Insert into userdb values ('超级管理员','888')"),
               QStringLiteral("Insert into userdb values ('职员甲','abc123')")}));
    const RegisterAddress address = test::createTestServerDatabase();
    copyRegisterToServer(file, address);
    db::Connection server;
    openServer(server, address);
    QVERIFY(data::registerIsCurrent(server));
    const QStringList stored = column(server, QStringLiteral("select passwd from userdb order by rid"));
    QCOMPARE(stored.size(), 2);
    for (const QString &value : stored)
        QVERIFY2(data::isPasswordHash(value), qPrintable(value));
    QVERIFY(data::OperatorStore(server).checkPassword(QStringLiteral("职员甲"), QStringLiteral("abc123")));
    // The file itself keeps no plain password either.
    db::Connection source(file);
    source.open();
    QVERIFY(data::registerIsCurrent(source));
    for (const QString &value : column(source, QStringLiteral("select passwd from userdb")))
        QVERIFY2(data::isPasswordHash(value), qPrintable(value));
}

// A login role of the office with data rights only on the register of `owner`.
RegisterAddress officeRole(const RegisterAddress &owner)
{
    const QString role = QStringLiteral("office_") + owner.database;
    {
        db::Connection super;
        openServer(super, db::parseRegisterAddress(test::testServerAddress()));
        super.execute(QStringLiteral("create role %1 login").arg(role));
    }
    {
        db::Connection admin;
        openServer(admin, owner);
        admin.execute(
            QStringLiteral("grant select, insert, update, delete on all tables in schema public to %1").arg(role));
        admin.execute(QStringLiteral("grant usage, select on all sequences in schema public to %1").arg(role));
    }
    RegisterAddress clerk = owner;
    clerk.user = role;
    clerk.password.clear();
    return clerk;
}

void TestServerRegister::theServerLogsEveryCustomerChangeAndKeepsItsLogRows()
{
    LIANBU_REQUIRE_TEST_SERVER();
    const RegisterAddress owner = test::createTestServerDatabase();
    createServerRegister(owner);
    const RegisterAddress clerk = officeRole(owner);
    const QString role = clerk.user;
    auto entries = [](db::Connection &connection) { return data::ChangeLog(connection).entries({}, 100); };

    // The program names its operator for the session: the server logs his add under his name.
    qint64 key = 0;
    {
        Database database(clerk);
        data::OperatorStore(*database.connection).addOperator(QStringLiteral("业务员乙"));
        database.customerStore->setOperator(QStringLiteral("业务员乙"));
        key = database.customerStore->add(
            {{QStringLiteral("b"), QStringLiteral("华联")}, {QStringLiteral("g"), QStringLiteral("0571-1")}});
        const std::vector<data::LogEntry> log = entries(*database.connection);
        QCOMPARE(log.front().kind, data::LogKind::CustomerAdded);
        QCOMPARE(log.front().operatorName, QStringLiteral("业务员乙"));
        QCOMPARE(log.front().pc, data::localPcName());
        QCOMPARE(log.front().customerKey, key);
        QCOMPARE(log.front().fields.size(), size_t(2));
        QCOMPARE(std::count_if(log.begin(), log.end(),
                               [](const data::LogEntry &entry) { return entry.kind == data::LogKind::CustomerAdded; }),
                 1); // once, by the server
    }

    // A client that names nobody (psql) is logged too, as an unnamed session of its database user.
    db::Connection psql;
    openServer(psql, clerk);
    psql.execute(QStringLiteral("update data set g='0571-2' where rid=%1").arg(key));
    std::vector<data::LogEntry> log = entries(psql);
    QCOMPARE(log.front().kind, data::LogKind::CustomerChanged);
    QCOMPARE(log.front().operatorName, data::unnamedSessionMarker() + role);
    QCOMPARE(log.front().subject, QStringLiteral("华联"));
    QCOMPARE(log.front().fields, (std::vector<data::FieldChange>{
                                     {QStringLiteral("g"), QStringLiteral("0571-1"), QStringLiteral("0571-2")}}));
    psql.execute(QStringLiteral("delete from data where rid=%1").arg(key));
    QCOMPARE(entries(psql).front().kind, data::LogKind::CustomerDeleted);

    // Log rows are only ever added: neither the office's role nor the owner changes or removes them.
    const qint64 rows = data::ChangeLog(psql).count({});
    for (const QString &statement :
         {QStringLiteral("delete from change_log"), QStringLiteral("update change_log set username='x'"),
          QStringLiteral("truncate change_log")})
        QVERIFY_THROWS_EXCEPTION(Error, psql.execute(statement));
    {
        db::Connection admin;
        openServer(admin, owner);
        QVERIFY_THROWS_EXCEPTION(Error, admin.execute(QStringLiteral("delete from change_log")));
    }
    QCOMPARE(data::ChangeLog(psql).count({}), rows);

    // A register of the version before gets the triggers when its owner opens it.
    {
        db::Connection admin;
        openServer(admin, owner);
        admin.execute(QStringLiteral("drop trigger change_log_customer on data"));
        admin.execute(QStringLiteral("drop trigger change_log_operator_added on userdb"));
        admin.execute(QStringLiteral("update register_version set version=3"));
    }
    {
        Database database(owner);
    }
    psql.execute(QStringLiteral("insert into data (b) values ('阿里')"));
    log = entries(psql);
    QCOMPARE(log.front().kind, data::LogKind::CustomerAdded);
    QCOMPARE(log.front().subject, QStringLiteral("阿里"));
    psql.execute(QStringLiteral("insert into userdb (username, passwd) values ('小陈', 'x')"));
    QCOMPARE(entries(psql).front().kind, data::LogKind::OperatorAdded);
}

void TestServerRegister::operatorAndFollowUpWritesOfAnyClientAreLoggedOnceByTheServer()
{
    LIANBU_REQUIRE_TEST_SERVER();
    const RegisterAddress owner = test::createTestServerDatabase();
    createServerRegister(owner);
    const RegisterAddress clerk = officeRole(owner);
    const QString unnamed = data::unnamedSessionMarker() + clerk.user;
    db::Connection psql;
    openServer(psql, clerk);
    qint64 logged = data::ChangeLog(psql).count({});
    // The entries written since the last call, oldest first.
    auto newEntries = [&] {
        std::vector<data::LogEntry> log = data::ChangeLog(psql).entries({}, 100);
        log.resize(size_t(data::ChangeLog(psql).count({}) - logged));
        logged += qint64(log.size());
        std::reverse(log.begin(), log.end());
        return log;
    };
    using Fields = std::vector<data::FieldChange>;
    auto one = [](const QString &field, std::optional<QString> before, std::optional<QString> after) {
        return data::FieldChange{field, std::move(before), std::move(after)};
    };

    // Operators written by psql: rights written before the row are told with the add, a password
    // never by its value, rights removed with the operator are not a change of him.
    psql.execute(QStringLiteral("insert into operator_rights (username, role, grants) values ('小张', 'clerk', '')"));
    QVERIFY(newEntries().empty());
    psql.execute(QStringLiteral("insert into userdb (username, passwd) values ('小张', 'plain1')"));
    psql.execute(QStringLiteral("update userdb set passwd = 'plain3' where username = '小张'"));
    psql.execute(QStringLiteral("update operator_rights set role = 'administrator', grants = 'export,delete' "
                                "where username = '小张'"));
    psql.execute(QStringLiteral("delete from userdb where username = '小张'"));
    psql.execute(QStringLiteral("delete from operator_rights where username = '小张'"));
    std::vector<data::LogEntry> log = newEntries();
    QCOMPARE(log.size(), size_t(4));
    const data::LogKind operatorKinds[] = {data::LogKind::OperatorAdded, data::LogKind::OperatorChanged,
                                           data::LogKind::OperatorChanged, data::LogKind::OperatorDeleted};
    for (size_t i = 0; i < log.size(); ++i) {
        QCOMPARE(log[i].kind, operatorKinds[i]);
        QCOMPARE(log[i].subject, QStringLiteral("小张"));
        QCOMPARE(log[i].operatorName, unnamed);
    }
    QCOMPARE(log[0].fields, (Fields{one(QStringLiteral("角色"), std::nullopt, QStringLiteral("业务员"))}));
    QCOMPARE(log[1].fields, (Fields{one(QStringLiteral("密码"), std::nullopt, QStringLiteral("（已修改）"))}));
    QCOMPARE(log[2].fields, (Fields{one(QStringLiteral("角色"), QStringLiteral("业务员"), QStringLiteral("管理员")),
                                    one(QStringLiteral("单项权限"), QString(), QStringLiteral("删除、导出"))}));
    QVERIFY(column(psql, QStringLiteral("select details from change_log where details like '%plain%'")).isEmpty());

    // Follow-ups written by psql, each field by its caption; hiding one with its customer and
    // bringing it back are no follow-up's entries.
    const qint64 customer =
        column(psql, QStringLiteral("insert into data (b) values ('华联') returning rid")).value(0).toLongLong();
    newEntries();
    psql.execute(QStringLiteral("insert into followups (customer, way, content, next_date) "
                                "values (%1, '电话', '问价', '2026-12-24')")
                     .arg(customer));
    psql.execute(QStringLiteral("update followups set settled = 1, content = '问价格'"));
    psql.execute(QStringLiteral("update followups set binned = 1"));
    psql.execute(QStringLiteral("update followups set binned = 0"));
    psql.execute(QStringLiteral("update followups set way = '电话'"));
    psql.execute(QStringLiteral("delete from followups"));
    log = newEntries();
    QCOMPARE(log.size(), size_t(3));
    const data::LogKind followUpKinds[] = {data::LogKind::FollowUpAdded, data::LogKind::FollowUpChanged,
                                           data::LogKind::FollowUpDeleted};
    for (size_t i = 0; i < log.size(); ++i) {
        QCOMPARE(log[i].kind, followUpKinds[i]);
        QCOMPARE(log[i].customerKey, customer);
        QCOMPARE(log[i].subject, QStringLiteral("华联"));
        QCOMPARE(log[i].operatorName, unnamed);
    }
    QCOMPARE(log[0].fields, (Fields{one(QStringLiteral("方式"), QString(), QStringLiteral("电话")),
                                    one(QStringLiteral("内容"), QString(), QStringLiteral("问价")),
                                    one(QStringLiteral("下次联系"), QString(), QStringLiteral("2026-12-24"))}));
    QCOMPARE(log[1].fields, (Fields{one(QStringLiteral("内容"), QStringLiteral("问价"), QStringLiteral("问价格")),
                                    one(QStringLiteral("完成"), QStringLiteral("否"), QStringLiteral("是"))}));
    QCOMPARE(log[2].fields.size(), size_t(3));

    // The program's own writes are logged once, under the operator it acts for, whoever the
    // session named; a hash renewed at login says the password stayed.
    {
        Database database(clerk);
        database.customerStore->setOperator(QStringLiteral("某人"));
        data::OperatorStore operators(*database.connection);
        operators.addOperator(QStringLiteral("小王"), superAdministratorName());
        QVERIFY(sodium_init() >= 0);
        char weaker[crypto_pwhash_STRBYTES];
        QCOMPARE(crypto_pwhash_str_alg(weaker, "abc123", 6, crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN,
                                       crypto_pwhash_ALG_ARGON2ID13),
                 0);
        psql.execute(
            QStringLiteral("update userdb set passwd = '%1' where username = '小王'").arg(QString::fromLatin1(weaker)));
        newEntries();
        QVERIFY(operators.checkPassword(QStringLiteral("小王"), QStringLiteral("abc123")));
        data::FollowUpStore(*database.connection, QStringLiteral("小王"))
            .add(customer, {QStringLiteral("微信"), QStringLiteral("发报价"), {}, {}});
    }
    log = newEntries();
    QCOMPARE(log.size(), size_t(2));
    QCOMPARE(log[0].operatorName, QStringLiteral("小王"));
    QCOMPARE(log[0].fields,
             (Fields{one(QStringLiteral("密码"), std::nullopt, QStringLiteral("（重新加密，密码未变）"))}));
    QCOMPARE(log[1].kind, data::LogKind::FollowUpAdded);
    QCOMPARE(log[1].operatorName, QStringLiteral("小王"));
}
