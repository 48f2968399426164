// Rights in the windows: the super administrator sets them in 用户管理, and the main window
// offers an operator only what he may do, saying why for the rest.
#include "tests/support/FormWidgets.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/TestServer.h"

#include "customers/CustomerExport.h"
#include "customers/PrintCommand.h"
#include "customers/RecycleBinWindow.h"
#include "data/RegisterBackups.h"
#include "db/Backup.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "export/RegisterAccess.h"
#include "grid/DataGrid.h"
#include "platform/Error.h"
#include "data/ChangeLog.h"
#include "data/CustomerStore.h"
#include "data/OperatorRights.h"
#include "data/OperatorStore.h"
#include "operators/OperatorAdminDialog.h"
#include "operators/OperationLogWindow.h"
#include "operators/OperatorRightsWindow.h"
#include "export/ExchangeFormats.h"
#include "export/XlsxFormat.h"
#include "platform/Application.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

using namespace lianbu;
using namespace lianbu::test;
using data::Right;

namespace {

OperatorAdminDialog *openUnlockedAdmin(MainWindowHarness &h)
{
    data::OperatorStore(*h.data->connection).setPassword(superAdministratorName(), QStringLiteral("Adm1n"));
    h.form->manageOperatorsAction->trigger();
    OperatorAdminDialog *w = openWindowOf<OperatorAdminDialog>();
    if (!w)
        return nullptr;
    typeText(widgets(w)->adminPasswordEdit, QStringLiteral("Adm1n"));
    QTest::mouseClick(widgets(w)->unlockButton, Qt::LeftButton);
    return w->unlocked() ? w : nullptr;
}

bool chooseName(OperatorAdminDialog *w, const QString &name)
{
    QListWidget *list = widgets(w)->operatorList;
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->text() == name) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
            return true;
        }
    }
    return false;
}

QPushButton *entryButton(MainWindowHarness &h, const char *name)
{
    return h.form->entryPanel()->findChild<QPushButton *>(QLatin1String(name));
}

} // namespace

