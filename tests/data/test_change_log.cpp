// The change log: every write of a customer or an operator, and every failed password, recorded
// with who, when and from which PC, in the same transaction as the write itself.
#include "data/AttemptLog.h"
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
using Outcome = CustomerStore::Outcome;

namespace {

std::vector<LogEntry> allEntries(db::Connection &connection, const LogFilter &filter = {})
{
    return ChangeLog(connection).entries(filter, 1000);
}

QString columnOf(const char *column)
{
    return QLatin1String(column);
}

FieldChange field(const char *column, std::optional<QString> before, std::optional<QString> after)
{
    return {QLatin1String(column), std::move(before), std::move(after)};
}

} // namespace

class TestChangeLog : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void customerWritesAreLoggedWithEachChangedFieldsOldAndNewValue()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &store = *module.customerStore;
        OperatorStore(connection).addOperator(QStringLiteral("业务员乙"));
        store.setOperator(QStringLiteral("业务员乙"));

        const qint64 key = store.add({{columnOf(col::Category), QStringLiteral("VIP")},
                                      {columnOf(col::ShortName), QStringLiteral("华联")},
                                      {columnOf(col::Name), QStringLiteral("张三")},
                                      {columnOf(col::Phone), std::nullopt}});
        std::vector<LogEntry> log = allEntries(connection, {{}, {}, {}, {}, LogKind::CustomerAdded});
        QCOMPARE(log.size(), size_t(1));
        QCOMPARE(log[0].operatorName, QStringLiteral("业务员乙"));
        QCOMPARE(log[0].pc, localPcName());
        QVERIFY(!log[0].pc.isEmpty());
        QCOMPARE(log[0].customerKey, key);
        QCOMPARE(log[0].subject, QStringLiteral("华联"));
        QVERIFY(log[0].time.isValid());
        QCOMPARE(log[0].fields[2], field(col::Name, std::nullopt, QStringLiteral("张三")));
        // The server's trigger sees the row, not the columns named: a null is not there.
        if (test::testsUseServer()) {
            QCOMPARE(log[0].fields.size(), size_t(3));
        } else {
            QCOMPARE(log[0].fields.size(), size_t(4));
            QCOMPARE(log[0].fields[3], field(col::Phone, std::nullopt, std::nullopt));
        }

        // Only the fields whose stored text changes, each with what it held before.
        const CustomerRecord seen = *store.read(key);
        QCOMPARE(store.modify(seen, {{columnOf(col::Name), QStringLiteral("李四")},
                                     {columnOf(col::Category), QStringLiteral("VIP")},
                                     {columnOf(col::Phone), QStringLiteral("010-1234")}}),
                 Outcome::Done);
        log = allEntries(connection, {{}, {}, {}, {}, LogKind::CustomerChanged});
        QCOMPARE(log.size(), size_t(1));
        QCOMPARE(log[0].customerKey, key);
        QCOMPARE(log[0].fields,
                 (std::vector<FieldChange>{field(col::Name, QStringLiteral("张三"), QStringLiteral("李四")),
                                           field(col::Phone, std::nullopt, QStringLiteral("010-1234"))}));
        // A save that changes nothing is no change.
        QCOMPARE(store.modify(*store.read(key), {{columnOf(col::Name), QStringLiteral("李四")}}), Outcome::Done);
        QCOMPARE(allEntries(connection, {{}, {}, {}, {}, LogKind::CustomerChanged}).size(), size_t(1));

        // A delete keeps the whole customer as it was.
        OperatorStore(connection).setRights(QStringLiteral("业务员乙"), {Role::Clerk, unsigned(Right::Delete), false});
        const CustomerRecord last = *store.read(key);
        QCOMPARE(store.remove(last), Outcome::Done);
        log = allEntries(connection, {{}, {}, {}, {}, LogKind::CustomerDeleted});
        QCOMPARE(log.size(), size_t(1));
        QCOMPARE(log[0].subject, QStringLiteral("华联"));
        QCOMPARE(log[0].fields.size(), last.values.size());
        for (const FieldChange &change : log[0].fields) {
            QCOMPARE(change.before, last.value(change.field));
            QCOMPARE(change.after, std::nullopt);
        }
    }

    void aSaveThatFailsLogsNothing()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &store = *module.customerStore;
        const qint64 key = store.add({{columnOf(col::ShortName), QStringLiteral("华联")}});
        const CustomerRecord seen = *store.read(key);
        const qint64 before = ChangeLog(connection).count({});
        // Changed by another operator meanwhile: nothing written, nothing logged. (On a server
        // register that other change is logged by the server itself.)
        db::runBound(connection, QStringLiteral("update data set c='别人改的'"));
        const qint64 others = test::testsUseServer() ? 1 : 0;
        QCOMPARE(store.modify(seen, {{columnOf(col::Name), QStringLiteral("我的")}}), Outcome::Changed);
        QCOMPARE(store.remove(seen), Outcome::Changed);
        // Refused for want of the right: nothing logged either.
        OperatorStore(connection).addOperator(QStringLiteral("查询甲"));
        OperatorStore(connection).setRights(QStringLiteral("查询甲"), {Role::Viewer, 0, false});
        store.setOperator(QStringLiteral("查询甲"));
        QVERIFY_THROWS_EXCEPTION(Error, store.add({{columnOf(col::ShortName), QStringLiteral("x")}}));
        // A column the table lacks: refused before anything is written.
        store.setOperator({});
        QVERIFY_THROWS_EXCEPTION(Error, store.add({{QStringLiteral("nosuch"), QStringLiteral("x")}}));
        QCOMPARE(ChangeLog(connection).count({}), before + others + 2); // the operator's add and his rights
    }

    void aWriteRolledBackLeavesNoLogAndALogThatFailsUndoesTheWrite()
    {
        if (test::testsUseServer())
            QSKIP("SQLite triggers");
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &store = *module.customerStore;
        const qint64 key = store.add({{columnOf(col::ShortName), QStringLiteral("华联")}});
        const qint64 logged = ChangeLog(connection).count({});

        // The caller's transaction is rolled back: the customer and its log go together.
        db::runBound(connection, QStringLiteral("begin"));
        store.add({{columnOf(col::ShortName), QStringLiteral("不要了")}});
        store.modify(*store.read(key), {{columnOf(col::Name), QStringLiteral("改了又撤")}});
        db::runBound(connection, QStringLiteral("rollback"));
        QCOMPARE(ChangeLog(connection).count({}), logged);
        QCOMPARE(store.read(key)->value(QLatin1String(col::Name)), std::nullopt);

        // The log cannot be written: the change is not kept either.
        db::runBound(connection, QStringLiteral("create trigger refuse_log before insert on change_log "
                                                "begin select raise(abort, 'log refused'); end"));
        QVERIFY_THROWS_EXCEPTION(Error, store.modify(*store.read(key), {{columnOf(col::Name), QStringLiteral("x")}}));
        QCOMPARE(store.read(key)->value(QLatin1String(col::Name)), std::nullopt);
        QVERIFY_THROWS_EXCEPTION(Error, store.remove(*store.read(key)));
        QVERIFY(store.read(key));
        QVERIFY_THROWS_EXCEPTION(Error, store.add({{columnOf(col::ShortName), QStringLiteral("y")}}));
        QSqlQuery rows = db::runBound(connection, QStringLiteral("select count(*) from data"));
        QVERIFY(rows.next());
        QCOMPARE(rows.value(0).toInt(), 1);
        // And the connection is usable afterwards, outside any transaction.
        db::runBound(connection, QStringLiteral("drop trigger refuse_log"));
        QCOMPARE(store.modify(*store.read(key), {{columnOf(col::Name), QStringLiteral("z")}}), Outcome::Done);
        QCOMPARE(ChangeLog(connection).count({}), logged + 1);
    }

    void operatorChangesAndFailedPasswordsAreLoggedWithoutAnyPassword()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        OperatorStore operators(connection);
        const QString admin = superAdministratorName();
        operators.addOperator(QStringLiteral("王五"), admin);
        operators.setRights(QStringLiteral("王五"), {Role::Viewer, unsigned(Right::Export), false}, admin);
        operators.setPassword(QStringLiteral("王五"), QStringLiteral("Secret9"), QStringLiteral("王五"));
        operators.resetPassword(QStringLiteral("王五"), admin);
        QCOMPARE(operators.removeOperator(QStringLiteral("王五"), admin), 1);
        QCOMPARE(operators.removeOperator(QStringLiteral("王五"), admin), 0); // gone: nothing to log

        std::vector<LogEntry> log = allEntries(connection);
        std::reverse(log.begin(), log.end());
        QCOMPARE(log.size(), size_t(5));
        const LogKind kinds[] = {LogKind::OperatorAdded, LogKind::OperatorChanged, LogKind::OperatorChanged,
                                 LogKind::OperatorChanged, LogKind::OperatorDeleted};
        for (size_t i = 0; i < log.size(); ++i) {
            QCOMPARE(log[i].kind, kinds[i]);
            QCOMPARE(log[i].subject, QStringLiteral("王五"));
        }
        QCOMPARE(log[0].operatorName, admin);
        QCOMPARE(log[2].operatorName, QStringLiteral("王五"));
        QCOMPARE(log[1].fields,
                 (std::vector<FieldChange>{{QStringLiteral("角色"), QStringLiteral("业务员"), QStringLiteral("查询员")},
                                           {QStringLiteral("单项权限"), QString(), QStringLiteral("导出")}}));
        QSqlQuery details = db::runBound(connection, QStringLiteral("select details from change_log"));
        while (details.next())
            QVERIFY(!details.value(0).toString().contains(QStringLiteral("Secret9")));

        // A wrong password, given anywhere, is a line of the log.
        AttemptLog attempts(connection);
        const std::optional<qint64> claim = attempts.claim(
            QStringLiteral("张三"), AttemptKind::Login, [](const FailureStreak &, const QDateTime &) { return true; });
        QVERIFY(claim);
        attempts.finish(*claim, false);
        const std::optional<qint64> good =
            attempts.claim(admin, AttemptKind::Login, [](const FailureStreak &, const QDateTime &) { return true; });
        attempts.finish(*good, true);
        log = allEntries(connection, {{}, {}, {}, {}, LogKind::LoginFailed});
        QCOMPARE(log.size(), size_t(1));
        QCOMPARE(log[0].subject, QStringLiteral("张三"));
    }

    void filtersAndPagesFindTheirEntriesOnly()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        ChangeLog log(connection);
        const qint64 already = log.count({});
        const QDate day(2026, 3, 10);
        for (int i = 0; i < 30; ++i) {
            LogEntry entry;
            entry.time = QDateTime(day.addDays(i % 3), QTime(12, 0)).toUTC();
            entry.operatorName = i % 2 ? QStringLiteral("甲") : QStringLiteral("乙");
            entry.kind = i % 5 ? LogKind::CustomerChanged : LogKind::Exported;
            entry.customerKey = 100 + i;
            entry.subject = i == 7 ? QStringLiteral("100%_纯") : QStringLiteral("客户%1").arg(i);
            log.write(entry);
        }
        QCOMPARE(log.count({}), already + 30);
        QCOMPARE(log.count({day.addDays(1), day.addDays(1), {}, {}, {}}), 10);
        QCOMPARE(log.count({day, day.addDays(1), QStringLiteral("甲"), {}, {}}), 10);
        QCOMPARE(log.count({{}, {}, {}, {}, LogKind::Exported}), 6);
        // The customer's text is plain text (no wildcards), or its key.
        QCOMPARE(log.count({{}, {}, {}, QStringLiteral("%_"), {}}), 1);
        QCOMPARE(log.count({{}, {}, {}, QStringLiteral("客户1"), {}}), 11); // 客户1, 客户10..客户19
        const std::vector<LogEntry> byKey = log.entries({{}, {}, {}, QStringLiteral("107"), {}}, 10);
        QCOMPARE(byKey.size(), size_t(1));
        QCOMPARE(byKey[0].subject, QStringLiteral("100%_纯"));

        // Pages follow each other, newest first, none lost and none twice.
        const LogFilter mine{{}, {}, QStringLiteral("甲"), {}, {}};
        std::vector<qint64> seen;
        qint64 before = 0;
        for (;;) {
            const std::vector<LogEntry> page = log.entries(mine, 4, before);
            if (page.empty())
                break;
            for (const LogEntry &entry : page) {
                QVERIFY(before == 0 || entry.id < before);
                QCOMPARE(entry.operatorName, QStringLiteral("甲"));
                seen.push_back(entry.id);
            }
            before = page.back().id;
        }
        QCOMPARE(seen.size(), size_t(15));
        QVERIFY(std::is_sorted(seen.rbegin(), seen.rend()));
        QVERIFY(std::adjacent_find(seen.begin(), seen.end()) == seen.end());
    }
};

QTEST_GUILESS_MAIN(TestChangeLog)
#include "test_change_log.moc"
