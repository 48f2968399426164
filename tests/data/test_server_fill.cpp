// The benchmark's fill of a server register without the per-row triggers: the register it leaves
// must be the one the same statements through the triggers leave, or the benchmark measures
// something the program never meets.
#include "bench/ServerFill.h"
#include "data/ChangeFeed.h"
#include "data/ChangeLog.h"
#include "data/ServerRegister.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "platform/Error.h"
#include "tests/support/TestServer.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

using namespace lianbu;

namespace {

// Every row of a statement, one text a row.
QStringList rowsOf(db::Connection &connection, const QString &sql)
{
    QSqlQuery query = db::runBound(connection, sql);
    QStringList rows;
    while (query.next()) {
        QStringList values;
        for (int i = 0; i < query.record().count(); ++i)
            values << (query.isNull(i) ? QStringLiteral("<null>") : query.value(i).toString());
        rows << values.join(QLatin1Char('|'));
    }
    return rows;
}

// What the triggers of data keep, without the clock's times.
struct Derived
{
    QStringList data, log, feed, stale;
};

Derived derivedOf(db::Connection &connection)
{
    return {rowsOf(connection, QStringLiteral("select * from data order by rid")),
            rowsOf(connection, QStringLiteral("select id, username, pc, kind, customer_key, subject, details "
                                              "from change_log order by id")),
            rowsOf(connection, QStringLiteral("select seq, customer_key, kind, username from customer_changes "
                                              "order by seq")),
            rowsOf(connection, QStringLiteral("select rid from data_search_stale order by rid"))};
}

void openOn(db::Connection &connection, const db::RegisterAddress &address)
{
    connection.setAddress(address);
    connection.open();
}

// More rows than the feed keeps, so its trimming and numbering are both at stake; some fields
// empty, as in any office's register.
const QString kMany =
    QStringLiteral("insert into data (a, b, c, f, z) select (array['VIP','普通'])[1 + n % 2], '华联' || n, "
                   "case when n % 3 = 0 then null else '张' || n end, '139' || n, case when n % 7 = 0 then '' end "
                   "from generate_series(1, %1) n")
        .arg(data::kChangeFeedLength + 57);
// Rows with keys of their own, one of them a customer in the bin coming back.
const QString kNamed = QStringLiteral("insert into data (rid, b, g) select n, '回来的客户' || n, '0571-' || n "
                                      "from generate_series(900000, 900002) n");

} // namespace

class TestServerFill : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { LIANBU_REQUIRE_TEST_SERVER(); }

    void fillWithoutTriggersLeavesWhatTheTriggersLeave()
    {
        const db::RegisterAddress normalAddress = test::createTestServerDatabase();
        const db::RegisterAddress bulkAddress = test::createTestServerDatabase();
        createServerRegister(normalAddress);
        createServerRegister(bulkAddress);
        db::Connection normal, bulk;
        openOn(normal, normalAddress);
        openOn(bulk, bulkAddress);

        // The same history on both: a customer written before, one in the bin, then the two
        // fills (the first by a named operator, the second by an unnamed session), then one more
        // ordinary write after them.
        for (db::Connection *connection : {&normal, &bulk}) {
            connection->execute(QStringLiteral("insert into data (b, g) values ('早先的客户', '0571-1')"));
            connection->execute(QStringLiteral("insert into customer_bin (rid, b) values (900001, '回来的客户')"));
            data::nameSessionOperator(*connection, QStringLiteral("业务员甲"));
        }
        normal.execute(kMany);
        QCOMPARE(bench::fillWithoutRowTriggers(bulk, kMany), data::kChangeFeedLength + 57);
        for (db::Connection *connection : {&normal, &bulk})
            connection->execute(QStringLiteral("select set_config('lianbu.operator', '', false), "
                                               "set_config('lianbu.pc', '', false)"));
        normal.execute(kNamed);
        QCOMPARE(bench::fillWithoutRowTriggers(bulk, kNamed), qint64(3));
        for (db::Connection *connection : {&normal, &bulk}) {
            connection->execute(QStringLiteral("insert into data (b) values ('之后的客户')"));
            connection->execute(QStringLiteral("update data set g = '0571-9' where b = '华联5'"));
        }

        const Derived expected = derivedOf(normal);
        const Derived got = derivedOf(bulk);
        // The comparison has something to compare: every kind of entry is there.
        QCOMPARE(expected.feed.size(), qsizetype(data::kChangeFeedLength));
        QVERIFY(expected.log.filter(QStringLiteral("|customer_restore|900001|")).size() == 1);
        QVERIFY(expected.log.filter(QStringLiteral("业务员甲|")).size() > 1);
        QVERIFY(expected.log.filter(data::unnamedSessionMarker()).size() > 1);
        QCOMPARE(got.data, expected.data);
        QCOMPARE(got.log.size(), expected.log.size());
        for (qsizetype i = 0; i < expected.log.size(); ++i)
            QCOMPARE(got.log.at(i), expected.log.at(i));
        QCOMPARE(got.feed, expected.feed);
        QCOMPARE(got.stale, expected.stale);
    }

    void fillRefusesARegisterWithATriggerItDoesNotKnow()
    {
        const db::RegisterAddress address = test::createTestServerDatabase();
        createServerRegister(address);
        db::Connection connection;
        openOn(connection, address);
        test::createRefusingTrigger(connection, QStringLiteral("data"), QStringLiteral("update"),
                                    QStringLiteral("no changes here"));
        QVERIFY_THROWS_EXCEPTION(Error, bench::fillWithoutRowTriggers(connection, kNamed));
        QCOMPARE(rowsOf(connection, QStringLiteral("select count(*) from data")), QStringList{QStringLiteral("0")});
        // The triggers stayed on: an ordinary write is still logged and fed.
        connection.execute(QStringLiteral("insert into data (b) values ('之后的客户')"));
        QCOMPARE(rowsOf(connection, QStringLiteral("select count(*) from change_log where kind = 'customer_add'")),
                 QStringList{QStringLiteral("1")});
        QCOMPARE(rowsOf(connection, QStringLiteral("select kind from customer_changes")),
                 QStringList{QStringLiteral("added")});
    }
};

QTEST_MAIN(TestServerFill)
#include "test_server_fill.moc"
