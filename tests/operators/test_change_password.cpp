// The password change window "更改密码", driven as the operator drives it.
#include "data/RegisterUpgrade.h"
#include "tests/support/TestServer.h"
#include "tests/support/FormWidgets.h"
#include "tests/support/MainWindowHarness.h"

#include "data/OperatorStore.h"
#include "data/PasswordHash.h"
#include "operators/ChangePasswordPrompt.h"
#include "operators/ChangePasswordDialog.h"
#include "platform/Application.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStyle>
#include <QTest>

using namespace lianbu;
using namespace lianbu::test;

namespace {

QString passwordOf(const MainWindowHarness &h, const QString &name)
{
    return h.queryColumn(QStringLiteral("select passwd from userdb where username=") + sql::sqlLiteral(name)).join('|');
}

// True when the operator's one row holds `password`, and only as its hash.
bool holdsHashOf(const MainWindowHarness &h, const QString &name, const QString &password)
{
    const QString stored = passwordOf(h, name);
    return data::isPasswordHash(stored) && data::verifyPassword(stored, password);
}

// The delivered register plus two operators whose names differ in letter case only.
void addOperators(MainWindowHarness &h)
{
    h.data->connection->execute(QStringLiteral("insert into userdb (username,passwd) values ('zhang','abc1'), "
                                               "('Zhang','XYZ9'), ('李四','444'), ('O''Neil','on1')"));
    lianbu::data::hashPlainPasswords(*h.data->connection);
}

// Opens the window through the main window's "修改密码" and waits until it is active.
ChangePasswordDialog *openWindow(MainWindowHarness &h)
{
    h.form->changePasswordAction->trigger();
    ChangePasswordDialog *w = openWindowOf<ChangePasswordDialog>();
    if (!w)
        return nullptr;
    w->activateWindow();
    // active through its owner does not count: the window itself must have the focus.
    if (!QTest::qWaitFor([w] { return QApplication::activeWindow() == w; }))
        return nullptr;
    return w;
}

QStringList items(const QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

// Picks an entry from the drop-down list with the mouse.
bool choose(QComboBox *combo, const QString &name)
{
    const int index = combo->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0)
        return false;
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    if (!QTest::qWaitForWindowExposed(view->window()))
        return false;
    const QRect rect = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    return combo->currentIndex() == index;
}

void fill(ChangePasswordDialog *w, const QString &oldPassword, const QString &newPassword, const QString &repeated)
{
    for (QLineEdit *e : {widgets(w)->oldPasswordEdit, widgets(w)->newPasswordEdit, widgets(w)->repeatPasswordEdit})
        e->clear();
    typeText(widgets(w)->oldPasswordEdit, oldPassword);
    typeText(widgets(w)->newPasswordEdit, newPassword);
    typeText(widgets(w)->repeatPasswordEdit, repeated);
}

void deleteClosedWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestChangePass : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }
    void opensFromTheMenuAsTheFormIsDesigned()
    {
        MainWindowHarness h;
        addOperators(h);
        ChangePasswordDialog *w = openWindow(h);
        QVERIFY(w);
        QCOMPARE(w->objectName(), QStringLiteral("changePasswordDialog"));
        QCOMPARE(w->windowTitle(), QStringLiteral("更改密码"));
        QCOMPARE(w->size(), QSize(296, 160));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(w->isVisible());
        QCOMPARE(w->windowModality(), Qt::NonModal);
        QCOMPARE(w->parentWidget(), h.form.get());
        QVERIFY(w->isWindow());
        QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
        const Qt::WindowFlags flags = w->windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const QPoint offset = w->frameGeometry().center() - w->screen()->availableGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
        QVERIFY(w->font().families().contains(QStringLiteral("宋体")));

        QVERIFY(!widgets(w)->operatorCombo->isEditable());
        QCOMPARE(widgets(w)->closeWhenDoneCheck->text(), QStringLiteral("更改完毕退出"));
        QVERIFY(widgets(w)->closeWhenDoneCheck->isChecked());
        QCOMPARE(widgets(w)->changeButton->text(), QStringLiteral("更改密码"));
        QCOMPARE(widgets(w)->quitButton->text(), QStringLiteral("退出"));
        QCOMPARE(widgets(w)->passwordRuleHint->text(), QStringLiteral("提示：密码只能输入字母和数字，最长10个字符！"));
        QCOMPARE(widgets(w)->operatorLabel->text(), QStringLiteral("选择操作员"));
        QCOMPARE(widgets(w)->oldPasswordLabel->text(), QStringLiteral("输入旧密码"));
        QCOMPARE(widgets(w)->newPasswordLabel->text(), QStringLiteral("输入新密码"));
        QCOMPARE(widgets(w)->repeatPasswordLabel->text(), QStringLiteral("新密码重复"));

        // Each name once, ascending (by the database's order of text), nothing chosen.
        h.data->connection->execute(QStringLiteral("drop index userdb_username"));
        h.data->connection->execute(QStringLiteral("insert into userdb (username,passwd) values ('李四','x')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        w->close();
        deleteClosedWindows();
        w = openWindow(h);
        QVERIFY(w);
        QCOMPARE(items(widgets(w)->operatorCombo),
                 h.queryColumn(QStringLiteral("select distinct username from userdb order by username")));
        QCOMPARE(widgets(w)->operatorCombo->count(), 5);
        QCOMPARE(widgets(w)->operatorCombo->currentIndex(), -1);
        QCOMPARE(widgets(w)->operatorCombo->currentText(), QString());
        QCOMPARE(QApplication::focusWidget(), widgets(w)->operatorCombo);

        // Tab moves through the form from top to bottom.
        const QList<QWidget *> chain{widgets(w)->operatorCombo,      widgets(w)->oldPasswordEdit,
                                     widgets(w)->newPasswordEdit,    widgets(w)->repeatPasswordEdit,
                                     widgets(w)->closeWhenDoneCheck, widgets(w)->changeButton,
                                     widgets(w)->quitButton,         widgets(w)->operatorCombo};
        for (int i = 0; i + 1 < chain.size(); ++i) {
            QTest::keyClick(chain[i], Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), chain[i + 1]);
        }
    }

    void passwordEditsFilterKeysAndEnterMovesOn()
    {
        MainWindowHarness h;
        addOperators(h);
        ChangePasswordDialog *w = openWindow(h);
        QVERIFY(w);
        for (QLineEdit *edit :
             {widgets(w)->oldPasswordEdit, widgets(w)->newPasswordEdit, widgets(w)->repeatPasswordEdit}) {
            typeText(edit, QStringLiteral("a-B 1_中'z"));
            QCOMPARE(edit->text(), QStringLiteral("aB1z"));
            QCOMPARE(edit->displayText(), QStringLiteral("****"));
            // A skin restyles every window; the edits keep showing "*".
            qApp->setStyleSheet(QStringLiteral("QLineEdit { color: #202020; }"));
            QCOMPARE(edit->displayText(), QStringLiteral("****"));
            qApp->setStyleSheet(QString());
            typeText(edit, QStringLiteral("23456789"));
            QCOMPARE(edit->text(), QStringLiteral("aB1z234567")); // ten at most
            QTest::keyClick(edit, Qt::Key_Backspace);
            QCOMPARE(edit->text(), QStringLiteral("aB1z23456"));
            edit->clear();
        }

        // Choosing an operator moves on to the old password; Enter moves from edit to edit and
        // then to the button, which a further Enter presses.
        QVERIFY(choose(widgets(w)->operatorCombo, QStringLiteral("李四")));
        QCOMPARE(QApplication::focusWidget(), widgets(w)->oldPasswordEdit);
        typeText(widgets(w)->oldPasswordEdit, QStringLiteral("444"));
        QTest::keyClick(widgets(w)->oldPasswordEdit, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), widgets(w)->newPasswordEdit);
        typeText(widgets(w)->newPasswordEdit, QStringLiteral("new4"));
        QTest::keyClick(widgets(w)->newPasswordEdit, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(QApplication::focusWidget(), widgets(w)->repeatPasswordEdit);
        typeText(widgets(w)->repeatPasswordEdit, QStringLiteral("new4"));
        QTest::keyClick(widgets(w)->repeatPasswordEdit, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), widgets(w)->changeButton);
        QVERIFY(holdsHashOf(h, QStringLiteral("李四"), QStringLiteral("444"))); // not pressed yet
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        QPointer<ChangePasswordDialog> alive(w);
        QTest::keyClick(widgets(w)->changeButton, Qt::Key_Return);
        QVERIFY(holdsHashOf(h, QStringLiteral("李四"), QStringLiteral("new4")));
        deleteClosedWindows();
        QVERIFY(alive.isNull());
    }

    void successfulChangeClosesOrStaysAsTheCheckBoxSays()
    {
        MainWindowHarness h;
        addOperators(h);
        ChangePasswordDialog *w = openWindow(h);
        QVERIFY(w);
        QPointer<ChangePasswordDialog> alive(w);

        // Unchecked: the window stays, the three edits are emptied.
        QTest::mouseClick(widgets(w)->closeWhenDoneCheck, Qt::LeftButton);
        QVERIFY(!widgets(w)->closeWhenDoneCheck->isChecked());
        QVERIFY(choose(widgets(w)->operatorCombo, QStringLiteral("Zhang")));
        fill(w, QStringLiteral("XYZ9"), QStringLiteral("Pw2"), QStringLiteral("Pw2"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        const BoxRequest box = h.env.dialogs().lastBox().request;
        QCOMPARE(box.text, QStringLiteral("你已经成功修改了密码！下次运行程序时生效！"));
        QCOMPARE(box.caption, QStringLiteral("联簿宝"));
        QCOMPARE(box.icon, BoxIcon::None);
        QCOMPARE(box.buttons, QList<BoxButton>{BoxButton::Ok});
        QVERIFY(holdsHashOf(h, QStringLiteral("Zhang"), QStringLiteral("Pw2")));
        QVERIFY(holdsHashOf(h, QStringLiteral("zhang"), QStringLiteral("abc1"))); // letter case tells them apart
        deleteClosedWindows();
        QVERIFY(!alive.isNull());
        QVERIFY(w->isVisible());
        QVERIFY(widgets(w)->oldPasswordEdit->text().isEmpty() && widgets(w)->newPasswordEdit->text().isEmpty()
                && widgets(w)->repeatPasswordEdit->text().isEmpty());
        QCOMPARE(widgets(w)->operatorCombo->currentText(), QStringLiteral("Zhang"));

        // A name holding a quote goes into the statement as a literal.
        QVERIFY(choose(widgets(w)->operatorCombo, QStringLiteral("O'Neil")));
        fill(w, QStringLiteral("on1"), QStringLiteral("on2"), QStringLiteral("on2"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QVERIFY(holdsHashOf(h, QStringLiteral("O'Neil"), QStringLiteral("on2")));
        QCOMPARE(h.queryColumn(QStringLiteral("select count(*) from userdb")), QStringList{"5"});

        // Checked: the window closes and frees itself; the shared query is closed.
        QTest::mouseClick(widgets(w)->closeWhenDoneCheck, Qt::LeftButton);
        QVERIFY(choose(widgets(w)->operatorCombo, QStringLiteral("李四")));
        fill(w, QStringLiteral("444"), QStringLiteral("x"), QStringLiteral("x"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QVERIFY(holdsHashOf(h, QStringLiteral("李四"), QStringLiteral("x")));
        QVERIFY(!h.data->statementQuery->active());
        deleteClosedWindows();
        QVERIFY(alive.isNull());
        QCOMPARE(openWindowOf<ChangePasswordDialog>(), nullptr);
    }

    void incompleteInputIsRefusedAndChangesNothing()
    {
        MainWindowHarness h;
        addOperators(h);
        ChangePasswordDialog *w = openWindow(h);
        QVERIFY(w);
        const QStringList before =
            h.queryColumn(QStringLiteral("select username || '/' || passwd from userdb order by %1")
                              .arg(h.rowKey(QStringLiteral("userdb"))));
        ScriptedDialogs &boxes = h.env.dialogs();

        // No operator chosen: the update would match nobody and still report success.
        fill(w, QStringLiteral("abc1"), QStringLiteral("n1"), QStringLiteral("n1"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QCOMPARE(boxes.lastBox().request.text, QStringLiteral("必须选择用户！"));
        QCOMPARE(boxes.lastBox().request.caption, QStringLiteral("Warning"));
        QCOMPARE(boxes.lastBox().request.icon, BoxIcon::Warning);
        QCOMPARE(QApplication::focusWidget(), widgets(w)->operatorCombo);

        QVERIFY(choose(widgets(w)->operatorCombo, QStringLiteral("zhang")));
        fill(w, QString(), QStringLiteral("n1"), QStringLiteral("n1"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QCOMPARE(boxes.lastBox().request.text, QStringLiteral("必须输入旧口令！"));
        QCOMPARE(boxes.lastBox().request.caption, QStringLiteral("Warning"));
        QCOMPARE(QApplication::focusWidget(), widgets(w)->oldPasswordEdit);

        // Blanks only count as empty (they cannot be typed, but may be set by other means).
        widgets(w)->oldPasswordEdit->setText(QStringLiteral("abc1"));
        widgets(w)->newPasswordEdit->setText(QStringLiteral("  "));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QCOMPARE(boxes.lastBox().request.text, QStringLiteral("新口令长度不能为空！"));
        QCOMPARE(boxes.lastBox().request.icon, BoxIcon::Warning);
        QCOMPARE(QApplication::focusWidget(), widgets(w)->newPasswordEdit);

        // The repetition must match exactly, letter case included.
        fill(w, QStringLiteral("abc1"), QStringLiteral("Secret"), QStringLiteral("secret"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QCOMPARE(boxes.lastBox().request.text, QStringLiteral("两次输入的密码不一致！请重新输入！"));
        QCOMPARE(boxes.lastBox().request.icon, BoxIcon::None);
        QCOMPARE(boxes.lastBox().request.caption, QStringLiteral("联簿宝"));
        QCOMPARE(widgets(w)->repeatPasswordEdit->text(), QString());
        QCOMPARE(widgets(w)->newPasswordEdit->text(), QStringLiteral("Secret"));
        QCOMPARE(widgets(w)->oldPasswordEdit->text(), QStringLiteral("abc1"));
        QCOMPARE(QApplication::focusWidget(), widgets(w)->repeatPasswordEdit);

        QCOMPARE(boxes.boxes().size(), 4);
        QCOMPARE(h.queryColumn(QStringLiteral("select username || '/' || passwd from userdb order by %1")
                                   .arg(h.rowKey(QStringLiteral("userdb")))),
                 before);
        QVERIFY(w->isVisible());
    }

    void theOldPasswordMustBeTheOperatorsOwn()
    {
        MainWindowHarness h;
        addOperators(h);
        ChangePasswordDialog *w = openWindow(h);
        QVERIFY(w);
        QPointer<ChangePasswordDialog> alive(w);
        ScriptedDialogs &boxes = h.env.dialogs();
        const QStringList before =
            h.queryColumn(QStringLiteral("select username || '/' || passwd from userdb order by %1")
                              .arg(h.rowKey(QStringLiteral("userdb"))));

        // Another operator's password, the default password, a different letter case: all
        // refused, even for the super administrator, and the window stays although it would
        // close after a change.
        const QList<QPair<QString, QString>> attempts{
            {QStringLiteral("超级管理员"), QStringLiteral("444")},
            {QStringLiteral("超级管理员"), QStringLiteral("8888")},
            {QStringLiteral("zhang"), QStringLiteral("XYZ9")},
            {QStringLiteral("zhang"), QStringLiteral("ABC1")},
            {QStringLiteral("Zhang"), QStringLiteral("xyz9")},
        };
        for (const auto &[name, oldPassword] : attempts) {
            QVERIFY(choose(widgets(w)->operatorCombo, name));
            fill(w, oldPassword, QStringLiteral("taken1"), QStringLiteral("taken1"));
            QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
            QCOMPARE(boxes.lastBox().request.text, QStringLiteral("旧密码不正确！请重新输入！"));
            QCOMPARE(boxes.lastBox().request.icon, BoxIcon::None);
            QCOMPARE(boxes.lastBox().request.caption, QStringLiteral("联簿宝"));
            QCOMPARE(widgets(w)->oldPasswordEdit->text(), QString());
            QCOMPARE(QApplication::focusWidget(), widgets(w)->oldPasswordEdit);
            QCOMPARE(widgets(w)->newPasswordEdit->text(), QStringLiteral("taken1"));
        }
        QCOMPARE(h.queryColumn(QStringLiteral("select username || '/' || passwd from userdb order by %1")
                                   .arg(h.rowKey(QStringLiteral("userdb")))),
                 before);
        deleteClosedWindows();
        QVERIFY(!alive.isNull());

        // The default password is printed on the login dialog: knowing it proves nothing, so
        // while the super administrator still has it only he may replace it.
        h.data->sessionOperator = QStringLiteral("zhang");
        QVERIFY(choose(widgets(w)->operatorCombo, superAdministratorName()));
        fill(w, QStringLiteral("888"), QStringLiteral("Adm1n"), QStringLiteral("Adm1n"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QCOMPARE(boxes.lastBox().request.text,
                 QStringLiteral("“超级管理员”还在使用初始密码，只有他本人登录后才能修改密码！"));
        QVERIFY(holdsHashOf(h, superAdministratorName(), QStringLiteral("888")));
        QVERIFY(alive);

        // Logged in himself, with his own password, his password changes like any other.
        h.data->sessionOperator = superAdministratorName();
        QVERIFY(choose(widgets(w)->operatorCombo, superAdministratorName()));
        fill(w, QStringLiteral("888"), QStringLiteral("Adm1n"), QStringLiteral("Adm1n"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QCOMPARE(boxes.lastBox().request.text, QStringLiteral("你已经成功修改了密码！下次运行程序时生效！"));
        QVERIFY(holdsHashOf(h, superAdministratorName(), QStringLiteral("Adm1n")));

        // A password of his own may be changed by whoever knows it; every change names who made it.
        h.data->sessionOperator = QStringLiteral("zhang");
        deleteClosedWindows();
        w = openWindow(h);
        QVERIFY(w);
        QVERIFY(choose(widgets(w)->operatorCombo, superAdministratorName()));
        fill(w, QStringLiteral("Adm1n"), QStringLiteral("Adm2n"), QStringLiteral("Adm2n"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QVERIFY(holdsHashOf(h, superAdministratorName(), QStringLiteral("Adm2n")));
        const std::vector<data::OperatorStore::Change> changes = data::OperatorStore(*h.data->connection).changes();
        QVERIFY(changes.size() >= 2);
        const auto &first = changes[changes.size() - 2];
        const auto &second = changes.back();
        QCOMPARE(first.name, superAdministratorName());
        QCOMPARE(first.changedBy, superAdministratorName());
        QCOMPARE(second.name, superAdministratorName());
        QCOMPARE(second.changedBy, QStringLiteral("zhang"));
        QCOMPARE(second.kind, QStringLiteral("change"));
        QVERIFY(!second.time.isEmpty());
    }

    void aRefusedStatementReachesTheErrorDisplayAndTheWindowStays()
    {
        MainWindowHarness h;
        addOperators(h);
        ChangePasswordDialog *w = openWindow(h);
        QVERIFY(w);
        QPointer<ChangePasswordDialog> alive(w);
        test::createRefusingTrigger(*h.data->connection, QStringLiteral("userdb"), QStringLiteral("update"),
                                    QStringLiteral("refused by the file"));
        QVERIFY(choose(widgets(w)->operatorCombo, QStringLiteral("李四")));
        fill(w, QStringLiteral("444"), QStringLiteral("n1"), QStringLiteral("n1"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QCOMPARE(h.env.dialogs().boxes().size(), 1); // the error only, no success
        const BoxRequest box = h.env.dialogs().lastBox().request;
        QCOMPARE(box.icon, BoxIcon::Stop);
        QVERIFY2(box.text.contains(QStringLiteral("refused by the file")), qPrintable(box.text));
        QVERIFY(holdsHashOf(h, QStringLiteral("李四"), QStringLiteral("444")));
        deleteClosedWindows();
        QVERIFY(!alive.isNull()); // it would have closed after a change
        QVERIFY(w->isVisible());
    }

    void theSuperAdministratorCannotPostponeTheChange()
    {
        MainWindowHarness h;
        h.form->openSession(superAdministratorName(), 7); // logged in with the default password
        ScriptedDialogs &boxes = h.env.dialogs();
        operators::askForOwnPassword(*h.data, h.form.get(), superAdministratorName());
        QCOMPARE(boxes.lastBox().request.icon, BoxIcon::None); // told, not asked
        QVERIFY2(boxes.lastBox().request.text.contains(QStringLiteral("初始密码")),
                 qPrintable(boxes.lastBox().request.text));
        ChangePasswordDialog *w = openWindowOf<ChangePasswordDialog>();
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QCOMPARE(w->windowModality(), Qt::ApplicationModal);
        QCOMPARE(widgets(w)->operatorCombo->currentText(), superAdministratorName());
        QVERIFY(!widgets(w)->operatorCombo->isEnabled());

        // Leaving is asked about; "&No" keeps the window and the program.
        boxes.queueBoxAnswer(BoxButton::No);
        w->close();
        QCOMPARE(boxes.lastBox().request.icon, BoxIcon::Question);
        QVERIFY(w->isVisible());
        QVERIFY(h.form->isVisible());

        // The default password again is no change.
        fill(w, QStringLiteral("888"), QStringLiteral("888"), QStringLiteral("888"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QCOMPARE(boxes.lastBox().request.text, QStringLiteral("新密码不能是初始密码！请重新输入！"));
        QVERIFY(w->isVisible());
        QVERIFY(holdsHashOf(h, superAdministratorName(), QStringLiteral("888")));

        QPointer<ChangePasswordDialog> alive(w);
        QTest::mouseClick(widgets(w)->closeWhenDoneCheck, Qt::LeftButton); // closes after the change all the same
        fill(w, QStringLiteral("888"), QStringLiteral("Boss1"), QStringLiteral("Boss1"));
        QTest::mouseClick(widgets(w)->changeButton, Qt::LeftButton);
        QCOMPARE(boxes.lastBox().request.text, QStringLiteral("你已经成功修改了密码！下次运行程序时生效！"));
        QVERIFY(holdsHashOf(h, superAdministratorName(), QStringLiteral("Boss1")));
        deleteClosedWindows();
        QVERIFY(alive.isNull());
        QVERIFY(h.form->isVisible());
    }

    void leavingWithoutTheChangeEndsTheProgram()
    {
        MainWindowHarness h;
        h.form->openSession(superAdministratorName(), 7);
        operators::askForOwnPassword(*h.data, h.form.get(), superAdministratorName());
        ChangePasswordDialog *w = openWindowOf<ChangePasswordDialog>();
        QVERIFY(w);
        h.env.dialogs().queueBoxAnswer(BoxButton::Yes);
        w->close();
        QTRY_VERIFY(!h.form->isVisible());
        QVERIFY(holdsHashOf(h, superAdministratorName(), QStringLiteral("888")));
    }

    void aClerkWithTheDefaultPasswordMayPostpone()
    {
        MainWindowHarness h;
        h.data->connection->execute(QStringLiteral("insert into userdb (username,passwd) values ('职员甲','888')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        h.env.dialogs().queueBoxAnswer(BoxButton::Yes);
        operators::askForOwnPassword(*h.data, h.form.get(), QStringLiteral("职员甲"));
        ChangePasswordDialog *w = openWindowOf<ChangePasswordDialog>();
        QVERIFY(w);
        QCOMPARE(w->windowModality(), Qt::NonModal);
        QCOMPARE(widgets(w)->operatorCombo->currentText(), QStringLiteral("职员甲"));
        QPointer<ChangePasswordDialog> alive(w);
        w->close(); // postponed: no question, the program goes on
        deleteClosedWindows();
        QVERIFY(alive.isNull());
        QVERIFY(h.form->isVisible());
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
    }

    void closingGivesTheFocusBackToTheMainWindow()
    {
        MainWindowHarness h;
        h.form->openSession(QStringLiteral("张三"), 7); // a session is open
        QVERIFY(QTest::qWaitFor([&h] { return QApplication::activeWindow() == h.form.get(); }));
        ChangePasswordDialog *w = openWindow(h);
        QVERIFY(w);
        QSignalSpy checks(h.form->checkForUpgradeAction, &QAction::triggered);
        QTest::mouseClick(widgets(w)->quitButton, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&h] { return QApplication::activeWindow() == h.form.get(); }));
        // The main window's activation runs again (its upgrade check), nothing else appears.
        QCOMPARE(checks.count(), 1);
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
    }

    void exitClosesFreesAndTheNextOpeningStartsAfresh()
    {
        MainWindowHarness h;
        addOperators(h);
        ChangePasswordDialog *w = openWindow(h);
        QVERIFY(w);
        QVERIFY(h.data->statementQuery->active()); // the list was read through it
        // A second "修改密码" brings the open window forward instead of opening another.
        QVERIFY(choose(widgets(w)->operatorCombo, QStringLiteral("zhang")));
        typeText(widgets(w)->oldPasswordEdit, QStringLiteral("abc"));
        w->showMinimized();
        h.form->changePasswordAction->trigger();
        QCOMPARE(openWindowOf<ChangePasswordDialog>(), w);
        QVERIFY(!w->isMinimized());
        QVERIFY(w->isVisible());
        int windows = 0;
        for (QWidget *top : QApplication::topLevelWidgets())
            windows += qobject_cast<ChangePasswordDialog *>(top) ? 1 : 0;
        QCOMPARE(windows, 1);
        QCOMPARE(widgets(w)->oldPasswordEdit->text(), QStringLiteral("abc"));

        QPointer<ChangePasswordDialog> alive(w);
        // Escape leaves it open; "退出" closes it.
        QTest::keyClick(widgets(w)->oldPasswordEdit, Qt::Key_Escape);
        deleteClosedWindows();
        QVERIFY(!alive.isNull() && w->isVisible());
        QTest::mouseClick(widgets(w)->quitButton, Qt::LeftButton);
        QVERIFY(!h.data->statementQuery->active());
        deleteClosedWindows();
        QVERIFY(alive.isNull());
        QCOMPARE(openWindowOf<ChangePasswordDialog>(), nullptr);

        w = openWindow(h);
        QVERIFY(w);
        QCOMPARE(widgets(w)->operatorCombo->currentIndex(), -1);
        QCOMPARE(widgets(w)->oldPasswordEdit->text(), QString());
        QVERIFY(widgets(w)->closeWhenDoneCheck->isChecked());
        // The close box ends it the same way.
        alive = w;
        w->close();
        QVERIFY(!h.data->statementQuery->active());
        deleteClosedWindows();
        QVERIFY(alive.isNull());
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
    }
};

int main(int argc, char **argv)
{
    // The program's application object: a handler's error goes to the general error display.
    Application app(argc, argv);
    TestChangePass test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_change_password.moc"
