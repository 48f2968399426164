// Clock, shell, folders, whole-file writes and the desktop entry.
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/DesktopShortcut.h"
#include "platform/Installation.h"
#include "platform/Paths.h"
#include "platform/Shell.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

using namespace lianbu;
using lianbu::test::Environment;

namespace {

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString entryValue(const QString &text, const QString &key)
{
    for (const QString &line : text.split(QLatin1Char('\n')))
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1);
    return QStringLiteral("<missing>");
}

} // namespace

class TestPlatformServices : public QObject
{
    Q_OBJECT

private slots:
    void dateTextFormats_data();
    void dateTextFormats();
    void fixedNowAndBackToTheSystemClock();

    void shellOpensWebAddressesAndFiles();

    void foldersAreThePrivateOnesUnderTest();

    void fileWritesAreWholeOrNothing();
    void aFullDiskKeepsTheOldFile();
    void desktopEntryText();
    void desktopEntryQuotesAwkwardPaths();
    void desktopEntryIsRewrittenEveryTime();
    void desktopEntryFailsQuietlyWithoutADesktop();
    void desktopEntryOfThePackagedProgram();
};

void TestPlatformServices::dateTextFormats_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("dateTime");
    QTest::newRow("afternoon") << QDateTime(QDate(2010, 8, 15), QTime(14, 5, 9)) << "2010-08-15"
                               << "2010-08-15 14:05:09";
    QTest::newRow("single-digit hour") << QDateTime(QDate(2010, 1, 2), QTime(9, 0, 0)) << "2010-01-02"
                                       << "2010-01-02 9:00:00";
    QTest::newRow("exactly midnight") << QDateTime(QDate(2010, 12, 31), QTime(0, 0)) << "2010-12-31"
                                      << "2010-12-31";
    QTest::newRow("one second past") << QDateTime(QDate(2010, 12, 31), QTime(0, 0, 1)) << "2010-12-31"
                                     << "2010-12-31 0:00:01";
    QTest::newRow("a millisecond past") << QDateTime(QDate(2010, 12, 31), QTime(0, 0, 0, 1)) << "2010-12-31"
                                        << "2010-12-31 0:00:00";
    QTest::newRow("invalid") << QDateTime() << ""
                             << "";
}

void TestPlatformServices::dateTextFormats()
{
    QFETCH(QDateTime, moment);
    QFETCH(QString, date);
    QFETCH(QString, dateTime);
    QCOMPARE(dateText(moment.date()), date);
    QCOMPARE(dateTimeText(moment), dateTime);
}

void TestPlatformServices::fixedNowAndBackToTheSystemClock()
{
    Environment env;
    const QDateTime moment(QDate(2011, 3, 4), QTime(10, 20, 30));
    setFixedNow(moment);
    QCOMPARE(now(), moment);
    QCOMPARE(today(), QDate(2011, 3, 4));
    setFixedNow(QDateTime());
    const QDateTime before = QDateTime::currentDateTime();
    const QDateTime current = now();
    QVERIFY(current >= before);
    QVERIFY(current.date() != QDate(2011, 3, 4));
    // The environment resets a fixed clock when it ends.
    {
        Environment inner;
        setFixedNow(moment);
    }
    QVERIFY(now() != moment);
}

void TestPlatformServices::shellOpensWebAddressesAndFiles()
{
    Environment env;
    test::RecordingShell &sh = env.shell();
    QVERIFY(openWebAddress(QStringLiteral("http://www.example.com/support")));
    QVERIFY(openWebAddress(QStringLiteral("  www.example.com ")));
    QVERIFY(openFile(QStringLiteral("客户 列表.xls")));
    QCOMPARE(sh.opened.size(), 3);
    QCOMPARE(sh.opened.at(0), QUrl("http://www.example.com/support"));
    QCOMPARE(sh.opened.at(1).host(), QStringLiteral("www.example.com"));
    QVERIFY(sh.opened.at(1).scheme().startsWith(QStringLiteral("http")));
    // A relative file is opened from the working folder, as a local-file address.
    QVERIFY(sh.opened.at(2).isLocalFile());
    QCOMPARE(sh.opened.at(2).toLocalFile(), QDir::current().absoluteFilePath("客户 列表.xls"));

    QVERIFY(!openWebAddress(QStringLiteral("   ")));
    QVERIFY(!openFile(QString()));
    QCOMPARE(sh.opened.size(), 3); // nothing asked of the desktop for empty input

    sh.result = false; // the desktop refuses
    QVERIFY(!openFile(QStringLiteral("a.xls")));
    QCOMPARE(sh.opened.size(), 4);
}

