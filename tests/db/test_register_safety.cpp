// The register loses nothing it confirmed: locks survive the file dialogs, several processes
// write one file, stale saves and deletes are refused, refused files stay as they were, engine
// errors reach the operator in Chinese, and backups restore.

#include "data/RegisterBackups.h"
#include "data/Schema.h"
#include "db/Backup.h"
#include "db/Connection.h"
#include "db/EngineErrors.h"
#include "db/Query.h"
#include "platform/Error.h"
#include "platform/QtDialogs.h"
#include "tests/db/RegisterWorkload.h"
#include "tests/support/TestServer.h"
#include "data/ServerRegister.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QPointer>
#include <QProcess>
#include <QThread>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace lianbu;

namespace {

QString workerPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/register_worker");
}

// The backup tool; a name alone is beside this test.
QString backupToolPath()
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral(LIANBU_BACKUP_TOOL));
}

// Runs the worker to its end; its exit code (-1 when it did not run).
int runWorker(const QStringList &arguments)
{
    QProcess worker;
    worker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    worker.start(workerPath(), arguments);
    if (!worker.waitForFinished(60000))
        return -1;
    return worker.exitStatus() == QProcess::NormalExit ? worker.exitCode() : -1;
}

// True once the process ended normally (waitForFinished alone says false for one that ended).
bool finished(QProcess &process)
{
    if (process.state() != QProcess::NotRunning)
        process.waitForFinished(60000);
    return process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit;
}

QByteArray checksum(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QStringList column(db::Connection &connection, const QString &sql)
{
    QStringList values;
    QSqlQuery query(connection.database());
    if (!query.exec(sql))
        qWarning() << query.lastError().text();
    while (query.next())
        values << query.value(0).toString();
    return values;
}

// The program's real file dialogs: the export's save dialog, the import's open dialog and the
// restore's choice of an existing backup.
enum class FileDialogKind { Save, Open, OpenExisting };

void showRealFileDialog(FileDialogKind kind)
{
    QtDialogService real;
    if (kind == FileDialogKind::Open) {
        OpenFileRequest request;
        request.caption = QStringLiteral("导入客户");
        request.filter = QStringLiteral("客户文件 (*.csv *.xlsx *.xls *.vcf);;所有文件 (*)");
        real.openFileName(nullptr, request);
        return;
    }
    SaveFileRequest request;
    request.filter = QStringLiteral("Microsoft Excel xls文件 (*.xls)");
    request.defaultSuffix = QStringLiteral("xls");
    request.openExisting = kind == FileDialogKind::OpenExisting;
    real.saveFileName(nullptr, request);
}

// Shows one of the program's real file dialogs, lets the operator browse into `folder` (where
// the register lies) and waits until the dialog listed the folder with icons and types;
// cancels. Returns the folder the dialog started in.
QString browseWithFileDialog(const QString &folder, FileDialogKind kind = FileDialogKind::Save)
{
    QString startedIn;
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, folder, &startedIn] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        startedIn = dialog->directory().absolutePath();
        auto *model = dialog->findChild<QFileSystemModel *>();
        bool loaded = false;
        if (model)
            QObject::connect(model, &QFileSystemModel::directoryLoaded, model,
                             [&loaded](const QString &) { loaded = true; });
        dialog->setDirectory(folder);
        // A folder that never reports loaded is still browsed: what it shows by then is asked.
        (void)QTest::qWaitFor([&] { return loaded; }, 10000);
        // Ask for what a view shows: the type and the icon of every entry.
        if (model) {
            const QModelIndex parent = model->index(folder);
            for (int row = 0; row < model->rowCount(parent); ++row) {
                model->data(model->index(row, 0, parent), Qt::DecorationRole);
                model->data(model->index(row, 2, parent), Qt::DisplayRole);
            }
        }
        dialog->selectFile(QStringLiteral("data.db"));
        QTest::qWait(300); // the icon gatherer works on a thread of its own
        dialog->reject();
    });
    timer->start();
    showRealFileDialog(kind);
    return startedIn;
}

// Lines of /proc/locks held by this process.
int locksHeldByThisProcess()
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    int count = 0;
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() > 5 && (words.at(4) == pid || (words.at(1) == "->" && words.size() > 6 && words.at(5) == pid)))
            ++count;
    }
    return count;
}

