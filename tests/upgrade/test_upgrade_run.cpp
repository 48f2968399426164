// The upgrade run: downloads into <name>.uTMP next to the program, the download window and its
// completion page, the size rule, lost files, the password window, Last-Modified times, the
// end of the run, and whole upgrades of a small program through the real updater (also one
// killed halfway and run again), all against a scripted server on 127.0.0.1.

#include "tests/support/FormWidgets.h"
#include "TestHttpServer.h"
#include "UpgradeTestSupport.h"

#include "app/MainWindow.h"
#include "data/Database.h"
#include "operators/LoginDialog.h"
#include "platform/Clock.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/TestSupport.h"
#include "updater/ProgramLock.h"
#include "updater/UpdaterProgram.h"
#include "upgrade/ReleaseStamp.h"
#include "upgrade/Upgrader.h"
#include "upgrade/CredentialsDialog.h"
#include "upgrade/UpgradeQuestionDialog.h"
#include "upgrade/DownloadWindow.h"
#include "upgrade/UpgradeText.h"
#include "ui_CredentialsDialog.h"
#include "ui_UpgradeQuestionDialog.h"
#include "ui_DownloadWindow.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <csignal>
#include <mutex>
#include <sys/types.h>

using namespace lianbu;
using namespace lianbu::upgrade;
using namespace lianbu::test;

namespace {

QByteArray waitForFile(const QString &path, int ms = 15000)
{
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(path) && t.elapsed() < ms)
        QTest::qWait(20);
    return readFile(path);
}

QStringList tempFilesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.uTMP")}, QDir::Files | QDir::Hidden, QDir::Name);
}

// The process ids whose first argument is `program` (the updater started for one folder).
// Screenshots for a person to look at, when LIANBU_SCREENSHOT_DIR names a folder.
void saveShot(QWidget *window, const char *name)
{
    const QString folder = qEnvironmentVariable("LIANBU_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        window->grab().save(QDir(folder).filePath(QString::fromLatin1(name) + QStringLiteral(".png")));
}

QList<pid_t> processesOf(const QString &program)
{
    QList<pid_t> found;
    QDirIterator it(QStringLiteral("/proc"));
    while (it.hasNext()) {
        it.next();
        bool numeric = false;
        const pid_t pid = it.fileName().toInt(&numeric);
        if (!numeric)
            continue;
        const QList<QByteArray> argv = readFile(it.filePath() + QStringLiteral("/cmdline")).split('\0');
        if (!argv.isEmpty() && QString::fromLocal8Bit(argv.first()) == program)
            found << pid;
    }
    return found;
}

// The files a scripted "developer site" serves: the information file and the listed files.
struct Site
{
    std::mutex mutex;
    QByteArray info;
    QHash<QByteArray, HttpResponse> files; // by path

    TestHttpServer::Handler handler()
    {
        return [this](const HttpRequest &request) {
            std::lock_guard lock(mutex);
            if (request.target == "/info.txt")
                return textResponse(info);
            return files.value(request.target, notFound());
        };
    }
    void add(const QByteArray &path, const QByteArray &body)
    {
        std::lock_guard lock(mutex);
        HttpResponse r;
        r.body = body;
        r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/octet-stream")));
        files.insert(path, r);
    }
    void set(const QByteArray &path, const HttpResponse &response)
    {
        std::lock_guard lock(mutex);
        files.insert(path, response);
    }
};

// Records the run's events.
struct RunEvents
{
    QStringList names;
    QStringList fileStarts;     // url
    QStringList counters;       // the download window's file counter at each file start
    QStringList doneFiles;      // local temporary files
    QList<QDateTime> fileTimes; // Last-Modified per started file
    QList<int> totalsAtFullFile;
    int closeRequests = 0;

    void attach(Upgrader &up)
    {
        up.onFileStart = [this, &up](QObject *, const QString &url, quint32, const QDateTime &time, bool &) {
            names << QStringLiteral("filestart");
            fileStarts << url;
            fileTimes << time;
            if (up.downloadWindow())
                counters << up.downloadWindow()->ui->allFilesLabel->text();
        };
        up.onProgress = [this](QObject *, const QString &, quint32 size, quint32 bytes, unsigned, int, int, int total,
                               float) {
            if (bytes == size)
                totalsAtFullFile << total;
        };
        up.onFileDone = [this](QObject *, const QString &file) {
            names << QStringLiteral("filedone");
            doneFiles << file;
        };
        up.onLostFile = [this](QObject *, const QString &, int code, bool &) {
            names << QStringLiteral("lost ") + QString::number(code);
        };
        up.onEndUpgrade = [this](QObject *) { names << QStringLiteral("end"); };
        up.onAborted = [this](QObject *) { names << QStringLiteral("aborted"); };
        up.onDoOwnCloseAppMethod = [this](QObject *) {
            names << QStringLiteral("close");
            ++closeRequests;
        };
    }
};

} // namespace

