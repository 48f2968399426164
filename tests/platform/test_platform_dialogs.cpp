// Message boxes, the common dialogs' double, and the general error display.
#include "platform/AppInfo.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/QtDialogs.h"
#include "tests/support/TestSupport.h"

#include <QFileDialog>
#include <QFontDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <stdexcept>

using namespace lianbu;
using lianbu::test::Environment;
using lianbu::test::ScriptedDialogs;

Q_DECLARE_METATYPE(lianbu::BoxButton)

namespace {

const QEvent::Type ThrowEvent = static_cast<QEvent::Type>(QEvent::User + 17);

// An object whose handler changes some state and then throws what it was told to.
class Thrower : public QObject
{
public:
    enum class What { LianbuError, StdException, Integer, Nothing };
    What what = What::LianbuError;
    int handled = 0;

    bool event(QEvent *e) override
    {
        if (e->type() != ThrowEvent)
            return QObject::event(e);
        ++handled; // changed before the throw: must stay changed
        switch (what) {
        case What::LianbuError:
            throw Error(QStringLiteral("Unable to write to d:\\lianbu.ini"));
        case What::StdException:
            throw std::runtime_error("disk full");
        case What::Integer:
            throw 42;
        case What::Nothing:
            break;
        }
        return true;
    }
};

// Finds the modal message box the real service shows and hands it to act, from inside the
// box's own event loop. Retries until the box is up, so the test never waits on a person.
void whenBoxShown(std::function<void(QMessageBox *)> act)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(box);
    });
    timer->start();
}

// Like whenBoxShown, for any modal dialog of type T.
template <typename T>
void whenModalShown(std::function<void(T *)> act)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(dialog);
    });
    timer->start();
}

} // namespace

class TestPlatformDialogs : public QObject
{
    Q_OBJECT

private slots:
    void errorDisplayText_data();
    void errorDisplayText();

    void boxKindsAskWhatTheConventionsSay();
    void confirmationsConsentOnlyToTheirButton();
    void overwriteQuestionOnlyForAnExistingFile();
    void scriptedDoubleAnswersDefaultsWithoutBlocking();
    void scriptedDoubleRecordsCommonDialogs();

    void realBoxIsBuiltAsRequested();
    void realBoxWithoutParentBelongsToTheActiveWindow();
    void realBoxAnswersWithTheClickedButton();
    void realSaveDialogLeavesTheOverwriteQuestionToTheProgram();
    void realFontDialogChangesTheFontOnlyWhenAccepted();

    void errorsReachingTheEventLoopAreShown();
    void errorFromAClickedButtonsSlotIsShown();
    void reportExceptionShowsTheSameBox();

    void environmentInstallsAndRemovesTheDoubles();
};

void TestPlatformDialogs::errorDisplayText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "abc"
                            << "abc.";
    QTest::newRow("full stop") << "abc."
                               << "abc.";
    QTest::newRow("exclamation sorts before") << "abc!"
                                              << "abc!";
    QTest::newRow("closing parenthesis") << "(x)"
                                         << "(x)";
    QTest::newRow("hyphen sorts before") << "a-"
                                         << "a-";
    QTest::newRow("slash sorts after") << "a/"
                                       << "a/.";
    QTest::newRow("digit") << "error 5"
                           << "error 5.";
    QTest::newRow("trailing blank") << "abc "
                                    << "abc ";
    QTest::newRow("quote sorts before") << "Field 'x'"
                                        << "Field 'x'";
    QTest::newRow("dataset message") << "Field 'x' not found"
                                     << "Field 'x' not found.";
    QTest::newRow("chinese") << "增加数据成功！"
                             << "增加数据成功！.";
    QTest::newRow("empty stays empty") << ""
                                       << "";
    QTest::newRow("one full stop") << "."
                                   << ".";
}

void TestPlatformDialogs::errorDisplayText()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(lianbu::errorDisplayText(message), shown);
}

