// The updater program: its command line, its manifest and journal, and whole runs of the real
// binary on a small scripted "program" in a temporary folder whose name holds a blank and Chinese
// text.
#include "tests/support/TestSupport.h"
#include "updater/Install.h"
#include "updater/ProgramLock.h"
#include "updater/UpdaterCore.h"
#include "updater/UpdaterProgram.h"

#include <QDir>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <sstream>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

static void initUpdaterResourceForTest()
{
    Q_INIT_RESOURCE(lianbu_updater);
}

using namespace lianbu::updater;

// The whole runs start stand-in programs that are shell scripts, and the lock cases take flock()
// locks of their own; on Windows test_win32_updater and test_win32_program_lock do both between
// real executables.
#ifdef _WIN32
#define REQUIRE_SHELL_STAND_INS() \
    QSKIP("the stand-in programs are shell scripts: test_win32_updater runs these on Windows")
#else
#define REQUIRE_SHELL_STAND_INS() static_cast<void>(0)
#endif

namespace {

const QString kWaiting = QStringLiteral("waiting for the program to end");

// A stand-in for the program: records its version, its arguments and whether the setup program
// had already finished when it started, then reports a good start as the program does. A broken
// version ends before that report.
QByteArray programScript(const QByteArray &version, bool startsUp = true)
{
    if (!startsUp)
        return "#!/bin/sh\n# " + version + "\nexit 3\n";
    return "#!/bin/sh\n"
           "d=$(dirname \"$0\")\n"
           "extra=\n"
           "[ -f \"$d/setup.done\" ] && extra=' after-setup'\n"
           "printf '%s %s%s\\n' "
           + version + " \"$*\" \"$extra\" > \"$d/marker.tmp\" && mv \"$d/marker.tmp\" \"$d/marker.txt\"\n"
           + "echo $$ > \"$d/upgrade.uSTARTED\"\n";
}

// A stand-in for a downloaded setup program.
QByteArray setupScript()
{
    return "#!/bin/sh\n"
           "d=$(dirname \"$0\")\n"
           "sleep 0.2\n"
           "printf 'setup %s\\n' \"$*\" > \"$d/setup.tmp\" && mv \"$d/setup.tmp\" \"$d/setup.done\"\n";
}

void writeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions perms = {})
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
    f.close();
    if (perms)
        QVERIFY(f.setPermissions(perms));
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QFileDevice::Permissions kExecutable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                             | QFileDevice::ReadGroup | QFileDevice::ExeGroup;
const QFileDevice::Permissions kPlain = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Waits (without asserting any duration) for a file the detached program writes.
QByteArray waitForFile(const QString &path, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(path) && t.elapsed() < ms)
        QThread::msleep(20);
    return readFile(path);
}

QStringList updateFilesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.uTMP")}, QDir::Files | QDir::Hidden, QDir::Name);
}

std::vector<std::string> toStd(const QStringList &list)
{
    std::vector<std::string> out;
    for (const auto &s : list)
        out.push_back(s.toStdString());
    return out;
}

// The manifest the program writes for the listed downloads (hashes computed here independently).
void writeManifest(const QString &folder, const QStringList &names)
{
    QByteArray text = "lianbu upgrade manifest 1\n";
    for (const QString &name : names) {
        const QByteArray bytes = readFile(folder + "/" + name + ".uTMP");
        text += QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex() + ' '
                + QByteArray::number(bytes.size()) + ' ' + name.toUtf8() + '\n';
    }
    writeFile(folder + "/upgrade.uMANIFEST", text);
}

QString resultIn(const QString &folder)
{
    return QString::fromUtf8(readFile(folder + "/upgrade.uRESULT")).trimmed();
}

