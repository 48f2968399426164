#include "tests/support/FormWidgets.h"
#include "tests/support/MainWindowHarness.h"

#include "app/HintPause.h"
#include "app/StartUp.h"
#include "platform/VendorAddresses.h"
#include "grid/DataGrid.h"
#include "platform/Clock.h"
#include "data/OperatorStore.h"
#include "data/PasswordHash.h"
#include "data/Schema.h"
#include "data/Statements.h"
#include "db/BackgroundDamageCheck.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/Query.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestServer.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStatusTipEvent>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace lianbu;
using namespace lianbu::test;

namespace {

// The list's statement with its bound values written in as literals, to read it as one text.
QString statementText(const lianbu::data::CustomerListModel *list)
{
    QString text;
    int next = 0;
    for (const QChar c : list->statement()) {
        if (c == QLatin1Char('?') && next < list->statementValues().size())
            text += lianbu::sql::sqlLiteral(list->statementValues().at(next++).toString());
        else
            text += c;
    }
    return text;
}

// The quick search's "column like 'pattern'" as the register's engine writes it.
QString likeText(const lianbu::data::CustomerListModel *list, const QString &column, const QString &pattern)
{
    QString condition = lianbu::db::engineOf(list->dataSet()->connection()->database()).likeCondition(column);
    return condition.replace(QLatin1Char('?'), lianbu::sql::sqlLiteral(pattern));
}

// The telephone field's condition: the telephone or the mobile number holds the text.
QString phoneText(const lianbu::data::CustomerListModel *query, const QString &pattern)
{
    return QLatin1Char('(') + likeText(query, QStringLiteral("g"), pattern) + QStringLiteral(" or ")
           + likeText(query, QStringLiteral("f"), pattern) + QLatin1Char(')');
}

// A window of the kind the main window opens on demand: built over the register and an owner.
class ProbeWindow : public QDialog
{
    Q_OBJECT
public:
    ProbeWindow(Database &, QWidget *owner)
        : QDialog(owner)
    {}
};

} // namespace

namespace {

QList<CustomerRow> sampleCustomers()
{
    return {
        customer(QStringLiteral("VIP客户"), QStringLiteral("华联"), QStringLiteral("0571-8888"),
                 QStringLiteral("张三")),
        customer(QStringLiteral("普通"), QStringLiteral("阿里"), QStringLiteral("010-1234"), QStringLiteral("李四")),
        customer(QStringLiteral("VIP"), QStringLiteral("O'Neil & Co"), QStringLiteral("0571-1111"),
                 QStringLiteral("O'Neil")),
        customer(QStringLiteral("普通"), QString(), QStringLiteral("021-5555"), QStringLiteral("王五")),
        customer(QStringLiteral("代理"), QStringLiteral("Beta"), QStringLiteral("0571-2222"),
                 QStringLiteral("张三丰"))};
}

GridColumn *columnOf(MainWindow *form, const QString &field)
{
    return widgets(form)->customerGrid->columns()->findByFieldName(field);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }

