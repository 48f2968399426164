// Two program instances on one register: what one writes reaches the other through the change
// feed, and the other's list follows row by row without losing its place or its search.
#include "data/ChangeFeed.h"
#include "data/ChangeWatcher.h"
#include "data/CustomerColumns.h"
#include "data/CustomerListModel.h"
#include "data/Database.h"
#include "data/SearchIndex.h"
#include "data/Statements.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace lianbu;
using data::CustomerListModel;
using data::CustomerValues;
using data::FeedEntry;
using data::FeedKind;

namespace {

CustomerValues customer(const QString &shortName, const QString &name = QString())
{
    return {{QLatin1String(col::Category), QStringLiteral("VIP")},
            {QLatin1String(col::ShortName), shortName},
            {QLatin1String(col::Name), name}};
}

QStringList shortNames(const CustomerListModel &list)
{
    QStringList values;
    const int c = list.columnOfField(QLatin1String(col::ShortName));
    for (int row = 0; row < list.rowCount(); ++row)
        values << list.index(row, c).data().toString();
    return values;
}

// What the watcher of `module` reports, collected until `count` entries came (or time ran out).
std::vector<FeedEntry> awaitEntries(Database &module, size_t count)
{
    std::vector<FeedEntry> got;
    QObject guard;
    QObject::connect(
        module.changeWatcher, &data::ChangeWatcher::changed, &guard,
        [&got](const std::vector<FeedEntry> &entries) { got.insert(got.end(), entries.begin(), entries.end()); });
    QDeadlineTimer deadline(5000);
    while (got.size() < count && !deadline.hasExpired())
        QTest::qWait(20);
    return got;
}

} // namespace

