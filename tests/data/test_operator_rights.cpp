// What each operator may do: roles and single grants, refused by the stores themselves, and
// kept by every operator of an older register when it is upgraded.
#include "data/CustomerColumns.h"
#include "data/CustomerStore.h"
#include "data/Database.h"
#include "data/OperatorRights.h"
#include "data/OperatorStore.h"
#include "data/PasswordHash.h"
#include "data/RegisterUpgrade.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"

#include <QDir>
#include <QSqlQuery>
#include <QtTest>

using namespace lianbu;
using namespace lianbu::data;
using Outcome = CustomerStore::Outcome;

namespace {

CustomerValues customer(const QString &shortName)
{
    return {{QLatin1String(col::Category), QStringLiteral("VIP")}, {QLatin1String(col::ShortName), shortName}};
}

qint64 customerCount(db::Connection &connection)
{
    QSqlQuery query = db::runBound(connection, QStringLiteral("select count(*) from data"));
    return query.next() ? query.value(0).toLongLong() : -1;
}

// The operator text of the error `write` throws; empty when it throws none.
template <typename Write>
QString refusal(Write write)
{
    try {
        write();
    } catch (const Error &error) {
        return error.operatorText();
    }
    return {};
}

} // namespace

class TestOperatorRights : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void rolesAndGrantsAllowWhatTheyPromise()
    {
        const Rights viewer{Role::Viewer, 0, false};
        const Rights clerk{Role::Clerk, 0, false};
        const Rights admin{Role::Administrator, 0, false};
        const Rights super{Role::Viewer, 0, true};
        for (Right right : {Right::Edit, Right::Delete, Right::Import, Right::Export, Right::Print,
                            Right::BackupRestore, Right::ViewLog, Right::ManageOperators})
            QVERIFY(!viewer.allows(right));
        QVERIFY(clerk.allows(Right::Edit));
        QVERIFY(clerk.allows(Right::Print));
        for (Right right : {Right::Delete, Right::Import, Right::Export, Right::BackupRestore, Right::ViewLog})
            QVERIFY2(!clerk.allows(right), qPrintable(rightText(right)));
        // Granted one by one, on top of the role, and only what can be granted.
        const Rights clerkWithDelete{Role::Clerk, unsigned(Right::Delete), false};
        QVERIFY(clerkWithDelete.allows(Right::Delete));
        QVERIFY(!clerkWithDelete.allows(Right::Export));
        const Rights viewerWithExport{Role::Viewer,
                                      unsigned(Right::Export) | unsigned(Right::ManageOperators)
                                          | unsigned(Right::ViewLog) | unsigned(Right::Edit),
                                      false};
        QVERIFY(viewerWithExport.allows(Right::Export));
        QVERIFY(!viewerWithExport.allows(Right::Edit));
        QVERIFY(!viewerWithExport.allows(Right::ManageOperators));
        QVERIFY(!viewerWithExport.allows(Right::ViewLog));
        // 管理员: everything but the super administrator's own.
        QVERIFY(admin.allows(Right::Delete) && admin.allows(Right::BackupRestore) && admin.allows(Right::ViewLog));
        QVERIFY(!admin.allows(Right::ManageOperators));
        QVERIFY(super.allows(Right::ManageOperators));
    }

    void theCustomerStoreRefusesWhatTheOperatorMayNotDo()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        CustomerStore &store = *module.customerStore;
        OperatorStore operators(connection);
        const QString viewer = QStringLiteral("查询甲");
        const QString clerk = QStringLiteral("业务乙");
        const QString admin = QStringLiteral("管理丙");
        for (const QString &name : {viewer, clerk, admin})
            operators.addOperator(name);
        QVERIFY(operators.setRights(viewer, {Role::Viewer, 0, false}));
        QVERIFY(operators.setRights(admin, {Role::Administrator, 0, false}));
        const qint64 kept = store.add(customer(QStringLiteral("华联")));
        const CustomerRecord seen = *store.read(kept);

        // 查询员: reads, and nothing he writes reaches the register.
        store.setOperator(viewer);
        QCOMPARE(refusal([&] { store.add(customer(QStringLiteral("偷加"))); }), refusalText(Right::Edit));
        QCOMPARE(refusal([&] {
                     store.modify(seen, {{QLatin1String(col::Name), QStringLiteral("偷改")}});
                 }),
                 refusalText(Right::Edit));
        QCOMPARE(refusal([&] { store.remove(seen); }), refusalText(Right::Delete));
        QCOMPARE(customerCount(connection), 1);
        QCOMPARE(*store.read(kept), seen);
        QVERIFY(store.read(kept).has_value());

        // 业务员 (what a new operator is): adds and changes, may not delete until granted.
        store.setOperator(clerk);
        const qint64 added = store.add(customer(QStringLiteral("阿里")));
        QCOMPARE(store.modify(seen, {{QLatin1String(col::Name), QStringLiteral("张三")}}), Outcome::Done);
        const CustomerRecord changed = *store.read(kept);
        QCOMPARE(refusal([&] { store.remove(changed); }), refusalText(Right::Delete));
        QCOMPARE(customerCount(connection), 2);
        // A grant takes effect at the next write, without a new login.
        QVERIFY(operators.setRights(clerk, {Role::Clerk, unsigned(Right::Delete), false}));
        QCOMPARE(store.remove(changed), Outcome::Done);
        QCOMPARE(customerCount(connection), 1);

        // And a right taken away is refused at once.
        QVERIFY(operators.setRights(clerk, {Role::Viewer, 0, false}));
        QCOMPARE(refusal([&] { store.remove(*store.read(added)); }), refusalText(Right::Delete));

        store.setOperator(admin);
        QCOMPARE(store.remove(*store.read(added)), Outcome::Done);
        store.setOperator(superAdministratorName());
        QVERIFY(store.add(customer(QStringLiteral("腾讯"))) > 0);

        // An operator without stored rights (added by an older program beside this one) reads only.
        db::runBound(connection, QStringLiteral("insert into userdb (username,passwd) values (?,?)"),
                     {QStringLiteral("旧程序加的"), hashPassword(QStringLiteral("x1"))});
        store.setOperator(QStringLiteral("旧程序加的"));
        QCOMPARE(refusal([&] { store.add(customer(QStringLiteral("x"))); }), refusalText(Right::Edit));
    }

    void operatorRightsFollowTheOperator()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        OperatorStore operators(connection);
        operators.addOperator(QStringLiteral("王五"));
        QCOMPARE(rightsOf(connection, QStringLiteral("王五")), newOperatorRights());
        const Rights chosen{Role::Viewer, unsigned(Right::Export) | unsigned(Right::Print), false};
        QVERIFY(operators.setRights(QStringLiteral("王五"), chosen));
        QCOMPARE(rightsOf(connection, QStringLiteral("王五")), chosen);
        // Nobody who does not exist gets rights, and the super administrator's are not stored.
        QVERIFY(!operators.setRights(QStringLiteral("没有这个人"), chosen));
        QCOMPARE(rightsOf(connection, QStringLiteral("没有这个人")), Rights{});
        QVERIFY_THROWS_EXCEPTION(Error, storeRights(connection, superAdministratorName(), chosen));
        QVERIFY(rightsOf(connection, superAdministratorName()).allows(Right::ManageOperators));
        // A deleted operator's rights go with him: the same name added again starts as new.
        QCOMPARE(operators.removeOperator(QStringLiteral("王五")), 1);
        QVERIFY(!operators.exists(QStringLiteral("王五")));
        QCOMPARE(rightsOf(connection, QStringLiteral("王五")), Rights{});
        operators.addOperator(QStringLiteral("王五"));
        QCOMPARE(rightsOf(connection, QStringLiteral("王五")), newOperatorRights());
    }

    void anOlderRegisterKeepsEveryOperatorsAccess()
    {
        if (test::testsUseServer())
            QSKIP("an older register file");
        QTemporaryDir folder;
        const QString path = QDir(folder.path()).filePath(QStringLiteral("old.db"));
        QVERIFY(test::execOnFile(
            path, {QStringLiteral("CREATE TABLE data (a VARCHAR(50), b VARCHAR(50))"),
                   QStringLiteral("CREATE TABLE userdb (username VARCHAR(50), passwd VARCHAR(50))"),
                   QStringLiteral("CREATE TABLE rz (id INTEGER PRIMARY KEY AUTOINCREMENT, username VARCHAR(50), "
                                  "btime VARCHAR(30), jtime VARCHAR(30))"),
                   QStringLiteral("Insert into userdb values ('超级管理员','888')"),
                   QStringLiteral("Insert into userdb values ('职员甲','abc123')"),
                   QStringLiteral("Insert into data values ('VIP','老客户')")}));
        Database module(nullptr, path);
        db::Connection &connection = *module.connection;
        QVERIFY(registerIsCurrent(connection));
        QCOMPARE(rightsOf(connection, QStringLiteral("职员甲")), formerRights());
        // He may do what he did before: change and delete customers, back up, export.
        CustomerStore &store = *module.customerStore;
        store.setOperator(QStringLiteral("职员甲"));
        const qint64 key = store.add(customer(QStringLiteral("新客户")));
        QCOMPARE(store.remove(*store.read(key)), Outcome::Done);
        for (Right right : {Right::Import, Right::Export, Right::Print, Right::BackupRestore, Right::ViewLog})
            QVERIFY(rightsOf(connection, QStringLiteral("职员甲")).allows(right));
        QVERIFY(!rightsOf(connection, QStringLiteral("职员甲")).allows(Right::ManageOperators));
        QVERIFY(OperatorStore(connection).checkPassword(QStringLiteral("职员甲"), QStringLiteral("abc123")));
    }

    void aVersionTwoRegisterGetsRightsWithoutHashingAgain()
    {
        test::TestDatabase db;
        {
            Database module(nullptr, db.path());
            db::Connection &connection = *module.connection;
            OperatorStore(connection).addOperator(QStringLiteral("职员乙"));
            // As the previous version left it: no rights table, version 2, and a plain value
            // someone wrote into passwd since (refused, and it must stay refused).
            db::runBound(connection, QStringLiteral("drop table %1").arg(QLatin1String(kRightsTable)));
            db::runBound(connection, QStringLiteral("update %1 set version=2").arg(QLatin1String(kVersionTable)));
            db::runBound(connection, QStringLiteral("update userdb set passwd='planted1' where username=?"),
                         {QStringLiteral("职员乙")});
            QVERIFY(!registerIsCurrent(connection));
        }
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        QVERIFY(registerIsCurrent(connection));
        QCOMPARE(rightsOf(connection, QStringLiteral("职员乙")), formerRights());
        QVERIFY(!OperatorStore(connection).checkPassword(QStringLiteral("职员乙"), QStringLiteral("planted1")));
        QSqlQuery stored = db::runBound(connection, QStringLiteral("select passwd from userdb where username=?"),
                                        {QStringLiteral("职员乙")});
        QVERIFY(stored.next());
        QCOMPARE(stored.value(0).toString(), QStringLiteral("planted1"));
        // Run once: rights changed afterwards are not given back on the next opening.
        QVERIFY(OperatorStore(connection).setRights(QStringLiteral("职员乙"), {Role::Viewer, 0, false}));
        upgradeRegister(connection);
        QCOMPARE(rightsOf(connection, QStringLiteral("职员乙")).role, Role::Viewer);
    }
};

QTEST_GUILESS_MAIN(TestOperatorRights)
#include "test_operator_rights.moc"
