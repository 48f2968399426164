// Operator passwords at rest and the attempt log: hashes, registers written by an older
// version, bound values, and the log table that older registers do not have.
#include "data/AttemptLog.h"
#include "data/OperatorStore.h"
#include "data/Database.h"
#include "data/PasswordHash.h"
#include "data/RegisterUpgrade.h"
#include "data/Schema.h"
#include "data/Statements.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/Query.h"
#include "tests/support/TestServer.h"
#include "tests/support/TestDatabase.h"

#include <sodium.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

using namespace lianbu;
using namespace lianbu::data;

namespace {

// name → stored password, every row of userdb in table order.
QList<QPair<QString, QString>> userRows(db::Connection &connection)
{
    QList<QPair<QString, QString>> rows;
    QSqlQuery query(connection.database());
    if (!query.exec(QStringLiteral("select username, passwd from userdb order by %1")
                        .arg(db::engineOf(connection.database()).rowKey(QStringLiteral("userdb")))))
        return {{QStringLiteral("<error>"), query.lastError().text()}};
    while (query.next())
        rows.append({query.value(0).toString(), query.value(1).toString()});
    return rows;
}

QString storedPassword(db::Connection &connection, const QString &name)
{
    for (const auto &[user, passwd] : userRows(connection))
        if (user == name)
            return passwd;
    return QStringLiteral("<no row>");
}

// A register as the previous version left it: the same tables, passwords in plain text.
QString createOldRegister(const QString &folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("old.db"));
    const bool made = test::execOnFile(
        path, {QStringLiteral("CREATE TABLE data (a VARCHAR(50), b VARCHAR(50))"),
               QStringLiteral("CREATE TABLE userdb (username VARCHAR(50), passwd VARCHAR(50))"),
               QStringLiteral("CREATE TABLE rz (id INTEGER PRIMARY KEY AUTOINCREMENT, username VARCHAR(50), "
                              "btime VARCHAR(30), jtime VARCHAR(30))"),
               QStringLiteral("Insert into userdb values ('超级管理员','888')"),
               QStringLiteral("Insert into userdb values ('职员甲','abc123')"),
               QStringLiteral("Insert into userdb values ('职员乙','888')")});
    return made ? path : QString();
}

bool tableExists(db::Connection &connection, const char *table)
{
    const QSqlDatabase database = connection.database();
    return db::engineOf(database).tableNames(database).contains(QLatin1String(table));
}

} // namespace

