// The customer list as a table model: what a search, a sort and the store's writes do to it,
// checked by Qt's model tester on every step, and the list of every record coming back without
// a statement after 新增 and 修改.
#include "customers/CustomerSearch.h"
#include "data/CustomerColumns.h"
#include "data/CustomerListModel.h"
#include "data/Database.h"
#include "data/Statements.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/ListRoles.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>

using namespace lianbu;
using data::CustomerListModel;
using data::CustomerValues;
using Outcome = data::CustomerStore::Outcome;

namespace {

CustomerValues customer(const QString &category, const QString &shortName, const QString &name = QString())
{
    return {{QLatin1String(col::Category), category},
            {QLatin1String(col::ShortName), shortName},
            {QLatin1String(col::Name), name}};
}

// Every signal a view reads the list by, recorded from construction on.
struct Signals
{
    explicit Signals(CustomerListModel *list)
        : aboutToReset(list, &QAbstractItemModel::modelAboutToBeReset)
        , reset(list, &QAbstractItemModel::modelReset)
        , layout(list, &QAbstractItemModel::layoutChanged)
        , changed(list, &QAbstractItemModel::dataChanged)
        , inserted(list, &QAbstractItemModel::rowsInserted)
        , removed(list, &QAbstractItemModel::rowsRemoved)
    {}
    void clear()
    {
        for (QSignalSpy *spy : {&aboutToReset, &reset, &layout, &changed, &inserted, &removed})
            spy->clear();
    }
    QSignalSpy aboutToReset, reset, layout, changed, inserted, removed;
};

QStringList column(const CustomerListModel &list, const char *field)
{
    QStringList values;
    const int c = list.columnOfField(QLatin1String(field));
    for (int row = 0; row < list.rowCount(); ++row)
        values << list.index(row, c).data().toString();
    return values;
}

std::vector<qint64> keysByRole(const CustomerListModel &list)
{
    std::vector<qint64> keys;
    for (int row = 0; row < list.rowCount(); ++row)
        keys.push_back(list.index(row, 0).data(db::ListRole::Key).toLongLong());
    return keys;
}

// The keys the register holds now, in key order: every record, or those matching `where`.
std::vector<qint64> storedKeys(const QString &path, const QString &where = QString())
{
    db::Connection connection(path);
    connection.open();
    const QSqlDatabase database = connection.database();
    const db::Engine &engine = db::engineOf(database);
    const QString key = engine.rowKey(QStringLiteral("data"));
    return db::readKeys(engine, database, QStringLiteral("select %1 from data %2 order by %1").arg(key, where), {});
}

} // namespace

