// Which register a start opens: the packaged program's per-user register, created on the first
// start and never replaced; the source-built program's working folder; --database; a server
// that cannot be reached, and a saved one the operator can change at once. And the toolkit's
// texts after the start-up steps.
#include "app/Register.h"
#include "app/StartUp.h"
#include "data/Database.h"
#include "data/OperatorStore.h"
#include "data/PasswordHash.h"
#include "data/Schema.h"
#include "db/Backup.h"
#include "db/Connection.h"
#include "db/ServerSupport.h"
#include "platform/PasswordFile.h"
#include "platform/Installation.h"
#include "platform/Paths.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestSupport.h"

#include <QtTest>
#include <QApplication>
#include <QCryptographicHash>
#include <QPushButton>
#include <QSqlQuery>
#include <QTimer>

#include <sys/stat.h>

using namespace lianbu;
using namespace lianbu::test;

namespace {

QByteArray digest(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}

QStringList operatorsIn(const QString &path)
{
    db::Connection connection(path);
    connection.open();
    QStringList names;
    QSqlQuery query(connection.database());
    query.exec(QStringLiteral("select username from userdb"));
    while (query.next())
        names << query.value(0).toString();
    connection.close();
    return names;
}

CommandLine check(const QString &database = {})
{
    CommandLine line;
    line.action = CommandLine::Action::CheckRegister;
    line.database = database;
    return line;
}

bool anyWindowVisible()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible())
            return true;
    return false;
}

// The packaged or the source-built program for the life of the object.
struct AsProgram
{
    explicit AsProgram(bool packaged) { overridePackagedProgram(packaged); }
    ~AsProgram() { overridePackagedProgram(std::nullopt); }
};

} // namespace

class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    // The program's names decide its per-user folders.
    void initTestCase() { prepareApplication(); }
    void packagedProgramCreatesItsRegisterOnceInTheDataFolder();
    void damagedRegisterOffersTheRestoreBeforeTheLogin_data();
    void damagedRegisterOffersTheRestoreBeforeTheLogin();
    void sourceBuiltProgramOpensTheWorkingFolderOnly();
    void databaseOptionOpensThatFile();
    void unreachableServerIsReportedClearly();
    void unreachableSavedServerCanBeChangedAtStart();
    void toolkitTextsAreChineseAfterStartUp();
    void filesTheProgramCreatesAreTheUsersAlone();
};

void TestStartUp::packagedProgramCreatesItsRegisterOnceInTheDataFolder()
{
    Environment env;
    AsProgram packaged(true);
    const QString expected = paths::userDataFolder() + QStringLiteral("/data.db");
    QVERIFY(!QFileInfo::exists(expected));

    // Started from a menu: whatever the working folder, the register is the per-user one.
    QCOMPARE(runProgram(*qApp, check()), 0);
    QVERIFY(QFileInfo::exists(expected));
    QCOMPARE(operatorsIn(expected), QStringList({superAdministratorName()}));
    QVERIFY(!QFileInfo::exists(env.filePath(QStringLiteral("data.db"))));
    QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
    QVERIFY(!anyWindowVisible());

    {
        db::Connection connection(expected);
        connection.open();
        QCOMPARE(connection.execute(QStringLiteral("insert into data (a, b) values ('客户', '张三')")), 1);
        connection.close();
    }
    const QByteArray before = digest(expected);
    const RegisterCheck again = checkRegister(check());
    QVERIFY(again.opened);
    QCOMPARE(again.text, expected);
    QCOMPARE(digest(expected), before);
}