class TestCredentials : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }
    void hashesVerifyOnlyTheirPassword()
    {
        const QString first = hashPassword(QStringLiteral("Secret9"));
        const QString second = hashPassword(QStringLiteral("Secret9"));
        QVERIFY(first.startsWith(QLatin1String("$argon2id$")));
        QVERIFY(isPasswordHash(first));
        QVERIFY2(first != second, "each hash has its own salt");
        QVERIFY(verifyPassword(first, QStringLiteral("Secret9")));
        QVERIFY(verifyPassword(second, QStringLiteral("Secret9")));
        QVERIFY(!verifyPassword(first, QStringLiteral("secret9")));
        QVERIFY(!verifyPassword(first, QStringLiteral("Secret")));
        QVERIFY(!verifyPassword(first, QString()));
        QVERIFY(!needsRehash(first));

        // A plain value (hashed when an older register was upgraded, so written by someone else
        // since) matches nothing, not even itself.
        QVERIFY(!verifyPassword(QStringLiteral("Ab1"), QStringLiteral("Ab1")));
        QVERIFY(!verifyPassword(QString(), QString()));

        // A damaged hash refuses every password; a long foreign string is not read past its end.
        QString damaged = first;
        damaged[damaged.size() - 3] =
            damaged.at(damaged.size() - 3) == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
        QVERIFY(!verifyPassword(damaged, QStringLiteral("Secret9")));
        QVERIFY(!verifyPassword(QStringLiteral("$argon2id$") + QString(300, QLatin1Char('x')), QStringLiteral("x")));
        QVERIFY(needsRehash(QStringLiteral("$argon2id$") + QString(300, QLatin1Char('x'))));
    }

    void weakerOrOlderHashesAreRenewed()
    {
        const QByteArray password("888");
        char weaker[crypto_pwhash_STRBYTES];
        QCOMPARE(crypto_pwhash_str_alg(weaker, password.constData(), password.size(), crypto_pwhash_OPSLIMIT_MIN,
                                       crypto_pwhash_MEMLIMIT_MIN, crypto_pwhash_ALG_ARGON2ID13),
                 0);
        char argon2i[crypto_pwhash_STRBYTES];
        QCOMPARE(crypto_pwhash_str_alg(argon2i, password.constData(), password.size(),
                                       crypto_pwhash_argon2i_OPSLIMIT_INTERACTIVE,
                                       crypto_pwhash_argon2i_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2I13),
                 0);
        for (const char *stored : {weaker, argon2i}) {
            const QString text = QString::fromLatin1(stored);
            QVERIFY(verifyPassword(text, QStringLiteral("888")));
            QVERIFY2(needsRehash(text), stored);
        }
    }

    void deliveredRegisterHoldsOnlyTheHashOfTheDefaultPassword()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        const auto rows = userRows(connection);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].first, superAdministratorName());
        QVERIFY2(isPasswordHash(rows[0].second), qPrintable(rows[0].second));
        QVERIFY(verifyPassword(rows[0].second, sql::defaultPassword()));
        OperatorStore store(connection);
        QVERIFY(store.hasDefaultPassword(superAdministratorName()));
    }

    void oldRegisterIsHashedOnceAndPlainValuesAreRefusedAfter()
    {
        QTemporaryDir folder;
        const QString path = createOldRegister(folder.path());
        QVERIFY(!path.isEmpty());
        // What a backup made by the older version holds: the same file, copied.
        const QString backup = folder.filePath(QStringLiteral("backup.db"));
        QVERIFY(QFile::copy(path, backup));
        {
            // Opening it as the program does hashes every operator's password, whether he
            // logs in again or not, and keeps each one's password.
            Database module(nullptr, path);
            db::Connection &connection = *module.connection;
            QVERIFY(registerIsCurrent(connection));
            QVERIFY(tableExists(connection, AttemptLog::kTable));
            QVERIFY(tableExists(connection, kPasswordChangeTable));
            const auto rows = userRows(connection);
            QCOMPARE(rows.size(), 3);
            for (const auto &[name, passwd] : rows)
                QVERIFY2(isPasswordHash(passwd), qPrintable(name + QLatin1Char('=') + passwd));
            OperatorStore store(connection);
            QVERIFY(store.checkPassword(QStringLiteral("职员甲"), QStringLiteral("abc123")));
            QVERIFY(!store.checkPassword(QStringLiteral("职员甲"), QStringLiteral("ABC123")));
            QVERIFY(store.hasDefaultPassword(QStringLiteral("职员乙")));
            QVERIFY(store.checkPassword(superAdministratorName(), QStringLiteral("888")));

            // From now on a plain value written into passwd by anyone is refused, not adopted.
            QSqlQuery(connection.database())
                .exec(QStringLiteral("update userdb set passwd='planted1' where username='职员甲'"));
            QVERIFY(!store.checkPassword(QStringLiteral("职员甲"), QStringLiteral("planted1")));
            QCOMPARE(storedPassword(connection, QStringLiteral("职员甲")), QStringLiteral("planted1"));
        }
        {
            // Opened again: the upgrade is not repeated, so the planted value stays refused.
            Database module(nullptr, path);
            QCOMPARE(storedPassword(*module.connection, QStringLiteral("职员甲")), QStringLiteral("planted1"));
            QVERIFY(
                !OperatorStore(*module.connection).checkPassword(QStringLiteral("职员甲"), QStringLiteral("planted1")));
        }
        {
            // The old backup is upgraded the same way the first time it is opened.
            db::Connection connection(backup);
            connection.open();
            QVERIFY(!registerIsCurrent(connection));
            QVERIFY(!OperatorStore(connection).checkPassword(QStringLiteral("职员甲"), QStringLiteral("abc123")));
            upgradeRegister(connection);
            QVERIFY(OperatorStore(connection).checkPassword(QStringLiteral("职员甲"), QStringLiteral("abc123")));
            for (const auto &[name, passwd] : userRows(connection))
                QVERIFY2(isPasswordHash(passwd), qPrintable(name));
        }
    }

    void noPlainPasswordAfterAddResetOrChange()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        OperatorStore store(connection);
        store.addOperator(QStringLiteral("张三"));
        store.addOperator(QStringLiteral("O'Neil"));
        QCOMPARE(store.setPassword(QStringLiteral("张三"), QStringLiteral("Zs2000")), 1);
        QCOMPARE(store.resetPassword(QStringLiteral("O'Neil")), 1);
        QCOMPARE(store.setPassword(QStringLiteral("无此人"), QStringLiteral("x1")), 0);

        const auto rows = userRows(connection);
        QCOMPARE(rows.size(), 3);
        for (const auto &[name, passwd] : rows) {
            QVERIFY2(isPasswordHash(passwd), qPrintable(name + QLatin1Char('=') + passwd));
            // The whole hash is kept: nothing cut it to the column's declared 50 characters.
            QVERIFY2(passwd.size() > 50, qPrintable(passwd));
            QVERIFY(!needsRehash(passwd));
        }
        QVERIFY(store.checkPassword(QStringLiteral("张三"), QStringLiteral("Zs2000")));
        QVERIFY(store.checkPassword(QStringLiteral("O'Neil"), sql::defaultPassword()));
        // A name made to look like a condition matches nothing.
        QVERIFY(!store.checkPassword(QStringLiteral("x' or '1'='1"), sql::defaultPassword()));

        // The dataset layer reads the whole hash back as well.
        db::Query query(&connection);
        query.setSql(QStringLiteral("select * from userdb"));
        query.open();
        QCOMPARE(query.recordCount(), 3);
        for (int i = 0; i < 3; ++i, query.next())
            QVERIFY(verifyPassword(query.fieldByName(QStringLiteral("passwd")).asString(),
                                   i == 1 ? QStringLiteral("Zs2000") : sql::defaultPassword()));
    }

    void duplicateRowsOfOnePasswordStillRefuse()
    {
        QTemporaryDir folder;
        const QString path = createOldRegister(folder.path());
        db::Connection connection(path);
        connection.open();
        QSqlQuery(connection.database())
            .exec(QStringLiteral("insert into userdb (username,passwd) values ('职员甲','abc123')"));
        upgradeRegister(connection); // each row gets a hash of its own salt
        OperatorStore store(connection);
        QVERIFY(!store.checkPassword(QStringLiteral("职员甲"), QStringLiteral("abc123")));
        // Two rows with different passwords: each one logs in by its own password.
        db::runBound(connection, QStringLiteral("update userdb set passwd=? where rowid=4"),
                     {hashPassword(QStringLiteral("zz9"))});
        QVERIFY(store.checkPassword(QStringLiteral("职员甲"), QStringLiteral("zz9")));
        QVERIFY(store.checkPassword(QStringLiteral("职员甲"), QStringLiteral("abc123")));
    }

    void attemptLogKeepsStreaksPerName()
    {
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        AttemptLog log(connection);
        const QDateTime t0(QDate(2026, 3, 1), QTime(8, 0, 0, 250));
        log.record(QStringLiteral("甲"), t0, false, AttemptKind::Login);
        log.record(QStringLiteral("甲"), t0.addSecs(1), true, AttemptKind::Login);
        log.record(QStringLiteral("甲"), t0.addSecs(2), false, AttemptKind::Unlock);
        log.record(QStringLiteral("乙"), t0.addSecs(3), false, AttemptKind::Login);
        log.record(QStringLiteral("甲"), t0.addMSecs(3500), false, AttemptKind::PasswordChange);

        const FailureStreak first = log.streak(QStringLiteral("甲"));
        QCOMPARE(first.failures, 2);
        QCOMPARE(first.lastFailure, t0.addMSecs(3500));
        QCOMPARE(log.streak(QStringLiteral("乙")).failures, 1);
        QCOMPARE(log.streak(QStringLiteral("丙")).failures, 0);

        const std::vector<Attempt> failures = log.lastFailures(2);
        QCOMPARE(failures.size(), size_t(2));
        QCOMPARE(failures[0].name, QStringLiteral("甲"));
        QCOMPARE(failures[0].kind, AttemptKind::PasswordChange);
        QCOMPARE(failures[0].time, t0.addMSecs(3500));
        QCOMPARE(failures[1].name, QStringLiteral("乙"));
        QCOMPARE(log.lastFailures(10).size(), size_t(4));
    }
};

QTEST_GUILESS_MAIN(TestCredentials)
#include "test_credentials.moc"
