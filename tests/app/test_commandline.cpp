// The command line of the program, the language of what the tools print, the built program
// answering its options on a terminal without a display, and which register the program opens
// in the packaged and the source-built program (creating it: test_startup).
#include "platform/CommandLine.h"
#include "app/Register.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"

#include <QProcess>
#include <QtTest>

using namespace lianbu;
using lianbu::test::TestDatabase;
using Action = CommandLine::Action;

Q_DECLARE_METATYPE(CommandLine::Action)

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parsing_data();
    void parsing();
    void refusalsNameTheMistakeInTheUsersLanguage();
    void helpListsEveryOption();
    void messageLanguage_data();
    void messageLanguage();

    void theProgramAnswersWithoutADisplay_data();
    void theProgramAnswersWithoutADisplay();

    void registerPlaceForEachKindOfProgram();
    void sourceBuiltProgramNeverCreatesARegister();
    void uncreatableFolderIsReported();
};

void TestCommandLine::parsing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("database");
    QTest::addColumn<bool>("server");

    QTest::newRow("nothing") << QStringList() << Action::Run << QString() << false;
    // The updater restarts the program with this marker; it changes nothing.
    QTest::newRow("restart marker") << QStringList{"/afterupgrade"} << Action::Run << QString() << false;
    QTest::newRow("toolkit options") << QStringList{"-platform", "offscreen", "-style", "fusion"} << Action::Run
                                     << QString() << false;
    QTest::newRow("help") << QStringList{"--help"} << Action::ShowHelp << QString() << false;
    QTest::newRow("short help") << QStringList{"-h"} << Action::ShowHelp << QString() << false;
    QTest::newRow("help before a mistake")
        << QStringList{"--help", "--nonsense"} << Action::ShowHelp << QString() << false;
    QTest::newRow("help beats version") << QStringList{"--version", "--help"} << Action::ShowHelp << QString() << false;
    QTest::newRow("version") << QStringList{"--version"} << Action::ShowVersion << QString() << false;
    QTest::newRow("version beats the check")
        << QStringList{"--check-register", "--version"} << Action::ShowVersion << QString() << false;
    QTest::newRow("file") << QStringList{"--database", "/srv/客户/data.db"} << Action::Run
                          << QString("/srv/客户/data.db") << false;
    QTest::newRow("file with =") << QStringList{"--database=shared.db", "/afterupgrade"} << Action::Run
                                 << QString("shared.db") << false;
    QTest::newRow("server") << QStringList{"--database", "postgresql://li@db.local/lianbu"} << Action::Run
                            << QString("postgresql://li@db.local/lianbu") << true;
    QTest::newRow("server, short scheme")
        << QStringList{"--database=POSTGRES://db/lianbu"} << Action::Run << QString("POSTGRES://db/lianbu") << true;
    QTest::newRow("a file named like a scheme")
        << QStringList{"--database", "./postgresql:/x.db"} << Action::Run << QString("./postgresql:/x.db") << false;
    QTest::newRow("check with a database") << QStringList{"--check-register", "--database", "a b.db"}
                                           << Action::CheckRegister << QString("a b.db") << false;
    QTest::newRow("the last database counts")
        << QStringList{"--database", "a.db", "--database", "b.db"} << Action::Run << QString("b.db") << false;
    QTest::newRow("end of options") << QStringList{"--", "--help"} << Action::Run << QString() << false;
    QTest::newRow("missing value") << QStringList{"--database"} << Action::Refuse << QString() << false;
    QTest::newRow("empty value") << QStringList{"--database="} << Action::Refuse << QString() << false;
    QTest::newRow("blank value") << QStringList{"--database", "  "} << Action::Refuse << QString() << false;
    QTest::newRow("unknown option") << QStringList{"--databse", "x.db"} << Action::Refuse << QString() << false;
    // The toolkit's options with two dashes, their values never taken for ours.
    QTest::newRow("toolkit options, two dashes")
        << QStringList{"--platform",     "offscreen",  "--style=fusion", "--reverse",
                       "--qwindowtitle", "--database", "-check"}
        << Action::Run << QString() << false;
    QTest::newRow("toolkit option before a mistake")
        << QStringList{"--style", "fusion", "--bogus"} << Action::Refuse << QString() << false;
}

