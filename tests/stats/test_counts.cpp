// The counts of the statistics window on a register (SQLite here, the test server in the
// "_postgresql" run): each view's numbers, and each row's customers being exactly the ones counted.
#include "data/Database.h"
#include "data/FollowUpStore.h"
#include "data/RegisterUpgrade.h"
#include "data/Schema.h"
#include "db/BackgroundWork.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "stats/AddressReader.h"
#include "stats/Counts.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <algorithm>
#include <any>

using namespace lianbu;
using namespace lianbu::stats;

namespace {

void insertCustomers(db::Connection &connection, const std::vector<std::pair<QVariant, QVariant>> &rows,
                     const QString &column)
{
    QSqlDatabase database = connection.database();
    QVERIFY(database.transaction());
    QSqlQuery query(database);
    QVERIFY(query.prepare(QStringLiteral("insert into data (b,%1) values (?,?)").arg(column)));
    for (const auto &[shortName, value] : rows) {
        query.addBindValue(shortName);
        query.addBindValue(value);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
    }
    QVERIFY(database.commit());
}

std::vector<qint64> keysOf(db::Connection &connection, const Selection &selection)
{
    const auto statement = customerKeysStatement(connection.database(), selection);
    return db::readKeys(db::engineOf(connection.database()), connection.database(), statement.text, statement.values);
}

// Every row's customers are as many as it counts, no customer is in two rows, and together the
// rows hold `total` customers.
void checkSelections(db::Connection &connection, const std::vector<CountRow> &rows, qint64 total)
{
    QSet<qint64> seen;
    qint64 counted = 0;
    for (const CountRow &row : rows) {
        if (row.count == 0) {
            QVERIFY(row.selection.isEmpty());
            continue;
        }
        const auto keys = keysOf(connection, row.selection);
        QVERIFY2(qint64(keys.size()) == row.count,
                 qPrintable(row.group + u'/' + row.label
                            + QStringLiteral(": %1 customers for %2 counted").arg(keys.size()).arg(row.count)));
        for (const qint64 key : keys)
            QVERIFY2(!seen.contains(key), qPrintable(row.label));
        seen.unite(QSet<qint64>(keys.begin(), keys.end()));
        counted += row.count;
    }
    QCOMPARE(counted, total);
}

qint64 countOf(const std::vector<CountRow> &rows, const QString &label, const QString &group = {})
{
    for (const CountRow &row : rows)
        if (row.label == label && row.group == group)
            return row.count;
    return -1;
}

} // namespace

