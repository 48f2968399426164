// The operator administration window "用户管理—(管理员专用)", driven as the administrator drives it.
#include "data/RegisterUpgrade.h"
#include "tests/support/TestServer.h"
#include "tests/support/FormWidgets.h"
#include "tests/support/MainWindowHarness.h"

#include "appearance/Skins.h"
#include "data/OperatorStore.h"
#include "data/PasswordHash.h"
#include "operators/ChangePasswordDialog.h"
#include "operators/FailureLogWindow.h"
#include "operators/OperatorAdminDialog.h"

#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Error.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSqlQuery>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

using namespace lianbu;
using namespace lianbu::test;

namespace {

QStringList items(const QListWidget *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

OperatorAdminDialog *openWindow(MainWindowHarness &h)
{
    h.form->manageOperatorsAction->trigger();
    OperatorAdminDialog *w = openWindowOf<OperatorAdminDialog>();
    if (!w)
        return nullptr;
    w->activateWindow();
    // active through its owner does not count: the window itself must have the focus.
    if (!QTest::qWaitFor([w] { return QApplication::activeWindow() == w; }))
        return nullptr;
    return w;
}

void deleteClosedWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Types the administrator password and presses "登录".
void unlock(OperatorAdminDialog *w, const QString &password)
{
    widgets(w)->adminPasswordEdit->clear();
    typeText(widgets(w)->adminPasswordEdit, password);
    QTest::mouseClick(widgets(w)->unlockButton, Qt::LeftButton);
}

// Clicks the list entry at `row`.
void clickEntry(OperatorAdminDialog *w, int row)
{
    QListWidget *list = widgets(w)->operatorList;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

// Clicks the (first) list entry showing `name`.
bool clickName(OperatorAdminDialog *w, const QString &name)
{
    const QStringList names = items(widgets(w)->operatorList);
    const int row = names.indexOf(name);
    if (row < 0)
        return false;
    clickEntry(w, row);
    return true;
}

void showTab(OperatorAdminDialog *w, int index)
{
    QTabBar *bar = widgets(w)->actionTabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

// An older register: no unique index on the operator names, and a name held twice.
void makeOlderRegisterWithDuplicates(MainWindowHarness &h)
{
    h.data->connection->execute(QStringLiteral("drop index userdb_username"));
    h.data->connection->execute(QStringLiteral("insert into userdb (username,passwd) values ('王五','555'), "
                                               "('张三','333'), ('王五','5x'), ('Wang','w1'), ('wang','w2')"));
    lianbu::data::hashPlainPasswords(*h.data->connection);
}

QString lastText(MainWindowHarness &h)
{
    return h.env.dialogs().lastBox().request.text;
}

// The super administrator's own password, set as he would after his first login.
QString adminPassword(MainWindowHarness &h)
{
    data::OperatorStore(*h.data->connection).setPassword(superAdministratorName(), QStringLiteral("Adm1n"));
    return QStringLiteral("Adm1n");
}

// Every row as "name/password": a stored hash shows as "#" and the password it verifies
// (among the default password and the ones these tests give), a plain value as it is.
QStringList operatorRowsRead(const MainWindowHarness &h)
{
    QStringList rows;
    for (const QString &row : h.queryColumn(QStringLiteral("select username || '/' || passwd from userdb order by %1")
                                                .arg(h.rowKey(QStringLiteral("userdb"))))) {
        const qsizetype slash = row.indexOf(QLatin1Char('/'));
        const QString stored = row.mid(slash + 1);
        QString shown = stored;
        if (data::isPasswordHash(stored)) {
            shown = QStringLiteral("#?");
            for (const QString &candidate : {QStringLiteral("888"), QStringLiteral("Adm1n")})
                if (data::verifyPassword(stored, candidate))
                    shown = QLatin1Char('#') + candidate;
        }
        rows << row.left(slash + 1) + shown;
    }
    return rows;
}

// Lets the attempt wait pass.
void passTime()
{
    setFixedNow(now().addSecs(60));
}

} // namespace

class TestUsergl : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }
    void opensLockedAsTheFormIsDesigned()
    {
        MainWindowHarness h;
        makeOlderRegisterWithDuplicates(h);
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        QCOMPARE(w->objectName(), QStringLiteral("operatorAdminDialog"));
        QCOMPARE(w->windowTitle(), QStringLiteral("用户管理—(管理员专用)"));
        QCOMPARE(w->size(), QSize(393, 152));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QCOMPARE(w->windowModality(), Qt::NonModal);
        QCOMPARE(w->parentWidget(), h.form.get());
        QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const QPoint offset = w->frameGeometry().center() - w->screen()->availableGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));