void TestPlatformServices::foldersAreThePrivateOnesUnderTest()
{
    Environment env;
    QCOMPARE(QDir(paths::workingFolder()).canonicalPath(), QDir(env.path()).canonicalPath());
    QCOMPARE(paths::desktopFolder(), env.desktopPath());
    QVERIFY(paths::userConfigFolder().startsWith(env.homePath()));
    QVERIFY(paths::userDataFolder().startsWith(env.homePath()));
    QCOMPARE(paths::settingsFilePath(), paths::userConfigFolder() + QStringLiteral("/lianbu.ini"));
    QCOMPARE(paths::programFolder(), QCoreApplication::applicationDirPath());
    QCOMPARE(paths::tempFolder(), QDir::tempPath());
}

void TestPlatformServices::fileWritesAreWholeOrNothing()
{
    Environment env;
    const QString path = env.filePath(QStringLiteral("名单.txt"));
    QVERIFY(writeFileAtomically(path, "old"));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    // Nothing is visible under the name before commit(); the old file's permissions are kept.
    {
        AtomicFileWriter out(path);
        QVERIFY(out.open());
        QCOMPARE(out.write("new contents"), qint64(12));
        QCOMPARE(readText(path), QStringLiteral("old"));
        QVERIFY(out.commit());
    }
    QCOMPARE(readText(path), QStringLiteral("new contents"));
    QCOMPARE(QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    // Dropped without commit(): the old file stays, no temporary file is left.
    {
        AtomicFileWriter out(path);
        QVERIFY(out.open());
        out.write("half");
    }
    QCOMPARE(readText(path), QStringLiteral("new contents"));

    // A link is followed: the file it names gets the bytes, the link stays a link.
    const QString link = env.filePath(QStringLiteral("link.txt"));
    QVERIFY(QFile::link(path, link));
    QVERIFY(writeFileAtomically(link, "through the link"));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readText(path), QStringLiteral("through the link"));

    // A folder that does not exist: refused, with the reason in Chinese.
    AtomicFileWriter nowhere(env.filePath(QStringLiteral("no/such.txt")));
    QVERIFY(!nowhere.open());
    QCOMPARE(nowhere.failureText(), QStringLiteral("无法写入文件“%1”：文件夹不存在。原来的文件没有改变。")
                                        .arg(QDir::toNativeSeparators(env.filePath(QStringLiteral("no/such.txt")))));
    QCOMPARE(QDir(env.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), qsizetype(2));
}

void TestPlatformServices::aFullDiskKeepsTheOldFile()
{
    Environment env;
    const QString path = env.filePath(QStringLiteral("客户.csv"));
    QVERIFY(writeFileAtomically(path, "old"));
    const QByteArray large(64 * 1024, 'x');
    {
        test::FileSizeLimit full(4096);
        QVERIFY(full.isValid());
        AtomicFileWriter out(path);
        QVERIFY(out.open());
        QVERIFY(out.write(large) != large.size());
        // Later writes are refused too, and commit() keeps the old file.
        QCOMPARE(out.write("tail"), qint64(-1));
        QVERIFY(!out.commit());
        QCOMPARE(out.systemError(), EFBIG);
        QVERIFY2(out.failureText().contains(QStringLiteral("文件超出了系统允许的大小")), qPrintable(out.failureText()));
        QVERIFY(!writeFileAtomically(path, large));
    }
    QCOMPARE(readText(path), QStringLiteral("old"));
    QCOMPARE(QDir(env.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral("客户.csv")});
    QCOMPARE(fileWriteReason(ENOSPC), QStringLiteral("磁盘已满。请腾出磁盘空间后再试。"));
}

