#include "tests/support/MainWindowHarness.h"

#include "app/HintPause.h"
#include "app/StartUp.h"
#include "app/VendorAddresses.h"
#include "grid/DBGridEh.h"
#include "platform/Clock.h"
#include "ui_MAIN.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStatusTipEvent>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace lianbu;
using namespace lianbu::test;

namespace {

QList<CustomerRow> sampleCustomers()
{
    return {customer(QStringLiteral("VIP客户"), QStringLiteral("华联"), QStringLiteral("0571-8888"), QStringLiteral("张三")),
            customer(QStringLiteral("普通"), QStringLiteral("阿里"), QStringLiteral("010-1234"), QStringLiteral("李四")),
            customer(QStringLiteral("VIP"), QStringLiteral("O'Neil & Co"), QStringLiteral("0571-1111"), QStringLiteral("O'Neil")),
            customer(QStringLiteral("普通"), QString(), QStringLiteral("021-5555"), QStringLiteral("王五")),
            customer(QStringLiteral("代理"), QStringLiteral("Beta"), QStringLiteral("0571-2222"), QStringLiteral("张三丰"))};
}

TColumnEh *columnOf(TMainForm *form, const QString &field)
{
    return form->ui->DBGridEh1->Columns()->FindByFieldName(field);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void formShowStepsAndTheEmptyGrid()
    {
        MainWindowHarness h(false);
        setFixedNow(QDateTime(QDate(2010, 8, 15), QTime(9, 30, 0)));
        h.show();
        TMainForm *form = h.form.get();
        QCOMPARE(form->windowTitle(), QStringLiteral("联簿宝"));
        QCOMPARE(form->size(), QSize(973, 629));
        QVERIFY(h.data->ADOTable5->active());
        QVERIFY(!form->ui->Panel3->isVisible());
        QCOMPARE(hintPause(), 0);
        QCOMPARE(form->StatusPanel(0)->width(), 250);
        QCOMPARE(form->StatusPanel(1)->text(), QStringLiteral("操作员："));
        QCOMPARE(form->StatusPanel(2)->text(), QStringLiteral("今天：2010-08-15"));
        QCOMPARE(form->StatusPanel(3)->text(), vendorWebAddress());
        QCOMPARE(form->StatusPanel(3)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        // The list query stays closed until "全部记录": the grid shows nothing.
        h.insertCustomers(sampleCustomers());
        QVERIFY(!h.data->ADOQuery15->active());
        QCOMPARE(form->ui->DBGridEh1->View()->model()->rowCount(), 0);
        QVERIFY(!form->ui->ToolButton19->isEnabled());
        QVERIFY(!form->ui->Button12->isVisible());
        QVERIFY(!form->ui->Button9->isVisible());
        setFixedNow(QDateTime());
    }

    void toolbarAndMenusAreInPlace()
    {
        MainWindowHarness h;
        TMainForm *form = h.form.get();
        const QList<QToolButton *> buttons{form->ui->ToolButton7, form->ui->ToolButton19, form->ui->ToolButton22,
                                           form->ui->ToolButton17, form->ui->ToolButton18, form->ui->ToolButton1};
        const QStringList captions{QStringLiteral("新 建"), QStringLiteral("删 除"), QStringLiteral("打 印"),
                                   QStringLiteral("导 出"), QStringLiteral("设 置"), QStringLiteral("技术支持")};
        int previousX = -1;
        for (int i = 0; i < buttons.size(); ++i) {
            QCOMPARE(buttons[i]->text(), captions[i]);
            QCOMPARE(buttons[i]->size(), QSize(55, 52));
            QCOMPARE(buttons[i]->iconSize(), QSize(32, 32));
            QVERIFY(!buttons[i]->icon().isNull());
            QVERIFY(buttons[i]->x() > previousX);
            previousX = buttons[i]->x();
        }
        QStringList menu;
        for (QAction *a : form->PopupMenu1->actions())
            menu << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(menu, QStringList({QStringLiteral("修改密码"), QStringLiteral("用户管理"), QStringLiteral("-"),
                                    QStringLiteral("黑色经典(皮肤)"), QStringLiteral("蓝色幻想(皮肤)"),
                                    QStringLiteral("梦幻天空(皮肤)"), QStringLiteral("黑色遐想(皮肤)"),
                                    QStringLiteral("梦想成真(皮肤)"), QStringLiteral("-"),
                                    QStringLiteral("帮助主题"), QStringLiteral("官方主页"), QStringLiteral("关于")}));
        QCOMPARE(form->ui->ToolButton18->menu(), form->PopupMenu1);
        QCOMPARE(form->PopupMenu3->actions().size(), 13);
        QCOMPARE(form->HideItems.at(9)->text(), QStringLiteral("隐藏备注"));
        QCOMPARE(form->N18->text(), QStringLiteral("检查升级"));
        QVERIFY(!form->PopupMenu1->actions().contains(form->N18));
    }

    void hintOfTheControlUnderThePointerGoesToPanelZero()
    {
        MainWindowHarness h;
        QStatusTipEvent tip(QStringLiteral("点列标题进行排序，双击记录进行修改"));
        QApplication::sendEvent(h.form->ui->DBGridEh1, &tip);
        QCOMPARE(h.form->StatusPanel(0)->text(), QStringLiteral("点列标题进行排序，双击记录进行修改"));
        QCOMPARE(h.form->StatusPanel(1)->text(), QStringLiteral("操作员："));
    }

    void allRecordsListsEverythingAndRefillsTheCategories()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->ui->Edit25->setText(QStringLiteral("张"));
        h.form->Button12Click();
        db::Query *list = h.data->ADOQuery15;
        QCOMPARE(list->sql(), QStringLiteral("select * from data "));
        QCOMPARE(list->recordCount(), 5); // the row without a short name too
        QCOMPARE(list->recNo(), 5);
        QCOMPARE(h.form->ui->DBGridEh1->CurrentRow(), 4);
        QCOMPARE(h.form->ui->Edit25->text(), QStringLiteral("张")); // search texts stay
        QComboBox *category = h.form->ui->ComboBox2;
        QCOMPARE(category->currentText(), QString());
        QStringList items;
        for (int i = 0; i < category->count(); ++i)
            items << category->itemText(i);
        QCOMPARE(items.size(), 4);
        QVERIFY(items.contains(QStringLiteral("VIP客户")) && items.contains(QStringLiteral("代理")));
        QCOMPARE(h.form->ui->DBGridEh1->FooterDisplayText(0, columnOf(h.form.get(), QStringLiteral("a"))),
                 QStringLiteral("总计"));
        QCOMPARE(h.form->ui->DBGridEh1->FooterDisplayText(0, columnOf(h.form.get(), QStringLiteral("b"))),
                 QStringLiteral("5"));
    }

    void searchStatementsAreBuiltFromTheFieldsAsTyped()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->Button12Click();
        TMainForm *form = h.form.get();
        db::Query *list = h.data->ADOQuery15;

        // Typing into the category field runs the search; so does the telephone field.
        QTest::keyClicks(form->ui->ComboBox2, QStringLiteral("VIP"));
        form->ui->Edit29->setText(QStringLiteral("0571"));
        QCOMPARE(list->sql(), QStringLiteral("select * from data where b<>'' and a like '%VIP%' and g like '%0571%'"));
        QCOMPARE(h.listColumn(QStringLiteral("b")), QStringList({QStringLiteral("华联"), QStringLiteral("O'Neil & Co")}));
        QCOMPARE(form->ui->DBGridEh1->FooterDisplayText(0, columnOf(form, QStringLiteral("b"))), QStringLiteral("2"));

        // Emptying the last non-empty fields lists every record that has a short name.
        form->ui->Edit29->clear();
        form->ui->ComboBox2->lineEdit()->selectAll();
        QTest::keyClick(form->ui->ComboBox2->lineEdit(), Qt::Key_Backspace); // an edit by the operator
        QCOMPARE(list->sql(), QStringLiteral("select * from data where b<>''"));
        QCOMPARE(list->recordCount(), 4);

        // 张 then 三: two statements, the second with the whole text.
        form->ui->Edit25->insert(QStringLiteral("张")); // as an input method commits it
        QCOMPARE(list->sql(), QStringLiteral("select * from data where b<>'' and c like '%张%'"));
        QCOMPARE(list->recordCount(), 2);
        form->ui->Edit25->insert(QStringLiteral("三"));
        QCOMPARE(list->sql(), QStringLiteral("select * from data where b<>'' and c like '%张三%'"));
        QCOMPARE(list->recordCount(), 2);
        form->ui->Edit25->clear();

        // A quote in a search text is doubled and found.
        form->ui->Edit25->setText(QStringLiteral("O'Neil"));
        QCOMPARE(list->sql(), QStringLiteral("select * from data where b<>'' and c like '%O''Neil%'"));
        QCOMPARE(h.listColumn(QStringLiteral("c")), QStringList({QStringLiteral("O'Neil")}));
        form->ui->Edit25->clear();

        // Blanks are searched for, not trimmed away: no company holds two blanks.
        form->ui->Edit1->setText(QStringLiteral("  "));
        QCOMPARE(list->sql(), QStringLiteral("select * from data where b<>'' and j like '%  %'"));
        QCOMPARE(list->recordCount(), 0);
        QCOMPARE(form->ui->DBGridEh1->FooterDisplayText(0, columnOf(form, QStringLiteral("b"))), QStringLiteral("0"));
        form->ui->Edit1->clear();

        // The operator's "%" keeps its pattern meaning.
        form->ui->Edit2->setText(QStringLiteral("杭%市"));
        QCOMPARE(list->recordCount(), 4);
    }

