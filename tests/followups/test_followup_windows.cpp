// The windows of follow-ups in the main window: 跟进记录 of the current customer and 待办提醒.
#include "data/FollowUpStore.h"
#include "data/OperatorStore.h"
#include "data/ChangeLog.h"
#include "data/CustomerListModel.h"
#include "data/CustomerStore.h"
#include "followups/CustomerCard.h"
#include "followups/FollowUpCommands.h"
#include "followups/FollowUpEditor.h"
#include "followups/FollowUpWindow.h"
#include "followups/ReminderWindow.h"
#include "grid/DataGrid.h"
#include "platform/Clock.h"
#include "printing/PageStore.h"
#include "printing/PdfOutput.h"
#include "printing/PrintPreviewWindow.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/PdfContent.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

using namespace lianbu;
using namespace lianbu::data;
using lianbu::followups::FollowUpWindow;
using lianbu::followups::ReminderWindow;

namespace {

FollowUpWindow *openHistoryOfRow(test::MainWindowHarness &h, int row)
{
    h.form->customerList()->grid()->setCurrentRow(row);
    h.form->followUpCommands()->followUpAction()->trigger();
    const QList<FollowUpWindow *> windows = h.form->findChildren<FollowUpWindow *>();
    return windows.isEmpty() ? nullptr : windows.back();
}

QString cell(QTableWidget *table, int row, int column)
{
    QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

} // namespace

class TestFollowUpWindows : public QObject
{
    Q_OBJECT

private slots:
    void historyTakesTypedNotesAndKeepsTheTextWhenRefused()
    {
        test::MainWindowHarness h;
        h.insertCustomers({test::customer(QStringLiteral("VIP"), QStringLiteral("华联"), QStringLiteral("010-1"))});
        h.form->showAllRecords();
        h.waitForSearch();
        // The command is on the list's context menu and the toolbar as well as on F7.
        QVERIFY(
            h.form->customerList()->contextMenu()->actions().contains(h.form->followUpCommands()->followUpAction()));
        QVERIFY(h.form->findChild<QToolButton *>(QStringLiteral("followUpButton")));

        FollowUpWindow *window = openHistoryOfRow(h, 0);
        QVERIFY(window);
        const qint64 customer = window->customer();
        QVERIFY(customer != 0);
        // Typed and stored in one step, newest first.
        for (const QString &text : {QStringLiteral("第一次"), QStringLiteral("第二次")}) {
            test::typeText(window->editor()->contentEdit(), text);
            QTest::keyClick(window->editor()->contentEdit(), Qt::Key_Return, Qt::ControlModifier);
        }
        QCOMPARE(window->table()->rowCount(), 2);
        QCOMPARE(cell(window->table(), 0, 2), QStringLiteral("第二次"));
        QVERIFY(window->editor()->contentEdit()->toPlainText().isEmpty());
        // Nothing typed: a warning, nothing stored.
        window->addButton()->click();
        QCOMPARE(h.env.dialogs().lastBox().request.icon, BoxIcon::Warning);
        QCOMPARE(window->table()->rowCount(), 2);

        // Another operator changes the older one after it was chosen here: my change is refused
        // with a message and the text I typed stays.
        window->table()->setCurrentCell(1, 0);
        QCOMPARE(window->editor()->contentEdit()->toPlainText(), QStringLiteral("第一次"));
        FollowUpStore theirs(*h.data->connection, QStringLiteral("超级管理员"));
        QCOMPARE(theirs.modify(*window->chosen(), {QStringLiteral("电话"), QStringLiteral("他的修改"), {}, {}}),
                 FollowUpStore::Outcome::Done);
        window->editor()->contentEdit()->setPlainText(QStringLiteral("我的修改"));
        const int boxes = int(h.env.dialogs().boxes().size());
        window->saveButton()->click();
        QCOMPARE(int(h.env.dialogs().boxes().size()), boxes + 1);
        QCOMPARE(h.env.dialogs().lastBox().request.icon, BoxIcon::Stop);
        QVERIFY(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("其他操作员修改")));
        QCOMPARE(window->editor()->contentEdit()->toPlainText(), QStringLiteral("我的修改"));
        QCOMPARE(cell(window->table(), 1, 2), QStringLiteral("他的修改"));
        // Looked at again, the second 保存修改 goes through.
        window->saveButton()->click();
        QCOMPARE(cell(window->table(), 1, 2), QStringLiteral("我的修改"));

