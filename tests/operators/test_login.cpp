#include "data/RegisterUpgrade.h"
#include "tests/support/TestServer.h"
#include "tests/support/FormWidgets.h"
#include "tests/operators/LoginHarness.h"
#include "data/SessionLog.h"

#include "app/StartUp.h"
#include "data/PasswordHash.h"
#include "data/Statements.h"
#include "operators/ChangePasswordDialog.h"
#include "db/Connection.h"
#include "db/Query.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/DesktopShortcut.h"
#include "platform/Error.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>

using namespace lianbu;
using namespace lianbu::test;

namespace {

// Runs `step` once the login dialog of the running program is visible (the program shows it
// modally, so the test can only act from inside its event loop).
void whenLoginDialogShown(std::function<void(LoginDialog *)> step)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
        if (openWindowOf<LoginDialog>() && openWindowOf<LoginDialog>()->isVisible()) {
            timer->stop();
            timer->deleteLater();
            step(openWindowOf<LoginDialog>());
        }
    });
    timer->start();
}

void typeInto(QWidget *w, const QString &text)
{
    QTest::keyClicks(w, text);
}

#ifndef _WIN32
QString readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}
#endif

} // namespace

class TestLogin : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }
    void dialogLooksAsDesigned()
    {
        LoginHarness h;
        LoginDialog *d = h.dialog;
        h.showDialog();
        QCOMPARE(d->windowTitle(), QStringLiteral("用户登录"));
        QCOMPARE(d->size(), QSize(371, 160));
        QCOMPARE(d->minimumSize(), d->maximumSize());
        QVERIFY(d->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(d->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(d->isModal());
        // Centred over the main window.
        const QPoint offset = d->frameGeometry().center() - h.form->frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 40, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
        QCOMPARE(widgets(d)->operatorLabel->text(), QStringLiteral("用户名称："));
        QCOMPARE(widgets(d)->passwordLabel->text(), QStringLiteral("输入密码："));
        QCOMPARE(widgets(d)->defaultPasswordHint->text(), QStringLiteral("用户初始登陆密码：888"));
        QCOMPARE(widgets(d)->defaultPasswordHint->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(widgets(d)->okButton->text(), QStringLiteral("确定"));
        QCOMPARE(widgets(d)->quitButton->text(), QStringLiteral("退出"));
        QVERIFY(widgets(d)->operatorCombo->isEditable());
        QCOMPARE(widgets(d)->operatorCombo->font().family(), QStringLiteral("宋体"));
        // The JPEG background was decoded.
        QVERIFY(!widgets(d)->loginPicture->pixmap().isNull());
        QCOMPARE(widgets(d)->loginPicture->pixmap().size(), QSize(371, 160));
        QCOMPARE(widgets(d)->passwordEdit->maxLength(), 10);
        QCOMPARE(widgets(d)->passwordEdit->echoMode(), QLineEdit::Password);
        widgets(d)->passwordEdit->setText(QStringLiteral("abc"));
        QCOMPARE(widgets(d)->passwordEdit->displayText(), QStringLiteral("***"));
        QCOMPARE(d->loggedIn(), false);
        widgets(d)->passwordEdit->clear();
    }

    void showingFillsTheNamesFocusesAndWritesTheShortcut()
    {
        LoginHarness h;
        h.allowDuplicateNames();
        h.addOperator(QStringLiteral("张三"), QStringLiteral("111"));
        h.addOperator(QStringLiteral("Adam"), QStringLiteral("222"));
        h.addOperator(QStringLiteral("张三"), QStringLiteral("333"));
        const QString shortcut = QDir(h.env.desktopPath()).filePath(desktopShortcutFileName());
        QFile old(shortcut);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("stale");
        old.close();
#ifdef _WIN32
        QVERIFY(readShellLink(shortcut).program.isEmpty()); // not a link the shell loads
#endif

        h.showDialog();
        QComboBox *names = widgets(h.dialog)->operatorCombo;
        QStringList items;
        for (int i = 0; i < names->count(); ++i)
            items << names->itemText(i);
        // Each name once, ascending in the database's order.
        QCOMPARE(items.size(), 3);
        QVERIFY(items.contains(QStringLiteral("超级管理员")));
        QCOMPARE(items.count(QStringLiteral("张三")), 1);
        QCOMPARE(items.first(), QStringLiteral("Adam"));
        QCOMPARE(names->currentIndex(), 0);
        QCOMPARE(names->currentText(), QStringLiteral("Adam"));
        QVERIFY(names->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == names);
        // Rewritten on every showing.
#ifdef _WIN32
        // A Shell Link the shell loads back: the program, started in its own folder, with its icon.
        const ShellLinkTarget link = readShellLink(shortcut);
        const QString program = QCoreApplication::applicationFilePath();
        QCOMPARE(link.program.toLower(), program.toLower());
        QCOMPARE(link.workingFolder.toLower(), QFileInfo(program).absolutePath().toLower());
        QCOMPARE(link.iconFile.toLower(), program.toLower());
        QCOMPARE(link.iconIndex, 0);
        // Written beside its name and renamed: nothing else is left on the desktop.
        QVERIFY(QDir(h.env.desktopPath()).entryList({QStringLiteral("联簿宝*")}, QDir::Files | QDir::Hidden)
                == QStringList{desktopShortcutFileName()});
#else
        const QString text = readFile(shortcut);
        QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]")));
        QVERIFY(text.contains(QStringLiteral("Name=联簿宝")));
        QVERIFY(text.contains(QCoreApplication::applicationFilePath()));
#endif
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        h.dialog->hide();
        QVERIFY(QFile::remove(shortcut));
        h.showDialog();
        QVERIFY(QFile::exists(shortcut));
        QVERIFY(!h.dialog->isHidden());
    }

    void anEmptyOperatorTableLeavesTheBoxEmpty()
    {
        LoginHarness h;
        h.data->connection->execute(QStringLiteral("delete from userdb"));
        h.showDialog();
        QCOMPARE(widgets(h.dialog)->operatorCombo->count(), 0);
        QCOMPARE(widgets(h.dialog)->operatorCombo->currentIndex(), -1);
        QCOMPARE(widgets(h.dialog)->operatorCombo->currentText(), QString());
    }

    void aDesktopThatCannotTakeTheShortcutIsSilent()
    {
        LoginHarness h;
        QVERIFY(QDir(h.env.desktopPath()).removeRecursively());
        QFile blocker(h.env.desktopPath()); // a file where the folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        h.showDialog();
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        QVERIFY(widgets(h.dialog)->operatorCombo->count() > 0);
        widgets(h.dialog)->passwordEdit->setText(sql::defaultPassword());
        h.dialog->tryLogin();
        QVERIFY(h.dialog->isHidden());
        QCOMPARE(h.sessions().size(), 1);
    }

    void requiredNameAndPassword()
    {
        LoginHarness h;
        h.showDialog();
        LoginDialog *d = h.dialog;
        widgets(d)->operatorCombo->setEditText(QStringLiteral("  "));
        widgets(d)->passwordEdit->setText(QStringLiteral("888"));
        QTest::mouseClick(widgets(d)->okButton, Qt::LeftButton);
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        BoxRequest box = h.env.dialogs().lastBox().request;
        QCOMPARE(box.text, QStringLiteral("必须选择用户！"));
        QCOMPARE(box.caption, QStringLiteral("Warning"));
        QCOMPARE(box.icon, BoxIcon::Warning);
        QVERIFY(widgets(d)->operatorCombo->isAncestorOf(QApplication::focusWidget())
                || QApplication::focusWidget() == widgets(d)->operatorCombo);

        widgets(d)->operatorCombo->setCurrentIndex(0);
        widgets(d)->passwordEdit->clear();
        QTest::mouseClick(widgets(d)->okButton, Qt::LeftButton);
        QCOMPARE(h.env.dialogs().boxes().size(), 2);
        box = h.env.dialogs().lastBox().request;
        QCOMPARE(box.text, QStringLiteral("必须输入密码！"));
        QCOMPARE(box.caption, QStringLiteral("Warning"));
        QCOMPARE(QApplication::focusWidget(), widgets(d)->passwordEdit);
        QVERIFY(d->isVisible());
        QVERIFY(h.sessions().isEmpty());
    }

    void aBurstOfWrongPasswordsIsSlowedWhileTheDialogStaysResponsive()
    {
        // On a server the waits follow the server's clock, which a test cannot set.
        if (test::testsUseServer())
            QSKIP("waits are timed by the server's clock");
        LoginHarness h;
        const QDateTime t0(QDate(2026, 6, 1), QTime(9, 0, 0));
        setFixedNow(t0);
        h.showDialog();
        LoginDialog *d = h.dialog;
        widgets(d)->operatorCombo->setCurrentText(QStringLiteral("超级管理员"));
        QPushButton *confirm = widgets(d)->okButton;
        auto wrongAttempt = [&] {
            widgets(d)->passwordEdit->setFocus();
            typeInto(widgets(d)->passwordEdit, QStringLiteral("999"));
            QTest::mouseClick(confirm, Qt::LeftButton);
        };
        for (int attempt = 0; attempt < 3; ++attempt) {
            QVERIFY(confirm->isEnabled());
            wrongAttempt();
            QCOMPARE(h.env.dialogs().boxes().size(), attempt + 1);
            const BoxRequest box = h.env.dialogs().lastBox().request;
            QCOMPARE(box.text, QStringLiteral("密码不正确！请重新输入！"));
            QCOMPARE(box.caption, QStringLiteral("联簿宝"));
            QCOMPARE(box.icon, BoxIcon::None);
            QCOMPARE(widgets(d)->passwordEdit->text(), QString());
            QCOMPARE(QApplication::focusWidget(), widgets(d)->passwordEdit);
            QVERIFY(d->isVisible());
            QVERIFY(!d->loggedIn());
        }
        // The fourth attempt must wait a second: the button says so and takes no click.
        QVERIFY(!confirm->isEnabled());
        QCOMPARE(confirm->text(), QStringLiteral("等待1秒"));
        typeInto(widgets(d)->passwordEdit, QStringLiteral("888"));
        QTest::mouseClick(confirm, Qt::LeftButton);
        d->tryLogin(); // even a direct call checks nothing while waiting
        QCOMPARE(h.env.dialogs().boxes().size(), 3);
        QVERIFY(h.sessions().isEmpty());

        // The dialog keeps handling events: typing works and queued work runs.
        bool queued = false;
        QTimer::singleShot(0, d, [&queued] { queued = true; });
        QTRY_VERIFY(queued);
        typeInto(widgets(d)->passwordEdit, QStringLiteral("1"));
        QCOMPARE(widgets(d)->passwordEdit->text(), QStringLiteral("8881"));
        widgets(d)->passwordEdit->clear();
        QVERIFY(!confirm->isEnabled());

        // When the clock has moved on a second, the button is back; the next failure doubles it.
        setFixedNow(t0.addSecs(1));
        QTRY_VERIFY_WITH_TIMEOUT(confirm->isEnabled(), 5000);
        QCOMPARE(confirm->text(), QStringLiteral("确定"));
        wrongAttempt();
        QCOMPARE(h.env.dialogs().boxes().size(), 4);
        QCOMPARE(confirm->text(), QStringLiteral("等待2秒"));
        setFixedNow(t0.addSecs(2));
        QTRY_COMPARE_WITH_TIMEOUT(confirm->text(), QStringLiteral("等待1秒"), 5000);
        // Another operator need not wait.
        h.addOperator(QStringLiteral("职员甲"), QStringLiteral("jia1"));
        widgets(d)->operatorCombo->setCurrentText(QStringLiteral("职员甲"));
        QTRY_VERIFY_WITH_TIMEOUT(confirm->isEnabled(), 5000);
        widgets(d)->operatorCombo->setCurrentText(QStringLiteral("超级管理员"));
        QVERIFY(!confirm->isEnabled());

        setFixedNow(t0.addSecs(3));
        QTRY_VERIFY_WITH_TIMEOUT(confirm->isEnabled(), 5000);
        QVERIFY(h.sessions().isEmpty());
        QCOMPARE(h.form->sessionId().value_or(0), 0);
        h.env.dialogs().queueBoxAnswer(BoxButton::Ok); // the request to change the default password
        typeInto(widgets(d)->passwordEdit, QStringLiteral("888"));
        QTest::mouseClick(confirm, Qt::LeftButton);
        QVERIFY(d->isHidden());
        QCOMPARE(h.sessions().size(), 1);
        // Every check is in the log: four failures, then the success.
        QCOMPARE(h.queryColumn(QStringLiteral("select outcome from login_attempts order by id")),
                 QStringList({"failure", "failure", "failure", "failure", "success"}));
    }

    void aPlainValuePlantedInPasswdIsRefused()
    {
        LoginHarness h;
        // Someone who can write the register puts a password of his own choosing in plain text.
        QSqlQuery(h.data->connection->database())
            .exec(QStringLiteral("update userdb set passwd='Old9' where username='超级管理员'"));
        h.showDialog();
        LoginDialog *d = h.dialog;
        widgets(d)->operatorCombo->setCurrentText(superAdministratorName());
        typeInto(widgets(d)->passwordEdit, QStringLiteral("Old9"));
        QTest::mouseClick(widgets(d)->okButton, Qt::LeftButton);
        QCOMPARE(h.env.dialogs().lastBox().request.text, QStringLiteral("密码不正确！请重新输入！"));
        QVERIFY(!d->loggedIn());
        QCOMPARE(h.sessions().size(), 0);
        // It is left as it was: not adopted as the password, not hashed.
        QCOMPARE(h.queryColumn(QStringLiteral("select passwd from userdb where username='超级管理员'")),
                 QStringList{"Old9"});
    }

    void theDefaultPasswordAsksForAnOwnOne()
    {
        LoginHarness h;
        h.addOperator(QStringLiteral("职员甲"), QStringLiteral("888"));
        h.showDialog();
        LoginDialog *d = h.dialog;
        widgets(d)->operatorCombo->setCurrentText(QStringLiteral("职员甲"));
        typeInto(widgets(d)->passwordEdit, QStringLiteral("888"));
        // The clerk may postpone.
        h.env.dialogs().queueBoxAnswer(BoxButton::No);
        QTest::mouseClick(widgets(d)->okButton, Qt::LeftButton);
        QVERIFY(d->isHidden());
        QTRY_COMPARE(h.env.dialogs().boxes().size(), 1);
        const BoxRequest box = h.env.dialogs().lastBox().request;
        QCOMPARE(box.icon, BoxIcon::Question);
        QVERIFY2(box.text.contains(QStringLiteral("初始密码")), qPrintable(box.text));
        QCoreApplication::processEvents();
        QCOMPARE(openWindowOf<ChangePasswordDialog>(), nullptr);
        QVERIFY(h.form->isVisible());
        // The login hint keeps its text.
        QCOMPARE(widgets(d)->defaultPasswordHint->text(), QStringLiteral("用户初始登陆密码：888"));
    }

    void theNameIsMatchedAsTypedAndDuplicatesFail()
    {
        LoginHarness h;
        h.allowDuplicateNames();
        h.addOperator(QStringLiteral("O'Neil"), QStringLiteral("pw1"));
        h.addOperator(QStringLiteral("双人"), QStringLiteral("pw2"));
        h.addOperator(QStringLiteral("双人"), QStringLiteral("pw2"));
        h.showDialog();
        LoginDialog *d = h.dialog;
        // The same name twice with the same password: more than one row, so refused.
        widgets(d)->operatorCombo->setCurrentText(QStringLiteral("双人"));
        widgets(d)->passwordEdit->setText(QStringLiteral("pw2"));
        d->tryLogin();
        QCOMPARE(h.env.dialogs().lastBox().request.text, QStringLiteral("密码不正确！请重新输入！"));
        QVERIFY(d->isVisible());
        // The name is not trimmed: with a trailing blank it is another name.
        widgets(d)->operatorCombo->setEditText(QStringLiteral("O'Neil "));
        widgets(d)->passwordEdit->setText(QStringLiteral("pw1"));
        d->tryLogin();
        QCOMPARE(h.env.dialogs().boxes().size(), 2);
        // Typed, not chosen from the list, with a quote in it; the password's blanks are trimmed.
        widgets(d)->operatorCombo->lineEdit()->clear();
        widgets(d)->operatorCombo->lineEdit()->setFocus();
        typeInto(widgets(d)->operatorCombo->lineEdit(), QStringLiteral("O'Neil"));
        widgets(d)->passwordEdit->setText(QStringLiteral("pw1"));
        d->tryLogin();
        QCOMPARE(h.env.dialogs().boxes().size(), 2);
        QVERIFY(d->isHidden());
        QCOMPARE(h.sessions().value(0).value(1), QStringLiteral("O'Neil"));
        QCOMPARE(h.form->statusPanel(1)->text(), QStringLiteral("O'Neil"));
    }

    void enterMovesAlongAndTheSecondEnterConfirms()
    {
        LoginHarness h;
        setFixedNow(QDateTime(QDate(2010, 8, 15), QTime(9, 5, 7)));
        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("华联"))});
        h.showDialog();
        LoginDialog *d = h.dialog;
        // A keyboard delivers the key to the focused combo box, not to its inner edit.
        QTest::keyClick(widgets(d)->operatorCombo, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), widgets(d)->passwordEdit);
        QVERIFY(d->isVisible()); // Enter did not reach a default button
        typeInto(widgets(d)->passwordEdit, QStringLiteral("888"));
        QTest::keyClick(widgets(d)->passwordEdit, Qt::Key_Enter);
        QCOMPARE(QApplication::focusWidget(), widgets(d)->okButton);
        QVERIFY(d->isVisible()); // Enter in the password edit only moves the focus
        QVERIFY(h.sessions().isEmpty());
        QTest::keyClick(widgets(d)->okButton, Qt::Key_Return);
        QVERIFY(d->isHidden());
        QVERIFY(d->loggedIn());

        // The session: one row with the name and the login time, no logout yet; the main
        // window holds its id, names the operator and lists the customers.
        const QList<QStringList> rows = h.sessions();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].mid(1), QStringList({QStringLiteral("超级管理员"), QStringLiteral("2010-08-15 9:05:07"),
                                              QStringLiteral("<null>")}));
        QCOMPARE(h.form->sessionId().value_or(0), rows[0][0].toInt());
        QCOMPARE(h.form->statusPanel(1)->text(), QStringLiteral("超级管理员"));
        QVERIFY(h.data->customerList->active());
        QCOMPARE(h.data->customerList->statement(), sql::allRecords());
        QCOMPARE(h.data->customerList->rowCount(), 1);
        QVERIFY(!h.data->statementQuery->active());

        // Closing the program writes the logout time into that row only.
        setFixedNow(QDateTime(QDate(2010, 8, 15), QTime(17, 30, 0)));
        h.form->close();
        const QList<QStringList> after = h.sessions();
        QCOMPARE(after[0].mid(1), QStringList({QStringLiteral("超级管理员"), QStringLiteral("2010-08-15 9:05:07"),
                                               QStringLiteral("2010-08-15 17:30:00")}));
    }

    void theSessionIdIsTheRowThisLoginWrote()
    {
        LoginHarness h;
        // Earlier sessions, one with a higher id than the next insert would get from max+1
        // after the highest was deleted: AUTOINCREMENT never reuses it.
        for (int i = 0; i < 3; ++i)
            h.data->connection->execute(QStringLiteral("insert into rz (username,btime) values ('x','2009-01-01')"));
        h.data->connection->execute(QStringLiteral("delete from rz where id=3"));
        h.showDialog();
        widgets(h.dialog)->passwordEdit->setText(QStringLiteral("888"));
        h.dialog->tryLogin();
        QCOMPARE(h.form->sessionId().value_or(0), 4);
        QCOMPARE(h.sessions().last().value(0), QStringLiteral("4"));
    }

    void exitAndTheCloseBoxEndTheProgramWithoutASession()
    {
        {
            LoginHarness h;
            h.showDialog();
            widgets(h.dialog)->passwordEdit->setText(QStringLiteral("888"));
            QTest::mouseClick(widgets(h.dialog)->quitButton, Qt::LeftButton);
            QVERIFY(h.dialog->isHidden());
            QVERIFY(!h.form->isVisible());
            QVERIFY(h.sessions().isEmpty());
            QCOMPARE(h.form->sessionId().value_or(0), 0);
            QVERIFY(!h.dialog->loggedIn());
            QVERIFY(!h.data->statementQuery->active());
        }
        {
            LoginHarness h;
            h.showDialog();
            // Escape is not a way out: only "退出" and the close box are.
            QTest::keyClick(h.dialog, Qt::Key_Escape);
            QVERIFY(h.dialog->isVisible());
            h.dialog->close(); // the close box
            QVERIFY(h.dialog->isHidden());
            QVERIFY(!h.form->isVisible());
            QVERIFY(h.sessions().isEmpty());
            QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        }
    }

    void aSessionRowThatCannotBeWrittenKeepsTheDialogOpen()
    {
        LoginHarness h;
        test::createRefusingTrigger(*h.data->connection, QStringLiteral("rz"), QStringLiteral("insert"),
                                    QStringLiteral("session log is read-only"));
        h.showDialog();
        widgets(h.dialog)->passwordEdit->setText(QStringLiteral("888"));
        QTest::mouseClick(widgets(h.dialog)->okButton, Qt::LeftButton);
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        QCOMPARE(h.env.dialogs().lastBox().request.icon, BoxIcon::Stop);
        QVERIFY(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("session log is read-only")));
        QVERIFY(h.dialog->isVisible());
        QCOMPARE(h.form->sessionId().value_or(0), 0);
        QCOMPARE(h.form->statusPanel(1)->text(), QStringLiteral("操作员："));
        test::dropRefusingTrigger(*h.data->connection, QStringLiteral("rz"), QStringLiteral("insert"));
        QTest::mouseClick(widgets(h.dialog)->okButton, Qt::LeftButton);
        QVERIFY(h.dialog->isHidden());
        QCOMPARE(h.sessions().size(), 1);
        QCOMPARE(h.form->sessionId().value_or(0), h.sessions()[0][0].toInt());
    }

    void twoConnectionsLoggingInAtOnceEachGetTheirOwnRow()
    {
        TestDatabase db;
        db::Connection first(db.path()), second(db.path());
        first.open();
        second.open();
        const QDateTime moment(QDate(2010, 8, 15), QTime(9, 0, 0));
        const int id1 = data::startSession(first, QStringLiteral("甲"), moment);
        const int id2 = data::startSession(second, QStringLiteral("乙"), moment);
        QVERIFY(id1 != id2);
        QSqlQuery check(first.database());
        QVERIFY(check.exec(QStringLiteral("select username from rz where id=%1").arg(id1)) && check.next());
        QCOMPARE(check.value(0).toString(), QStringLiteral("甲"));
        QVERIFY(check.exec(QStringLiteral("select username from rz where id=%1").arg(id2)) && check.next());
        QCOMPARE(check.value(0).toString(), QStringLiteral("乙"));
        // The logout time goes into that session's row only.
        data::endSession(first, id1, QDateTime(QDate(2010, 8, 15), QTime(17, 30, 0)));
        QVERIFY(check.exec(QStringLiteral("select coalesce(jtime,'-') from rz order by id")));
        QStringList ends;
        while (check.next())
            ends << check.value(0).toString();
        QCOMPARE(ends, (QStringList{"2010-08-15 17:30:00", "-"}));
    }

    void concurrentInstancesNeverShareASession()
    {
        TestDatabase db;
        const QString path = db.path();
        std::atomic<int> wrong{0};
        std::atomic<int> done{0};
        auto worker = [&](const QString &name) {
            db::Connection connection(path);
            connection.open();
            for (int i = 0; i < 40; ++i) {
                const int id = data::startSession(connection, name, QDateTime(QDate(2010, 8, 15), QTime(9, 0, 0)));
                QSqlQuery check(connection.database());
                if (!check.exec(QStringLiteral("select username from rz where id=%1").arg(id)) || !check.next()
                    || check.value(0).toString() != name)
                    ++wrong;
                ++done;
            }
        };
        QThread *a = QThread::create(worker, QStringLiteral("甲"));
        QThread *b = QThread::create(worker, QStringLiteral("乙"));
        a->start();
        b->start();
        QVERIFY(a->wait(60000) && b->wait(60000));
        delete a;
        delete b;
        QCOMPARE(done.load(), 80);
        QCOMPARE(wrong.load(), 0);
    }

    // The program as started: main window, login dialog, data module, message loop.
    void theRunningProgramLogsInAndOutThroughTheDialog()
    {
        Environment env;
        createDataDb(env.path());
        setFixedNow(QDateTime(QDate(2010, 8, 15), QTime(8, 0, 0)));
        bool sawDialog = false;
        whenLoginDialogShown([&](LoginDialog *d) {
            sawDialog = true;
            QVERIFY(openWindowOf<MainWindow>() && openWindowOf<MainWindow>()->isVisible());
            widgets(d)->passwordEdit->setText(sql::defaultPassword());
            QTest::mouseClick(widgets(d)->okButton, Qt::LeftButton);
            // Back in the main window: later activations do not bring the dialog back.
            QTimer::singleShot(50, [] {
                QVERIFY(openWindowOf<MainWindow>());
                QCOMPARE(openWindowOf<MainWindow>()->statusPanel(1)->text(), QStringLiteral("超级管理员"));
                // A session is open: later activations pass the dialog by.
                QVERIFY(openWindowOf<MainWindow>()->sessionId().has_value());
                QVERIFY(!openWindowOf<LoginDialog>()->isVisible());
                setFixedNow(QDateTime(QDate(2010, 8, 15), QTime(18, 0, 0)));
                openWindowOf<MainWindow>()->close();
            });
        });
        const int code = runProgram(*qApp);
        QCOMPARE(code, 0);
        QVERIFY(sawDialog);
        db::Connection c(env.filePath(QStringLiteral("data.db")));
        c.open();
        QSqlQuery q(c.database());
        QVERIFY(q.exec(QStringLiteral("select username, btime, jtime from rz")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("超级管理员"));
        QCOMPARE(q.value(1).toString(), QStringLiteral("2010-08-15 8:00:00"));
        QCOMPARE(q.value(2).toString(), QStringLiteral("2010-08-15 18:00:00"));
        QVERIFY(!q.next());
    }

    void theRunningProgramEndsWhenTheDialogIsLeft()
    {
        Environment env;
        createDataDb(env.path());
        whenLoginDialogShown([](LoginDialog *d) { QTest::mouseClick(widgets(d)->quitButton, Qt::LeftButton); });
        QCOMPARE(runProgram(*qApp), 0);
        db::Connection c(env.filePath(QStringLiteral("data.db")));
        c.open();
        QSqlQuery q(c.database());
        QVERIFY(q.exec(QStringLiteral("select count(*) from rz")) && q.next());
        QCOMPARE(q.value(0).toInt(), 0);
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
    }
};

int main(int argc, char **argv)
{
    lianbu::Application app(argc, argv);
    TestLogin test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_login.moc"
