// Whole upgrades against a local server with signatures enforced: the publisher signs with the
// real minisign tool, the program checks with the key it was given, and the real updater puts
// the files in place. The transport is plain HTTP on purpose: the signatures carry the trust.
// One scenario per kind of fault; each must leave the old program whole and working.
#include "TestHttpServer.h"
#include "UpgradeTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/upgrade/MinisignTool.h"
#include "updater/Install.h"
#include "updater/ProgramLock.h"
#include "upgrade/Upgrader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>
#include <sstream>

using namespace lianbu;
using namespace lianbu::upgrade;
using namespace lianbu::test;

namespace {

bool waitFor(const std::function<bool()> &condition, int ms = 15000)
{
    QElapsedTimer t;
    t.start();
    while (!condition() && t.elapsed() < ms)
        QTest::qWait(10);
    return condition();
}

// The publisher's site: every served file may have its .minisig next to it.
struct Site
{
    std::mutex mutex;
    QHash<QByteArray, HttpResponse> files;

    TestHttpServer::Handler handler()
    {
        return [this](const HttpRequest &request) {
            std::lock_guard lock(mutex);
            return files.value(request.target, notFound());
        };
    }
    void set(const QByteArray &path, const QByteArray &body)
    {
        HttpResponse r;
        r.body = body;
        set(path, r);
    }
    void set(const QByteArray &path, const HttpResponse &response)
    {
        std::lock_guard lock(mutex);
        files.insert(path, response);
    }
    void remove(const QByteArray &path)
    {
        std::lock_guard lock(mutex);
        files.remove(path);
    }
    // Publishes body at path, signed by signer.
    void publish(MinisignTool &signer, const QByteArray &path, const QByteArray &body)
    {
        set(path, body);
        set(path + ".minisig", signer.sign(body));
    }
};

} // namespace

class TestUpgradeSigned : public QObject
{
    Q_OBJECT

    MinisignTool m_publisher;
    MinisignTool m_attacker;
    QTemporaryDir m_tmp;
    std::unique_ptr<QTemporaryDir> m_programDir;
    QString m_folder;
    QString m_program;
    std::unique_ptr<Site> m_site;
    std::unique_ptr<TestHttpServer> m_server;
    int m_closeRequests = 0;
    int m_noUpdate = 0;

    QByteArray url(const char *path) const { return m_server->url(QString::fromLatin1(path)).toLatin1(); }

    QByteArray infoFile() const
    {
        return "#date=08/16/2010\r\n#message={Version 2}\r\n#url1=" + url("/dl/lianbu")
               + "\r\n#url2=" + url("/dl/data.txt") + "\r\n";
    }

    // The genuine release: version 2 of the program and of its data file, all signed.
    void publishRelease()
    {
        m_site->publish(m_publisher, "/info.txt", infoFile());
        m_site->publish(m_publisher, "/dl/lianbu", programScript("v2"));
        m_site->publish(m_publisher, "/dl/data.txt", "new data");
    }

    // A component for the program in m_program, trusting the publisher's key, asking nothing.
    void prepare(Upgrader &up)
    {
        up.wizard().setLanguage(WizardLanguage::ChineseSimplified);
        up.wizard().enabled = false;
        up.setShowMessages({});
        up.setProgramPath(m_program);
        up.setVersionDate(QStringLiteral("08/15/2010"));
        up.setInfoFileUrl(m_server->url(QStringLiteral("/info.txt")));
        up.setPublicKey(m_publisher.publicKeyLine());
        up.onDoOwnCloseAppMethod = [this](QObject *) { ++m_closeRequests; };
        up.onNoUpdateAvailable = [this](QObject *) { ++m_noUpdate; };
    }

    // Runs one check with its upgrade to the end.
    bool checkAndWait(Upgrader &up)
    {
        up.checkUpdate();
        return waitFor([&] { return !up.busy() && !up.inProgress(); });
    }