void TestStartUp::sourceBuiltProgramOpensTheWorkingFolderOnly()
{
    Environment env;
    AsProgram built(false);
    const RegisterCheck missing = checkRegister(check());
    QVERIFY(!missing.opened);
    QVERIFY2(missing.text.contains(env.filePath(QStringLiteral("data.db"))), qPrintable(missing.text));
    QVERIFY(!QFileInfo::exists(env.filePath(QStringLiteral("data.db"))));
    QVERIFY(!QFileInfo::exists(paths::userDataFolder() + QStringLiteral("/data.db")));
    QCOMPARE(runProgram(*qApp, check()), 1);
    QVERIFY2(env.dialogs().boxes().isEmpty(),
             env.dialogs().boxesText().constData()); // reported on the terminal, not in a box

    createDataDb(env.path());
    const RegisterCheck present = checkRegister(check());
    QVERIFY(present.opened);
    QCOMPARE(QFileInfo(present.text).canonicalFilePath(),
             QFileInfo(env.filePath(QStringLiteral("data.db"))).canonicalFilePath());
}

void TestStartUp::databaseOptionOpensThatFile()
{
    Environment env;
    AsProgram packaged(true);
    TestDatabase shared(false);
    const RegisterCheck opened = checkRegister(check(shared.path()));
    QVERIFY(opened.opened);
    QCOMPARE(opened.text, shared.path());
    // The given register is used instead of the per-user one, which is not created.
    QVERIFY(!QFileInfo::exists(paths::userDataFolder() + QStringLiteral("/data.db")));

    // A file that is not a register is reported and left as it is; a missing one is not created.
    const QString foreign = env.filePath(QStringLiteral("notes.db"));
    {
        QFile file(foreign);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("客户名单\n");
    }
    const QByteArray before = digest(foreign);
    QVERIFY(!checkRegister(check(foreign)).opened);
    QCOMPARE(digest(foreign), before);
    const RegisterCheck absent = checkRegister(check(QStringLiteral("sub/data.db")));
    QVERIFY(!absent.opened);
    QVERIFY(!QFileInfo::exists(env.filePath(QStringLiteral("sub"))));
}

void TestStartUp::damagedRegisterOffersTheRestoreBeforeTheLogin_data()
{
    QTest::addColumn<bool>("header");
    QTest::addColumn<bool>("olderBackup");
    QTest::newRow("a customer page overwritten") << false << false;
    QTest::newRow("the file's header overwritten") << true << false;
    // An older version kept its passwords plain; its backups are restored all the same.
    QTest::newRow("a backup of an older version") << false << true;
}

