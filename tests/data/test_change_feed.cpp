// The change feed: every write of a customer or of its follow-ups gets a growing number in the
// write's own transaction, by whoever writes it; it stays bounded, and a reader that fell behind
// the trimmed numbers is told so.
#include "data/ChangeFeed.h"
#include "data/ChangeLog.h"
#include "data/CustomerColumns.h"
#include "data/CustomerStore.h"
#include "data/Database.h"
#include "data/FollowUpStore.h"
#include "data/OperatorRights.h"
#include "data/OperatorStore.h"
#include "data/RegisterUpgrade.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"

#include <QSqlQuery>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <utility>

using namespace lianbu;
using namespace lianbu::data;

namespace {

QString column(const char *name)
{
    return QLatin1String(name);
}

std::vector<FeedEntry> entriesAfter(db::Connection &connection, qint64 after)
{
    return readChanges(connection, after).entries;
}

// Many customers in one statement, as an import or psql would write them.
void addMany(db::Connection &connection, int count)
{
    const QString rows = connection.isServer()
                             ? QStringLiteral("select 'x' || n from generate_series(1, %1) as n").arg(count)
                             : QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n "
                                              "where i < %1) select 'x' || i from n")
                                   .arg(count);
    db::runBound(connection, QStringLiteral("insert into data (b) ") + rows);
}

} // namespace

