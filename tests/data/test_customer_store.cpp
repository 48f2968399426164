// Writes of customers through the store: bound values, the check against the values the operator
// saw, and the customer list following each write row by row.
#include "data/CustomerColumns.h"
#include "data/CustomerStore.h"
#include "data/Database.h"
#include "db/Connection.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"

#include <QSignalSpy>
#include <QtTest>

using namespace lianbu;
using data::CustomerRecord;
using data::CustomerStore;
using data::CustomerValues;
using Outcome = data::CustomerStore::Outcome;

namespace {

QString value(const CustomerRecord &record, const char *column)
{
    return record.value(QLatin1String(column)).value_or(QStringLiteral("<null>"));
}

CustomerValues customer(const QString &category, const QString &shortName)
{
    return {{QLatin1String(col::Category), category}, {QLatin1String(col::ShortName), shortName}};
}

// The customer list shows every customer; the signals of its model are recorded from here on.
struct ListWatch
{
    explicit ListWatch(Database &module)
        : list(module.customerList)
        , reset(list, &QAbstractItemModel::modelReset)
        , changed(list, &QAbstractItemModel::dataChanged)
        , inserted(list, &QAbstractItemModel::rowsInserted)
        , removed(list, &QAbstractItemModel::rowsRemoved)
    {}
    QStringList shortNames() const
    {
        QStringList names;
        const int column = list->columnOfField(QLatin1String(col::ShortName));
        for (int row = 0; row < list->rowCount(); ++row)
            names << list->index(row, column).data().toString();
        return names;
    }
    data::CustomerListModel *list;
    QSignalSpy reset, changed, inserted, removed;
};

} // namespace

