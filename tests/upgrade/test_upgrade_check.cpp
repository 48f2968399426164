// The upgrade check: reading the information file, both version tests, the settings, every
// result of a check against scripted servers on 127.0.0.1, the ask window, the password window,
// the automatic check and the restart test.

#include "tests/support/FormWidgets.h"
#include "TestHttpServer.h"
#include "UpgradeTestSupport.h"

#include "platform/Clock.h"
#include "platform/Gbk.h"
#include "tests/support/TestSupport.h"
#include "upgrade/Upgrader.h"
#include "upgrade/CredentialsDialog.h"
#include "upgrade/UpgradeQuestionDialog.h"
#include "ui_CredentialsDialog.h"
#include "ui_UpgradeQuestionDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>

using namespace lianbu;
using namespace lianbu::upgrade;
using namespace lianbu::test;

namespace {

// Waits until the component has neither a transfer nor a check in progress.
bool settled(Upgrader &up, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while ((up.busy() || up.inProgress()) && t.elapsed() < ms)
        QTest::qWait(5);
    QTest::qWait(20);
    return !up.busy() && !up.inProgress();
}

// Records the component's events in order.
struct Events
{
    QStringList names;
    QString beginMessage;
    UpgradeMethod beginMethod = UpgradeMethod::ReplaceFiles;
    QStringList beginFiles;
    QString unreachableUrl, unreachableHost;
    QString realm;

    void attach(Upgrader &up)
    {
        up.onBeginUpgrade = [this](QObject *, const QString &msg, UpgradeMethod m, QStringList &files, bool &) {
            names << QStringLiteral("begin");
            beginMessage = msg;
            beginMethod = m;
            beginFiles = files;
        };
        up.onLaterUpgrade = [this](QObject *) { names << QStringLiteral("later"); };
        up.onNoUpdateAvailable = [this](QObject *) { names << QStringLiteral("noupdate"); };
        up.onNoInfoFile = [this](QObject *) { names << QStringLiteral("noinfo"); };
        up.onHostUnreachable = [this](QObject *, const QString &url, const QString &host) {
            names << QStringLiteral("unreachable");
            unreachableUrl = url;
            unreachableHost = host;
        };
        up.onConnLost = [this](QObject *) { names << QStringLiteral("connlost"); };
        up.onPasswordRequest = [this](QObject *, const QString &r, bool &) {
            names << QStringLiteral("password");
            realm = r;
        };
        up.onAborted = [this](QObject *) { names << QStringLiteral("aborted"); };
        up.onFileStart = [this](QObject *, const QString &, quint32, const QDateTime &, bool &can) {
            names << QStringLiteral("filestart");
            can = false; // checks only: never download
        };
    }
};

} // namespace

class TestUpgradeCheck : public QObject
{
    Q_OBJECT

    std::unique_ptr<ModalWatchdog> m_watchdog;

private slots:
    void init() { m_watchdog = std::make_unique<ModalWatchdog>(); }
    void cleanup()
    {
        QCOMPARE(m_watchdog->closed(), 0); // no window was left unanswered
        m_watchdog.reset();
    }

    void initTestCase() { enterTestMode(); }

    // ---- the information file