class TestChangeFeed : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void eachWriteOfACustomerLandsInTheFeedWithItsOperator()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &store = *module.customerStore;
        OperatorStore(connection).addOperator(QStringLiteral("业务员乙"));
        OperatorStore(connection).setRights(QStringLiteral("业务员乙"), {Role::Clerk, unsigned(Right::Delete), false});
        store.setOperator(QStringLiteral("业务员乙"));
        nameSessionOperator(connection, QStringLiteral("业务员乙"));
        const qint64 start = newestChange(connection);

        const qint64 key = store.add(
            {{column(col::Category), QStringLiteral("VIP")}, {column(col::ShortName), QStringLiteral("华联")}});
        const std::optional<CustomerRecord> read = store.read(key);
        QVERIFY(read);
        QCOMPARE(store.modify(*read, {{column(col::Name), QStringLiteral("张三")}}), CustomerStore::Outcome::Done);
        FollowUpStore followUps(connection, QStringLiteral("业务员乙"));
        followUps.add(key, {QStringLiteral("电话"), QStringLiteral("问价"), {}, {}});
        QCOMPARE(store.remove(*store.read(key)), CustomerStore::Outcome::Done);

        const std::vector<FeedEntry> entries = entriesAfter(connection, start);
        std::vector<FeedKind> kinds;
        for (const FeedEntry &entry : entries) {
            kinds.push_back(entry.kind);
            QCOMPARE(entry.customer, key);
            QVERIFY(!entry.time.isEmpty());
        }
        // Deleting also hides the customer's follow-ups, a write of them.
        QVERIFY(kinds.size() >= 4);
        QCOMPARE(kinds[0], FeedKind::Added);
        QCOMPARE(kinds[1], FeedKind::Changed);
        QCOMPARE(kinds[2], FeedKind::FollowUps);
        const auto deleted = std::find(kinds.begin() + 3, kinds.end(), FeedKind::Deleted);
        QVERIFY(deleted != kinds.end());
        QCOMPARE(std::count(kinds.begin(), kinds.end(), FeedKind::Added), 1);
        for (size_t i : {size_t(0), size_t(1), size_t(deleted - kinds.begin())})
            QCOMPARE(entries[i].operatorName, QStringLiteral("业务员乙"));
        for (size_t i = 1; i < entries.size(); ++i)
            QVERIFY(entries[i].number > entries[i - 1].number);
        QCOMPARE(newestChange(connection), entries.back().number);
        // Read from the last number seen: nothing new, nothing lost.
        const FeedRead again = readChanges(connection, entries.back().number);
        QVERIFY(again.entries.empty());
        QVERIFY(!again.fellBehind);
        QCOMPARE(again.newest, entries.back().number);
    }

    void aWriteRolledBackOrChangingNoCustomerValueLeavesNothing()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &store = *module.customerStore;
        const qint64 key = store.add({{column(col::ShortName), QStringLiteral("华联")}});
        const qint64 start = newestChange(connection);

        // The store's save fails after the row was written: the row and its entry go together.
        const QString update = QStringLiteral("update data set c=? where %1=?")
                                   .arg(db::engineOf(connection.database()).rowKey(QStringLiteral("data")));
        QVERIFY_THROWS_EXCEPTION(Error, runLogged(connection, [&] {
                                     db::runBound(connection, update, {QStringLiteral("张三"), key});
                                     throw Error(QStringLiteral("the disk is full"));
                                 }));
        QCOMPARE(newestChange(connection), start);
        QVERIFY(!store.read(key)->value(column(col::Name)));

        // A column that is not the customer's (stored sort keys, say) and a write of the same
        // values are no change of the customer.
        db::runBound(connection, QStringLiteral("alter table data add column sort_b varchar(50)"));
        db::runBound(connection, QStringLiteral("update data set sort_b = 'k'"));
        db::runBound(connection, QStringLiteral("update data set b = b, c = c"));
        QCOMPARE(newestChange(connection), start);
        QVERIFY(entriesAfter(connection, start).empty());
        db::runBound(connection, QStringLiteral("update data set c = 'x'"));
        QCOMPARE(entriesAfter(connection, start).size(), size_t(1));
    }

    void theFeedStaysBoundedAndAReaderBehindItIsTold()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        const qint64 start = newestChange(connection);
        addMany(connection, int(kChangeFeedLength) + 40);
        addMany(connection, 30);

        const qint64 newest = newestChange(connection);
        QCOMPARE(newest - start, kChangeFeedLength + 70);
        QSqlQuery count = db::runBound(connection, QStringLiteral("select count(*) from customer_changes"));
        QVERIFY(count.next());
        QCOMPARE(count.value(0).toLongLong(), kChangeFeedLength);
        count.finish();

        QVERIFY(readChanges(connection, start).fellBehind);
        const FeedRead recent = readChanges(connection, newest - 30);
        QVERIFY(!recent.fellBehind);
        QCOMPARE(recent.entries.size(), size_t(30));
        QCOMPARE(recent.newest, newest);
        // More than the reader takes at once is as good as behind: it reads its list again.
        const FeedRead capped = readChanges(connection, newest - 30, 10);
        QVERIFY(capped.fellBehind);
        QCOMPARE(capped.entries.size(), size_t(10));
    }

    void aLongTransactionTrimsTheFeedAsItGoes()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        auto feedSpan = [&] {
            QSqlQuery span = db::runBound(
                connection, QStringLiteral("select count(*), max(seq) - min(seq) + 1 from customer_changes"));
            span.next();
            return std::pair(span.value(0).toLongLong(), span.value(1).toLongLong());
        };
        const bool server = connection.isServer();
        // Another writer's row, numbered first but committed after the long transaction trimmed
        // past it: it stays until the next transaction's trim.
        std::unique_ptr<Database> other;
        if (server) {
            other = std::make_unique<Database>(nullptr, db.path());
            other->connection->execute(QStringLiteral("begin"));
            db::runBound(*other->connection, QStringLiteral("insert into data (b) values ('另一台电脑')"));
        }
        connection.execute(QStringLiteral("begin"));
        addMany(connection, int(kChangeFeedLength) / 2);
        // A part undone halfway: its rows and its trims go, the rest goes on.
        connection.execute(QStringLiteral("savepoint part"));
        addMany(connection, int(kChangeFeedLength));
        connection.execute(QStringLiteral("rollback to savepoint part"));
        addMany(connection, int(kChangeFeedLength) + 25);
        addMany(connection, 7);
        connection.execute(QStringLiteral("commit"));
        if (server) {
            other->connection->execute(QStringLiteral("commit"));
            QCOMPARE(feedSpan().first, kChangeFeedLength + 1);
            addMany(connection, 1);
        }
        // The newest numbers, none missing; the rolled-back ones were never committed.
        const std::pair span = feedSpan();
        QCOMPARE(span.first, kChangeFeedLength);
        QCOMPARE(span.second, kChangeFeedLength);
        QVERIFY(
            !readChanges(connection, newestChange(connection) - kChangeFeedLength, int(kChangeFeedLength)).fellBehind);
    }

    void anOlderRegisterGetsTheFeedWhenUpgraded()
    {
        if (test::testsUseServer())
            QSKIP("the file's upgrade; a server register gets the feed at creation");
        test::TestDatabase db;
        QVERIFY(test::execOnFile(db.path(), {QStringLiteral("drop trigger customer_changes_added"),
                                             QStringLiteral("drop trigger customer_changes_changed"),
                                             QStringLiteral("drop trigger customer_changes_deleted"),
                                             QStringLiteral("drop trigger customer_changes_followup_added"),
                                             QStringLiteral("drop trigger customer_changes_followup_changed"),
                                             QStringLiteral("drop trigger customer_changes_followup_deleted"),
                                             QStringLiteral("drop trigger customer_changes_operator"),
                                             QStringLiteral("drop table customer_changes"),
                                             QStringLiteral("update register_version set version = 6"),
                                             QStringLiteral("insert into data (b) values ('旧的')")}));
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        QVERIFY(registerIsCurrent(connection));
        QCOMPARE(newestChange(connection), 0);
        module.customerStore->add({{column(col::ShortName), QStringLiteral("新的")}});
        QCOMPARE(entriesAfter(connection, 0).size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestChangeFeed)
#include "test_change_feed.moc"