    void formShowStepsAndTheEmptyGrid()
    {
        MainWindowHarness h(false);
        setFixedNow(QDateTime(QDate(2010, 8, 15), QTime(9, 30, 0)));
        h.show();
        MainWindow *form = h.form.get();
        QCOMPARE(form->windowTitle(), QStringLiteral("联簿宝"));
        QCOMPARE(form->size(), QSize(973, 629));
        // The customers are not read before the login.
        QVERIFY(!h.data->customerList->active());
        QVERIFY(!widgets(form)->entryPanel->isVisible());
        QCOMPARE(hintPause(), 0);
        QCOMPARE(form->statusPanel(0)->width(), 250);
        QCOMPARE(form->statusPanel(1)->text(), QStringLiteral("操作员："));
        QCOMPARE(form->statusPanel(2)->text(), QStringLiteral("今天：2010-08-15"));
        QCOMPARE(form->statusPanel(3)->text(), vendorWebAddress());
        QCOMPARE(form->statusPanel(3)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        // The list query stays closed until "全部记录": the grid shows nothing.
        h.insertCustomers(sampleCustomers());
        QVERIFY(!h.data->customerList->active());
        QCOMPARE(widgets(form)->customerGrid->view()->model()->rowCount(), 0);
        QVERIFY(!widgets(form)->deleteButton->isEnabled());
        setFixedNow(QDateTime());
    }

    void toolbarAndMenusAreInPlace()
    {
        MainWindowHarness h;
        MainWindow *form = h.form.get();
        const QList<QToolButton *> buttons{widgets(form)->newButton,
                                           widgets(form)->deleteButton,
                                           widgets(form)->printButton,
                                           widgets(form)->exportButton,
                                           form->findChild<QToolButton *>(QStringLiteral("followUpButton")),
                                           widgets(form)->settingsButton,
                                           widgets(form)->supportButton};
        const QStringList captions{QStringLiteral("新 建"),   QStringLiteral("删 除"), QStringLiteral("打 印"),
                                   QStringLiteral("导 出"),   QStringLiteral("跟 进"), QStringLiteral("设 置"),
                                   QStringLiteral("技术支持")};
        int previousX = -1;
        for (int i = 0; i < buttons.size(); ++i) {
            QVERIFY(buttons[i]);
            QCOMPARE(buttons[i]->text(), captions[i]);
            QCOMPARE(buttons[i]->size(), QSize(55, 52));
            QCOMPARE(buttons[i]->iconSize(), QSize(32, 32));
            QVERIFY(!buttons[i]->icon().isNull());
            QVERIFY(buttons[i]->x() > previousX);
            previousX = buttons[i]->x();
        }
        QStringList menu;
        for (QAction *a : form->settingsMenu->actions())
            menu << (a->isSeparator() ? QStringLiteral("-") : a->text());
#ifdef LIANBU_STATISTICS
        // 客户统计… comes right after 操作日志… (a build with Qt Charts has it).
        QCOMPARE(menu.takeAt(menu.indexOf(QStringLiteral("操作日志…")) + 1), QStringLiteral("客户统计…"));
#endif
        QCOMPARE(menu, QStringList({QStringLiteral("修改密码"),
                                    QStringLiteral("用户管理"),
                                    QStringLiteral("备份数据…"),
                                    QStringLiteral("恢复数据…"),
                                    QStringLiteral("数据库连接…"),
                                    QStringLiteral("-"),
                                    QStringLiteral("黑色经典(皮肤)"),
                                    QStringLiteral("蓝色幻想(皮肤)"),
                                    QStringLiteral("梦幻天空(皮肤)"),
                                    QStringLiteral("黑色遐想(皮肤)"),
                                    QStringLiteral("梦想成真(皮肤)"),
                                    QStringLiteral("-"),
                                    QStringLiteral("导入…"),
                                    QStringLiteral("查重"),
                                    QStringLiteral("待办提醒…"),
                                    QStringLiteral("导出跟进记录…"),
                                    QStringLiteral("回收站…"),
                                    QStringLiteral("操作日志…"),
                                    QStringLiteral("-"),
                                    QStringLiteral("帮助主题"),
                                    QStringLiteral("官方主页"),
                                    QStringLiteral("关于")}));
        QCOMPARE(widgets(form)->settingsButton->menu(), form->settingsMenu);
        // 跟进记录, 打印资料卡… and a separator above the thirteen column items and 保存当前列状态 with its
        // separator.
        QCOMPARE(form->customerList()->contextMenu()->actions().size(), 18);
        QCOMPARE(form->customerList()->hideColumnActions().at(9)->text(), QStringLiteral("隐藏备注"));
        QCOMPARE(form->checkForUpgradeAction->text(), QStringLiteral("检查升级"));
        QVERIFY(!form->settingsMenu->actions().contains(form->checkForUpgradeAction));
    }

    void tabGoesFromTheSearchFieldsThroughTheToolbarToThePanel()
    {
        // The search bar and the entry panel are made after the window's form: Tab must still
        // take the operator from the grid through the search fields and the toolbar to the panel.
        MainWindowHarness h;
        QStringList order;
        QWidget *w = widgets(h.form)->customerGrid;
        while ((w = w->nextInFocusChain()) != h.form.get()) {
            if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
                order << w->objectName();
        }
        QCOMPARE(
            order,
            QStringList({"searchCategory", "searchShortName", "searchName",     "searchPhone",          "searchAddress",
                         "searchCompany",  "searchButton",    "newButton",      "deleteButton",         "printButton",
                         "exportButton",   "followUpButton",  "settingsButton", "supportButton",        "categoryEdit",
                         "shortNameEdit",  "nameEdit",        "sexCombo",       "positionEdit",         "mobileEdit",
                         "phoneEdit",      "faxEdit",         "addressEdit",    "companyEdit",          "postcodeEdit",
                         "emailEdit",      "websiteEdit",     "notesEdit",      "registrationDateEdit", "addButton",
                         "modifyButton"}));
    }

    void hintOfTheControlUnderThePointerGoesToPanelZero()
    {
        MainWindowHarness h;
        QStatusTipEvent tip(QStringLiteral("点列标题进行排序，双击记录进行修改"));
        QApplication::sendEvent(widgets(h.form)->customerGrid, &tip);
        QCOMPARE(h.form->statusPanel(0)->text(), QStringLiteral("点列标题进行排序，双击记录进行修改"));
        QCOMPARE(h.form->statusPanel(1)->text(), QStringLiteral("操作员："));
    }

    void allRecordsListsEverythingAndRefillsTheCategories()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        widgets(h.form)->searchName->setText(QStringLiteral("张"));
        h.form->showAllRecords();
        const data::CustomerListModel *list = h.data->customerList;
        QCOMPARE(list->statement(), QStringLiteral("select * from data "));
        QCOMPARE(list->rowCount(), 5); // the row without a short name too
        QCOMPARE(widgets(h.form)->customerGrid->currentRow(), 4);
        QCOMPARE(widgets(h.form)->searchName->text(), QStringLiteral("张")); // search texts stay
        QComboBox *category = widgets(h.form)->searchCategory;
        QCOMPARE(category->currentText(), QString());
        QStringList items;
        for (int i = 0; i < category->count(); ++i)
            items << category->itemText(i);
        QCOMPARE(items.size(), 4);
        QVERIFY(items.contains(QStringLiteral("VIP客户")) && items.contains(QStringLiteral("代理")));
        QCOMPARE(widgets(h.form)->customerGrid->footerDisplayText(0, columnOf(h.form.get(), QStringLiteral("a"))),
                 QStringLiteral("总计"));
        QCOMPARE(widgets(h.form)->customerGrid->footerDisplayText(0, columnOf(h.form.get(), QStringLiteral("b"))),
                 QStringLiteral("5"));
    }

