// The connection: opening only real database files, WAL settings, several writers on one file.
#include "db/BackgroundDamageCheck.h"
#include "db/Connection.h"
#include "db/DamageCheck.h"
#include "db/ServerSupport.h"
#include "db/Table.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace lianbu;
using namespace lianbu::db;

namespace {

QString openError(Connection &connection)
{
    try {
        connection.open();
    } catch (const Error &error) {
        return error.message();
    }
    return QString();
}

QString pragma(Connection &connection, const QString &name)
{
    QSqlQuery query(connection.database());
    query.exec(QStringLiteral("PRAGMA ") + name);
    return query.next() ? query.value(0).toString() : QString();
}

// A register of operators and then many customers, whose pages come last in the file.
bool writeOperatorsThenCustomers(const QString &path)
{
    QStringList statements{QStringLiteral("create table userdb (username text, passwd text)"),
                           QStringLiteral("insert into userdb values ('超级管理员', 'x')"),
                           QStringLiteral("create table data (b text)"), QStringLiteral("begin")};
    for (int i = 0; i < 400; ++i)
        statements << QStringLiteral("insert into data values ('%1')").arg(QString(150, QLatin1Char('z')));
    return test::execOnFile(path, statements << QStringLiteral("commit"));
}

// Overwrites the header and cell pointers of a page (1-based, 4096 bytes).
void damagePage(const QString &path, qint64 page)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek((page - 1) * 4096));
    file.write(QByteArray(64, char(0xA5)));
}

bool notCustomers(const QString &table)
{
    return table != QLatin1String("data");
}

} // namespace

class TestDbConnection : public QObject
{
    Q_OBJECT

private slots:
    void opensWithWalFullSyncAndBusyTimeout()
    {
        test::TestDatabase db(false);
        Connection connection(db.path());
        connection.open();
        QVERIFY(connection.isOpen());
        QCOMPARE(pragma(connection, "journal_mode"), QStringLiteral("wal"));
        QCOMPARE(pragma(connection, "synchronous"), QStringLiteral("2")); // FULL
        QCOMPARE(pragma(connection, "busy_timeout"), QStringLiteral("5000"));
        Connection second(db.path());
        second.open();
        QVERIFY(connection.connectionName() != second.connectionName());
        QCOMPARE(connection.execute(QStringLiteral("insert into userdb (username,passwd) values ('a','b')")), 1);
        connection.close();
        QVERIFY(!connection.isOpen());
        QVERIFY_THROWS_EXCEPTION(Error, connection.execute(QStringLiteral("select 1")));
    }

