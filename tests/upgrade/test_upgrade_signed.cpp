// Whole upgrades against a local server with signatures enforced: the publisher signs with the
// real minisign tool, the program checks with the key it was given, and the real updater puts
// the files in place. The transport is plain HTTP on purpose: the signatures carry the trust.
// One scenario per kind of fault; each must leave the old program whole and working.
#include "TestHttpServer.h"
#include "UpgradeTestSupport.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"
#include "tests/upgrade/MinisignTool.h"
#include "platform/Gbk.h"
#include "platform/Profile.h"
#include "updater/Install.h"
#include "updater/ProgramLock.h"
#include "updater/Release.h"
#include "updater/UpdaterCore.h"
#include "updater/UpdaterProgram.h"
#include "upgrade/GoodStart.h"
#include "upgrade/ReleaseStamp.h"
#include "upgrade/Upgrader.h"

#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QTest>
#include <QTimer>

#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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

// One file of a release: where it is served, the name it is installed under, its bytes.
struct ReleaseFile
{
    QByteArray path;
    QString name;
    QByteArray body;
};

// A stand-in program that records how it was started: version, arguments, working folder and
// one variable of its environment.
QByteArray recordingProgram(const QByteArray &version)
{
    return "#!/bin/sh\n"
           "d=$(dirname \"$0\")\n"
           "printf '%s|%s|%s|%s\\n' "
           + version
           + " \"$*\" \"$(pwd)\" \"$LIANBU_TEST_MARK\" > \"$d/marker.tmp\" && mv \"$d/marker.tmp\" \"$d/marker.txt\"\n"
             "echo $$ > \"$d/upgrade.uSTARTED\"\n";
}