class TestCustomerListModel : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void searchSortAndWritesKeepTheModelProtocol()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        data::CustomerStore &store = *module.customerStore;
        CustomerListModel *list = module.customerList;
        QAbstractItemModelTester tester(list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        Signals seen(list);
        QCOMPARE(list->rowCount(), 0);
        QCOMPARE(list->columnCount(), 0);

        const qint64 zhang = store.add(customer(QStringLiteral("VIP"), QStringLiteral("张三")));
        const qint64 li = store.add(customer(QStringLiteral("普通"), QStringLiteral("李四")));
        const qint64 wang = store.add(customer(QStringLiteral("VIP"), QStringLiteral("王五"), QStringLiteral("王")));
        const qint64 empty = store.add(customer(QStringLiteral("VIP"), QString()));
        list->showStatement(sql::allRecords());
        QCOMPARE(seen.reset.size(), 1);
        QCOMPARE(list->rowCount(), 4);
        QCOMPARE(list->columnCount(), 17); // the fields, then the two follow-up dates
        QCOMPARE(keysByRole(*list), (std::vector<qint64>{zhang, li, wang, empty}));
        // The header names the fields the grid binds to, and their declared widths.
        const int shortName = list->columnOfField(QLatin1String(col::ShortName));
        QCOMPARE(list->headerData(shortName, Qt::Horizontal, db::ListRole::FieldName).toString(),
                 QLatin1String(col::ShortName));
        QVERIFY(list->headerData(shortName, Qt::Horizontal, db::ListRole::FieldWidth).toInt() > 0);
        QCOMPARE(list->index(2, list->columnOfField(QLatin1String(col::Name))).data().toString(), QStringLiteral("王"));
        // Null is no value: the shown text is empty, the typed value invalid.
        const QModelIndex position = list->index(0, list->columnOfField(QLatin1String(col::Position)));
        QCOMPARE(position.data().toString(), QString());
        QVERIFY(!position.data(Qt::EditRole).isValid());
        QVERIFY(list->index(0, shortName).data(Qt::EditRole).isValid());

        // A search result found elsewhere is ONE reset, in the result's order.
        seen.clear();
        const db::Engine &engine = db::engineOf(module.connection->database());
        const sql::BoundStatement vip = sql::boundSearch(engine, QStringLiteral("VIP"), {}, {}, {}, {}, {});
        list->showResult(vip, {wang, zhang});
        QCOMPARE(seen.aboutToReset.size(), 1);
        QCOMPARE(seen.reset.size(), 1);
        QVERIFY(list->shows(vip));
        QCOMPARE(column(*list, col::ShortName), QStringList({QStringLiteral("王五"), QStringLiteral("张三")}));

        // A sort is a layout change: a kept index stays on its customer.
        seen.clear();
        QPersistentModelIndex kept(list->index(0, shortName)); // 王五
        list->setSortText(QLatin1String(col::ShortName));
        QCOMPARE(seen.reset.size(), 0);
        QCOMPARE(seen.layout.size(), 1);
        QCOMPARE(column(*list, col::ShortName), QStringList({QStringLiteral("王五"), QStringLiteral("张三")}));
        list->sort(shortName, Qt::DescendingOrder);
        QCOMPARE(column(*list, col::ShortName), QStringList({QStringLiteral("张三"), QStringLiteral("王五")}));
        QCOMPARE(kept.row(), 1);
        QCOMPARE(kept.data().toString(), QStringLiteral("王五"));
        QCOMPARE(list->sortText(), QStringLiteral("b DESC"));

        // Writes through the store: one row each, never a reset.
        seen.clear();
        const qint64 zhao = store.add(customer(QStringLiteral("VIP"), QStringLiteral("赵六")));
        QCOMPARE(seen.inserted.size(), 1);
        QCOMPARE(seen.inserted.at(0).at(1).toInt(), 2);
        QCOMPARE(list->keyAt(2), zhao);
        QCOMPARE(store.modify(list->customerAt(list->rowOfKey(zhang)),
                              {{QLatin1String(col::ShortName), QStringLiteral("张三丰")}}),
                 Outcome::Done);
        QCOMPARE(seen.changed.size(), 1);
        QCOMPARE(seen.changed.at(0).at(0).value<QModelIndex>().row(), list->rowOfKey(zhang));
        QCOMPARE(list->customerAt(list->rowOfKey(zhang)).value(QLatin1String(col::ShortName)),
                 QStringLiteral("张三丰"));
        QCOMPARE(store.remove(list->customerAt(list->rowOfKey(wang))), Outcome::Done);
        QCOMPARE(seen.removed.size(), 1);
        QCOMPARE(kept.isValid(), false); // its customer is gone
        QCOMPARE(seen.reset.size(), 0);
        QCOMPARE(keysByRole(*list), (std::vector<qint64>{zhang, zhao}));
        // A customer the list does not show is written without a sign in the list.
        QCOMPARE(store.remove(*store.read(li)), Outcome::Done);
        QCOMPARE(seen.removed.size(), 1);
        QCOMPARE(list->rowCount(), 2);

        list->close();
        QVERIFY(!list->active());
        QCOMPARE(list->rowCount(), 0);
        QCOMPARE(list->customerAt(0).key, qint64(0));
    }

    void everyRecordComesBackFromMemoryAfterAChange()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        data::CustomerStore &store = *module.customerStore;
        CustomerListModel *list = module.customerList;
        QAbstractItemModelTester tester(list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::vector<qint64> keys;
        for (const char *name : {"甲", "乙", "丙", "丁"})
            keys.push_back(store.add(customer(QStringLiteral("VIP"), QString::fromUtf8(name))));

        // Nothing kept yet: the statement runs.
        list->showAllKept();
        QCOMPARE(keysByRole(*list), keys);

        // Sorted: the reading order (key order) comes back as a layout change.
        Signals seen(list);
        list->setSortText(QStringLiteral("b DESC"));
        QVERIFY(keysByRole(*list) != keys);
        list->showAllKept();
        QCOMPARE(keysByRole(*list), keys);
        QVERIFY(list->sortText().isEmpty());
        QCOMPARE(seen.reset.size(), 0);

        // A search shows two customers; one is added, one of the others deleted through the store.
        const db::Engine &engine = db::engineOf(module.connection->database());
        list->showResult(sql::boundSearch(engine, {}, QStringLiteral("乙"), {}, {}, {}, {}), {keys[1]});
        const qint64 added = store.add(customer(QStringLiteral("普通"), QStringLiteral("戊")));
        QCOMPARE(store.remove(*store.read(keys[2])), Outcome::Done);
        // Another program adds a customer meanwhile: the kept list does not know it, which shows
        // that no statement ran.
        db::Connection other(db.path());
        other.open();
        other.execute(QStringLiteral("insert into data (a, b) values ('其他', '己')"));
        seen.clear();
        list->showAllKept();
        QCOMPARE(seen.reset.size(), 1);
        QCOMPARE(keysByRole(*list), (std::vector<qint64>{keys[0], keys[1], keys[3], added}));
        QCOMPARE(list->statement(), sql::allRecords());
        QCOMPARE(column(*list, col::ShortName),
                 QStringList({QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丁"), QStringLiteral("戊")}));

        // "全部记录" reads the table again.
        list->showStatement(sql::allRecords());
        QCOMPARE(list->rowCount(), 5);
        // Sorted by a title click, every record gives way to a search and comes back from memory
        // in key order, each time it is asked for.
        const std::vector<qint64> every = list->keys();
        other.execute(QStringLiteral("insert into data (a, b) values ('其他', '庚')"));
        list->setSortText(QStringLiteral("b DESC"));
        for (int round = 0; round < 2; ++round) {
            list->showResult(sql::boundSearch(engine, {}, QStringLiteral("乙"), {}, {}, {}, {}), {keys[1]});
            QCOMPARE(keysByRole(*list), std::vector<qint64>{keys[1]});
            list->showAllKept();
            QCOMPARE(keysByRole(*list), every);
            QVERIFY(list->sortText().isEmpty());
        }
        // A closed list (a restore) forgets what it kept.
        list->close();
        list->showAllKept();
        QCOMPARE(list->rowCount(), 6);
    }

    // A long list of every record is read on a worker connection: the list shows it when it is
    // there, and a search typed meanwhile wins over it whichever arrives first.
    void everyRecordIsReadInTheBackground()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        data::CustomerStore &store = *module.customerStore;
        CustomerListModel *list = module.customerList;
        QAbstractItemModelTester tester(list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const qint64 jia = store.add(customer(QStringLiteral("VIP"), QStringLiteral("甲")));
        const qint64 yi = store.add(customer(QStringLiteral("VIP"), QStringLiteral("乙")));
        store.add(customer(QStringLiteral("普通"), QString()));
        list->setBackgroundLoadFrom(0); // every register counts as long
        QSignalSpy shown(list, &CustomerListModel::everyRecordShown);
        Signals seen(list);

        list->loadEveryRecord();
        QVERIFY(list->loading());
        QCOMPARE(seen.aboutToReset.size(), 0); // nothing waited for the keys
        QTRY_COMPARE(shown.size(), 1);
        QVERIFY(!list->loading());
        QCOMPARE(seen.reset.size(), 1);
        QCOMPARE(list->keys(), storedKeys(db.path()));
        QCOMPARE(list->statement(), sql::allRecords());
        QCOMPARE(list->customerAt(0).key, jia);
        QCOMPARE(list->customerAt(1).value(QLatin1String(col::ShortName)), QStringLiteral("乙"));

        // Another program adds a customer; every record is read again while a search is typed.
        db::Connection other(db.path());
        other.open();
        other.execute(QStringLiteral("insert into data (a, b) values ('其他', '己')"));
        customers::CustomerSearch search(list, *module.connection);
        customers::SearchFields fields;
        fields.shortName = QStringLiteral("乙");
        list->loadEveryRecord();
        search.search(fields);
        QTRY_VERIFY(!list->loading() && !search.busy());
        QCOMPARE(list->keys(), (std::vector<qint64>{yi}));
        QCOMPARE(shown.size(), 1);
        // The keys read meanwhile are kept as every record: the other program's customer comes
        // back from memory, one added after it does not.
        const std::vector<qint64> readMeanwhile = storedKeys(db.path());
        other.execute(QStringLiteral("insert into data (a, b) values ('其他', '庚')"));
        list->showAllKept();
        QCOMPARE(list->keys(), readMeanwhile);
        QCOMPARE(list->keys().size(), size_t(4));

        // A search shown before the keys come: they are not shown late.
        list->loadEveryRecord();
        search.search(fields);
        QTRY_COMPARE(list->keys(), (std::vector<qint64>{yi}));
        QTRY_VERIFY(!list->loading());
        QCOMPARE(list->keys(), (std::vector<qint64>{yi}));
        QCOMPARE(shown.size(), 1);

        // A short register is read at once.
        list->setBackgroundLoadFrom(1000);
        list->loadEveryRecord();
        QVERIFY(!list->loading());
        QCOMPARE(shown.size(), 2);
        QCOMPARE(list->keys(), storedKeys(db.path()));

        // Closing drops a read still running.
        list->setBackgroundLoadFrom(0);
        list->loadEveryRecord();
        list->close();
        QVERIFY(!list->loading());
        QCOMPARE(list->rowCount(), 0);
    }

    // The worker reads the keys once while the login dialog is up; the list asked for later is
    // read afresh, and every read that ends says so once, however it ends.
    void theFirstListIsPreparedWithoutShowingStaleKeys()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        data::CustomerStore &store = *module.customerStore;
        CustomerListModel *list = module.customerList;
        QAbstractItemModelTester tester(list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const qint64 jia = store.add(customer(QStringLiteral("VIP"), QStringLiteral("甲")));
        list->setBackgroundLoadFrom(0);
        QSignalSpy shown(list, &CustomerListModel::everyRecordShown);
        QSignalSpy ended(list, &CustomerListModel::loadEnded);
        Signals seen(list);

        list->prepareEveryRecord();
        QVERIFY(!list->loading());
        QTest::qWait(300);
        QCOMPARE(seen.aboutToReset.size(), 0);
        QCOMPARE(shown.size(), 0);
        QCOMPARE(ended.size(), 0);
        QCOMPARE(list->rowCount(), 0);

        // Another program adds a customer after the read: the list shows it.
        db::Connection other(db.path());
        other.open();
        other.execute(QStringLiteral("insert into data (a, b) values ('其他', '己')"));
        list->loadEveryRecord();
        QVERIFY(list->loading());
        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(ended.size(), 1);
        QCOMPARE(list->keys(), storedKeys(db.path()));
        QCOMPARE(list->keys().size(), size_t(2));
        QCOMPARE(list->customerAt(0).key, jia);

        // Asked for at once, the list interrupts the read still running and is read whole.
        list->close();
        QCOMPARE(ended.size(), 1);
        list->prepareEveryRecord();
        list->loadEveryRecord();
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(ended.size(), 2);
        QCOMPARE(list->keys(), storedKeys(db.path()));

        // Overtaken by a search, failing or closed: ended all the same.
        customers::CustomerSearch search(list, *module.connection);
        customers::SearchFields fields;
        fields.shortName = QStringLiteral("甲");
        list->loadEveryRecord();
        search.search(fields);
        QTRY_COMPARE(ended.size(), 3);
        QTRY_COMPARE(list->keys(), (std::vector<qint64>{jia}));
        list->loadEveryRecord();
        list->close();
        QCOMPARE(ended.size(), 4);
        QCOMPARE(shown.size(), 2);
        // A short register is read at once: no read to end.
        list->setBackgroundLoadFrom(1000);
        list->prepareEveryRecord();
        list->loadEveryRecord();
        QCOMPARE(shown.size(), 3);
        QCOMPARE(ended.size(), 4);
        QVERIFY(!list->loading());
    }

    // The search with every field empty lists every record with a 客户简称; the list keeps it
    // beside every record, and both follow 新增, 修改, 删除 and the records other programs add.
    void everyRecordAndTheEmptySearchStayRight()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        data::CustomerStore &store = *module.customerStore;
        CustomerListModel *list = module.customerList;
        QAbstractItemModelTester tester(list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const qint64 jia = store.add(customer(QStringLiteral("VIP"), QStringLiteral("甲")));
        const qint64 blank = store.add(customer(QStringLiteral("VIP"), QString()));
        const qint64 yi = store.add(customer(QStringLiteral("VIP"), QStringLiteral("乙")));
        const qint64 bing = store.add(customer(QStringLiteral("普通"), QStringLiteral("丙")));
        const QString withShortName = QStringLiteral("where b<>''");
        QVERIFY(!list->keptEmptySearchResult());

        list->showStatement(sql::allRecords());
        customers::CustomerSearch search(list, *module.connection);
        // Every record alone does not say which records have no 客户简称.
        QVERIFY(!list->keptEmptySearchResult());
        search.prepareEmptySearch();
        QTRY_VERIFY(list->keptEmptySearchResult().has_value());
        QCOMPARE(*list->keptEmptySearchResult(), (std::vector<qint64>{jia, yi, bing}));

        // Another program adds a customer; this one adds two, changes two and deletes one.
        db::Connection other(db.path());
        other.open();
        other.execute(QStringLiteral("insert into data (a, b) values ('其他', '己')"));
        customers::SearchFields fields;
        fields.shortName = QStringLiteral("乙");
        search.search(fields);
        QTRY_COMPARE(list->keys(), (std::vector<qint64>{yi}));
        const qint64 ding = store.add(customer(QStringLiteral("VIP"), QStringLiteral("丁")));
        const qint64 blankToo = store.add(customer(QStringLiteral("VIP"), QString()));
        QCOMPARE(store.remove(*store.read(jia)), Outcome::Done);
        QCOMPARE(store.modify(*store.read(bing), {{QLatin1String(col::ShortName), QString()}}), Outcome::Done);
        QCOMPARE(store.modify(*store.read(blank), {{QLatin1String(col::ShortName), QStringLiteral("戊")}}),
                 Outcome::Done);

        // Emptying the fields shows the kept result at once, with this program's changes...
        search.search({});
        QCOMPARE(list->keys(), (std::vector<qint64>{blank, yi, ding}));
        // ...and the search behind it brings the other program's customer.
        QTRY_COMPARE(list->keys(), storedKeys(db.path(), withShortName));
        QCOMPARE(list->keys().size(), size_t(4));
        QCOMPARE(*list->keptEmptySearchResult(), storedKeys(db.path(), withShortName));

        // Every record, from memory: the other program's customer too, and the two without 客户简称.
        search.search(fields);
        QTRY_COMPARE(list->keys(), (std::vector<qint64>{yi}));
        list->showAllKept();
        QCOMPARE(list->keys(), storedKeys(db.path()));
        QVERIFY(std::find(list->keys().begin(), list->keys().end(), blankToo) != list->keys().end());
        QVERIFY(std::find(list->keys().begin(), list->keys().end(), bing) != list->keys().end());
        // A customer back from the recycle bin has its old key, and its place among every record.
        search.search(fields);
        QTRY_COMPARE(list->keys(), (std::vector<qint64>{yi}));
        QCOMPARE(store.remove(*store.read(yi)), Outcome::Done);
        QVERIFY(store.restore(yi));
        list->showAllKept();
        QCOMPARE(list->keys(), storedKeys(db.path()));
        search.search({});
        QCOMPARE(list->keys(), storedKeys(db.path(), withShortName));

        // Read afresh, every record forgets what it learned until the empty search ran again.
        list->showStatement(sql::allRecords());
        QVERIFY(!list->keptEmptySearchResult());
        search.prepareEmptySearch();
        QTRY_VERIFY(list->keptEmptySearchResult().has_value());
        QCOMPARE(*list->keptEmptySearchResult(), storedKeys(db.path(), withShortName));
        list->close();
        QVERIFY(!list->keptEmptySearchResult());
    }
};

QTEST_MAIN(TestCustomerListModel)
#include "test_customer_list_model.moc"