void TestPlatformDialogs::boxKindsAskWhatTheConventionsSay()
{
    Environment env;
    ScriptedDialogs &d = env.dialogs();

    showInformation(QStringLiteral("增加数据成功！"));
    showWarning(QStringLiteral("类别不能为空"));
    confirmListChange(QStringLiteral("你确实要修改选中资料吗？"));
    confirmOperatorDeletion(QStringLiteral("删除?"));
    askYesNo(QStringLiteral("提示"), QStringLiteral("已存在文件（a.xls），是否覆盖？"));
    showError(QStringLiteral("Unable to write to x"));

    QCOMPARE(d.boxes().size(), 6);
    struct Expect
    {
        BoxIcon icon;
        QString caption;
        QList<BoxButton> buttons;
        BoxButton def;
        QString text;
    };
    const QList<Expect> expected = {
        {BoxIcon::None, applicationTitle(), {BoxButton::Ok}, BoxButton::Ok, "增加数据成功！"},
        {BoxIcon::Warning, "Warning", {BoxButton::Ok}, BoxButton::Ok, "类别不能为空"},
        {BoxIcon::Warning, "警告！", {BoxButton::Ok, BoxButton::Cancel}, BoxButton::Cancel, "你确实要修改选中资料吗？"},
        {BoxIcon::Question, "Confirm", {BoxButton::Yes, BoxButton::No}, BoxButton::Yes, "删除?"},
        {BoxIcon::Question, "提示", {BoxButton::Yes, BoxButton::No}, BoxButton::No, "已存在文件（a.xls），是否覆盖？"},
        {BoxIcon::Stop, applicationTitle(), {BoxButton::Ok}, BoxButton::Ok, "Unable to write to x."},
    };
    for (int i = 0; i < expected.size(); ++i) {
        const BoxRequest &r = d.boxes().at(i).request;
        QCOMPARE(r.icon, expected[i].icon);
        QCOMPARE(r.caption, expected[i].caption);
        QCOMPARE(r.buttons, expected[i].buttons);
        QCOMPARE(r.defaultButton, expected[i].def);
        QCOMPARE(r.text, expected[i].text);
    }
    QCOMPARE(applicationTitle(), QStringLiteral("联簿宝"));
}

void TestPlatformDialogs::overwriteQuestionOnlyForAnExistingFile()
{
    Environment env;
    ScriptedDialogs &d = env.dialogs();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("客户.xls"));

    QVERIFY(mayOverwrite(path)); // nothing to lose: no question
    QCOMPARE(d.boxes().size(), 0);

    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(!mayOverwrite(path)); // nobody answers: No, the default
    d.queueBoxAnswer(BoxButton::No);
    QVERIFY(!mayOverwrite(path));
    d.queueBoxAnswer(BoxButton::Yes);
    QVERIFY(mayOverwrite(path));
    QCOMPARE(d.boxes().size(), 3);
    const BoxRequest &r = d.boxes().last().request;
    QCOMPARE(r.caption, QStringLiteral("提示"));
    QCOMPARE(r.text, QStringLiteral("已存在文件（%1），是否覆盖？").arg(path));
    QCOMPARE(r.defaultButton, BoxButton::No);
}

void TestPlatformDialogs::confirmationsConsentOnlyToTheirButton()
{
    Environment env;
    ScriptedDialogs &d = env.dialogs();

    QVERIFY(!confirmListChange("x")); // nobody answers: Cancel, the default
    d.queueBoxAnswer(BoxButton::Ok);
    QVERIFY(confirmListChange("x"));
    d.queueBoxAnswer(BoxButton::Cancel);
    QVERIFY(!confirmListChange("x"));
    d.queueBoxAnswer(BoxButton::None); // closed without a button
    QVERIFY(!confirmListChange("x"));

    d.queueBoxAnswer(BoxButton::Yes);
    QVERIFY(confirmOperatorDeletion("x"));
    d.queueBoxAnswer(BoxButton::No);
    QVERIFY(!confirmOperatorDeletion("x"));

    QVERIFY(!askYesNo("提示", "x")); // default No: never overwrites unasked
    d.queueBoxAnswer(BoxButton::Yes);
    QVERIFY(askYesNo("提示", "x"));
    QCOMPARE(d.pendingAnswers(), 0);
}

void TestPlatformDialogs::scriptedDoubleAnswersDefaultsWithoutBlocking()
{
    Environment env;
    ScriptedDialogs &d = env.dialogs();
    QString seenWhileOpen;
    d.whileBoxOpen = [&](const BoxRequest &r) { seenWhileOpen = r.text; };

    d.queueBoxAnswer(BoxButton::Ok);
    QVERIFY(confirmListChange("first"));
    QVERIFY(!confirmListChange("second"));
    QCOMPARE(seenWhileOpen, QStringLiteral("second"));
    QCOMPARE(d.boxes().at(0).answeredByDefault, false);
    QCOMPARE(d.boxes().at(1).answeredByDefault, true);
    QCOMPARE(d.boxes().at(1).answer, BoxButton::Cancel);

    // A queued answer that the box does not offer is flagged, so the test notices.
    d.queueBoxAnswer(BoxButton::Yes);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not a button"));
    showInformation("x");
    QVERIFY(d.lastBox().answerNotOffered);

    d.clear();
    QVERIFY2(d.boxes().isEmpty(), d.boxesText().constData());
    QCOMPARE(d.lastBox().answer, BoxButton::None);
}

