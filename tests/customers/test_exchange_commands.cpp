// "导入…" and "查重" from the main window's settings menu: the file dialog, the import window
// refreshing the list, and the 查重 list bringing a customer into view.

#include "customers/DuplicatesWindow.h"
#include "customers/ImportWindow.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/FormWidgets.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QTest>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

using namespace lianbu;
using namespace lianbu::customers;
using test::MainWindowHarness;
using test::widgets;

namespace {

QAction *menuAction(MainWindowHarness &h, const char *name)
{
    return widgets(h.form)->settingsButton->menu()->findChild<QAction *>(QLatin1String(name));
}

} // namespace

class TestExchangeCommands : public QObject
{
    Q_OBJECT

private slots:
    void importFromTheSettingsMenuRefreshesTheList()
    {
        MainWindowHarness h;
        h.insertCustomers({test::customer(QStringLiteral("VIP"), QStringLiteral("张记"), QStringLiteral("0571-1"),
                                          QStringLiteral("张三"))});
        h.form->showAllRecords();
        QCOMPARE(h.data->customerList->rowCount(), 1);

        const QString path = h.env.filePath(QStringLiteral("new.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("\xFEFF客户简称,姓名,手机\r\n张记,张三,139\r\n华联,李四,137\r\n").toUtf8());
        file.close();

        QAction *import = menuAction(h, "importAction");
        QVERIFY(import);
        QCOMPARE(import->text(), QStringLiteral("导入…"));
        // Cancelled file dialog: no window.
        import->trigger();
        QCOMPARE(h.env.dialogs().openFiles().size(), 1);

        // The window is modal: the operator's steps run once it is open (the file is read on a
        // thread of its own before, while the event loop runs).
        bool seen = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
            auto *window = qobject_cast<ImportWindow *>(QApplication::activeModalWidget());
            if (!window || !window->isVisible())
                return;
            poll.stop();
            seen = true;
            QVERIFY(window->findDuplicates()); // 张记/张三 is in the register
            window->setAllActions(exchange::ImportAction::Skip);
            window->runImport();
        });
        poll.start();
        h.env.dialogs().queueOpenFileName(path);
        import->trigger();
        QVERIFY(seen);
        QVERIFY(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("新增 1 条，更新 0 条，跳过 1 条")));
        // The list shows the register as it is now.
        QCOMPARE(h.data->customerList->rowCount(), 2);
        QVERIFY(h.listColumn(QStringLiteral("c")).contains(QStringLiteral("李四")));
    }

    void duplicatesListOpensACustomer()
    {
        MainWindowHarness h;
        QList<test::CustomerRow> rows = {
            test::customer(QStringLiteral("VIP"), QStringLiteral("张记"), QStringLiteral("1"), QStringLiteral("张三")),
            test::customer(QStringLiteral("VIP"), QStringLiteral("李家"), QStringLiteral("2"), QStringLiteral("李四")),
            test::customer(QStringLiteral("普通"), QStringLiteral("张记"), QStringLiteral("3"),
                           QStringLiteral("张三"))};
        for (int i = 0; i < rows.size(); ++i)
            rows[i][5] = QStringLiteral("1390000000%1").arg(i); // different mobiles
        h.insertCustomers(rows);
        // A quick search for VIP: the third customer is not in the list.
        widgets(h.form)->searchCategory->setEditText(QStringLiteral("VIP"));
        h.form->quickSearchBar()->runQuickSearch();
        h.waitForSearch(); // the search runs on its own connection; the list follows when it ends
        QCOMPARE(h.data->customerList->rowCount(), 2);

        menuAction(h, "duplicatesAction")->trigger();
        auto *list = h.form->findChild<DuplicatesWindow *>();
        QVERIFY(list);
        QVERIFY(list->isVisible());
        QCOMPARE(list->groupCount(), 1);
        QCOMPARE(list->groupMembers(0).size(), 2);
        // A second 查重 reuses the open list.
        menuAction(h, "duplicatesAction")->trigger();
        QCOMPARE(h.form->findChildren<DuplicatesWindow *>().size(), qsizetype(1));

        // The customer outside the quick search: the list shows all records to bring it in.
        list->openMember(0, 1);
        QCOMPARE(h.data->customerList->rowCount(), 3);
        QCOMPARE(h.form->customerList()->currentCustomer().value(QStringLiteral("a")).value_or(QString()),
                 QStringLiteral("普通"));
        list->openMember(0, 0);
        QCOMPARE(h.form->customerList()->currentCustomer().value(QStringLiteral("a")).value_or(QString()),
                 QStringLiteral("VIP"));
        QCOMPARE(h.form->customerList()->currentCustomer().value(QStringLiteral("c")).value_or(QString()),
                 QStringLiteral("张三"));
        list->close();
    }

    void duplicatesListReadByKeyboard()
    {
        // 张记/张三 twice (same short name and name), the second sharing its mobile with 王五: one
        // group of three. 赵六 and 钱七 share a mobile; 李四 stands alone.
        MainWindowHarness h;
        struct Person
        {
            const char16_t *shortName, *name, *mobile;
        };
        const Person people[] = {{u"张记", u"张三", u"13900000001"}, {u"李家", u"李四", u"13900000002"},
                                 {u"赵记", u"赵六", u"13900000003"}, {u"张记", u"张三", u"13900000004"},
                                 {u"钱记", u"钱七", u"13900000003"}, {u"王记", u"王五", u"13900000004"}};
        QList<test::CustomerRow> rows;
        for (const Person &p : people) {
            rows << test::customer(QStringLiteral("VIP"), QString::fromUtf16(p.shortName), QStringLiteral("0571-1"),
                                   QString::fromUtf16(p.name));
            rows.back()[5] = QString::fromUtf16(p.mobile);
        }
        h.insertCustomers(rows);
        h.form->showAllRecords();
        // The operator clicked the first customer before 查重.
        QTableView *view = widgets(h.form)->customerGrid->view();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(0, 1)).center());
        menuAction(h, "duplicatesAction")->trigger();
        auto *list = h.form->findChild<DuplicatesWindow *>();
        QVERIFY(list);
        auto *tree = list->findChild<QTreeWidget *>(QStringLiteral("groupTree"));
        QVERIFY(tree);
        // Ctrl+C is the list's own shortcut: its window must be the active one.
        list->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), list);
        tree->setFocus();
        const auto line = [&](int person) {
            const Person &p = people[person];
            return QStringList{QString::fromUtf16(p.shortName), QString::fromUtf16(p.name),
                               QString::fromUtf16(p.mobile),    QStringLiteral("0571-1"),
                               QStringLiteral("联簿公司"),      QStringLiteral("2010-08-15")}
                .join(QLatin1Char('\t'));
        };

        // Ctrl+A, Ctrl+C: every group with its heading, members in register order.
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(tree, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier);
        const QStringList all{QStringLiteral("第 1 组（3 位客户）"), line(0), line(3), line(5),
                              QStringLiteral("第 2 组（2 位客户）"), line(2), line(4)};
        QCOMPARE(QGuiApplication::clipboard()->text(), all.join(QLatin1Char('\n')) + QLatin1Char('\n'));

        // Down to 王五 (heading, 张三, 张三, 王五), Enter: the main window shows 王五 and the list stays
        // as it was, its line still the one selected.
        QTest::keyClick(tree, Qt::Key_Home);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Return);
        QCOMPARE(h.form->customerList()->currentCustomer().value(QStringLiteral("c")).value_or(QString()),
                 QStringLiteral("王五"));
        QVERIFY(list->isVisible());
        QCOMPARE(list->groupCount(), 2);
        QCOMPARE(list->selectedText(), line(5) + QLatin1Char('\n'));
        // 删除 now takes 王五, the customer shown, not the one clicked before.
        QVERIFY(widgets(h.form)->deleteButton->isEnabled());
        h.env.dialogs().queueBoxAnswer(BoxButton::Ok);
        widgets(h.form)->deleteButton->click();
        QCOMPARE(h.queryColumn(QStringLiteral("select c from data order by c")),
                 QStringList({"张三", "张三", "李四", "赵六", "钱七"}));

        // A selected heading copies its whole group; nothing selected copies nothing.
        QTest::keyClick(tree, Qt::Key_End);
        QTest::keyClick(tree, Qt::Key_Up);
        QTest::keyClick(tree, Qt::Key_Up);
        QCOMPARE(list->selectedText(),
                 QStringList({all[4], all[5], all[6]}).join(QLatin1Char('\n')) + QLatin1Char('\n'));
        tree->clearSelection();
        QCOMPARE(list->selectedText(), QString());
        list->close();
    }
};

QTEST_MAIN(TestExchangeCommands)
#include "test_exchange_commands.moc"