void TestCommandLine::parsing()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QFETCH(QString, database);
    QFETCH(bool, server);
    const CommandLine line = parseCommandLine(arguments, MessageLanguage::English);
    QCOMPARE(line.action, action);
    QCOMPARE(line.problem.isEmpty(), action != Action::Refuse);
    if (action != Action::Refuse && action != Action::ShowHelp)
        QCOMPARE(line.database, database);
    QCOMPARE(line.databaseIsServer(), server);
}

void TestCommandLine::refusalsNameTheMistakeInTheUsersLanguage()
{
    const CommandLine chinese = parseCommandLine({"--databse"}, MessageLanguage::Chinese);
    QCOMPARE(chinese.problem, QStringLiteral("无法识别的选项 --databse。"));
    const CommandLine english = parseCommandLine({"--databse"}, MessageLanguage::English);
    QCOMPARE(english.problem, QStringLiteral("unknown option --databse."));
    QVERIFY(parseCommandLine({"--database"}, MessageLanguage::Chinese).problem.contains(QStringLiteral("需要")));
    QVERIFY(tryHelpText("lianbu", MessageLanguage::Chinese).contains(QStringLiteral("lianbu --help")));
}

void TestCommandLine::helpListsEveryOption()
{
    // Every option the parser accepts is explained in both languages, and nothing else is.
    for (MessageLanguage language : {MessageLanguage::Chinese, MessageLanguage::English}) {
        const QString help = programHelpText(language);
        QStringList mentioned;
        static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[a-z][a-z-]*)"));
        for (auto it = option.globalMatch(help); it.hasNext();)
            mentioned << it.next().captured(1);
        mentioned.removeDuplicates();
        mentioned.sort();
        QCOMPARE(mentioned, QStringList({"--check-register", "--database", "--help", "--version", "-h"}));
        for (const QString &each : std::as_const(mentioned)) {
            QStringList withValue{each};
            if (each == "--database")
                withValue << "x.db";
            QVERIFY2(parseCommandLine(withValue, language).action != Action::Refuse, qPrintable(each));
        }
    }
    QVERIFY(programHelpText(MessageLanguage::Chinese).contains(QStringLiteral("用法")));
    QVERIFY(versionText("lianbu", MessageLanguage::English).startsWith(QStringLiteral("lianbu (联簿宝) 1.")));
}

void TestCommandLine::messageLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("lcAll");
    QTest::addColumn<QString>("lcMessages");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<bool>("chinese");
    QTest::newRow("Chinese desktop") << ""
                                     << ""
                                     << ""
                                     << "zh_CN.UTF-8" << true;
    QTest::newRow("Taiwanese desktop") << ""
                                       << ""
                                       << ""
                                       << "zh_TW.UTF-8" << true;
    QTest::newRow("English desktop") << ""
                                     << ""
                                     << ""
                                     << "en_GB.UTF-8" << false;
    QTest::newRow("nothing set") << ""
                                 << ""
                                 << ""
                                 << "" << false;
    QTest::newRow("LC_ALL wins") << ""
                                 << "C.UTF-8"
                                 << ""
                                 << "zh_CN.UTF-8" << false;
    QTest::newRow("messages in Chinese") << ""
                                         << ""
                                         << "zh_CN.UTF-8"
                                         << "en_US.UTF-8" << true;
    QTest::newRow("LANGUAGE list") << "zh_CN:en"
                                   << ""
                                   << ""
                                   << "en_US.UTF-8" << true;
    QTest::newRow("LANGUAGE English first") << "en:zh_CN"
                                            << ""
                                            << ""
                                            << "zh_CN.UTF-8" << false;
    QTest::newRow("LANGUAGE ignored in C") << "zh_CN"
                                           << "C"
                                           << ""
                                           << "" << false;
}

void TestCommandLine::messageLanguage()
{
    QFETCH(QString, language);
    QFETCH(QString, lcAll);
    QFETCH(QString, lcMessages);
    QFETCH(QString, lang);
    QFETCH(bool, chinese);
    QCOMPARE(messageLanguageFrom(language, lcAll, lcMessages, lang) == MessageLanguage::Chinese, chinese);
}

