#include "data/dm.h"
#include "tests/support/MainWindowHarness.h"

#include "customers/EntryPanel.h"
#include "data/Statements.h"
#include "grid/DBGridEh.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "ui_MAIN.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace lianbu;
using namespace lianbu::test;

namespace {

const QStringList kColumns{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"),
                           QStringLiteral("e"), QStringLiteral("f"), QStringLiteral("g"), QStringLiteral("h"),
                           QStringLiteral("i"), QStringLiteral("j"), QStringLiteral("k"), QStringLiteral("l"),
                           QStringLiteral("m"), QStringLiteral("z"), QStringLiteral("day1")};

// The main window after a login: shown, focused, the list open on every record.
struct Panel : MainWindowHarness
{
    Ui::TMainForm *ui;
    QList<QWidget *> fields; // the fifteen controls in column order a..m, z, day1

    explicit Panel(const QList<CustomerRow> &rows = {}, const QDateTime &startedAt = QDateTime())
        : MainWindowHarness(false)
        , ui(form->ui)
    {
        setFixedNow(startedAt);
        fields = {ui->Edit12, ui->Edit13, ui->Edit10, ui->ComboBox1, ui->Edit15, ui->Edit9, ui->Edit21, ui->Edit16,
                  ui->Edit27, ui->Edit17, ui->Edit28, ui->Edit11, ui->Edit8,  ui->Edit22, ui->DBDateTimeEditEh1};
        show();
        QTRY_COMPARE(QGuiApplication::focusWindow(), form->windowHandle());
        insertCustomers(rows);
        form->Button12Click();
    }

    // Puts texts into the fourteen text controls (a..m, z) and a date into the editor.
    void fill(const QStringList &texts, const QDate &day = QDate(2010, 8, 15))
    {
        for (int i = 0; i < 14; ++i) {
            if (auto *edit = qobject_cast<QLineEdit *>(fields[i]))
                edit->setText(texts.value(i));
            else
                ui->ComboBox1->setCurrentText(texts.value(i));
        }
        ui->DBDateTimeEditEh1->setDate(day);
    }

    QStringList panelTexts() const
    {
        QStringList texts;
        for (int i = 0; i < 14; ++i) {
            if (auto *edit = qobject_cast<QLineEdit *>(fields[i]))
                texts << edit->text();
            else
                texts << ui->ComboBox1->currentText();
        }
        texts << ui->DBDateTimeEditEh1->text();
        return texts;
    }

    // Rows of data in table order; null as "<null>".
    QList<QStringList> rows() const
    {
        QList<QStringList> result;
        QSqlQuery q(data->ADOConnection1->database());
        q.exec(QStringLiteral("select %1 from data order by rowid").arg(kColumns.join(QLatin1Char(','))));
        while (q.next()) {
            QStringList row;
            for (int i = 0; i < kColumns.size(); ++i)
                row << (q.value(i).isNull() ? QStringLiteral("<null>") : q.value(i).toString());
            result << row;
        }
        return result;
    }

    // Makes list row `row` current by a click on it, as the operator does.
    void clickRow(int row)
    {
        QTableView *view = ui->DBGridEh1->View();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(row, 1)).center());
    }
    void doubleClickRow(int row)
    {
        QTableView *view = ui->DBGridEh1->View();
        const QPoint at = view->visualRect(view->model()->index(row, 1)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    }

    ScriptedDialogs &boxes() { return env.dialogs(); }
};

CustomerRow fullRow(const QString &a, const QString &b)
{
    return {a, b, QStringLiteral("王五"), QStringLiteral("女"), QStringLiteral("经理"), QStringLiteral("139"),
            QStringLiteral("0571-1"), QStringLiteral("0571-2"), QStringLiteral("杭州"), QStringLiteral("联簿"),
            QStringLiteral("310000"), QStringLiteral("w@x.cn"), QStringLiteral("www.x.cn"), QStringLiteral("备注"),
            QStringLiteral("2009-01-01")};
}

