// The data module at start-up and the six data-access routines with real widgets.
#include "data/Database.h"
#include "platform/Error.h"
#include "tests/support/TestServer.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestSupport.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QVBoxLayout>
#include <QtTest>

using namespace lianbu;

namespace {

QString startUpError()
{
    try {
        Database module;
    } catch (const Error &error) {
        return error.message();
    }
    return QString();
}

QStringList items(const QComboBox &combo)
{
    QStringList list;
    for (int i = 0; i < combo.count(); ++i)
        list << combo.itemText(i);
    return list;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestDataModule : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }
    void startUpOpensDataDbOfTheWorkingFolder()
    {
        test::Environment env;
        test::createDataDb(env.path());
        {
            Database module;
            QVERIFY(module.connection->isOpen());
            QCOMPARE(module.connection->fileName(), QStringLiteral("data.db"));
            QCOMPARE(module.customerList->statement(), QStringLiteral("select * from data"));
            QVERIFY(!module.customerList->active());
            QCOMPARE(module.customerList->rowCount(), 0);
            QVERIFY(!module.statementQuery->active());

            // The parts of the module work together: add and change through the store, list
            // through the customer list, search through the statement query.
            module.customerList->showStatement(sql::allRecords());
            const qint64 key = module.customerStore->add(
                {{QStringLiteral("a"), QStringLiteral("VIP")}, {QStringLiteral("b"), QStringLiteral("简称")}});
            QCOMPARE(module.customerList->rowCount(), 1);
            QCOMPARE(module.customerList->customerAt(0).value(QStringLiteral("b")), QStringLiteral("简称"));
            QCOMPARE(module.customerStore->modify(module.customerList->customerAt(0),
                                                  {{QStringLiteral("b"), QStringLiteral("改过")}}),
                     lianbu::data::CustomerStore::Outcome::Done);
            QCOMPARE(module.customerList->keyAt(0), key);
            QCOMPARE(module.customerList->customerAt(0).value(QStringLiteral("b")), QStringLiteral("改过"));
            openStatement(module.statementQuery, sql::search("", "改", "", "", "", ""));
            QCOMPARE(module.statementQuery->recordCount(), 1);
        }
    }