class TestSessionRights : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void theSuperAdministratorSetsAnOperatorsRoleAndGrants()
    {
        MainWindowHarness h;
        data::OperatorStore(*h.data->connection).addOperator(QStringLiteral("张三"));
        h.form->manageOperatorsAction->trigger();
        OperatorAdminDialog *locked = openWindowOf<OperatorAdminDialog>();
        QVERIFY(locked);
        QVERIFY(!locked->rightsButton()->isEnabled());
        locked->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        OperatorAdminDialog *w = openUnlockedAdmin(h);
        QVERIFY(w);
        QVERIFY(w->rightsButton()->isEnabled());
        // The super administrator's own rights are not for setting.
        QVERIFY(chooseName(w, superAdministratorName()));
        QTest::mouseClick(w->rightsButton(), Qt::LeftButton);
        QVERIFY(!w->findChild<operators::OperatorRightsWindow *>());
        QVERIFY(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("超级管理员")));

        QVERIFY(chooseName(w, QStringLiteral("张三")));
        QTest::mouseClick(w->rightsButton(), Qt::LeftButton);
        auto *rights = w->findChild<operators::OperatorRightsWindow *>();
        QVERIFY(rights);
        // It opens on what is stored: a new operator is a 业务员 without grants.
        QCOMPARE(rights->roleBox()->currentText(), QStringLiteral("业务员"));
        QVERIFY(!rights->grantBox(Right::Export)->isChecked());
        rights->roleBox()->setCurrentIndex(rights->roleBox()->findText(QStringLiteral("查询员")));
        rights->grantBox(Right::Export)->setChecked(true);
        QTest::mouseClick(rights->saveButton(), Qt::LeftButton);
        const data::Rights stored = data::rightsOf(*h.data->connection, QStringLiteral("张三"));
        QCOMPARE(stored.role, data::Role::Viewer);
        QVERIFY(stored.allows(Right::Export));
        QVERIFY(!stored.allows(Right::Edit));
        QVERIFY(!stored.allows(Right::Delete));
        QCOMPARE(h.env.dialogs().lastBox().request.text, QStringLiteral("用户“张三”的权限已保存。"));

        // A 管理员 may do every single right already: the boxes are not offered.
        QTest::mouseClick(w->rightsButton(), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        rights = w->findChild<operators::OperatorRightsWindow *>();
        QVERIFY(rights);
        QVERIFY(rights->grantBox(Right::Export)->isChecked());
        rights->roleBox()->setCurrentIndex(rights->roleBox()->findText(QStringLiteral("管理员")));
        QVERIFY(!rights->grantBox(Right::Delete)->isEnabled());
        rights->close();
    }

    void theMainWindowOffersOnlyWhatTheOperatorMayDo()
    {
        MainWindowHarness h;
        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("华联"))});
        data::OperatorStore operators(*h.data->connection);
        operators.addOperator(QStringLiteral("查询员甲"));
        operators.setRights(QStringLiteral("查询员甲"), {data::Role::Viewer, 0, false});
        operators.addOperator(QStringLiteral("业务员乙"));

        const MainWindowWidgets *ui = widgets(h.form.get());
        h.form->openSession(QStringLiteral("查询员甲"), 1);
        QVERIFY(!ui->newButton->isEnabled());
        QCOMPARE(ui->newButton->toolTip(), data::refusalText(Right::Edit));
        QVERIFY(!ui->exportButton->isEnabled());
        QCOMPARE(ui->exportButton->toolTip(), data::refusalText(Right::Export));
        QVERIFY(!ui->printButton->isEnabled());
        QVERIFY(!h.form->backUpDataAction->isEnabled());
        QCOMPARE(h.form->restoreDataAction->toolTip(), data::refusalText(Right::BackupRestore));
        QAction *import = h.form->findChild<QAction *>(QStringLiteral("importAction"));
        QVERIFY(import);
        QVERIFY(!import->isEnabled());
        // Choosing a row does not offer 删 除, and a customer opened in the panel cannot be saved.
        h.form->showAllRecords();
        h.waitForSearch();
        emit h.form->customerList()->rowClicked();
        QVERIFY(!ui->deleteButton->isEnabled());
        QCOMPARE(ui->deleteButton->toolTip(), data::refusalText(Right::Delete));
        h.form->entryPanel()->loadRecordIntoPanel(*h.data->customerStore->read(h.data->customerList->keys().front()));
        QVERIFY(!entryButton(h, "modifyButton")->isEnabled());
        QVERIFY(!entryButton(h, "addButton")->isEnabled());
        // A command reached another way is refused with the same words, and does nothing more.
        const qsizetype boxes = h.env.dialogs().boxes().size();
        h.form->exportCustomerList();
        QCOMPARE(h.env.dialogs().boxes().size(), boxes + 1);
        QCOMPARE(h.env.dialogs().lastBox().request.text, data::refusalText(Right::Export));

        // 业务员: adds, changes and prints; no delete, export or backup.
        h.form->openSession(QStringLiteral("业务员乙"), 2);
        QVERIFY(ui->newButton->isEnabled());
        QVERIFY(ui->printButton->isEnabled());
        QVERIFY(!ui->exportButton->isEnabled());
        QVERIFY(!h.form->backUpDataAction->isEnabled());
        h.form->entryPanel()->loadRecordIntoPanel(*h.data->customerStore->read(h.data->customerList->keys().front()));
        QVERIFY(entryButton(h, "modifyButton")->isEnabled());
        emit h.form->customerList()->rowClicked();
        QVERIFY(!ui->deleteButton->isEnabled());

        // The super administrator: everything.
        h.form->openSession(superAdministratorName(), 3);
        for (QWidget *button : {static_cast<QWidget *>(ui->newButton), static_cast<QWidget *>(ui->exportButton),
                                static_cast<QWidget *>(ui->printButton)})
            QVERIFY(button->isEnabled());
        QVERIFY(h.form->backUpDataAction->isEnabled() && import->isEnabled());
        emit h.form->customerList()->rowClicked();
        QVERIFY(ui->deleteButton->isEnabled());
        QVERIFY(ui->exportButton->toolTip() != data::refusalText(Right::Export));
        QVERIFY(h.form->findChild<QAction *>(QStringLiteral("operationLogAction"))->isEnabled());
    }

    void theOperationLogShowsWhoChangedWhatFiltersPagesAndExports()
    {
        MainWindowHarness h;
        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("华联"))});
        data::OperatorStore(*h.data->connection).addOperator(QStringLiteral("业务员乙"));
        QAction *action = h.form->findChild<QAction *>(QStringLiteral("operationLogAction"));
        QVERIFY(action);

        // A 业务员 may change a customer but not read the log.
        h.form->openSession(QStringLiteral("业务员乙"), 1);
        QVERIFY(!action->isEnabled());
        QCOMPARE(action->toolTip(), data::refusalText(Right::ViewLog));
        data::CustomerStore &store = *h.data->customerStore;
        h.form->showAllRecords();
        h.waitForSearch();
        const qint64 key = h.data->customerList->keys().front();
        // Many older entries, so the log has pages (after the 业务员 added, oldest).
        {
            data::ChangeLog log(*h.data->connection);
            data::runLogged(*h.data->connection, [&] {
                for (int i = 0; i < 2 * operators::kLogPerPage + 20; ++i) {
                    data::LogEntry entry;
                    entry.time = QDateTime(QDate(2026, 1, 5), QTime(9, 0)).addSecs(i);
                    entry.operatorName = QStringLiteral("管理员丙");
                    entry.kind = data::LogKind::Exported;
                    entry.subject = QStringLiteral("第%1个文件.xlsx").arg(i);
                    log.write(entry);
                }
            });
        }
        QCOMPARE(store.modify(*store.read(key), {{QStringLiteral("g"), QStringLiteral("0571-2")}}),
                 data::CustomerStore::Outcome::Done);

        h.form->openSession(superAdministratorName(), 2);
        QVERIFY(action->isEnabled());
        action->trigger();
        auto *window = h.form->findChild<operators::OperationLogWindow *>();
        QVERIFY(window);
        // Pages are read on a worker: the window answers before they come.
        QTRY_VERIFY(!window->reading());
        QTableWidget *table = window->table();
        QCOMPARE(window->shown().total, qint64(2 * operators::kLogPerPage + 20 + 2)); // + the change
        QCOMPARE(window->shown().pages, 3);
        QCOMPARE(table->rowCount(), operators::kLogPerPage);
        // Newest first: the 业务员's change, each field by its caption with old and new value.
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("业务员乙"));
        QCOMPARE(table->item(0, 3)->text(), QStringLiteral("修改客户"));
        QCOMPARE(table->item(0, 4)->text(), QString::number(key));
        QCOMPARE(table->item(0, 5)->text(), QStringLiteral("华联"));
        QVERIFY2(table->item(0, 6)->text().startsWith(QStringLiteral("电话：")), qPrintable(table->item(0, 6)->text()));
        QVERIFY(table->item(0, 6)->text().endsWith(QStringLiteral(" → 0571-2")));

        // Paged by key: each page goes on where the last one ended, and back again.
        const QString lastOfFirst = table->item(operators::kLogPerPage - 1, 5)->text();
        QTest::mouseClick(window->nextButton(), Qt::LeftButton);
        QTRY_VERIFY(!window->reading());
        QCOMPARE(window->shown().page, 1);
        QCOMPARE(lastOfFirst, QStringLiteral("第%1个文件.xlsx").arg(operators::kLogPerPage + 21));
        QCOMPARE(table->item(0, 5)->text(), QStringLiteral("第%1个文件.xlsx").arg(operators::kLogPerPage + 20));
        QTest::mouseClick(window->nextButton(), Qt::LeftButton);
        QTRY_VERIFY(!window->reading());
        QCOMPARE(table->rowCount(), 22);
        QCOMPARE(table->item(table->rowCount() - 2, 5)->text(), QStringLiteral("第0个文件.xlsx"));
        QCOMPARE(table->item(table->rowCount() - 1, 3)->text(), QStringLiteral("增加用户"));
        QVERIFY(!window->nextButton()->isEnabled());
        QTest::mouseClick(window->previousButton(), Qt::LeftButton);
        QTest::mouseClick(window->previousButton(), Qt::LeftButton); // not offered while reading
        QTRY_VERIFY(!window->reading());
        QCOMPARE(window->shown().page, 1);

        // Filters: operator, kind, customer (by name or key), dates.
        data::LogFilter filter;
        filter.operatorName = QStringLiteral("业务员乙");
        window->setFilter(filter);
        window->search();
        QTRY_VERIFY(!window->reading());
        QCOMPARE(window->shown().total, qint64(1));
        filter = {};
        filter.customer = QString::number(key);
        filter.kind = data::LogKind::CustomerChanged;
        window->setFilter(filter);
        window->search();
        QTRY_VERIFY(!window->reading());
        QCOMPARE(window->shown().total, qint64(1));
        filter = {};
        filter.from = QDate(2026, 1, 5);
        filter.to = QDate(2026, 1, 5);
        filter.kind = data::LogKind::Exported;
        window->setFilter(filter);
        QCOMPARE(window->filter().from, filter.from);
        window->search();
        QTRY_VERIFY(!window->reading());
        QCOMPARE(window->shown().total, qint64(2 * operators::kLogPerPage + 20));

        // 导出 writes everything the filters let through, not only the page shown.
        const QString path = h.env.filePath(QStringLiteral("日志.csv"));
        h.env.dialogs().queueSaveFileName(path, exchange::formatFilter(exchange::ExportFormat::CsvUtf8));
        QTest::mouseClick(window->exportButton(), Qt::LeftButton);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1 + 2 * operators::kLogPerPage + 20);
        QVERIFY(lines.first().contains(QStringLiteral("操作员")));
        QVERIFY(lines.last().contains(QStringLiteral("第0个文件.xlsx")));
        // Exporting the log is an export like any other: it is logged with who and where.
        data::LogFilter exports;
        exports.kind = data::LogKind::Exported;
        exports.customer = QStringLiteral("日志.csv");
        const std::vector<data::LogEntry> logged = data::ChangeLog(*h.data->connection).entries(exports, 5);
        QCOMPARE(logged.size(), size_t(1));
        QCOMPARE(logged.front().operatorName, superAdministratorName());
        QCOMPARE(logged.front().subject, QDir::toNativeSeparators(path));

        // A bare name gets the chosen type's suffix, and the one question is about that file.
        const QString xlsx = h.env.filePath(QStringLiteral("日志.xlsx"));
        QFile old(xlsx);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        const qsizetype boxes = h.env.dialogs().boxes().size();
        h.env.dialogs().queueSaveFileName(h.env.filePath(QStringLiteral("日志")),
                                          exchange::formatFilter(exchange::ExportFormat::Xlsx));
        h.env.dialogs().queueBoxAnswer(BoxButton::No);
        QTest::mouseClick(window->exportButton(), Qt::LeftButton);
        QCOMPARE(h.env.dialogs().boxes().size(), boxes + 1);
        QVERIFY(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("日志.xlsx")));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
        // The sheet names the operator who exported it as its author, not the program.
        const QString sheetPath = h.env.filePath(QStringLiteral("日志二.xlsx"));
        h.env.dialogs().queueSaveFileName(sheetPath, exchange::formatFilter(exchange::ExportFormat::Xlsx));
        QTest::mouseClick(window->exportButton(), Qt::LeftButton);
        QFile sheetFile(sheetPath);
        QVERIFY(sheetFile.open(QIODevice::ReadOnly));
        QStringList firstCells;
        for (const exchange::SheetRow &row : exchange::readXlsx(sheetFile.readAll()).rows)
            if (!row.cells.isEmpty())
                firstCells << row.cells.at(0);
        QVERIFY2(firstCells.contains(QStringLiteral("制表人：") + superAdministratorName()),
                 qPrintable(firstCells.mid(0, 4).join(u'|')));
        window->close();
    }

    void importExportPrintAndBackupAreRefusedWithoutTheRightAndLoggedWithIt()
    {
        MainWindowHarness h;
        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("华联"))});
        db::Connection &connection = *h.data->connection;
        data::OperatorStore operators(connection);
        operators.addOperator(QStringLiteral("查询员甲"));
        operators.setRights(QStringLiteral("查询员甲"), {data::Role::Viewer, 0, false});
        h.form->showAllRecords();
        h.waitForSearch();
        DataGrid *grid = widgets(h.form.get())->customerGrid;
        const data::SessionOperator viewer(connection, QStringLiteral("查询员甲"));
        exchange::ImportRow row;
        row.line = 2;
        row.record[exchange::CustomerField::ShortName] = QStringLiteral("阿里");
        const std::vector<exchange::PlannedRow> plan{{row, exchange::ImportAction::Add, 0}};
        auto customers = [&] {
            QSqlQuery query = db::runBound(connection, QStringLiteral("select count(*) from data"));
            return query.next() ? query.value(0).toInt() : -1;
        };
        auto logged = [&](data::LogKind kind) {
            data::LogFilter filter;
            filter.kind = kind;
            return data::ChangeLog(connection).entries(filter, 10);
        };

        // Called directly, each service refuses a 查询员 and does nothing.
        try {
            exchange::applyImport(connection.database(), plan, QStringLiteral("2026-12-10"), {}, &viewer,
                                  QStringLiteral("客户.csv"));
            QFAIL("the import was not refused");
        } catch (const Error &error) {
            QCOMPARE(error.operatorText(), data::refusalText(Right::Import));
        }
        QCOMPARE(customers(), 1);
        const QString exported = h.env.filePath(QStringLiteral("客户.csv"));
        customers::exportCustomerList(grid, h.form.get(), &viewer);
        QCOMPARE(h.env.dialogs().lastBox().request.text, data::refusalText(Right::Export));
        QVERIFY(h.env.dialogs().saveFiles().isEmpty()); // refused before a file is asked for
        customers::printCustomerList(grid, h.form.get(), &viewer);
        QCOMPARE(h.env.dialogs().lastBox().request.text, data::refusalText(Right::Print));
        QVERIFY(!customers::customerPrinting(h.form.get()));
        backUpRegister(h.form.get(), connection.fileName(), &viewer);
        QCOMPARE(h.env.dialogs().lastBox().request.text, data::refusalText(Right::BackupRestore));
        QVERIFY(db::listBackups(db::backupFolder(connection.fileName())).isEmpty());
        for (data::LogKind kind : {data::LogKind::Imported, data::LogKind::Exported, data::LogKind::BackedUp})
            QVERIFY(logged(kind).empty());

        // Granted, the same calls work and each is logged under the operator's name.
        operators.setRights(QStringLiteral("查询员甲"),
                            {data::Role::Viewer,
                             unsigned(Right::Import) | unsigned(Right::Export) | unsigned(Right::BackupRestore),
                             false});
        const exchange::ImportSummary summary = exchange::applyImport(
            connection.database(), plan, QStringLiteral("2026-12-10"), {}, &viewer, QStringLiteral("客户.csv"));
        QCOMPARE(summary.added, 1);
        QCOMPARE(customers(), 2);
        std::vector<data::LogEntry> entries = logged(data::LogKind::Imported);
        QCOMPARE(entries.size(), size_t(1));
        QCOMPARE(entries[0].operatorName, QStringLiteral("查询员甲"));
        QCOMPARE(entries[0].subject, QStringLiteral("客户.csv"));
        QCOMPARE(entries[0].fields.front(),
                 (data::FieldChange{QStringLiteral("新增"), std::nullopt, QStringLiteral("1")}));

        h.env.dialogs().queueSaveFileName(exported, exchange::formatFilter(exchange::ExportFormat::CsvUtf8));
        customers::exportCustomerList(grid, h.form.get(), &viewer);
        QVERIFY(QFile::exists(exported));
        entries = logged(data::LogKind::Exported);
        QCOMPARE(entries.size(), size_t(1));
        QCOMPARE(entries[0].subject, QDir::toNativeSeparators(exported));

        backUpRegister(h.form.get(), connection.fileName(), &viewer);
        const QStringList backups = db::listBackups(db::backupFolder(connection.fileName()));
        QCOMPARE(backups.size(), 1);
        entries = logged(data::LogKind::BackedUp);
        QCOMPARE(entries.size(), size_t(1));
        QVERIFY(entries[0].subject.endsWith(QFileInfo(backups.first()).fileName()));

        // A restore is logged in the register put in place, which knew nothing of it.
        h.form->openSession(QStringLiteral("查询员甲"), 1);
        h.env.dialogs().queueSaveFileName(backups.first());
        h.env.dialogs().queueBoxAnswer(BoxButton::Yes);
        h.form->restoreDataAction->trigger();
        entries = logged(data::LogKind::Restored);
        QCOMPARE(entries.size(), size_t(1));
        QCOMPARE(entries[0].operatorName, QStringLiteral("查询员甲"));
        QCOMPARE(entries[0].subject, QDir::toNativeSeparators(backups.first()));
        QVERIFY(logged(data::LogKind::BackedUp).empty()); // made after the backup was taken
    }

    void theDailyBackupAndAFailedBackupAreLoggedLikeAManualOne()
    {
        MainWindowHarness h;
        db::Connection &connection = *h.data->connection;
        const QString file = connection.fileName();
        auto logged = [&](data::LogKind kind) {
            data::LogFilter filter;
            filter.kind = kind;
            return data::ChangeLog(connection).entries(filter, 10);
        };
        const data::FieldChange daily{QStringLiteral("方式"), std::nullopt, QStringLiteral("每日自动备份")};

        // The day's copy, under the operator whose login made it; the day's second login adds none.
        const QDateTime day(QDate(2026, 12, 10), QTime(8, 30));
        QCOMPARE(makeLoggedDailyBackup(file, day, QStringLiteral("业务员甲")), QString());
        QCOMPARE(makeLoggedDailyBackup(file, day.addSecs(3600), QStringLiteral("业务员乙")), QString());
        const QStringList backups = db::listBackups(db::backupFolder(file));
        QCOMPARE(backups.size(), 1);
        std::vector<data::LogEntry> entries = logged(data::LogKind::BackedUp);
        QCOMPARE(entries.size(), size_t(1));
        QCOMPARE(entries[0].operatorName, QStringLiteral("业务员甲"));
        QCOMPARE(entries[0].subject, QDir::toNativeSeparators(backups.first()));
        QCOMPARE(entries[0].fields, std::vector<data::FieldChange>{daily});

        // No copy can be made (a file stands where the backup folder goes): the next day's failure
        // is said and logged with its reason, and so is a manual one.
        QVERIFY(QDir(db::backupFolder(file)).removeRecursively());
        QFile blocker(db::backupFolder(file));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString said = makeLoggedDailyBackup(file, day.addDays(1), QStringLiteral("业务员甲"));
        QVERIFY2(said.startsWith(QStringLiteral("今天的自动备份没有完成。")), qPrintable(said));
        const data::SessionOperator by(connection, QStringLiteral("业务员乙"));
        data::OperatorStore(connection).addOperator(by.name());
        data::OperatorStore(connection).setRights(by.name(), {data::Role::Administrator, 0, false});
        backUpRegister(h.form.get(), file, &by);
        QVERIFY(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("数据没有备份。")));
        entries = logged(data::LogKind::BackupFailed);
        QCOMPARE(entries.size(), size_t(2));
        QCOMPARE(entries[1].operatorName, QStringLiteral("业务员甲"));
        QCOMPARE(entries[0].operatorName, QStringLiteral("业务员乙"));
        for (const data::LogEntry &entry : entries) {
            QCOMPARE(entry.subject, QDir::toNativeSeparators(db::backupFolder(file)));
            QCOMPARE(entry.fields.back().field, QStringLiteral("原因"));
            QVERIFY(!entry.fields.back().after.value_or(QString()).isEmpty());
            QVERIFY(said.endsWith(entry.fields.back().after.value_or(QString())));
        }
        QCOMPARE(entries[1].fields.front(), daily);
        QCOMPARE(logged(data::LogKind::BackedUp).size(), size_t(1));
    }

    void theRecycleBinPutsBackAndRemovesForGoodOnlyWhenAskedAndAllowed()
    {
        MainWindowHarness h;
        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("华联")),
                           customer(QStringLiteral("VIP"), QStringLiteral("阿里"))});
        h.form->openSession(superAdministratorName(), 1);
        h.form->showAllRecords();
        h.waitForSearch();
        data::CustomerStore &store = *h.data->customerStore;
        const qint64 key = h.data->customerList->keys().front();
        QCOMPARE(store.remove(*store.read(key)), data::CustomerStore::Outcome::Done);
        QCOMPARE(h.data->customerList->rowCount(), 1);

        QAction *bin = h.form->findChild<QAction *>(QStringLiteral("recycleBinAction"));
        QVERIFY(bin);
        bin->trigger();
        auto *window = h.form->findChild<customers::RecycleBinWindow *>();
        QVERIFY(window);
        QCOMPARE(window->table()->rowCount(), 1);
        QCOMPARE(window->table()->item(0, 0)->text(), QStringLiteral("华联"));
        QCOMPARE(window->table()->item(0, 5)->text(), superAdministratorName());
        // Nothing chosen: nothing restored.
        QTest::mouseClick(window->restoreButton(), Qt::LeftButton);
        QCOMPARE(store.binCount(), 1);
        window->table()->selectRow(0);
        QTest::mouseClick(window->restoreButton(), Qt::LeftButton);
        QCOMPARE(store.binCount(), 0);
        QVERIFY(store.read(key));
        QCOMPARE(h.data->customerList->rowCount(), 2);
        QCOMPARE(window->table()->rowCount(), 0);

        // Removing for good asks first; 取消 keeps it.
        QCOMPARE(store.remove(*store.read(key)), data::CustomerStore::Outcome::Done);
        window->showPage(0);
        window->table()->selectRow(0);
        h.env.dialogs().queueBoxAnswer(BoxButton::Cancel);
        QTest::mouseClick(window->purgeButton(), Qt::LeftButton);
        QCOMPARE(store.binCount(), 1);
        h.env.dialogs().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(window->purgeButton(), Qt::LeftButton);
        QCOMPARE(store.binCount(), 0);
        QVERIFY(!store.read(key));
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // Without the right to delete the window offers neither, and says why.
        data::OperatorStore(*h.data->connection).addOperator(QStringLiteral("业务员乙"));
        h.form->openSession(QStringLiteral("业务员乙"), 2);
        bin->trigger();
        window = h.form->findChild<customers::RecycleBinWindow *>();
        QVERIFY(window);
        QVERIFY(window->restoreButton()->isEnabled());
        QVERIFY(!window->purgeButton()->isEnabled());
        QVERIFY(!window->emptyButton()->isEnabled());
        QCOMPARE(window->emptyButton()->toolTip(), data::refusalText(Right::Delete));
        window->close();
    }
};

int main(int argc, char **argv)
{
    Application app(argc, argv);
    TestSessionRights test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_session_rights.moc"