// Reads the updater's messages until text shows up or it ends.
bool waitForOutput(QProcess &proc, QByteArray &seen, const QString &text)
{
    QElapsedTimer t;
    t.start();
    while (!seen.contains(text.toUtf8()) && t.elapsed() < 10000) {
        proc.waitForReadyRead(100);
        seen += proc.readAllStandardError();
        if (proc.state() == QProcess::NotRunning)
            break;
    }
    return seen.contains(text.toUtf8());
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT

    QTemporaryDir base_;
    QString folder_;  // the program folder, with a blank in its name
    QString program_; // folder_ + "/lianbu"

    void startProcess(QProcess &proc, const QStringList &args, double waitSeconds)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kWaitEnvironment), QString::number(waitSeconds));
        env.insert(QString::fromLatin1(kStartWaitEnvironment), QStringLiteral("20"));
        proc.setProcessEnvironment(env);
        proc.setWorkingDirectory(folder_);
        proc.start(QStringLiteral(LIANBU_UPDATER_BINARY), args);
        QVERIFY(proc.waitForStarted());
    }

    int runUpdater(const QStringList &args, QByteArray *messages = nullptr)
    {
        QProcess proc;
        startProcess(proc, args, 30);
        if (!proc.waitForFinished(30000))
            return -1;
        if (messages)
            *messages = proc.readAllStandardError();
        return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -2;
    }

    // Program version 1 with downloaded version 2, a changed data file and a new settings file.
    void prepareUpgrade()
    {
        writeFile(program_, programScript("v1"), kExecutable);
        writeFile(program_ + ".uTMP", programScript("v2"), kPlain);
        writeFile(folder_ + "/data.txt", "old data");
        writeFile(folder_ + "/data.txt.uTMP", "new data");
        writeFile(folder_ + "/new.cfg.uTMP", "new settings");
        writeManifest(folder_, {"data.txt", "lianbu", "new.cfg"});
    }

    // The old version, whole: nothing new, nothing kept aside, no journal.
    void verifyOldVersion()
    {
        QCOMPARE(readFile(program_), programScript("v1"));
        QVERIFY(QFileInfo(program_).isExecutable());
        QCOMPARE(readFile(folder_ + "/data.txt"), QByteArray("old data"));
        QVERIFY(!QFile::exists(folder_ + "/new.cfg"));
        QVERIFY(QDir(folder_).entryList({"*.uOLD", "upgrade.uJOURNAL", "upgrade.uMANIFEST"}, QDir::Files).isEmpty());
    }

    void verifyUntouched()
    {
        QCOMPARE(readFile(program_), programScript("v1"));
        QCOMPARE(readFile(folder_ + "/data.txt"), QByteArray("old data"));
        QVERIFY(!QFile::exists(folder_ + "/new.cfg"));
        QCOMPARE(updateFilesIn(folder_), QStringList({"data.txt.uTMP", "lianbu.uTMP", "new.cfg.uTMP"}));
        QVERIFY(!QFile::exists(folder_ + "/marker.txt"));
    }

    void verifyUpgraded()
    {
        // The program is started last, so once it has run everything else is in place.
        QCOMPARE(waitForFile(folder_ + "/marker.txt"), QByteArray("v2 /afterupgrade\n"));
        QVERIFY(updateFilesIn(folder_).isEmpty());
        QCOMPARE(readFile(program_), programScript("v2"));
        QVERIFY2(QFileInfo(program_).isExecutable(), "the new program keeps the executable bit");
        QCOMPARE(readFile(folder_ + "/data.txt"), QByteArray("new data"));
        QCOMPARE(readFile(folder_ + "/new.cfg"), QByteArray("new settings"));
        // The updater tidies up as soon as it has seen the good start.
        QElapsedTimer t;
        t.start();
        while (!QDir(folder_).entryList({"*.uOLD", "upgrade.uJOURNAL"}, QDir::Files).isEmpty() && t.elapsed() < 10000)
            QThread::msleep(20);
        QVERIFY(QDir(folder_).entryList({"*.uOLD", "upgrade.uJOURNAL", "upgrade.uMANIFEST"}, QDir::Files).isEmpty());
        QVERIFY(!QFile::exists(folder_ + "/upgrade.uRESULT")); // the program itself says it
    }