void TestStartUp::damagedRegisterOffersTheRestoreBeforeTheLogin()
{
    QFETCH(bool, header);
    QFETCH(bool, olderBackup);
    Environment env;
    AsProgram built(false);
    const QString path = createDataDb(env.path());
    {
        db::Connection connection(path);
        connection.open();
        data::OperatorStore(connection).setPassword(superAdministratorName(), QStringLiteral("Secret9"));
        connection.execute(QStringLiteral("insert into data (a, b) values ('VIP', '备份里的客户')"));
        connection.close();
    }
    const QString backup = db::makeBackup(path, QDateTime(QDate(2026, 12, 1), QTime(9, 0)));
    if (olderBackup)
        QVERIFY(execOnFile(backup, {QStringLiteral("drop table register_version"),
                                    QStringLiteral("drop table password_changes"),
                                    QStringLiteral("update userdb set passwd='Secret9'")}));
    QVERIFY(damageCustomerPage(path));
    if (header) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QCOMPARE(file.write(QByteArray(100, char(0x5A))), 100);
    }

    // Declined: the program ends, having said in Chinese what is wrong.
    env.dialogs().queueBoxAnswer(BoxButton::No);
    QVERIFY(!openRegisterAtStart(CommandLine()));
    QCOMPARE(env.dialogs().boxes().size(), 1);
    const QString question = env.dialogs().lastBox().request.text;
    QVERIFY2(question.contains(QStringLiteral("已损坏")) && question.contains(QStringLiteral("恢复")),
             qPrintable(question));
    QVERIFY2(!question.contains(QStringLiteral("Cannot")) && !question.contains(QStringLiteral("damaged")),
             qPrintable(question));

    // A wrong password of the backup's super administrator restores nothing; the right one does,
    // and the register opens.
    env.dialogs().clear();
    env.dialogs().queueBoxAnswer(BoxButton::Yes);
    env.dialogs().queueSaveFileName(backup);
    env.dialogs().queuePassword(QStringLiteral("888"));
    env.dialogs().queueSaveFileName(backup);
    env.dialogs().queuePassword(QStringLiteral("Secret9"));
    const qint64 damagedSize = QFileInfo(path).size();
    {
        const std::unique_ptr<Database> database = openRegisterAtStart(CommandLine());
        QVERIFY(database);
        QCOMPARE(env.dialogs().passwordPrompts().size(), 2);
        const QList<ScriptedDialogs::Box> boxes = env.dialogs().boxes();
        QCOMPARE(boxes.size(), 3);
        QCOMPARE(boxes.at(1).request.icon, BoxIcon::Stop);
        QVERIFY2(boxes.at(1).request.text.contains(QStringLiteral("密码不是")), qPrintable(boxes.at(1).request.text));
        QVERIFY2(boxes.at(2).request.text.contains(QStringLiteral("资料已从备份")),
                 qPrintable(boxes.at(2).request.text));
        QSqlQuery query(database->connection->database());
        QVERIFY(query.exec(QStringLiteral("select b from data")));
        QStringList names;
        while (query.next())
            names << query.value(0).toString();
        QCOMPARE(names, QStringList{QStringLiteral("备份里的客户")});
        QVERIFY(query.exec(QStringLiteral("select passwd from userdb")));
        while (query.next())
            QVERIFY2(data::isPasswordHash(query.value(0).toString()), qPrintable(query.value(0).toString()));
    }
    // The damaged file is kept beside it.
    const QStringList kept = QDir(env.path()).entryList({QStringLiteral("data.db.replaced-*")});
    QCOMPARE(kept.size(), 1);
    QCOMPARE(QFileInfo(env.filePath(kept.first())).size(), damagedSize);
}

void TestStartUp::unreachableServerIsReportedClearly()
{
    Environment env;
    createDataDb(env.path());
    CommandLine line;
    // Nothing listens on port 1: the server cannot be reached, and the box says which one.
    line.database = QStringLiteral("postgresql://li@127.0.0.1:1/lianbu");
    QCOMPARE(runProgram(*qApp, line), 1);
    QCOMPARE(env.dialogs().boxes().size(), 1);
    const BoxRequest box = env.dialogs().lastBox().request;
    QCOMPARE(box.icon, BoxIcon::Stop);
    QVERIFY2(box.text.contains(line.database), qPrintable(box.text));
    // A build without server registers says so; one with them says why the server was not reached.
    const QString why = db::serverRegistersAvailable() ? QStringLiteral("没有在这个端口上接受连接")
                                                       : QStringLiteral("这个版本的联簿宝不能使用数据库服务器");
    QVERIFY2(box.text.contains(why), qPrintable(box.text));
    QVERIFY(!anyWindowVisible());
    QVERIFY(!checkRegister(check(line.database)).opened);
}