void verifyBox(const ScriptedDialogs::Box &box, BoxIcon icon, const QString &caption, const QString &text)
{
    QCOMPARE(box.request.text, text);
    QCOMPARE(box.request.caption, caption);
    QCOMPARE(box.request.icon, icon);
}

void verifyConfirmation(const ScriptedDialogs::Box &box, const QString &text)
{
    verifyBox(box, BoxIcon::Warning, QStringLiteral("警告！"), text);
    QCOMPARE(box.request.buttons, QList<BoxButton>({BoxButton::Ok, BoxButton::Cancel}));
    QCOMPARE(box.request.defaultButton, BoxButton::Cancel);
}

} // namespace

class TestEntryPanel : public QObject
{
    Q_OBJECT

private slots:
    void thePanelIsLaidOutAsDesigned()
    {
        Panel p({}, QDateTime(QDate(2010, 8, 15), QTime(10, 0, 0)));
        Ui::TMainForm *ui = p.ui;
        QVERIFY(!ui->Panel3->isVisible());
        QCOMPARE(ui->Panel3->geometry(), QRect(192, 281, 553, 208));
        const QList<QRect> at{{81, 21, 78, 21},  {81, 50, 78, 21},  {81, 79, 78, 21},  {80, 108, 81, 22},
                              {81, 137, 78, 21}, {233, 21, 88, 21}, {233, 50, 88, 21}, {233, 79, 88, 21},
                              {233, 108, 112, 21}, {233, 137, 112, 21}, {433, 21, 78, 21}, {433, 50, 104, 21},
                              {433, 79, 104, 21}, {433, 108, 78, 21}, {434, 137, 95, 22}};
        const QStringList labels{QStringLiteral("客户类别："), QStringLiteral("客户简称："), QStringLiteral("姓 名："),
                                 QStringLiteral("性 别："),     QStringLiteral("职 务："),     QStringLiteral("手 机："),
                                 QStringLiteral("电 话："),     QStringLiteral("传 真："),     QStringLiteral("地 址："),
                                 QStringLiteral("单 位："),     QStringLiteral("邮 编："),     QStringLiteral("电子邮件："),
                                 QStringLiteral("网 站："),     QStringLiteral("备 注："),     QStringLiteral("登记日期：")};
        ToolButton7(p);
        const QList<QLabel *> panelLabels = ui->Panel3->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
        for (int i = 0; i < 15; ++i) {
            QWidget *field = p.fields[i];
            QCOMPARE(field->geometry().topLeft(), at[i].topLeft());
            QCOMPARE(field->width(), at[i].width());
            QCOMPARE(field->font().pixelSize(), 14);
            QCOMPARE(field->font().family(), QStringLiteral("宋体"));
            // Its label stands to the left, on the same line, in teal.
            QLabel *label = nullptr;
            for (QLabel *l : panelLabels) {
                if (l->text() == labels[i] && l->geometry().right() < field->x() && qAbs(l->y() - field->y()) <= 2)
                    label = l;
            }
            QVERIFY2(label, qPrintable(labels[i]));
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0, 128, 128));
            QCOMPARE(label->cursor().shape(), Qt::ArrowCursor);
            if (auto *edit = qobject_cast<QLineEdit *>(field))
                QCOMPARE(edit->palette().color(QPalette::Text), QColor(0, 128, 128));
        }
        QCOMPARE(ui->ComboBox1->count(), 2);
        QCOMPARE(ui->ComboBox1->itemText(0), QStringLiteral("男"));
        QCOMPARE(ui->ComboBox1->itemText(1), QStringLiteral("女"));
        QCOMPARE(ui->ComboBox1->currentText(), QStringLiteral("男"));
        QVERIFY(ui->ComboBox1->isEditable());
        QVERIFY(ui->DBDateTimeEditEh1->calendarPopup());
        QCOMPARE(ui->DBDateTimeEditEh1->text(), QStringLiteral("2010-08-15")); // FormShow set it to now
        QCOMPARE(ui->Button1->text(), QStringLiteral("新 增"));
        QCOMPARE(ui->Button1->geometry(), QRect(152, 168, 75, 25));
        QCOMPARE(ui->Button3->text(), QStringLiteral("修 改"));
        QCOMPARE(ui->Button3->geometry(), QRect(272, 168, 75, 25));
        QVERIFY(!ui->Button9->isVisible());
        QCOMPARE(ui->Image1->geometry(), QRect(528, 8, 17, 17));
        QCOMPARE(ui->Image1->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!ui->Image1->pixmap().isNull());
        QCOMPARE(ui->Panel3->cursor().shape(), Qt::SizeAllCursor);
    }

    void newShowsThePanelEmptyButKeepsSexAndDate()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        QVERIFY(!p.ui->Button3->isEnabled());
        p.doubleClickRow(0);
        QVERIFY(p.ui->Panel3->isVisible());
        QVERIFY(p.ui->Button3->isEnabled());
        QCOMPARE(p.panelTexts(), fullRow(QStringLiteral("VIP"), QStringLiteral("华联")));
        QTest::mouseClick(p.ui->ToolButton7, Qt::LeftButton);
        QStringList expected(15);
        expected[3] = QStringLiteral("女");
        expected[14] = QStringLiteral("2009-01-01");
        QCOMPARE(p.panelTexts(), expected);
        QVERIFY(!p.ui->Button3->isEnabled());
        QVERIFY(p.ui->Panel3->isVisible());
        QVERIFY(p.boxes().boxes().isEmpty());
    }

    void addWritesTrimmedTextsAndKeepsThePanelOpen()
    {
        Panel p({fullRow(QStringLiteral("老"), QStringLiteral("旧客户"))});
        ToolButton7(p);
        p.clickRow(0);
        QVERIFY(p.ui->ToolButton19->isEnabled());
        QStringList typed{QStringLiteral("  VIP客户 "), QStringLiteral("\tO'Neil & Co"), QStringLiteral("O'Neil"),
                          QStringLiteral(" 未知 "), QString(), QStringLiteral("139"), QStringLiteral("0571"),
                          QStringLiteral(" "), QStringLiteral("杭州"), QStringLiteral("联簿"), QStringLiteral("310000"),
                          QStringLiteral("a@b.c"), QStringLiteral("www"), QStringLiteral("备注 ")};
        p.fill(typed, QDate(2010, 8, 15));
        bool checkedWhileOpen = false;
        p.boxes().whileBoxOpen = [&](const BoxRequest &) {
            // The message comes after the post and before the panel is cleared and the list reloaded.
            checkedWhileOpen = true;
            QCOMPARE(p.rows().size(), 2);
            QCOMPARE(p.ui->Edit12->text(), typed[0]);
        };
        QTest::mouseClick(p.ui->Button1, Qt::LeftButton);
        p.boxes().whileBoxOpen = nullptr;
        QVERIFY(checkedWhileOpen);
        QCOMPARE(p.boxes().boxes().size(), 1);
        verifyBox(p.boxes().lastBox(), BoxIcon::None, QStringLiteral("联簿宝"), QStringLiteral("增加数据成功！"));
        QCOMPARE(p.rows().last(),
                 QStringList({QStringLiteral("VIP客户"), QStringLiteral("O'Neil & Co"), QStringLiteral("O'Neil"),
                              QStringLiteral("未知"), QString(), QStringLiteral("139"), QStringLiteral("0571"), QString(),
                              QStringLiteral("杭州"), QStringLiteral("联簿"), QStringLiteral("310000"), QStringLiteral("a@b.c"),
                              QStringLiteral("www"), QStringLiteral("备注"), QStringLiteral("2010-08-15")}));
        // Open and empty for the next record, sex and date kept, both buttons disabled.
        QVERIFY(p.ui->Panel3->isVisible());
        QStringList expected(15);
        expected[3] = QStringLiteral(" 未知 ");
        expected[14] = QStringLiteral("2010-08-15");
        QCOMPARE(p.panelTexts(), expected);
        QVERIFY(!p.ui->Button3->isEnabled());
        QVERIFY(!p.ui->ToolButton19->isEnabled());
        // "全部记录": every record, the new one current at the end; its category is offered.
        db::Query *list = p.data->ADOQuery15;
        QCOMPARE(list->sql(), sql::allRecords());
        QCOMPARE(list->recordCount(), 2);
        QCOMPARE(list->recNo(), 2);
        QCOMPARE(list->fieldByName(QStringLiteral("b")).asString(), QStringLiteral("O'Neil & Co"));
        QCOMPARE(p.ui->DBGridEh1->CurrentRow(), 1);
        QVERIFY(p.ui->ComboBox2->findText(QStringLiteral("VIP客户")) >= 0);
    }

    void requiredFieldsRefuseBlankTextOnAddAndModify()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        ToolButton7(p);
        p.fill({QStringLiteral("   "), QStringLiteral("简称")});
        QTest::mouseClick(p.ui->Button1, Qt::LeftButton);
        verifyBox(p.boxes().lastBox(), BoxIcon::Warning, QStringLiteral("Warning"), QStringLiteral("客户类型必须输入！"));
        QCOMPARE(QApplication::focusWidget(), p.ui->Edit12);
        p.ui->Edit12->setText(QStringLiteral("类"));
        p.ui->Edit13->setText(QStringLiteral("\t "));
        QTest::mouseClick(p.ui->Button1, Qt::LeftButton);
        verifyBox(p.boxes().lastBox(), BoxIcon::Warning, QStringLiteral("Warning"), QStringLiteral("客户简称必须输入！"));
        QCOMPARE(QApplication::focusWidget(), p.ui->Edit13);
        QCOMPARE(p.rows().size(), 1);
        QCOMPARE(p.ui->Edit12->text(), QStringLiteral("类"));
        QCOMPARE(p.ui->Edit13->text(), QStringLiteral("\t "));

        // Modify: the question first, then the same checks.
        p.doubleClickRow(0);
        p.ui->Edit12->setText(QStringLiteral(" "));
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->Button3, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        verifyConfirmation(p.boxes().boxes()[0], QStringLiteral("你确实要修改选中资料吗？"));
        verifyBox(p.boxes().boxes()[1], BoxIcon::Warning, QStringLiteral("Warning"), QStringLiteral("客户类型必须输入！"));
        QCOMPARE(p.rows()[0], fullRow(QStringLiteral("VIP"), QStringLiteral("华联")));
        QVERIFY(p.ui->Panel3->isVisible());
        QVERIFY(p.ui->Button3->isEnabled());
    }

    void textsAreCutToTheColumnWidth()
    {
        Panel p;
        ToolButton7(p);
        const QString longCategory = QString(60, QChar(u'类'));
        p.fill({longCategory, QStringLiteral("b"), QString(), QStringLiteral("男")});
        QTest::mouseClick(p.ui->Button1, Qt::LeftButton);
        QCOMPARE(p.rows().size(), 1);
        QCOMPARE(p.rows()[0][0], longCategory.left(50));
    }

    void modifyWritesTheSelectedRowAfterConfirmation()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联")), fullRow(QStringLiteral("普通"), QStringLiteral("阿里"))});
        p.doubleClickRow(0);
        p.ui->Edit13->setText(QStringLiteral(" O'Neil "));
        p.ui->ComboBox1->setCurrentText(QStringLiteral("男"));
        p.ui->DBDateTimeEditEh1->setDate(QDate(2011, 2, 3));

        // Cancel writes nothing and leaves the panel as it was.
        p.boxes().queueBoxAnswer(BoxButton::Cancel);
        const QStringList before = p.panelTexts();
        QTest::mouseClick(p.ui->Button3, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 1);
        QCOMPARE(p.rows()[0], fullRow(QStringLiteral("VIP"), QStringLiteral("华联")));
        QCOMPARE(p.panelTexts(), before);
        QVERIFY(p.ui->Panel3->isVisible());
        QVERIFY(p.ui->Button3->isEnabled());

        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        bool checked = false;
        p.boxes().whileBoxOpen = [&](const BoxRequest &request) {
            if (request.text != QStringLiteral("修改数据成功！"))
                return;
            // The success message comes after the reload and the hiding.
            checked = true;
            QVERIFY(!p.ui->Panel3->isVisible());
            QCOMPARE(p.data->ADOQuery15->recNo(), 2);
        };
        QTest::mouseClick(p.ui->Button3, Qt::LeftButton);
        p.boxes().whileBoxOpen = nullptr;
        QVERIFY(checked);
        QCOMPARE(p.boxes().boxes().size(), 2);
        verifyConfirmation(p.boxes().boxes()[0], QStringLiteral("你确实要修改选中资料吗？"));
        verifyBox(p.boxes().boxes()[1], BoxIcon::None, QStringLiteral("联簿宝"), QStringLiteral("修改数据成功！"));
        CustomerRow expected = fullRow(QStringLiteral("VIP"), QStringLiteral("O'Neil"));
        expected[3] = QStringLiteral("男");
        expected[14] = QStringLiteral("2011-02-03");
        QCOMPARE(p.rows()[0], expected);
        QCOMPARE(p.rows()[1], fullRow(QStringLiteral("普通"), QStringLiteral("阿里")));
        QVERIFY(!p.ui->Button3->isEnabled());
        QVERIFY(!p.ui->ToolButton19->isEnabled());
        QCOMPARE(p.ui->Edit13->text(), QString());

        // The O'Neil record loads back as written.
        p.data->ADOQuery15->first();
        p.form->DBGridEh1DblClick();
        QCOMPARE(p.ui->Edit13->text(), QStringLiteral("O'Neil"));
        QCOMPARE(p.ui->DBDateTimeEditEh1->text(), QStringLiteral("2011-02-03"));
    }

    void modifyWritesIntoTheRowSelectedAfterTheLoad()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("第一")), fullRow(QStringLiteral("VIP"), QStringLiteral("第二"))});
        p.doubleClickRow(0);
        p.ui->Edit22->setText(QStringLiteral("改过"));
        p.clickRow(1);
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->Button3, Qt::LeftButton);
        QCOMPARE(p.rows()[0], fullRow(QStringLiteral("VIP"), QStringLiteral("第一")));
        CustomerRow second = fullRow(QStringLiteral("VIP"), QStringLiteral("第一"));
        second[13] = QStringLiteral("改过");
        QCOMPARE(p.rows()[1], second);
    }

    void modifyWithNoRowInTheListWritesNothing()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        p.doubleClickRow(0);
        p.ui->Edit23->setText(QStringLiteral("没有这个")); // the search empties the list
        QCOMPARE(p.data->ADOQuery15->recordCount(), 0);
        p.ui->Edit13->setText(QStringLiteral("新简称"));
        QTest::mouseClick(p.ui->Button3, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 1);
        verifyBox(p.boxes().lastBox(), BoxIcon::None, QStringLiteral("联簿宝"), QStringLiteral("列表中没有选中的资料，未作修改！"));
        QCOMPARE(p.rows()[0], fullRow(QStringLiteral("VIP"), QStringLiteral("华联")));
        QCOMPARE(p.ui->Edit13->text(), QStringLiteral("新简称"));
        QVERIFY(p.ui->Panel3->isVisible());
        // A list left closed (a refused statement) has no row either.
        p.data->ADOQuery15->close();
        QTest::mouseClick(p.ui->Button3, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("列表中没有选中的资料，未作修改！"));
        QCOMPARE(p.rows()[0], fullRow(QStringLiteral("VIP"), QStringLiteral("华联")));
    }

    void aRefusedWriteLosesNothingAndCanBeRepeated()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        db::Connection *c = p.data->ADOConnection1;
        c->execute(QStringLiteral("create trigger no_insert before insert on data begin select raise(abort, 'disk says no'); end"));
        c->execute(QStringLiteral("create trigger no_update before update on data begin select raise(abort, 'disk says no'); end"));
        c->execute(QStringLiteral("create trigger no_delete before delete on data begin select raise(abort, 'disk says no'); end"));

        // Add.
        ToolButton7(p);
        p.fill({QStringLiteral("新类"), QStringLiteral("新客户")});
        const QStringList typed = p.panelTexts();
        QTest::mouseClick(p.ui->Button1, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 1);
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QVERIFY(p.boxes().lastBox().request.text.contains(QStringLiteral("disk says no")));
        QCOMPARE(p.panelTexts(), typed);
        QCOMPARE(p.data->ADOTable5->state(), db::DataSetState::Browse);
        QCOMPARE(p.rows().size(), 1);

        // Modify.
        p.doubleClickRow(0);
        p.ui->Edit13->setText(QStringLiteral("改名"));
        const QStringList edited = p.panelTexts();
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->Button3, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QCOMPARE(p.data->ADOQuery15->state(), db::DataSetState::Browse);
        QCOMPARE(p.data->ADOQuery15->fieldByName(QStringLiteral("b")).asString(), QStringLiteral("华联"));
        QCOMPARE(p.panelTexts(), edited);
        QVERIFY(p.ui->Panel3->isVisible());
        QVERIFY(p.ui->Button3->isEnabled());

        // Delete.
        p.clickRow(0);
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->ToolButton19, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QCOMPARE(p.data->ADOQuery15->recordCount(), 1);

        // Once the database takes writes again, the same clicks succeed.
        c->execute(QStringLiteral("drop trigger no_insert"));
        c->execute(QStringLiteral("drop trigger no_update"));
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->Button3, Qt::LeftButton);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("修改数据成功！"));
        QCOMPARE(p.rows()[0][1], QStringLiteral("改名"));
    }

    void deleteAsksThenRemovesTheCurrentRow()
    {
        Panel p({fullRow(QStringLiteral("A"), QStringLiteral("一")), fullRow(QStringLiteral("B"), QStringLiteral("二")),
                 fullRow(QStringLiteral("C"), QStringLiteral("三"))});
        QVERIFY(!p.ui->ToolButton19->isEnabled());
        p.clickRow(1);
        QVERIFY(p.ui->ToolButton19->isEnabled());
        p.boxes().queueBoxAnswer(BoxButton::Cancel);
        QTest::mouseClick(p.ui->ToolButton19, Qt::LeftButton);
        QCOMPARE(p.rows().size(), 3);
        QVERIFY(p.ui->ToolButton19->isEnabled());

        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->ToolButton19, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        verifyConfirmation(p.boxes().boxes()[0], QStringLiteral("你真的要删除选中资料吗？"));
        verifyBox(p.boxes().boxes()[1], BoxIcon::None, QStringLiteral("联簿宝"), QStringLiteral("删除数据成功！"));
        QCOMPARE(p.rows().size(), 2);
        QCOMPARE(p.rows()[1][1], QStringLiteral("三"));
        QCOMPARE(p.data->ADOQuery15->recordCount(), 2);
        QCOMPARE(p.data->ADOQuery15->sql(), sql::allRecords()); // not reloaded
        QVERIFY(!p.ui->ToolButton19->isEnabled());
        QVERIFY(!p.ui->Panel3->isVisible());
    }

    void deletingFromAnEmptyListIsRefused()
    {
        Panel p;
        p.ui->ToolButton19->setEnabled(true); // a click on the empty grid enables it
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->ToolButton19, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("Cannot perform this operation on an empty dataset."));
    }

    void enterRunsThroughTheFieldsAndAddsOnTheButton()
    {
        Panel p;
        ToolButton7(p);
        QCOMPARE(QApplication::focusWidget(), p.ui->Edit12);
        QList<QWidget *> visited;
        for (int i = 0; i < 15; ++i) {
            QWidget *focus = QApplication::focusWidget();
            if (i == 0)
                QTest::keyClicks(focus, QStringLiteral("Cat"));
            if (i == 1)
                QTest::keyClicks(focus, QStringLiteral("Short"));
            if (i == 3) // the sex, typed over: neither of the two items
                QTest::keyClicks(focus, QStringLiteral("x"));
            QTest::keyClick(focus, Qt::Key_Return);
            visited << QApplication::focusWidget();
        }
        QList<QWidget *> expected = p.fields.mid(1);
        expected << p.ui->Button1;
        for (int i = 0; i < 15; ++i) {
            QWidget *w = visited[i];
            while (w && !expected.contains(w))
                w = w->parentWidget(); // the inner edit of a combo box or date editor
            QCOMPARE(w, expected[i]);
        }
        QVERIFY(p.rows().isEmpty());
        QTest::keyClick(p.ui->Button1, Qt::Key_Return);
        QCOMPARE(p.rows().size(), 1);
        QCOMPARE(p.rows()[0].mid(0, 4), QStringList({QStringLiteral("Cat"), QStringLiteral("Short"), QString(), QStringLiteral("男x")}));
        // The typed sex did not become an item.
        QCOMPARE(p.ui->ComboBox1->count(), 2);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("增加数据成功！"));
    }

    void enterInTheSearchCategoryGoesToThePositionField()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        QComboBox *category = p.ui->ComboBox2;
        const int items = category->count();
        category->lineEdit()->setFocus();
        // Panel hidden: the focus stays, and the typed text does not join the list.
        QTest::keyClicks(category->lineEdit(), QStringLiteral("ABC"));
        QTest::keyClick(category->lineEdit(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), category);
        QCOMPARE(category->count(), items);
        ToolButton7(p);
        category->lineEdit()->setFocus();
        QTest::keyClick(category->lineEdit(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), p.ui->Edit15);
    }

    void theDateEditorWritesNullWhenEmptyAndKeepsUnreadableText()
    {
        CustomerRow odd = fullRow(QStringLiteral("VIP"), QStringLiteral("奇怪日期"));
        odd[14] = QStringLiteral("去年春天");
        CustomerRow none = fullRow(QStringLiteral("VIP"), QStringLiteral("没有日期"));
        none[14] = QString();
        Panel p({odd, none});
        // A text the editor cannot show is written back unchanged.
        p.data->ADOQuery15->first();
        p.form->DBGridEh1DblClick();
        QCOMPARE(TrimInput(p.ui->DBDateTimeEditEh1->text()), QString());
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        p.form->Button3Click();
        QCOMPARE(p.rows()[0][14], QStringLiteral("去年春天"));
        // An empty date is written as NULL.
        p.data->ADOQuery15->last();
        p.form->DBGridEh1DblClick();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        p.form->Button3Click();
        QCOMPARE(p.rows()[1][14], QStringLiteral("<null>"));
        // Once a date is picked, it is the date that is written.
        p.data->ADOQuery15->first();
        p.form->DBGridEh1DblClick();
        p.ui->DBDateTimeEditEh1->setDate(QDate(2012, 12, 1));
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        p.form->Button3Click();
        QCOMPARE(p.rows()[0][14], QStringLiteral("2012-12-01"));
    }

    void theOperatorCanEmptyTheDate()
    {
        Panel p;
        ToolButton7(p);
        p.fill({QStringLiteral("类"), QStringLiteral("简称")});
        QDateEdit *date = p.ui->DBDateTimeEditEh1;
        date->setFocus();
        QLineEdit *inner = date->findChild<QLineEdit *>();
        QVERIFY(inner);
        // Part of the date selected: an ordinary edit of the text.
        inner->setSelection(0, 4);
        QTest::keyClick(inner, Qt::Key_Delete);
        QVERIFY(!TrimInput(date->text()).isEmpty());
        date->setDate(QDate(2010, 8, 15));
        inner->selectAll();
        QTest::keyClick(inner, Qt::Key_Delete);
        QCOMPARE(TrimInput(date->text()), QString());
        QTest::mouseClick(p.ui->Button1, Qt::LeftButton);
        QCOMPARE(p.rows().size(), 1);
        QCOMPARE(p.rows()[0][14], QStringLiteral("<null>"));
    }

    void registrationDatesAreReadLeniently()
    {
        QCOMPARE(customers::registrationDateOf(QStringLiteral("2010-08-15")), std::optional<QDate>(QDate(2010, 8, 15)));
        QCOMPARE(customers::registrationDateOf(QStringLiteral("2010-8-5 9:30:00")), std::optional<QDate>(QDate(2010, 8, 5)));
        QVERIFY(!customers::registrationDateOf(QStringLiteral("2010-13-01")));
        QVERIFY(!customers::registrationDateOf(QString()));
        QCOMPARE(TrimInput(QStringLiteral("\t a b \r\n")), QStringLiteral("a b"));
    }

    void theClosePictureHidesAndClears()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        p.doubleClickRow(0);
        QTest::mouseClick(p.ui->Image1, Qt::RightButton);
        QVERIFY(p.ui->Panel3->isVisible());
        QTest::mouseClick(p.ui->Image1, Qt::LeftButton);
        QVERIFY(!p.ui->Panel3->isVisible());
        QVERIFY(!p.ui->Button3->isEnabled());
        QCOMPARE(p.ui->Edit12->text(), QString());
        QCOMPARE(p.ui->ComboBox1->currentText(), QStringLiteral("女"));
    }

    void theBackgroundDragsThePanelWithinTheWindow()
    {
        Panel p;
        ToolButton7(p);
        QWidget *panel = p.ui->Panel3;
        const QPoint start = panel->pos();
        const QPoint grip(300, 200); // background below the buttons
        QVERIFY(!panel->childAt(grip));

        // Right button: nothing moves.
        QTest::mousePress(panel, Qt::RightButton, {}, grip);
        QTest::mouseMove(panel, grip + QPoint(40, 20));
        QTest::mouseRelease(panel, Qt::RightButton, {}, grip + QPoint(40, 20));
        QCOMPARE(panel->pos(), start);

        // A label is not the background either.
        QLabel *label = panel->findChild<QLabel *>(QStringLiteral("Label5"));
        QVERIFY(label);
        QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseMove(label, QPoint(45, 25));
        QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(45, 25));
        QCOMPARE(panel->pos(), start);

        // Left button on the background moves it with the pointer.
        sendMouse(panel, QEvent::MouseButtonPress, grip, Qt::LeftButton);
        sendMouse(panel, QEvent::MouseMove, grip + QPoint(-50, -40), Qt::NoButton);
        sendMouse(panel, QEvent::MouseButtonRelease, grip + QPoint(-50, -40), Qt::LeftButton);
        QCOMPARE(panel->pos(), start + QPoint(-50, -40));

        // Far beyond the window's edges it stops at them.
        const QPoint now = panel->pos();
        sendMouse(panel, QEvent::MouseButtonPress, grip, Qt::LeftButton);
        sendMouse(panel, QEvent::MouseMove, grip + QPoint(5000, 5000), Qt::NoButton);
        sendMouse(panel, QEvent::MouseButtonRelease, grip + QPoint(5000, 5000), Qt::LeftButton);
        const QWidget *area = panel->parentWidget();
        QCOMPARE(panel->pos(), QPoint(area->width() - panel->width(), area->height() - panel->height()));
        Q_UNUSED(now);
        sendMouse(panel, QEvent::MouseButtonPress, grip, Qt::LeftButton);
        sendMouse(panel, QEvent::MouseMove, grip - QPoint(5000, 5000), Qt::NoButton);
        sendMouse(panel, QEvent::MouseButtonRelease, grip - QPoint(5000, 5000), Qt::LeftButton);
        QCOMPARE(panel->pos(), QPoint(0, 0));
    }

private:
    static void ToolButton7(Panel &p) { QTest::mouseClick(p.ui->ToolButton7, Qt::LeftButton); }

    // A mouse event at a position of `w` whose global position moves with it (QTest's own
    // moves carry no button state on every platform).
    static void sendMouse(QWidget *w, QEvent::Type type, const QPoint &pos, Qt::MouseButton button)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
        QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
};

int main(int argc, char **argv)
{
    lianbu::Application app(argc, argv);
    TestEntryPanel test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_entrypanel.moc"
