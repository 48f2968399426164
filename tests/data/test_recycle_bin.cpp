// The recycle bin: 删除 moves a customer out of the customer table into the bin, whole; 还原 puts
// it back with its key; removing it for good needs the right to delete.
#include "data/ChangeLog.h"
#include "data/CustomerColumns.h"
#include "data/CustomerStore.h"
#include "data/Database.h"
#include "data/OperatorRights.h"
#include "data/OperatorStore.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"

#include <QSqlQuery>
#include <QtTest>

using namespace lianbu;
using namespace lianbu::data;
using test::countOf;
using Outcome = CustomerStore::Outcome;

namespace {

CustomerValues customer(const QString &shortName, const QString &name)
{
    return {{QLatin1String(col::Category), QStringLiteral("VIP")},
            {QLatin1String(col::ShortName), shortName},
            {QLatin1String(col::Name), name},
            {QLatin1String(col::Position), QString()},
            {QLatin1String(col::Notes), QStringLiteral("备注 O'Brien")}};
}

} // namespace

class TestRecycleBin : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void deletedCustomersLeaveTheListAndComeBackWithTheirKeys()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &store = *module.customerStore;
        const qint64 first = store.add(customer(QStringLiteral("华联"), QStringLiteral("张三")));
        const qint64 second = store.add(customer(QStringLiteral("阿里"), QStringLiteral("李四")));
        const qint64 third = store.add(customer(QStringLiteral("腾讯"), QStringLiteral("王五")));
        module.customerList->showStatement(QStringLiteral("select * from data"));
        QCOMPARE(module.customerList->rowCount(), 3);
        OperatorStore(connection).addOperator(QStringLiteral("业务员乙"));
        OperatorStore(connection).setRights(QStringLiteral("业务员乙"), {Role::Clerk, unsigned(Right::Delete), false});
        store.setOperator(QStringLiteral("业务员乙"));

        const CustomerRecord before = *store.read(second);
        QCOMPARE(store.remove(before), Outcome::Done);
        // Out of the customer table: the list, the search, the statistics and exports read
        // only that table.
        QVERIFY(!store.read(second));
        QCOMPARE(countOf(connection, QStringLiteral("select count(*) from data")), 2);
        QCOMPARE(module.customerList->rowCount(), 2);
        QCOMPARE(module.customerList->rowOfKey(second), -1);
        QCOMPARE(store.binCount(), 1);
        const std::vector<BinEntry> bin = store.binEntries(10);
        QCOMPARE(bin.size(), size_t(1));
        QCOMPARE(bin[0].record.key, second);
        // Nulls stay nulls, empty texts empty texts.
        QVERIFY(sameStoredValues(bin[0].record, before));
        QCOMPARE(bin[0].deletedBy, QStringLiteral("业务员乙"));
        QVERIFY(bin[0].deletedAt.isValid());
        QCOMPARE(bin[0].pc, localPcName());

        // Keys are never given again, so the bin's key is free when it comes back.
        const qint64 fourth = store.add(customer(QStringLiteral("百度"), QStringLiteral("赵六")));
        QVERIFY(fourth > third);
        QVERIFY(store.restore(second));
        const std::optional<CustomerRecord> back = store.read(second);
        QVERIFY(back);
        QCOMPARE(*back, before);
        QCOMPARE(store.binCount(), 0);
        QVERIFY(module.customerList->rowOfKey(second) >= 0);
        QCOMPARE(countOf(connection, QStringLiteral("select count(*) from data")), 4);
        QVERIFY(!store.restore(second)); // no longer in the bin
        QVERIFY(store.read(first));
        const std::vector<LogEntry> restored =
            ChangeLog(connection).entries({{}, {}, {}, {}, LogKind::CustomerRestored}, 10);
        QCOMPARE(restored.size(), size_t(1));
        QCOMPARE(restored[0].customerKey, second);
        QCOMPARE(restored[0].subject, QStringLiteral("阿里"));
        // Restored, it is a customer like any other: it can be changed and deleted again.
        QCOMPARE(store.modify(*back, {{QLatin1String(col::Name), QStringLiteral("李四四")}}), Outcome::Done);
        QCOMPARE(store.remove(*store.read(second)), Outcome::Done);
        QCOMPARE(store.binEntries(10).at(0).record.value(QLatin1String(col::Name)), QStringLiteral("李四四"));
    }

    void removingForGoodNeedsTheRightToDelete()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &store = *module.customerStore;
        std::vector<qint64> keys;
        for (int i = 0; i < 4; ++i)
            keys.push_back(store.add(customer(QStringLiteral("客户%1").arg(i), QString())));
        for (qint64 key : keys)
            QCOMPARE(store.remove(*store.read(key)), Outcome::Done);
        QCOMPARE(store.binCount(), 4);
        // Newest deletion first.
        QCOMPARE(store.binEntries(1).at(0).record.key, keys.back());
        QCOMPARE(store.binEntries(2, 3).size(), size_t(1));

        OperatorStore operators(connection);
        operators.addOperator(QStringLiteral("业务员乙")); // no delete
        operators.addOperator(QStringLiteral("查询甲"));
        operators.setRights(QStringLiteral("查询甲"), {Role::Viewer, 0, false});
        store.setOperator(QStringLiteral("业务员乙"));
        QVERIFY_THROWS_EXCEPTION(Error, store.purge(keys[0]));
        QVERIFY_THROWS_EXCEPTION(Error, store.emptyBin());
        QCOMPARE(store.binCount(), 4);
        store.setOperator(QStringLiteral("查询甲"));
        QVERIFY_THROWS_EXCEPTION(Error, store.restore(keys[0]));
        QVERIFY(!store.read(keys[0]));

        store.setOperator(superAdministratorName());
        QVERIFY(store.purge(keys[0]));
        QVERIFY(!store.purge(keys[0]));
        QVERIFY(!store.restore(keys[0]));
        QCOMPARE(store.binCount(), 3);
        QCOMPARE(store.emptyBin(), 3);
        QCOMPARE(store.binCount(), 0);
        QCOMPARE(store.emptyBin(), 0);
        const std::vector<LogEntry> purged =
            ChangeLog(connection).entries({{}, {}, {}, {}, LogKind::CustomerPurged}, 10);
        // One customer, then the whole bin: in one entry, or, on a server register whose triggers
        // see each row, one entry per customer.
        QCOMPARE(purged.size(), size_t(test::testsUseServer() ? 4 : 2));
        QCOMPARE(purged.back().customerKey, keys[0]);
        QCOMPARE(countOf(connection, QStringLiteral("select count(*) from data")), 0);
    }
};

QTEST_GUILESS_MAIN(TestRecycleBin)
#include "test_recycle_bin.moc"