class TestCounts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void addressesAreCountedByTheirBeginningsAsTheWholeAddressReads()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        QFile file(QStringLiteral(LIANBU_ADDRESS_SAMPLES));
        QVERIFY(file.open(QIODevice::ReadOnly));
        std::vector<std::pair<QVariant, QVariant>> rows;
        QMap<std::pair<QString, QString>, qint64> expected;
        auto expect = [&expected](const QString &address) {
            const Place place = readAddress(address).place;
            expected[{place.province.isEmpty() ? unrecognisedLabel() : place.province,
                      place.city.isEmpty() ? unrecognisedLabel() : place.city}] += 1;
        };
        for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n')) {
            if (line.isEmpty() || line.startsWith(u'#'))
                continue;
            const QString address = line.section(u'\t', 0, 0);
            // Long tails and blanks in front, so that beginnings of every length are needed.
            for (const QString &variant : {address, address + QStringLiteral("某某大厦二十八层二八零一室"),
                                           QStringLiteral("      ") + address}) {
                rows.push_back({QStringLiteral("客户"), variant});
                expect(variant);
            }
        }
        rows.push_back({QStringLiteral("无地址"), QVariant(QMetaType(QMetaType::QString))});
        rows.push_back({QStringLiteral("空地址"), QString(QLatin1String(""))});
        expected[{unrecognisedLabel(), unrecognisedLabel()}] += 2;
        insertCustomers(connection, rows, QStringLiteral("i"));

        const auto cities = countCustomers(connection.database(), {View::City, 12, 30, {}});
        QMap<std::pair<QString, QString>, qint64> got;
        for (const CountRow &row : cities)
            got[{row.group, row.label}] = row.count;
        for (auto it = got.cbegin(); it != got.cend(); ++it)
            QVERIFY2(expected.value(it.key()) == *it,
                     qPrintable(it.key().first + u'/' + it.key().second
                                + QStringLiteral(": %1 counted, %2 read").arg(*it).arg(expected.value(it.key()))));
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QVERIFY2(got.value(it.key()) == *it,
                     qPrintable(it.key().first + u'/' + it.key().second
                                + QStringLiteral(": %1 counted, %2 read").arg(got.value(it.key())).arg(*it)));
        QCOMPARE(got.size(), expected.size());
        checkSelections(connection, cities, qint64(rows.size()));

        const auto provinces = countCustomers(connection.database(), {View::Province, 12, 30, {}});
        QCOMPARE(countOf(provinces, QStringLiteral("北京市")),
                 countOf(cities, QStringLiteral("北京市"), QStringLiteral("北京市")));
        qint64 guangdong = 0;
        for (const CountRow &row : cities)
            if (row.group == QStringLiteral("广东省"))
                guangdong += row.count;
        QCOMPARE(countOf(provinces, QStringLiteral("广东省")), guangdong);
        QVERIFY(countOf(provinces, unrecognisedLabel()) > 0);
        checkSelections(connection, provinces, qint64(rows.size()));
    }

    void categoriesAndRegistrationMonthsAreCounted()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        const QVariant null(QMetaType(QMetaType::QString));
        insertCustomers(connection,
                        {{QStringLiteral("甲"), QStringLiteral("VIP客户")},
                         {QStringLiteral("乙"), QStringLiteral("VIP客户")},
                         {QStringLiteral("丙"), QStringLiteral("普通客户")},
                         {QStringLiteral("丁"), QStringLiteral("O'Brien; drop table data")},
                         {QStringLiteral("戊"), null},
                         {QStringLiteral("己"), QStringLiteral("  ")}},
                        QStringLiteral("a"));
        auto categories = countCustomers(connection.database(), {View::Category, 12, 30, {}});
        QCOMPARE(categories.front().label, QStringLiteral("VIP客户")); // most first
        QCOMPARE(categories.front().count, 2);
        QCOMPARE(countOf(categories, emptyValueLabel()), 2); // null and blanks together
        QCOMPARE(countOf(categories, QStringLiteral("O'Brien; drop table data")), 1);
        checkSelections(connection, categories, 6);

        QSqlQuery(connection.database()).exec(QStringLiteral("delete from data"));
        insertCustomers(connection,
                        {{QStringLiteral("a"), QStringLiteral("2026-12-01")},
                         {QStringLiteral("b"), QStringLiteral("2026-12-9 10:00")},
                         {QStringLiteral("c"), QStringLiteral("2026-1-5")},
                         {QStringLiteral("d"), QStringLiteral("2025/12/31")},
                         {QStringLiteral("e"), QStringLiteral("2019-11-11")},
                         {QStringLiteral("f"), null},
                         {QStringLiteral("g"), QStringLiteral("不知道")},
                         {QStringLiteral("h"), QStringLiteral("2026-13-01")}},
                        QStringLiteral("day1"));
        const QDate today(2026, 12, 10);
        const auto year = countCustomers(connection.database(), {View::AddedPerMonth, 12, 0, today});
        QCOMPARE(int(year.size()), 12);
        QCOMPARE(year.front().label, monthLabel(2026, 1));
        QCOMPARE(year.front().count, 1);
        QCOMPARE(year.back().label, monthLabel(2026, 12));
        QCOMPARE(year.back().count, 2);
        QCOMPARE(countOf(year, monthLabel(2026, 6)), 0); // months without customers are there too
        checkSelections(connection, year, 3);

        const auto twoYears = countCustomers(connection.database(), {View::AddedPerMonth, 24, 0, today});
        QCOMPARE(int(twoYears.size()), 24);
        QCOMPARE(countOf(twoYears, monthLabel(2025, 12)), 1);

        const auto all = countCustomers(connection.database(), {View::AddedPerMonth, 0, 0, today});
        QCOMPARE(all.front().label, monthLabel(2019, 11));
        QCOMPARE(int(all.size()), 2 + 7 * 12 + 1); // 2019-11 .. 2026-12 and the unreadable dates
        QCOMPARE(all.back().label, unknownDateLabel());
        QCOMPARE(all.back().count, 3);
        checkSelections(connection, all, 8);
    }

    void followUpsAreCountedPerOperatorMonthAndAbsence()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        insertCustomers(connection,
                        {{QStringLiteral("甲"), QStringLiteral("x")},
                         {QStringLiteral("乙"), QStringLiteral("x")},
                         {QStringLiteral("丙"), QStringLiteral("x")},
                         {QStringLiteral("丁"), QStringLiteral("x")}},
                        QStringLiteral("a"));
        std::vector<qint64> keys;
        for (const QString &name :
             {QStringLiteral("丁"), QStringLiteral("丙"), QStringLiteral("乙"), QStringLiteral("甲")})
            keys.push_back(keysOf(connection, {QStringLiteral("b = ?"), {name}}).at(0));
        const QString admin = superAdministratorName();
        data::FollowUpStore store(connection, admin);
        const data::FollowUpFields call{QStringLiteral("电话"), QStringLiteral("问候"), {}, {}};
        store.add(keys[0], call);
        store.add(keys[0], call);
        const qint64 old = store.add(keys[1], call);
        // One follow-up of long ago; the others are of today.
        QSqlQuery query(connection.database());
        QVERIFY(query.prepare(QStringLiteral("update followups set contact_time=?, username=? where id=?")));
        query.addBindValue(QStringLiteral("2020-03-04 05:06:07.000"));
        query.addBindValue(QStringLiteral("业务员甲"));
        query.addBindValue(old);
        QVERIFY(query.exec());
        // 乙's only follow-up lies hidden in the bin: 乙 still counts as never followed up.
        store.add(keys[2], call);
        data::hideFollowUpsOf(connection, keys[2]);
        // A customer deleted by another program, which left his follow-ups (and their dates)
        // behind: he is no one's customer any more, in no row.
        insertCustomers(connection, {{QStringLiteral("戊"), QStringLiteral("x")}}, QStringLiteral("a"));
        const qint64 gone = keysOf(connection, {QStringLiteral("b = ?"), {QStringLiteral("戊")}}).at(0);
        QVERIFY(query.exec(
            QStringLiteral("update followups set username='业务员乙' where id=%1").arg(store.add(gone, call))));
        QVERIFY(query.exec(QStringLiteral("delete from data where b = '戊'")));

        const QDate today = QDate::currentDate();
        const auto operators = countCustomers(connection.database(), {View::FollowUpOperator, 12, 30, today});
        QCOMPARE(countOf(operators, admin), 2);
        QCOMPARE(countOf(operators, QStringLiteral("业务员甲")), 1);
        QCOMPARE(keysOf(connection, operators.front().selection), std::vector<qint64>{keys[0]});
        for (const CountRow &row : operators)
            if (row.label == QStringLiteral("业务员乙")) {
                QCOMPARE(row.count, 1);
                QVERIFY(keysOf(connection, row.selection).empty()); // his customer is gone
            }

        const auto months = countCustomers(connection.database(), {View::FollowUpMonth, 0, 30, today});
        QCOMPARE(countOf(months, monthLabel(2020, 3)), 1);
        QVERIFY(countOf(months, monthLabel(today.year(), today.month())) >= 1);

        const auto absence = countCustomers(connection.database(), {View::FollowUpAbsence, 12, 30, today});
        QCOMPARE(absence.size(), size_t(3));
        QCOMPARE(absence[0].count, 1); // 丁
        QCOMPARE(absence[1].count, 1); // 丙, last seen in 2020
        QCOMPARE(absence[2].count, 2); // 乙 and 甲, never
        QCOMPARE(keysOf(connection, absence[1].selection), std::vector<qint64>{keys[1]});
        checkSelections(connection, absence, 4);
    }

    // 未跟进客户 counts from the kept dates alone, so they must hold exactly the customers of data
    // with a visible follow-up: whoever deletes a customer (into the bin, or another program
    // straight from data), a follow-up written for a customer already gone, a customer put back
    // from the bin. A register of the previous version loses the rows it kept of deleted customers
    // when it is upgraded, and its operator index then serves a click on a bar alone.
    void theKeptDatesHoldOnlyCustomersOfTheListAlsoAfterAnUpgrade()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        const QStringList names{QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙"), QStringLiteral("丁"),
                                QStringLiteral("戊")};
        std::vector<std::pair<QVariant, QVariant>> rows;
        for (const QString &name : names)
            rows.push_back({name, QStringLiteral("x")});
        insertCustomers(connection, rows, QStringLiteral("a"));
        QHash<QString, qint64> key;
        for (const QString &name : names)
            key[name] = keysOf(connection, {QStringLiteral("b = ?"), {name}}).at(0);
        data::FollowUpStore store(connection, superAdministratorName());
        const data::FollowUpFields call{QStringLiteral("电话"), QStringLiteral("问候"), {}, {}};
        for (const QString &name : names)
            store.add(key[name], call);
        const auto kept = [&](const QString &name) {
            return test::countOf(
                connection, QStringLiteral("select count(*) from followup_dates where customer = %1").arg(key[name]));
        };
        // Each row lists as many customers as it counts, and together they are all of data.
        const auto checkAbsence = [&] {
            const qint64 customers = test::countOf(connection, QStringLiteral("select count(*) from data"));
            const auto absence =
                countCustomers(connection.database(), {View::FollowUpAbsence, 12, 30, QDate::currentDate()});
            qint64 listed = 0;
            for (const CountRow &row : absence) {
                const qint64 found = qint64(keysOf(connection, row.selection).size());
                QVERIFY2(found == row.count,
                         qPrintable(row.label + QStringLiteral(": %1 of %2").arg(found).arg(row.count)));
                listed += found;
            }
            QCOMPARE(listed, customers);
        };
        QSqlQuery query(connection.database());

        // Straight out of data: his dates go with him.
        QVERIFY(query.exec(QStringLiteral("delete from data where b = '甲'")));
        QCOMPARE(kept(QStringLiteral("甲")), 0);
        // A follow-up written for him afterwards makes no dates either.
        QVERIFY2(query.exec(QStringLiteral("insert into followups (customer, contact_time, username, binned) "
                                           "values (%1, '2026-01-02 03:04:05.000', '业务员甲', 0)")
                                .arg(key[QStringLiteral("甲")])),
                 qPrintable(query.lastError().text()));
        QCOMPARE(kept(QStringLiteral("甲")), 0);
        // Into the bin and back.
        QCOMPARE(module.customerStore->remove(*module.customerStore->read(key[QStringLiteral("乙")])),
                 data::CustomerStore::Outcome::Done);
        QCOMPARE(kept(QStringLiteral("乙")), 0);
        checkAbsence();
        QVERIFY(module.customerStore->restore(key[QStringLiteral("乙")]));
        QCOMPARE(kept(QStringLiteral("乙")), 1);
        const auto absence =
            countCustomers(connection.database(), {View::FollowUpAbsence, 12, 30, QDate::currentDate()});
        QCOMPARE(absence[0].count, 4);
        QCOMPARE(absence[2].count, 0);
        checkAbsence();

        // The previous version: no trigger on data, and a customer deleted meanwhile left his
        // dates behind; its operator index without the customer.
        QVERIFY(query.exec(db.isServer() ? QStringLiteral("drop trigger followup_dates_customer_gone on data")
                                         : QStringLiteral("drop trigger followup_dates_customer_gone")));
        QVERIFY(query.exec(QStringLiteral("delete from data where b = '丙'")));
        QCOMPARE(kept(QStringLiteral("丙")), 1);
        QVERIFY(query.exec(QStringLiteral("drop index followups_operator")));
        QVERIFY(query.exec(
            QStringLiteral("create index followups_operator on followups (username, binned) where binned=0")));
        QVERIFY(query.exec(QStringLiteral("update register_version set version = 10")));
        QVERIFY(!data::registerIsCurrent(connection));
        data::upgradeRegister(connection);
        QVERIFY(data::registerIsCurrent(connection));
        QCOMPARE(kept(QStringLiteral("丙")), 0);
        QCOMPARE(kept(QStringLiteral("丁")), 1);
        checkAbsence();
        // The trigger is back: the next one deleted behind the program's back leaves too.
        QVERIFY(query.exec(QStringLiteral("delete from data where b = '丁'")));
        QCOMPARE(kept(QStringLiteral("丁")), 0);
        checkAbsence();
        // Upgraded once: a second start changes nothing.
        data::upgradeRegister(connection);
        QCOMPARE(test::countOf(connection, QStringLiteral("select count(*) from followup_dates")), 2); // 乙, 戊

        // A click on an operator's bar lists his customers from the index alone.
        const auto operators =
            countCustomers(connection.database(), {View::FollowUpOperator, 12, 30, QDate::currentDate()});
        QCOMPARE(countOf(operators, superAdministratorName()), 5); // 丙's and 丁's follow-ups stay
        for (const CountRow &row : operators)
            if (row.label == superAdministratorName()) {
                auto found = keysOf(connection, row.selection);
                std::sort(found.begin(), found.end());
                QCOMPARE(found, (std::vector<qint64>{key[QStringLiteral("乙")], key[QStringLiteral("戊")]}));
                if (!db.isServer()) {
                    const auto statement = customerKeysStatement(connection.database(), row.selection);
                    QSqlQuery plan(connection.database());
                    QVERIFY(plan.prepare(QStringLiteral("explain query plan ") + statement.text));
                    for (const QVariant &value : statement.values)
                        plan.addBindValue(value);
                    QVERIFY(plan.exec());
                    QString steps;
                    while (plan.next())
                        steps += plan.value(3).toString() + u'\n';
                    QVERIFY2(steps.contains(QStringLiteral("COVERING INDEX followups_operator")), qPrintable(steps));
                }
            }
    }

    // The last 12 or 24 months of follow-ups end exactly at their first and last month: the
    // counts read only that part of the months' index, and "all" still reads every month.
    void followUpMonthsOfARecentPeriodEndAtItsBounds()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        insertCustomers(connection, {{QStringLiteral("甲"), QStringLiteral("x")}}, QStringLiteral("a"));
        const qint64 key = keysOf(connection, {QStringLiteral("b = ?"), {QStringLiteral("甲")}}).at(0);
        data::FollowUpStore store(connection, superAdministratorName());
        const data::FollowUpFields call{QStringLiteral("电话"), QStringLiteral("问候"), {}, {}};
        const QDate today(2026, 3, 15);
        // The first and the last instant of the 12 months, and the instants just outside them.
        const QStringList times{
            QStringLiteral("2025-04-01 00:00:00.000"), QStringLiteral("2026-03-31 23:59:59.999"),
            QStringLiteral("2025-03-31 23:59:59.999"), QStringLiteral("2026-04-01 00:00:00.000"),
            QStringLiteral("2024-04-01 00:00:00.000"), // the first of 24 months
        };
        QSqlQuery query(connection.database());
        QVERIFY(query.prepare(QStringLiteral("update followups set contact_time=? where id=?")));
        for (const QString &time : times) {
            query.addBindValue(time);
            query.addBindValue(store.add(key, call));
            QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        }
        const auto year = countCustomers(connection.database(), {View::FollowUpMonth, 12, 30, today});
        QCOMPARE(int(year.size()), 12);
        QCOMPARE(year.front().label, monthLabel(2025, 4));
        QCOMPARE(year.front().count, 1);
        QCOMPARE(year.back().label, monthLabel(2026, 3));
        QCOMPARE(year.back().count, 1);
        qint64 inYear = 0;
        for (const CountRow &row : year)
            inYear += row.count;
        QCOMPARE(inYear, 2);
        QCOMPARE(keysOf(connection, year.front().selection), std::vector<qint64>{key});

        const auto twoYears = countCustomers(connection.database(), {View::FollowUpMonth, 24, 30, today});
        QCOMPARE(int(twoYears.size()), 24);
        QCOMPARE(countOf(twoYears, monthLabel(2024, 4)), 1);
        QCOMPARE(countOf(twoYears, monthLabel(2025, 3)), 1);

        const auto all = countCustomers(connection.database(), {View::FollowUpMonth, 0, 30, today});
        qint64 everything = 0;
        for (const CountRow &row : all)
            everything += row.count;
        QCOMPARE(everything, qint64(times.size()));
        QCOMPARE(all.back().label, monthLabel(2026, 4)); // a month after today's is shown too
    }

    // A register of the previous version gets the indexes the counts read when it is upgraded (also
    // one where an earlier count had made them), a new one comes with them, and the counts read
    // them with the same numbers.
    void anOlderRegisterGetsTheCountIndexesOnUpgrade()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        const QString names =
            QStringLiteral("('data_address_start','data_day1_month','followups_operator','followups_month')");
        const QString indexes =
            db.isServer()
                ? QStringLiteral("select count(*) from pg_indexes where indexname in %1").arg(names)
                : QStringLiteral("select count(*) from sqlite_master where type='index' and name in %1").arg(names);
        QCOMPARE(test::countOf(connection, indexes), 4);
        std::vector<std::pair<QVariant, QVariant>> rows;
        for (int n = 0; n < 300; ++n)
            rows.push_back({QStringLiteral("广州市天河区体育西路%1号").arg(n),
                            QStringLiteral("202%1-%2-01").arg(n % 4).arg(n % 12 + 1)});
        QSqlDatabase database = connection.database();
        QVERIFY(database.transaction());
        QSqlQuery insert(database);
        QVERIFY(insert.prepare(QStringLiteral("insert into data (i,day1) values (?,?)")));
        for (const auto &[address, day] : rows) {
            insert.addBindValue(address);
            insert.addBindValue(day);
            QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
        }
        QVERIFY(database.commit());
        const auto citiesBefore = countCustomers(database, {View::City, 12, 30, {}});
        const auto monthsBefore = countCustomers(database, {View::AddedPerMonth, 0, 30, {}});

        for (const bool keptFromEarlierCount : {false, true}) {
            QSqlQuery query(database);
            if (!keptFromEarlierCount) {
                for (const char *index :
                     {"data_address_start", "data_day1_month", "followups_operator", "followups_month"})
                    QVERIFY(query.exec(QStringLiteral("drop index %1").arg(QLatin1String(index))));
                QCOMPARE(test::countOf(connection, indexes), 0);
            }
            QVERIFY(query.exec(QStringLiteral("update register_version set version = 7")));
            QVERIFY(!data::registerIsCurrent(connection));
            data::upgradeRegister(connection);
            QVERIFY(data::registerIsCurrent(connection));
            QCOMPARE(test::countOf(connection, indexes), 4);
        }
        // A register of version 8 gets only the follow-ups' two.
        {
            QSqlQuery query(database);
            QVERIFY(query.exec(QStringLiteral("drop index followups_operator")));
            QVERIFY(query.exec(QStringLiteral("drop index followups_month")));
            QVERIFY(query.exec(QStringLiteral("update register_version set version = 8")));
            data::upgradeRegister(connection);
            QVERIFY(data::registerIsCurrent(connection));
            QCOMPARE(test::countOf(connection, indexes), 4);
        }
        if (!db.isServer()) {
            // The engine takes the index for the grouping only when the counts write its expression.
            for (const View view : {View::City, View::AddedPerMonth}) {
                const QString expression =
                    view == View::City ? addressStartExpression() : registrationMonthExpression();
                QSqlQuery plan(database);
                QVERIFY(plan.exec(
                    QStringLiteral("explain query plan select %1, count(*) from data group by %1").arg(expression)));
                QString steps;
                while (plan.next())
                    steps += plan.value(3).toString() + u'\n';
                QVERIFY2(steps.contains(view == View::City ? QStringLiteral("data_address_start")
                                                           : QStringLiteral("data_day1_month")),
                         qPrintable(steps));
            }
            // The follow-up counts read their indexes (the months' expression is read from its
            // index; the engine says so only for whole columns), and sort nothing.
            const QString month = followUpMonthExpression();
            for (const auto &[statement, index] :
                 {std::pair{QStringLiteral("select username, count(*) from followups where binned=0 group by username"),
                            QStringLiteral("COVERING INDEX followups_operator")},
                  std::pair{QStringLiteral("select %1, count(*) from followups where binned=0 group by %1").arg(month),
                            QStringLiteral("INDEX followups_month")},
                  std::pair{QStringLiteral("select %1, count(*) from followups where binned=0 and %1 >= '2025-01' "
                                           "and %1 <= '2025-12' group by %1")
                                .arg(month),
                            QStringLiteral("INDEX followups_month (<expr>>? AND <expr><?)")}}) {
                QSqlQuery plan(database);
                QVERIFY(plan.exec(QStringLiteral("explain query plan ") + statement));
                QString steps;
                while (plan.next())
                    steps += plan.value(3).toString() + u'\n';
                QVERIFY2(steps.contains(index) && !steps.contains(QStringLiteral("TEMP B-TREE")), qPrintable(steps));
            }
        }
        const auto citiesAfter = countCustomers(database, {View::City, 12, 30, {}});
        const auto monthsAfter = countCustomers(database, {View::AddedPerMonth, 0, 30, {}});
        QCOMPARE(citiesAfter.size(), citiesBefore.size());
        QCOMPARE(countOf(citiesAfter, QStringLiteral("广州市"), QStringLiteral("广东省")), 300);
        QCOMPARE(monthsAfter.size(), monthsBefore.size());
        for (size_t m = 0; m < monthsAfter.size(); ++m)
            QCOMPARE(monthsAfter[m].count, monthsBefore[m].count);
        checkSelections(connection, monthsAfter, 300);
    }

    void theCountsRunOnAWorkerAndOnlyTheNewestIsReported()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        insertCustomers(*module.connection, {{QStringLiteral("甲"), QStringLiteral("VIP客户")}}, QStringLiteral("a"));
        db::BackgroundWork work(module.connection->address());
        QSignalSpy finished(&work, &db::BackgroundWork::finished);
        QSignalSpy failed(&work, &db::BackgroundWork::failed);
        auto job = [](View view) {
            return [view](db::Connection &connection) -> std::any {
                return countCustomers(connection.database(), {view, 12, 30, {}});
            };
        };
        work.start(job(View::City));
        const quint64 newest = work.start(job(View::Category));
        QVERIFY(work.busy());
        QTRY_VERIFY(!work.busy());
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.front().at(0).toULongLong(), newest);
        const auto rows = std::any_cast<std::vector<CountRow>>(finished.front().at(1).value<std::any>());
        QCOMPARE(rows.size(), size_t(1));
        QCOMPARE(rows.front().label, QStringLiteral("VIP客户"));

        // A refused statement is reported, not taken for an empty count.
        work.start([](db::Connection &connection) -> std::any {
            return db::readKeys(db::engineOf(connection.database()), connection.database(),
                                QStringLiteral("select count(*) from no_such_table"));
        });
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(finished.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCounts)
#include "test_counts.moc"
