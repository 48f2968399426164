// The statement catalogue (exact texts, quoting) against the delivered database, the schema
// and the lianbu-initdb tool.
#include "data/OperatorStore.h"
#include "data/PasswordHash.h"
#include "data/Schema.h"
#include "data/Statements.h"
#include "data/Database.h"
#include "db/Connection.h"
#include "db/Query.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

using namespace lianbu;
namespace sql = lianbu::sql;

namespace {

QStringList column(db::Connection &connection, const QString &statement)
{
    QStringList values;
    QSqlQuery query(connection.database());
    if (!query.exec(statement))
        return {QStringLiteral("<error> ") + query.lastError().text()};
    while (query.next())
        values << (query.value(0).isNull() ? QStringLiteral("<null>") : query.value(0).toString());
    return values;
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestDataStatements : public QObject
{
    Q_OBJECT

private slots:
    void statementTexts()
    {
        QCOMPARE(sql::allRecords(), QStringLiteral("select * from data "));
        QCOMPARE(sql::search("", "", "", "", "", ""), QStringLiteral("select * from data where b<>''"));
        QCOMPARE(sql::search("VIP", "", "0571", "", "", ""),
                 QStringLiteral("select * from data where b<>'' and a like '%VIP%' and g like '%0571%'"));
        QCOMPARE(sql::search("a1", "b1", "g1", "c1", "i1", "j1"),
                 QStringLiteral("select * from data where b<>'' and a like '%a1%' and b like '%b1%' and "
                                "g like '%g1%' and c like '%c1%' and i like '%i1%' and j like '%j1%'"));
        QCOMPARE(sql::search("", "", "", "张三", " ", ""),
                 QStringLiteral("select * from data where b<>'' and c like '%张三%' and i like '% %'"));
        QCOMPARE(sql::search("", "O'Neil", "", "", "", ""),
                 QStringLiteral("select * from data where b<>'' and b like '%O''Neil%'"));
        QCOMPARE(sql::distinctValues("a", "data"), QStringLiteral("select a from data group by a order by a"));
        QCOMPARE(sql::distinctValues("username", "userdb"),
                 QStringLiteral("select username from userdb group by username order by username"));
        QVERIFY_THROWS_EXCEPTION(Error, sql::distinctValues("a from data; drop table data", "data"));
        QVERIFY_THROWS_EXCEPTION(Error, sql::distinctValues("a", "da'ta"));
        QCOMPARE(sql::sessionStart("张三", "2010-08-15 9:05:07"),
                 QStringLiteral("Insert into rz (username,btime) values ('张三','2010-08-15 9:05:07')"));
        QCOMPARE(sql::insertedSessionId(), QStringLiteral("select last_insert_rowid() as maxid"));
        QCOMPARE(sql::sessionEnd("2010-08-15 17:30:00", 12),
                 QStringLiteral("update rz set jtime='2010-08-15 17:30:00'where id=12"));
        QCOMPARE(sql::deleteOperator("王五"), QStringLiteral("delete from userdb where username='王五'"));
        QCOMPARE(sql::operatorList(), QStringLiteral("select username from userdb"));
        QCOMPARE(sql::sqlLiteral("it's ''"), QStringLiteral("'it''s '''''"));
        QCOMPARE(sql::defaultPassword(), QStringLiteral("888"));
    }

    void quoteBearingValuesRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("O'Neil") << QStringLiteral("O'Neil");
        QTest::newRow("lone quote") << QStringLiteral("'");
        QTest::newRow("doubled") << QStringLiteral("a''b");
        QTest::newRow("injection") << QStringLiteral("x' or '1'='1");
        QTest::newRow("statement end") << QStringLiteral("'); delete from userdb; --");
        QTest::newRow("chinese quote") << QStringLiteral("张'三\"");
    }
    void quoteBearingValuesRoundTrip()
    {
        QFETCH(QString, value);
        test::TestDatabase db(false);
        db::Connection connection(db.path());
        connection.open();
        db::Query query(&connection);

        // add, change password and check (bound values)
        data::OperatorStore store(connection);
        store.addOperator(value);
        QCOMPARE(column(connection, "select username from userdb order by rowid"),
                 QStringList({superAdministratorName(), value}));
        QCOMPARE(store.setPassword(value, QStringLiteral("pw1")), 1);
        QVERIFY(store.checkPassword(value, QStringLiteral("pw1")));
        QVERIFY(!store.checkPassword(value, QStringLiteral("888")));
        QVERIFY(store.checkPassword(superAdministratorName(), QStringLiteral("888")));

        // the session start keeps the name
        execStatement(&query, sql::sessionStart(value, QStringLiteral("2010-08-15 9:00:00")));
        QCOMPARE(column(connection, "select username from rz"), QStringList({value}));

        // the search finds the record that contains the value, and only that one
        {
            QSqlQuery insert(connection.database());
            insert.prepare(QStringLiteral("insert into data (a, b) values ('k', ?), ('k', 'other')"));
            insert.addBindValue(QStringLiteral("pre") + value + QStringLiteral("post"));
            QVERIFY(insert.exec());
        }
        openStatement(&query, sql::search("", value, "", "", "", ""));
        QCOMPARE(query.recordCount(), 1);
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("pre") + value + QStringLiteral("post"));

        // the operator removal removes exactly that operator
        execStatement(&query, sql::deleteOperator(value));
        QCOMPARE(column(connection, "select username from userdb"), QStringList({superAdministratorName()}));
        QCOMPARE(column(connection, "select count(*) from data"), QStringList({"2"}));
    }