void TestPlatformDialogs::scriptedDoubleRecordsCommonDialogs()
{
    Environment env;
    ScriptedDialogs &d = env.dialogs();

    SaveFileRequest save;
    save.caption = "保存";
    save.filter = "Excel 文件 (*.xls)";
    save.fileName = "a.xls";
    QCOMPARE(dialogs().saveFileName(nullptr, save), QString()); // empty queue: cancelled
    d.queueSaveFileName(env.filePath("b.xls"));
    QCOMPARE(dialogs().saveFileName(nullptr, save), env.filePath("b.xls"));
    QCOMPARE(d.saveFiles().size(), 2);
    QVERIFY(d.saveFiles().at(0).answeredByDefault);
    QVERIFY(!d.saveFiles().at(1).answeredByDefault);
    QCOMPARE(d.saveFiles().at(1).request.filter, save.filter);

    QVERIFY(!dialogs().printDialog(nullptr, nullptr));
    d.queuePrintAnswer(true);
    QVERIFY(dialogs().printDialog(nullptr, nullptr));
    d.queuePageSetupAnswer(true);
    QVERIFY(dialogs().pageSetupDialog(nullptr, nullptr));
    QVERIFY(!dialogs().pageSetupDialog(nullptr, nullptr));

    QFont font("Liberation Sans", 9);
    QVERIFY(!dialogs().fontDialog(nullptr, &font));
    QCOMPARE(font.pointSize(), 9);
    d.queueFontAnswer(QFont("Liberation Serif", 14));
    QVERIFY(dialogs().fontDialog(nullptr, &font));
    QCOMPARE(font.pointSize(), 14);
    d.queueFontAnswer(std::nullopt);
    QVERIFY(!dialogs().fontDialog(nullptr, &font));
    QCOMPARE(font.pointSize(), 14);

    QCOMPARE(d.count(ScriptedDialogs::DialogKind::Print), 2);
    QCOMPARE(d.count(ScriptedDialogs::DialogKind::PageSetup), 2);
    QCOMPARE(d.count(ScriptedDialogs::DialogKind::Font), 3);
    QCOMPARE(d.commonDialogs().last().fontBefore.pointSize(), 14);
}

void TestPlatformDialogs::realBoxIsBuiltAsRequested()
{
    struct Case
    {
        BoxRequest request;
        QMessageBox::Icon icon;
        QStringList texts;
        QString defaultText;
        QString escapeText;
    };
    const QList<Case> cases = {
        {{BoxIcon::None, "联簿宝", "t", {BoxButton::Ok}, BoxButton::Ok}, QMessageBox::NoIcon, {"OK"}, "OK", "OK"},
        {{BoxIcon::Warning, "警告！", "t", {BoxButton::Ok, BoxButton::Cancel}, BoxButton::Cancel},
         QMessageBox::Warning,
         {"OK", "Cancel"},
         "Cancel",
         "Cancel"},
        {{BoxIcon::Question, "Confirm", "t", {BoxButton::Yes, BoxButton::No}, BoxButton::Yes},
         QMessageBox::Question,
         {"&Yes", "&No"},
         "&Yes",
         "&No"},
        {{BoxIcon::Stop, "联簿宝", "t", {BoxButton::Ok}, BoxButton::Ok}, QMessageBox::Critical, {"OK"}, "OK", "OK"},
    };
    for (const Case &c : cases) {
        std::unique_ptr<QMessageBox> box = createMessageBox(nullptr, c.request);
        QCOMPARE(box->windowTitle(), c.request.caption);
        QCOMPARE(box->text(), c.request.text);
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QCOMPARE(box->icon(), c.icon);
        QStringList texts;
        for (BoxButton b : c.request.buttons) {
            QAbstractButton *button = box->button(toStandardButton(b));
            QVERIFY(button);
            texts << button->text();
        }
        QCOMPARE(texts, c.texts);
        QCOMPARE(box->buttons().size(), c.texts.size());
        QVERIFY(box->defaultButton());
        QCOMPARE(box->defaultButton()->text(), c.defaultText);
        QVERIFY(box->escapeButton());
        QCOMPARE(box->escapeButton()->text(), c.escapeText);
        QVERIFY(!box->isVisible());
    }
    // Markup in a message is shown as typed.
    BoxRequest markup;
    markup.text = "<b>x</b>";
    QCOMPARE(createMessageBox(nullptr, markup)->textFormat(), Qt::PlainText);
    // Windows-style line breaks (the upgrader's texts) become real line breaks.
    BoxRequest lines;
    lines.text = "a\r\nb\rc";
    QCOMPARE(createMessageBox(nullptr, lines)->text(), QStringLiteral("a\nb\nc"));
}