private slots:
    void initTestCase()
    {
        lianbu::test::enterTestMode();
        QVERIFY(base_.isValid());
    }

    void init()
    {
        folder_ = base_.path() + "/" + QTest::currentTestFunction() + " 程序 目录";
        QVERIFY(QDir().mkpath(folder_));
        program_ = folder_ + "/lianbu";
    }

    void cleanup() { releaseProgramLock(); }

    void parseCommandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("param");
        QTest::addColumn<char>("method");

        QTest::newRow("plain") << QStringList{"/opt/app/lianbu", "+/afterupgrade0"} << "/opt/app/lianbu"
                               << "/afterupgrade" << '0';
        QTest::newRow("setup method") << QStringList{"/opt/app/lianbu", "+/afterupgrade1"} << "/opt/app/lianbu"
                                      << "/afterupgrade" << '1';
        QTest::newRow("other digit") << QStringList{"/opt/app/lianbu", "+/afterupgrade7"} << "/opt/app/lianbu"
                                     << "/afterupgrade" << '0';
        QTest::newRow("unquoted, split at blanks")
            << QStringList{"/home/王", "五/my", "app/lianbu", "+/afterupgrade1"} << "/home/王 五/my app/lianbu"
            << "/afterupgrade" << '1';
        QTest::newRow("unquoted, one argument") << QStringList{"/home/a b/lianbu +/afterupgrade0"} << "/home/a b/lianbu"
                                                << "/afterupgrade" << '0';
        QTest::newRow("whole arguments with blanks")
            << QStringList{"/home/a b/lianbu", "+/afterupgrade0"} << "/home/a b/lianbu"
            << "/afterupgrade" << '0';
        QTest::newRow("path ending in a blank") << QStringList{"/opt/lianbu ", "+/afterupgrade0"} << "/opt/lianbu "
                                                << "/afterupgrade" << '0';
        QTest::newRow("plus signs in the path")
            << QStringList{"/opt/c++ +x/lianbu", "+/afterupgrade1"} << "/opt/c++ +x/lianbu"
            << "/afterupgrade" << '1';
        QTest::newRow("quoted") << QStringList{"\"/home/a b/lianbu\"", "+/afterupgrade1"} << "/home/a b/lianbu"
                                << "/afterupgrade" << '1';
        QTest::newRow("quoted, one argument") << QStringList{"\"/home/a b/x +y\" +/afterupgrade0"} << "/home/a b/x +y"
                                              << "/afterupgrade" << '0';
        QTest::newRow("quoted, doubled quote inside")
            << QStringList{"\"/home/say \"\"hi\"\"/lianbu\" +/afterupgrade0"} << "/home/say \"hi\"/lianbu"
            << "/afterupgrade" << '0';
        QTest::newRow("unclosed quote") << QStringList{"\"/home/a b/lianbu", "+/afterupgrade0"} << "\"/home/a b/lianbu"
                                        << "/afterupgrade" << '0';
        QTest::newRow("no parameter, path ends in 1") << QStringList{"/opt/app1/lianbu1"} << "/opt/app1/lianbu1"
                                                      << "" << '0';
        QTest::newRow("quoted, no parameter") << QStringList{"\"/opt/a b/lianbu\""} << "/opt/a b/lianbu"
                                              << "" << '0';
        QTest::newRow("bare plus") << QStringList{"/opt/lianbu", "+"} << "/opt/lianbu"
                                   << "" << '0';
        QTest::newRow("no arguments") << QStringList{} << ""
                                      << "" << '0';
        QTest::newRow("parameter only") << QStringList{"+/afterupgrade0"} << ""
                                        << "" << '0';
        QTest::newRow("blank path") << QStringList{" ", "+/afterupgrade0"} << ""
                                    << "" << '0';
    }

    void parseCommandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, path);
        QFETCH(QString, param);
        QFETCH(char, method);
        const CommandLine cmd = lianbu::updater::parseCommandLine(toStd(args));
        QCOMPARE(QString::fromStdString(cmd.programPath), path);
        QCOMPARE(QString::fromStdString(cmd.restartParam), param);
        QCOMPARE(cmd.method, method);
    }

    // Whatever the program writes, the updater reads back the same path.
    void formatRoundTrip_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << "/opt/app/lianbu";
        QTest::newRow("blanks") << "/home/王 五/my app/lianbu";
        QTest::newRow("quotes and plus") << "/home/\"q\" +1/lianbu";
        QTest::newRow("tab") << "/home/a\tb/lianbu";
    }

    void formatRoundTrip()
    {
        QFETCH(QString, path);
        for (char method : {'0', '1'}) {
            const std::string text = formatArguments(path.toStdString(), "/afterupgrade", method);
            const CommandLine cmd = parseCommandText(text);
            QCOMPARE(QString::fromStdString(cmd.programPath), path);
            QCOMPARE(cmd.restartParam, std::string("/afterupgrade"));
            QCOMPARE(cmd.method, method);
        }
    }

    void programSideCommandLine()
    {
        QCOMPARE(updaterCommandLine("/tmp/Rurezure3", "/opt/app/lianbu", "+/afterupgrade0"),
                 QString("/tmp/Rurezure3 /opt/app/lianbu +/afterupgrade0"));
        const QString line = updaterCommandLine("/tmp/my tmp/Rurezure3", "/home/王 五/lianbu", "+/afterupgrade1");
        QCOMPARE(line, QString("\"/tmp/my tmp/Rurezure3\" \"/home/王 五/lianbu\" +/afterupgrade1"));
        // What follows the updater's own path is what the updater parses.
        const CommandLine cmd = parseCommandText(line.mid(QString("\"/tmp/my tmp/Rurezure3\" ").size()).toStdString());
        QCOMPARE(QString::fromStdString(cmd.programPath), QString("/home/王 五/lianbu"));
        QCOMPARE(cmd.method, '1');
        QCOMPARE(updaterArguments("/home/a b/lianbu", "+/afterupgrade0"),
                 QStringList({"/home/a b/lianbu", "+/afterupgrade0"}));
    }

    void updaterLocation()
    {
        const QString updater = QString::fromLatin1(kUpdaterName); // with ".exe" on Windows
        QCOMPARE(updaterPathFor(base_.path(), "/opt/app"), base_.path() + "/" + updater);
        QCOMPARE(updaterPathFor(base_.path() + "/missing", "/opt/app"), "/opt/app/" + updater);
        writeFile(base_.path() + "/a-file", "x");
        QCOMPARE(updaterPathFor(base_.path() + "/a-file", "/opt/app"), "/opt/app/" + updater);
    }

    // The manifest names plain files of the program folder only; a file that does not match its
    // line, a link, or a target that is no regular file stops the install before anything changes.
    void manifestAndVerification()
    {
        const std::string folder = (folder_ + "/").toStdString();
        writeFile(folder_ + "/a.dat.uTMP", "new a");
        writeFile(folder_ + "/b.dat.uTMP", QByteArray(100000, 'b'));
        writeManifest(folder_, {"a.dat", "b.dat"});
        std::string text;
        QVERIFY(readWholeFile(folder + kManifestFile, text));
        const auto entries = parseManifest(text);
        QVERIFY(entries && entries->size() == 2);
        QCOMPARE((*entries)[1].size, std::uint64_t(100000));
        QCOMPARE(parseManifest(formatManifest(*entries))->at(0).sha256, (*entries)[0].sha256);
        std::string reason;
        QVERIFY2(verifyEntries(folder, *entries, reason), reason.c_str());

        const std::string hash(64, 'a');
        for (const char *name : {"../x", "a/b", "..", "x.uTMP", "x.uOLD", "upgrade.uJOURNAL", kUpdaterName, ""})
            QVERIFY2(!parseManifest("lianbu upgrade manifest 1\n" + hash + " 1 " + name + "\n"), name);
        QVERIFY(!parseManifest("lianbu upgrade manifest 1\n" + hash + " 1 a\n" + hash + " 2 a\n"));
        QVERIFY(!parseManifest("lianbu upgrade manifest 1\n" + hash + " -1 a\n"));
        QVERIFY(!parseManifest(hash + " 1 a\n"));

        writeFile(folder_ + "/a.dat.uTMP", "new A"); // same size, other bytes
        QVERIFY(!verifyEntries(folder, *entries, reason));
        QVERIFY(reason.find("a.dat.uTMP") != std::string::npos);
        writeFile(folder_ + "/a.dat.uTMP", "new a");
        QVERIFY(QDir(folder_).mkdir("b.dat"));
        QVERIFY(!verifyEntries(folder, *entries, reason));
        QVERIFY(QDir(folder_).rmdir("b.dat"));
        const QString outside = base_.path() + "/outside-b";
        writeFile(outside, QByteArray(100000, 'b'), kPlain);
        QVERIFY(QFile::remove(folder_ + "/b.dat.uTMP"));
        QVERIFY(QFile::link(outside, folder_ + "/b.dat.uTMP"));
        QVERIFY(!verifyEntries(folder, *entries, reason));

        QVERIFY(isSetupName("setup.exe") && isSetupName("install.sh") && isSetupName("lianbu-2.0.run"));
        QVERIFY(!isSetupName("lianbu") && !isSetupName("readme.txt") && !isSetupName("exe.dat"));
    }

    void programLockExcludesUpdater()
    {
#ifdef _WIN32
        QSKIP("flock() locks: test_win32_program_lock checks the lock on Windows");
#else
        writeFile(program_, "x", kExecutable);
        QVERIFY(holdProgramLock(program_.toStdString()));
        QVERIFY(programLockHeld());
        // Another instance shares the lock; the updater's exclusive lock is refused.
        const int other = ::open(QFile::encodeName(program_).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(other >= 0);
        QVERIFY(!otherInstanceRunning(program_.toStdString())); // our own lock does not count
        QCOMPARE(::flock(other, LOCK_SH | LOCK_NB), 0);
        QVERIFY(otherInstanceRunning(program_.toStdString()));
        QVERIFY(otherInstanceRunning(program_.toStdString())); // asking keeps our own lock
        QVERIFY(::flock(other, LOCK_EX | LOCK_NB) != 0);
        ::flock(other, LOCK_UN);
        QVERIFY(!otherInstanceRunning(program_.toStdString()));
        releaseProgramLock();
        QVERIFY(!programLockHeld());
        // While an updater holds the exclusive lock, a starting program does not get its lock.
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
        QVERIFY(!holdProgramLock(program_.toStdString()));
        ::close(other);
        QVERIFY(holdProgramLock(program_.toStdString()));
        QVERIFY(!holdProgramLock((folder_ + "/missing").toStdString()));
#endif
    }

    void ownLockIsOnTheRunningExecutable()
    {
#ifdef _WIN32
        QSKIP("flock() locks: test_win32_program_lock checks the lock on Windows");
#else
        QVERIFY(holdOwnProgramLock());
        const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
        const int fd = ::open(self.constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        QVERIFY(::flock(fd, LOCK_EX | LOCK_NB) != 0);
        releaseProgramLock();
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
#endif
    }

    void withoutArgumentsItOnlyExplains()
    {
        QByteArray messages;
        QCOMPARE(runUpdater({}, &messages), exitStatus(ExitCode::Usage));
        QVERIFY(messages.contains("Rurezure3"));
    }

    // The updater waits while the program runs, then replaces everything and restarts it. The
    // arguments come as a launcher that splits at every blank would pass them.
    void waitsForProgramThenUpgrades()
    {
        REQUIRE_SHELL_STAND_INS();
        prepareUpgrade();
        QVERIFY(holdProgramLock(program_.toStdString()));
        QProcess proc;
        startProcess(proc, (program_ + " +/afterupgrade0").split(' '), 30);
        QByteArray seen;
        QVERIFY2(waitForOutput(proc, seen, kWaiting), seen.constData());
        verifyUntouched();

        releaseProgramLock(); // the program ends
        QVERIFY(proc.waitForFinished(15000));
        QCOMPARE(proc.exitCode(), exitStatus(ExitCode::Ok));
        verifyUpgraded();
    }

    // Another instance still running: nothing is installed, the downloads are dropped, and the
    // reason waits for the program's next start.
    void givesUpWhenProgramDoesNotEnd()
    {
        REQUIRE_SHELL_STAND_INS();
        prepareUpgrade();
        QVERIFY(holdProgramLock(program_.toStdString()));
        QProcess proc;
        startProcess(proc, {"\"" + program_ + "\" +/afterupgrade0"}, 0.5);
        QVERIFY(proc.waitForFinished(15000));
        QCOMPARE(proc.exitCode(), exitStatus(ExitCode::ProgramStillRunning));
        QVERIFY(proc.readAllStandardError().contains("nothing was changed"));
        verifyOldVersion();
        QVERIFY(updateFilesIn(folder_).isEmpty());
        QVERIFY(resultIn(folder_).startsWith("notstarted "));
    }

    void killedWhileWaitingThenRunAgain()
    {
        REQUIRE_SHELL_STAND_INS();
        prepareUpgrade();
        QVERIFY(holdProgramLock(program_.toStdString()));
        QProcess proc;
        startProcess(proc, {program_, "+/afterupgrade0"}, 30);
        QByteArray seen;
        QVERIFY2(waitForOutput(proc, seen, kWaiting), seen.constData());
        proc.kill();
        QVERIFY(proc.waitForFinished(5000));
        verifyUntouched();

        releaseProgramLock();
        QCOMPARE(runUpdater({program_, "+/afterupgrade0"}), exitStatus(ExitCode::Ok));
        verifyUpgraded();
    }

    // An updater killed after its first rename: the next updater (or the next start of the
    // program) finds the journal and puts every old file back; old and new are never mixed.
    void killedAfterFirstRenameIsRolledBack()
    {
        REQUIRE_SHELL_STAND_INS();
        for (const bool byProgram : {false, true}) {
            prepareUpgrade();
            writeFile(folder_ + "/stale.uTMP", "a leftover of a cancelled download");
            const std::string folder = (folder_ + "/").toStdString();
            std::string text;
            QVERIFY(readWholeFile(folder + kManifestFile, text));
            InstallOptions stopEarly;
            stopEarly.maxRenames = 1;
            std::string reason;
            QVERIFY(installEntries(folder, *parseManifest(text), stopEarly, reason));
            QCOMPARE(readFile(folder_ + "/data.txt"), QByteArray("new data")); // the first rename happened
            QVERIFY(QFile::exists(folder_ + "/upgrade.uJOURNAL"));

            if (byProgram) {
                std::ostringstream log;
                QCOMPARE(recoverInterruptedInstall(folder, log), Recovery::RolledBack);
                QCOMPARE(recoverInterruptedInstall(folder, log), Recovery::None);
            } else {
                QCOMPARE(runUpdater({program_, "+/afterupgrade0"}), exitStatus(ExitCode::Ok));
                QCOMPARE(waitForFile(folder_ + "/marker.txt"), QByteArray("v1 /afterupgrade\n"));
                QVERIFY(QFile::remove(folder_ + "/marker.txt"));
            }
            verifyOldVersion();
            QVERIFY(updateFilesIn(folder_).isEmpty());
            QVERIFY(resultIn(folder_).startsWith("rolledback "));
            QVERIFY(QFile::remove(folder_ + "/upgrade.uRESULT"));
        }
    }

    // A journal whose program reported its good start is completed, not undone.
    void interruptedAfterGoodStartIsCompleted()
    {
        REQUIRE_SHELL_STAND_INS();
        prepareUpgrade();
        const std::string folder = (folder_ + "/").toStdString();
        std::string text, reason;
        QVERIFY(readWholeFile(folder + kManifestFile, text));
        QVERIFY(installEntries(folder, *parseManifest(text), {}, reason));
        QVERIFY(installAwaitingStart(folder));
        QVERIFY(reportGoodStart(folder));
        std::ostringstream log;
        QCOMPARE(recoverInterruptedInstall(folder, log), Recovery::Committed);
        QVERIFY(!installAwaitingStart(folder));
        QCOMPARE(readFile(program_), programScript("v2"));
        Outcome outcome;
        QVERIFY(!takeResult(folder, outcome, reason));
    }

    // A new version that ends without reporting a good start is replaced by the old one again,
    // which is then started.
    void brokenNewVersionIsRolledBack()
    {
        REQUIRE_SHELL_STAND_INS();
        prepareUpgrade();
        writeFile(program_ + ".uTMP", programScript("v2", false), kPlain);
        writeManifest(folder_, {"data.txt", "lianbu", "new.cfg"});
        QCOMPARE(runUpdater({program_, "+/afterupgrade0"}), exitStatus(ExitCode::RolledBack));
        QCOMPARE(waitForFile(folder_ + "/marker.txt"), QByteArray("v1 /afterupgrade\n"));
        verifyOldVersion();
        QVERIFY(updateFilesIn(folder_).isEmpty());
        QVERIFY(resultIn(folder_).startsWith("rolledback "));
    }

    // Leftovers and files that do not match the manifest are never installed. A listed file whose
    // bytes changed after the manifest was written stops the whole install, and the program still
    // comes back.
    void onlyVerifiedListedFilesAreInstalled()
    {
        REQUIRE_SHELL_STAND_INS();
        writeFile(program_, programScript("v1"), kExecutable);
        writeFile(folder_ + "/a.txt.uTMP", "new a");
        writeFile(folder_ + "/...uTMP", "a bad name");
        writeFile(folder_ + "/half.bin.uTMP", "half of a cancelled download");
        writeManifest(folder_, {"a.txt"});
        QCOMPARE(runUpdater({program_, "+/afterupgrade0"}), exitStatus(ExitCode::Ok));
        QCOMPARE(readFile(folder_ + "/a.txt"), QByteArray("new a"));
        QVERIFY(updateFilesIn(folder_).isEmpty());
        QVERIFY(!QFile::exists(folder_ + "/half.bin"));
        QCOMPARE(waitForFile(folder_ + "/marker.txt"), QByteArray("v1 /afterupgrade\n"));
        QVERIFY(QFile::remove(folder_ + "/marker.txt"));

        writeFile(folder_ + "/a.txt.uTMP", "newer a");
        writeFile(folder_ + "/b.txt.uTMP", "new b");
        writeManifest(folder_, {"b.txt", "a.txt"});
        writeFile(folder_ + "/a.txt.uTMP", "tampered");
        QByteArray messages;
        QCOMPARE(runUpdater({program_, "+/afterupgrade0"}, &messages), exitStatus(ExitCode::ReplaceFailed));
        QVERIFY(messages.contains("a.txt.uTMP"));
        QCOMPARE(readFile(folder_ + "/a.txt"), QByteArray("new a"));
        QVERIFY(!QFile::exists(folder_ + "/b.txt"));
        QVERIFY(updateFilesIn(folder_).isEmpty());
        QVERIFY(resultIn(folder_).startsWith("rejected "));
        QCOMPARE(waitForFile(folder_ + "/marker.txt"), QByteArray("v1 /afterupgrade\n"));

        // Without a manifest nothing at all is installed.
        QVERIFY(QFile::remove(folder_ + "/marker.txt"));
        writeFile(folder_ + "/c.txt.uTMP", "new c");
        QCOMPARE(runUpdater({program_, "+/afterupgrade0"}), exitStatus(ExitCode::Ok));
        QVERIFY(!QFile::exists(folder_ + "/c.txt"));
        QVERIFY(updateFilesIn(folder_).isEmpty());
    }

    void updatesProgramStartedFromAnotherFolder()
    {
        REQUIRE_SHELL_STAND_INS();
        // The restarted program keeps the updater's working folder (where its database is).
        writeFile(program_, "#!/bin/sh\npwd > \"$(dirname \"$0\")/cwd.txt\"\n", kExecutable);
        QProcess proc;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        proc.setProcessEnvironment(env);
        proc.setWorkingDirectory(base_.path());
        proc.start(QStringLiteral(LIANBU_UPDATER_BINARY), {program_, "+/afterupgrade0"});
        QVERIFY(proc.waitForFinished(15000));
        QCOMPARE(proc.exitCode(), exitStatus(ExitCode::Ok));
        QCOMPARE(QDir(QString::fromUtf8(waitForFile(folder_ + "/cwd.txt").trimmed())).canonicalPath(),
                 QDir(base_.path()).canonicalPath());
    }

    // A program file that is missing (deleted by hand) is not waited for; its download restores it.
    void missingProgramIsRestored()
    {
        REQUIRE_SHELL_STAND_INS();
        writeFile(program_ + ".uTMP", programScript("v2"), kExecutable);
        writeManifest(folder_, {"lianbu"});
        QCOMPARE(runUpdater({program_, "+/afterupgrade0"}), exitStatus(ExitCode::Ok));
        QCOMPARE(waitForFile(folder_ + "/marker.txt"), QByteArray("v2 /afterupgrade\n"));
        QVERIFY(updateFilesIn(folder_).isEmpty());
    }

    // Method "1": the downloaded setup program runs first, is deleted when it has ended, and then
    // the program (never deleted) is started again.
    void setupMethodRunsSetupFirst()
    {
        REQUIRE_SHELL_STAND_INS();
        writeFile(program_, programScript("v1"), kExecutable);
        writeFile(folder_ + "/setup.sh.uTMP", setupScript(), kPlain);
        writeFile(folder_ + "/data.txt.uTMP", "new data");
        writeManifest(folder_, {"data.txt", "setup.sh"});
        QCOMPARE(runUpdater({"\"" + program_ + "\"", "+/afterupgrade1"}), exitStatus(ExitCode::Ok));
        QCOMPARE(readFile(folder_ + "/setup.done"), QByteArray("setup /afterupgrade\n"));
        QVERIFY(!QFile::exists(folder_ + "/setup.sh"));
        QCOMPARE(readFile(folder_ + "/data.txt"), QByteArray("new data"));
        QCOMPARE(readFile(program_), programScript("v1"));
        QCOMPARE(waitForFile(folder_ + "/marker.txt"), QByteArray("v1 /afterupgrade after-setup\n"));
        QVERIFY(updateFilesIn(folder_).isEmpty());
    }

    void setupMethodWithoutSetupOnlyReplaces()
    {
        REQUIRE_SHELL_STAND_INS();
        writeFile(program_, programScript("v1"), kExecutable);
        writeFile(folder_ + "/data.txt.uTMP", "new data");
        writeManifest(folder_, {"data.txt"});
        QCOMPARE(runUpdater({program_, "+/afterupgrade1"}), exitStatus(ExitCode::Ok));
        QCOMPARE(readFile(folder_ + "/data.txt"), QByteArray("new data"));
        QCOMPARE(waitForFile(folder_ + "/marker.txt"), QByteArray("v1 /afterupgrade\n"));
        QVERIFY(QFileInfo(program_).isExecutable());
    }

    void setupMethodWhileProgramReplacesItself()
    {
        REQUIRE_SHELL_STAND_INS();
        writeFile(program_, programScript("v1"), kExecutable);
        writeFile(program_ + ".uTMP", programScript("v2"), kPlain);
        writeFile(folder_ + "/setup.sh.uTMP", setupScript(), kPlain);
        writeManifest(folder_, {"lianbu", "setup.sh"});
        QCOMPARE(runUpdater({program_, "+/afterupgrade1"}), exitStatus(ExitCode::Ok));
        QCOMPARE(waitForFile(folder_ + "/marker.txt"), QByteArray("v2 /afterupgrade\n"));
        // Not run, so kept as an ordinary file.
        QCOMPARE(readFile(folder_ + "/setup.sh"), setupScript());
        QVERIFY(!QFile::exists(folder_ + "/setup.done"));
    }

    void embeddedUpdaterIsTheBuiltOne()
    {
        initUpdaterResourceForTest();
        const QByteArray built = readFile(QStringLiteral(LIANBU_UPDATER_BINARY));
        QVERIFY(built.size() > 1000);
        QCOMPARE(readFile(QString::fromLatin1(kUpdaterResource)), built);

        const QString path = folder_ + "/" + QString::fromLatin1(kUpdaterName);
        writeFile(path, "an older updater", kPlain);
        QVERIFY(writeUpdaterProgram(path));
        QCOMPARE(readFile(path), built);
        QVERIFY(QFileInfo(path).isExecutable());
        QCOMPARE(QDir(folder_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({QString::fromLatin1(kUpdaterName)}));
        QVERIFY(!writeUpdaterProgram(folder_ + "/missing/" + QString::fromLatin1(kUpdaterName)));

        QVERIFY(removeUpdaterProgram(path));
        QVERIFY(!QFile::exists(path));
        QVERIFY(removeUpdaterProgram(path));
    }

    // The program's whole part: write the embedded updater to the temporary folder and start it.
    void launchFromProgram()
    {
        REQUIRE_SHELL_STAND_INS();
        prepareUpgrade();
        const QString temp = base_.path() + "/tmp";
        QVERIFY(QDir().mkpath(temp));
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temp));
        const QString started = launchUpdater(program_, "+/afterupgrade0");
        if (oldTmp.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTmp);
        // In a folder of its own, which nobody else may enter.
        const QFileInfo folder(QFileInfo(started).absolutePath());
        QCOMPARE(folder.absolutePath(), temp);
        QVERIFY(folder.fileName().startsWith(QLatin1String(kUpdaterFolderPrefix)));
        QCOMPARE(QFile::permissions(folder.absoluteFilePath()) & 0x0077, QFileDevice::Permissions());
        QCOMPARE(QFileInfo(started).fileName(), QStringLiteral("Rurezure3"));
        QVERIFY(QFileInfo(started).isExecutable());
        verifyUpgraded();
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "test_updater.moc"