void TestPlatformServices::desktopEntryText()
{
    Environment env;
    const QString program = QStringLiteral("/opt/lianbu/bin/lianbu");
    QVERIFY(writeDesktopShortcut(program));
    const QString file = env.desktopPath() + QStringLiteral("/联簿宝.desktop");
    const QString text = readText(file);
    QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QCOMPARE(entryValue(text, "Type"), QStringLiteral("Application"));
    QCOMPARE(entryValue(text, "Name"), QStringLiteral("联簿宝"));
    QCOMPARE(entryValue(text, "Comment"), QStringLiteral("联簿宝"));
    QCOMPARE(entryValue(text, "Exec"), QStringLiteral("\"/opt/lianbu/bin/lianbu\""));
    QCOMPARE(entryValue(text, "Path"), QStringLiteral("/opt/lianbu/bin"));
    QCOMPARE(entryValue(text, "Terminal"), QStringLiteral("false"));
    QVERIFY(!entryValue(text, "Icon").isEmpty());
    QVERIFY(entryValue(text, "Icon") != QStringLiteral("<missing>"));
    QVERIFY(QFileInfo(file).permissions() & QFileDevice::ExeOwner);
    // Only the entry is on the desktop: no temporary file left behind.
    QCOMPARE(QDir(env.desktopPath()).entryList(QDir::Files | QDir::Hidden), QStringList{"联簿宝.desktop"});
}

void TestPlatformServices::desktopEntryQuotesAwkwardPaths()
{
    // Inside the quotes ", `, $ and \ take a backslash, % is doubled; then every backslash of
    // the value is doubled again by the string escaping of the file format.
    const QString text = desktopShortcutText(QStringLiteral("/home/a b/100%/x\"y$z\\w/联簿宝"));
    QCOMPARE(entryValue(text, "Exec"), QStringLiteral("\"/home/a b/100%%/x\\\\\"y\\\\$z\\\\\\\\w/联簿宝\""));
    QCOMPARE(entryValue(text, "Path"), QStringLiteral("/home/a b/100%/x\"y$z\\\\w"));
    // A relative program path is made absolute.
    QVERIFY(entryValue(desktopShortcutText("lianbu"), "Exec").startsWith(QStringLiteral("\"/")));
}

void TestPlatformServices::desktopEntryIsRewrittenEveryTime()
{
    Environment env;
    const QString file = env.desktopPath() + QStringLiteral("/联簿宝.desktop");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Desktop Entry]\nName=old\nExec=/old/path\n");
    }
    QVERIFY(writeDesktopShortcut(QStringLiteral("/new/lianbu")));
    QCOMPARE(entryValue(readText(file), "Exec"), QStringLiteral("\"/new/lianbu\""));
    QCOMPARE(entryValue(readText(file), "Name"), QStringLiteral("联簿宝"));
    QVERIFY(writeDesktopShortcut(QStringLiteral("/newer/lianbu")));
    QCOMPARE(entryValue(readText(file), "Path"), QStringLiteral("/newer"));
}

void TestPlatformServices::desktopEntryFailsQuietlyWithoutADesktop()
{
    Environment env;
    QVERIFY(QDir(env.desktopPath()).removeRecursively());
    QVERIFY(!writeDesktopShortcut(QStringLiteral("/opt/lianbu")));
    QVERIFY(!QFileInfo::exists(env.desktopPath())); // the folder is not invented
    QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
}

void TestPlatformServices::desktopEntryOfThePackagedProgram()
{
    Environment env;
    // The packaged program runs from its private folder; the entry starts the system command
    // and shows the icon of the icon theme, as the menu entry does.
    overridePackagedProgram(true);
    const QString packaged = desktopShortcutText(QStringLiteral("/usr/libexec/lianbu/lianbu"));
    overridePackagedProgram(false);
    const QString built = desktopShortcutText(QStringLiteral("/usr/libexec/lianbu/lianbu"));
    overridePackagedProgram(std::nullopt);
    // The command's folder is the install prefix's (/usr in the package).
    QVERIFY2(entryValue(packaged, "Exec").endsWith(QStringLiteral("/bin/lianbu\"")), qPrintable(packaged));
    QCOMPARE(entryValue(packaged, "Icon"), QStringLiteral("lianbu"));
    QCOMPARE(entryValue(built, "Exec"), QStringLiteral("\"/usr/libexec/lianbu/lianbu\""));
    QVERIFY(entryValue(built, "Icon") != QStringLiteral("lianbu"));
    QVERIFY(!isPackagedProgram()); // this test program is built from the sources
}

QTEST_MAIN(TestPlatformServices)
#include "test_platform_services.moc"