void TestPlatformDialogs::realBoxWithoutParentBelongsToTheActiveWindow()
{
    QWidget window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    std::unique_ptr<QMessageBox> box = createMessageBox(nullptr, BoxRequest{});
    QCOMPARE(box->parentWidget(), &window);
    QWidget other;
    std::unique_ptr<QMessageBox> owned = createMessageBox(&other, BoxRequest{});
    QCOMPARE(owned->parentWidget(), &other);
}

void TestPlatformDialogs::realBoxAnswersWithTheClickedButton()
{
    QtDialogService real;
    BoxRequest listChange{BoxIcon::Warning, "警告！", "t", {BoxButton::Ok, BoxButton::Cancel}, BoxButton::Cancel};
    whenBoxShown([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); });
    QCOMPARE(real.messageBox(nullptr, listChange), BoxButton::Cancel); // Enter takes the default

    whenBoxShown([](QMessageBox *box) { box->button(QMessageBox::Ok)->click(); });
    QCOMPARE(real.messageBox(nullptr, listChange), BoxButton::Ok);

    BoxRequest deletion{BoxIcon::Question, "Confirm", "t", {BoxButton::Yes, BoxButton::No}, BoxButton::Yes};
    whenBoxShown([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); });
    QCOMPARE(real.messageBox(nullptr, deletion), BoxButton::No); // Esc never consents
    whenBoxShown([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); });
    QCOMPARE(real.messageBox(nullptr, deletion), BoxButton::Yes);
}

