#include "tests/support/TestServer.h"
#include "tests/support/FormWidgets.h"
#include "data/Database.h"
#include "tests/support/MainWindowHarness.h"

#include "customers/EntryPanel.h"
#include "data/Statements.h"
#include "grid/DataGrid.h"
#include "platform/Application.h"
#include "platform/Clock.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace lianbu;
using namespace lianbu::test;

namespace {

const QStringList kColumns{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),   QStringLiteral("d"),
                           QStringLiteral("e"), QStringLiteral("f"), QStringLiteral("g"),   QStringLiteral("h"),
                           QStringLiteral("i"), QStringLiteral("j"), QStringLiteral("k"),   QStringLiteral("l"),
                           QStringLiteral("m"), QStringLiteral("z"), QStringLiteral("day1")};

// The main window after a login: shown, focused, the list open on every record.
struct Panel : MainWindowHarness
{
    const MainWindowWidgets *ui;
    QList<QWidget *> fields; // the fifteen controls in column order a..m, z, day1

    explicit Panel(const QList<CustomerRow> &rows = {}, const QDateTime &startedAt = QDateTime())
        : MainWindowHarness(false)
        , ui(widgets(form))
    {
        setFixedNow(startedAt);
        fields = {ui->categoryEdit, ui->shortNameEdit, ui->nameEdit,    ui->sexCombo,    ui->positionEdit,
                  ui->mobileEdit,   ui->phoneEdit,     ui->faxEdit,     ui->addressEdit, ui->companyEdit,
                  ui->postcodeEdit, ui->emailEdit,     ui->websiteEdit, ui->notesEdit,   ui->registrationDateEdit};
        show();
        QTRY_COMPARE(QGuiApplication::focusWindow(), form->windowHandle());
        insertCustomers(rows);
        form->showAllRecords();
    }

    // The value of a field of the customer in the list's current row ("" for null).
    QString currentValue(const char *field) const
    {
        return form->customerList()->currentCustomer().value(QLatin1String(field)).value_or(QString());
    }

    // Puts texts into the fourteen text controls (a..m, z) and a date into the editor.
    void fill(const QStringList &texts, const QDate &day = QDate(2010, 8, 15))
    {
        for (int i = 0; i < 14; ++i) {
            if (auto *edit = qobject_cast<QLineEdit *>(fields[i]))
                edit->setText(texts.value(i));
            else
                ui->sexCombo->setCurrentText(texts.value(i));
        }
        ui->registrationDateEdit->setDate(day);
    }

    QStringList panelTexts() const
    {
        QStringList texts;
        for (int i = 0; i < 14; ++i) {
            if (auto *edit = qobject_cast<QLineEdit *>(fields[i]))
                texts << edit->text();
            else
                texts << ui->sexCombo->currentText();
        }
        texts << ui->registrationDateEdit->text();
        return texts;
    }

    // Rows of data in table order; null as "<null>".
    QList<QStringList> rows() const
    {
        QList<QStringList> result;
        QSqlQuery q(data->connection->database());
        q.exec(QStringLiteral("select %1 from data order by %2")
                   .arg(kColumns.join(QLatin1Char(',')), rowKey(QStringLiteral("data"))));
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
        QTableView *view = ui->customerGrid->view();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(row, 1)).center());
    }
    void doubleClickRow(int row)
    {
        QTableView *view = ui->customerGrid->view();
        const QPoint at = view->visualRect(view->model()->index(row, 1)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    }

    ScriptedDialogs &boxes() { return env.dialogs(); }
};