    void startUpWithoutDataDbCreatesNothing()
    {
        test::Environment env;
        const QString message = startUpError();
        QVERIFY2(message.contains(env.filePath("data.db")) && message.contains(QStringLiteral("does not exist")),
                 qPrintable(message));
        QCOMPARE(QDir(env.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void startUpWithGarbageOrForeignFile()
    {
        test::Environment env;
        const QByteArray garbage = QByteArray("PK\x03\x04 not a database").repeated(100);
        {
            QFile file(env.filePath("data.db"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(garbage);
        }
        QString message = startUpError();
        QVERIFY2(message.contains(env.filePath("data.db")) && message.contains(QStringLiteral("not a database")),
                 qPrintable(message));
        QCOMPARE(fileBytes(env.filePath("data.db")), garbage);

        // An SQLite file of some other program.
        QVERIFY(QFile::remove(env.filePath("data.db")));
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(env.filePath("data.db"));
            QVERIFY(other.open());
            QSqlQuery(other).exec(QStringLiteral("create table data (x)"));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        message = startUpError();
        QVERIFY2(message.contains(env.filePath("data.db")) && message.contains(QStringLiteral("does not hold")),
                 qPrintable(message));
    }

    void startUpWithLockedDataDb()
    {
        test::Environment env;
        test::createDataDb(env.path());
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            holder.setDatabaseName(env.filePath("data.db"));
            QVERIFY(holder.open());
            QSqlQuery query(holder);
            QVERIFY(query.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
            QVERIFY(query.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QVERIFY(query.exec(QStringLiteral("delete from userdb")));
            const QString message = startUpError(); // waits out the busy timeout
            QVERIFY2(message.contains(env.filePath("data.db")) && message.contains(QStringLiteral("locked")),
                     qPrintable(message));
            query.exec(QStringLiteral("ROLLBACK"));
            query.finish();
            holder.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    }

    void requireEditTextChecksTheEdit()
    {
        test::Environment env;
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *other = new QLineEdit(&window);
        auto *edit = new QLineEdit(&window);
        layout->addWidget(other);
        layout->addWidget(edit);
        window.show();
        other->setFocus();

        edit->setText(QStringLiteral(" x "));
        QVERIFY(requireEditText(edit, QStringLiteral("客户类型必须输入！")));
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
        QCOMPARE(window.focusWidget(), other);

        edit->setText(QStringLiteral(" \t\x01 "));
        QVERIFY(!requireEditText(edit, QStringLiteral("客户类型必须输入！")));
        QCOMPARE(env.dialogs().boxes().size(), 1);
        const BoxRequest box = env.dialogs().lastBox().request;
        QCOMPARE(box.caption, QStringLiteral("Warning"));
        QCOMPARE(box.text, QStringLiteral("客户类型必须输入！"));
        QCOMPARE(box.icon, BoxIcon::Warning);
        QCOMPARE(box.buttons, QList<BoxButton>({BoxButton::Ok}));
        QCOMPARE(window.focusWidget(), edit);

        edit->clear();
        other->setFocus();
        QVERIFY(!requireEditText(edit, QStringLiteral("m")));
        QCOMPARE(window.focusWidget(), edit);
        // A full-width blank is text, not a blank of codes 0 to 32.
        edit->setText(QStringLiteral("\u3000"));
        QVERIFY(requireEditText(edit, QStringLiteral("m")));
        QCOMPARE(env.dialogs().boxes().size(), 2);
    }

    void requireComboTextChecksTheBox()
    {
        test::Environment env;
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *other = new QLineEdit(&window);
        auto *combo = new QComboBox(&window);
        combo->setEditable(true);
        layout->addWidget(other);
        layout->addWidget(combo);
        window.show();
        other->setFocus();

        combo->setEditText(QStringLiteral("  张三"));
        QVERIFY(requireComboText(combo, QStringLiteral("必须选择用户！")));
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
        combo->setEditText(QStringLiteral("   "));
        QVERIFY(!requireComboText(combo, QStringLiteral("必须选择用户！")));
        QCOMPARE(env.dialogs().lastBox().request.caption, QStringLiteral("Warning"));
        QCOMPARE(env.dialogs().lastBox().request.text, QStringLiteral("必须选择用户！"));
        QVERIFY(window.focusWidget() == combo || window.focusWidget() == combo->lineEdit());
    }

    void fillComboDistinctListsValues()
    {
        test::Environment env;
        test::createDataDb(env.path());
        Database module;
        QComboBox combo;
        combo.setEditable(true);
        combo.addItems({"old1", "old2"});
        combo.setEditText(QStringLiteral("old text"));
        QSignalSpy edits(&combo, &QComboBox::editTextChanged);

        // Empty table: empty list, empty text.
        fillComboDistinct(module.statementQuery, "a", "data", &combo);
        QCOMPARE(combo.count(), 0);
        QCOMPARE(combo.currentText(), QString());
        QVERIFY(module.statementQuery->active());

        // Each value once, ascending, nulls as one empty item; the text stays empty.
        module.connection->execute(
            QStringLiteral("insert into data (a, b) values ('z', '1'), (null, '2'), ('a', '3'), ('m', '4'), "
                           "(null, '5'), ('a', '6'), ('z', '7'), ('李', '8')"));
        fillComboDistinct(module.statementQuery, "a", "data", &combo);
        QCOMPARE(items(combo), QStringList({"", "a", "m", "z", "李"}));
        QCOMPARE(combo.currentText(), QString());
        QCOMPARE(module.statementQuery->recordCount(), 5);
        QCOMPARE(module.statementQuery->recNo(), 5); // left on its last row
        QCOMPARE(edits.count(), 0);                  // a refill is no edit

        // Sought in the column's index: the same items in the same order, with or without a null.
        module.connection->execute(QStringLiteral("create index if not exists data_a on data (a)"));
        fillComboDistinct(module.statementQuery, "a", "data", &combo, DistinctRead::IndexSeek);
        QCOMPARE(items(combo), QStringList({"", "a", "m", "z", "李"}));
        QCOMPARE(combo.currentText(), QString());
        QCOMPARE(module.statementQuery->recNo(), 5);
        module.connection->execute(QStringLiteral("update data set a = 'n' where a is null"));
        fillComboDistinct(module.statementQuery, "a", "data", &combo, DistinctRead::IndexSeek);
        QCOMPARE(items(combo), QStringList({"a", "m", "n", "z", "李"}));
        QCOMPARE(edits.count(), 0);

        fillComboDistinct(module.statementQuery, "username", "userdb", &combo);
        QCOMPARE(items(combo), QStringList({QStringLiteral("超级管理员")}));
    }

    void openAndExecStatement()
    {
        test::Environment env;
        test::createDataDb(env.path());
        Database module;
        openStatement(module.statementQuery, sql::operatorList());
        QCOMPARE(module.statementQuery->sql(), sql::operatorList());
        QCOMPARE(module.statementQuery->recordCount(), 1);
        execStatement(module.statementQuery, QStringLiteral("insert into userdb (username) values ('王五')"));
        QVERIFY(!module.statementQuery->active());
        openStatement(module.statementQuery, sql::operatorList());
        QCOMPARE(module.statementQuery->recordCount(), 2);
        // A refused statement leaves the query closed.
        QVERIFY_THROWS_EXCEPTION(Error, openStatement(module.statementQuery, QStringLiteral("select * from nothere")));
        QVERIFY(!module.statementQuery->active());
        QVERIFY_THROWS_EXCEPTION(Error, execStatement(module.statementQuery, QStringLiteral("delete from nothere")));
        QVERIFY(!module.statementQuery->active());
        openDistinct(module.statementQuery, "username", "userdb");
        QCOMPARE(module.statementQuery->sql(), sql::distinctValues("username", "userdb"));
        QCOMPARE(module.statementQuery->fieldByName("username").asString(), QStringLiteral("王五"));
    }
};

QTEST_MAIN(TestDataModule)
#include "test_data_module.moc"
