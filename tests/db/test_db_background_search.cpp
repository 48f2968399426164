// Searches on the worker connection: only the newest statement's result arrives, a newer
// statement interrupts a running one, and a refused statement reports the engine's message.
#include "db/BackgroundSearch.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"

#include <QSignalSpy>
#include <QSqlQuery>
#include <QtTest>

#include <algorithm>
#include <limits>

using namespace lianbu;

namespace {

// A statement that would run for hours unless interrupted.
const QString kEndless =
    QStringLiteral("with recursive r(x) as (select 1 union all select x+1 from r) select x from r where x<0");

} // namespace

class TestDbBackgroundSearch : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheNewestResultArrives()
    {
        test::TestDatabase database(false);
        {
            db::Connection connection(database.path());
            connection.open();
            QSqlQuery query(connection.database());
            for (int n = 0; n < 30; ++n)
                QVERIFY(query.exec(QStringLiteral("insert into data (b) values ('r%1')").arg(n)));
        }
        db::BackgroundSearch search(database.path());
        QSignalSpy finished(&search, &db::BackgroundSearch::finished);
        search.start(QStringLiteral("select rowid from data where rowid<=10"));
        search.start(QStringLiteral("select rowid from data where rowid>20 order by rowid desc"));
        const quint64 newest = search.start(QStringLiteral("select rowid from data where rowid%10=3"));
        QVERIFY(search.busy());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
        QCOMPARE(finished.at(0).at(0).toULongLong(), newest);
        QCOMPARE(finished.at(0).at(1).value<std::vector<qint64>>(), (std::vector<qint64>{3, 13, 23}));
        QVERIFY(!search.busy());
        // Nothing of the older statements comes afterwards.
        QTest::qWait(50);
        QCOMPARE(finished.count(), 1);
    }

    void aNewerStatementInterruptsTheRunningOne()
    {
        test::TestDatabase database(false);
        db::BackgroundSearch search(database.path());
        QSignalSpy finished(&search, &db::BackgroundSearch::finished);
        QSignalSpy failed(&search, &db::BackgroundSearch::failed);
        search.start(kEndless);
        QTest::qWait(100); // let it run
        const quint64 newest = search.start(QStringLiteral("select 42"));
        // Without the interrupt the endless statement would keep the worker busy for hours.
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(finished.at(0).at(0).toULongLong(), newest);
        QCOMPARE(finished.at(0).at(1).value<std::vector<qint64>>(), (std::vector<qint64>{42}));
        QCOMPARE(failed.count(), 0);
        // Closing while a statement runs interrupts it: the worker ends instead of hanging.
        search.start(kEndless);
        QTest::qWait(50);
    }

    void aRefusedStatementReportsTheEngineMessage()
    {
        test::TestDatabase database(false);
        db::BackgroundSearch search(database.path());
        QSignalSpy failed(&search, &db::BackgroundSearch::failed);
        const quint64 ticket = search.start(QStringLiteral("select rowid from nosuchtable"));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 30000);
        QCOMPARE(failed.at(0).at(0).toULongLong(), ticket);
        QVERIFY(failed.at(0).at(1).toString().contains(QLatin1String("no such table: nosuchtable")));
    }

    void keysAskedAscendingArriveAscendingWhateverIndexTheEngineRead()
    {
        test::TestDatabase database(false);
        {
            db::Connection connection(database.path());
            connection.open();
            QSqlQuery query(connection.database());
            // An index on b lists the rows by b: descending row ids within runs.
            QVERIFY(query.exec(QStringLiteral("create index data_b on data (b)")));
            for (int n = 0; n < 200; ++n)
                QVERIFY(
                    query.exec(QStringLiteral("insert into data (b) values ('%1')").arg(char('a' + (199 - n) % 7))));
            QVERIFY(query.exec(QStringLiteral("delete from data where rowid % 5 = 0")));
        }
        db::BackgroundSearch search(database.path());
        QSignalSpy finished(&search, &db::BackgroundSearch::finished);
        search.start(QStringLiteral("select rowid from data indexed by data_b"), {},
                     db::BackgroundSearch::KeyOrder::Ascending);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
        std::vector<qint64> expected;
        for (qint64 key = 1; key <= 200; ++key)
            if (key % 5 != 0)
                expected.push_back(key);
        QCOMPARE(finished.at(0).at(1).value<std::vector<qint64>>(), expected);
        // Without the order the index's order arrives.
        search.start(QStringLiteral("select rowid from data indexed by data_b"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 30000);
        QVERIFY(finished.at(1).at(1).value<std::vector<qint64>>() != expected);
    }

    void keysSortAscendingDenseSparseAndRepeated()
    {
        const qint64 lowest = std::numeric_limits<qint64>::min();
        const qint64 highest = std::numeric_limits<qint64>::max();
        std::vector<std::vector<qint64>> cases{
            {},
            {7},
            {1, 2, 3},
            {9, 4, 7, 1, 3, 10, 2, 8, 6, 5},         // dense: the bitmap
            {1000005, 1000001, 1000003, 1000002},    // dense far from zero
            {5, -3, 0, -1, 2, -2, 4, 1, 3, -4},      // dense across zero
            {3, 1, 2, 3, 1, 2},                      // repeated: each kept
            {highest, 0, lowest, 42, -42},           // the widest span
            {1000000000, 3, 99999999999, 2, 700, 1}, // sparse
        };
        // A long dense list in index order (runs of ascending keys, as an index of categories
        // gives), with gaps where rows were deleted.
        std::vector<qint64> runs;
        for (int run = 0; run < 5; ++run)
            for (qint64 key = 1 + run; key <= 5000; key += 5)
                if (key % 97 != 0)
                    runs.push_back(key);
        cases.push_back(runs);
        for (std::vector<qint64> keys : cases) {
            std::vector<qint64> expected = keys;
            std::sort(expected.begin(), expected.end());
            db::sortKeysAscending(keys);
            QCOMPARE(keys, expected);
        }
    }

    void onTheServerTheWorkerConnectsToTheAddressAndCancelsThroughTheEngine()
    {
        LIANBU_REQUIRE_TEST_SERVER();
        const db::RegisterAddress address = test::createTestServerDatabase();
        {
            db::Connection connection;
            connection.setAddress(address);
            connection.open();
            connection.execute(
                QStringLiteral("create table data (rid bigint generated by default as identity primary key, "
                               "b varchar(50))"));
            for (int n = 1; n <= 30; ++n)
                connection.execute(QStringLiteral("insert into data (b) values ('r%1')").arg(n));
        }
        db::BackgroundSearch search(address);
        QSignalSpy finished(&search, &db::BackgroundSearch::finished);
        QSignalSpy failed(&search, &db::BackgroundSearch::failed);
        // A statement that would run for an hour, stopped by the server's cancel request when a
        // newer one comes; the newer one's values are bound.
        search.start(QStringLiteral("select 1 from pg_sleep(3600)"));
        QTest::qWait(200);
        const quint64 newest =
            search.start(QStringLiteral("select rid from data where b like ? order by rid"), {QStringLiteral("r2%")});
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(finished.at(0).at(0).toULongLong(), newest);
        std::vector<qint64> expected{2};
        for (qint64 key = 20; key <= 29; ++key)
            expected.push_back(key);
        QCOMPARE(finished.at(0).at(1).value<std::vector<qint64>>(), expected);
        QCOMPARE(failed.count(), 0);
        const quint64 refused = search.start(QStringLiteral("select rid from nosuchtable"));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 30000);
        QCOMPARE(failed.at(0).at(0).toULongLong(), refused);
        QVERIFY(failed.at(0).at(1).toString().contains(QLatin1String("nosuchtable")));
        // Closing while a statement runs cancels it: the worker ends instead of waiting an hour.
        search.start(QStringLiteral("select 1 from pg_sleep(3600)"));
        QTest::qWait(100);
    }
};

QTEST_GUILESS_MAIN(TestDbBackgroundSearch)
#include "test_db_background_search.moc"