void TestStartUp::unreachableSavedServerCanBeChangedAtStart()
{
    Environment env;
    createDataDb(env.path());
    qunsetenv(kRegisterVariable);
    const QString unreachable = QStringLiteral("postgresql://li@127.0.0.1:1/lianbu");

    // Declined: the program ends, the saved server stays.
    saveRegister(unreachable);
    env.dialogs().queueBoxAnswer(BoxButton::No);
    QVERIFY(!openRegisterAtStart(CommandLine()));
    QCOMPARE(env.dialogs().boxes().size(), 1);
    QVERIFY2(env.dialogs().lastBox().request.text.contains(unreachable),
             qPrintable(env.dialogs().lastBox().request.text));
    QCOMPARE(savedRegister(), unreachable);

    // Accepted: "数据库连接…" opens; "改用本机 data.db" there opens the local register at once.
    env.dialogs().clear();
    env.dialogs().queueBoxAnswer(BoxButton::Yes);
    int windowsSeen = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            auto *useFile = window->findChild<QPushButton *>(QStringLiteral("useFileButton"));
            if (window->isVisible() && useFile) {
                ++windowsSeen;
                useFile->click();
            }
        }
    });
    poll.start(20);
    const std::unique_ptr<Database> database = openRegisterAtStart(CommandLine());
    poll.stop();
    QVERIFY(database);
    QCOMPARE(windowsSeen, 1);
    QCOMPARE(QFileInfo(database->connection->fileName()).canonicalFilePath(),
             QFileInfo(env.filePath(QStringLiteral("data.db"))).canonicalFilePath());
    QVERIFY(savedRegister().isEmpty());

    // A damaged saved address is offered for change too, instead of shutting the program out.
    saveRegister(QStringLiteral("postgresql://"));
    env.dialogs().clear();
    env.dialogs().queueBoxAnswer(BoxButton::No);
    QVERIFY(!openRegisterAtStart(CommandLine()));
    QCOMPARE(env.dialogs().lastBox().request.icon, BoxIcon::Question);
    // The command line's choice is not the saved one: its failure is only reported.
    env.dialogs().clear();
    CommandLine given;
    given.database = unreachable;
    QVERIFY(!openRegisterAtStart(given));
    QCOMPARE(env.dialogs().lastBox().request.icon, BoxIcon::Stop);
    saveRegister({});
}

void TestStartUp::toolkitTextsAreChineseAfterStartUp()
{
    prepareApplication();
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Save As"), QStringLiteral("另存为"));
}

namespace {

uint modeOf(const QString &path)
{
    struct stat status
    {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return status.st_mode & 0777;
}

} // namespace

void TestStartUp::filesTheProgramCreatesAreTheUsersAlone()
{
#ifdef _WIN32
    QSKIP("Windows keeps a user's files private by the access list of the profile, not by mode bits");
#endif
    Environment env;
    AsProgram packaged(true);
    // Started as the program starts (prepareApplication ran in initTestCase): the per-user
    // folder, the register and the files the engine makes beside it.
    QCOMPARE(runProgram(*qApp, check()), 0);
    const QString registerFile = paths::userDataFolder() + QStringLiteral("/data.db");
    QCOMPARE(modeOf(paths::userDataFolder()), 0700u);
    QCOMPARE(modeOf(registerFile), 0600u);
    {
        db::Connection connection(registerFile);
        connection.open();
        connection.execute(QStringLiteral("insert into data (a,b) values ('客户','甲')"));
        QCOMPARE(modeOf(registerFile + QStringLiteral("-wal")), 0600u);
        QCOMPARE(modeOf(registerFile + QStringLiteral("-shm")), 0600u);
        const QString backup = db::makeBackup(registerFile, QDateTime(QDate(2026, 5, 4), QTime(9, 0)));
        QCOMPARE(modeOf(backup), 0600u);
        QCOMPARE(modeOf(QFileInfo(backup).absolutePath()), 0700u);
    }
    // A register file made anywhere else by the program is private too.
    const QString elsewhere = env.filePath(QStringLiteral("made.db"));
    createDeliveredDatabase(elsewhere);
    QCOMPARE(modeOf(elsewhere), 0600u);

    // The settings folder made first by "保存当前列状态" of an older version (0755) becomes private
    // when the server password is kept in it.
    const QString settings = paths::userConfigFolder();
    QVERIFY(QDir().mkpath(settings));
    QVERIFY(QFile::setPermissions(settings, QFileDevice::Permissions(0x7755)));
    QCOMPARE(modeOf(settings), 0755u);
    QVERIFY(saveServerPassword(serverPasswordFilePath(),
                               {QStringLiteral("h"), 5432, QStringLiteral("d"), QStringLiteral("u")},
                               QStringLiteral("pw")));
    QCOMPARE(modeOf(settings), 0700u);
    QCOMPARE(modeOf(serverPasswordFilePath()), 0600u);
}

QTEST_MAIN(TestStartUp)
#include "test_startup.moc"