// Every customer a writer was told was saved is stored, none it deleted is back, and each
// writer's last confirmed value of its column of the shared record stands (no lost update).
test::Promises verifyNothingLost(db::Connection &connection, const QStringList &logs, int rounds)
{
    const test::Promises promises = test::readPromises(logs);
    [&] {
        QCOMPARE(promises.present.size(), 2 * rounds - promises.absent.size());
        const QStringList stored = column(connection, QStringLiteral("select b from data"));
        for (const QString &name : promises.present)
            QVERIFY2(stored.contains(name), qPrintable(name + QStringLiteral(" was confirmed and is gone")));
        for (const QString &name : promises.absent)
            QVERIFY2(!stored.contains(name), qPrintable(name + QStringLiteral(" was deleted and is back")));
        for (const int writerNo : {1, 2}) {
            const QString col = test::RegisterWorkload::sharedColumn(writerNo);
            QCOMPARE(column(connection, QStringLiteral("select %1 from data where b='%2'")
                                            .arg(col, test::RegisterWorkload::sharedShortName())),
                     QStringList{promises.sharedValues.value(col)});
        }
    }();
    return promises;
}

} // namespace

class TestRegisterSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { test::enterTestMode(); }

    void fileDialogKeepsTheRegisterLocked()
    {
        test::Environment env;
        const QString path = test::createDataDb(env.path());
        QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
        db::Connection connection(path);
        connection.open();
        connection.execute(QStringLiteral("insert into data (a, b) values ('VIP', '一')"));
        QVERIFY(QFileInfo::exists(path + QStringLiteral("-wal")));
        // Windows lists no locks, and its locks belong to the handle that took them: another
        // handle's closing cannot drop them. Where they are listed (/proc/locks), they are counted.
#ifdef Q_OS_WIN
        const bool countLocks = false;
#else
        const bool countLocks = true;
#endif
        const int locksBefore = countLocks ? locksHeldByThisProcess() : 0;
        QVERIFY(!countLocks || locksBefore > 0);

        for (const FileDialogKind kind : {FileDialogKind::Save, FileDialogKind::Open, FileDialogKind::OpenExisting}) {
            const QString startedIn = browseWithFileDialog(env.path(), kind);
            QVERIFY2(!countLocks || locksHeldByThisProcess() == locksBefore, qPrintable(QString::number(int(kind))));
            // The dialog never starts in the working folder, where the register lies.
            QVERIFY2(startedIn != QDir(env.path()).absolutePath(), qPrintable(startedIn));
            QCOMPARE(startedIn,
                     QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).absolutePath());
        }
        // Another process that reads and closes believes itself alone only when this one's
        // locks are gone: it would then checkpoint and remove the -wal this one writes into.
        QCOMPARE(runWorker({QStringLiteral("read"), path, QStringLiteral("3")}), 0);
        QVERIFY(QFileInfo::exists(path + QStringLiteral("-wal")));
        connection.execute(QStringLiteral("insert into data (a, b) values ('VIP', '二')"));
        connection.close();
        db::Connection again(path);
        again.open();
        QCOMPARE(column(again, QStringLiteral("select b from data order by rid")), QStringList({"一", "二"}));
    }

    void threeProcessesKeepEveryConfirmedRecord()
    {
        test::Environment env;
        const QString path = test::createDataDb(env.path());
        db::Connection connection(path);
        connection.open();
        connection.execute(QStringLiteral("insert into data (a, b, e, f) values ('共享', '%1', '', '')")
                               .arg(test::RegisterWorkload::sharedShortName()));

        const QString ownLog = env.filePath(QStringLiteral("writer1.log"));
        const QString otherLog = env.filePath(QStringLiteral("writer2.log"));
        constexpr int kRounds = 24;
        QProcess writer, reader;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(workerPath(),
                     {QStringLiteral("write"), path, QStringLiteral("2"), QString::number(kRounds), otherLog});
        reader.start(workerPath(), {QStringLiteral("read"), path, QStringLiteral("60")});
        QVERIFY(writer.waitForStarted() && reader.waitForStarted());

        // This process is the operator who keeps opening the export dialog in the register's
        // folder between their own adds, saves and deletes.
        test::RegisterWorkload work(connection, 1, ownLog);
        for (int i = 0; i < kRounds; ++i) {
            if (i % 6 == 0)
                browseWithFileDialog(env.path());
            work.round(i);
        }
        QVERIFY(finished(writer) && finished(reader));
        QCOMPARE(writer.exitCode(), 0);
        QCOMPARE(reader.exitCode(), 0);
        connection.close();

        db::Connection check(path);
        check.open();
        QCOMPARE(column(check, QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
        verifyNothingLost(check, {ownLog, otherLog}, kRounds);
        if (QTest::currentTestFailed())
            return;
        // Ids come from the sequence: no record may sit above it.
        const QStringList top = column(
            check, QStringLiteral("select (select max(rid) from data) <= seq from sqlite_sequence where name='data'"));
        QCOMPARE(top, QStringList{QStringLiteral("1")});
    }

    // Two programs on one server register add, save and delete at once: every confirmed record
    // is there at the end, no deleted one came back, and neither operator's last confirmed
    // change of the shared record was overwritten (the optimistic check holds on the server).
    void twoProcessesOnTheServerKeepEveryConfirmedRecord()
    {
        LIANBU_REQUIRE_TEST_SERVER();
        test::Environment env;
        const db::RegisterAddress address = test::createTestServerDatabase();
        createServerRegister(address);
        const QString register_ = db::formatRegisterAddress(address);
        db::Connection connection(register_);
        connection.open();
        connection.execute(QStringLiteral("insert into data (a, b, e, f) values ('共享', '%1', '', '')")
                               .arg(test::RegisterWorkload::sharedShortName()));

        const QString ownLog = env.filePath(QStringLiteral("writer1.log"));
        const QString otherLog = env.filePath(QStringLiteral("writer2.log"));
        constexpr int kRounds = 40;
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(workerPath(),
                     {QStringLiteral("write"), register_, QStringLiteral("2"), QString::number(kRounds), otherLog});
        QVERIFY(writer.waitForStarted());
        test::RegisterWorkload work(connection, 1, ownLog);
        for (int i = 0; i < kRounds; ++i)
            work.round(i);
        QVERIFY(finished(writer));
        QCOMPARE(writer.exitCode(), 0);

        const test::Promises promises = verifyNothingLost(connection, {ownLog, otherLog}, kRounds);
        qInfo("refused saves of the shared record (another operator saved first): %d", promises.refused);
    }

    void staleSavesAndDeletesAreRefused()
    {
        test::TestDatabase db(false);
        db::Connection first(db.path()), second(db.path());
        first.open();
        second.open();
        first.execute(QStringLiteral("insert into data (a, b, e, f) values ('VIP', '张三', '经理', '1390')"));
        first.execute(QStringLiteral("insert into data (a, b) values ('VIP', '李四')"));
        db::Query a(&first), b(&second);
        a.setSql(QStringLiteral("select * from data"));
        b.setSql(QStringLiteral("select * from data"));
        a.open();
        b.open();

        // A saves 职务; B then saves 手机 from what it read before: refused, A's change stays.
        a.edit();
        a.fieldByName(QStringLiteral("e")).setAsString(QStringLiteral("总经理"));
        a.post();
        b.edit();
        b.fieldByName(QStringLiteral("f")).setAsString(QStringLiteral("1391"));
        try {
            b.post();
            QFAIL("a stale save was written");
        } catch (const Error &error) {
            QVERIFY(error.message().startsWith(QStringLiteral("Row cannot be located for updating")));
            QVERIFY2(error.operatorText().contains(QStringLiteral("已被其他操作员修改")),
                     qPrintable(error.operatorText()));
        }
        QVERIFY(b.state() == db::DataSetState::Browse);
        QCOMPARE(column(first, QStringLiteral("select e || '/' || f from data where b='张三'")),
                 QStringList{QStringLiteral("总经理/1390")});
        // After reading again the save goes through.
        b.open();
        b.edit();
        b.fieldByName(QStringLiteral("f")).setAsString(QStringLiteral("1391"));
        b.post();
        QCOMPARE(column(first, QStringLiteral("select e || '/' || f from data where b='张三'")),
                 QStringList{QStringLiteral("总经理/1391")});

        // A delete of a row changed since it was read is refused and the row stays.
        a.first();
        try {
            a.deleteRecord();
            QFAIL("a stale delete went through");
        } catch (const Error &error) {
            QVERIFY(error.operatorText().contains(QStringLiteral("没有删除")));
        }
        QCOMPARE(column(first, QStringLiteral("select count(*) from data")), QStringList{QStringLiteral("2")});

        // A row deleted by the other: a save says so, a delete says so and drops it from the list.
        b.last();
        QCOMPARE(b.fieldByName(QStringLiteral("b")).asString(), QStringLiteral("李四"));
        a.open();
        a.last();
        a.deleteRecord();
        b.edit();
        b.fieldByName(QStringLiteral("c")).setAsString(QStringLiteral("新名字"));
        try {
            b.post();
            QFAIL("a save into a deleted row was reported as done");
        } catch (const Error &error) {
            QVERIFY(error.operatorText().contains(QStringLiteral("已被其他操作员删除")));
        }
        QCOMPARE(b.recordCount(), 2);
        try {
            b.deleteRecord();
            QFAIL("a delete of a deleted row was reported as done");
        } catch (const Error &error) {
            QVERIFY(error.operatorText().contains(QStringLiteral("已被其他操作员删除")));
        }
        QCOMPARE(b.recordCount(), 1);

        // Nulls and empty texts as read are matched exactly: an untouched record saves.
        first.execute(QStringLiteral("insert into data (a, b, c) values ('VIP', '王五', '')"));
        b.open();
        b.last();
        b.edit();
        b.fieldByName(QStringLiteral("z")).setAsString(QStringLiteral("备注"));
        b.post();
        QCOMPARE(column(first, QStringLiteral("select z from data where b='王五'")),
                 QStringList{QStringLiteral("备注")});
    }

    void refusedFilesStayByteForByte_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << "empty" << QStringLiteral("空的");
        QTest::newRow("garbage") << "garbage" << QStringLiteral("不是数据库");
        QTest::newRow("foreign") << "foreign" << QStringLiteral("不是联簿宝的数据库");
        QTest::newRow("foreign in WAL mode") << "foreign-wal" << QStringLiteral("不是联簿宝的数据库");
        QTest::newRow("damaged") << "damaged" << QStringLiteral("损坏");
    }

    void refusedFilesStayByteForByte()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("data.db"));
        if (kind == QLatin1String("empty")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (kind == QLatin1String("garbage")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("SQLite format 3").append('\0').append(QByteArray(4000, 'x')));
        } else if (kind == QLatin1String("foreign")) {
            QVERIFY(test::execOnFile(
                path, {QStringLiteral("create table data (x)"), QStringLiteral("insert into data values (1)")}));
        } else if (kind == QLatin1String("foreign-wal")) {
            QVERIFY(test::execOnFile(path, {QStringLiteral("PRAGMA journal_mode=WAL"),
                                            QStringLiteral("create table notes (x)"),
                                            QStringLiteral("insert into notes values (1)")}));
        } else {
            test::createDataDb(dir.path());
            QStringList fill{QStringLiteral("BEGIN")};
            for (int i = 0; i < 400; ++i)
                fill << QStringLiteral("insert into data (a, b, z) values ('VIP', 'n%1', '%2')")
                            .arg(i)
                            .arg(QString(150, QLatin1Char('z')));
            fill << QStringLiteral("COMMIT");
            QVERIFY(test::execOnFile(path, fill));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const qint64 pages = file.size() / 4096;
            QVERIFY(pages > 6);
            for (qint64 page = 3; page < pages; page += 2) {
                file.seek(page * 4096);
                file.write(QByteArray(64, char(0xA5))); // page headers and cell pointers overwritten
            }
        }
        const QByteArray before = checksum(path);
        const QStringList entriesBefore = folderEntries(dir.path());

        db::Connection connection(path);
        connection.setContentCheck(deliveredSchemaProblem);
        try {
            connection.open();
            QFAIL("the file was accepted");
        } catch (const Error &error) {
            QVERIFY2(error.operatorText().contains(path) && error.operatorText().contains(reason),
                     qPrintable(error.operatorText()));
        }
        QVERIFY(!connection.isOpen());
        QCOMPARE(checksum(path), before);
        QCOMPARE(folderEntries(dir.path()), entriesBefore);
    }

    void readOnlyFilesAreRefusedBeforeTheEngineSeesThem()
    {
        if (const QString why = test::whyReadOnlyCannotBeSet(); !why.isEmpty())
            QSKIP(qPrintable(why));
        test::TestDatabase db(false);
        const QByteArray before = checksum(db.path());
        QFile::setPermissions(db.path(), QFileDevice::ReadOwner);
        db::Connection connection(db.path());
        try {
            connection.open();
            QFAIL("a read-only file was accepted");
        } catch (const Error &error) {
            QVERIFY(error.operatorText().contains(db.path()) && error.operatorText().contains(QStringLiteral("只读")));
        }
        QFile::setPermissions(db.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(checksum(db.path()), before);
        QCOMPARE(folderEntries(db.folder()), QStringList{QStringLiteral("data.db")});
    }

    void engineErrorsReachTheOperatorInChinese()
    {
        test::TestDatabase db(false);
        db::Connection connection(db.path());
        connection.open();
        auto operatorTextOf = [&](const QString &sql) {
            try {
                connection.execute(sql);
            } catch (const Error &error) {
                return error.operatorText();
            }
            return QString();
        };
        // An over-long LIKE pattern (the engine checks it against a row).
        connection.execute(QStringLiteral("insert into data (a, b) values ('VIP', 'x')"));
        const QString pattern = QString(60000, QLatin1Char('%'));
        QString text = operatorTextOf(QStringLiteral("select count(*) from data where b like '%1'").arg(pattern));
        QVERIFY2(text.contains(QStringLiteral("查询内容太长")), qPrintable(text));
        // A full database, named.
        connection.execute(QStringLiteral("PRAGMA max_page_count=8"));
        text = operatorTextOf(QStringLiteral(
            "insert into data (a, b, z) select 'VIP', 'x', printf('%.190c', 'z') from "
            "(with recursive c(n) as (select 1 union all select n + 1 from c where n < 2000) select n from c)"));
        QVERIFY2(text.contains(QStringLiteral("磁盘已满")) && text.contains(db.path()), qPrintable(text));
        connection.close();

        // A connection that may not write.
        db::Connection other(db.path());
        other.open();
        QSqlQuery reading(other.database());
        QVERIFY(reading.exec(QStringLiteral("PRAGMA query_only=1")));
        const Error readOnly = db::engineError(
            [&] {
                QSqlQuery q(other.database());
                q.exec(QStringLiteral("delete from data"));
                return q.lastError();
            }(),
            db.path());
        QVERIFY2(readOnly.operatorText().contains(QStringLiteral("无法写入"))
                     && readOnly.operatorText().contains(db.path()),
                 qPrintable(readOnly.operatorText()));
        // A busy register: another connection holds the write lock longer than the busy timeout.
        QSqlQuery holder(other.database());
        QVERIFY(holder.exec(QStringLiteral("PRAGMA query_only=0")));
        QVERIFY(holder.exec(QStringLiteral("BEGIN IMMEDIATE")));
        db::Connection waiting(db.path());
        waiting.setBusyTimeout(200);
        waiting.open();
        try {
            waiting.execute(QStringLiteral("insert into data (a, b) values ('VIP', 'y')"));
            QFAIL("a write went through a held lock");
        } catch (const Error &error) {
            QVERIFY2(error.operatorText().contains(QStringLiteral("占用")) && error.operatorText().contains(db.path()),
                     qPrintable(error.operatorText()));
        }
        QVERIFY(holder.exec(QStringLiteral("ROLLBACK")));
    }

    void backupWhileAnotherProcessWritesRestoresEverything()
    {
        test::Environment env;
        const QString path = test::createDataDb(env.path());
        {
            db::Connection seed(path);
            seed.open();
            seed.execute(QStringLiteral("insert into data (a, b) values ('共享', '%1')")
                             .arg(test::RegisterWorkload::sharedShortName()));
        }
        const QString log = env.filePath(QStringLiteral("writer.log"));
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(workerPath(), {QStringLiteral("write"), path, QStringLiteral("2"), QStringLiteral("40"), log});
        QVERIFY(writer.waitForStarted());
        // Wait until the writer is well under way, then take what is committed and back up.
        QVERIFY(QTest::qWaitFor([&] { return test::readPromises({log}).present.size() >= 8; }, 30000));
        QStringList committed;
        {
            db::Connection reading(path);
            reading.open();
            committed = column(reading, QStringLiteral("select b from data"));
        }
        const QDateTime now(QDate(2026, 12, 9), QTime(9, 0, 0));
        const QString copy = db::makeBackup(path, now);
        QVERIFY(finished(writer));
        QCOMPARE(writer.exitCode(), 0);

        // Restore into a register nobody uses.
        const QString other = env.filePath(QStringLiteral("other/data.db"));
        QVERIFY(QDir().mkpath(QFileInfo(other).absolutePath()));
        test::createDataDb(QFileInfo(other).absolutePath());
        const QByteArray replacedBefore = checksum(other);
        const QString kept = db::restoreDatabase(copy, other, deliveredSchemaProblem, now);
        QCOMPARE(checksum(kept), replacedBefore);
        db::Connection restored(other);
        restored.setContentCheck(deliveredSchemaProblem);
        restored.open();
        QCOMPARE(column(restored, QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
        // Records deleted between that reading and the backup are rightly missing.
        const QStringList deleted = test::readPromises({log}).absent;
        const QStringList there = column(restored, QStringLiteral("select b from data"));
        for (const QString &name : committed)
            QVERIFY2(there.contains(name) || deleted.contains(name), qPrintable(name));
        QVERIFY(there.size() >= committed.size() - deleted.size());

        // While an instance holds the register, a restore is refused and changes nothing.
        try {
            db::restoreDatabase(copy, other, deliveredSchemaProblem, now.addSecs(60));
            QFAIL("a register in use was replaced");
        } catch (const Error &error) {
            QVERIFY2(error.operatorText().contains(QStringLiteral("正被")), qPrintable(error.operatorText()));
        }
        QVERIFY(!QFileInfo::exists(other + QStringLiteral(".replaced-20261209-090100")));
        QCOMPARE(column(restored, QStringLiteral("select count(*) from data")),
                 QStringList{QString::number(there.size())});
        restored.close();

        // A damaged or foreign backup is never put in place.
        const QString foreign = env.filePath(QStringLiteral("foreign.db"));
        QVERIFY(test::execOnFile(foreign, {QStringLiteral("create table notes (x)")}));
        const QByteArray otherBefore = checksum(other);
        QVERIFY_THROWS_EXCEPTION(Error, db::restoreDatabase(foreign, other, deliveredSchemaProblem, now.addSecs(120)));
        QCOMPARE(checksum(other), otherBefore);

        // A register whose header was destroyed, the engine cannot read it any more: the restore
        // still waits for every instance that has it open, then puts the backup in place.
        QProcess holder;
        holder.start(workerPath(), {QStringLiteral("hold"), other, QStringLiteral("60000")});
        QVERIFY(holder.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return holder.canReadLine() || holder.state() != QProcess::Running; }, 20000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("open"));
        {
            QFile file(other);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QCOMPARE(file.write(QByteArray(100, char(0x5A))), 100);
        }
        const QByteArray damaged = checksum(other);
        try {
            db::restoreDatabase(copy, other, deliveredSchemaProblem, now.addSecs(180));
            QFAIL("a damaged register in use was replaced");
        } catch (const Error &error) {
            QVERIFY2(error.operatorText().contains(QStringLiteral("正被")), qPrintable(error.operatorText()));
        }
        QCOMPARE(checksum(other), damaged);
        holder.kill();
        QVERIFY(holder.waitForFinished(10000));
        const QString damagedKept = db::restoreDatabase(copy, other, deliveredSchemaProblem, now.addSecs(240));
        QCOMPARE(checksum(damagedKept), damaged);
        db::Connection again(other);
        again.setContentCheck(deliveredSchemaProblem);
        again.open();
        QCOMPARE(column(again, QStringLiteral("select count(*) from data")),
                 QStringList{QString::number(there.size())});
    }

    void operatorBacksUpAndRestoresThroughTheMenu()
    {
        test::Environment env;
        const QString path = test::createDataDb(env.path());
        db::Connection program(path);
        program.open();
        program.execute(QStringLiteral("insert into data (a, b) values ('VIP', '备份前')"));

        backUpRegister(nullptr, path);
        QCOMPARE(env.dialogs().boxes().size(), 1);
        const QStringList backups = db::listBackups(db::backupFolder(path));
        QCOMPARE(backups.size(), 1);
        QVERIFY(env.dialogs().boxes().at(0).request.text.contains(QDir::toNativeSeparators(backups.first())));
        program.execute(QStringLiteral("insert into data (a, b) values ('VIP', '备份后')"));

        // Another instance still has the register: refused, this one works on with its data.
        db::Connection otherInstance(path);
        otherInstance.open();
        int closed = 0, reopened = 0;
        auto close = [&] {
            ++closed;
            program.close();
        };
        auto reopen = [&] {
            ++reopened;
            program.open();
        };
        env.dialogs().queueSaveFileName(backups.first());
        env.dialogs().queueBoxAnswer(BoxButton::Yes);
        restoreRegister(nullptr, path, close, reopen);
        QCOMPARE(closed, 1);
        QCOMPARE(reopened, 1);
        QVERIFY(env.dialogs().saveFiles().last().request.openExisting);
        QCOMPARE(env.dialogs().lastBox().request.icon, BoxIcon::Stop);
        QVERIFY(env.dialogs().lastBox().request.text.contains(QStringLiteral("数据没有恢复")));
        QCOMPARE(column(program, QStringLiteral("select b from data")), QStringList({"备份前", "备份后"}));
        otherInstance.close();

        // Alone: restored, the replaced file kept and named.
        env.dialogs().queueSaveFileName(backups.first());
        env.dialogs().queueBoxAnswer(BoxButton::Yes);
        restoreRegister(nullptr, path, close, reopen);
        QCOMPARE(reopened, 2);
        QCOMPARE(column(program, QStringLiteral("select b from data")), QStringList({"备份前"}));
        const QString said = env.dialogs().lastBox().request.text;
        QVERIFY2(said.contains(QStringLiteral("原来的数据库文件保留为")), qPrintable(said));
        const QStringList kept = QDir(env.path()).entryList({QStringLiteral("data.db.replaced-*")});
        QCOMPARE(kept.size(), 1);
        program.close();
        db::Connection old(env.filePath(kept.first()));
        old.open();
        QCOMPARE(column(old, QStringLiteral("select b from data")), QStringList({"备份前", "备份后"}));
        old.close();

        // Answering No changes nothing and closes nothing.
        program.open();
        env.dialogs().queueSaveFileName(backups.first());
        env.dialogs().queueBoxAnswer(BoxButton::No);
        restoreRegister(nullptr, path, close, reopen);
        QCOMPARE(closed, 2);

        // The daily backup at login runs on its own thread; a second one that day makes none.
        QDir(db::backupFolder(path)).removeRecursively();
        const qsizetype boxes = env.dialogs().boxes().size();
        for (int login = 0; login < 2; ++login) {
            QPointer<QThread> thread = backUpRegisterDaily(nullptr, path);
            QVERIFY(QTest::qWaitFor([&] { return thread.isNull(); }, 10000));
        }
        QCOMPARE(db::listBackups(db::backupFolder(path)).size(), 1);
        QCOMPARE(env.dialogs().boxes().size(), boxes); // nothing to say when it worked
    }

    void dailyBackupsKeepTheLastSeven()
    {
        test::TestDatabase db(false);
        QDateTime day(QDate(2026, 12, 1), QTime(8, 0, 0));
        QStringList made;
        for (int i = 0; i < 9; ++i) {
            made << db::makeDailyBackup(db.path(), day.addDays(i));
            // A second login the same day makes none.
            QCOMPARE(db::makeDailyBackup(db.path(), day.addDays(i).addSecs(3600)), QString());
        }
        const QStringList kept = db::listBackups(db::backupFolder(db.path()));
        QCOMPARE(kept, made.mid(2));
        db::verifyDatabaseFile(kept.last(), deliveredSchemaProblem);
    }

    void aDamagedRegisterKeepsEveryGoodBackup()
    {
        test::Environment env;
        const QString path = test::createDataDb(env.path());
        const QDateTime day(QDate(2026, 12, 1), QTime(8, 0, 0));
        for (int i = 0; i < 7; ++i)
            QVERIFY(!db::makeDailyBackup(path, day.addDays(i), 7, deliveredSchemaProblem).isEmpty());
        const QStringList good = db::listBackups(db::backupFolder(path));
        QCOMPARE(good.size(), 7);
        QVERIFY(test::damageCustomerPage(path));

        // The daily backup at login, the menu's and lianbu-backup's each refuse to keep a copy.
        QVERIFY_THROWS_EXCEPTION(Error, db::makeDailyBackup(path, day.addDays(8), 7, deliveredSchemaProblem));
        QPointer<QThread> thread = backUpRegisterDaily(nullptr, path);
        QVERIFY(QTest::qWaitFor([&] { return thread.isNull(); }, 20000));
        QCOMPARE(env.dialogs().boxes().size(), 1);
        QString said = env.dialogs().lastBox().request.text;
        QVERIFY2(said.contains(QStringLiteral("今天的自动备份没有完成")) && said.contains(QStringLiteral("已损坏")),
                 qPrintable(said));
        backUpRegister(nullptr, path);
        QCOMPARE(env.dialogs().boxes().size(), 2);
        said = env.dialogs().lastBox().request.text;
        QCOMPARE(env.dialogs().lastBox().request.icon, BoxIcon::Stop);
        QVERIFY2(said.contains(QStringLiteral("数据没有备份")) && said.contains(QStringLiteral("恢复数据")),
                 qPrintable(said));
        QProcess tool;
        tool.start(backupToolPath(), {QStringLiteral("--register"), path, QStringLiteral("backup")});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY2(QString::fromUtf8(tool.readAllStandardError()).contains(QStringLiteral("备份")),
                 "lianbu-backup gave no reason");
        tool.start(backupToolPath(), {QStringLiteral("--register"), path, QStringLiteral("backup-to"),
                                      env.filePath(QStringLiteral("copy.db"))});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY(!QFileInfo::exists(env.filePath(QStringLiteral("copy.db"))));

        // The seven good backups are all there and sound; no partial copy lies beside them.
        QCOMPARE(db::listBackups(db::backupFolder(path)), good);
        QCOMPARE(QDir(db::backupFolder(path)).entryList(QDir::Files | QDir::Hidden).size(), qsizetype(7));
        for (const QString &backup : good)
            db::verifyDatabaseFile(backup, deliveredSchemaProblem);
    }

    void aClockBehindTheNewestBackupKeepsTheNewOne()
    {
        test::TestDatabase db(false);
        // Backups made while the clock ran a month ahead.
        const QDateTime ahead(QDate(2027, 1, 10), QTime(9, 0, 0));
        QStringList made;
        for (int i = 0; i < 7; ++i)
            made << db::makeBackup(db.path(), ahead.addDays(i));
        // The clock put right: every new backup stays, the oldest ones make room.
        const QDateTime right(QDate(2026, 12, 10), QTime(9, 0, 0));
        for (int i = 0; i < 3; ++i) {
            const QString backup = db::makeBackup(db.path(), right.addSecs(i));
            QVERIFY2(QFileInfo::exists(backup), qPrintable(backup));
            made << backup;
            QCOMPARE(db::listBackups(db::backupFolder(db.path())), made.mid(i + 1));
        }
        // The daily backup of a new day behind the newest name is kept too.
        const QString daily = db::makeDailyBackup(db.path(), right.addDays(1));
        QVERIFY(QFileInfo::exists(daily));
        QCOMPARE(db::listBackups(db::backupFolder(db.path())).last(), daily);
    }
};

QTEST_MAIN(TestRegisterSafety)
#include "test_register_safety.moc"