    // A build without a PostgreSQL client refuses a server address at once and says why; a build
    // with one tries the server (nothing listens on port 1) and reports that instead.
    void aServerRegisterIsRefusedClearlyWhereTheBuildCannotReachOne()
    {
        QTemporaryDir dir;
        const QString before = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(before); });
        QVERIFY(QDir::setCurrent(dir.path()));
        Connection connection(QStringLiteral("postgresql://lianbu@127.0.0.1:1/register"));
        QVERIFY(connection.isServer());
        QString chinese;
        try {
            connection.open();
        } catch (const Error &error) {
            chinese = error.operatorText();
        }
        QVERIFY(!connection.isOpen());
        QVERIFY(!chinese.isEmpty());
        const bool refusedByBuild = chinese.contains(QStringLiteral("这个版本的联簿宝不能使用数据库服务器"));
        QCOMPARE(refusedByBuild, !serverRegistersAvailable());
        if (refusedByBuild)
            QVERIFY2(chinese.contains(QStringLiteral("127.0.0.1")), qPrintable(chinese));
        // Nothing was made in its place.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    void missingFileIsNeverCreated()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("data.db"));
        Connection connection(path);
        const QString message = openError(connection);
        QVERIFY2(message.contains(path) && message.contains(QStringLiteral("does not exist")), qPrintable(message));
        QVERIFY(!connection.isOpen());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void foreignFileIsRefusedAndLeftAlone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("data.db"));
        const QByteArray garbage = QByteArray("this is no database at all\n").repeated(200);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(garbage);
        }
        Connection connection(path);
        const QString message = openError(connection);
        QVERIFY2(message.contains(path) && message.contains(QStringLiteral("not a database")), qPrintable(message));
        QVERIFY(!connection.isOpen());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), garbage);

        // A folder in place of the file.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.db")));
        Connection folder(dir.filePath(QStringLiteral("folder.db")));
        QVERIFY(openError(folder).contains(QStringLiteral("not a file")));
    }

    void lockedFileIsRefused()
    {
        test::TestDatabase db(false);
        // Another program holding the file exclusively.
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            holder.setDatabaseName(db.path());
            QVERIFY(holder.open());
            QSqlQuery query(holder);
            QVERIFY(query.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
            QVERIFY(query.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QVERIFY(query.exec(QStringLiteral("insert into userdb (username,passwd) values ('x','y')")));

            Connection connection(db.path());
            connection.setBusyTimeout(200);
            const QString message = openError(connection);
            QVERIFY2(message.contains(db.path()) && message.contains(QStringLiteral("locked")), qPrintable(message));
            QVERIFY(!connection.isOpen());
            QVERIFY(query.exec(QStringLiteral("ROLLBACK")));
            query.finish();
            holder.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        Connection connection(db.path());
        connection.open(); // free again
        QVERIFY(connection.isOpen());
    }

    void unreadableFileIsRefused()
    {
        if (const QString why = test::whyPermissionsCannotBeTakenAway(); !why.isEmpty())
            QSKIP(qPrintable(why));
        test::TestDatabase db(false);
        QFile::setPermissions(db.path(), QFileDevice::Permissions());
        Connection connection(db.path());
        const QString message = openError(connection);
        QFile::setPermissions(db.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY2(message.contains(db.path()) && message.contains(QStringLiteral("permission")), qPrintable(message));
    }

    void twoConnectionsWriteTheSameFileConcurrently()
    {
        test::TestDatabase db(false);
        constexpr int kRowsPerWriter = 150;
        std::atomic<int> failures{0};
        QStringList messages;
        std::mutex messagesMutex;
        auto writer = [&](const QString &tag) {
            try {
                Connection connection(db.path());
                connection.open();
                Table table(&connection);
                table.setTableName(QStringLiteral("data"));
                table.open();
                for (int i = 0; i < kRowsPerWriter; ++i) {
                    table.append();
                    table.fieldByName("a").setAsString(tag);
                    table.fieldByName("b").setAsString(QString::number(i));
                    table.post();
                    // a statement on the other path of the layer as well
                    connection.execute(QStringLiteral("update rz set jtime='x' where id=-1"));
                }
            } catch (const Error &error) {
                ++failures;
                std::lock_guard lock(messagesMutex);
                messages << error.message();
            }
        };
        std::thread first(writer, QStringLiteral("first"));
        std::thread second(writer, QStringLiteral("second"));
        first.join();
        second.join();
        QVERIFY2(failures == 0, qPrintable(messages.join("; ")));

        Connection check(db.path());
        check.open();
        QSqlQuery query(check.database());
        QVERIFY(query.exec(QStringLiteral("select a, count(*), count(distinct b) from data group by a order by a")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("first"));
        QCOMPARE(query.value(1).toInt(), kRowsPerWriter);
        QCOMPARE(query.value(2).toInt(), kRowsPerWriter);
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("second"));
        QCOMPARE(query.value(1).toInt(), kRowsPerWriter);
    }

    void largeFileIsReadWholeBesideTheProgram()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("data.db"));
        QVERIFY(writeOperatorsThenCustomers(path));
        const qint64 pages = QFileInfo(path).size() / 4096;
        QVERIFY(pages > 8);

        // A sound file: opened without reading the customers, then found sound beside.
        {
            Connection connection(path);
            connection.setLargeFileCheck(0, notCustomers);
            connection.open();
            QVERIFY(connection.wholeCheckDeferred());
            BackgroundDamageCheck check(path);
            QSignalSpy finished(&check, &BackgroundDamageCheck::finished);
            QVERIFY(finished.wait(20000));
            QCOMPARE(finished.first().first().toString(), QString());
        }

        // Damaged customers: a small file is refused at open; a large one opens, and the read
        // beside finds the damage while the program works on the file.
        damagePage(path, pages);
        {
            Connection small(path);
            small.setLargeFileCheck(QFileInfo(path).size(), notCustomers);
            QVERIFY2(openError(small).contains(QStringLiteral("damaged")), qPrintable(openError(small)));
        }
        Connection connection(path);
        connection.setLargeFileCheck(0, notCustomers);
        connection.open();
        QVERIFY(connection.wholeCheckDeferred());
        QSqlQuery(connection.database()).exec(QStringLiteral("insert into userdb values ('a', 'b')"));
        BackgroundDamageCheck check(path);
        QSignalSpy finished(&check, &BackgroundDamageCheck::finished);
        QVERIFY(finished.wait(20000));
        const QString problem = finished.first().first().toString();
        QVERIFY2(problem.contains(QStringLiteral("已损坏")) && problem.contains(path), qPrintable(problem));
        connection.close();

        // Damaged operators are found at open whatever the size.
        QString operatorsPage;
        QVERIFY(test::execOnFile(path, {QStringLiteral("select rootpage from sqlite_master where name='userdb'")},
                                 &operatorsPage));
        damagePage(path, operatorsPage.toLongLong());
        Connection refused(path);
        refused.setLargeFileCheck(0, notCustomers);
        QVERIFY2(openError(refused).contains(QStringLiteral("damaged")), qPrintable(openError(refused)));
    }

    void aStoppedDamageReadReadsNoFurther()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("data.db"));
        QVERIFY(writeOperatorsThenCustomers(path));
        int tablesAsked = 0;
        bool contentChecked = false;
        DamageRead how;
        how.onlyTables = [&](const QString &) { return ++tablesAsked > 0; };
        how.contentCheck = [&](const QSqlDatabase &) {
            contentChecked = true;
            return QString();
        };
        QCOMPARE(readForDamage(path, how).outcome, DamageFinding::Outcome::Sound);
        QCOMPARE(tablesAsked, 2);
        QVERIFY(contentChecked);

        // Stopped before it starts: the file is not read at all.
        DamageReadStop early;
        early.stop();
        how.stop = &early;
        tablesAsked = 0;
        contentChecked = false;
        QCOMPARE(readForDamage(path, how).outcome, DamageFinding::Outcome::Stopped);
        QCOMPARE(tablesAsked, 0);
        QVERIFY(!contentChecked);

        // Stopped while it runs (here between its statements): no verdict, nothing after read.
        DamageReadStop later;
        how.stop = &later;
        how.onlyTables = [&](const QString &) {
            later.stop();
            return true;
        };
        QCOMPARE(readForDamage(path, how).outcome, DamageFinding::Outcome::Stopped);
        QVERIFY(!contentChecked);
    }

    void aServerConnectionDroppedWhileIdleIsOpenedAgain()
    {
        LIANBU_REQUIRE_TEST_SERVER();
        const RegisterAddress address = test::createTestServerDatabase();
        Connection connection;
        connection.setAddress(address);
        connection.open();
        connection.execute(QStringLiteral("create table notes (x text)"));
        auto backend = [&] {
            QSqlQuery query(connection.database());
            return query.exec(QStringLiteral("select pg_backend_pid()")) && query.next() ? query.value(0).toInt() : -1;
        };
        const int first = backend();
        QVERIFY(first > 0);
        int notices = 0;
        setReconnectionNotice([&](const QString &place) {
            ++notices;
            QCOMPARE(place, formatRegisterAddress(address));
        });

        // As a server restart does: the session ends while the program is idle.
        for (int drop = 0; drop < 2; ++drop) {
            const int before = backend();
            {
                Connection administrator;
                administrator.setAddress(address);
                administrator.open();
                QSqlQuery end(administrator.database());
                QVERIFY(end.exec(QStringLiteral("select pg_terminate_backend(%1)").arg(before)));
            }
            QTest::qWait(300); // the server's goodbye arrives
            // The next statement works, on a new session with the same settings.
            QCOMPARE(connection.execute(QStringLiteral("insert into notes values ('第%1次')").arg(drop)), 1);
            QVERIFY(backend() != before);
            QTRY_COMPARE(notices, drop + 1);
        }
        QSqlQuery rows(connection.database());
        QVERIFY(rows.exec(
            QStringLiteral("select string_agg(x, ',' order by x), current_setting('lock_timeout') from notes")));
        QVERIFY(rows.next());
        QCOMPARE(rows.value(0).toString(), QStringLiteral("第0次,第1次"));
        QCOMPARE(rows.value(1).toString(), QStringLiteral("5s"));
        setReconnectionNotice({});
    }
};

QTEST_GUILESS_MAIN(TestDbConnection)
#include "test_db_connection.moc"
