// Follow-ups of customers: written with the operator and the register's time, refused when stale,
// due at login until kept, and carried into and out of the recycle bin with their customer.
#include "customers/CustomerSearch.h"
#include "data/AttemptLog.h"
#include "data/ChangeLog.h"
#include "data/CustomerColumns.h"
#include "data/CustomerListModel.h"
#include "data/CustomerStore.h"
#include "data/Database.h"
#include "data/FollowUpDates.h"
#include "data/FollowUpStore.h"
#include "data/OperatorRights.h"
#include "data/OperatorStore.h"
#include "data/RegisterUpgrade.h"
#include "data/Statements.h"
#include "data/ServerRegister.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/ListRoles.h"
#include "db/ListRows.h"
#include "db/RegisterAddress.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "export/CsvFormat.h"
#include "export/XlsxFormat.h"
#include "followups/FollowUpExport.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QtTest>

using namespace lianbu;
using namespace lianbu::data;
using test::countOf;
using Outcome = FollowUpStore::Outcome;

namespace {

qint64 addCustomer(CustomerStore &store, const QString &shortName, const QString &mobile = {})
{
    return store.add({{QLatin1String(col::ShortName), shortName},
                      {QLatin1String(col::Name), QStringLiteral("张三")},
                      {QLatin1String(col::Mobile), mobile},
                      {QLatin1String(col::Phone), QStringLiteral("010-1234")}});
}

FollowUpFields note(const QString &content, const QDate &next = {})
{
    return {QStringLiteral("电话"), content, QStringLiteral("有意向"), next};
}

} // namespace