        // Deleting the customer says its follow-ups go with it to the bin.
        h.env.dialogs().queueBoxAnswer(BoxButton::Cancel);
        QVERIFY(!h.form->customerList()->deleteCustomer(*h.data->customerStore->read(customer)));
        QVERIFY(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("2条跟进记录")));
    }

    void theCustomerCardPrintsItsFieldsAndHistory()
    {
        test::MainWindowHarness h;
        h.insertCustomers({test::customer(QStringLiteral("VIP"), QStringLiteral("华联"), QStringLiteral("010-1234"))});
        h.form->showAllRecords();
        h.waitForSearch();
        const qint64 customer = h.data->customerList->customerAt(0).key;
        FollowUpStore store(*h.data->connection);
        store.add(customer,
                  {QStringLiteral("电话"), QStringLiteral("寄样品<b>"), QStringLiteral("已收到"), QDate(2026, 12, 24)});
        store.add(customer, {QStringLiteral("微信"), QStringLiteral("第一行\n报价单"), {}, {}});
        QVERIFY(h.form->customerList()->contextMenu()->actions().contains(h.form->followUpCommands()->cardAction()));
        auto printedWords = [&](const QString &name) {
            PrintPreviewWindow *preview = nullptr;
            for (QWidget *window : QApplication::topLevelWidgets())
                if (auto *found = qobject_cast<PrintPreviewWindow *>(window); found && found->isVisible())
                    preview = found;
            PageStore *pages = preview ? preview->store() : nullptr;
            QStringList words;
            if (!pages || pages->pageCount() < 1)
                return words;
            QTemporaryDir dir;
            const QString pdf = dir.filePath(name);
            lianbu::printing::writePdf(pdf, pages->metrics(), [&](QPrinter &printer) {
                return pages->printPages(&printer, 1, pages->pageCount());
            });
            // (poppler may give a character's compatibility form: ⼾ for 户)
            for (const test::PdfPage &page : test::readPdf(pdf))
                for (const QString &word : page.texts())
                    words << word.normalized(QString::NormalizationForm_KC);
            preview->close();
            return words;
        };

        // From the list's context menu: the fields, then the history, newest first.
        h.form->customerList()->grid()->setCurrentRow(0);
        h.form->followUpCommands()->cardAction()->trigger();
        const QStringList words = printedWords(QStringLiteral("card.pdf"));
        for (const QString &shown : {QStringLiteral("姓名"), QStringLiteral("华联"), QStringLiteral("010-1234"),
                                     QStringLiteral("跟进记录"), QStringLiteral("寄样品<b>"), QStringLiteral("已收到"),
                                     QStringLiteral("2026-12-24"), QStringLiteral("报价单")})
            QVERIFY2(words.contains(shown), qPrintable(shown + QStringLiteral(" not in ") + words.join(u' ')));
        QVERIFY(words.indexOf(QStringLiteral("报价单")) < words.indexOf(QStringLiteral("寄样品<b>")));

        // From the 跟进记录 window, after one more follow-up there.
        FollowUpWindow *window = openHistoryOfRow(h, 0);
        QVERIFY(window);
        test::typeText(window->editor()->contentEdit(), QStringLiteral("第三次"));
        window->addButton()->click();
        window->printButton()->click();
        QVERIFY(printedWords(QStringLiteral("again.pdf")).contains(QStringLiteral("第三次")));
        window->close();

        // A customer deleted meanwhile is said so; nothing is printed.
        QCOMPARE(h.data->customerStore->remove(*h.data->customerStore->read(customer)), CustomerStore::Outcome::Done);
        const int boxes = int(h.env.dialogs().boxes().size());
        followups::printCustomerCard(*h.data->connection, SessionOperator(*h.data->connection, {}), customer,
                                     h.form.get());
        QCOMPARE(int(h.env.dialogs().boxes().size()), boxes + 1);
        QVERIFY(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("已被删除")));
    }

    void remindersComeAtLoginOnlyWhenSomethingIsDue()
    {
        test::MainWindowHarness h;
        h.insertCustomers({test::customer(QStringLiteral("VIP"), QStringLiteral("华联"), QStringLiteral("010-1")),
                           test::customer(QStringLiteral("VIP"), QStringLiteral("阿里"), QStringLiteral("010-2"))});
        h.form->showAllRecords();
        h.waitForSearch();
        followups::FollowUpCommands *commands = h.form->followUpCommands();
        const qint64 customer = h.data->customerList->customerAt(1).key;
        const QString clerk = QStringLiteral("业务员甲");
        OperatorStore(*h.data->connection).addOperator(clerk);
        OperatorStore(*h.data->connection).setRights(clerk, {Role::Clerk, 0, false});

        // Nothing due: nothing at login; asked for, it says so.
        h.form->openSession(clerk, 1);
        commands->openReminders();
        QTRY_VERIFY(!h.env.dialogs().boxes().isEmpty());
        QVERIFY(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("没有到期")));
        QVERIFY(!h.form->findChild<ReminderWindow *>());

        FollowUpStore store(*h.data->connection, QStringLiteral("超级管理员"));
        store.add(customer, {QStringLiteral("电话"), QStringLiteral("寄报价"), QStringLiteral("答应周五前寄"),
                             lianbu::today().addDays(-1)});
        store.add(customer, {QStringLiteral("电话"), QStringLiteral("下月再谈"), {}, lianbu::today().addDays(30)});
        commands->remindAtLogin();
        QTRY_VERIFY(h.form->findChild<ReminderWindow *>());
        ReminderWindow *reminders = h.form->findChild<ReminderWindow *>();
        QCOMPARE(reminders->table()->rowCount(), 1);
        QCOMPARE(cell(reminders->table(), 0, 0), QStringLiteral("阿里"));
        // The mobile number, or the telephone when there is none.
        const CustomerRecord record = *h.data->customerStore->read(customer);
        QCOMPARE(cell(reminders->table(), 0, 2), record.value(QStringLiteral("f")).value_or(QString()).isEmpty()
                                                     ? QStringLiteral("010-2")
                                                     : *record.value(QStringLiteral("f")));

        // 打开客户 makes it current in the list and opens its history.
        reminders->table()->selectRow(0);
        reminders->openCustomerButton()->click();
        QTRY_COMPARE(h.form->customerList()->currentCustomer().key, customer);
        QVERIFY(h.form->findChild<FollowUpWindow *>());

        // 完成 records the outcome and the promise is no longer due.
        QVERIFY(reminders->complete(reminders->shown().at(0).followUp,
                                    {QStringLiteral("电话"), QStringLiteral("已寄出"), {}, {}}));
        QTRY_COMPARE(reminders->table()->rowCount(), 0);
        QCOMPARE(store.ofCustomer(customer).size(), size_t(3));

        // Switched off, the operator gets no window at login.
        reminders->remindBox()->setChecked(false);
        QVERIFY(!store.remindsAtLogin(clerk));
        QVERIFY(store.remindsAtLogin(QStringLiteral("超级管理员")));
    }
};

QTEST_MAIN(TestFollowUpWindows)
#include "test_followup_windows.moc"