    void searchMatchesSubstringsAndSkipsEmptyShortNames()
    {
        test::TestDatabase db(false);
        db::Connection connection(db.path());
        connection.open();
        connection.execute(QStringLiteral("insert into data (a, b, g) values ('VIP客户', 's1', '0571-1'), "
                                          "('VIP', 's2', '010'), ('普通', 's3', '0571'), ('VIP', '', '0571'), "
                                          "('VIP', null, '0571')"));
        db::Query query(&connection);
        openStatement(&query, sql::search("VIP", "", "0571", "", "", ""));
        QCOMPARE(query.recordCount(), 1);
        QCOMPARE(query.fieldByName("b").asString(), QStringLiteral("s1"));
        openStatement(&query, sql::search("客户", "", "", "", "", ""));
        QCOMPARE(query.recordCount(), 1);
        openStatement(&query, sql::search("", "", "", "", "", ""));
        QCOMPARE(query.recordCount(), 3); // empty and null short names are never found
        openStatement(&query, sql::allRecords());
        QCOMPARE(query.recordCount(), 5);
    }

    void sessionEndUpdatesExactlyThatSession()
    {
        test::TestDatabase db(false);
        db::Connection connection(db.path());
        connection.open();
        db::Query query(&connection);
        for (int i = 1; i <= 13; ++i)
            execStatement(&query, sql::sessionStart(QStringLiteral("u%1").arg(i), QStringLiteral("2010-08-15")));
        openStatement(&query, QStringLiteral("select max(id) as maxid from rz"));
        QCOMPARE(query.fieldByName("maxid").asInteger(), 13);
        execStatement(&query, sql::sessionEnd(QStringLiteral("2010-08-15 18:00:00"), 12));
        QVERIFY(!query.active());
        QCOMPARE(column(connection, "select id from rz where jtime is not null"), QStringList({"12"}));
        QCOMPARE(column(connection, "select jtime from rz where id=12"), QStringList({"2010-08-15 18:00:00"}));
    }

    void deliveredDatabase()
    {
        test::TestDatabase db(false);
        db::Connection connection(db.path());
        connection.open();
        QCOMPARE(column(connection, "select username from userdb"), QStringList({superAdministratorName()}));
        const QStringList passwords = column(connection, "select passwd from userdb");
        QVERIFY(data::isPasswordHash(passwords.value(0)));
        QVERIFY(data::verifyPassword(passwords.value(0), sql::defaultPassword()));
        QCOMPARE(column(connection, "select name from pragma_table_info('userdb')"),
                 QStringList({"username", "passwd"}));
        QCOMPARE(column(connection, "select name from pragma_table_info('rz')"),
                 QStringList({"id", "username", "btime", "jtime"}));
        db::Query query(&connection);
        openStatement(&query, sql::allRecords());
        QCOMPARE(query.fieldCount(), 15);
        QCOMPARE(query.fieldByName("day1").size(), 20);

        // rz ids only grow, also after the newest row was deleted
        execStatement(&query, sql::sessionStart("a", "t"));
        execStatement(&query, sql::sessionStart("b", "t"));
        connection.execute(QStringLiteral("delete from rz where id=2"));
        execStatement(&query, sql::sessionStart("c", "t"));
        QCOMPARE(column(connection, "select id from rz order by id"), QStringList({"1", "3"}));

        // creating over an existing file is refused and leaves it alone
        connection.close();
        const QByteArray before = digest(db.path());
        QVERIFY_THROWS_EXCEPTION(Error, createDeliveredDatabase(db.path()));
        QCOMPARE(digest(db.path()), before);
        QVERIFY_THROWS_EXCEPTION(Error, createDeliveredDatabase(db.filePath("no/such/folder/data.db")));
        QCOMPARE(QDir(db.folder()).entryList(QDir::Files), QStringList({"data.db"}));
    }

    void initdbTool()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("数据.db"));
        QProcess tool;
        tool.start(QStringLiteral(LIANBU_INITDB), {path});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        db::Connection connection(path);
        connection.open();
        QCOMPARE(column(connection, "select username from userdb"), QStringList({superAdministratorName()}));
        // The tool stores the default password only as its hash.
        const QString stored = column(connection, "select passwd from userdb").value(0);
        QVERIFY2(data::isPasswordHash(stored) && data::verifyPassword(stored, sql::defaultPassword()),
                 qPrintable(stored));
        QCOMPARE(connection.execute(QStringLiteral("insert into data (b) values ('x')")), 1);
        connection.close();

        const QByteArray before = digest(path);
        tool.start(QStringLiteral(LIANBU_INITDB), {path});
        QVERIFY(tool.waitForFinished(30000));
        QVERIFY(tool.exitCode() != 0);
        QVERIFY(QString::fromUtf8(tool.readAllStandardError()).contains(QStringLiteral("already exists")));
        QCOMPARE(digest(path), before);

        tool.start(QStringLiteral(LIANBU_INITDB), QStringList());
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDataStatements)
#include "test_data_statements.moc"