CustomerRow fullRow(const QString &a, const QString &b)
{
    return {a,
            b,
            QStringLiteral("王五"),
            QStringLiteral("女"),
            QStringLiteral("经理"),
            QStringLiteral("139"),
            QStringLiteral("0571-1"),
            QStringLiteral("0571-2"),
            QStringLiteral("杭州"),
            QStringLiteral("联簿"),
            QStringLiteral("310000"),
            QStringLiteral("w@x.cn"),
            QStringLiteral("www.x.cn"),
            QStringLiteral("备注"),
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
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }
    void thePanelIsLaidOutAsDesigned()
    {
        Panel p({}, QDateTime(QDate(2010, 8, 15), QTime(10, 0, 0)));
        const MainWindowWidgets *ui = p.ui;
        QVERIFY(!ui->entryPanel->isVisible());
        QCOMPARE(ui->entryPanel->geometry(), QRect(192, 281, 553, 208));
        const QList<QRect> at{{81, 21, 78, 21},    {81, 50, 78, 21},    {81, 79, 78, 21},  {80, 108, 81, 22},
                              {81, 137, 78, 21},   {233, 21, 88, 21},   {233, 50, 88, 21}, {233, 79, 88, 21},
                              {233, 108, 112, 21}, {233, 137, 112, 21}, {433, 21, 78, 21}, {433, 50, 104, 21},
                              {433, 79, 104, 21},  {433, 108, 78, 21},  {434, 137, 95, 22}};
        const QStringList labels{
            QStringLiteral("客户类别："), QStringLiteral("客户简称："), QStringLiteral("姓 名："),
            QStringLiteral("性 别："),    QStringLiteral("职 务："),    QStringLiteral("手 机："),
            QStringLiteral("电 话："),    QStringLiteral("传 真："),    QStringLiteral("地 址："),
            QStringLiteral("单 位："),    QStringLiteral("邮 编："),    QStringLiteral("电子邮件："),
            QStringLiteral("网 站："),    QStringLiteral("备 注："),    QStringLiteral("登记日期：")};
        newButton(p);
        const QList<QLabel *> panelLabels =
            ui->entryPanel->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
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
        QCOMPARE(ui->sexCombo->count(), 2);
        QCOMPARE(ui->sexCombo->itemText(0), QStringLiteral("男"));
        QCOMPARE(ui->sexCombo->itemText(1), QStringLiteral("女"));
        QCOMPARE(ui->sexCombo->currentText(), QStringLiteral("男"));
        QVERIFY(ui->sexCombo->isEditable());
        QVERIFY(ui->registrationDateEdit->calendarPopup());
        QCOMPARE(ui->registrationDateEdit->text(), QStringLiteral("2010-08-15")); // onFirstShow set it to now
        QCOMPARE(ui->addButton->text(), QStringLiteral("新 增"));
        QCOMPARE(ui->addButton->geometry(), QRect(152, 168, 75, 25));
        QCOMPARE(ui->modifyButton->text(), QStringLiteral("修 改"));
        QCOMPARE(ui->modifyButton->geometry(), QRect(272, 168, 75, 25));
        QCOMPARE(ui->closeEntryPanelIcon->geometry(), QRect(528, 8, 17, 17));
        QCOMPARE(ui->closeEntryPanelIcon->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!ui->closeEntryPanelIcon->pixmap().isNull());
        QCOMPARE(ui->entryPanel->cursor().shape(), Qt::SizeAllCursor);
    }

    void newShowsThePanelEmptyButKeepsSexAndDate()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        QVERIFY(!p.ui->modifyButton->isEnabled());
        p.doubleClickRow(0);
        QVERIFY(p.ui->entryPanel->isVisible());
        QVERIFY(p.ui->modifyButton->isEnabled());
        QCOMPARE(p.panelTexts(), fullRow(QStringLiteral("VIP"), QStringLiteral("华联")));
        QTest::mouseClick(p.ui->newButton, Qt::LeftButton);
        QStringList expected(15);
        expected[3] = QStringLiteral("女");
        expected[14] = QStringLiteral("2009-01-01");
        QCOMPARE(p.panelTexts(), expected);
        QVERIFY(!p.ui->modifyButton->isEnabled());
        QVERIFY(p.ui->entryPanel->isVisible());
        QVERIFY2(p.boxes().boxes().isEmpty(), p.boxes().boxesText().constData());
    }

    void addWritesTrimmedTextsAndKeepsThePanelOpen()
    {
        Panel p({fullRow(QStringLiteral("老"), QStringLiteral("旧客户"))});
        newButton(p);
        p.clickRow(0);
        QVERIFY(p.ui->deleteButton->isEnabled());
        QStringList typed{QStringLiteral("  VIP客户 "),
                          QStringLiteral("\tO'Neil & Co"),
                          QStringLiteral("O'Neil"),
                          QStringLiteral(" 未知 "),
                          QString(),
                          QStringLiteral("139"),
                          QStringLiteral("0571"),
                          QStringLiteral(" "),
                          QStringLiteral("杭州"),
                          QStringLiteral("联簿"),
                          QStringLiteral("310000"),
                          QStringLiteral("a@b.c"),
                          QStringLiteral("www"),
                          QStringLiteral("备注 ")};
        p.fill(typed, QDate(2010, 8, 15));
        bool checkedWhileOpen = false;
        p.boxes().whileBoxOpen = [&](const BoxRequest &) {
            // The message comes after the post and before the panel is cleared and the list reloaded.
            checkedWhileOpen = true;
            QCOMPARE(p.rows().size(), 2);
            QCOMPARE(p.ui->categoryEdit->text(), typed[0]);
        };
        QTest::mouseClick(p.ui->addButton, Qt::LeftButton);
        p.boxes().whileBoxOpen = nullptr;
        QVERIFY(checkedWhileOpen);
        QCOMPARE(p.boxes().boxes().size(), 1);
        verifyBox(p.boxes().lastBox(), BoxIcon::None, QStringLiteral("联簿宝"), QStringLiteral("增加数据成功！"));
        QCOMPARE(p.rows().last(),
                 QStringList({QStringLiteral("VIP客户"), QStringLiteral("O'Neil & Co"), QStringLiteral("O'Neil"),
                              QStringLiteral("未知"), QString(), QStringLiteral("139"), QStringLiteral("0571"),
                              QString(), QStringLiteral("杭州"), QStringLiteral("联簿"), QStringLiteral("310000"),
                              QStringLiteral("a@b.c"), QStringLiteral("www"), QStringLiteral("备注"),
                              QStringLiteral("2010-08-15")}));
        // Open and empty for the next record, sex and date kept, both buttons disabled.
        QVERIFY(p.ui->entryPanel->isVisible());
        QStringList expected(15);
        expected[3] = QStringLiteral(" 未知 ");
        expected[14] = QStringLiteral("2010-08-15");
        QCOMPARE(p.panelTexts(), expected);
        QVERIFY(!p.ui->modifyButton->isEnabled());
        QVERIFY(!p.ui->deleteButton->isEnabled());
        // "全部记录": every record, the new one current at the end; its category is offered.
        const data::CustomerListModel *list = p.data->customerList;
        QCOMPARE(list->statement(), sql::allRecords());
        QCOMPARE(list->rowCount(), 2);
        QCOMPARE(p.currentValue("b"), QStringLiteral("O'Neil & Co"));
        QCOMPARE(p.ui->customerGrid->currentRow(), 1);
        QVERIFY(p.ui->searchCategory->findText(QStringLiteral("VIP客户")) >= 0);
    }

    void requiredFieldsRefuseBlankTextOnAddAndModify()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        newButton(p);
        p.fill({QStringLiteral("   "), QStringLiteral("简称")});
        QTest::mouseClick(p.ui->addButton, Qt::LeftButton);
        verifyBox(p.boxes().lastBox(), BoxIcon::Warning, QStringLiteral("Warning"),
                  QStringLiteral("客户类型必须输入！"));
        QCOMPARE(QApplication::focusWidget(), p.ui->categoryEdit);
        p.ui->categoryEdit->setText(QStringLiteral("类"));
        p.ui->shortNameEdit->setText(QStringLiteral("\t "));
        QTest::mouseClick(p.ui->addButton, Qt::LeftButton);
        verifyBox(p.boxes().lastBox(), BoxIcon::Warning, QStringLiteral("Warning"),
                  QStringLiteral("客户简称必须输入！"));
        QCOMPARE(QApplication::focusWidget(), p.ui->shortNameEdit);
        QCOMPARE(p.rows().size(), 1);
        QCOMPARE(p.ui->categoryEdit->text(), QStringLiteral("类"));
        QCOMPARE(p.ui->shortNameEdit->text(), QStringLiteral("\t "));

        // Modify: the question first, then the same checks.
        p.doubleClickRow(0);
        p.ui->categoryEdit->setText(QStringLiteral(" "));
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        verifyConfirmation(p.boxes().boxes()[0], QStringLiteral("你确实要修改选中资料吗？"));
        verifyBox(p.boxes().boxes()[1], BoxIcon::Warning, QStringLiteral("Warning"),
                  QStringLiteral("客户类型必须输入！"));
        QCOMPARE(p.rows()[0], fullRow(QStringLiteral("VIP"), QStringLiteral("华联")));
        QVERIFY(p.ui->entryPanel->isVisible());
        QVERIFY(p.ui->modifyButton->isEnabled());
    }

    void textsLongerThanTheirColumnAreRefusedNotCut()
    {
        // Refused rather than cut: only the operator knows which part of a long value matters
        // (the house number at the end of an address, the last digits of a number).
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        newButton(p);
        const QString longCategory = QString(60, QChar(u'类'));
        p.fill({longCategory, QStringLiteral("b"), QString(), QStringLiteral("男")});
        QTest::mouseClick(p.ui->addButton, Qt::LeftButton);
        verifyBox(p.boxes().lastBox(), BoxIcon::Warning, QStringLiteral("Warning"),
                  QStringLiteral("“客户类别”最多能存 50 个字，现在有 60 个字。请改短后再保存。"));
        QCOMPARE(p.rows().size(), 1);
        QCOMPARE(p.ui->categoryEdit->text(), longCategory);
        QCOMPARE(QApplication::focusWidget(), p.ui->categoryEdit);
        QCOMPARE(p.ui->categoryEdit->selectedText(), QString(10, QChar(u'类')));
        // Exactly the width is stored whole; blanks around a value do not count.
        p.ui->categoryEdit->setText(QStringLiteral("  ") + QString(50, QChar(u'类')) + QStringLiteral(" "));
        QTest::mouseClick(p.ui->addButton, Qt::LeftButton);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("增加数据成功！"));
        QCOMPARE(p.rows().size(), 2);
        QCOMPARE(p.rows()[1][0], QString(50, QChar(u'类')));

        // 修改 the same: the 31-character name is refused, the row keeps its values.
        p.doubleClickRow(0);
        const QString longName = QString(31, QChar(u'名'));
        p.ui->nameEdit->setText(longName);
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        QCOMPARE(p.boxes().boxes()[1].request.text,
                 QStringLiteral("“姓名”最多能存 30 个字，现在有 31 个字。请改短后再保存。"));
        QCOMPARE(p.rows()[0], fullRow(QStringLiteral("VIP"), QStringLiteral("华联")));
        QCOMPARE(p.ui->nameEdit->text(), longName);
        QVERIFY(p.ui->modifyButton->isEnabled());
    }

    void aCustomerWithoutACategoryOpensAndTakesOne()
    {
        // Imported without 客户类别: a double click opens it; 修改 asks for the category as for
        // any customer and then saves it.
        Panel p({fullRow(QString(), QStringLiteral("无类别")), fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        p.doubleClickRow(0);
        QVERIFY(p.ui->entryPanel->isVisible());
        QCOMPARE(p.ui->shortNameEdit->text(), QStringLiteral("无类别"));
        QVERIFY(p.ui->modifyButton->isEnabled());
        p.ui->categoryEdit->setText(QStringLiteral("老客户"));
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("修改数据成功！"));
        QCOMPARE(p.rows()[0], fullRow(QStringLiteral("老客户"), QStringLiteral("无类别")));
        QCOMPARE(p.rows()[1], fullRow(QStringLiteral("VIP"), QStringLiteral("华联")));
    }

    void modifyWritesTheSelectedRowAfterConfirmation()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联")),
                 fullRow(QStringLiteral("普通"), QStringLiteral("阿里"))});
        p.doubleClickRow(0);
        p.ui->shortNameEdit->setText(QStringLiteral(" O'Neil "));
        p.ui->sexCombo->setCurrentText(QStringLiteral("男"));
        p.ui->registrationDateEdit->setDate(QDate(2011, 2, 3));

        // Cancel writes nothing and leaves the panel as it was.
        p.boxes().queueBoxAnswer(BoxButton::Cancel);
        const QStringList before = p.panelTexts();
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 1);
        QCOMPARE(p.rows()[0], fullRow(QStringLiteral("VIP"), QStringLiteral("华联")));
        QCOMPARE(p.panelTexts(), before);
        QVERIFY(p.ui->entryPanel->isVisible());
        QVERIFY(p.ui->modifyButton->isEnabled());

        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        bool checked = false;
        p.boxes().whileBoxOpen = [&](const BoxRequest &request) {
            if (request.text != QStringLiteral("修改数据成功！"))
                return;
            // The success message comes after the reload and the hiding.
            checked = true;
            QVERIFY(!p.ui->entryPanel->isVisible());
            // the changed customer current
            QCOMPARE(p.ui->customerGrid->currentRow(), 0);
            QCOMPARE(p.currentValue("b"), QStringLiteral("O'Neil"));
        };
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
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
        QVERIFY(!p.ui->modifyButton->isEnabled());
        QVERIFY(!p.ui->deleteButton->isEnabled());
        QCOMPARE(p.ui->shortNameEdit->text(), QString());

        // The O'Neil record loads back as written.
        p.ui->customerGrid->setCurrentRow(0);
        p.form->customerList()->onRowDoubleClicked();
        QCOMPARE(p.ui->shortNameEdit->text(), QStringLiteral("O'Neil"));
        QCOMPARE(p.ui->registrationDateEdit->text(), QStringLiteral("2011-02-03"));
    }

    void modifyWritesTheLoadedCustomerWhateverRowIsCurrent()
    {
        QList<CustomerRow> customers;
        for (const char *name : {"W1", "W2", "W3", "W4", "W5"})
            customers << fullRow(QStringLiteral("VIP"), QString::fromLatin1(name));
        Panel p(customers);
        const QList<QStringList> before = p.rows();
        auto modify = [&p](const QString &note) {
            p.ui->notesEdit->setText(note);
            p.boxes().clear();
            p.boxes().queueBoxAnswer(BoxButton::Ok);
            QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
            QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("修改数据成功！"));
        };
        QList<QStringList> expected = before;

        // Load W2, click W4 to look at it.
        p.doubleClickRow(1);
        p.clickRow(3);
        QCOMPARE(p.currentValue("b"), QStringLiteral("W4"));
        modify(QStringLiteral("点过别的行"));
        expected[1][13] = QStringLiteral("点过别的行");
        QCOMPARE(p.rows(), expected);

        // Load W5, search for W1: the list holds W1 only.
        p.form->showAllRecords();
        p.doubleClickRow(4);
        p.ui->searchShortName->setText(QStringLiteral("W1"));
        p.waitForSearch();
        QCOMPARE(p.listColumn(QStringLiteral("b")), QStringList{QStringLiteral("W1")});
        modify(QStringLiteral("搜索过"));
        expected[4][13] = QStringLiteral("搜索过");
        QCOMPARE(p.rows(), expected);

        // Load W3, query the list again: it stands on its last row.
        p.form->showAllRecords();
        p.doubleClickRow(2);
        p.form->showAllRecords();
        QVERIFY(p.currentValue("b") != QStringLiteral("W3"));
        modify(QStringLiteral("重新查询过"));
        expected[2][13] = QStringLiteral("重新查询过");
        QCOMPARE(p.rows(), expected);

        // A search that leaves the list empty: the loaded customer is still the one written.
        p.doubleClickRow(0);
        p.ui->searchShortName->setText(QStringLiteral("没有这个"));
        p.waitForSearch();
        QCOMPARE(p.data->customerList->rowCount(), 0);
        modify(QStringLiteral("列表是空的"));
        expected[0][13] = QStringLiteral("列表是空的");
        QCOMPARE(p.rows(), expected);
    }

    void aModifyWritesOnlyTheFieldsTheOperatorChanged()
    {
        Panel p;
        // Values the panel cannot show as stored: a date with a time, a short date form, texts
        // with blanks around them, NULLs, and (on SQLite, which keeps widths as names only) a
        // position longer than its column.
        const bool server = test::testsUseServer();
        const QString longPosition = server ? QString(30, QChar(u'职')) : QString(80, QChar(u'职'));
        QSqlQuery insert(p.data->connection->database());
        insert.prepare(QStringLiteral("insert into data (a,b,c,d,e,f,day1) values (?,?,?,?,?,?,?)"));
        const QVariant null(QMetaType::fromType<QString>());
        for (const QVariantList &values :
             {QVariantList{QStringLiteral(" VIP "), QStringLiteral("华联"), null, null, longPosition,
                           QStringLiteral(" 139 "), QStringLiteral("2023-05-06 14:30:00")},
              QVariantList{QStringLiteral("普通"), QStringLiteral("阿里"), QStringLiteral("李四"), QStringLiteral("女"),
                           null, null, QStringLiteral("2023-5-6")}}) {
            for (const QVariant &value : values)
                insert.addBindValue(value);
            QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
        }
        p.form->showAllRecords();
        const QList<QStringList> before = p.rows();

        p.doubleClickRow(0);
        p.ui->notesEdit->setText(QStringLiteral("只改备注"));
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("修改数据成功！"));
        QList<QStringList> expected = before;
        expected[0][13] = QStringLiteral("只改备注");
        QCOMPARE(p.rows(), expected);

        // The second: a new mobile, a position typed with blanks (written trimmed), the date kept.
        p.doubleClickRow(1);
        p.ui->mobileEdit->setText(QStringLiteral("137"));
        p.ui->positionEdit->setText(QStringLiteral(" 经理 "));
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("修改数据成功！"));
        expected[1][4] = QStringLiteral("经理");
        expected[1][5] = QStringLiteral("137");
        QCOMPARE(p.rows(), expected);
        QCOMPARE(expected[1][14], QStringLiteral("2023-5-6"));

        // A date picked is written as yyyy-mm-dd; emptied, as NULL.
        p.doubleClickRow(0);
        p.ui->registrationDateEdit->setDate(QDate(2024, 1, 2));
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        expected[0][14] = QStringLiteral("2024-01-02");
        QCOMPARE(p.rows(), expected);
        p.doubleClickRow(1);
        p.ui->registrationDateEdit->setDateTime(p.ui->registrationDateEdit->minimumDateTime());
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        expected[1][14] = QStringLiteral("<null>");
        QCOMPARE(p.rows(), expected);
    }

    void aRefusedWriteLosesNothingAndCanBeRepeated()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        db::Connection *c = p.data->connection;
        for (const char *operation : {"insert", "update", "delete"})
            test::createRefusingTrigger(*c, QStringLiteral("data"), QLatin1String(operation),
                                        QStringLiteral("disk says no"));

        // add.
        newButton(p);
        p.fill({QStringLiteral("新类"), QStringLiteral("新客户")});
        const QStringList typed = p.panelTexts();
        QTest::mouseClick(p.ui->addButton, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 1);
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QVERIFY(p.boxes().lastBox().request.text.contains(QStringLiteral("disk says no")));
        QCOMPARE(p.panelTexts(), typed);
        QCOMPARE(p.rows().size(), 1);

        // Modify.
        p.doubleClickRow(0);
        p.ui->shortNameEdit->setText(QStringLiteral("改名"));
        const QStringList edited = p.panelTexts();
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QCOMPARE(p.currentValue("b"), QStringLiteral("华联"));
        QCOMPARE(p.panelTexts(), edited);
        QVERIFY(p.ui->entryPanel->isVisible());
        QVERIFY(p.ui->modifyButton->isEnabled());

        // delete.
        p.clickRow(0);
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->deleteButton, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QCOMPARE(p.data->customerList->rowCount(), 1);

        // Once the database takes writes again, the same clicks succeed.
        test::dropRefusingTrigger(*c, QStringLiteral("data"), QStringLiteral("insert"));
        test::dropRefusingTrigger(*c, QStringLiteral("data"), QStringLiteral("update"));
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("修改数据成功！"));
        QCOMPARE(p.rows()[0][1], QStringLiteral("改名"));
    }

    void aSaveOverAnotherOperatorsChangeIsRefusedInChinese()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联")),
                 fullRow(QStringLiteral("VIP"), QStringLiteral("阿里"))});
        p.doubleClickRow(0);
        // Meanwhile another operator (another program on the same file) changes the position.
        db::Connection other(p.data->connection->fileName());
        other.open();
        QCOMPARE(other.execute(QStringLiteral("update data set e='总经理' where b='华联'")), 1);
        // The list reads the row again behind the open panel (as a refreshed search result
        // does): the save is still checked against what the panel showed.
        p.data->customerList->showStatement(sql::allRecords());
        QCOMPARE(p.currentValue("e"), QStringLiteral("总经理"));

        p.ui->mobileEdit->setText(QStringLiteral("13900000000"));
        const QStringList typed = p.panelTexts();
        auto modify = [&p](BoxButton question = BoxButton::None) {
            p.boxes().clear();
            p.boxes().queueBoxAnswer(BoxButton::Ok);
            if (question != BoxButton::None)
                p.boxes().queueBoxAnswer(question);
            QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        };
        // Refused, with the choice to start again from the stored record; No keeps everything.
        modify(BoxButton::No);
        QCOMPARE(p.boxes().boxes().size(), 2);
        const BoxRequest &question = p.boxes().lastBox().request;
        QCOMPARE(question.icon, BoxIcon::Question);
        QCOMPARE(question.buttons, QList<BoxButton>({BoxButton::Yes, BoxButton::No}));
        QCOMPARE(question.defaultButton, BoxButton::No);
        QVERIFY2(question.text.contains(QStringLiteral("已被其他操作员修改")), qPrintable(question.text));
        QCOMPARE(p.panelTexts(), typed); // nothing typed is lost
        QVERIFY(p.ui->entryPanel->isVisible());
        QCOMPARE(p.rows()[0][4], QStringLiteral("总经理")); // the other operator's change stands
        QCOMPARE(p.rows()[0][5], QStringLiteral("139"));

        // As the message advises, the list is queried again (another row becomes current);
        // Yes takes the stored record and keeps the typed mobile.
        p.form->showAllRecords();
        modify(BoxButton::Yes);
        QCOMPARE(p.ui->positionEdit->text(), QStringLiteral("总经理"));
        QCOMPARE(p.ui->mobileEdit->text(), QStringLiteral("13900000000"));
        QCOMPARE(p.rows()[0][5], QStringLiteral("139"));
        modify();
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("修改数据成功！"));
        CustomerRow expected = fullRow(QStringLiteral("VIP"), QStringLiteral("华联"));
        expected[4] = QStringLiteral("总经理");
        expected[5] = QStringLiteral("13900000000");
        QCOMPARE(p.rows(), QList<QStringList>({expected, fullRow(QStringLiteral("VIP"), QStringLiteral("阿里"))}));

        // Deleted by the other: 修改 says so and keeps the text; nothing else is written.
        p.doubleClickRow(0);
        p.ui->notesEdit->setText(QStringLiteral("还要改"));
        const QStringList typedAgain = p.panelTexts();
        QCOMPARE(other.execute(QStringLiteral("delete from data where b='华联'")), 1);
        modify();
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QVERIFY(p.boxes().lastBox().request.text.contains(QStringLiteral("已被其他操作员删除")));
        QCOMPARE(p.panelTexts(), typedAgain);
        QVERIFY(p.ui->entryPanel->isVisible());
        QCOMPARE(p.rows(), QList<QStringList>({fullRow(QStringLiteral("VIP"), QStringLiteral("阿里"))}));

        // A delete of a row deleted meanwhile says so, and the record leaves the list.
        p.clickRow(0);
        QCOMPARE(other.execute(QStringLiteral("delete from data")), 1);
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->deleteButton, Qt::LeftButton);
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QVERIFY(p.boxes().lastBox().request.text.contains(QStringLiteral("已被其他操作员删除")));
        QCOMPARE(p.listColumn(QStringLiteral("b")), QStringList{QStringLiteral("阿里")});
    }

    void aCustomerChangedOrDeletedElsewhereShowsTheBarAndKeepsTheTyping()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联")),
                 fullRow(QStringLiteral("VIP"), QStringLiteral("阿里"))});
        auto *bar = p.ui->entryPanel->findChild<QFrame *>(QStringLiteral("changedElsewhereBar"));
        QVERIFY(bar);
        QPushButton *reload = nullptr;
        for (QPushButton *button : bar->findChildren<QPushButton *>())
            if (button->text() == QStringLiteral("重新载入"))
                reload = button;
        QVERIFY(reload);
        QLabel *text = bar->findChild<QLabel *>();
        QVERIFY(text);

        // This program's own save is no news.
        p.doubleClickRow(1);
        p.ui->notesEdit->setText(QStringLiteral("自己改的"));
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        QTest::qWait(700);
        QVERIFY(!bar->isVisible());

        // Another operator, in another program on the same register, changes the loaded customer.
        p.doubleClickRow(0);
        const qint64 key = p.form->customerList()->currentCustomer().key;
        QCOMPARE(p.ui->shortNameEdit->text(), QStringLiteral("华联"));
        p.ui->mobileEdit->setText(QStringLiteral("13900000000"));
        const QStringList typed = p.panelTexts();
        db::Connection other(p.data->connection->fileName());
        other.open();
        if (other.isServer()) {
            other.execute(QStringLiteral("select set_config('lianbu.operator', '业务员乙', false)"));
            QCOMPARE(other.execute(QStringLiteral("update data set e='总经理' where b='华联'")), 1);
        } else {
            other.execute(QStringLiteral("begin"));
            QCOMPARE(other.execute(QStringLiteral("update data set e='总经理' where b='华联'")), 1);
            other.execute(QStringLiteral("insert into change_log (username, kind, customer_key) values "
                                         "('业务员乙', 'customer_change', %1)")
                              .arg(key));
            other.execute(QStringLiteral("commit"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible(), 5000);
        QVERIFY2(text->text().contains(QStringLiteral("业务员乙")) && text->text().contains(QStringLiteral("修改")),
                 qPrintable(text->text()));
        QVERIFY(reload->isVisible());
        // Whole: the button at its full height inside the bar, the text in the label's room, and
        // the bar above the first row of fields, not over it.
        QVERIFY2(bar->contentsRect().contains(reload->geometry()) && reload->height() >= reload->sizeHint().height()
                     && reload->width() >= reload->sizeHint().width(),
                 qPrintable(QStringLiteral("button %1×%2 wants %3×%4 in a bar of %5")
                                .arg(reload->width())
                                .arg(reload->height())
                                .arg(reload->sizeHint().width())
                                .arg(reload->sizeHint().height())
                                .arg(bar->contentsRect().height())));
        QVERIFY(text->width() >= text->sizeHint().width() && text->height() >= text->fontMetrics().height());
        QVERIFY(bar->geometry().bottom() < p.ui->categoryEdit->geometry().top());
        QCOMPARE(p.panelTexts(), typed); // nothing typed is lost until the operator chooses
        QVERIFY(p.ui->modifyButton->isEnabled());
        QTest::mouseClick(reload, Qt::LeftButton);
        QVERIFY(!bar->isVisible());
        QCOMPARE(p.ui->positionEdit->text(), QStringLiteral("总经理"));
        QCOMPARE(p.ui->mobileEdit->text(), p.rows()[0][5]);
        // What 重新载入 showed is what a save is checked against: it goes through.
        p.ui->faxEdit->setText(QStringLiteral("010-1"));
        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->modifyButton, Qt::LeftButton);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("修改数据成功！"));

        // Deleted elsewhere: said so, nothing to reload, 修改 off, the typing kept.
        p.doubleClickRow(0);
        p.ui->notesEdit->setText(QStringLiteral("还要改"));
        const QStringList typedAgain = p.panelTexts();
        QCOMPARE(other.execute(QStringLiteral("delete from data where b='华联'")), 1);
        QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible(), 5000);
        QVERIFY2(text->text().contains(QStringLiteral("删除")), qPrintable(text->text()));
        QVERIFY(!reload->isVisible());
        QVERIFY(!p.ui->modifyButton->isEnabled());
        QCOMPARE(p.panelTexts(), typedAgain);
        // The list followed too.
        QTRY_COMPARE_WITH_TIMEOUT(p.listColumn(QStringLiteral("b")), QStringList{QStringLiteral("阿里")}, 5000);
    }

    void deleteTakesTheLoadedOrClickedCustomerWhateverRowIsCurrentNow()
    {
        Panel p({fullRow(QStringLiteral("A"), QStringLiteral("一")), fullRow(QStringLiteral("B"), QStringLiteral("二")),
                 fullRow(QStringLiteral("C"), QStringLiteral("三")),
                 fullRow(QStringLiteral("D"), QStringLiteral("四"))});
        const QList<QStringList> before = p.rows();
        auto deleteNow = [&p] {
            p.boxes().clear();
            p.boxes().queueBoxAnswer(BoxButton::Ok);
            QTest::mouseClick(p.ui->deleteButton, Qt::LeftButton);
        };
        // A click on 二, then a search puts 三 in its place: 二 goes, 三 stays.
        p.clickRow(1);
        p.ui->searchShortName->setText(QStringLiteral("三"));
        p.waitForSearch();
        deleteNow();
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("删除数据成功！"));
        p.form->showAllRecords();
        QCOMPARE(p.rows(), QList<QStringList>({before[0], before[2], before[3]}));

        // 一 loaded in the panel, 四 clicked: the loaded customer goes.
        p.doubleClickRow(0);
        p.clickRow(2);
        deleteNow();
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("删除数据成功！"));
        QCOMPARE(p.rows(), QList<QStringList>({before[2], before[3]}));
        QVERIFY(!p.ui->modifyButton->isEnabled());

        // Loaded, then changed by another operator: refused, nothing deleted.
        p.doubleClickRow(0);
        db::Connection other(p.data->connection->fileName());
        other.open();
        QCOMPARE(other.execute(QStringLiteral("update data set z='改过' where b='三'")), 1);
        deleteNow();
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QVERIFY2(p.boxes().lastBox().request.text.contains(QStringLiteral("已被其他操作员修改，没有删除")),
                 qPrintable(p.boxes().lastBox().request.text));
        QCOMPARE(p.listColumn(QStringLiteral("b")), QStringList({QStringLiteral("三"), QStringLiteral("四")}));
    }

    void deleteAsksThenRemovesTheCurrentRow()
    {
        Panel p({fullRow(QStringLiteral("A"), QStringLiteral("一")), fullRow(QStringLiteral("B"), QStringLiteral("二")),
                 fullRow(QStringLiteral("C"), QStringLiteral("三"))});
        QVERIFY(!p.ui->deleteButton->isEnabled());
        p.clickRow(1);
        QVERIFY(p.ui->deleteButton->isEnabled());
        p.boxes().queueBoxAnswer(BoxButton::Cancel);
        QTest::mouseClick(p.ui->deleteButton, Qt::LeftButton);
        QCOMPARE(p.rows().size(), 3);
        QVERIFY(p.ui->deleteButton->isEnabled());

        p.boxes().clear();
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->deleteButton, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        verifyConfirmation(p.boxes().boxes()[0], QStringLiteral("你真的要删除选中资料吗？"));
        verifyBox(p.boxes().boxes()[1], BoxIcon::None, QStringLiteral("联簿宝"), QStringLiteral("删除数据成功！"));
        QCOMPARE(p.rows().size(), 2);
        QCOMPARE(p.rows()[1][1], QStringLiteral("三"));
        QCOMPARE(p.data->customerList->rowCount(), 2);
        QCOMPARE(p.data->customerList->statement(), sql::allRecords()); // not reloaded
        QVERIFY(!p.ui->deleteButton->isEnabled());
        QVERIFY(!p.ui->entryPanel->isVisible());
    }

    void deletingFromAnEmptyListIsRefused()
    {
        Panel p;
        p.ui->deleteButton->setEnabled(true); // a click on the empty grid enables it
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        QTest::mouseClick(p.ui->deleteButton, Qt::LeftButton);
        QCOMPARE(p.boxes().boxes().size(), 2);
        QCOMPARE(p.boxes().lastBox().request.icon, BoxIcon::Stop);
        QCOMPARE(p.boxes().lastBox().request.text,
                 QStringLiteral("Cannot perform this operation on an empty dataset."));
    }

    void enterRunsThroughTheFieldsAndAddsOnTheButton()
    {
        Panel p;
        newButton(p);
        QCOMPARE(QApplication::focusWidget(), p.ui->categoryEdit);
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
        expected << p.ui->addButton;
        for (int i = 0; i < 15; ++i) {
            QWidget *w = visited[i];
            while (w && !expected.contains(w))
                w = w->parentWidget(); // the inner edit of a combo box or date editor
            QCOMPARE(w, expected[i]);
        }
        QVERIFY(p.rows().isEmpty());
        QTest::keyClick(p.ui->addButton, Qt::Key_Return);
        QCOMPARE(p.rows().size(), 1);
        QCOMPARE(p.rows()[0].mid(0, 4),
                 QStringList({QStringLiteral("Cat"), QStringLiteral("Short"), QString(), QStringLiteral("男x")}));
        // The typed sex did not become an item.
        QCOMPARE(p.ui->sexCombo->count(), 2);
        QCOMPARE(p.boxes().lastBox().request.text, QStringLiteral("增加数据成功！"));
    }

    void enterInTheSearchCategoryGoesToThePositionField()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        QComboBox *category = p.ui->searchCategory;
        const int items = category->count();
        category->lineEdit()->setFocus();
        // Panel hidden: the focus stays, and the typed text does not join the list.
        QTest::keyClicks(category->lineEdit(), QStringLiteral("ABC"));
        QTest::keyClick(category->lineEdit(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), category);
        QCOMPARE(category->count(), items);
        newButton(p);
        category->lineEdit()->setFocus();
        QTest::keyClick(category->lineEdit(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), p.ui->positionEdit);
    }

    void theDateEditorWritesNullWhenEmptyAndKeepsUnreadableText()
    {
        CustomerRow odd = fullRow(QStringLiteral("VIP"), QStringLiteral("奇怪日期"));
        odd[14] = QStringLiteral("去年春天");
        CustomerRow none = fullRow(QStringLiteral("VIP"), QStringLiteral("没有日期"));
        none[14] = QString();
        Panel p({odd, none});
        // A text the editor cannot show is written back unchanged.
        p.ui->customerGrid->setCurrentRow(0);
        p.form->customerList()->onRowDoubleClicked();
        QCOMPARE(trimInput(p.ui->registrationDateEdit->text()), QString());
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        p.form->entryPanel()->saveCustomerChanges();
        QCOMPARE(p.rows()[0][14], QStringLiteral("去年春天"));
        // An empty date the operator left alone stays as stored.
        p.ui->customerGrid->setCurrentRow(p.data->customerList->rowCount() - 1);
        p.form->customerList()->onRowDoubleClicked();
        p.ui->notesEdit->setText(QStringLiteral("改备注"));
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        p.form->entryPanel()->saveCustomerChanges();
        QCOMPARE(p.rows()[1][13], QStringLiteral("改备注"));
        QCOMPARE(p.rows()[1][14], QString());
        // Once a date is picked, it is the date that is written.
        p.ui->customerGrid->setCurrentRow(0);
        p.form->customerList()->onRowDoubleClicked();
        p.ui->registrationDateEdit->setDate(QDate(2012, 12, 1));
        p.boxes().queueBoxAnswer(BoxButton::Ok);
        p.form->entryPanel()->saveCustomerChanges();
        QCOMPARE(p.rows()[0][14], QStringLiteral("2012-12-01"));
    }

    void theOperatorCanEmptyTheDate()
    {
        Panel p;
        newButton(p);
        p.fill({QStringLiteral("类"), QStringLiteral("简称")});
        QDateEdit *date = p.ui->registrationDateEdit;
        date->setFocus();
        QLineEdit *inner = date->findChild<QLineEdit *>();
        QVERIFY(inner);
        // Part of the date selected: an ordinary edit of the text.
        inner->setSelection(0, 4);
        QTest::keyClick(inner, Qt::Key_Delete);
        QVERIFY(!trimInput(date->text()).isEmpty());
        date->setDate(QDate(2010, 8, 15));
        inner->selectAll();
        QTest::keyClick(inner, Qt::Key_Delete);
        QCOMPARE(trimInput(date->text()), QString());
        QTest::mouseClick(p.ui->addButton, Qt::LeftButton);
        QCOMPARE(p.rows().size(), 1);
        QCOMPARE(p.rows()[0][14], QStringLiteral("<null>"));
    }

    void registrationDatesAreReadLeniently()
    {
        QCOMPARE(customers::registrationDateOf(QStringLiteral("2010-08-15")), std::optional<QDate>(QDate(2010, 8, 15)));
        QCOMPARE(customers::registrationDateOf(QStringLiteral("2010-8-5 9:30:00")),
                 std::optional<QDate>(QDate(2010, 8, 5)));
        QVERIFY(!customers::registrationDateOf(QStringLiteral("2010-13-01")));
        QVERIFY(!customers::registrationDateOf(QString()));
        QCOMPARE(trimInput(QStringLiteral("\t a b \r\n")), QStringLiteral("a b"));
    }

    void theClosePictureHidesAndClears()
    {
        Panel p({fullRow(QStringLiteral("VIP"), QStringLiteral("华联"))});
        p.doubleClickRow(0);
        QTest::mouseClick(p.ui->closeEntryPanelIcon, Qt::RightButton);
        QVERIFY(p.ui->entryPanel->isVisible());
        QTest::mouseClick(p.ui->closeEntryPanelIcon, Qt::LeftButton);
        QVERIFY(!p.ui->entryPanel->isVisible());
        QVERIFY(!p.ui->modifyButton->isEnabled());
        QCOMPARE(p.ui->categoryEdit->text(), QString());
        QCOMPARE(p.ui->sexCombo->currentText(), QStringLiteral("女"));
    }

    void theBackgroundDragsThePanelWithinTheWindow()
    {
        Panel p;
        newButton(p);
        QWidget *panel = p.ui->entryPanel;
        const QPoint start = panel->pos();
        const QPoint grip(300, 200); // background below the buttons
        QVERIFY(!panel->childAt(grip));

        // Right button: nothing moves.
        QTest::mousePress(panel, Qt::RightButton, {}, grip);
        QTest::mouseMove(panel, grip + QPoint(40, 20));
        QTest::mouseRelease(panel, Qt::RightButton, {}, grip + QPoint(40, 20));
        QCOMPARE(panel->pos(), start);

        // A label is not the background either.
        QLabel *label = panel->findChild<QLabel *>(QStringLiteral("categoryLabel"));
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
    static void newButton(Panel &p) { QTest::mouseClick(p.ui->newButton, Qt::LeftButton); }

    // A mouse event at a position of `w` whose global position moves with it (QTest's own
    // moves carry no button state on every platform).
    static void sendMouse(QWidget *w, QEvent::Type type, const QPoint &pos, Qt::MouseButton button)
    {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
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