class TestCustomerStore : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void addBindsEveryValueKeepsNullsAndEmptiesAndShowsTheRowAtTheEnd()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        CustomerStore &store = *module.customerStore;
        const qint64 first = store.add(customer(QStringLiteral("VIP"), QStringLiteral("华联")));
        module.customerList->showStatement(QStringLiteral("select * from data"));
        ListWatch watch(module);

        const QString hostile = QStringLiteral("O'Brien\"); delete from data; --");
        const QString tooLong = QString(300, QChar(0x5BB6)); // longer than the column holds
        const qint64 key = store.add({{QLatin1String(col::Category), QStringLiteral("普通")},
                                      {QLatin1String(col::ShortName), hostile},
                                      {QLatin1String(col::Name), QString()},
                                      {QLatin1String(col::Address), tooLong},
                                      {QLatin1String(col::RegistrationDate), std::nullopt}});
        QVERIFY(key > first);
        const std::optional<CustomerRecord> stored = store.read(key);
        QVERIFY(stored);
        QCOMPARE(value(*stored, col::ShortName), hostile);
        QCOMPARE(value(*stored, col::Name), QString()); // empty text, not NULL
        QCOMPARE(value(*stored, col::RegistrationDate), QStringLiteral("<null>"));
        QCOMPARE(value(*stored, col::Position), QStringLiteral("<null>")); // not given
        const int width = store.columnWidth(QLatin1String(col::Address));
        QVERIFY(width > 0 && width < tooLong.size());
        QCOMPARE(value(*stored, col::Address), tooLong.left(width));
        QVERIFY(store.read(first)); // the hostile text wrote nothing else

        // The list gains one row at its end; it is not read again.
        QCOMPARE(watch.inserted.size(), 1);
        QCOMPARE(watch.inserted.at(0).at(1).toInt(), 1);
        QCOMPARE(watch.reset.size(), 0);
        QCOMPARE(watch.shortNames(), QStringList({QStringLiteral("华联"), hostile}));
        QCOMPARE(module.customerList->keys().back(), key);

        // A column the table lacks is refused and writes nothing.
        QVERIFY_THROWS_EXCEPTION(Error, store.add({{QStringLiteral("nosuch"), QStringLiteral("x")}}));
        QCOMPARE(module.customerList->rowCount(), 2);
    }

    void modifyWritesOnlyTheChangesAndOnlyWhileTheCustomerHoldsWhatWasSeen()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        CustomerStore &store = *module.customerStore;
        const qint64 a = store.add({{QLatin1String(col::Category), QStringLiteral("VIP")},
                                    {QLatin1String(col::ShortName), QStringLiteral("华联")},
                                    {QLatin1String(col::Fax), QStringLiteral("  留空格  ")},
                                    {QLatin1String(col::RegistrationDate), QStringLiteral("2023-5-6 14:30:00")}});
        const qint64 b = store.add(customer(QStringLiteral("VIP"), QStringLiteral("阿里")));
        module.customerList->showStatement(QStringLiteral("select * from data"));
        ListWatch watch(module);
        const CustomerRecord seen = *store.read(a);

        QCOMPARE(store.modify(seen, {{QLatin1String(col::Position), QStringLiteral("经理")}}), Outcome::Done);
        const CustomerRecord after = *store.read(a);
        QCOMPARE(value(after, col::Position), QStringLiteral("经理"));
        // Columns not changed keep their stored text exactly.
        QCOMPARE(value(after, col::Fax), QStringLiteral("  留空格  "));
        QCOMPARE(value(after, col::RegistrationDate), QStringLiteral("2023-5-6 14:30:00"));
        QCOMPARE(value(after, col::Mobile), QStringLiteral("<null>"));
        // The list is told which row: that row shows the change, nothing is read again.
        QCOMPARE(watch.changed.size(), 1);
        QCOMPARE(watch.changed.at(0).at(0).value<QModelIndex>().row(), module.customerList->rowOfKey(a));
        QCOMPARE(watch.changed.at(0).at(1).value<QModelIndex>().row(), module.customerList->rowOfKey(a));
        QCOMPARE(watch.reset.size(), 0);
        QCOMPARE(module.customerList
                     ->index(module.customerList->rowOfKey(a),
                             module.customerList->columnOfField(QLatin1String(col::Position)))
                     .data()
                     .toString(),
                 QStringLiteral("经理"));

        // Another operator changes the customer: a write from the old values is refused and
        // their change stands.
        db::Connection other(db.path());
        other.open();
        QCOMPARE(other.execute(QStringLiteral("update data set e='总经理' where b='华联'")), 1);
        QCOMPARE(store.modify(after, {{QLatin1String(col::Notes), QStringLiteral("我的")}}), Outcome::Changed);
        QCOMPARE(value(*store.read(a), col::Position), QStringLiteral("总经理"));
        QCOMPARE(value(*store.read(a), col::Notes), QStringLiteral("<null>"));
        QCOMPARE(watch.changed.size(), 1);
        // From what is stored now it goes through.
        QCOMPARE(store.modify(*store.read(a), {{QLatin1String(col::Notes), QStringLiteral("我的")}}), Outcome::Done);
        QCOMPARE(value(*store.read(a), col::Position), QStringLiteral("总经理"));

        // Deleted meanwhile: nothing written, nothing added back.
        const CustomerRecord last = *store.read(a);
        QCOMPARE(other.execute(QStringLiteral("delete from data where b='华联'")), 1);
        QCOMPARE(store.modify(last, {{QLatin1String(col::Notes), QStringLiteral("再改")}}), Outcome::Gone);
        QVERIFY(!store.read(a));
        QVERIFY(store.read(b));
        try {
            CustomerStore::throwModifyRefused(Outcome::Gone);
            QFAIL("no error");
        } catch (const Error &error) {
            QVERIFY(error.operatorText().contains(QStringLiteral("已被其他操作员删除")));
        }
    }

    void removeDeletesTheGivenCustomerWhateverTheListShowsNow()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        CustomerStore &store = *module.customerStore;
        const qint64 one = store.add(customer(QStringLiteral("A"), QStringLiteral("一")));
        const qint64 two = store.add(customer(QStringLiteral("B"), QStringLiteral("二")));
        const qint64 three = store.add(customer(QStringLiteral("C"), QStringLiteral("三")));
        const CustomerRecord seenTwo = *store.read(two);
        // The list is read again and shows other customers, with three current.
        module.customerList->showResult({QStringLiteral("select * from data"), {}}, {three, one});
        ListWatch watch(module);
        QCOMPARE(store.remove(seenTwo), Outcome::Done);
        QVERIFY(!store.read(two));
        QVERIFY(store.read(one) && store.read(three));
        QCOMPARE(watch.removed.size(), 0); // the list did not show it
        QCOMPARE(watch.shortNames(), QStringList({QStringLiteral("三"), QStringLiteral("一")}));

        // A customer changed since it was seen is not deleted.
        const CustomerRecord seenOne = *store.read(one);
        db::Connection other(db.path());
        other.open();
        QCOMPARE(other.execute(QStringLiteral("update data set z='改过' where b='一'")), 1);
        QCOMPARE(store.remove(seenOne), Outcome::Changed);
        QVERIFY(store.read(one));
        QCOMPARE(watch.removed.size(), 0);

        // Deleted as seen: its row leaves the list, the row after it takes its place.
        QCOMPARE(store.remove(*store.read(one)), Outcome::Done);
        QCOMPARE(watch.removed.size(), 1);
        QCOMPARE(watch.removed.at(0).at(1).toInt(), 1);
        QCOMPARE(watch.reset.size(), 0);
        QCOMPARE(watch.shortNames(), QStringList({QStringLiteral("三")}));

        // Deleted by another operator first: said so, and it leaves the list all the same.
        const CustomerRecord seenThree = *store.read(three);
        QCOMPARE(other.execute(QStringLiteral("delete from data")), 1);
        QCOMPARE(store.remove(seenThree), Outcome::Gone);
        QCOMPARE(module.customerList->rowCount(), 0);
        QCOMPARE(store.remove(CustomerRecord()), Outcome::Gone);
    }
};

QTEST_MAIN(TestCustomerStore)
#include "test_customer_store.moc"