class TestFollowUps : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void followUpsAreKeptPerCustomerWithWhoAndWhen()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        const qint64 customer = addCustomer(*module.customerStore, QStringLiteral("华联"));
        const qint64 other = addCustomer(*module.customerStore, QStringLiteral("阿里"));
        OperatorStore operators(connection);
        operators.addOperator(QStringLiteral("业务员甲"));
        operators.setRights(QStringLiteral("业务员甲"), {Role::Clerk, 0, false});
        operators.addOperator(QStringLiteral("查询员乙"));
        operators.setRights(QStringLiteral("查询员乙"), {Role::Viewer, 0, false});

        QVERIFY_THROWS_EXCEPTION(
            Error, FollowUpStore(connection, QStringLiteral("查询员乙")).add(customer, note(QStringLiteral("看看"))));
        FollowUpStore store(connection, QStringLiteral("业务员甲"));
        const qint64 first = store.add(customer, note(QStringLiteral("第一次\n报价 O'Brien ' -- ;")));
        const qint64 second = store.add(customer, {QStringLiteral("  微信 "), QStringLiteral("第二次"), {}, {}});
        store.add(other, note(QStringLiteral("别的客户")));
        // No such customer (any more): nothing is written.
        QVERIFY_THROWS_EXCEPTION(Error, store.add(other + 100, note(QStringLiteral("无主"))));

        const std::vector<FollowUp> history = store.ofCustomer(customer);
        QCOMPARE(history.size(), size_t(2));
        QCOMPARE(history[0].id, second); // newest first
        QCOMPARE(history[1].id, first);
        QCOMPARE(history[1].fields.content, QStringLiteral("第一次\n报价 O'Brien ' -- ;"));
        QCOMPARE(history[0].fields.way, QStringLiteral("微信"));
        QVERIFY(!history[0].fields.nextDate.isValid());
        QCOMPARE(history[0].operatorName, QStringLiteral("业务员甲"));
        QVERIFY(qAbs(history[0].time.secsTo(QDateTime::currentDateTimeUtc())) < 120);
        QCOMPARE(countOf(connection, QStringLiteral("select count(*) from followups")), 3);

        // A text longer than its column is cut, never refused (the server enforces widths).
        const qint64 longOne = store.add(customer, note(QString(5000, QLatin1Char('x'))));
        QCOMPARE(store.read(longOne)->fields.content.size(), kFollowUpContentWidth);

        const std::vector<LogEntry> added = ChangeLog(connection).entries({{}, {}, {}, {}, LogKind::FollowUpAdded}, 10);
        QCOMPARE(added.size(), size_t(4));
        QCOMPARE(added.back().customerKey, customer);
        QCOMPARE(added.back().subject, QStringLiteral("华联"));
        QCOMPARE(added.back().operatorName, QStringLiteral("业务员甲"));

        // The ways: the first list, and only the super administrator extends it.
        QCOMPARE(store.ways(), defaultFollowUpWays());
        QVERIFY_THROWS_EXCEPTION(Error, store.addWay(QStringLiteral("展会")));
        FollowUpStore(connection, superAdministratorName()).addWay(QStringLiteral("展会"));
        FollowUpStore(connection, superAdministratorName()).addWay(QStringLiteral("展会"));
        QCOMPARE(store.ways(), defaultFollowUpWays() << QStringLiteral("展会"));

        // The reminder at login is switched off and on per operator.
        QVERIFY(store.remindsAtLogin(QStringLiteral("业务员甲")));
        store.setRemindsAtLogin(QStringLiteral("业务员甲"), false);
        store.setRemindsAtLogin(QStringLiteral("业务员甲"), false);
        QVERIFY(!store.remindsAtLogin(QStringLiteral("业务员甲")));
        QVERIFY(store.remindsAtLogin(QStringLiteral("查询员乙")));
        store.setRemindsAtLogin(QStringLiteral("业务员甲"), true);
        QVERIFY(store.remindsAtLogin(QStringLiteral("业务员甲")));
    }

    void staleChangesAreRefusedAndPromisesStayDueUntilKept()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        const QDate today = QDate::currentDate();
        const qint64 customer = addCustomer(*module.customerStore, QStringLiteral("华联"), QStringLiteral("139"));
        const qint64 other = addCustomer(*module.customerStore, QStringLiteral("阿里"));
        OperatorStore operators(connection);
        for (const QString &name : {QStringLiteral("甲"), QStringLiteral("乙")}) {
            operators.addOperator(name);
            operators.setRights(name, {Role::Administrator, unsigned(Right::Delete), false});
        }
        FollowUpStore mine(connection, QStringLiteral("甲"));
        FollowUpStore theirs(connection, QStringLiteral("乙"));
        const qint64 promise = mine.add(customer, note(QStringLiteral("寄样品"), today.addDays(-2)));
        mine.add(other, note(QStringLiteral("回电"), today));
        mine.add(other, note(QStringLiteral("下周再说"), today.addDays(7)));

        const std::vector<DueFollowUp> due = mine.due(today);
        QCOMPARE(due.size(), size_t(2));
        QCOMPARE(due[0].followUp.id, promise); // the oldest promise first
        QCOMPARE(due[0].customerName, QStringLiteral("华联"));
        QCOMPARE(due[0].phone, QStringLiteral("139"));
        QCOMPARE(due[1].phone, QStringLiteral("010-1234")); // no mobile: the phone
        QCOMPARE(mine.due(today.addDays(-3)).size(), size_t(0));

        // Another operator changes it first: my change and my delete are refused.
        const FollowUp asIRead = *mine.read(promise);
        QCOMPARE(theirs.modify(asIRead, note(QStringLiteral("寄样品和报价"), today.addDays(-2))), Outcome::Done);
        QCOMPARE(mine.modify(asIRead, note(QStringLiteral("我的修改"))), Outcome::Changed);
        QCOMPARE(mine.remove(asIRead), Outcome::Changed);
        QCOMPARE(mine.complete(asIRead, note(QStringLiteral("已寄"))), Outcome::Changed);
        QCOMPARE(mine.read(promise)->fields.content, QStringLiteral("寄样品和报价"));
        QCOMPARE(mine.ofCustomer(customer).size(), size_t(1)); // the refused 完成 added nothing

        // 改期 moves it out of today's list; 完成 keeps the promise and records the outcome.
        QCOMPARE(mine.reschedule(*mine.read(promise), today.addDays(1)), Outcome::Done);
        QCOMPARE(mine.due(today).size(), size_t(1));
        QCOMPARE(mine.due(today.addDays(1)).size(), size_t(2));
        qint64 outcome = 0;
        QCOMPARE(mine.complete(*mine.read(promise), note(QStringLiteral("已寄出")), &outcome), Outcome::Done);
        QVERIFY(mine.read(promise)->settled);
        QCOMPARE(mine.read(outcome)->customer, customer);
        QCOMPARE(mine.due(today.addDays(1)).size(), size_t(1));

        // Deleted by another operator: gone for everyone after.
        const FollowUp before = *mine.read(outcome);
        QCOMPARE(theirs.remove(before), Outcome::Done);
        QCOMPARE(mine.modify(before, note(QStringLiteral("晚了"))), Outcome::Gone);
        QVERIFY_THROWS_EXCEPTION(Error, FollowUpStore::throwRefused(Outcome::Gone));
        const std::vector<LogEntry> changed =
            ChangeLog(connection).entries({{}, {}, {}, {}, LogKind::FollowUpChanged}, 10);
        QCOMPARE(changed.size(), size_t(3)); // their change, 改期, 完成
        QCOMPARE(ChangeLog(connection).count({{}, {}, {}, {}, LogKind::FollowUpDeleted}), 1);
    }

    void deletedCustomersTakeTheirFollowUpsIntoAndOutOfTheBin()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &customers = *module.customerStore;
        const QDate today = QDate::currentDate();
        const qint64 kept = addCustomer(customers, QStringLiteral("留下"));
        const qint64 binned = addCustomer(customers, QStringLiteral("删除"));
        FollowUpStore store(connection);
        store.add(kept, note(QStringLiteral("a"), today));
        const qint64 hidden = store.add(binned, note(QStringLiteral("b"), today));
        store.add(binned, note(QStringLiteral("c")));
        QCOMPARE(followUpCount(connection, binned), 2);

        QCOMPARE(customers.remove(*customers.read(binned)), CustomerStore::Outcome::Done);
        QCOMPARE(store.ofCustomer(binned).size(), size_t(0));
        QCOMPARE(store.due(today).size(), size_t(1));
        QCOMPARE(store.inRange(0, {}, {}, 100).size(), size_t(1));
        QVERIFY(!store.read(hidden));
        QCOMPARE(countOf(connection, QStringLiteral("select count(*) from followups")), 3);

        QVERIFY(customers.restore(binned));
        QCOMPARE(store.ofCustomer(binned).size(), size_t(2));
        QCOMPARE(store.due(today).size(), size_t(2));

        QCOMPARE(customers.remove(*customers.read(binned)), CustomerStore::Outcome::Done);
        QVERIFY(customers.purge(binned));
        QCOMPARE(countOf(connection, QStringLiteral("select count(*) from followups")), 1);
        QCOMPARE(customers.remove(*customers.read(kept)), CustomerStore::Outcome::Done);
        QCOMPARE(customers.emptyBin(), 1);
        // Never an orphan: nothing is left of either customer.
        QCOMPARE(countOf(connection, QStringLiteral("select count(*) from followups")), 0);
    }

    void theListShowsAndSortsByTheLastFollowUpAndTheNextContact()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &customers = *module.customerStore;
        const QDate today = QDate::currentDate();
        const qint64 early = addCustomer(customers, QStringLiteral("早"));
        const qint64 none = addCustomer(customers, QStringLiteral("无"));
        const qint64 late = addCustomer(customers, QStringLiteral("晚"));
        const qint64 binned = addCustomer(customers, QStringLiteral("删"));
        FollowUpStore store(connection);
        // The earliest open promise is the next contact, even when it is overdue.
        const qint64 overdue = store.add(early, note(QStringLiteral("报价"), today.addDays(-1)));
        store.add(early, note(QStringLiteral("样品"), today.addDays(5)));
        const qint64 kept = store.add(late, note(QStringLiteral("回电"), today.addDays(2)));
        store.add(binned, note(QStringLiteral("删了"), today.addDays(-9)));
        // Times as if made on different days (the triggers follow a changed time too).
        auto setTime = [&](qint64 customer, const QDateTime &time) {
            db::runBound(connection, QStringLiteral("update followups set contact_time=? where customer=?"),
                         {attemptTimeText(time), customer});
        };
        const QDateTime noon(today, QTime(12, 0));
        setTime(early, noon.addDays(-10));
        setTime(late, noon.addDays(-3));
        QCOMPARE(customers.remove(*customers.read(binned)), CustomerStore::Outcome::Done);

        CustomerListModel &list = *module.customerList;
        list.showStatement(sql::allRecords());
        const int fields = list.dataSet()->fieldCount();
        QCOMPARE(list.columnCount(), fields + 2);
        QCOMPARE(list.headerData(fields, Qt::Horizontal, db::ListRole::FieldName).toString(),
                 QLatin1String(kLastFollowUpField));
        QCOMPARE(list.headerData(fields + 1, Qt::Horizontal).toString(), QStringLiteral("下次联系"));
        auto shown = [&](int column) {
            QStringList cells;
            for (int row = 0; row < list.rowCount(); ++row)
                cells << list.index(row, column).data().toString();
            return cells;
        };
        auto names = [&] {
            QStringList cells;
            for (int row = 0; row < list.rowCount(); ++row)
                cells << list.index(row, list.columnOfField(QStringLiteral("b"))).data().toString();
            return cells;
        };
        QCOMPARE(names(), (QStringList{QStringLiteral("早"), QStringLiteral("无"), QStringLiteral("晚")}));
        QCOMPARE(shown(fields),
                 (QStringList{dateText(noon.addDays(-10).date()), QString(), dateText(noon.addDays(-3).date())}));
        QCOMPARE(shown(fields + 1), (QStringList{dateText(today.addDays(-1)), QString(), dateText(today.addDays(2))}));

        // Sorted like the other columns: no date first ascending, last descending.
        list.setSortText(QStringLiteral("last_followup DESC"));
        QCOMPARE(names(), (QStringList{QStringLiteral("晚"), QStringLiteral("早"), QStringLiteral("无")}));
        list.setSortText(QStringLiteral("last_followup"));
        QCOMPARE(names(), (QStringList{QStringLiteral("无"), QStringLiteral("早"), QStringLiteral("晚")}));
        list.setSortText(QStringLiteral("next_contact DESC"));
        QCOMPARE(names(), (QStringList{QStringLiteral("晚"), QStringLiteral("早"), QStringLiteral("无")}));

        // 完成 of the overdue promise: the later one is next; keeping the last promise leaves none.
        QCOMPARE(store.complete(*store.read(overdue), note(QStringLiteral("已报价"))), Outcome::Done);
        QCOMPARE(store.complete(*store.read(kept), note(QStringLiteral("已回电"))), Outcome::Done);
        list.followUpsChanged(0);
        list.setSortText(QStringLiteral("next_contact"));
        // (equal dates keep the order they had)
        QCOMPARE(names(), (QStringList{QStringLiteral("晚"), QStringLiteral("无"), QStringLiteral("早")}));
        QCOMPARE(shown(fields + 1), (QStringList{QString(), QString(), dateText(today.addDays(5))}));
        // Keys far apart (a customer long gone among them) are matched another way: the same order.
        QCOMPARE(orderByFollowUpDate(connection, FollowUpDate::Next, false, {late, 1000000000, early, none}),
                 (std::vector<int>{0, 1, 3, 2}));
        QCOMPARE(orderByFollowUpDate(connection, FollowUpDate::Next, true, {late, early, none}),
                 (std::vector<int>{1, 0, 2}));
        // The outcomes were just recorded: today is the last follow-up of both who have one.
        const QString todayText = dateText(lianbu::now().toLocalTime().date());
        QCOMPARE(shown(fields), (QStringList{todayText, QString(), todayText}));

        // Export and printing read the same texts as the grid shows.
        const std::unique_ptr<db::RowReader> rows = list.rowReader(-1);
        QStringList read;
        rows->readRows(0, rows->rowCount(), [&](int, const db::RowCells &cells) {
            read << cells.text(fields + 1).toString();
            QCOMPARE(cells.isNull(fields + 1), cells.text(fields + 1).isEmpty());
        });
        QCOMPARE(read, shown(fields + 1));

        // Deleting a follow-up, the customer back from the bin: the dates follow every write.
        const FollowUp newest = store.ofCustomer(early).front();
        QCOMPARE(store.remove(newest), Outcome::Done);
        QVERIFY(customers.restore(binned));
        const auto dates = readFollowUpDates(connection, {early, none, binned});
        QVERIFY(!dates.contains(none));
        QCOMPARE(dates.at(early).last.toLocalTime().date(), noon.addDays(-10).date());
        QCOMPARE(dates.at(binned).next, today.addDays(-9));
    }

    void theQuickSearchFindsCustomersByAWordOfTheirFollowUps()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &customers = *module.customerStore;
        const qint64 quoted = addCustomer(customers, QStringLiteral("华联"));
        const qint64 tooDear = addCustomer(customers, QStringLiteral("阿里"), QStringLiteral("13900001111"));
        const qint64 other = addCustomer(customers, QStringLiteral("腾讯"));
        const qint64 binned = addCustomer(customers, QStringLiteral("删了"));
        FollowUpStore store(connection);
        store.add(quoted, note(QStringLiteral("报价单已发")));
        store.add(tooDear, {QStringLiteral("电话"), QStringLiteral("谈了"), QStringLiteral("嫌报价太高"), {}});
        store.add(other, note(QStringLiteral("别的事")));
        store.add(binned, note(QStringLiteral("报价")));
        QCOMPARE(customers.remove(*customers.read(binned)), CustomerStore::Outcome::Done);

        CustomerListModel &list = *module.customerList;
        list.showStatement(sql::allRecords());
        customers::CustomerSearch search(&list, connection);
        auto found = [&](const customers::SearchFields &fields) {
            search.search(fields);
            QTest::qWaitFor([&] { return !search.busy(); }); // a late result fails the comparison
            return list.keys();
        };
        customers::SearchFields fields;
        fields.shortName = QStringLiteral("跟进:报价");
        QCOMPARE(found(fields), (std::vector<qint64>{quoted, tooDear}));
        // The other fields still narrow it (the telephone field also reads mobile numbers).
        fields.shortName = QStringLiteral("跟进：报价");
        fields.phone = QStringLiteral("1390000");
        QCOMPARE(found(fields), (std::vector<qint64>{tooDear}));
        fields.phone.clear();
        // Without the prefix it is the ordinary search of 客户简称.
        fields.shortName = QStringLiteral("报价");
        QCOMPARE(found(fields), std::vector<qint64>{});
        // Nothing after the prefix: every customer, as with the field empty.
        fields.shortName = QStringLiteral("跟进:");
        QCOMPARE(found(fields).size(), size_t(3));

        // What another instance writes is found at the next search.
        db::Connection second;
        second.setAddress(connection.address());
        second.open();
        FollowUpStore(second).add(other, note(QStringLiteral("也要报价")));
        fields.shortName = QStringLiteral("跟进:报价");
        QCOMPARE(found(fields), (std::vector<qint64>{quoted, tooDear, other}));
        // A pasted page of text is cut, not sent whole: it finds nothing and breaks nothing.
        fields.shortName = QStringLiteral("跟进:报价") + QString(100000, QLatin1Char('x'));
        QCOMPARE(found(fields), std::vector<qint64>{});
    }

    void exportsWriteTheSelectionAndReadBack()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        const qint64 first = addCustomer(*module.customerStore, QStringLiteral("华联"));
        const qint64 second = addCustomer(*module.customerStore, QStringLiteral("阿里"));
        FollowUpStore store(connection);
        store.add(first, note(QStringLiteral("第一行\n第二行, \"引号\""), QDate(2026, 12, 1)));
        store.add(second, note(QStringLiteral("=1+1")));
        const qint64 binned = addCustomer(*module.customerStore, QStringLiteral("已删"));
        store.add(binned, note(QStringLiteral("回收站里的")));
        module.customerStore->remove(*module.customerStore->read(binned));
        // Many more than one page of the reader, oldest (lowest id) first.
        QVERIFY(
            db::runBound(
                connection,
                QStringLiteral(
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4500) "
                    "INSERT INTO followups (customer, contact_time, username, way, content, "
                    "result, settled, binned) SELECT CAST(? AS BIGINT), ?, '乙', '电话', 'n' || i, '', 0, 0 FROM n"),
                {second, data::attemptTimeText(QDateTime::currentDateTimeUtc())})
                .isActive());

        QTemporaryDir folder;
        const QString csv = folder.filePath(QStringLiteral("one.csv"));
        QCOMPARE(followups::writeFollowUps(connection, {first, {}, {}}, QStringLiteral("业务员乙"),
                                           exchange::ExportFormat::CsvUtf8, csv)
                     .records,
                 1);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const exchange::SheetData one = exchange::parseCsv(file.readAll(), exchange::TextEncoding::Utf8);
        QCOMPARE(one.rows.size(), size_t(2)); // titles and the one follow-up
        QCOMPARE(one.rows[0].cells.at(3), QStringLiteral("内容"));
        QCOMPARE(one.rows[1].cells.at(1), QStringLiteral("华联"));
        QCOMPARE(one.rows[1].cells.at(3), QStringLiteral("第一行\n第二行, \"引号\""));
        QCOMPARE(one.rows[1].cells.at(5), QStringLiteral("2026-12-01"));
        QCOMPARE(one.rows[1].cells.at(6), QStringLiteral("否"));

        const QString xlsx = folder.filePath(QStringLiteral("all.xlsx"));
        const QDate today = QDate::currentDate();
        QCOMPARE(followups::writeFollowUps(connection, {0, today, today}, QStringLiteral("业务员乙"),
                                           exchange::ExportFormat::Xlsx, xlsx)
                     .records,
                 4502);
        QFile sheetFile(xlsx);
        QVERIFY(sheetFile.open(QIODevice::ReadOnly));
        const exchange::SheetData all = exchange::readXlsx(sheetFile.readAll());
        QStringList contents;
        QStringList firstCells;
        for (const exchange::SheetRow &row : all.rows) {
            if (row.cells.size() > 3)
                contents << row.cells.at(3);
            if (!row.cells.isEmpty())
                firstCells << row.cells.at(0);
        }
        // The sheet names the operator who made it, not the program.
        QVERIFY2(firstCells.contains(QStringLiteral("制表人：业务员乙")), qPrintable(firstCells.mid(0, 4).join(u'|')));
        QVERIFY(!firstCells.filter(QStringLiteral("联簿宝")).size());
        QVERIFY(contents.contains(QStringLiteral("=1+1")));
        QVERIFY(!contents.contains(QStringLiteral("回收站里的")));
        QCOMPARE(contents.filter(QRegularExpression(QStringLiteral("^n\\d+$"))).size(), 4500);
        QCOMPARE(contents.back(), QStringLiteral("n4500"));
        // A period before any follow-up: nothing.
        const QString none = folder.filePath(QStringLiteral("none.csv"));
        QCOMPARE(followups::writeFollowUps(connection, {0, QDate(2000, 1, 1), QDate(2000, 12, 31)},
                                           QStringLiteral("业务员乙"), exchange::ExportFormat::CsvGbk, none)
                     .records,
                 0);
    }

    void olderRegistersGetTheTablesAndTheServerCopyKeepsThem()
    {
        if (test::testsUseServer())
            QSKIP("the file's upgrade and its copy are tried in the file run");
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("data.db"));
        createDeliveredDatabase(file);
        // What the previous version left: no follow-up tables, version 3.
        QVERIFY(test::execOnFile(
            file, {QStringLiteral("DROP TABLE followups"), QStringLiteral("DROP TABLE followup_dates"),
                   QStringLiteral("DROP TABLE followup_ways"), QStringLiteral("DROP TABLE followup_reminders_off"),
                   QStringLiteral("UPDATE register_version SET version=3"),
                   QStringLiteral("INSERT INTO data (b) VALUES ('华联')")}));
        {
            db::Connection connection(file);
            connection.open();
            QVERIFY(!registerIsCurrent(connection));
            upgradeRegister(connection);
            QVERIFY(registerIsCurrent(connection));
            FollowUpStore store(connection);
            QCOMPARE(store.ways(), defaultFollowUpWays());
            store.add(1, note(QStringLiteral("升级后"), QDate(2026, 12, 1)));
            store.setRemindsAtLogin(QStringLiteral("甲"), false);
        }
        // A register of the last version gets the list's follow-up dates from its history.
        QVERIFY(test::execOnFile(file, {QStringLiteral("DROP TRIGGER followup_dates_insert"),
                                        QStringLiteral("DROP TRIGGER followup_dates_update"),
                                        QStringLiteral("DROP TRIGGER followup_dates_delete"),
                                        QStringLiteral("DROP TABLE followup_dates")}));
        {
            db::Connection connection(file);
            connection.open();
            QVERIFY(!registerIsCurrent(connection));
            upgradeRegister(connection);
            QCOMPARE(readFollowUpDates(connection, {1}).at(1).next, QDate(2026, 12, 1));
            FollowUpStore(connection).add(1, note(QStringLiteral("再来"), QDate(2026, 11, 1)));
            QCOMPARE(readFollowUpDates(connection, {1}).at(1).next, QDate(2026, 11, 1));
        }
        if (test::testServerAddress().isEmpty())
            return;
        const db::RegisterAddress address = test::createTestServerDatabase();
        copyRegisterToServer(file, address);
        db::Connection server;
        server.setAddress(address);
        server.open();
        FollowUpStore copied(server);
        QCOMPARE(copied.ofCustomer(1).size(), size_t(2));
        QCOMPARE(copied.due(QDate(2026, 12, 1)).size(), size_t(2));
        QVERIFY(!copied.remindsAtLogin(QStringLiteral("甲")));
        QCOMPARE(readFollowUpDates(server, {1}).at(1).next, QDate(2026, 11, 1));
        // New follow-ups continue after the copied ids.
        QVERIFY(copied.add(1, note(QStringLiteral("服务器上"))) > copied.ofCustomer(1).back().id);
    }
};

QTEST_GUILESS_MAIN(TestFollowUps)
#include "test_followups.moc"