    QStringList leftovers() const
    {
        return QDir(m_folder).entryList({QStringLiteral("*.uTMP"), QStringLiteral("*.uOLD"),
                                         QStringLiteral("upgrade.uMANIFEST"), QStringLiteral("upgrade.uJOURNAL")},
                                        QDir::Files | QDir::Hidden);
    }

    // The old program, whole, nothing of the run left, no updater started.
    void verifyNothingInstalled()
    {
        QCOMPARE(readFile(m_program), programScript("v1"));
        QCOMPARE(readFile(m_folder + "/data.txt"), QByteArray("old data"));
        QCOMPARE(leftovers(), QStringList());
        QCOMPARE(m_closeRequests, 0);
        QVERIFY(!QFile::exists(m_folder + "/marker.txt"));
    }

    QStringList downloadRequests() const
    {
        QStringList targets;
        for (const HttpRequest &r : m_server->requests())
            if (r.target.startsWith("/dl/"))
                targets << QString::fromLatin1(r.target);
        return targets;
    }

private slots:
    void initTestCase()
    {
        enterTestMode();
        QVERIFY2(m_publisher.ok(), qPrintable(m_publisher.error()));
        QVERIFY2(m_attacker.ok(), qPrintable(m_attacker.error()));
        QVERIFY(m_tmp.isValid());
        qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
        qputenv("LIANBU_UPDATER_WAIT_SECONDS", "20");
        qputenv("LIANBU_UPDATER_START_SECONDS", "20");
    }

    void init()
    {
        m_programDir = std::make_unique<QTemporaryDir>(m_tmp.path() + QStringLiteral("/app XXXXXX"));
        QVERIFY(m_programDir->isValid());
        m_folder = m_programDir->path();
        m_program = m_folder + QStringLiteral("/lianbu");
        writeFile(m_program, programScript("v1"), true);
        writeFile(m_folder + "/data.txt", "old data");
        m_site = std::make_unique<Site>();
        m_server = std::make_unique<TestHttpServer>(m_site->handler());
        QVERIFY(m_server->isListening());
        m_closeRequests = 0;
        m_noUpdate = 0;
    }

    void cleanup()
    {
        m_server.reset();
        m_site.reset();
        WorkerThread::waitForCancelledThreads(5000);
    }

    // The release is made as a publisher makes it: scripts/publish-upgrade writes and signs the
    // information file for a folder of files.
    void signedUpgradeInstallsAndRestarts()
    {
        Environment env;
        QTemporaryDir release;
        writeFile(release.filePath("lianbu"), programScript("v2"));
        writeFile(release.filePath("data.txt"), "new data");
        QProcess publish;
        publish.start(QStringLiteral(LIANBU_SOURCE_DIR "/scripts/publish-upgrade"),
                      {"-s", m_publisher.secPath(), "-u", m_server->url("/dl"), "-d", "08/16/2010", "-m", "第二版",
                       release.path()});
        QVERIFY(publish.waitForFinished(30000));
        QVERIFY2(publish.exitCode() == 0, publish.readAllStandardError().constData());
        const QStringList published = QDir(release.path()).entryList(QDir::Files);
        QCOMPARE(published.size(), 6); // two files, the information file, three signatures
        for (const QString &name : published)
            m_site->set("/dl/" + name.toUtf8(), readFile(release.filePath(name)));

        Upgrader up;
        prepare(up);
        up.setInfoFileUrl(m_server->url("/dl/lianbu-upgrade.txt"));
        QVERIFY(up.signaturesRequired());
        QString message;
        up.onBeginUpgrade = [&](QObject *, const QString &text, UpgradeMethod, QStringList &, bool &) {
            message = text;
        };
        up.checkUpdate();
        QVERIFY(waitFor([&] { return m_closeRequests == 1; }));
        QCOMPARE(message, QStringLiteral("第二版"));
        // The manifest is not read here: the updater may already have installed from it and removed
        // it. That it named the files is shown by the installed program below.
        QVERIFY(waitFor([&] { return QFile::exists(m_folder + "/marker.txt"); }));
        QCOMPARE(readFile(m_folder + "/marker.txt"), QByteArray("v2 /afterupgrade\n"));
        QCOMPARE(readFile(m_program), programScript("v2"));
        QVERIFY(QFileInfo(m_program).isExecutable());
        QCOMPARE(readFile(m_folder + "/data.txt"), QByteArray("new data"));
        QVERIFY(waitFor([&] { return leftovers().isEmpty(); }));
        QVERIFY(env.dialogs().boxes().isEmpty());
        QVERIFY(up.logLines().isEmpty());
    }