class TestUpgradeRun : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp; // the "temporary folder" where the updater is written
    QString m_folder;    // the program folder of the current test
    QString m_program;
    std::unique_ptr<QTemporaryDir> m_programDir;
    std::unique_ptr<ModalWatchdog> m_watchdog;

    // A component for the program in m_program, on a Simplified Chinese system.
    void prepare(Upgrader &up, TestHttpServer &server)
    {
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified);
        up.setProgramPath(m_program);
        up.setVersionDate(QStringLiteral("08/15/2010"));
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
    }

    static QByteArray infoFile(const QStringList &urls)
    {
        QByteArray text = "#date=08/16/2010\r\n";
        for (int i = 0; i < urls.size(); ++i)
            text += "#url" + QByteArray::number(i + 1) + "=" + urls.at(i).toLatin1() + "\r\n";
        return text;
    }

    static bool waitFor(const std::function<bool()> &condition, int ms = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (!condition() && t.elapsed() < ms)
            QTest::qWait(5);
        return condition();
    }

private slots:
    void initTestCase()
    {
        enterTestMode();
        QVERIFY(m_tmp.isValid());
        // The updater goes to this folder, and never waits long for a program that stays.
        qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
        qputenv("LIANBU_UPDATER_WAIT_SECONDS", "20");
    }

    void init()
    {
        m_programDir = std::make_unique<QTemporaryDir>(m_tmp.path() + QStringLiteral("/app XXXXXX"));
        QVERIFY(m_programDir->isValid());
        m_folder = m_programDir->path();
        m_program = m_folder + QStringLiteral("/lianbu");
        writeFile(m_program, programScript("v1"), true);
        m_watchdog = std::make_unique<ModalWatchdog>();
    }

    void cleanup()
    {
        QCOMPARE(m_watchdog->closed(), 0); // no window was left unanswered
        m_watchdog.reset();
        updater::releaseProgramLock();
        WorkerThread::waitForCancelledThreads(5000);
    }

    // Three files land next to the program as .uTMP; the window counts 1, 2, 3 of 3; the
    // completion page's close box, answered yes, leaves the program running and the files.
    void threeFilesAndTheCompletionPage()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/a.exe"), server.url("/dl/b.dll"), server.url("/dl/c.dat")});
        site.add("/dl/a.exe", QByteArray(5000, 'a'));
        site.add("/dl/b.dll", QByteArray(9000, 'b'));
        site.add("/dl/c.dat", "c");
        Upgrader up;
        prepare(up, server);
        RunEvents ev;
        ev.attach(up);
        up.setTransferBufferSize(1000);
        ModalAnswerer<UpgradeQuestionDialog> ask([](auto *form) { form->ui->yesButton->click(); });

        up.checkUpdate();
        QVERIFY(waitFor([&] { return up.downloadWindow() && up.downloadWindow()->completed(); }));
        QCOMPARE(ask.count(), 1);
        QCOMPARE(ev.names, (QStringList{"filestart", "filedone", "filestart", "filedone", "filestart", "filedone"}));
        QCOMPARE(ev.counters, (QStringList{"当前正在下载:1 of 3", "当前正在下载:2 of 3", "当前正在下载:3 of 3"}));
        QCOMPARE(tempFilesIn(m_folder), (QStringList{"a.exe.uTMP", "b.dll.uTMP", "c.dat.uTMP"}));
        QCOMPARE(ev.doneFiles.first(), m_folder + QStringLiteral("/a.exe.uTMP"));
        QCOMPARE(readFile(m_folder + "/b.dll.uTMP"), QByteArray(9000, 'b'));
        QCOMPARE(readFile(m_folder + "/c.dat.uTMP"), QByteArray("c"));
        // Whole files at 33, 66 and 100 percent of the run.
        QCOMPARE(ev.totalsAtFullFile, (QList<int>{33, 66, 100}));

        // The completion page.
        DownloadWindow *wizard = up.downloadWindow();
        QCOMPARE(wizard->windowTitle(), QStringLiteral("软件升级精灵"));
        QCOMPARE(wizard->ui->titleLabel->text(), QStringLiteral("文件已准备好"));
        QVERIFY(wizard->ui->completedNoteLabel->isVisible());
        QCOMPARE(
            wizard->ui->completedNoteLabel->text(),
            QStringLiteral("联簿宝 的新版本文件已下载并通过验证。\n\n请按[确定]键，程序将关闭并重新启动以安装它们。"));
        QVERIFY(!wizard->ui->currentFileBox->isVisible() && !wizard->ui->allFilesBox->isVisible());
        QVERIFY(!wizard->ui->cancelButton->isEnabled());
        QVERIFY(wizard->ui->finishButton->isEnabled());
        QCOMPARE(wizard->ui->finishButton->text(), QStringLiteral("[&O]确定"));
        QVERIFY(wizard->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!wizard->isModal());
        saveShot(wizard, "wizard-completed");

        // Close box, "no": everything stays as it is.
        env.dialogs().queueBoxAnswer(BoxButton::No);
        wizard->close();
        QVERIFY(waitFor([&] { return env.dialogs().boxes().size() == 1; }));
        QTest::qWait(20);
        QCOMPARE(up.downloadWindow(), wizard);
        QCOMPARE(env.dialogs().lastBox().request.text, QStringLiteral("升级操作尚未完成，\r您确定要放弃升级吗？"));
        QCOMPARE(env.dialogs().lastBox().request.caption, QStringLiteral("联簿宝"));
        QCOMPARE(env.dialogs().lastBox().request.icon, BoxIcon::Question);

        // Close box, "yes": abandoned, no restart, the temporary files stay.
        env.dialogs().queueBoxAnswer(BoxButton::Yes);
        wizard->close();
        QVERIFY(waitFor([&] { return !up.downloadWindow(); }));
        QVERIFY(up.aborted());
        QVERIFY(!up.inProgress());
        QCOMPARE(ev.names.mid(6), QStringList{"aborted"});
        QVERIFY(up.lastUpdaterPath().isEmpty());
        QVERIFY(!QFile::exists(m_tmp.filePath(QStringLiteral("Rurezure3"))));
        QCOMPARE(tempFilesIn(m_folder).size(), 3);
        QCOMPARE(readFile(m_program), programScript("v1"));
    }

    // While the run's window is open, activation's check does not start a second run.
    void checkDuringRunIsIgnored()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/a.dat")});
        site.add("/dl/a.dat", "a");
        Upgrader up;
        prepare(up, server);
        ModalAnswerer<UpgradeQuestionDialog> ask([](auto *form) { form->ui->yesButton->click(); });
        up.checkUpdate();
        QVERIFY(waitFor([&] { return up.downloadWindow() && up.downloadWindow()->completed(); }));
        const int requests = server.requestCount();
        up.checkUpdate();
        QTest::qWait(100);
        QCOMPARE(server.requestCount(), requests);
        QCOMPARE(ask.count(), 1);
        up.stopUpgrade();
        QVERIFY(!up.downloadWindow());
        QTest::qWait(20);
    }

    void progressLabels()
    {
        setWizardLanguage(WizardLanguage::ChineseSimplified);
        DownloadWindow wizard;
        QCOMPARE(wizard.ui->timeLeftLabel->text(), QStringLiteral("准备中"));
        QCOMPARE(wizard.ui->finishButton->text(), QStringLiteral("[&N]下一个>"));
        QVERIFY(!wizard.ui->finishButton->isEnabled());
        QCOMPARE(wizard.ui->currentFileBox->title(), QStringLiteral(" 当前的文档 "));
        QCOMPARE(wizard.ui->allFilesBox->title(), QStringLiteral(" 全部的文档 "));
        wizard.showFileSize(2560);
        QCOMPARE(wizard.ui->fileSizeLabel->text(), QStringLiteral("文档大小:2.5 Kb"));
        // Three files, the second at 50 percent: 16 + 33 = 49; 3725 seconds left is 1:02:05.
        wizard.showProgress(50, totalPercent(50, 1, 3), 12.34f, 3725);
        QCOMPARE(wizard.ui->downloadProgressBar->value(), 50);
        QCOMPARE(wizard.ui->totalProgressBar->value(), 49);
        QCOMPARE(wizard.ui->timeLeftLabel->text(), QStringLiteral("估计剩余时间: 1:02:05"));
        QCOMPARE(wizard.ui->transferRateLabel->text(), QStringLiteral("传输速率:12.3 Kb/s"));
        wizard.showFile(QStringLiteral("http://h/x.exe"), 2, 3);
        QCOMPARE(wizard.ui->fileAddressEdit->text(), QStringLiteral("http://h/x.exe"));
        QVERIFY(wizard.ui->fileAddressEdit->isReadOnly());
        QCOMPARE(wizard.ui->allFilesLabel->text(), QStringLiteral("当前正在下载:2 of 3"));
        QCOMPARE(wizard.size(), QSize(570, 346));
        QVERIFY(!wizard.ui->sidePicture->pixmap().isNull());
        saveShot(&wizard, "wizard-downloading");
    }

    // MiscFilesMode::OnlyIfSizeDifferent: a local file of the announced size is skipped (no .uTMP), the
    // program's own file is always fetched, and a single listed file is always fetched.
    void sizeRule()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/lianbu"), server.url("/dl/b.dll"), server.url("/dl/c.dat")});
        site.add("/dl/lianbu", programScript("v1")); // same size as the running program
        site.add("/dl/b.dll", "BBBB");
        site.add("/dl/c.dat", "CCCCCC");
        writeFile(m_folder + "/b.dll", "bbbb"); // same size: skipped
        writeFile(m_folder + "/c.dat", "ccc");  // other size: fetched
        Upgrader up;
        prepare(up, server);
        up.setMiscFilesUpgrade(MiscFilesMode::OnlyIfSizeDifferent);
        up.setShowMessages({});
        RunEvents ev;
        ev.attach(up);
        QList<bool> decisions;
        up.onFileStart = [&](QObject *, const QString &, quint32, const QDateTime &, bool &can) { decisions << can; };
        up.checkUpdate();
        QVERIFY(waitFor([&] { return up.downloadWindow() && up.downloadWindow()->completed(); }));
        QCOMPARE(decisions, (QList<bool>{true, false, true}));
        QCOMPARE(tempFilesIn(m_folder), (QStringList{"c.dat.uTMP", "lianbu.uTMP"}));
        QCOMPARE(ev.doneFiles.size(), 2);
        up.stopUpgrade();

        // One listed file of the same size is fetched.
        site.info = infoFile({server.url("/dl/b.dll")});
        decisions.clear();
        up.checkUpdate();
        QVERIFY(waitFor([&] { return up.downloadWindow() && up.downloadWindow()->completed(); }));
        QCOMPARE(decisions, QList<bool>{true});
        QVERIFY(tempFilesIn(m_folder).contains(QStringLiteral("b.dll.uTMP")));
        up.stopUpgrade();
        QTest::qWait(20);
    }

    void lostFileSkippedOrAbandoned()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/gone.dat"), server.url("/dl/b.dat")});
        site.add("/dl/b.dat", "b");
        Upgrader up;
        prepare(up, server);
        up.setShowMessages({MessageKind::LostFile});
        RunEvents ev;
        ev.attach(up);

        env.dialogs().queueBoxAnswer(BoxButton::Yes);
        up.checkUpdate();
        QVERIFY(waitFor([&] { return up.downloadWindow() && up.downloadWindow()->completed(); }));
        QCOMPARE(env.dialogs().boxes().size(), 1);
        const BoxRequest box = env.dialogs().lastBox().request;
        QCOMPARE(box.caption, QStringLiteral("错误 #404"));
        QCOMPARE(box.text, QStringLiteral("文档gone.dat找不到或者发生错误，\r\r您要忽略这个文档并且继续升级操作吗？"));
        QCOMPARE(box.icon, BoxIcon::Warning);
        QCOMPARE(box.buttons, (QList<BoxButton>{BoxButton::Yes, BoxButton::No}));
        QCOMPARE(ev.names, (QStringList{"lost 404", "filestart", "filedone"}));
        QCOMPARE(tempFilesIn(m_folder), QStringList{"b.dat.uTMP"});
        up.stopUpgrade();

        // "No" abandons the run: the window goes, the next file is never fetched.
        QFile::remove(m_folder + "/b.dat.uTMP");
        ev.names.clear();
        env.dialogs().queueBoxAnswer(BoxButton::No);
        up.checkUpdate();
        QVERIFY(waitFor([&] { return ev.names.contains(QStringLiteral("aborted")); }));
        QVERIFY(settledAfter(up));
        QCOMPARE(ev.names, (QStringList{"lost 404", "aborted"}));
        QVERIFY(!up.downloadWindow());
        QVERIFY(up.aborted());
        QVERIFY(tempFilesIn(m_folder).isEmpty());
    }

    // A temporary file that cannot be written (here a folder holds its name) is reported like
    // a file that could not be obtained; even without the window the run does not hang.
    void unwritableTemporaryFile()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/a.dat"), server.url("/dl/b.dat")});
        site.add("/dl/a.dat", "a");
        site.add("/dl/b.dat", "b");
        QVERIFY(QDir(m_folder).mkdir(QStringLiteral("a.dat.uTMP")));
        Upgrader up;
        prepare(up, server);
        up.wizard().enabled = false;
        up.setShowMessages({MessageKind::LostFile});
        RunEvents ev;
        ev.attach(up);
        env.dialogs().queueBoxAnswer(BoxButton::No);
        up.checkUpdate();
        QVERIFY(waitFor([&] { return ev.names.contains(QStringLiteral("aborted")); }));
        QVERIFY(settledAfter(up));
        QCOMPARE(env.dialogs().boxes().size(), 1);
        QVERIFY(env.dialogs().lastBox().request.text.startsWith(QStringLiteral("文档a.dat找不到或者发生错误")));
        QCOMPARE(ev.closeRequests, 0);
        QVERIFY(!QFile::exists(m_folder + "/b.dat.uTMP"));

        // Skipped, the run goes on with the next file and ends.
        env.dialogs().queueBoxAnswer(BoxButton::Yes);
        ev.names.clear();
        up.onDoOwnCloseAppMethod = [&](QObject *) { ev.names << QStringLiteral("close"); };
        up.checkUpdate();
        QVERIFY(waitFor([&] { return ev.names.contains(QStringLiteral("close")); }));
        QCOMPARE(ev.doneFiles, QStringList{m_folder + "/b.dat.uTMP"});
        QVERIFY(ev.names.contains(QStringLiteral("end")));
        // The updater (nothing holds the program) puts it in place.
        QCOMPARE(waitForFile(m_folder + "/marker.txt"), QByteArray("v1 /afterupgrade\n"));
        QCOMPARE(readFile(m_folder + "/b.dat"), QByteArray("b"));
    }

    void refusedPasswordAbandonsTheRun()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/secret.dat")});
        HttpResponse denied;
        denied.status = 401;
        denied.headers.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"members\"")));
        site.set("/dl/secret.dat", denied);
        Upgrader up;
        prepare(up, server);
        up.setShowMessages({MessageKind::PasswordRequest});
        RunEvents ev;
        ev.attach(up);
        QString label;
        ModalAnswerer<CredentialsDialog> password([&](CredentialsDialog *form) {
            label = form->ui->promptLabel->text();
            form->ui->cancelButton->click();
        });
        up.checkUpdate();
        QVERIFY(waitFor([&] { return ev.names.contains(QStringLiteral("aborted")); }));
        QCOMPARE(password.count(), 1);
        QVERIFY(label.contains(QStringLiteral("\"secret.dat\"")));
        QVERIFY(settledAfter(up));
        QVERIFY(!up.downloadWindow());
        QVERIFY(tempFilesIn(m_folder).isEmpty());
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
    }

    void lastModifiedTimes()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/old.dat"), server.url("/dl/new.dat")});
        HttpResponse old;
        old.body = "old";
        old.headers.append(qMakePair(QByteArray("Last-Modified"), QByteArray("Sun, 06 Nov 1994 08:49:37 GMT")));
        site.set("/dl/old.dat", old);
        site.add("/dl/new.dat", "new");
        Upgrader up;
        prepare(up, server);
        RunEvents ev;
        ev.attach(up);
        up.setShowMessages({});
        const QDateTime started = QDateTime::currentDateTime().addSecs(-5);
        up.checkUpdate();
        QVERIFY(waitFor([&] { return up.downloadWindow() && up.downloadWindow()->completed(); }));
        const QDateTime expected(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
        QCOMPARE(ev.fileTimes.size(), 2);
        QCOMPARE(ev.fileTimes.at(0).toUTC(), expected);
        QVERIFY(!ev.fileTimes.at(1).isValid());
        QCOMPARE(QFileInfo(m_folder + "/old.dat.uTMP").lastModified().toUTC(), expected);
        QVERIFY(QFileInfo(m_folder + "/new.dat.uTMP").lastModified() >= started);
        up.stopUpgrade();
        QTest::qWait(20);
    }

    // The run without its window: no window, no question; at the end the updater is written to
    // the temporary folder and started with the program's path and the restart parameter, and
    // the program closes. The updater then puts the files in place and restarts the program.
    void withoutWizardUpgradesAndRestarts()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/lianbu"), server.url("/dl/data.txt")});
        site.add("/dl/lianbu", programScript("v2"));
        site.add("/dl/data.txt", "new data");
        writeFile(m_folder + "/data.txt", "old data");
        Upgrader up;
        prepare(up, server);
        up.wizard().enabled = false;
        up.setShowMessages({});
        RunEvents ev;
        ev.attach(up);
        int windows = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                windows += w->isVisible() ? 1 : 0;
        });
        watch.start(5);
        up.checkUpdate();
        QVERIFY(waitFor([&] { return ev.closeRequests == 1; }));
        watch.stop();
        QCOMPARE(windows, 0);
        QCOMPARE(ev.names, (QStringList{"filestart", "filedone", "filestart", "filedone", "end", "close"}));
        // The updater runs from a folder of its own in the temporary folder.
        const QString updaterPath = up.lastUpdaterPath();
        QCOMPARE(QFileInfo(QFileInfo(updaterPath).absolutePath()).absolutePath(), m_tmp.path());
        QCOMPARE(QFileInfo(updaterPath).fileName(), QStringLiteral("Rurezure3"));
        QVERIFY(!m_tmp.path().contains(QLatin1Char(' ')));
        QCOMPARE(up.lastCommandLine(),
                 updaterPath + QStringLiteral(" \"") + m_program + QStringLiteral("\" +/afterupgrade0"));
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());

        QCOMPARE(waitForFile(m_folder + "/marker.txt"), QByteArray("v2 /afterupgrade\n"));
        QCOMPARE(readFile(m_program), programScript("v2"));
        QCOMPARE(readFile(m_folder + "/data.txt"), QByteArray("new data"));
        QVERIFY(waitFor([&] { return tempFilesIn(m_folder).isEmpty(); }));

        // The next program start removes the updater left from this upgrade.
        QVERIFY(QFile::exists(updaterPath));
        Upgrader next;
        QVERIFY(!QFile::exists(updaterPath));
    }

    // Cancel while a file is coming: the question, then "yes" stops the transfer at once; the
    // part already written stays, the program is not restarted.
    void cancelWhileDownloading()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/big.dat")});
        HttpResponse slow;
        slow.body = QByteArray(1000000, 'z');
        slow.trickleBytes = 4000;
        slow.trickleDelayMs = 20;
        site.set("/dl/big.dat", slow);
        Upgrader up;
        prepare(up, server);
        up.setShowMessages({});
        RunEvents ev;
        ev.attach(up);
        up.checkUpdate();
        QVERIFY(
            waitFor([&] { return up.downloadWindow() && up.downloadWindow()->ui->downloadProgressBar->value() > 0; }));
        QVERIFY(up.busy());
        QVERIFY(!up.downloadWindow()->ui->finishButton->isEnabled());
        env.dialogs().queueBoxAnswer(BoxButton::No);
        up.downloadWindow()->ui->cancelButton->click();
        QVERIFY(waitFor([&] { return env.dialogs().boxes().size() == 1; }));
        QVERIFY(up.downloadWindow() && up.runInProgress());
        env.dialogs().queueBoxAnswer(BoxButton::Yes);
        up.downloadWindow()->ui->cancelButton->click();
        QVERIFY(waitFor([&] { return !up.downloadWindow(); }));
        QVERIFY(!up.busy());
        QVERIFY(up.aborted());
        QCOMPARE(ev.names, (QStringList{"filestart", "aborted"}));
        QTest::qWait(100);
        QCOMPARE(ev.names.size(), 2);
        QVERIFY(WorkerThread::waitForCancelledThreads(5000));
        const qint64 written = QFileInfo(m_folder + "/big.dat.uTMP").size();
        QVERIFY(written > 0 && written < 1000000);
        QCOMPARE(ev.closeRequests, 0);
    }

    // The external-setup method: the handler of onBeginUpgrade drops a file, the setup program
    // is fetched, and the updater is told "+/afterupgrade1": it runs the setup, then restarts
    // the program.
    void externalSetupMethod()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = "#date=08/16/2010\n#method=1\n#url1=" + server.url("/dl/setup.sh").toLatin1()
                    + "\n#url2=" + server.url("/dl/extra.dat").toLatin1() + "\n";
        site.add("/dl/setup.sh", "#!/bin/sh\nprintf done > \"$(dirname \"$0\")/setup.done\"\n");
        site.add("/dl/extra.dat", "extra");
        Upgrader up;
        prepare(up, server);
        up.wizard().enabled = false;
        up.setShowMessages({});
        RunEvents ev;
        ev.attach(up);
        up.onBeginUpgrade = [](QObject *, const QString &, UpgradeMethod method, QStringList &files, bool &) {
            QCOMPARE(method, UpgradeMethod::ExternalSetup);
            files.removeLast();
        };
        up.checkUpdate();
        QVERIFY(waitFor([&] { return ev.closeRequests == 1; }));
        QCOMPARE(ev.fileStarts, QStringList{server.url("/dl/setup.sh")});
        QVERIFY(up.lastCommandLine().endsWith(QStringLiteral(" +/afterupgrade1")));
        QCOMPARE(waitForFile(m_folder + "/marker.txt"), QByteArray("v1 /afterupgrade\n"));
        QCOMPARE(readFile(m_folder + "/setup.done"), QByteArray("done"));
        QVERIFY(!QFile::exists(m_folder + "/extra.dat"));
        QCOMPARE(readFile(m_program), programScript("v1"));
    }

    // Without a usable temporary folder the updater is written next to the program.
    void updaterInProgramFolderWhenNoTemporaryFolder()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/notes.txt")});
        site.add("/dl/notes.txt", "notes");
        Upgrader up;
        prepare(up, server);
        up.wizard().enabled = false;
        up.setShowMessages({});
        RunEvents ev;
        ev.attach(up);
        const QByteArray previous = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_tmp.filePath(QStringLiteral("no such folder"))));
        up.checkUpdate();
        const bool closed = waitFor([&] { return ev.closeRequests == 1; });
        qputenv("TMPDIR", previous);
        QVERIFY(closed);
        QCOMPARE(up.lastUpdaterPath(), m_folder + QStringLiteral("/Rurezure3"));
        QCOMPARE(waitForFile(m_folder + "/marker.txt"), QByteArray("v1 /afterupgrade\n"));
        QCOMPARE(readFile(m_folder + "/notes.txt"), QByteArray("notes"));
    }

    // THE END-TO-END UPGRADE: the program (this process holds its lock) checks, is asked,
    // downloads with the window, OK starts the updater and the program ends. The updater is
    // killed while it waits; nothing has changed. Run again, it replaces the files and starts
    // the program with "/afterupgrade".
    void upgradeWithUpdaterKilledHalfwayAndRunAgain()
    {
        Environment env;
        Site site;
        TestHttpServer server(site.handler());
        site.info = "#Date=09/01/2010\r\n#MESSAGE={新版本}\r\n#url1=" + server.url("/dl/lianbu").toLatin1()
                    + "\r\n#url2=" + server.url("/dl/help.txt").toLatin1() + "\r\n";
        site.add("/dl/lianbu", programScript("v2"));
        site.add("/dl/help.txt", "帮助 v2");
        QVERIFY(updater::holdProgramLock(m_program.toStdString())); // the program runs
        Upgrader up;
        prepare(up, server);
        RunEvents ev;
        ev.attach(up);
        ModalAnswerer<UpgradeQuestionDialog> ask([](auto *form) { form->ui->yesButton->click(); });
        up.checkUpdate();
        QVERIFY(waitFor([&] { return up.downloadWindow() && up.downloadWindow()->completed(); }));
        QCOMPARE(tempFilesIn(m_folder), (QStringList{"help.txt.uTMP", "lianbu.uTMP"}));
        up.downloadWindow()->ui->finishButton->click();
        QVERIFY(waitFor([&] { return ev.closeRequests == 1; }));
        QVERIFY(!up.downloadWindow());
        QCOMPARE(ev.names.mid(ev.names.size() - 2), (QStringList{"end", "close"}));
        const QString updaterPath = up.lastUpdaterPath();
        QCOMPARE(QFileInfo(QFileInfo(updaterPath).absolutePath()).absolutePath(), m_tmp.path());

        // The updater waits for the program; kill it there.
        QList<pid_t> pids;
        QVERIFY(waitFor([&] {
            pids = processesOf(updaterPath);
            return !pids.isEmpty();
        }));
        QTest::qWait(200);
        for (pid_t pid : pids)
            ::kill(pid, SIGKILL);
        QVERIFY(waitFor([&] { return processesOf(updaterPath).isEmpty(); }));
        QCOMPARE(readFile(m_program), programScript("v1"));
        QCOMPARE(tempFilesIn(m_folder).size(), 2);
        QVERIFY(!QFile::exists(m_folder + "/marker.txt"));

        // The program ends; the updater runs again with the same command line.
        updater::releaseProgramLock();
        QVERIFY(QProcess::startDetached(updaterPath,
                                        updater::updaterArguments(m_program, QStringLiteral("+/afterupgrade0"))));
        QCOMPARE(waitForFile(m_folder + "/marker.txt"), QByteArray("v2 /afterupgrade\n"));
        QCOMPARE(readFile(m_program), programScript("v2"));
        QCOMPARE(readFile(m_folder + "/help.txt"), QByteArray("帮助 v2"));
        QVERIFY(QFileInfo(m_program).isExecutable());
        QVERIFY(waitFor([&] { return tempFilesIn(m_folder).isEmpty(); }));
    }

    // No check before the operator has logged in: while the login dialog waits, the ask window
    // would take its focus and the password's Enter would answer "yes".
    void noCheckBeforeLogin()
    {
        MainWindowHarness h(false);
        Upgrader *up = h.form->upgrader;
        TestHttpServer server([](const HttpRequest &) { return textResponse("#date=01/01/2001\r\n"); });
        up->setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        h.form->setLoginDialog(new LoginDialog(*h.data, h.form.get()));
        h.form->checkForUpgradeAction->trigger();
        QTest::qWait(200);
        QCOMPARE(server.requestCount(), 0);
        h.form->openSession(QStringLiteral("admin"), 1);
        h.form->checkForUpgradeAction->trigger();
        QVERIFY(waitFor([&] { return server.requestCount() == 1 && !up->busy() && !up->inProgress(); }));
    }

    // The main window's component: this program's settings; 检查升级 ends as an unreachable
    // host and shows nothing; the end of a run closes the main window (which writes the
    // logout time) before the application is told to quit.
    void mainWindowComponent()
    {
        MainWindowHarness h;
        Upgrader *up = h.form->upgrader;
        QVERIFY(up);
        QCOMPARE(up->objectName(), QStringLiteral("upgrader"));
        QCOMPARE(up->infoFileUrl(), upgradeInfoFileAddress());
        QCOMPARE(up->versionDate(), builtRelease()); // the build's release, as the executable's stamp says
        QVERIFY(up->versionDateAutoSet());
        QCOMPARE(up->showMessages().value(), 75u);
        QVERIFY(!up->autoCheck());
        bool unreachable = false;
        up->onHostUnreachable = [&](QObject *, const QString &, const QString &) { unreachable = true; };
        h.form->checkForUpgradeAction->trigger();
        QVERIFY(waitFor([&] { return unreachable && !up->inProgress(); }));
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());

        // 检查升级 while a check runs returns at once.
        TestHttpServer slow([](const HttpRequest &) {
            HttpResponse r = textResponse("#date=01/01/2001\n#url1=x\n");
            r.trickleBytes = 4;
            r.trickleDelayMs = 20;
            return r;
        });
        up->setInfoFileUrl(slow.url("/info.txt"));
        h.form->checkForUpgradeAction->trigger();
        QVERIFY(up->busy());
        h.form->checkForUpgradeAction->trigger();
        QVERIFY(waitFor([&] { return !up->busy() && !up->inProgress(); }));
        QCOMPARE(slow.requestCount(), 1);

        // A whole run without its window, ended by the component's own closing.
        Site site;
        TestHttpServer server(site.handler());
        site.info = infoFile({server.url("/dl/readme.txt")});
        site.add("/dl/readme.txt", "readme");
        up->setProgramPath(m_program);
        up->setInfoFileUrl(server.url("/info.txt"));
        up->setVersionDate(QStringLiteral("08/15/2010")); // a release older than the published one
        up->setShowMessages({});
        up->wizard().enabled = false;
        setFixedNow(QDateTime(QDate(2010, 8, 20), QTime(17, 30, 0)));
        h.data->connection->execute(
            QStringLiteral("insert into rz (username,btime) values ('超级管理员','2010-08-20 8:00:00')"));
        QSqlQuery id(h.data->connection->database());
        QVERIFY(id.exec(QStringLiteral("select max(id) from rz")) && id.next());
        h.form->openSession(QStringLiteral("超级管理员"), id.value(0).toInt());
        bool ended = false;
        up->onEndUpgrade = [&](QObject *) { ended = true; };
        h.form->checkForUpgradeAction->trigger();
        QVERIFY(waitFor([&] { return ended && !h.form->isVisible(); }));
        QSqlQuery q(h.data->connection->database());
        QVERIFY(q.exec(QStringLiteral("select jtime from rz where id = ")
                       + QString::number(h.form->sessionId().value_or(0)))
                && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("2010-08-20 17:30:00"));
        setFixedNow(QDateTime());
        QCOMPARE(waitForFile(m_folder + "/marker.txt"), QByteArray("v1 /afterupgrade\n"));
        QCOMPARE(readFile(m_folder + "/readme.txt"), QByteArray("readme"));
    }

    // Declining in the ask window gives the focus back to the main window, whose activation
    // checks again: the user is asked once per published version, not again and again.
    void declinedOnceIsNotAskedAgainOnActivation()
    {
        MainWindowHarness h;
        h.form->openSession(QStringLiteral("超级管理员"), 1); // a session is open: activation shows no login dialog
        Upgrader *up = h.form->upgrader;
        QVERIFY(waitFor([&] { return !up->busy() && !up->inProgress(); })); // the first activation's check
        TestHttpServer server(
            [](const HttpRequest &) { return textResponse("#date=01/01/2030\n#url1=http://127.0.0.1:1/x.dat\n"); });
        up->setInfoFileUrl(server.url("/info.txt"));
        int later = 0;
        up->onLaterUpgrade = [&](QObject *) { ++later; };
        ModalAnswerer<UpgradeQuestionDialog> ask([](auto *form) { form->ui->laterButton->click(); });
        h.form->checkForUpgradeAction->trigger();
        QVERIFY(waitFor([&] { return later >= 1; }));
        QVERIFY(waitFor([&] { return !up->busy() && !up->inProgress(); }));
        QVERIFY(up->userDeclined());
        h.form->onActivated();
        h.form->checkForUpgradeAction->trigger();
        QTest::qWait(50);
        QVERIFY(!up->busy() && !up->inProgress());
        QCOMPARE(ask.count(), 1);
        QCOMPARE(server.requestCount(), 1);
        // The component itself still checks when asked directly.
        up->checkUpdate();
        QVERIFY(waitFor([&] { return later == 2; }));
        QCOMPARE(ask.count(), 2);
    }

private:
    static bool settledAfter(Upgrader &up)
    {
        return waitFor([&] { return !up.busy() && !up.inProgress(); });
    }
};

QTEST_MAIN(TestUpgradeRun)
#include "test_upgrade_run.moc"