void TestCommandLine::theProgramAnswersWithoutADisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("printed"); // on standard output for 0, standard error otherwise

    QTest::newRow("help") << QStringList{"--help"} << 0 << "--check-register";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "lianbu (联簿宝) 1.";
    QTest::newRow("mistake") << QStringList{"--bogus"} << 2 << "unknown option --bogus.";
    QTest::newRow("mistake after the check") << QStringList{"--check-register", "--bogus"} << 2 << "--bogus";
    QTest::newRow("missing value") << QStringList{"--check-register", "--database"} << 2 << "--database";
    QTest::newRow("check") << QStringList{"--check-register", "--database", "@register"} << 0 << "@register";
    // Windows hands main() its arguments in the ANSI code page, which has no Chinese on most
    // systems outside China: the program must read the wide command line.
    QTest::newRow("check, Chinese folder")
        << QStringList{"--check-register", "--database", "@chinese"} << 0 << "data.db";
    QTest::newRow("check, no such register")
        << QStringList{"--check-register", "--database", "@folder/missing.db"} << 1 << "missing.db";
}

void TestCommandLine::theProgramAnswersWithoutADisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, printed);
    TestDatabase database(false);
    if (database.isServer())
        QSKIP("the check is of a register file here");
    QString chineseRegister;
    if (arguments.contains(QStringLiteral("@chinese"))) {
        const QString chineseFolder = database.filePath(QStringLiteral("客户资料 二〇二六"));
        QVERIFY(QDir().mkpath(chineseFolder));
        chineseRegister = lianbu::test::createDataDb(chineseFolder);
    }
    const auto place = [&](QString text) {
        return text.replace(QStringLiteral("@register"), database.path())
            .replace(QStringLiteral("@chinese"), chineseRegister)
            .replace(QStringLiteral("@folder"), database.folder());
    };
    for (QString &argument : arguments)
        argument = place(argument);

    // A terminal with no window system: no display, no platform chosen, a home of its own.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), database.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.remove(QStringLiteral("LIANBU_DATABASE"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(database.folder());
    program.start(QStringLiteral(LIANBU_PROGRAM), arguments);
    QVERIFY(program.waitForFinished(60000));
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    const QString err = QString::fromUtf8(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == status,
             qPrintable(QStringLiteral("status %1, printed:\n%2%3").arg(program.exitCode()).arg(out, err)));
    QVERIFY2((status == 0 ? out : err).contains(place(printed)), qPrintable(out + err));
}

void TestCommandLine::registerPlaceForEachKindOfProgram()
{
    // Absolute paths of the system the test runs on: "/" on POSIX, a drive letter on Windows.
    const QString root = QDir::rootPath();
    const CommandLine none;
    CommandLine relative;
    relative.database = QStringLiteral("../共享/data.db");
    CommandLine absolute;
    absolute.database = root + QStringLiteral("srv/lianbu/data.db");

    const RegisterPlace packaged =
        registerPlace(none, true, root + "home/li/.local/share/qiaomu/lianbu", root + "home/li");
    QCOMPARE(packaged.path, root + "home/li/.local/share/qiaomu/lianbu/data.db");
    QVERIFY(packaged.createWhenMissing);

    const RegisterPlace built =
        registerPlace(none, false, root + "home/li/.local/share/qiaomu/lianbu", root + "home/li/work");
    QCOMPARE(built.path, root + "home/li/work/data.db");
    QVERIFY(!built.createWhenMissing);

    // An address given on the command line is taken as it is and never created, packaged or not.
    for (bool isPackaged : {true, false}) {
        const RegisterPlace given = registerPlace(relative, isPackaged, root + "data", root + "home/li/work");
        QCOMPARE(given.path, root + "home/li/共享/data.db");
        QVERIFY(!given.createWhenMissing);
        QCOMPARE(registerPlace(absolute, isPackaged, root + "data", root + "home/li").path,
                 root + "srv/lianbu/data.db");
    }
}

void TestCommandLine::sourceBuiltProgramNeverCreatesARegister()
{
    QTemporaryDir work;
    prepareRegister(registerPlace(CommandLine(), false, work.filePath("data"), work.path()));
    QVERIFY(QDir(work.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    CommandLine given;
    given.database = QStringLiteral("sub/data.db");
    prepareRegister(registerPlace(given, true, work.filePath("data"), work.path()));
    QVERIFY(QDir(work.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

void TestCommandLine::uncreatableFolderIsReported()
{
    QTemporaryDir home;
    QFile blocker(home.filePath("share"));
    QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    blocker.close();
    const RegisterPlace place = registerPlace(CommandLine(), true, home.filePath("share/lianbu"), home.path());
    try {
        prepareRegister(place);
        QFAIL("a register was reported ready in a folder that cannot exist");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(home.filePath("share/lianbu")), qPrintable(error.message()));
    }
    QVERIFY(!QFileInfo::exists(place.path));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