    // Whatever is not signed by the trusted key installs nothing. A bad information file shows
    // nothing at all (its text may be the attacker's); a bad file ends the run with one box.
    void untrustedUpgradesInstallNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("fileFault");
        QTest::newRow("tampered file") << "tampered file" << true;
        QTest::newRow("tampered information file") << "tampered info" << false;
        QTest::newRow("wrong key") << "wrong key" << false;
        QTest::newRow("information file without signature") << "no info signature" << false;
        QTest::newRow("file without signature") << "no file signature" << true;
        QTest::newRow("truncated download") << "truncated" << true;
    }

    void untrustedUpgradesInstallNothing()
    {
        QFETCH(QString, fault);
        QFETCH(bool, fileFault);
        Environment env;
        publishRelease();
        if (fault == "tampered file") {
            m_site->set("/dl/lianbu", programScript("evil"));
        } else if (fault == "tampered info") {
            m_site->set("/info.txt", infoFile().replace("#url2=", "#url2=http://127.0.0.1:1/evil\r\n#url3="));
        } else if (fault == "wrong key") {
            m_site->publish(m_attacker, "/info.txt", infoFile());
        } else if (fault == "no info signature") {
            m_site->remove("/info.txt.minisig");
        } else if (fault == "no file signature") {
            m_site->remove("/dl/data.txt.minisig");
        } else if (fault == "truncated") {
            // No Content-Length and the connection closed halfway: the transport cannot tell.
            HttpResponse cut;
            cut.body = programScript("v2");
            cut.sendContentLength = false;
            cut.closeAfter = cut.body.size() / 2;
            m_site->set("/dl/lianbu", cut);
        }
        Upgrader up;
        prepare(up);
        QVERIFY(checkAndWait(up));
        verifyNothingInstalled();
        QCOMPARE(up.logLines().size(), 1);
        if (fileFault) {
            QCOMPARE(env.dialogs().boxes().size(), 1);
            QCOMPARE(env.dialogs().boxes().first().request.icon, BoxIcon::Stop);
            QVERIFY(up.aborted());
        } else {
            QVERIFY(env.dialogs().boxes().isEmpty());
            QCOMPARE(m_noUpdate, 1);
            QVERIFY(downloadRequests().isEmpty());
        }
    }

    // Limits: every one ends the check or run without installing anything.
    void limitsEndTransfers_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("endless information file") << "endless info";
        QTest::newRow("oversized file") << "oversized";
        QTest::newRow("drip-feeding server") << "drip";
    }

    void limitsEndTransfers()
    {
        QFETCH(QString, fault);
        Environment env;
        publishRelease();
        Upgrader up;
        prepare(up);
        if (fault == "endless info") {
            HttpResponse endless;
            endless.body = infoFile() + QByteArray(8 * 1024 * 1024, '#');
            endless.sendContentLength = false;
            m_site->set("/info.txt", endless);
        } else if (fault == "oversized") {
            up.setMaxFileSize(100);
        } else if (fault == "drip") {
            HttpResponse drip;
            drip.body = programScript("v2") + QByteArray(4000, '\n');
            drip.trickleBytes = 8;
            drip.trickleDelayMs = 100;
            m_site->set("/dl/lianbu", drip);
            up.timeouts().stallLimit = 1000;
        }
        QVERIFY(checkAndWait(up));
        verifyNothingInstalled();
        if (fault == "endless info") {
            QCOMPARE(m_noUpdate, 1);
            QVERIFY(env.dialogs().boxes().isEmpty());
            QVERIFY(downloadRequests().isEmpty());
        }
        if (fault == "drip")
            QVERIFY(up.timedOut());
        else
            QCOMPARE(up.logLines().size(), 1);
    }

    // A second running instance stops the run before anything is downloaded.
    void secondInstanceStopsTheRun()
    {
        Environment env;
        publishRelease();
        QProcess other; // holds the program's lock as a running instance does
        other.start(QStringLiteral("flock"),
                    {QStringLiteral("-s"), m_program, QStringLiteral("sleep"), QStringLiteral("30")});
        QVERIFY(other.waitForStarted());
        QVERIFY(waitFor([&] { return updater::otherInstanceRunning(QFile::encodeName(m_program).toStdString()); }));
        env.dialogs().queueBoxAnswer(BoxButton::Retry); // still running: asked again
        env.dialogs().queueBoxAnswer(BoxButton::Cancel);
        Upgrader up;
        prepare(up);
        QVERIFY(checkAndWait(up));
        other.kill();
        other.waitForFinished();
        QCOMPARE(env.dialogs().boxes().size(), 2);
        QCOMPARE(env.dialogs().boxes().first().request.buttons,
                 (QList<BoxButton>{BoxButton::Retry, BoxButton::Cancel}));
        QVERIFY(downloadRequests().isEmpty());
        verifyNothingInstalled();
        QVERIFY(up.userDeclined()); // later activations of this session do not ask again
    }

    // After the restart the program reports its good start to the waiting updater and says what
    // happened; a result left by the updater is shown once at the next start.
    void resultShownAfterRestart()
    {
        Environment env;
        const std::string folder = QFile::encodeName(m_folder + "/").toStdString();
        writeFile(m_folder + "/data.txt.uTMP", "new data");
        const auto hash = updater::sha256OfFile(folder + "data.txt.uTMP");
        QVERIFY(hash);
        std::string reason;
        QVERIFY(updater::installEntries(folder, {{"data.txt", 8, *hash}}, {}, reason));
        {
            Upgrader up;
            up.setProgramPath(m_program);
            up.loaded({m_program, QStringLiteral("/afterupgrade")});
            QVERIFY(!updater::installAwaitingStart(folder));
            QVERIFY(waitFor([&] { return !env.dialogs().boxes().isEmpty(); }));
            QCOMPARE(env.dialogs().boxes().first().request.icon, BoxIcon::Information);
            QVERIFY(up.restartReportShown().startsWith(QStringLiteral("升级已完成")));
        }
        // No updater was waiting: the program itself completed the install.
        QCOMPARE(readFile(m_folder + "/data.txt"), QByteArray("new data"));
        QCOMPARE(leftovers(), QStringList());

        writeFile(m_folder + "/upgrade.uRESULT", "rolledback the new version ended without starting up\n");
        for (int start = 0; start < 2; ++start) {
            Upgrader up;
            up.setProgramPath(m_program);
            up.loaded({m_program});
            QTest::qWait(50);
            if (start == 0)
                QVERIFY(up.restartReportShown().contains(QStringLiteral("the new version ended without starting up")));
            else
                QVERIFY(up.restartReportShown().isEmpty());
        }
        QCOMPARE(env.dialogs().boxes().size(), 2);
        QCOMPARE(env.dialogs().boxes().last().request.icon, BoxIcon::Warning);
    }

    // The address the program checks is the one it was configured with.
    void configuredAddress()
    {
        QCOMPARE(upgradeInfoFileAddress(), QStringLiteral(LIANBU_CONFIGURED_INFO_URL));
        const QString address = QStringLiteral(LIANBU_CONFIGURED_INFO_URL);
        const QByteArray utf16(reinterpret_cast<const char *>(address.utf16()), address.size() * 2);
        QVERIFY2(readFile(QStringLiteral(LIANBU_PROGRAM_BINARY)).contains(utf16), LIANBU_PROGRAM_BINARY);
    }
};

QTEST_MAIN(TestUpgradeSigned)
#include "test_upgrade_signed.moc"
