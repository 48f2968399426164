// Searches on the worker connection: only the newest statement's result arrives, a newer
// statement interrupts a running one, and a refused statement reports the engine's message.
#include "db/BackgroundSearch.h"
#include "db/Connection.h"
#include "tests/support/TestDatabase.h"

#include <QSignalSpy>
#include <QSqlQuery>
#include <QtTest>

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
};

QTEST_GUILESS_MAIN(TestDbBackgroundSearch)
#include "test_db_background_search.moc"