void TestPlatformDialogs::realSaveDialogLeavesTheOverwriteQuestionToTheProgram()
{
    Environment env;
    QtDialogService real;
    SaveFileRequest request;
    request.caption = QStringLiteral("导出到 Excel");
    request.directory = env.path();
    request.fileName = QStringLiteral("客户.xls");
    request.filter = QStringLiteral("Excel 文件 (*.xls)");
    request.defaultSuffix = QStringLiteral("xls");
    QFile existing(env.filePath("客户.xls"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();

    bool checked = false;
    whenModalShown<QFileDialog>([&](QFileDialog *dialog) {
        checked = dialog->acceptMode() == QFileDialog::AcceptSave
                  && dialog->testOption(QFileDialog::DontConfirmOverwrite) && dialog->windowTitle() == request.caption
                  && dialog->defaultSuffix() == "xls" && dialog->nameFilters() == QStringList{request.filter};
        static_cast<QDialog *>(dialog)->accept(); // QFileDialog's own accept() is protected
    });
    const QString chosen = real.saveFileName(nullptr, request);
    QVERIFY(checked);
    QCOMPARE(QFileInfo(chosen).canonicalFilePath(), QFileInfo(existing).canonicalFilePath());

    whenModalShown<QFileDialog>([](QFileDialog *dialog) { dialog->reject(); });
    QCOMPARE(real.saveFileName(nullptr, request), QString());
}

void TestPlatformDialogs::realFontDialogChangesTheFontOnlyWhenAccepted()
{
    QtDialogService real;
    QFont font(QStringLiteral("Liberation Sans"), 9);
    whenModalShown<QFontDialog>([](QFontDialog *dialog) {
        QFont bigger = dialog->currentFont();
        bigger.setPointSize(20);
        dialog->setCurrentFont(bigger);
        dialog->reject();
    });
    QVERIFY(!real.fontDialog(nullptr, &font));
    QCOMPARE(font.pointSize(), 9);
    whenModalShown<QFontDialog>([](QFontDialog *dialog) {
        QFont bigger = dialog->currentFont();
        bigger.setPointSize(20);
        dialog->setCurrentFont(bigger);
        dialog->accept();
    });
    QVERIFY(real.fontDialog(nullptr, &font));
    QCOMPARE(font.pointSize(), 20);
    QVERIFY(!real.fontDialog(nullptr, nullptr));
}

void TestPlatformDialogs::errorsReachingTheEventLoopAreShown()
{
    Environment env;
    ScriptedDialogs &d = env.dialogs();
    Thrower thrower;
    QVERIFY(qobject_cast<Application *>(QCoreApplication::instance()));

    QEvent sent(ThrowEvent);
    QVERIFY(QCoreApplication::sendEvent(&thrower, &sent)); // returns: the program goes on
    QCOMPARE(thrower.handled, 1);
    QCOMPARE(d.boxes().size(), 1);
    QCOMPARE(d.lastBox().request.caption, QStringLiteral("联簿宝"));
    QCOMPARE(d.lastBox().request.icon, BoxIcon::Stop);
    QCOMPARE(d.lastBox().request.buttons, QList<BoxButton>{BoxButton::Ok});
    QCOMPARE(d.lastBox().request.text, QStringLiteral("Unable to write to d:\\lianbu.ini."));

    thrower.what = Thrower::What::StdException;
    QCoreApplication::postEvent(&thrower, new QEvent(ThrowEvent));
    QCoreApplication::processEvents();
    QCOMPARE(thrower.handled, 2);
    QCOMPARE(d.lastBox().request.text, QStringLiteral("disk full."));

    thrower.what = Thrower::What::Integer;
    QEvent third(ThrowEvent);
    QCoreApplication::sendEvent(&thrower, &third);
    QCOMPARE(d.lastBox().request.text, QStringLiteral("Unknown error."));

    // Next command: handled normally, no further box.
    thrower.what = Thrower::What::Nothing;
    QEvent fine(ThrowEvent);
    QVERIFY(QCoreApplication::sendEvent(&thrower, &fine));
    QCOMPARE(thrower.handled, 4);
    QCOMPARE(d.boxes().size(), 3);

    // A timer's handler that throws, inside the running event loop.
    bool ran = false;
    QTimer::singleShot(0, &thrower, [&ran] {
        ran = true;
        throw Error(QStringLiteral("定时错误"));
    });
    QTRY_VERIFY(ran);
    QCOMPARE(d.lastBox().request.text, QStringLiteral("定时错误."));
}

void TestPlatformDialogs::errorFromAClickedButtonsSlotIsShown()
{
    Environment env;
    QWidget window;
    auto *button = new QPushButton("删 除", &window);
    int before = 0;
    int after = 0;
    QObject::connect(button, &QPushButton::clicked, button, [&] {
        ++before;
        throw Error(QStringLiteral("Cannot perform this operation on an empty dataset"));
        ++after; // never reached
    });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(before, 1);
    QCOMPARE(after, 0);
    QCOMPARE(env.dialogs().boxes().size(), 1);
    QCOMPARE(env.dialogs().lastBox().request.text,
             QStringLiteral("Cannot perform this operation on an empty dataset."));
    // The window still works.
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(before, 2);
    QCOMPARE(env.dialogs().boxes().size(), 2);
}

void TestPlatformDialogs::reportExceptionShowsTheSameBox()
{
    Environment env;
    reportException(nullptr);
    QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
    try {
        throw Error(QStringLiteral("Failed to create key x"));
    } catch (...) {
        reportCurrentException();
    }
    QCOMPARE(env.dialogs().boxes().size(), 1);
    QCOMPARE(env.dialogs().lastBox().request.icon, BoxIcon::Stop);
    QCOMPARE(env.dialogs().lastBox().request.text, QStringLiteral("Failed to create key x."));
    QCOMPARE(exceptionText(std::make_exception_ptr(Error(QStringLiteral("中文。")))), QStringLiteral("中文。"));
    // std::runtime_error carries the same text as the program's error.
    Error e(QStringLiteral("数据库"));
    QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("数据库"));
}

void TestPlatformDialogs::environmentInstallsAndRemovesTheDoubles()
{
    const QString before = QDir::currentPath();
    const QByteArray home = qgetenv("HOME");
    QString working;
    {
        Environment env;
        QVERIFY(env.isValid());
        working = env.path();
        QCOMPARE(QDir::currentPath(), QDir(env.path()).canonicalPath());
        QCOMPARE(&dialogs(), static_cast<DialogService *>(&env.dialogs()));
        QCOMPARE(qgetenv("HOME"), QFile::encodeName(env.homePath()));
        QVERIFY(QFileInfo(env.desktopPath()).isDir());
        QVERIFY(QStandardPaths::isTestModeEnabled());
    }
    QCOMPARE(QDir::currentPath(), before);
    QCOMPARE(qgetenv("HOME"), home);
    QVERIFY(!QFileInfo::exists(working));
    QVERIFY(dynamic_cast<QtDialogService *>(&dialogs()));
}

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    TestPlatformDialogs tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "test_platform_dialogs.moc"