    // A long list's keys come from a worker: the list shows what it showed until they are
    // there, then every record with the last row current and the count in the footer.
    void allRecordsOfALongListArriveFromTheBackground()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        data::CustomerListModel *list = h.data->customerList;
        list->setBackgroundLoadFrom(0);
        DataGrid *grid = widgets(h.form)->customerGrid;
        const QString b = QStringLiteral("b");
        h.form->showAllRecords();
        QVERIFY(list->loading());
        QTRY_VERIFY(!list->loading());
        QCOMPARE(list->rowCount(), 5);
        QCOMPARE(grid->currentRow(), 4);
        QCOMPARE(grid->footerDisplayText(0, columnOf(h.form.get(), b)), QStringLiteral("5"));

        widgets(h.form)->searchShortName->setText(QStringLiteral("华"));
        QTRY_COMPARE(list->rowCount(), 1);
        QCOMPARE(grid->footerDisplayText(0, columnOf(h.form.get(), b)), QStringLiteral("1"));
        h.form->showAllRecords();
        QCOMPARE(list->rowCount(), 1);
        QTRY_COMPARE(list->rowCount(), 5);
        QCOMPARE(grid->currentRow(), 4);
        QCOMPARE(grid->footerDisplayText(0, columnOf(h.form.get(), b)), QStringLiteral("5"));
    }

    void searchStatementsAreBuiltFromTheFieldsAsTyped()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->showAllRecords();
        MainWindow *form = h.form.get();
        const data::CustomerListModel *list = h.data->customerList;

        // Typing into the category field runs the search; so does the telephone field.
        QTest::keyClicks(widgets(form)->searchCategory, QStringLiteral("VIP"));
        h.waitForSearch();
        widgets(form)->searchPhone->setText(QStringLiteral("0571"));
        h.waitForSearch();
        QCOMPARE(statementText(list), QStringLiteral("select * from data where b<>'' and ")
                                          + likeText(list, "a", "%VIP%") + " and " + phoneText(list, "%0571%"));
        QCOMPARE(h.listColumn(QStringLiteral("b")),
                 QStringList({QStringLiteral("华联"), QStringLiteral("O'Neil & Co")}));
        QCOMPARE(widgets(form)->customerGrid->footerDisplayText(0, columnOf(form, QStringLiteral("b"))),
                 QStringLiteral("2"));

        // Emptying the last non-empty fields lists every record that has a short name.
        widgets(form)->searchPhone->clear();
        h.waitForSearch();
        widgets(form)->searchCategory->lineEdit()->selectAll();
        QTest::keyClick(widgets(form)->searchCategory->lineEdit(), Qt::Key_Backspace); // an edit by the operator
        h.waitForSearch();
        QCOMPARE(statementText(list), QStringLiteral("select * from data where b<>''"));
        QCOMPARE(list->rowCount(), 4);

        // 张 then 三: two statements, the second with the whole text.
        widgets(form)->searchName->insert(QStringLiteral("张")); // as an input method commits it
        h.waitForSearch();
        QCOMPARE(statementText(list),
                 QStringLiteral("select * from data where b<>'' and ") + likeText(list, "c", QStringLiteral("%张%")));
        QCOMPARE(list->rowCount(), 2);
        widgets(form)->searchName->insert(QStringLiteral("三"));
        h.waitForSearch();
        QCOMPARE(statementText(list),
                 QStringLiteral("select * from data where b<>'' and ") + likeText(list, "c", QStringLiteral("%张三%")));
        QCOMPARE(list->rowCount(), 2);
        widgets(form)->searchName->clear();
        h.waitForSearch();

        // A quote in a search text is doubled and found.
        widgets(form)->searchName->setText(QStringLiteral("O'Neil"));
        h.waitForSearch();
        QCOMPARE(statementText(list), QStringLiteral("select * from data where b<>'' and ")
                                          + likeText(list, "c", QStringLiteral("%O'Neil%")));
        QCOMPARE(h.listColumn(QStringLiteral("c")), QStringList({QStringLiteral("O'Neil")}));
        widgets(form)->searchName->clear();
        h.waitForSearch();

        // Blanks are searched for, not trimmed away: no company holds two blanks.
        widgets(form)->searchCompany->setText(QStringLiteral("  "));
        h.waitForSearch();
        QCOMPARE(statementText(list),
                 QStringLiteral("select * from data where b<>'' and ") + likeText(list, "j", QStringLiteral("%  %")));
        QCOMPARE(list->rowCount(), 0);
        QCOMPARE(widgets(form)->customerGrid->footerDisplayText(0, columnOf(form, QStringLiteral("b"))),
                 QStringLiteral("0"));
        widgets(form)->searchCompany->clear();
        h.waitForSearch();

        // The operator's "%" keeps its pattern meaning.
        widgets(form)->searchAddress->setText(QStringLiteral("杭%市"));
        h.waitForSearch();
        QCOMPARE(list->rowCount(), 4);
    }

    void fieldOrderOfTheSearchIsFixed()
    {
        MainWindowHarness h;
        h.form->showAllRecords();
        MainWindow *form = h.form.get();
        widgets(form)->searchCompany->setText(QStringLiteral("J"));
        h.waitForSearch();
        widgets(form)->searchAddress->setText(QStringLiteral("I"));
        h.waitForSearch();
        widgets(form)->searchName->setText(QStringLiteral("C"));
        h.waitForSearch();
        widgets(form)->searchPhone->setText(QStringLiteral("G"));
        h.waitForSearch();
        widgets(form)->searchShortName->setText(QStringLiteral("B"));
        h.waitForSearch();
        // The conditions come in the fixed order b, g, c, i, j whatever the order of typing.
        const QString text = statementText(h.data->customerList);
        QStringList order;
        for (const char *pattern : {"'%B%'", "'%G%'", "'%C%'", "'%I%'", "'%J%'"})
            order << QString::number(text.indexOf(QLatin1String(pattern))).rightJustified(6, QLatin1Char('0'));
        QVERIFY2(!order.contains(QStringLiteral("0000-1")), qPrintable(text));
        QStringList sorted = order;
        sorted.sort();
        QCOMPARE(order, sorted);
        QVERIFY(text.startsWith(QStringLiteral("select * from data where b<>'' and ")));
    }

    void quickSearchFindsMobileNumbersAndPinyinInitials()
    {
        MainWindowHarness h;
        CustomerRow huawei = customer(QStringLiteral("VIP"), QStringLiteral("华为科技"), QStringLiteral("0571-1"),
                                      QStringLiteral("任正非"));
        huawei[5] = QStringLiteral("13812345678");
        CustomerRow ali =
            customer(QStringLiteral("普通"), QStringLiteral("阿里"), QStringLiteral("010-2"), QStringLiteral("张三"));
        ali[5] = QStringLiteral("13999999999");
        const CustomerRow latin = customer(QStringLiteral("普通"), QStringLiteral("HW Trading"),
                                           QStringLiteral("021-3"), QStringLiteral("Wang Hui"));
        h.insertCustomers({huawei, ali, latin});
        h.form->showAllRecords();
        MainWindow *form = h.form.get();
        const auto found = [&](QLineEdit *field, const QString &text) {
            field->setText(text);
            h.waitForSearch();
            const QStringList shortNames = h.listColumn(QStringLiteral("b"));
            field->clear();
            h.waitForSearch();
            return shortNames;
        };
        QLineEdit *phone = widgets(form)->searchPhone;
        QLineEdit *shortName = widgets(form)->searchShortName;
        QLineEdit *name = widgets(form)->searchName;
        const QString huaweiName = QStringLiteral("华为科技");

        // 电话 finds mobile numbers as well as telephone numbers, short texts and long ones.
        QCOMPARE(found(phone, QStringLiteral("12345")), QStringList{huaweiName});
        QCOMPARE(found(phone, QStringLiteral("78")), QStringList{huaweiName});
        QCOMPARE(found(phone, QStringLiteral("0571")), QStringList{huaweiName});
        QCOMPARE(found(phone, QStringLiteral("1399")), QStringList{QStringLiteral("阿里")});
        QCOMPARE(found(phone, QStringLiteral("1390")).size(), 1); // the derived mobile of the third

        // Plain letters also match the initials of 客户简称 and 姓名, in either case; the text as
        // typed still matches too.
        QCOMPARE(found(shortName, QStringLiteral("hw")), (QStringList{huaweiName, QStringLiteral("HW Trading")}));
        QCOMPARE(found(shortName, QStringLiteral("HWKJ")), QStringList{huaweiName});
        QCOMPARE(found(shortName, QStringLiteral("kj")), QStringList{huaweiName});
        QCOMPARE(found(name, QStringLiteral("zs")), QStringList{QStringLiteral("阿里")});
        QCOMPARE(found(name, QStringLiteral("rzf")), QStringList{huaweiName});
        QCOMPARE(found(name, QStringLiteral("wang")), QStringList{QStringLiteral("HW Trading")});
        // Anything but ASCII letters is searched as typed, and nothing else.
        QCOMPARE(found(shortName, QStringLiteral("hw科")), QStringList{});
        QCOMPARE(found(shortName, QStringLiteral("h w")), QStringList{});
        QCOMPARE(found(shortName, QStringLiteral("h%")), QStringList{QStringLiteral("HW Trading")});
        // Other fields know nothing of initials.
        QCOMPARE(found(widgets(form)->searchCompany, QStringLiteral("lbgs")), QStringList{});

        // The initials follow every change, also by another program.
        h.data->connection->execute(QStringLiteral("update data set b='中兴通讯' where b='阿里'"));
        QCOMPARE(found(shortName, QStringLiteral("zxtx")), QStringList{QStringLiteral("中兴通讯")});
        QCOMPARE(found(shortName, QStringLiteral("al")), QStringList{});
        h.data->connection->execute(QStringLiteral("delete from data where b='中兴通讯'"));
        QCOMPARE(found(shortName, QStringLiteral("zx")), QStringList{});
        h.insertCustomers(
            {customer(QStringLiteral("新"), QStringLiteral("联簿宝"), QString(), QStringLiteral("李四"))});
        QCOMPARE(found(shortName, QStringLiteral("lbb")), QStringList{QStringLiteral("联簿宝")});
        QCOMPARE(found(name, QStringLiteral("ls")), QStringList{QStringLiteral("联簿宝")});
    }

    void choosingACategoryItemMatchesSubstrings()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->showAllRecords();
        QComboBox *category = widgets(h.form)->searchCategory;
        const int vip = category->findText(QStringLiteral("VIP"));
        QVERIFY(vip >= 0);
        category->setCurrentIndex(vip);
        emit category->activated(vip);
        h.waitForSearch();
        QCOMPARE(h.data->customerList->rowCount(), 2); // VIP and VIP客户
    }

    void titleClicksSortDescendingThenAscending()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->showAllRecords();
        DataGrid *grid = widgets(h.form)->customerGrid;
        GridColumn *b = columnOf(h.form.get(), QStringLiteral("b"));
        const int bIndex = b->index();

        grid->clickTitle(bIndex);
        QCOMPARE(h.data->customerList->sortText(), QStringLiteral("b DESC"));
        QCOMPARE(b->title()->sortMarker(), SortMarker::Down);
        const QStringList descending = h.listColumn(QStringLiteral("b"));
        QCOMPARE(descending.last(), QString()); // empty sorts first ascending, last descending

        grid->clickTitle(bIndex);
        QCOMPARE(h.data->customerList->sortText(), QStringLiteral("b"));
        QCOMPARE(b->title()->sortMarker(), SortMarker::Up);
        QStringList ascending = descending;
        std::reverse(ascending.begin(), ascending.end());
        QCOMPARE(h.listColumn(QStringLiteral("b")), ascending);

        grid->clickTitle(bIndex);
        QCOMPARE(h.data->customerList->sortText(), QStringLiteral("b DESC"));
        QCOMPARE(b->title()->sortMarker(), SortMarker::Down);

        // Another column starts again with descending order and takes the only marker.
        GridColumn *g = columnOf(h.form.get(), QStringLiteral("g"));
        grid->clickTitle(g->index());
        QCOMPARE(h.data->customerList->sortText(), QStringLiteral("g DESC"));
        QCOMPARE(b->title()->sortMarker(), SortMarker::None);
        QCOMPARE(g->title()->sortMarker(), SortMarker::Down);
    }

    void reopeningDropsTheSortButKeepsTheMarker()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->showAllRecords();
        const QStringList databaseOrder = h.listColumn(QStringLiteral("g"));
        GridColumn *g = columnOf(h.form.get(), QStringLiteral("g"));
        widgets(h.form)->customerGrid->clickTitle(g->index());
        QVERIFY(h.listColumn(QStringLiteral("g")) != databaseOrder);

        h.form->showAllRecords();
        QCOMPARE(h.listColumn(QStringLiteral("g")), databaseOrder);
        QCOMPARE(h.data->customerList->sortText(), QString());
        QCOMPARE(g->title()->sortMarker(), SortMarker::Down);

        h.form->quickSearchBar()->runQuickSearch();
        h.waitForSearch();
        QCOMPARE(g->title()->sortMarker(), SortMarker::Down);
        // The marker was down, so the next click sorts ascending.
        widgets(h.form)->customerGrid->clickTitle(g->index());
        QCOMPARE(h.data->customerList->sortText(), QStringLiteral("g"));
    }

    void settingsMenuBacksUpAndRestoresTheRegister()
    {
        MainWindowHarness h;
        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("甲"))});
        h.form->showAllRecords();
        h.form->backUpDataAction->trigger();
        const QString made = h.env.dialogs().lastBox().request.text;
        if (h.data->connection->isServer()) {
            // A server's register is backed up on the server; nothing is written here.
            QVERIFY2(made.contains(QStringLiteral("pg_dump")), qPrintable(made));
            QVERIFY(!QFileInfo::exists(h.env.filePath(QStringLiteral("backups"))));
            return;
        }
        QVERIFY2(made.contains(QStringLiteral("数据已备份到")), qPrintable(made));
        const QStringList backups = QDir(h.env.filePath(QStringLiteral("backups"))).entryList(QDir::Files);
        QCOMPARE(backups.size(), 1);

        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("乙"))});
        // A quick search first: its worker holds a connection of its own to the register.
        widgets(h.form)->searchShortName->setText(QStringLiteral("乙"));
        h.waitForSearch();
        QCOMPARE(h.listColumn(QStringLiteral("b")), QStringList({"乙"}));
        widgets(h.form)->searchShortName->clear();
        h.form->showAllRecords();
        QCOMPARE(h.listColumn(QStringLiteral("b")), QStringList({"甲", "乙"}));
        h.env.dialogs().queueSaveFileName(h.env.filePath(QStringLiteral("backups/") + backups.first()));
        h.env.dialogs().queueBoxAnswer(BoxButton::Yes);
        h.form->restoreDataAction->trigger();
        QVERIFY2(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("原来的数据库文件保留为")),
                 qPrintable(h.env.dialogs().lastBox().request.text));
        // The window works on with the restored register: the list shows it, the quick search
        // reads it, sorting works.
        QCOMPARE(h.listColumn(QStringLiteral("b")), QStringList({"甲"}));
        widgets(h.form)->searchShortName->setText(QStringLiteral("乙"));
        h.waitForSearch();
        QVERIFY(statementText(h.data->customerList).contains(QStringLiteral("乙")));
        QCOMPARE(h.listColumn(QStringLiteral("b")), QStringList());
        widgets(h.form)->searchShortName->setText(QStringLiteral("甲"));
        h.waitForSearch();
        QCOMPARE(h.listColumn(QStringLiteral("b")), QStringList({"甲"}));
        QCOMPARE(h.queryColumn(QStringLiteral("PRAGMA journal_mode")), QStringList{QStringLiteral("wal")});
    }

    // A backup made by an older version holds plain passwords. Restored from the menu, it is
    // hashed at once: its operators log in with their passwords, no plain value stays in the
    // register, and the register it replaced, kept aside, is the user's alone even when an older
    // version had left it readable by all.
    void anOlderBackupIsRestoredHashedAndTheReplacedRegisterKeptPrivate()
    {
        MainWindowHarness h;
        if (h.data->connection->isServer())
            QSKIP("a server's register is backed up on the server");
        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("甲"))});
        h.form->showAllRecords();
        h.form->backUpDataAction->trigger();
        const QString backupFolder = h.env.filePath(QStringLiteral("backups"));
        const QStringList backups = QDir(backupFolder).entryList(QDir::Files);
        QCOMPARE(backups.size(), 1);
        const QString backup = backupFolder + QLatin1Char('/') + backups.first();
        // Turned into what the older version wrote: no version mark, no change log, plain values.
        QVERIFY(execOnFile(backup, {QStringLiteral("drop table register_version"),
                                    QStringLiteral("drop table password_changes"),
                                    QStringLiteral("update userdb set passwd='Old9' where username='超级管理员'"),
                                    QStringLiteral("insert into userdb (username,passwd) values ('职员甲','jia1')")}));
        const QString registerFile = h.data->connection->fileName();
        QVERIFY(QFile::setPermissions(registerFile, QFileDevice::Permissions(0x6644)));

        h.env.dialogs().queueSaveFileName(backup);
        h.env.dialogs().queueBoxAnswer(BoxButton::Yes);
        h.form->restoreDataAction->trigger();
        const QString said = h.env.dialogs().lastBox().request.text;
        QVERIFY2(said.contains(QStringLiteral("原来的数据库文件保留为")), qPrintable(said));

        const QStringList stored = h.queryColumn(QStringLiteral("select passwd from userdb order by username"));
        QCOMPARE(stored.size(), 2);
        for (const QString &value : stored)
            QVERIFY2(data::isPasswordHash(value), qPrintable(value));
        data::OperatorStore store(*h.data->connection);
        QVERIFY(store.checkPassword(superAdministratorName(), QStringLiteral("Old9")));
        QVERIFY(store.checkPassword(QStringLiteral("职员甲"), QStringLiteral("jia1")));
        QVERIFY(!store.checkPassword(QStringLiteral("职员甲"), QStringLiteral("Old9")));
        QCOMPARE(h.listColumn(QStringLiteral("b")), QStringList{QStringLiteral("甲")});

        const QDir folder = QFileInfo(registerFile).dir();
        const QStringList kept = folder.entryList({QFileInfo(registerFile).fileName() + QStringLiteral(".replaced-*")});
        QCOMPARE(kept.size(), 1);
        const QFileInfo keptFile(folder.filePath(kept.first()));