class TestListFollows : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void theWatcherReportsWhatAnotherInstanceWrites()
    {
        test::TestDatabase db;
        Database here(nullptr, db.path());
        Database there(nullptr, db.path());
        const qint64 before = there.customerStore->add(customer(QStringLiteral("早就有的")));
        here.changeWatcher->setInterval(50);
        here.changeWatcher->start();
        QSignalSpy nothing(here.changeWatcher, &data::ChangeWatcher::changed);
        here.changeWatcher->checkNow();
        QTest::qWait(200);
        QCOMPARE(nothing.count(), 0); // what was there before the start is no news

        const qint64 key = there.customerStore->add(customer(QStringLiteral("华联")));
        QVERIFY(there.customerStore->modify(*there.customerStore->read(key),
                                            {{QStringLiteral("c"), QStringLiteral("张三")}})
                == data::CustomerStore::Outcome::Done);
        QVERIFY(there.customerStore->remove(*there.customerStore->read(before)) == data::CustomerStore::Outcome::Done);
        const std::vector<FeedEntry> got = awaitEntries(here, 3);
        QCOMPARE(got.size(), size_t(3));
        QCOMPARE(got[0].customer, key);
        QCOMPARE(got[0].kind, FeedKind::Added);
        QCOMPARE(got[1].kind, FeedKind::Changed);
        QCOMPARE(got[2].customer, before);
        QCOMPARE(got[2].kind, FeedKind::Deleted);
        here.changeWatcher->stop();
    }

    void theListFollowsRowByRowKeepingItsPlace()
    {
        test::TestDatabase db;
        Database here(nullptr, db.path());
        Database there(nullptr, db.path());
        std::vector<qint64> keys;
        for (const char *name : {"甲公司", "乙公司", "丙公司", "丁公司"})
            keys.push_back(there.customerStore->add(customer(QString::fromUtf8(name))));
        CustomerListModel *list = here.customerList;
        QAbstractItemModelTester tester(list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        list->showStatement(sql::allRecords());
        QCOMPARE(list->rowCount(), 4);
        const QPersistentModelIndex current = list->index(2, 0); // 丙公司, the operator's row
        here.changeWatcher->setInterval(50);
        here.changeWatcher->start();
        QObject::connect(here.changeWatcher, &data::ChangeWatcher::changed, list, &CustomerListModel::applyChanges);

        const qint64 added = there.customerStore->add(customer(QStringLiteral("戊公司")));
        there.customerStore->modify(*there.customerStore->read(keys[3]),
                                    {{QStringLiteral("b"), QStringLiteral("丁集团")}});
        there.customerStore->remove(*there.customerStore->read(keys[0]));
        QTRY_COMPARE_WITH_TIMEOUT(shortNames(*list),
                                  (QStringList{QStringLiteral("乙公司"), QStringLiteral("丙公司"),
                                               QStringLiteral("丁集团"), QStringLiteral("戊公司")}),
                                  5000);
        QCOMPARE(list->keys(), (std::vector<qint64>{keys[1], keys[2], keys[3], added}));
        QVERIFY(current.isValid());
        QCOMPARE(current.row(), 1);
        QCOMPARE(list->customerAt(current.row()).key, keys[2]);

        // A running search: a row that no longer matches leaves, one that comes to match enters
        // in its sorted place, a new match too; the statement stays the operator's.
        const db::Engine &engine = db::engineOf(here.connection->database());
        const sql::BoundStatement search = sql::boundSearch(engine, {}, QStringLiteral("公司"), {}, {}, {}, {});
        list->showResult(search, {keys[1], keys[2], added});
        list->setSortText(QStringLiteral("b DESC"));
        const QStringList sorted = shortNames(*list);
        there.customerStore->modify(*there.customerStore->read(keys[1]),
                                    {{QStringLiteral("b"), QStringLiteral("乙集团")}});
        there.customerStore->modify(*there.customerStore->read(keys[3]),
                                    {{QStringLiteral("b"), QStringLiteral("丁公司")}});
        const qint64 late = there.customerStore->add(customer(QStringLiteral("己公司")));
        there.customerStore->add(customer(QStringLiteral("庚集团")));
        QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 4, 5000);
        QVERIFY(list->shows(search));
        QCOMPARE(list->dataSet()->sort(), QStringLiteral("b DESC"));
        QStringList expected = {QStringLiteral("丙公司"), QStringLiteral("丁公司"), QStringLiteral("戊公司"),
                                QStringLiteral("己公司")};
        QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
        std::sort(expected.begin(), expected.end(),
                  [&](const QString &a, const QString &b) { return collator.compare(a, b) > 0; });
        QCOMPARE(shortNames(*list), expected);
        QVERIFY(list->rowOfKey(late) >= 0);
        QVERIFY(sorted != expected);
    }

    // A row another instance adds enters a sorted list where sorting the list again puts it, in
    // either direction: Latin and digits before Chinese, Chinese by pinyin, nulls first
    // ascending, after its equals; the order the next title click keeps, not another.
    void aNewRowEntersWhereTheListsOwnSortPutsIt()
    {
        test::TestDatabase db;
        Database here(nullptr, db.path());
        Database there(nullptr, db.path());
        for (const char *name : {"联簿", "Acme", "华联", "3M", "阿里", "Zeta"})
            there.customerStore->add(customer(QString::fromUtf8(name), QStringLiteral("王五")));
        there.customerStore->add(customer(QStringLiteral("无名"))); // 姓名 null
        CustomerListModel *list = here.customerList;
        QAbstractItemModelTester tester(list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        list->showStatement(sql::allRecords());
        qsizetype rows = 7;
        std::vector<qint64> lastAdded;
        for (const QString &sort : {QStringLiteral("b"), QStringLiteral("b DESC"), QStringLiteral("c")}) {
            list->setSortText(sort);
            std::vector<FeedEntry> entries;
            lastAdded.clear();
            for (const char *name : {"Beta", "百货", "5号店", "华联", "zeta", "张家"}) {
                const qint64 key = there.customerStore->add(customer(QString::fromUtf8(name), QStringLiteral("李四")));
                entries.push_back({0, key, FeedKind::Added, {}, {}});
                lastAdded.push_back(key);
            }
            const QStringList before = shortNames(*list);
            list->applyChanges(entries);
            const std::vector<qint64> placed = list->keys();
            rows += 6;
            QCOMPARE(placed.size(), size_t(rows));
            // Sorting again is stable: rows already in the sort's order stay where they are.
            list->setSortText(sort);
            QCOMPARE(list->keys(), placed);
            QVERIFY(shortNames(*list) != before);
        }
        // Equals: sorted by 姓名, the six new 李四 after the twelve listed before them, in the
        // order they came.
        const int name = list->columnOfField(QLatin1String(col::Name));
        int firstLisi = 0;
        while (firstLisi < list->rowCount() && list->index(firstLisi, name).data().toString() != QStringLiteral("李四"))
            ++firstLisi;
        const std::vector<qint64> &keys = list->keys();
        QCOMPARE(std::vector<qint64>(keys.begin() + firstLisi + 12, keys.begin() + firstLisi + 18), lastAdded);
    }

    // A search by pinyin initials (客户简称 "hw") follows what another instance writes by the
    // initials the search itself would find now: a row renamed to a match enters, one renamed
    // away leaves, a new match enters, a row changed elsewhere in another column stays.
    void aPinyinSearchFollowsByTheInitialsOfNow()
    {
        test::TestDatabase db;
        Database here(nullptr, db.path());
        Database there(nullptr, db.path());
        QVERIFY(hasSearchExtra(*here.connection));
        const qint64 huawei = there.customerStore->add(customer(QStringLiteral("华为")));
        const qint64 hengwen = there.customerStore->add(customer(QStringLiteral("恒温")));
        const qint64 xiaomi = there.customerStore->add(customer(QStringLiteral("小米")));
        there.customerStore->add(customer(QStringLiteral("中兴")));
        // What the quick search does before it reads: the initials of every written row.
        QVERIFY(refreshSearchExtra(*here.connection));
        const db::Engine &engine = db::engineOf(here.connection->database());
        const sql::BoundStatement search = sql::boundSearch(engine, {}, QStringLiteral("hw"), {}, {}, {}, {}, true);
        CustomerListModel *list = here.customerList;
        list->showResult(search, {huawei, hengwen});

        auto change = [&](qint64 key, const char *column, const char *value) {
            QVERIFY(there.customerStore->modify(*there.customerStore->read(key),
                                                {{QLatin1String(column), QString::fromUtf8(value)}})
                    == data::CustomerStore::Outcome::Done);
        };
        change(huawei, "b", "小米之家");
        change(xiaomi, "b", "华为科技");
        change(hengwen, "c", "赵六");
        const qint64 huangwang = there.customerStore->add(customer(QStringLiteral("黄旺")));
        list->applyChanges({{0, huawei, FeedKind::Changed, {}, {}},
                            {0, xiaomi, FeedKind::Changed, {}, {}},
                            {0, hengwen, FeedKind::Changed, {}, {}},
                            {0, huangwang, FeedKind::Added, {}, {}}});
        std::vector<qint64> shown = list->keys();
        std::sort(shown.begin(), shown.end());
        std::vector<qint64> expected{hengwen, xiaomi, huangwang};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(shown, expected);
        QVERIFY(list->shows(search));
    }

    void manyChangesAtOnceAskForAReloadInstead()
    {
        test::TestDatabase db;
        Database here(nullptr, db.path());
        CustomerListModel *list = here.customerList;
        list->showStatement(sql::allRecords());
        list->setRowByRowLimit(3);
        QSignalSpy outdated(list, &CustomerListModel::listOutdated);
        std::vector<FeedEntry> entries;
        for (qint64 key = 1; key <= 4; ++key)
            entries.push_back({key, key, FeedKind::Added, {}, {}});
        list->applyChanges(entries);
        QCOMPARE(outdated.count(), 1);
        QCOMPARE(list->rowCount(), 0); // nothing applied: the reload reads them
        entries.pop_back();
        list->applyChanges(entries); // none of them is stored: nothing to show
        QCOMPARE(outdated.count(), 1);
        QCOMPARE(list->rowCount(), 0);
    }

    void anImportElsewhereIsLeftToTheReloadFromTheFeedAlone()
    {
        test::TestDatabase db;
        Database here(nullptr, db.path());
        CustomerListModel *list = here.customerList;
        db::Connection &connection = *here.connection;
        const QString rows = connection.isServer()
                                 ? QStringLiteral("select 'x' || n from generate_series(1, 20001) as n")
                                 : QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n "
                                                  "where i < 20001) select 'x' || i from n");
        db::runBound(connection, QStringLiteral("insert into data (b) ") + rows);
        list->showStatement(sql::allRecords());
        QTRY_VERIFY(!list->loading());
        QCOMPARE(list->rowCount(), 20001);
        QSignalSpy outdated(list, &CustomerListModel::listOutdated);
        // A thousand customers added elsewhere (and already gone again: only the reload looks).
        std::vector<FeedEntry> entries;
        for (qint64 key = 100001; key <= 101000; ++key)
            entries.push_back({key, key, FeedKind::Added, {}, {}});
        list->applyChanges(entries);
        QCOMPARE(outdated.count(), 1);
        // Added, then deleted in the same batch: nothing comes, nothing to reload.
        for (qint64 key = 100001; key <= 101000; ++key)
            entries.push_back({key + 1000, key, FeedKind::Deleted, {}, {}});
        list->applyChanges(entries);
        QCOMPARE(outdated.count(), 1);
        QCOMPARE(list->rowCount(), 20001);
        // A thousand listed customers deleted elsewhere leave together through the reload too.
        entries.clear();
        const std::vector<qint64> first(list->keys().begin(), list->keys().begin() + 1000);
        const QString key = db::engineOf(connection.database()).rowKey(QStringLiteral("data"));
        db::runBound(connection, QStringLiteral("delete from data where %1 <= ?").arg(key), {first.back()});
        for (const qint64 gone : first)
            entries.push_back({gone, gone, FeedKind::Deleted, {}, {}});
        list->applyChanges(entries);
        QCOMPARE(outdated.count(), 2);
    }
};

QTEST_MAIN(TestListFollows)
#include "test_list_follows.moc"