    void fieldOrderOfTheSearchIsFixed()
    {
        MainWindowHarness h;
        h.form->Button12Click();
        TMainForm *form = h.form.get();
        form->ui->Edit1->setText(QStringLiteral("J"));
        form->ui->Edit2->setText(QStringLiteral("I"));
        form->ui->Edit25->setText(QStringLiteral("C"));
        form->ui->Edit29->setText(QStringLiteral("G"));
        form->ui->Edit23->setText(QStringLiteral("B"));
        QCOMPARE(h.data->ADOQuery15->sql(),
                 QStringLiteral("select * from data where b<>'' and b like '%B%' and g like '%G%' and c like '%C%' "
                                "and i like '%I%' and j like '%J%'"));
    }

    void choosingACategoryItemMatchesSubstrings()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->Button12Click();
        QComboBox *category = h.form->ui->ComboBox2;
        const int vip = category->findText(QStringLiteral("VIP"));
        QVERIFY(vip >= 0);
        category->setCurrentIndex(vip);
        emit category->activated(vip);
        QCOMPARE(h.data->ADOQuery15->recordCount(), 2); // VIP and VIP客户
    }

    void titleClicksSortDescendingThenAscending()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->Button12Click();
        TDBGridEh *grid = h.form->ui->DBGridEh1;
        TColumnEh *b = columnOf(h.form.get(), QStringLiteral("b"));
        const int bIndex = b->Index();

        grid->ClickTitle(bIndex);
        QCOMPARE(h.data->ADOQuery15->sort(), QStringLiteral("b DESC"));
        QCOMPARE(b->Title()->SortMarker(), smDownEh);
        const QStringList descending = h.listColumn(QStringLiteral("b"));
        QCOMPARE(descending.last(), QString()); // empty sorts first ascending, last descending

        grid->ClickTitle(bIndex);
        QCOMPARE(h.data->ADOQuery15->sort(), QStringLiteral("b"));
        QCOMPARE(b->Title()->SortMarker(), smUpEh);
        QStringList ascending = descending;
        std::reverse(ascending.begin(), ascending.end());
        QCOMPARE(h.listColumn(QStringLiteral("b")), ascending);

        grid->ClickTitle(bIndex);
        QCOMPARE(h.data->ADOQuery15->sort(), QStringLiteral("b DESC"));
        QCOMPARE(b->Title()->SortMarker(), smDownEh);

        // Another column starts again with descending order and takes the only marker.
        TColumnEh *g = columnOf(h.form.get(), QStringLiteral("g"));
        grid->ClickTitle(g->Index());
        QCOMPARE(h.data->ADOQuery15->sort(), QStringLiteral("g DESC"));
        QCOMPARE(b->Title()->SortMarker(), smNoneEh);
        QCOMPARE(g->Title()->SortMarker(), smDownEh);
    }

    void reopeningDropsTheSortButKeepsTheMarker()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->Button12Click();
        const QStringList databaseOrder = h.listColumn(QStringLiteral("g"));
        TColumnEh *g = columnOf(h.form.get(), QStringLiteral("g"));
        h.form->ui->DBGridEh1->ClickTitle(g->Index());
        QVERIFY(h.listColumn(QStringLiteral("g")) != databaseOrder);

        h.form->Button12Click();
        QCOMPARE(h.listColumn(QStringLiteral("g")), databaseOrder);
        QCOMPARE(h.data->ADOQuery15->sort(), QString());
        QCOMPARE(g->Title()->SortMarker(), smDownEh);

        h.form->Button2Click();
        QCOMPARE(g->Title()->SortMarker(), smDownEh);
        // The marker was down, so the next click sorts ascending.
        h.form->ui->DBGridEh1->ClickTitle(g->Index());
        QCOMPARE(h.data->ADOQuery15->sort(), QStringLiteral("g"));
    }

    void footerCountFollowsADeletion()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->Button12Click();
        TColumnEh *b = columnOf(h.form.get(), QStringLiteral("b"));
        h.data->ADOQuery15->first();
        h.data->ADOQuery15->deleteRecord();
        QCOMPARE(h.form->ui->DBGridEh1->FooterDisplayText(0, b), QStringLiteral("4"));
        QSqlQuery count(h.data->ADOConnection1->database());
        QVERIFY(count.exec(QStringLiteral("select count(*) from data")) && count.next());
        QCOMPARE(count.value(0).toInt(), 4);
    }

    void cellClickEnablesDelete()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleCustomers());
        h.form->Button12Click();
        QTableView *view = h.form->ui->DBGridEh1->View();
        const QRect cell = view->visualRect(view->model()->index(0, 1));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(h.form->ui->ToolButton19->isEnabled());
        QCOMPARE(h.data->ADOQuery15->recNo(), 1);
    }

    void doubleClickLoadsOnlyRowsWithAFirstColumnValue()
    {
        MainWindowHarness h;
        QSignalSpy load(h.form.get(), &TMainForm::recordLoadRequested);
        h.form->Button12Click(); // an empty list
        h.form->DBGridEh1DblClick();
        QCOMPARE(load.count(), 0);

        h.insertCustomers({customer(QString(), QStringLiteral("无类别"), QStringLiteral("0000"))});
        h.insertCustomers(sampleCustomers());
        h.form->Button12Click();
        h.data->ADOQuery15->first(); // empty category
        h.form->DBGridEh1DblClick();
        QCOMPARE(load.count(), 0);
        h.data->ADOQuery15->next();
        h.form->DBGridEh1DblClick();
        QCOMPARE(load.count(), 1);

        // After the telephone column moved to the front it is the one tested.
        TDBGridColumnsEh *columns = h.form->ui->DBGridEh1->Columns();
        columns->Move(columnOf(h.form.get(), QStringLiteral("g"))->Index(), 0);
        h.data->ADOQuery15->first(); // empty category, telephone set
        h.form->DBGridEh1DblClick();
        QCOMPARE(load.count(), 2);
    }

    void hideItemsToggleTheColumnAtTheirPosition()
    {
        MainWindowHarness h;
        TMainForm *form = h.form.get();
        QAction *hideRemark = form->HideItems.at(9); // 隐藏备注, position 12
        TColumnEh *z = columnOf(form, QStringLiteral("z"));
        hideRemark->trigger();
        QVERIFY(!z->Visible());
        QVERIFY(hideRemark->isChecked());
        hideRemark->trigger();
        QVERIFY(z->Visible());
        QVERIFY(!hideRemark->isChecked());

        // After a move, "隐藏客户类别" hides whatever stands at position 0.
        TDBGridColumnsEh *columns = form->ui->DBGridEh1->Columns();
        columns->Move(columnOf(form, QStringLiteral("g"))->Index(), 0);
        form->HideItems.at(0)->trigger();
        QVERIFY(!columnOf(form, QStringLiteral("g"))->Visible());
        QVERIFY(columnOf(form, QStringLiteral("a"))->Visible());
    }

    void maximisingGrowsOnlyTheGrid()
    {
        MainWindowHarness h;
        TMainForm *form = h.form.get();
        const int gridBefore = form->ui->DBGridEh1->height();
        const int lowerBefore = form->ui->Panel1->height();
        const int windowBefore = form->height();
        form->showMaximized();
        QTRY_VERIFY(form->height() > windowBefore);
        QCOMPARE(form->ui->Panel1->height(), lowerBefore);
        QCOMPARE(form->ui->DBGridEh1->height() - gridBefore, form->height() - windowBefore);
        QCOMPARE(form->ui->Panel1->geometry().bottom() + 1, form->centralWidget()->height());
        form->showNormal();
        QTRY_COMPARE(form->ui->DBGridEh1->height(), gridBefore);
    }

    void showOrCreateFormReusesAnOpenWindow()
    {
        MainWindowHarness h;
        QDialog *first = nullptr;
        h.form->ShowOrCreateForm(first, h.form.get());
        QVERIFY(first);
        first->show();
        first->showMinimized();
        QDialog *second = nullptr;
        h.form->ShowOrCreateForm(second, h.form.get());
        QCOMPARE(second, first);
        QVERIFY(!second->isMinimized());
        QVERIFY(second->isVisible());
        delete first;
        QDialog *third = nullptr;
        h.form->ShowOrCreateForm(third, h.form.get());
        // A new window (the old one was visible; the allocator may well reuse its address).
        QVERIFY(third && !third->isVisible());
        QCOMPARE(third->parentWidget(), h.form.get());
        delete third;
    }

    void closingWithoutASessionWritesNothingAndWithOneWritesTheLogout()
    {
        MainWindowHarness h;
        setFixedNow(QDateTime(QDate(2010, 8, 15), QTime(18, 5, 9)));
        h.data->ADOConnection1->execute(
            QStringLiteral("insert into rz (username,btime) values ('超级管理员','2010-08-15 8:00:00')"));
        h.data->ADOConnection1->execute(
            QStringLiteral("insert into rz (username,btime) values ('张三','2010-08-15 9:00:00')"));
        h.form->close();
        QSqlQuery q(h.data->ADOConnection1->database());
        QVERIFY(q.exec(QStringLiteral("select count(*) from rz where jtime is not null")) && q.next());
        QCOMPARE(q.value(0).toInt(), 0);

        h.form->Tag = 2;
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
            QVERIFY(!qobject_cast<TMainForm *>(w) || !w->isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