        QCOMPARE(widgets(w)->adminPasswordLabel->text(), QStringLiteral("管理员密码："));
        QCOMPARE(widgets(w)->adminPasswordLabel->buddy(), widgets(w)->adminPasswordEdit);
        QCOMPARE(widgets(w)->adminPasswordEdit->maxLength(), 10);
        QCOMPARE(widgets(w)->adminPasswordEdit->echoMode(), QLineEdit::Password);
        QCOMPARE(widgets(w)->unlockButton->text(), QStringLiteral("登录"));
        QCOMPARE(widgets(w)->quitButton->text(), QStringLiteral("退出"));
        QCOMPARE(widgets(w)->operatorListLabel->text(), QStringLiteral("用户列表"));
        QVERIFY(!widgets(w)->operatorList->isEnabled());
        QVERIFY(!widgets(w)->actionTabs->isEnabled());
        QVERIFY(!w->unlocked());

        QTabWidget *tabs = widgets(w)->actionTabs;
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(tabs->tabText(0), QStringLiteral("初始化密码"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("增加用户"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("删除用户"));
        QCOMPARE(widgets(w)->resetSelectHint->text(), QStringLiteral("请在左边列表中选择用户"));
        QCOMPARE(widgets(w)->resetNameLabel->text(), QStringLiteral("你选择的用户名："));
        QVERIFY(widgets(w)->resetNameEdit->isReadOnly());
        QCOMPARE(widgets(w)->resetButton->text(), QStringLiteral("初始化密码"));
        QCOMPARE(widgets(w)->resetHintButton->text(), QStringLiteral("提示"));
        QCOMPARE(widgets(w)->newNameLabel->text(), QStringLiteral("新增用户名："));
        QVERIFY(!widgets(w)->newNameEdit->isReadOnly());
        QCOMPARE(widgets(w)->newNameEdit->echoMode(), QLineEdit::Normal);
        QCOMPARE(widgets(w)->newNameEdit->validator(), nullptr);
        QCOMPARE(widgets(w)->addButton->text(), QStringLiteral("增加用户"));
        QCOMPARE(widgets(w)->deleteSelectHint->text(), QStringLiteral("请在左边列表中选择用户"));
        QCOMPARE(widgets(w)->deleteNameLabel->text(), QStringLiteral("你选择的用户名："));
        QVERIFY(widgets(w)->deleteNameEdit->isReadOnly());
        QCOMPARE(widgets(w)->deleteButton->text(), QStringLiteral("删除用户"));

        // Every row in the database's order, a duplicated name twice; filled while locked.
        QCOMPARE(items(widgets(w)->operatorList),
                 h.queryColumn(QStringLiteral("select username from userdb") + h.listOrder(QStringLiteral("userdb"))));
        QCOMPARE(items(widgets(w)->operatorList),
                 QStringList({QStringLiteral("超级管理员"), QStringLiteral("王五"), QStringLiteral("张三"),
                              QStringLiteral("王五"), QStringLiteral("Wang"), QStringLiteral("wang")}));
        QCOMPARE(QApplication::focusWidget(), widgets(w)->adminPasswordEdit);

        // Every caption fits its control, and the three tabs fit side by side.
        for (QLabel *label : w->findChildren<QLabel *>())
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(label->text()));
        for (QPushButton *button : w->findChildren<QPushButton *>())
            QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) + 8 <= button->width(),
                     qPrintable(button->text()));
        QVERIFY2(tabs->tabBar()->sizeHint().width() <= tabs->width(),
                 qPrintable(QStringLiteral("tabs %1 wide").arg(tabs->tabBar()->sizeHint().width())));
    }

    void onlyTheSuperAdministratorsPasswordUnlocks()
    {
        MainWindowHarness h;
        h.data->connection->execute(QStringLiteral("insert into userdb (username,passwd) values ('张三','333')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);

        // Key filter, length limit, Enter to "登录" and Enter on it presses it.
        typeText(widgets(w)->adminPasswordEdit, QStringLiteral("8 8-中8'0123456789"));
        QCOMPARE(widgets(w)->adminPasswordEdit->text(), QStringLiteral("8880123456"));
        QCOMPARE(widgets(w)->adminPasswordEdit->displayText(), QString(10, QLatin1Char('*')));
        widgets(w)->adminPasswordEdit->clear();

        // Another operator's password, the right one in another letter case, nothing at all.
        for (const QString &wrong : {QStringLiteral("333"), QStringLiteral("8888"), QString()}) {
            unlock(w, wrong);
            QCOMPARE(lastText(h), QStringLiteral("密码不对！"));
            QCOMPARE(h.env.dialogs().lastBox().request.caption, QStringLiteral("联簿宝"));
            QCOMPARE(h.env.dialogs().lastBox().request.icon, BoxIcon::None);
            QVERIFY(!widgets(w)->operatorList->isEnabled());
            QVERIFY(!widgets(w)->actionTabs->isEnabled());
        }
        h.data->connection->execute(QStringLiteral("update userdb set passwd='Ab8' where username='超级管理员'"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        passTime(); // three failures in a row: the next check would wait
        unlock(w, QStringLiteral("ab8"));
        QCOMPARE(lastText(h), QStringLiteral("密码不对！"));
        QVERIFY(!w->unlocked());

        QCOMPARE(widgets(w)->adminPasswordEdit->text(), QStringLiteral("ab8")); // kept after a wrong one
        widgets(w)->adminPasswordEdit->clear();
        passTime();
        QTRY_VERIFY(widgets(w)->unlockButton->isEnabled());
        typeText(widgets(w)->adminPasswordEdit, QStringLiteral("Ab8"));
        widgets(w)->adminPasswordEdit->setFocus();
        QTest::keyClick(widgets(w)->adminPasswordEdit, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), widgets(w)->unlockButton);
        QVERIFY(!w->unlocked());
        QTest::keyClick(widgets(w)->unlockButton, Qt::Key_Return);
        QCOMPARE(lastText(h), QStringLiteral("超级管理员登录成功！"));
        QVERIFY(widgets(w)->operatorList->isEnabled());
        QVERIFY(widgets(w)->actionTabs->isEnabled());
        QCOMPARE(widgets(w)->adminPasswordEdit->text(), QString());

        // A wrong password afterwards does not lock it again.
        unlock(w, QStringLiteral("333"));
        QCOMPARE(lastText(h), QStringLiteral("密码不对！"));
        QVERIFY(w->unlocked());
    }

    void anEmptyPasswordUnlocksOnlyAnEmptyStoredOne()
    {
        MainWindowHarness h;
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        unlock(w, QString());
        QCOMPARE(lastText(h), QStringLiteral("密码不对！"));
        QVERIFY(!w->unlocked());
        h.data->connection->execute(QStringLiteral("update userdb set passwd='' where username='超级管理员'"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        unlock(w, QString());
        QCOMPARE(lastText(h), QStringLiteral("超级管理员登录成功！"));
        QVERIFY(w->unlocked());
    }

    void withoutTheSuperAdministratorNothingUnlocks()
    {
        MainWindowHarness h;
        h.data->connection->execute(QStringLiteral("delete from userdb"));
        h.data->connection->execute(
            QStringLiteral("insert into userdb (username,passwd) values ('张三','888'), ('李四','')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        for (const QString &password : {QStringLiteral("888"), QString()}) {
            unlock(w, password);
            QCOMPARE(lastText(h), QStringLiteral("密码不对！"));
            QVERIFY(!w->unlocked());
        }
        // Two super administrator rows with the same password match twice: no unlock either.
        h.data->connection->execute(QStringLiteral("drop index userdb_username"));
        h.data->connection->execute(
            QStringLiteral("insert into userdb (username,passwd) values ('超级管理员','888'), ('超级管理员','888')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        unlock(w, adminPassword(h));
        QCOMPARE(lastText(h), QStringLiteral("密码不对！"));
        QVERIFY(!w->unlocked());
    }

    void lockedAgainOnEveryOpening()
    {
        MainWindowHarness h;
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        unlock(w, adminPassword(h));
        QVERIFY(w->unlocked());
        showTab(w, 2);
        widgets(w)->newNameEdit->setText(QStringLiteral("kept?"));

        // "用户管理" while open brings this window forward, still unlocked, also from minimised.
        w->showMinimized();
        h.form->manageOperatorsAction->trigger();
        QCOMPARE(openWindowOf<OperatorAdminDialog>(), w);
        QVERIFY(!w->isMinimized());
        QVERIFY(w->unlocked());
        int windows = 0;
        for (QWidget *top : QApplication::topLevelWidgets())
            windows += qobject_cast<OperatorAdminDialog *>(top) ? 1 : 0;
        QCOMPARE(windows, 1);

        QPointer<OperatorAdminDialog> alive(w);
        QTest::mouseClick(widgets(w)->quitButton, Qt::LeftButton);
        QVERIFY(!h.data->statementQuery->active());
        deleteClosedWindows();
        QVERIFY(alive.isNull());
        QCOMPARE(openWindowOf<OperatorAdminDialog>(), nullptr);

        w = openWindow(h);
        QVERIFY(w);
        QVERIFY(!w->unlocked());
        QVERIFY(!widgets(w)->operatorList->isEnabled());
        QCOMPARE(widgets(w)->actionTabs->currentIndex(), 0);
        QCOMPARE(widgets(w)->newNameEdit->text(), QString());
        alive = w;
        w->close(); // the close box
        QVERIFY(!h.data->statementQuery->active());
        deleteClosedWindows();
        QVERIFY(alive.isNull());
    }

    void choosingAndResetting()
    {
        MainWindowHarness h;
        h.data->connection->execute(
            QStringLiteral("insert into userdb (username,passwd) values ('张三','333'), ('O''Neil','on1')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        unlock(w, adminPassword(h));

        // Nothing chosen yet.
        QTest::mouseClick(widgets(w)->resetButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("请选择用户名！"));
        QCOMPARE(h.env.dialogs().lastBox().request.icon, BoxIcon::None);

        // The list is in the database's order (here the order of the name index).
        const QStringList names = items(widgets(w)->operatorList);
        QCOMPARE(names,
                 h.queryColumn(QStringLiteral("select username from userdb") + h.listOrder(QStringLiteral("userdb"))));
        QVERIFY(clickName(w, QStringLiteral("O'Neil")));
        QCOMPARE(widgets(w)->resetNameEdit->text(), QStringLiteral("O'Neil"));
        QCOMPARE(widgets(w)->deleteNameEdit->text(), QStringLiteral("O'Neil"));
        // Moving through the list with the keyboard chooses too.
        const int row = names.indexOf(QStringLiteral("O'Neil"));
        const Qt::Key away = row + 1 < names.size() ? Qt::Key_Down : Qt::Key_Up;
        const int other = row + 1 < names.size() ? row + 1 : row - 1;
        widgets(w)->operatorList->setFocus();
        QTest::keyClick(widgets(w)->operatorList, away);
        QCOMPARE(widgets(w)->resetNameEdit->text(), names.at(other));
        QCOMPARE(widgets(w)->deleteNameEdit->text(), names.at(other));
        QTest::keyClick(widgets(w)->operatorList, away == Qt::Key_Down ? Qt::Key_Up : Qt::Key_Down);
        QCOMPARE(widgets(w)->resetNameEdit->text(), QStringLiteral("O'Neil"));
        QCOMPARE(widgets(w)->deleteNameEdit->text(), QStringLiteral("O'Neil"));

        QTest::mouseClick(widgets(w)->resetButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("已经成功将密码初始化为：888"));
        QVERIFY(operatorRowsRead(h).contains(QStringLiteral("O'Neil/#888")));
        QVERIFY(data::verifyPassword(
            h.queryColumn(QStringLiteral("select passwd from userdb where username='张三'")).value(0),
            QStringLiteral("333")));
        QCOMPARE(widgets(w)->resetNameEdit->text(), QStringLiteral("O'Neil"));

        // The super administrator's password can be reset too.
        h.data->connection->execute(QStringLiteral("update userdb set passwd='s1' where username='超级管理员'"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        QVERIFY(clickName(w, superAdministratorName()));
        QTest::mouseClick(widgets(w)->resetButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("已经成功将密码初始化为：888"));
        QVERIFY(operatorRowsRead(h).contains(QStringLiteral("超级管理员/#888")));

        // The hint names the password a reset sets, and changes nothing itself.
        h.data->connection->execute(QStringLiteral("update userdb set passwd='s2' where username='超级管理员'"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        QTest::mouseClick(widgets(w)->resetHintButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("初始化口令用于忘记密码的用户，将口令更改为:888"));
        QCOMPARE(h.env.dialogs().lastBox().request.icon, BoxIcon::None);
        QVERIFY(data::verifyPassword(
            h.queryColumn(QStringLiteral("select passwd from userdb where username='超级管理员'")).value(0),
            QStringLiteral("s2")));
    }

    void resettingAnOperatorWhoIsGoneIsNotReportedDone()
    {
        MainWindowHarness h;
        h.data->connection->execute(QStringLiteral("insert into userdb (username,passwd) values ('张三','333')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        unlock(w, adminPassword(h));
        QVERIFY(clickName(w, QStringLiteral("张三")));
        QCOMPARE(widgets(w)->resetNameEdit->text(), QStringLiteral("张三"));
        // Another program instance removes the operator meanwhile.
        h.data->connection->execute(QStringLiteral("delete from userdb where username='张三'"));
        QTest::mouseClick(widgets(w)->resetButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("用户不存在！"));
        QCOMPARE(widgets(w)->resetNameEdit->text(), QString());
        QCOMPARE(items(widgets(w)->operatorList), QStringList{superAdministratorName()});
        QCOMPARE(operatorRowsRead(h), QStringList{QStringLiteral("超级管理员/#Adm1n")});
    }

    void addingOperators()
    {
        MainWindowHarness h;
        h.data->connection->execute(QStringLiteral("insert into userdb (username,passwd) values ('zhang','z1')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        unlock(w, adminPassword(h));
        showTab(w, 1);
        QCOMPARE(widgets(w)->actionTabs->currentIndex(), 1);
        QLineEdit *name = widgets(w)->newNameEdit;

        // Enter in the name edit presses no button; Escape does not close the window.
        typeText(name, QStringLiteral("  王 五'1-x  "));
        name->setFocus();
        QTest::keyClick(name, Qt::Key_Return);
        QTest::keyClick(name, Qt::Key_Escape);
        QCOMPARE(h.env.dialogs().boxes().size(), 1); // the unlock message only
        QCOMPARE(operatorRowsRead(h).size(), 2);
        QVERIFY(w->isVisible());

        // A new operator gets the default password; the name is trimmed and stays in the edit.
        QTest::mouseClick(widgets(w)->addButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("成功添加新用户！缺省口令是：888,请此用户下次登录时及时修改口令！"));
        QCOMPARE(h.env.dialogs().lastBox().request.icon, BoxIcon::None);
        QCOMPARE(operatorRowsRead(h).last(), QStringLiteral("王 五'1-x/#888"));
        QCOMPARE(name->text(), QStringLiteral("  王 五'1-x  "));
        QCOMPARE(items(widgets(w)->operatorList),
                 h.queryColumn(QStringLiteral("select username from userdb") + h.listOrder(QStringLiteral("userdb"))));
        // ... and can log in with it.
        QVERIFY(
            data::OperatorStore(*h.data->connection).checkPassword(QStringLiteral("王 五'1-x"), QStringLiteral("888")));

        // A name that exists is refused and nothing is written; another letter case is
        // another operator, as the login tells them apart.
        const QStringList before = operatorRowsRead(h);
        name->setText(QStringLiteral(" zhang"));
        QTest::mouseClick(widgets(w)->addButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("用户名已存在！"));
        QCOMPARE(h.env.dialogs().lastBox().request.icon, BoxIcon::None);
        QCOMPARE(operatorRowsRead(h), before);
        name->setText(QStringLiteral("Zhang"));
        QTest::mouseClick(widgets(w)->addButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("成功添加新用户！缺省口令是：888,请此用户下次登录时及时修改口令！"));
        QCOMPARE(operatorRowsRead(h).last(), QStringLiteral("Zhang/#888"));

        // Empty: refused, the list is refilled all the same.
        h.data->connection->execute(QStringLiteral("insert into userdb (username,passwd) values ('外来','1')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        name->setText(QStringLiteral("   "));
        QTest::mouseClick(widgets(w)->addButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("请选择用户名！"));
        QVERIFY(items(widgets(w)->operatorList).contains(QStringLiteral("外来")));

        // The super administrator, with or without blanks and even when its row is missing:
        // refused, and the list is not refilled.
        const int count = h.env.dialogs().boxes().size();
        for (const QString &text : {QStringLiteral("超级管理员"), QStringLiteral("  超级管理员 ")}) {
            h.data->connection->execute(QStringLiteral("delete from userdb where username='超级管理员'"));
            name->setText(text);
            QTest::mouseClick(widgets(w)->addButton, Qt::LeftButton);
            QCOMPARE(lastText(h), QStringLiteral("超级管理员只能有一个，不能增加"));
            QVERIFY(items(widgets(w)->operatorList).contains(superAdministratorName()));
        }
        QCOMPARE(h.env.dialogs().boxes().size(), count + 2);
        QCOMPARE(h.queryColumn(QStringLiteral("select count(*) from userdb where username like '%超级管理员%'")),
                 QStringList{"0"});
    }

    void deliveredRegisterKeepsOperatorNamesUnique()
    {
        MainWindowHarness h;
        // No path, not even a statement issued directly, can add a second row of a name.
        QVERIFY_THROWS_EXCEPTION(Error, data::OperatorStore(*h.data->connection).addOperator(superAdministratorName()));
        QVERIFY_THROWS_EXCEPTION(Error, h.data->connection->execute(QStringLiteral(
                                            "insert into userdb (username,passwd) values ('超级管理员','x')")));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        QCOMPARE(operatorRowsRead(h), QStringList{QStringLiteral("超级管理员/#888")});
        // Names differing in letter case are different operators.
        h.data->connection->execute(
            QStringLiteral("insert into userdb (username,passwd) values ('ab','1'), ('AB','2')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        QCOMPARE(h.queryColumn(QStringLiteral("select count(*) from userdb")), QStringList{"3"});
    }

    void anOlderRegisterWithDuplicatesOpensAndWorks()
    {
        if (test::testsUseServer())
            QSKIP("an older register is a data.db file; server registers are made by lianbu-initdb");
        MainWindowHarness h(false);
        // Built as an older program left it: no unique index, a name held twice.
        h.form.reset();
        h.data.reset();
        {
            db::Connection older(h.env.filePath(QStringLiteral("data.db")));
            older.open();
            older.execute(QStringLiteral("drop index userdb_username"));
            older.execute(QStringLiteral(
                "insert into userdb (username,passwd) values ('王五','555'), ('张三','3'), ('王五','555')"));
        }
        h.data = std::make_unique<Database>();
        h.form = std::make_unique<MainWindow>(*h.data);
        h.show();
        QCOMPARE(h.queryColumn(QStringLiteral("select count(*) from sqlite_master where name='userdb_username'")),
                 QStringList{"0"}); // opening adds no index
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        QCOMPARE(items(widgets(w)->operatorList), QStringList({QStringLiteral("超级管理员"), QStringLiteral("王五"),
                                                               QStringLiteral("张三"), QStringLiteral("王五")}));
        unlock(w, adminPassword(h));
        QVERIFY(w->unlocked());

        // Adding the duplicated name again is refused.
        showTab(w, 1);
        widgets(w)->newNameEdit->setText(QStringLiteral("王五"));
        QTest::mouseClick(widgets(w)->addButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("用户名已存在！"));
        QCOMPARE(h.queryColumn(QStringLiteral("select count(*) from userdb where username='王五'")), QStringList{"2"});

        // Deleting it removes every row of the name.
        showTab(w, 2);
        clickEntry(w, 3);
        QCOMPARE(widgets(w)->deleteNameEdit->text(), QStringLiteral("王五"));
        h.env.dialogs().queueBoxAnswer(BoxButton::Yes);
        QTest::mouseClick(widgets(w)->deleteButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("成功删除！"));
        QCOMPARE(operatorRowsRead(h), QStringList({QStringLiteral("超级管理员/#Adm1n"), QStringLiteral("张三/3")}));
        QCOMPARE(items(widgets(w)->operatorList), QStringList({QStringLiteral("超级管理员"), QStringLiteral("张三")}));
    }

    void deletingOperators()
    {
        MainWindowHarness h;
        h.data->connection->execute(
            QStringLiteral("insert into userdb (username,passwd) values ('zhang','1'), ('Zhang','2'), ('李四','4')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        unlock(w, adminPassword(h));
        showTab(w, 2);
        QCOMPARE(widgets(w)->actionTabs->currentIndex(), 2);
        ScriptedDialogs &boxes = h.env.dialogs();

        QTest::mouseClick(widgets(w)->deleteButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("请选择用户"));
        QCOMPARE(boxes.lastBox().request.icon, BoxIcon::None);

        QVERIFY(clickName(w, superAdministratorName()));
        QTest::mouseClick(widgets(w)->deleteButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("超级管理员不能删除！"));
        QCOMPARE(operatorRowsRead(h).size(), 4);

        // "&No": nothing deleted, the list is refilled.
        QVERIFY(clickName(w, QStringLiteral("Zhang")));
        h.data->connection->execute(QStringLiteral("insert into userdb (username,passwd) values ('外来','1')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        boxes.queueBoxAnswer(BoxButton::No);
        QTest::mouseClick(widgets(w)->deleteButton, Qt::LeftButton);
        const BoxRequest confirm = boxes.lastBox().request;
        QCOMPARE(confirm.text, QStringLiteral("你真的要删除用户：Zhang吗?"));
        QCOMPARE(confirm.caption, QStringLiteral("Confirm"));
        QCOMPARE(confirm.icon, BoxIcon::Question);
        QCOMPARE(confirm.buttons, QList<BoxButton>({BoxButton::Yes, BoxButton::No}));
        QCOMPARE(operatorRowsRead(h).size(), 5);
        QVERIFY(items(widgets(w)->operatorList).contains(QStringLiteral("外来")));
        QCOMPARE(widgets(w)->deleteNameEdit->text(), QStringLiteral("Zhang"));

        // "&Yes": exactly that name goes (not the one in another letter case).
        QVERIFY(clickName(w, QStringLiteral("Zhang")));
        QCOMPARE(widgets(w)->resetNameEdit->text(), QStringLiteral("Zhang"));
        boxes.queueBoxAnswer(BoxButton::Yes);
        QTest::mouseClick(widgets(w)->deleteButton, Qt::LeftButton);
        QCOMPARE(lastText(h), QStringLiteral("成功删除！"));
        QCOMPARE(h.queryColumn(
                     QStringLiteral("select username from userdb order by %1").arg(h.rowKey(QStringLiteral("userdb")))),
                 QStringList({QStringLiteral("超级管理员"), QStringLiteral("zhang"), QStringLiteral("李四"),
                              QStringLiteral("外来")}));
        QCOMPARE(items(widgets(w)->operatorList),
                 h.queryColumn(QStringLiteral("select username from userdb") + h.listOrder(QStringLiteral("userdb"))));
        QCOMPARE(widgets(w)->deleteNameEdit->text(), QString());
        // The reset tab no longer offers the operator who is gone.
        QCOMPARE(widgets(w)->resetNameEdit->text(), QString());
        QCOMPARE(boxes.pendingAnswers(), 0);
    }

    void aRefusedStatementReachesTheErrorDisplayAndTheWindowStays()
    {
        MainWindowHarness h;
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        unlock(w, adminPassword(h));
        showTab(w, 1);
        test::createRefusingTrigger(*h.data->connection, QStringLiteral("userdb"), QStringLiteral("insert"),
                                    QStringLiteral("refused by the file"));
        widgets(w)->newNameEdit->setText(QStringLiteral("王五"));
        QTest::mouseClick(widgets(w)->addButton, Qt::LeftButton);
        const BoxRequest box = h.env.dialogs().lastBox().request;
        QCOMPARE(box.icon, BoxIcon::Stop);
        QCOMPARE(box.caption, QStringLiteral("联簿宝"));
        QVERIFY2(box.text.contains(QStringLiteral("refused by the file")), qPrintable(box.text));
        QCOMPARE(h.env.dialogs().boxes().size(), 2); // unlocked, then the error: no success reported
        QCOMPARE(operatorRowsRead(h), QStringList{QStringLiteral("超级管理员/#Adm1n")});
        QVERIFY(w->isVisible());
        QVERIFY(w->unlocked());
        QCOMPARE(widgets(w)->newNameEdit->text(), QStringLiteral("王五"));
    }

    void theDefaultPasswordNeverUnlocks()
    {
        // A clerk tries the password printed on the login dialog.
        MainWindowHarness h;
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        unlock(w, QStringLiteral("888"));
        QVERIFY(!w->unlocked());
        QVERIFY(!widgets(w)->operatorList->isEnabled());
        QVERIFY(!w->failuresButton()->isEnabled());
        QVERIFY2(lastText(h).contains(QStringLiteral("初始密码")), qPrintable(lastText(h)));
        QCOMPARE(h.env.dialogs().lastBox().request.icon, BoxIcon::None);
        QCOMPARE(widgets(w)->adminPasswordEdit->text(), QString());
        // Still so for a register of the previous version, where it is stored in plain text.
        h.data->connection->execute(QStringLiteral("update userdb set passwd='888' where username='超级管理员'"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        unlock(w, QStringLiteral("888"));
        QVERIFY(!w->unlocked());
        QVERIFY2(lastText(h).contains(QStringLiteral("初始密码")), qPrintable(lastText(h)));
        // Once the super administrator has his own password, only that one unlocks.
        const QString own = adminPassword(h);
        unlock(w, QStringLiteral("888"));
        QCOMPARE(lastText(h), QStringLiteral("密码不对！"));
        QVERIFY(!w->unlocked());
        unlock(w, own);
        QCOMPARE(lastText(h), QStringLiteral("超级管理员登录成功！"));
        QVERIFY(w->unlocked());
    }

    void aBurstOfWrongPasswordsIsSlowedAndListed()
    {
        // On a server the waits and the listed times follow the server's clock, which a test cannot set.
        if (test::testsUseServer())
            QSKIP("waits are timed by the server's clock");
        MainWindowHarness h;
        const QDateTime t0(QDate(2026, 6, 1), QTime(9, 0, 0));
        setFixedNow(t0);
        const QString own = adminPassword(h);
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        QPushButton *unlockButton = widgets(w)->unlockButton;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(unlockButton->isEnabled());
            unlock(w, QStringLiteral("x%1").arg(i));
            QCOMPARE(lastText(h), QStringLiteral("密码不对！"));
        }
        QVERIFY(!unlockButton->isEnabled());
        QCOMPARE(unlockButton->text(), QStringLiteral("等待1秒"));
        const int boxes = h.env.dialogs().boxes().size();
        widgets(w)->adminPasswordEdit->setText(own);
        w->unlock(); // not checked while waiting
        QCOMPARE(h.env.dialogs().boxes().size(), boxes);
        QVERIFY(!w->unlocked());

        // A window opened meanwhile waits as well: the count belongs to the name.
        w->close();
        deleteClosedWindows();
        w = openWindow(h);
        QVERIFY(w);
        unlockButton = widgets(w)->unlockButton;
        QVERIFY(!unlockButton->isEnabled());
        setFixedNow(t0.addMSecs(1000));
        QTRY_VERIFY_WITH_TIMEOUT(unlockButton->isEnabled(), 5000);
        QCOMPARE(unlockButton->text(), QStringLiteral("登录"));
        unlock(w, own);
        QVERIFY(w->unlocked());

        // The administrator sees the failures, newest first.
        QVERIFY(w->failuresButton()->isEnabled());
        QTest::mouseClick(w->failuresButton(), Qt::LeftButton);
        auto *log = w->findChild<operators::FailureLogWindow *>();
        QVERIFY(log);
        QCOMPARE(log->table()->rowCount(), 3);
        const QStringList first{log->table()->item(0, 0)->text(), log->table()->item(0, 1)->text(),
                                log->table()->item(0, 2)->text()};
        QCOMPARE(first, (QStringList{t0.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), superAdministratorName(),
                                     QStringLiteral("用户管理")}));
        QCOMPARE(log->table()->item(2, 1)->text(), superAdministratorName());
        log->close();
    }

    void screenshots()
    {
        // Renders both windows, each tab, for a person to look at (LIANBU_SCREENSHOTS=folder).
        const QString out = qEnvironmentVariable("LIANBU_SCREENSHOTS");
        if (out.isEmpty())
            QSKIP("LIANBU_SCREENSHOTS not set");
        MainWindowHarness h;
        h.data->connection->execute(
            QStringLiteral("insert into userdb (username,passwd) values ('张三','1'), ('李四','2'), ('Wang Wu','3')"));
        lianbu::data::hashPlainPasswords(*h.data->connection);
        OperatorAdminDialog *w = openWindow(h);
        QVERIFY(w);
        QVERIFY(w->grab().save(out + QStringLiteral("/usergl-locked.png")));
        unlock(w, adminPassword(h));
        clickName(w, QStringLiteral("张三"));
        for (int i = 0; i < 3; ++i) {
            showTab(w, i);
            if (i == 1)
                widgets(w)->newNameEdit->setText(QStringLiteral("王五"));
            QVERIFY(w->grab().save(out + QStringLiteral("/usergl-tab%1.png").arg(i + 1)));
        }
        h.form->changePasswordAction->trigger();
        ChangePasswordDialog *change = openWindowOf<ChangePasswordDialog>();
        QVERIFY(change);
        typeText(widgets(change)->oldPasswordEdit, QStringLiteral("abc"));
        QVERIFY(change->grab().save(out + QStringLiteral("/changepass.png")));

        // In every skin of the store.
        skins::initSkinResources();
        showTab(w, 0);
        for (int i = 0; i < skins::storeSkins().size(); ++i) {
            qApp->setStyleSheet(QString::fromUtf8(skins::skinData(skins::storeSkins().at(i))));
            QVERIFY(w->grab().save(out + QStringLiteral("/usergl-skin%1.png").arg(i)));
            QVERIFY(change->grab().save(out + QStringLiteral("/changepass-skin%1.png").arg(i)));
        }
        qApp->setStyleSheet(QString());
    }
};

int main(int argc, char **argv)
{
    // The program's application object: a handler's error goes to the general error display.
    Application app(argc, argv);
    TestUsergl test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_operator_admin.moc"