    void values_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("capital markers") << "#URL=http://Host/A.exe\r\n#Date=09/01/2010\r\n"
                                         << "url"
                                         << "http://Host/A.exe";
        QTest::newRow("capital date") << "#URL=x\r\n#Date=09/01/2010\r\n"
                                      << "date"
                                      << "09/01/2010";
        QTest::newRow("tab ends it") << "#date=09/01/2010\tcomment"
                                     << "date"
                                     << "09/01/2010";
        QTest::newRow("end of file") << "junk\n#version=1.2.3"
                                     << "version"
                                     << "1.2.3";
        QTest::newRow("blanks belong to it") << "#date= 09/01/2010 \n"
                                             << "date"
                                             << " 09/01/2010 ";
        QTest::newRow("first occurrence") << "#date=01/01/2011\n#date=01/01/2012\n"
                                          << "date"
                                          << "01/01/2011";
        QTest::newRow("missing") << "#dates=1\n"
                                 << "date"
                                 << "";
        QTest::newRow("empty") << "#date=\r\n"
                               << "date"
                               << "";
        QTest::newRow("Chinese text kept") << "#Message1=新版本 Ab\n"
                                           << "message1"
                                           << "新版本 Ab";
    }
    void values()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QCOMPARE(infoFileValue(text, key), value);
    }

    void urlOrder_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("urls");
        QTest::newRow("url1..3") << "#url1=a\n#url2=b\n#url3=c\n" << QStringList{"a", "b", "c"};
        QTest::newRow("url, url1, url2") << "#url=a\n#url1=b\n#url2=c\n" << QStringList{"a", "c"};
        QTest::newRow("url and url0 continue with url3") << "#url0=b\n#url=a\n#url2=x\n#url3=c\n#url4=d\n"
                                                         << QStringList{"a", "b", "c", "d"};
        QTest::newRow("gap stops") << "#url1=a\n#url3=c\n" << QStringList{"a"};
        QTest::newRow("none") << "nothing here" << QStringList{};
        QTest::newRow("url10 after url9")
            << "#url1=1\n#url2=2\n#url3=3\n#url4=4\n#url5=5\n#url6=6\n#url7=7\n#url8=8\n#url9=9\n#url10=10\n"
            << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};
    }
    void urlOrder()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, urls);
        QCOMPARE(infoFileUrls(text), urls);
    }

    void messageAndMethod()
    {
        QCOMPARE(infoFileMessage(QStringLiteral("#url1=a\r\n#MESSAGE={Line one\r\nLine two}\r\n#date=1")),
                 QStringLiteral("Line one\r\nLine two"));
        QCOMPARE(infoFileMessage(QStringLiteral("#message={Line one\nLine two\n#date=1")),
                 QStringLiteral("Line one\nLine two\n#date=1"));
        QCOMPARE(infoFileMessage(QStringLiteral("#message=Line")), QString());
        QCOMPARE(infoFileMethod(QStringLiteral("#method=1")), UpgradeMethod::ExternalSetup);
        QCOMPARE(infoFileMethod(QStringLiteral("#method=2x")), UpgradeMethod::RedirectToUrl);
        QCOMPARE(infoFileMethod(QStringLiteral("#method=3")), UpgradeMethod::ReplaceFiles);
        QCOMPARE(infoFileMethod(QStringLiteral("#url=a")), UpgradeMethod::ReplaceFiles);
    }

    void versionByDate()
    {
        const QDate today(2011, 3, 1);
        const QString own = QStringLiteral("08/15/2010");
        QVERIFY(!isNewerByDate(QStringLiteral("08/15/2010"), own, today));
        QVERIFY(isNewerByDate(QStringLiteral("08/16/2010"), own, today));
        QVERIFY(!isNewerByDate(QStringLiteral("08/14/2010"), own, today));
        // 13/01/2011 is no date: it counts as today, which is later than the own date ...
        QCOMPARE(readVersionDate(QStringLiteral("13/01/2011"), today), today);
        QVERIFY(isNewerByDate(QStringLiteral("13/01/2011"), own, today));
        // ... and not later than a program released today.
        QVERIFY(!isNewerByDate(QStringLiteral("13/01/2011"), QStringLiteral("03/01/2011"), today));
        QCOMPARE(readVersionDate(QStringLiteral("09/01/2010 "), today), today);
        QCOMPARE(readVersionDate(QStringLiteral(""), today), today);
        QCOMPARE(readVersionDate(QStringLiteral("02/30/2010"), today), today);
        QCOMPARE(readVersionDate(QStringLiteral("2/3/2010"), today), QDate(2010, 2, 3));
        // A missing date key makes every program released before today out of date.
        QVERIFY(isNewerByDate(QString(), own, today));
    }

    void versionByNumber()
    {
        QCOMPARE(versionParts(QStringLiteral("1.2")), (QStringList{"1", "2", "0", "0"}));
        QCOMPARE(versionParts(QStringLiteral("1.2.3.4.5")), (QStringList{"1", "2", "3", "4"}));
        QVERIFY(isNewerByNumber(QStringLiteral("1.10"), QStringLiteral("1.2")));
        QVERIFY(!isNewerByNumber(QStringLiteral("1.2.0.0"), QStringLiteral("1.2")));
        QVERIFY(!isNewerByNumber(QStringLiteral("1.1.9"), QStringLiteral("1.2")));
        QVERIFY(isNewerByNumber(QStringLiteral("1.2b"), QStringLiteral("1.2")));  // as text
        QVERIFY(!isNewerByNumber(QStringLiteral("1.2"), QStringLiteral("1.2b"))); // as text
        QVERIFY(!isNewerByNumber(QStringLiteral("1.2.3.4.9"), QStringLiteral("1.2.3.4")));
        QVERIFY(isNewerByNumber(QStringLiteral("1"), QString()));
    }

    // ---- settings

    void defaults()
    {
        Environment env;
        setFixedNow(QDateTime(QDate(2012, 3, 4), QTime(10, 0)));
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        setFixedNow(QDateTime());
        QCOMPARE(up.infoFileUrl(), QStringLiteral("http://"));
        QCOMPARE(up.versionControl(), VersionRule::ByDate);
        QCOMPARE(up.versionDate(), QStringLiteral("03/04/2012"));
        QVERIFY(up.versionDateAutoSet());
        QCOMPARE(up.versionNumber(), QString());
        QVERIFY(!up.autoCheck());
        QCOMPARE(up.showMessages().value(), 75u);
        QVERIFY(up.showMessages().contains(MessageKind::AskUpgrade)
                && up.showMessages().contains(MessageKind::PasswordRequest));
        QVERIFY(!up.showMessages().contains(MessageKind::NoUpdateAvailable)
                && !up.showMessages().contains(MessageKind::HostUnreachable));
        QCOMPARE(up.restartParams(), QStringLiteral("/afterupgrade"));
        QCOMPARE(up.miscFilesUpgrade(), MiscFilesMode::AlwaysDownload);
        QVERIFY(up.wizard().enabled);
        QVERIFY(up.wizard().stayOnTop);
        QVERIFY(up.wizard().sidePicture.isNull());
        QCOMPARE(up.transferBufferSize(), 4096);
        up.setRestartParams(QString());
        QCOMPARE(up.restartParams(), QStringLiteral(" "));
        QCOMPARE(restartParameter(QStringLiteral("/afterupgrade"), UpgradeMethod::ExternalSetup),
                 QStringLiteral("+/afterupgrade1"));
        QCOMPARE(restartParameter(QStringLiteral("/afterupgrade"), UpgradeMethod::ReplaceFiles),
                 QStringLiteral("+/afterupgrade0"));
    }

    void restartTest()
    {
        Environment env;
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        int restarted = 0;
        up.onAfterRestart = [&](QObject *) { ++restarted; };
        up.loaded({QStringLiteral("prog"), QStringLiteral("/afterupgrade")});
        QCOMPARE(restarted, 1);
        up.loaded({QStringLiteral("prog"), QStringLiteral("/AfterUpgrade")});
        up.loaded({QStringLiteral("prog")});
        QCOMPARE(restarted, 1);
    }

    // ---- checks against a server

    void notNewerShowsNothing()
    {
        Environment env;
        TestHttpServer server(
            [](const HttpRequest &) { return textResponse("#date=08/15/2010\r\n#url1=http://127.0.0.1:1/a.exe\r\n"); });
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        Events ev;
        ev.attach(up);
        up.setVersionDate(QStringLiteral("08/15/2010"));
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(ev.names, QStringList{"noupdate"});
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
        // The information file is always asked for fresh.
        QCOMPARE(server.requestCount(), 1);
        QVERIFY(server.requests().first().header("Cache-Control").contains("no-cache"));

        // Manual check with the message enabled: error box 24.
        {
            MessageKinds kinds = up.showMessages();
            kinds.insert(MessageKind::NoUpdateAvailable);
            up.setShowMessages(kinds);
        }
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(env.dialogs().boxes().size(), 1);
        QCOMPARE(env.dialogs().lastBox().request.text, QStringLiteral("没有发现新的版本，您目前已经是最新版本。"));
        QCOMPARE(env.dialogs().lastBox().request.caption, QStringLiteral("软件升级精灵"));
        QCOMPARE(env.dialogs().lastBox().request.icon, BoxIcon::Stop);
    }

    void noUrlsIsNotNewer()
    {
        Environment env;
        TestHttpServer server([](const HttpRequest &) { return textResponse("#date=01/01/2030\r\n"); });
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        Events ev;
        ev.attach(up);
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(ev.names, QStringList{"noupdate"});
    }

    // A listed file: address would copy a local file into the program folder: the information
    // file is refused as a whole.
    void fileEntriesRefused()
    {
        Environment env;
        TestHttpServer server([](const HttpRequest &) {
            return textResponse("#date=01/01/2030\r\n#url1=http://127.0.0.1:1/a\r\n#url2=file:///etc/passwd\r\n");
        });
        Upgrader up;
        Events ev;
        ev.attach(up);
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(ev.names, QStringList{"noupdate"});
        QCOMPARE(up.logLines().size(), 1);
        QVERIFY(up.logLines().first().contains(QStringLiteral("file:///etc/passwd")));
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
        QVERIFY(isDownloadAddress(QStringLiteral("HTTPS://host/a")) && isDownloadAddress(QStringLiteral("host/a")));
        QVERIFY(!isDownloadAddress(QStringLiteral("ftp://host/a")));
    }

    void missingInfoFile()
    {
        Environment env;
        TestHttpServer server([](const HttpRequest &) { return notFound(); });
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        Events ev;
        ev.attach(up);
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(ev.names, QStringList{"noinfo"});
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());

        up.setShowMessages({MessageKind::NoInfoFile});
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(env.dialogs().boxes().size(), 1);
        QCOMPARE(env.dialogs().lastBox().request.text, QStringLiteral("在服务器中无法找到升级的相关信息。"));
    }

    void unreachableHost()
    {
        Environment env;
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        Events ev;
        ev.attach(up);
        // The program's own configuration: an address without a host.
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(ev.names, QStringList{"unreachable"});
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());

        // A refused connection, reported when enabled with the host in quotes.
        const QString address = QStringLiteral("http://127.0.0.1:%1/info.txt").arg(refusedPort());
        up.setInfoFileUrl(address);
        up.setShowMessages({MessageKind::HostUnreachable});
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(ev.names, (QStringList{"unreachable", "unreachable"}));
        QCOMPARE(ev.unreachableUrl, address);
        QCOMPARE(ev.unreachableHost, QStringLiteral("127.0.0.1"));
        QCOMPARE(env.dialogs().boxes().size(), 1);
        QCOMPARE(env.dialogs().lastBox().request.text,
                 QStringLiteral("无法与服务器'http://127.0.0.1'连接。\r\r请检查您的internet设定之后再进行升级操作。"));
    }

    void connectionLost()
    {
        Environment env;
        TestHttpServer server([](const HttpRequest &) {
            HttpResponse r = textResponse(QByteArray(1000, 'x'));
            r.closeAfter = 600;
            return r;
        });
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        Events ev;
        ev.attach(up);
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(ev.names, QStringList{"connlost"});
        QCOMPARE(env.dialogs().boxes().size(), 1);
        QCOMPARE(env.dialogs().lastBox().request.text,
                 QStringLiteral("与远端服务器的连接中断，\r\r请重新连接后再进行升级操作。"));
    }

    // A newer version: onBeginUpgrade, then the ask window; "later" declines.
    void askWindowDeclined()
    {
        Environment env;
        const QByteArray file = gbk::encode(QStringLiteral(
            "[升级]\r\n#Date=08/16/2010\r\n#url1=http://127.0.0.1:1/prog\r\n#url2=http://127.0.0.1:1/data.db\r\n"
            "#message={修正了打印\r\n增加了导出}\r\n"));
        TestHttpServer server([file](const HttpRequest &) { return textResponse(file); });
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        Events ev;
        ev.attach(up);
        up.setVersionDate(QStringLiteral("08/15/2010"));
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        QString shownText, caption, yes, later;
        bool onTop = false, fits = false;
        ModalAnswerer<UpgradeQuestionDialog> answer([&](UpgradeQuestionDialog *form) {
            shownText = form->ui->messageLabel->text();
            caption = form->windowTitle();
            yes = form->ui->yesButton->text();
            later = form->ui->laterButton->text();
            onTop = form->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            const QLabel *label = form->ui->messageLabel;
            fits = form->height() == label->y() + label->height() + 45 && label->width() == form->width() - 56
                   && label->height() >= label->heightForWidth(label->width());
            if (!qEnvironmentVariable("LIANBU_SCREENSHOT_DIR").isEmpty())
                form->grab().save(qEnvironmentVariable("LIANBU_SCREENSHOT_DIR") + QStringLiteral("/ask.png"));
            form->ui->laterButton->click();
        });
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(answer.count(), 1);
        QCOMPARE(ev.names, (QStringList{"begin", "later"}));
        QCOMPARE(ev.beginMessage, QStringLiteral("修正了打印\r\n增加了导出"));
        QCOMPARE(ev.beginFiles, (QStringList{"http://127.0.0.1:1/prog", "http://127.0.0.1:1/data.db"}));
        QCOMPARE(caption, QStringLiteral("软件升级精灵"));
        QCOMPARE(yes, QStringLiteral("[&Y]是"));
        QCOMPARE(later, QStringLiteral("[&L]稍等一下"));
        QCOMPARE(shownText,
                 QStringLiteral("联簿宝已经有新版本推出，\n\n修正了打印\n增加了导出\n\n您要升级到新版本吗？"));
        QVERIFY(onTop);
        QVERIFY(fits);
        QVERIFY(!up.downloadWindow());
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
    }

    void emptyMessageLeavesEmptyLine()
    {
        QCOMPARE(upgradeQuestionText(QStringLiteral("联簿宝"), QString()),
                 QStringLiteral("联簿宝已经有新版本推出，\n\n您要升级到新版本吗？"));
        UpgradeQuestionDialog shortForm(upgradeQuestionText(QStringLiteral("联簿宝"), QString()));
        UpgradeQuestionDialog longForm(
            upgradeQuestionText(QStringLiteral("联簿宝"), QString(20, QChar(0x6587)) + QStringLiteral("\n二\n三\n四")));
        QVERIFY(longForm.height() > shortForm.height());
        QCOMPARE(shortForm.width(), 318);
    }

    void beginUpgradeRefusesAndRedirect()
    {
        Environment env;
        std::atomic<int> method{0};
        TestHttpServer server([&method](const HttpRequest &) {
            return textResponse("#date=01/01/2030\n#url=www.example.com/new\n#url2=http://b/\n#method="
                                + QByteArray::number(method.load()) + "\n");
        });
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        Events ev;
        ev.attach(up);
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        up.onBeginUpgrade = [&](QObject *, const QString &, UpgradeMethod m, QStringList &, bool &can) {
            ev.names << QStringLiteral("begin");
            ev.beginMethod = m;
            can = false;
        };
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(ev.names, (QStringList{"begin", "later"}));
        QCOMPARE(ev.beginMethod, UpgradeMethod::ReplaceFiles);

        // Redirect without asking: the first address opens in the browser, nothing is fetched.
        method = 2;
        up.onBeginUpgrade = nullptr;
        up.setShowMessages({});
        ev.names.clear();
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(env.shell().opened, QList<QUrl>{QUrl(QStringLiteral("http://www.example.com/new"))});
        QCOMPARE(server.requestCount(), 2);
        QVERIFY(ev.names.isEmpty());
    }

    // A second checkUpdate while the first request runs does nothing; one issued while the
    // result is handled starts a new request.
    void secondCheckWhileBusy()
    {
        Environment env;
        TestHttpServer server([](const HttpRequest &) {
            HttpResponse r = textResponse("#date=01/01/2001\n#url1=x\n");
            r.trickleBytes = 4;
            r.trickleDelayMs = 30;
            return r;
        });
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        int noUpdates = 0;
        bool again = true;
        up.onNoUpdateAvailable = [&](QObject *) {
            ++noUpdates;
            if (again) {
                again = false;
                up.checkUpdate();
            }
        };
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        up.checkUpdate();
        QVERIFY(up.busy());
        up.checkUpdate();
        up.checkUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(noUpdates, 2, 10000);
        QVERIFY(settled(up));
        QCOMPARE(server.requestCount(), 2);
        QCOMPARE(noUpdates, 2);
    }

    void passwordRefused()
    {
        Environment env;
        TestHttpServer server([](const HttpRequest &) {
            HttpResponse r;
            r.status = 401;
            r.headers.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"files\"")));
            r.body = "denied";
            return r;
        });
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        Events ev;
        ev.attach(up);
        up.setInfoFileUrl(server.url(QStringLiteral("/secret/info.txt")));
        QString label, caption, user;
        ModalAnswerer<CredentialsDialog> answer([&](CredentialsDialog *form) {
            label = form->ui->promptLabel->text();
            caption = form->windowTitle();
            user = form->ui->userNameEdit->text();
            if (!qEnvironmentVariable("LIANBU_SCREENSHOT_DIR").isEmpty())
                form->grab().save(qEnvironmentVariable("LIANBU_SCREENSHOT_DIR") + QStringLiteral("/password.png"));
            form->ui->cancelButton->click();
        });
        up.setHttpUserName(QStringLiteral("zhang"));
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(answer.count(), 1);
        QCOMPARE(ev.names, (QStringList{"password", "aborted"}));
        QCOMPARE(ev.realm, QStringLiteral("files"));
        QVERIFY(up.aborted());
        QCOMPARE(caption, QStringLiteral("请输入密码"));
        QCOMPARE(user, QStringLiteral("zhang"));
        QVERIFY(label.contains(QStringLiteral("\"info.txt\"")));
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
        // A later check clears the aborted flag.
        up.setShowMessages({});
        up.checkUpdate();
        QVERIFY(!up.aborted());
        QVERIFY(settled(up));
    }

    void passwordAccepted()
    {
        Environment env;
        TestHttpServer server([](const HttpRequest &request) {
            if (request.header("Authorization") != "Basic " + QByteArray("li:pw").toBase64()) {
                HttpResponse r;
                r.status = 401;
                r.headers.append(
                    qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"<a href='x'>click</a>\"")));
                return r;
            }
            return textResponse("#date=01/01/2001\n#url1=x\n");
        });
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        Events ev;
        ev.attach(up);
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        ModalAnswerer<CredentialsDialog> answer([](CredentialsDialog *form) {
            QCOMPARE(form->ui->passwordEdit->echoMode(), QLineEdit::Password);
            // The server's realm is shown as the text it is, never as a link or markup.
            QVERIFY(form->ui->promptLabel->text().endsWith(QStringLiteral("<a href='x'>click</a>")));
            QCOMPARE(form->ui->promptLabel->textFormat(), Qt::PlainText);
            form->ui->userNameEdit->setText(QStringLiteral("li"));
            form->ui->passwordEdit->setText(QStringLiteral("pw"));
            form->ui->okButton->click();
        });
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(answer.count(), 1);
        QCOMPARE(ev.names, (QStringList{"password", "noupdate"}));
        QCOMPARE(up.httpUserName(), QStringLiteral("li"));
        QCOMPARE(up.httpPassword(), QStringLiteral("pw"));
        QCOMPARE(up.credentialOrigin(), urlOrigin(server.url(QStringLiteral("/"))));
    }

    void automaticCheck()
    {
        Environment env;
        Upgrader up;
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified); // as on a Simplified Chinese system
        Events ev;
        ev.attach(up);
        QVERIFY(!up.autoCheckTimer()->isActive());
        up.setAutoCheck(true);
        QVERIFY(up.autoCheckTimer()->isActive());
        QCOMPARE(up.autoCheckTimer()->interval(), 10000);

        // Not connected: nothing happens.
        up.autoCheckTick(false);
        QVERIFY(!up.busy() && !up.automaticCheckDone());

        // Connected: the check runs as an automatic one; the unreachable host re-arms the timer
        // and shows nothing even when host messages are enabled.
        up.setShowMessages({MessageKind::HostUnreachable, MessageKind::NoUpdateAvailable});
        up.autoCheckTick(true);
        QVERIFY(up.automaticCheckDone() || !up.autoCheckTimer()->isActive());
        QVERIFY(up.checkIsAutomatic());
        QVERIFY(settled(up));
        QCOMPARE(ev.names, QStringList{"unreachable"});
        QVERIFY(!up.automaticCheckDone());
        QVERIFY(up.autoCheckTimer()->isActive());
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());

        // An automatic check that finds no newer version stays quiet too.
        TestHttpServer server([](const HttpRequest &) { return textResponse("#date=01/01/2001\n#url1=x\n"); });
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        up.autoCheckTick(true);
        QVERIFY(settled(up));
        QVERIFY(up.automaticCheckDone());
        QVERIFY(!up.autoCheckTimer()->isActive());
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());

        up.setAutoCheck(false);
        QVERIFY(!up.autoCheckTimer()->isActive());
    }
};

QTEST_MAIN(TestUpgradeCheck)
#include "test_upgrade_check.moc"