#ifndef _WIN32 // Windows keeps a user's files private by the folder's access list, not by mode bits
        QCOMPARE(int(keptFile.permissions() & 0x0077), 0); // neither group nor others
#endif
        QVERIFY(keptFile.permissions() & QFileDevice::ReadOwner);
    }

    // Damage that the open left to the background read is offered for restore in the running
    // window, and the window works on with the restored register.
    void backgroundDamageCheckOffersTheRestore()
    {
        MainWindowHarness h;
        if (h.data->connection->isServer())
            QSKIP("a server checks its own register");
        data::OperatorStore(*h.data->connection).setPassword(superAdministratorName(), QStringLiteral("Secret9"));
        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("甲"))});
        h.form->backUpDataAction->trigger();
        const QStringList backups = QDir(h.env.filePath(QStringLiteral("backups"))).entryList(QDir::Files);
        QCOMPARE(backups.size(), 1);

        const QString path = h.data->connection->fileName();
        h.data->customerList->close();
        h.data->statementQuery->close();
        h.data->connection->close();
        QVERIFY(damageCustomerPage(path));
        // Opened as a large register is: the customers are left to the background read.
        h.data->connection->setLargeFileCheck(0, [](const QString &table) {
            return table != QLatin1String("data") && !table.startsWith(QLatin1String("data_"));
        });
        h.data->connection->open();
        QVERIFY(h.data->connection->wholeCheckDeferred());

        h.env.dialogs().clear();
        h.env.dialogs().queueBoxAnswer(BoxButton::Yes);
        h.env.dialogs().queueSaveFileName(h.env.filePath(QStringLiteral("backups/") + backups.first()));
        h.env.dialogs().queuePassword(QStringLiteral("Secret9"));
        const std::unique_ptr<db::BackgroundDamageCheck> check = startDeferredDamageCheck(*h.data, h.form.get());
        QVERIFY(check);
        QVERIFY(QTest::qWaitFor([&] { return h.env.dialogs().boxes().size() >= 2; }, 30000));
        const QString offer = h.env.dialogs().boxes().first().request.text;
        QVERIFY2(offer.contains(QStringLiteral("已损坏")) && offer.contains(QStringLiteral("恢复")), qPrintable(offer));
        QVERIFY2(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("资料已从备份")),
                 qPrintable(h.env.dialogs().lastBox().request.text));
        h.form->showAllRecords();
        QCOMPARE(h.listColumn(QStringLiteral("b")), QStringList{QStringLiteral("甲")});
        QCOMPARE(h.queryColumn(QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
    }

    void footerCountFollowsADeletion()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->showAllRecords();
        GridColumn *b = columnOf(h.form.get(), QStringLiteral("b"));
        QCOMPARE(h.data->customerStore->remove(h.data->customerList->customerAt(0)),
                 data::CustomerStore::Outcome::Done);
        QCOMPARE(widgets(h.form)->customerGrid->footerDisplayText(0, b), QStringLiteral("4"));
        QSqlQuery count(h.data->connection->database());
        QVERIFY(count.exec(QStringLiteral("select count(*) from data")) && count.next());
        QCOMPARE(count.value(0).toInt(), 4);
    }

    void cellClickEnablesDelete()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->showAllRecords();
        QTableView *view = widgets(h.form)->customerGrid->view();
        const QRect cell = view->visualRect(view->model()->index(0, 1));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(widgets(h.form)->deleteButton->isEnabled());
        QCOMPARE(widgets(h.form)->customerGrid->currentRow(), 0);
    }

    void doubleClickLoadsEveryCustomerOfTheList()
    {
        MainWindowHarness h;
        QSignalSpy load(h.form->customerList(), &lianbu::customers::CustomerList::recordLoadRequested);
        h.form->showAllRecords(); // an empty list
        h.form->customerList()->onRowDoubleClicked();
        QCOMPARE(load.count(), 0);

        // Whatever the first column holds, an empty category included.
        h.insertCustomers({customer(QString(), QStringLiteral("无类别"), QString())});
        h.insertCustomers(sampleCustomers());
        h.form->showAllRecords();
        widgets(h.form)->customerGrid->setCurrentRow(0);
        h.form->customerList()->onRowDoubleClicked();
        QCOMPARE(load.count(), 1);
        widgets(h.form)->customerGrid->setCurrentRow(1);
        h.form->customerList()->onRowDoubleClicked();
        QCOMPARE(load.count(), 2);
        GridColumns *columns = widgets(h.form)->customerGrid->columns();
        columns->move(columnOf(h.form.get(), QStringLiteral("g"))->index(), 0);
        widgets(h.form)->customerGrid->setCurrentRow(0); // empty category and telephone
        h.form->customerList()->onRowDoubleClicked();
        QCOMPARE(load.count(), 3);
    }

    void hideItemsToggleTheColumnTheirCaptionNames()
    {
        MainWindowHarness h;
        MainWindow *form = h.form.get();
        const QList<QAction *> items = form->customerList()->hideColumnActions();
        QAction *hideRemark = items.at(9); // 隐藏备注
        GridColumn *z = columnOf(form, QStringLiteral("z"));
        hideRemark->trigger();
        QVERIFY(!z->visible());
        QVERIFY(hideRemark->isChecked());
        hideRemark->trigger();
        QVERIFY(z->visible());
        QVERIFY(!hideRemark->isChecked());

        // After moves, every item still hides the column of its caption and nothing else.
        GridColumns *columns = widgets(form)->customerGrid->columns();
        columns->move(columnOf(form, QStringLiteral("g"))->index(), 0);
        columns->move(columnOf(form, QStringLiteral("day1"))->index(), 1);
        columns->move(columnOf(form, QStringLiteral("a"))->index(), 13);
        // The follow-up dates start hidden: shown, so that each item alone hides its column.
        columnOf(form, QStringLiteral("last_followup"))->setVisible(true);
        columnOf(form, QStringLiteral("next_contact"))->setVisible(true);
        for (int i = 0; i < items.size(); ++i) {
            const QString caption = items.at(i)->text().mid(2); // after "隐藏"
            items.at(i)->trigger();
            QStringList hidden;
            for (int c = 0; c < columns->count(); ++c)
                if (!columns->items(c)->visible())
                    hidden << columns->items(c)->title()->caption().remove(QLatin1Char(' '));
            QCOMPARE(hidden, QStringList{caption});
            QVERIFY(items.at(i)->isChecked());
            items.at(i)->trigger();
            QVERIFY(!items.at(i)->isChecked());
        }

        // A column hidden some other way is shown checked when the menu opens.
        columnOf(form, QStringLiteral("k"))->setVisible(false);
        QMetaObject::invokeMethod(form->customerList()->contextMenu(), "aboutToShow");
        QVERIFY(items.at(7)->isChecked()); // 隐藏邮编
    }

    void maximisingGrowsOnlyTheGrid()
    {
        MainWindowHarness h;
        MainWindow *form = h.form.get();
        const int gridBefore = widgets(form)->customerGrid->height();
        const int lowerBefore = widgets(form)->lowerArea->height();
        const int windowBefore = form->height();
        form->showMaximized();
        QTRY_VERIFY(form->height() > windowBefore);
        QCOMPARE(widgets(form)->lowerArea->height(), lowerBefore);
        QCOMPARE(widgets(form)->customerGrid->height() - gridBefore, form->height() - windowBefore);
        QCOMPARE(widgets(form)->lowerArea->geometry().bottom() + 1, form->centralWidget()->height());
        form->showNormal();
        QTRY_COMPARE(widgets(form)->customerGrid->height(), gridBefore);
    }

    void theWindowFitsTheScreenAndFollowsItsSize()
    {
        // Also run at QT_SCALE_FACTOR=2 (test_mainwindow_scaled), where a 1920×1080 screen offers
        // 960×540: less than the design size.
        MainWindowHarness h;
        MainWindow *form = h.form.get();
        const QRect available = form->screen()->availableGeometry();
        QVERIFY2(available.contains(form->frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                                                           .arg(form->frameGeometry().x())
                                                                           .arg(form->frameGeometry().y())
                                                                           .arg(form->frameGeometry().width())
                                                                           .arg(form->frameGeometry().height())
                                                                           .arg(available.width())
                                                                           .arg(available.height())));
        if (available.width() >= 1000 && available.height() >= 700)
            QCOMPARE(form->size(), QSize(973, 629)); // room enough: the design size
        else
            QVERIFY(form->height() < 629);
        const auto laidOut = [&] {
            QWidget *client = form->centralWidget();
            QWidget *grid = widgets(form)->customerGrid;
            QWidget *lower = widgets(form)->lowerArea;
            QCOMPARE(lower->height(), 105);
            QCOMPARE(grid->geometry(), QRect(0, 0, client->width(), client->height() - 105));
            QCOMPARE(lower->geometry().bottom() + 1, client->height());
            // Every control of the lower area whole, the toolbar's last button included.
            QVERIFY(widgets(form)->supportButton->mapTo(form, QPoint(widgets(form)->supportButton->width(), 0)).x()
                    <= form->width());
            QVERIFY(client->rect().contains(widgets(form)->entryPanel->geometry()));
        };
        laidOut();

        // The operator drags the border: smaller (the entry panel open), then larger.
        widgets(form)->newButton->click();
        QVERIFY(widgets(form)->entryPanel->isVisible());
        form->resize(form->minimumSize());
        QTRY_COMPARE(form->size(), form->minimumSize());
        laidOut();
        form->resize(form->minimumSize() - QSize(100, 100)); // never below the minimum
        QTRY_COMPARE(form->size(), form->minimumSize());
        form->resize(QSize(1200, 800).boundedTo(available.size()));
        QTRY_COMPARE(form->size(), QSize(1200, 800).boundedTo(available.size()));
        laidOut();
        // The columns fill the wider grid.
        DataGrid *grid = widgets(form)->customerGrid;
        int sum = 0;
        for (GridColumn *column : grid->columns()->visibleColumns())
            sum += column->width();
        QCOMPARE(sum, grid->view()->viewport()->width());
    }

    void keysOpenAndCloseTheEntryPanelAndReachTheSearch()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->showAllRecords();
        MainWindow *form = h.form.get();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));
        QFrame *panel = widgets(form)->entryPanel;
        QTableView *view = widgets(form)->customerGrid->view();

        // Enter on a row opens it in the entry panel, as a double click does.
        widgets(form)->customerGrid->setCurrentRow(0);
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Return);
        QVERIFY(panel->isVisible());
        QCOMPARE(widgets(form)->shortNameEdit->text(), QStringLiteral("华联"));
        // Esc closes it, from a field of the panel or from the grid.
        widgets(form)->shortNameEdit->setFocus();
        QTest::keyClick(widgets(form)->shortNameEdit, Qt::Key_Escape);
        QVERIFY(!panel->isVisible());
        QVERIFY(view->hasFocus());            // the focus is not lost with the panel
        QTest::keyClick(view, Qt::Key_Enter); // the keypad's Enter too
        QVERIFY(panel->isVisible());
        QTest::keyClick(view, Qt::Key_Escape);
        QVERIFY(!panel->isVisible());
        QCOMPARE(widgets(form)->shortNameEdit->text(), QString()); // emptied, as the close picture does

        // Ctrl+F from anywhere in the window: the focus in 客户简称, its text selected.
        widgets(form)->searchShortName->setText(QStringLiteral("华"));
        h.waitForSearch();
        QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), widgets(form)->searchShortName);
        QCOMPARE(widgets(form)->searchShortName->selectedText(), QStringLiteral("华"));

        // F1 opens the manual, as 帮助主题 does.
        QTest::keyClick(view, Qt::Key_F1);
        QCOMPARE(h.env.shell().opened.size(), 1);
        QVERIFY(h.env.shell().opened.first().toLocalFile().endsWith(QLatin1String("manual/index.html")));
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
    }

    void showOrCreateFormReusesAnOpenWindow()
    {
        MainWindowHarness h;
        ProbeWindow *first = lianbu::showOrCreateWindow<ProbeWindow>(h.form.get(), *h.data);
        QVERIFY(first);
        first->show();
        first->showMinimized();
        ProbeWindow *second = lianbu::showOrCreateWindow<ProbeWindow>(h.form.get(), *h.data);
        QCOMPARE(second, first);
        QVERIFY(!second->isMinimized());
        QVERIFY(second->isVisible());
        delete first;
        ProbeWindow *third = lianbu::showOrCreateWindow<ProbeWindow>(h.form.get(), *h.data);
        // A new window (the old one was visible; the allocator may well reuse its address).
        QVERIFY(third && !third->isVisible());
        QCOMPARE(third->parentWidget(), h.form.get());
        delete third;
    }

    void closingWithoutASessionWritesNothingAndWithOneWritesTheLogout()
    {
        MainWindowHarness h;
        setFixedNow(QDateTime(QDate(2010, 8, 15), QTime(18, 5, 9)));
        h.data->connection->execute(
            QStringLiteral("insert into rz (username,btime) values ('超级管理员','2010-08-15 8:00:00')"));
        h.data->connection->execute(
            QStringLiteral("insert into rz (username,btime) values ('张三','2010-08-15 9:00:00')"));
        h.form->close();
        QSqlQuery q(h.data->connection->database());
        QVERIFY(q.exec(QStringLiteral("select count(*) from rz where jtime is not null")) && q.next());
        QCOMPARE(q.value(0).toInt(), 0);

        h.form->openSession(QStringLiteral("张三"), 2);
        h.form->show();
        h.form->close();
        QVERIFY(q.exec(QStringLiteral("select id, jtime from rz order by id")));
        QVERIFY(q.next());
        QVERIFY(q.value(1).isNull());
        QVERIFY(q.next());
        QCOMPARE(q.value(1).toString(), QStringLiteral("2010-08-15 18:05:09"));
        setFixedNow(QDateTime());
    }

    void aStartWithoutDatabaseShowsTheErrorAndEnds()
    {
        Environment env; // an empty working folder: no data.db
        const int code = runProgram(*qApp);
        QCOMPARE(code, 1);
        QCOMPARE(env.dialogs().boxes().size(), 1);
        const BoxRequest box = env.dialogs().lastBox().request;
        QCOMPARE(box.icon, BoxIcon::Stop);
        QCOMPARE(box.caption, QStringLiteral("联簿宝"));
        QVERIFY2(box.text.contains(QStringLiteral("data.db")), qPrintable(box.text));
        QVERIFY(!QFile::exists(env.filePath(QStringLiteral("data.db"))));
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<MainWindow *>(w) || !w->isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