// Answers every connection at once with plain text and closes it: a TLS client finds no
// handshake there and gives up before any status, as when it refuses a certificate.
class NotTlsServer
{
public:
    NotTlsServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(m_fd, 8) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            for (;;) {
                const int client = ::accept(m_fd, nullptr, nullptr);
                if (client < 0)
                    return;
                const char answer[] = "HTTP/1.0 400 Bad Request\r\n\r\n";
                [[maybe_unused]] const ssize_t sent = ::write(client, answer, sizeof answer - 1);
                ::close(client);
            }
        });
    }
    ~NotTlsServer()
    {
        ::shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
    }
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    std::thread m_thread;
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

    // The information file of a release: its date, and each file's address, SHA-256, size and name.
    QByteArray releaseInfo(const QByteArray &date, const QList<ReleaseFile> &files) const
    {
        QByteArray info = "#date=" + date + "\r\n#message={Version 2}\r\n";
        int n = 1;
        for (const ReleaseFile &f : files) {
            const QByteArray number = QByteArray::number(n++);
            info += "#url" + number + "=" + url(f.path.constData()) + "\r\n#file" + number + "="
                    + QCryptographicHash::hash(f.body, QCryptographicHash::Sha256).toHex() + " "
                    + QByteArray::number(f.body.size()) + " " + gbk::encode(f.name) + "\r\n";
        }
        return info;
    }

    QList<ReleaseFile> releaseFiles() const
    {
        return {{"/dl/lianbu", "lianbu", programScript("v2")}, {"/dl/data.txt", "data.txt", "new data"}};
    }

    QByteArray infoFile() const { return releaseInfo("08/16/2010", releaseFiles()); }

    // Serves a release: its files and its signed information file.
    // Each file is also served with a signature of its own, as publishers used to sign them: a
    // genuine signature must not carry a file into a release that does not list it.
    void publish(const QByteArray &date, const QList<ReleaseFile> &files)
    {
        for (const ReleaseFile &f : files)
            m_site->publish(m_publisher, f.path, f.body);
        m_site->publish(m_publisher, "/info.txt", releaseInfo(date, files));
    }

    // The genuine release: version 2 of the program and of its data file, signed.
    void publishRelease() { publish("08/16/2010", releaseFiles()); }

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
                                         QStringLiteral("upgrade.uMANIFEST"), QStringLiteral("upgrade.uJOURNAL"),
                                         QStringLiteral("upgrade.uINFO*")},
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
    // The program as the publisher built it: stamped with its release and the publisher's key.
    QByteArray stampedProgram(const QByteArray &version, const QByteArray &release, const QString &key) const
    {
        return programScript(version) + "# LIANBU-RELEASE=" + release + ";\n# LIANBU-UPGRADE-KEY=" + key.toLatin1()
               + ";\n";
    }

    // Runs scripts/publish-upgrade with a strict umask, as a publisher's shell may have it.
    int runPublisher(const QStringList &arguments, QByteArray *errors = nullptr)
    {
        QProcess publish;
        publish.start(QStringLiteral("sh"), QStringList{"-c", "umask 077; exec \"$0\" \"$@\"",
                                                        QStringLiteral(LIANBU_SOURCE_DIR "/scripts/publish-upgrade")}
                                                + arguments);
        if (!publish.waitForFinished(30000))
            return -1;
        if (errors)
            *errors = publish.readAllStandardError();
        return publish.exitCode();
    }

    void signedUpgradeInstallsAndRestarts()
    {
        Environment env;
        QTemporaryDir release;
        const QByteArray program = stampedProgram("v2", "08/16/2010", m_publisher.publicKeyLine());
        const QString chinese = QStringLiteral("客户 资料 说明.txt");
        writeFile(release.filePath("lianbu"), program);
        writeFile(release.filePath("data.txt"), "new data");
        writeFile(release.filePath(chinese), "说明 v2");
        QByteArray errors;
        QCOMPARE(runPublisher({"-s", m_publisher.secPath(), "-u", m_server->url("/dl"), "-m", "第二版", release.path()},
                              &errors),
                 0);
        const QStringList published = QDir(release.path()).entryList(QDir::Files);
        QCOMPARE(published.size(), 5); // three files, the information file and its signature
        for (const QString &name : published) {
            // A web server running as another user must be able to read every one.
            QVERIFY2(QFileInfo(release.filePath(name)).permissions() & QFileDevice::ReadOther, qPrintable(name));
            m_site->set("/dl/" + QUrl::toPercentEncoding(name), readFile(release.filePath(name)));
        }
        // The release date is the one the program was built with.
        QVERIFY(readFile(release.filePath("lianbu-upgrade.txt")).startsWith("#date=08/16/2010\r\n"));

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
        QCOMPARE(readFile(m_program), program);
        QVERIFY(QFileInfo(m_program).isExecutable());
        QCOMPARE(readFile(m_folder + "/data.txt"), QByteArray("new data"));
        QCOMPARE(readFile(m_folder + "/" + chinese), QByteArray("说明 v2"));
        QVERIFY(waitFor([&] { return leftovers().isEmpty(); }));
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
        QVERIFY(up.logLines().isEmpty());
        QCOMPARE(updater::newestInstalled(QFile::encodeName(m_folder + "/").toStdString()),
                 updater::releaseDay("08/16/2010"));
    }

    // What the publisher's script refuses, each with a word saying why and nothing written.
    void publisherRefusesWhatCannotWork_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("said");
        QTest::newRow("program built without the key") << "no key"
                                                       << "without a public key";
        QTest::newRow("program built with another key") << "other key"
                                                        << "another public key";
        QTest::newRow("date other than the build's") << "date"
                                                     << "differs from the release date";
        QTest::newRow("file in a subfolder") << "subfolder"
                                             << "subfolders";
    }

    void publisherRefusesWhatCannotWork()
    {
        QFETCH(QString, fault);
        QFETCH(QString, said);
        QTemporaryDir release;
        QString key = m_publisher.publicKeyLine();
        if (fault == "no key")
            key.clear();
        else if (fault == "other key")
            key = m_attacker.publicKeyLine();
        writeFile(release.filePath("lianbu"), stampedProgram("v2", "08/16/2010", key));
        QStringList arguments{"-s", m_publisher.secPath(), "-p", m_publisher.pubPath(), "-u", m_server->url("/dl")};
        if (fault == "date")
            arguments << "-d"
                      << "08/17/2010";
        if (fault == "subfolder") {
            QVERIFY(QDir(release.path()).mkdir("help"));
            writeFile(release.filePath("help/index.html"), "帮助");
        }
        QByteArray errors;
        QCOMPARE(runPublisher(arguments << release.path(), &errors), 2);
        QVERIFY2(QString::fromUtf8(errors).contains(said), errors.constData());
        QVERIFY(!QFile::exists(release.filePath("lianbu-upgrade.txt")));
    }

    // An information file the web server may not read (as when it was left readable by its owner
    // only) is answered 403: the user is asked nothing, and the log says why nothing is offered.
    void anInformationFileTheServerRefusesIsLogged()
    {
        Environment env;
        publishRelease();
        HttpResponse forbidden;
        forbidden.status = 403;
        forbidden.body = "Forbidden";
        m_site->set("/info.txt", forbidden);
        Upgrader up;
        prepare(up);
        QVERIFY(checkAndWait(up));
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
        QVERIFY(downloadRequests().isEmpty());
        QCOMPARE(up.logLines().size(), 1);
        const QString line = up.logLines().first();
        QVERIFY2(line.contains(QStringLiteral("403")) && line.contains(m_server->url(QStringLiteral("/info.txt"))),
                 qPrintable(line));
        verifyNothingInstalled();
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
        QTest::newRow("legacy signature") << "legacy signature" << false;
        QTest::newRow("release without file list") << "no file list" << false;
        QTest::newRow("old program under the new release") << "old program" << true;
        QTest::newRow("another file's signed bytes as the program") << "swapped" << true;
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
        } else if (fault == "legacy signature") {
            m_site->set("/info.txt.minisig", m_publisher.sign(infoFile(), QStringLiteral("test release"), true));
        } else if (fault == "no file list") {
            m_site->publish(m_publisher, "/info.txt",
                            "#date=08/16/2010\r\n#url1=" + url("/dl/lianbu") + "\r\n#url2=" + url("/dl/data.txt")
                                + "\r\n");
        } else if (fault == "old program") {
            m_site->publish(m_publisher, "/dl/lianbu", programScript("v1"));
        } else if (fault == "swapped") {
            m_site->publish(m_publisher, "/dl/lianbu", "new data");
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
            QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
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
            QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
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

    // The program's release is the build's: the date it compares with is the one stamped into the
    // executable, where the updater and the publisher's script read it.
    void ownReleaseComesFromTheBuild()
    {
        const QString built = builtRelease();
        QVERIFY2(updater::releaseDay(built.toStdString()) != 0, qPrintable(built));
        QCOMPARE(updater::releaseOfProgram(LIANBU_PROGRAM_BINARY), updater::releaseDay(built.toStdString()));
        QObject owner;
        const Upgrader *up = createMainUpgrader(&owner);
        QCOMPARE(up->versionDate(), built);
        QVERIFY(!up->settingsFile().isEmpty());
    }

    // Replay and downgrade: a release not newer than the running one, or not newer than the
    // newest one ever installed here (program folder or per-user settings), is never offered;
    // right after an upgrade the same release is not offered again.
    void replayedReleasesAreNotOffered()
    {
        Environment env;
        const std::string folder = QFile::encodeName(m_folder + "/").toStdString();
        const QString settings = m_tmp.filePath("settings.ini");
        publishRelease(); // 08/16/2010
        const auto checkOnce = [&](const QString &settingsFile) {
            Upgrader up;
            prepare(up);
            up.setSettingsFile(settingsFile);
            return checkAndWait(up);
        };

        QVERIFY(updater::recordInstalled(folder, updater::releaseDay("08/20/2010")));
        QVERIFY(checkOnce({}));
        QCOMPARE(m_noUpdate, 1);
        QVERIFY(QFile::remove(m_folder + "/upgrade.uNEWEST"));

        writeFile(settings, "");
        QVERIFY(writeProfileString(settings, "Upgrade", "NewestRelease", "08/16/2010"));
        QVERIFY(checkOnce(settings));
        QCOMPARE(m_noUpdate, 2);
        QVERIFY(downloadRequests().isEmpty());
        verifyNothingInstalled();

        // Installed for real; the old program's component is asked once more.
        QVERIFY(checkOnce({}));
        QVERIFY(waitFor([&] { return readFile(m_folder + "/marker.txt") == "v2 /afterupgrade\n"; }));
        QVERIFY(waitFor([&] { return leftovers().isEmpty(); }));
        const int fetched = int(downloadRequests().size());
        QVERIFY(checkOnce({}));
        QCOMPARE(m_noUpdate, 3);
        QCOMPARE(downloadRequests().size(), fetched);

        // The per-user record follows the folder's at the next start.
        const QString fresh = m_tmp.filePath("fresh.ini");
        writeFile(fresh, "");
        Upgrader next;
        next.setProgramPath(m_program);
        next.setSettingsFile(fresh);
        next.loaded({m_program});
        QCOMPARE(profileString(fresh, "Upgrade", "NewestRelease"), QStringLiteral("08/16/2010"));
    }

    // The updater checks the files against the publisher's signed release once more, and refuses
    // a release older than the newest one installed, whatever the program handed it.
    void updaterChecksTheSignedRelease_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("genuine") << QString();
        QTest::newRow("older than the newest installed") << "older";
        QTest::newRow("files not of the signed release") << "mixed";
        QTest::newRow("legacy signature") << "legacy";
        QTest::newRow("signed by another key") << "other key";
        QTest::newRow("no signed release") << "missing";
    }

    void updaterChecksTheSignedRelease()
    {
        QFETCH(QString, fault);
        const std::string folder = QFile::encodeName(m_folder + "/").toStdString();
        const QByteArray v2 = programScript("v2");
        const QByteArray info = releaseInfo("08/16/2010", {{"/dl/lianbu", "lianbu", v2}});
        const QByteArray downloaded = fault == "mixed" ? programScript("v3") : v2;
        writeFile(m_folder + "/lianbu.uTMP", downloaded);
        if (fault != "missing") {
            writeFile(m_folder + "/upgrade.uINFO", info);
            writeFile(m_folder + "/upgrade.uINFO.minisig",
                      (fault == "other key" ? m_attacker : m_publisher)
                          .sign(info, QStringLiteral("test release"), fault == "legacy"));
        }
        if (fault == "older")
            QVERIFY(updater::recordInstalled(folder, updater::releaseDay("08/20/2010")));
        updater::HandOff handOff;
        handOff.publicKey = m_publisher.publicKeyLine().toStdString();
        handOff.release = "08/16/2010";
        handOff.entries = {{"lianbu", std::uint64_t(downloaded.size()),
                            QCryptographicHash::hash(downloaded, QCryptographicHash::Sha256).toHex().toStdString()}};
        QVERIFY(updater::writeFileDurably(folder + updater::kManifestFile, updater::formatHandOff(handOff)));
        std::ostringstream log;
        const int status = updater::run({QFile::encodeName(m_program).toStdString(), "+/afterupgrade0"},
                                        std::chrono::seconds(5), std::chrono::seconds(20), log);
        QCOMPARE(waitFor([&] { return QFile::exists(m_folder + "/marker.txt"); }), true);
        QVERIFY(waitFor([&] { return leftovers().isEmpty(); }));
        if (fault.isEmpty()) {
            QCOMPARE(status, 0);
            QCOMPARE(readFile(m_program), v2);
            QCOMPARE(updater::newestInstalled(folder), updater::releaseDay("08/16/2010"));
            return;
        }
        QVERIFY2(status != 0, log.str().c_str());
        QCOMPARE(readFile(m_program), programScript("v1"));
        QCOMPARE(readFile(m_folder + "/marker.txt"), QByteArray("v1 /afterupgrade\n"));
        QVERIFY(log.str().find("nothing was installed") != std::string::npos);
    }

    // A release whose new version did not start and was put back is recorded all the same: the
    // next check does not offer it again.
    void aReleaseRolledBackIsNotOfferedAgain()
    {
        Environment env;
        const std::string folder = QFile::encodeName(m_folder + "/").toStdString();
        const QByteArray crashing = "#!/bin/sh\nkill -SEGV $$\n";
        const QList<ReleaseFile> files{{"/dl/lianbu", "lianbu", crashing}};
        const QByteArray info = releaseInfo("08/16/2010", files);
        writeFile(m_folder + "/lianbu.uTMP", crashing, true);
        writeFile(m_folder + "/upgrade.uINFO", info);
        writeFile(m_folder + "/upgrade.uINFO.minisig", m_publisher.sign(info, QStringLiteral("test release")));
        updater::HandOff handOff;
        handOff.publicKey = m_publisher.publicKeyLine().toStdString();
        handOff.release = "08/16/2010";
        handOff.entries = {{"lianbu", std::uint64_t(crashing.size()),
                            QCryptographicHash::hash(crashing, QCryptographicHash::Sha256).toHex().toStdString()}};
        QVERIFY(updater::writeFileDurably(folder + updater::kManifestFile, updater::formatHandOff(handOff)));
        std::ostringstream log;
        const int status = updater::run({QFile::encodeName(m_program).toStdString(), "+/afterupgrade0"},
                                        std::chrono::seconds(5), std::chrono::seconds(20), log);
        QVERIFY2(status != 0, log.str().c_str());
        QVERIFY(waitFor([&] { return readFile(m_folder + "/marker.txt") == "v1 /afterupgrade\n"; }));
        QVERIFY(waitFor([&] { return leftovers().isEmpty(); }));
        QCOMPARE(readFile(m_program), programScript("v1"));
        QCOMPARE(updater::newestInstalled(folder), updater::releaseDay("08/16/2010"));

        // The same release, still published.
        QVERIFY(QFile::remove(m_folder + "/marker.txt"));
        publish("08/16/2010", files);
        Upgrader up;
        prepare(up);
        QVERIFY(checkAndWait(up));
        QCOMPARE(m_noUpdate, 1);
        QVERIFY(downloadRequests().isEmpty());
        verifyNothingInstalled();
    }

    // The restart starts the program on the same register, in the same working folder, with the
    // same environment.
    void restartKeepsTheRegister()
    {
        Environment env;
        publish("08/16/2010", {{"/dl/lianbu", "lianbu", recordingProgram("v2")}});
        QTemporaryDir work;
        const QString database = m_tmp.filePath(QStringLiteral("另一个 资料库/data.db"));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
        qputenv("LIANBU_TEST_MARK", "kept");
        Upgrader up;
        prepare(up);
        up.setProgramArguments({QStringLiteral("--database"), database});
        up.checkUpdate();
        const bool started = waitFor([&] { return QFile::exists(m_folder + "/marker.txt"); });
        QDir::setCurrent(previous);
        qunsetenv("LIANBU_TEST_MARK");
        QVERIFY(started);
        QVERIFY(waitFor([&] { return leftovers().isEmpty(); })); // the updater has finished
        QCOMPARE(QString::fromUtf8(readFile(m_folder + "/marker.txt")),
                 QStringLiteral("v2|/afterupgrade --database %1|%2|kept\n").arg(database, work.path()));
    }

    // A release installs whole or not at all: a file the server withholds ends the run with one
    // message naming it (no question to skip it), one log line, and nothing left behind.
    void withheldFileInstallsNothing()
    {
        Environment env;
        publishRelease();
        m_site->remove("/dl/data.txt");
        env.dialogs().queueBoxAnswer(BoxButton::Yes); // what "skip the file?" would have been answered
        Upgrader up;
        prepare(up);
        up.setShowMessages({MessageKind::LostFile, MessageKind::ConnectionLost});
        QVERIFY(checkAndWait(up));
        QVERIFY(waitFor([&] { return !up.inProgress(); }));
        verifyNothingInstalled();
        QCOMPARE(env.dialogs().boxes().size(), 1);
        const BoxRequest box = env.dialogs().boxes().first().request;
        QCOMPARE(box.icon, BoxIcon::Stop);
        QVERIFY2(box.text.contains("data.txt") && box.text.contains(QStringLiteral("没有安装任何文件")),
                 qPrintable(box.text));
        QCOMPARE(up.logLines().size(), 1);
    }

    // A connection that breaks off or a server whose certificate is refused in the middle of a run:
    // one message, one log line, and the files already downloaded are removed.
    void failuresInTheMiddleOfARun_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("said");
        QTest::newRow("connection broken off") << "cut" << QString();
        QTest::newRow("certificate refused") << "tls" << QStringLiteral("证书");
        QTest::newRow("disk full halfway") << "full" << QStringLiteral("磁盘可能已满");
    }

    void failuresInTheMiddleOfARun()
    {
        QFETCH(QString, fault);
        QFETCH(QString, said);
        Environment env;
        QList<ReleaseFile> files = releaseFiles();
        publish("08/16/2010", files);
        NotTlsServer notTls;
        QVERIFY(notTls.port() != 0);
        if (fault == "full") {
            // The program's new version is larger than what the disk still takes.
            files[0].body += QByteArray(64 * 1024, '#');
            publish("08/16/2010", files);
        }
        std::optional<lianbu::test::FileSizeLimit> full;
        if (fault == "cut") {
            HttpResponse cut;
            cut.body = QByteArray(4000, 'd');
            cut.closeAfter = 1000;
            m_site->set("/dl/data.txt", cut);
        } else if (fault == "tls") {
            // No TLS handshake there: the https address fails as a refused certificate does,
            // before any status.
            const QByteArray info = releaseInfo("08/16/2010", files);
            QByteArray secure = info;
            secure.replace(url("/dl/data.txt"),
                           "https://127.0.0.1:" + QByteArray::number(notTls.port()) + "/dl/data.txt");
            m_site->publish(m_publisher, "/info.txt", secure);
        }
        Upgrader up;
        prepare(up);
        if (fault == "full") {
            up.setTransferBufferSize(4096);
            full.emplace(16 * 1024);
            QVERIFY(full->isValid());
        }
        const bool checked = checkAndWait(up);
        full.reset();
        QVERIFY(checked);
        verifyNothingInstalled();
        QCOMPARE(env.dialogs().boxes().size(), 1);
        QVERIFY2(env.dialogs().boxes().first().request.text.contains(said),
                 qPrintable(env.dialogs().boxes().first().request.text));
        QCOMPARE(up.logLines().size(), 1);
    }

    // A program folder that cannot be written: one message saying so, no question, nothing
    // downloaded, and no more checks in this session.
    void readOnlyProgramFolder()
    {
        Environment env;
        publishRelease();
        Upgrader up;
        prepare(up);
        up.setShowMessages({MessageKind::AskUpgrade, MessageKind::LostFile, MessageKind::ConnectionLost});
        QVERIFY(QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                                    | QFileDevice::ExeOther));
        // Permission bits do not stop root: then this thread works on files as an ordinary user.
        const bool root = ::geteuid() == 0;
        if (root)
            ::setfsuid(65534);
        const bool checked = checkAndWait(up);
        if (root)
            ::setfsuid(0);
        QVERIFY(
            QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QVERIFY(checked);
        QCOMPARE(env.dialogs().boxes().size(), 1);
        QVERIFY2(env.dialogs().boxes().first().request.text.contains(QStringLiteral("不能写入")),
                 qPrintable(env.dialogs().boxes().first().request.text));
        QVERIFY(up.userDeclined());
        QVERIFY(downloadRequests().isEmpty());
        QCOMPARE(up.logLines().size(), 1);
        verifyNothingInstalled();
    }

    // The updater is written into a fresh folder of this user's own (mode 700), never to a shared
    // name another user could have taken first.
    void updaterRunsFromAPrivateFolder()
    {
        Environment env;
        publishRelease();
        Upgrader up;
        prepare(up);
        const QString planted = m_tmp.filePath(QStringLiteral("Rurezure3"));
        const QByteArray payload = "#!/bin/sh\necho planted > \"" + QFile::encodeName(m_folder) + "/planted.txt\"\n";
        writeFile(planted, payload, true);
        QVERIFY(checkAndWait(up));
        QCOMPARE(m_closeRequests, 1);
        const QString path = up.lastUpdaterPath();
        const QFileInfo folder(QFileInfo(path).absolutePath());
        QCOMPARE(folder.absolutePath(), QFileInfo(m_tmp.path()).absoluteFilePath());
        QVERIFY2(folder.fileName().startsWith(QLatin1String(updater::kUpdaterFolderPrefix)), qPrintable(path));
        struct stat st
        {};
        QCOMPARE(::lstat(QFile::encodeName(folder.absoluteFilePath()).constData(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
        QCOMPARE(st.st_uid, ::getuid());
        QVERIFY(waitFor([&] { return readFile(m_folder + "/marker.txt") == "v2 /afterupgrade\n"; }));
        QVERIFY(waitFor([&] { return leftovers().isEmpty(); })); // the updater has finished
        QVERIFY(!QFile::exists(m_folder + "/planted.txt"));
        QCOMPARE(readFile(planted), payload);
        // The next start removes the updater's folder.
        Upgrader next;
        QVERIFY(!QFileInfo::exists(folder.absoluteFilePath()));
    }

    // After an upgrade the good start is reported once the first window waits for the operator,
    // however long the operator then takes: not before any window is up, and while it still waits.
    void goodStartOnceTheFirstWindowWaits()
    {
        Environment env;
        const std::string folder = QFile::encodeName(m_folder + "/").toStdString();
        writeFile(m_folder + "/data.txt.uTMP", "new data");
        const auto hash = updater::sha256OfFile(folder + "data.txt.uTMP");
        QVERIFY(hash);
        std::string reason;
        QVERIFY(updater::installEntries(folder, {{"data.txt", 8, *hash}}, {}, reason));
        const QStringList arguments{m_program, QStringLiteral("/afterupgrade")};
        watchForGoodStart(m_program);
        QTest::qWait(300);
        QVERIFY(!QFile::exists(m_folder + "/upgrade.uSTARTED"));
        QVERIFY(goodStartReportedFor().isEmpty());

        QDialog login; // what the operator sees first, for as long as he likes
        bool reportedWhileWaiting = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &login, [&] {
            if (goodStartReportedFor() == m_folder + "/") {
                reportedWhileWaiting = login.isVisible();
                login.accept();
            }
        });
        poll.start(20);
        QTimer::singleShot(10000, &login, &QDialog::reject);
        login.exec();
        QVERIFY(reportedWhileWaiting);
        // With no updater waiting any more, the new version was kept at once.
        QVERIFY(!QFile::exists(m_folder + "/upgrade.uJOURNAL"));

        // The main window's component then tells the user, once.
        Upgrader up;
        up.setProgramPath(m_program);
        up.loaded(arguments);
        QVERIFY(waitFor([&] { return !env.dialogs().boxes().isEmpty(); }));
        QVERIFY(up.restartReportShown().startsWith(QStringLiteral("升级已完成")));
        QCOMPARE(readFile(m_folder + "/data.txt"), QByteArray("new data"));
    }

    // The updater killed while the new version starts leaves nobody to judge that start: the
    // program's own starts do. A new version that never reports a good start (it crashed or hung)
    // is replaced by the old one at the next start; one that reports it is kept.
    void trialStartsAfterAKilledUpdater()
    {
        Environment env;
        const std::string folder = QFile::encodeName(m_folder + "/").toStdString();
        // What a killed updater leaves: every file in place, the journal waiting for the start.
        const auto installAsKilled = [&](const QByteArray &program) {
            writeFile(m_program + ".uTMP", program, true);
            const auto hash = updater::sha256OfFile(folder + "lianbu.uTMP");
            std::string reason;
            return hash
                   && updater::installEntries(folder, {{"lianbu", std::uint64_t(program.size()), *hash}}, {}, reason);
        };
        const QByteArray crashing = "#!/bin/sh\nkill -SEGV $$\n";
        QVERIFY(installAsKilled(crashing));
        std::ostringstream log;
        QVERIFY(!updater::rollBackFailedTrial(folder, log)); // the first start is a trial
        QCOMPARE(readFile(m_program), crashing);
        {
            Upgrader up; // a trial under way is not undone by the component either
            up.setProgramPath(m_program);
            up.loaded({m_program});
        }
        QCOMPARE(readFile(m_program), crashing);
        QVERIFY(updater::rollBackFailedTrial(folder, log)); // no good start came: the old version
        QCOMPARE(readFile(m_program), programScript("v1"));
        QCOMPARE(leftovers(), QStringList());
        {
            Upgrader up;
            up.setProgramPath(m_program);
            up.loaded({m_program});
            QVERIFY(waitFor([&] { return !up.restartReportShown().isEmpty(); }));
            QVERIFY(up.restartReportShown().contains(QStringLiteral("已恢复到原来的版本")));
        }

        QVERIFY(installAsKilled(programScript("v2")));
        QVERIFY(!updater::rollBackFailedTrial(folder, log));
        QVERIFY(updater::reportGoodStart(folder));
        QVERIFY(!updater::rollBackFailedTrial(folder, log));
        QCOMPARE(readFile(m_program), programScript("v2"));
        QCOMPARE(updater::recoverInterruptedInstall(folder, log), updater::Recovery::Committed);
        QCOMPARE(leftovers(), QStringList());

        // While an updater lives, it judges the start; the program's starts count nothing.
        QVERIFY(installAsKilled(programScript("v3")));
        const int lock = updater::takeInstallLock(folder);
        QVERIFY(lock >= 0);
        QVERIFY(!updater::rollBackFailedTrial(folder, log));
        QVERIFY(!updater::rollBackFailedTrial(folder, log));
        updater::releaseInstallLock(lock);
        QCOMPARE(readFile(m_program), programScript("v3"));
    }

    // The program does at its own start what the killed updater could not: a new version whose
    // trial start never reported a good start (it crashed) puts the old version back before
    // anything else runs, and the old version starts in its place.
    void theBuiltProgramRollsBackAFailedTrialAtItsStart()
    {
        const std::string folder = QFile::encodeName(m_folder + "/").toStdString();
        const QByteArray built = readFile(QStringLiteral(LIANBU_PROGRAM_BINARY));
        QVERIFY(!built.isEmpty());
        writeFile(m_program + ".uTMP", built, true);
        const auto hash = updater::sha256OfFile(folder + "lianbu.uTMP");
        QVERIFY(hash);
        std::string reason;
        QVERIFY2(updater::installEntries(folder, {{"lianbu", std::uint64_t(built.size()), *hash}}, {}, reason),
                 reason.c_str());
        std::ostringstream log;
        QVERIFY(!updater::rollBackFailedTrial(folder, log)); // the trial start, which then crashed

        // Started again: without the roll-back it would open a register and wait at the login.
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(home.path());
        program.start(m_program, {});
        const bool ended = program.waitForFinished(15000);
        if (!ended) {
            program.kill();
            program.waitForFinished(5000);
        }
        QVERIFY2(ended, "the new version ran on instead of giving way to the old one");
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(readFile(m_folder + "/marker.txt"), QByteArray("v1 \n"));
        QCOMPARE(readFile(m_program), programScript("v1"));
        QCOMPARE(leftovers(), QStringList());
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
