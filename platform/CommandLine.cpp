#include "platform/CommandLine.h"

#include "platform/AppInfo.h"

#include <QHash>
#include <QtGlobal>

namespace lianbu {

namespace {

bool isChineseLocale(const QString &name)
{
    return name.startsWith(QLatin1String("zh"));
}

bool isPlainLocale(const QString &name)
{
    return name == QLatin1String("C") || name.startsWith(QLatin1String("C.")) || name == QLatin1String("POSIX");
}

// The toolkit's own options (they may also be written with two dashes), and whether each takes
// the next argument as its value. The toolkit takes them off the command line itself.
int toolkitOptionValues(const QString &argument)
{
    static const QHash<QString, int> options{
        {QStringLiteral("-platform"), 1},
        {QStringLiteral("-platformpluginpath"), 1},
        {QStringLiteral("-platformtheme"), 1},
        {QStringLiteral("-plugin"), 1},
        {QStringLiteral("-qwindowgeometry"), 1},
        {QStringLiteral("-geometry"), 1},
        {QStringLiteral("-qwindowtitle"), 1},
        {QStringLiteral("-title"), 1},
        {QStringLiteral("-qwindowicon"), 1},
        {QStringLiteral("-icon"), 1},
        {QStringLiteral("-session"), 1},
        {QStringLiteral("-display"), 1},
        {QStringLiteral("-name"), 1},
        {QStringLiteral("-visual"), 1},
        {QStringLiteral("-style"), 1},
        {QStringLiteral("-stylesheet"), 1},
        {QStringLiteral("-reverse"), 0},
        {QStringLiteral("-testability"), 0},
        {QStringLiteral("-widgetcount"), 0},
        {QStringLiteral("-nograb"), 0},
        {QStringLiteral("-dograb"), 0},
        {QStringLiteral("-sync"), 0},
    };
    QString option = argument.startsWith(QLatin1String("--")) ? argument.mid(1) : argument;
    if (option.startsWith(QLatin1String("-qmljsdebugger=")))
        return 0;
    const qsizetype equals = option.indexOf(QLatin1Char('='));
    if (equals > 0)
        return options.contains(option.left(equals)) ? 0 : -1; // -style=fusion
    return options.value(option, -1);
}

} // namespace

MessageLanguage messageLanguageFrom(const QString &language, const QString &lcAll, const QString &lcMessages,
                                    const QString &lang)
{
    QString locale = lcAll;
    if (locale.isEmpty())
        locale = lcMessages;
    if (locale.isEmpty())
        locale = lang;
    // LANGUAGE is a list of preferences ("zh_CN:en"); gettext ignores it in the C locale.
    if (!language.isEmpty() && !locale.isEmpty() && !isPlainLocale(locale))
        return isChineseLocale(language.section(QLatin1Char(':'), 0, 0)) ? MessageLanguage::Chinese
                                                                         : MessageLanguage::English;
    return isChineseLocale(locale) ? MessageLanguage::Chinese : MessageLanguage::English;
}

MessageLanguage messageLanguage()
{
    return messageLanguageFrom(qEnvironmentVariable("LANGUAGE"), qEnvironmentVariable("LC_ALL"),
                               qEnvironmentVariable("LC_MESSAGES"), qEnvironmentVariable("LANG"));
}

bool CommandLine::databaseIsServer() const
{
    return database.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
           || database.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

// The toolkit's options are passed over with their values, so the answer is the same before and
// after the toolkit has taken them: a mistake is found before any display is needed.
CommandLine parseCommandLine(const QStringList &arguments, MessageLanguage language)
{
    CommandLine result;
    const auto refuse = [&](const QString &problem) {
        result.action = CommandLine::Action::Refuse;
        result.problem = problem;
        return result;
    };
    const QString databaseOption = QStringLiteral("--database");
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--")) {
            break; // what follows is not options
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            // Help wins over everything else on the line, even over mistakes after it.
            result.action = CommandLine::Action::ShowHelp;
            return result;
        } else if (argument == QLatin1String("--version")) {
            result.action = CommandLine::Action::ShowVersion;
        } else if (argument == QLatin1String("--check-register")) {
            if (result.action == CommandLine::Action::Run)
                result.action = CommandLine::Action::CheckRegister;
        } else if (argument == databaseOption || argument.startsWith(databaseOption + QLatin1Char('='))) {
            QString value;
            if (argument == databaseOption) {
                if (i + 1 >= arguments.size())
                    return refuse(inLanguage(language, QStringLiteral("选项 --database 需要一个数据库地址。"),
                                             QStringLiteral("option --database needs a database address.")));
                value = arguments.at(++i);
            } else {
                value = argument.mid(databaseOption.size() + 1);
            }
            if (value.trimmed().isEmpty())
                return refuse(inLanguage(language, QStringLiteral("选项 --database 的数据库地址是空的。"),
                                         QStringLiteral("option --database was given an empty address.")));
            result.database = value;
        } else if (const int values = toolkitOptionValues(argument); values >= 0) {
            i += values; // the toolkit's, with its value
        } else if (argument.startsWith(QLatin1String("--"))) {
            return refuse(
                inLanguage(language, QStringLiteral("无法识别的选项 %1。"), QStringLiteral("unknown option %1."))
                    .arg(argument));
        }
        // Anything else is not ours: the restart marker, the toolkit's options, a stray word.
    }
    return result;
}

QString programHelpText(MessageLanguage language)
{
    if (language == MessageLanguage::Chinese) {
        return QStringLiteral("用法：lianbu [选项]\n"
                              "联簿宝：小型企业的客户资料管理程序。\n"
                              "\n"
                              "选项：\n"
                              "  --database <地址>   打开指定的客户资料库：一个 data.db 文件的路径，\n"
                              "                      或 postgresql://用户@主机/库名 形式的数据库服务器地址\n"
                              "  --check-register    打开客户资料库并检查它，报告它的位置后退出，不显示窗口\n"
                              "  -h, --help          显示本帮助并退出\n"
                              "  --version           显示版本并退出\n"
                              "\n"
                              "不指定 --database 时，安装版使用 ~/.local/share/qiaomu/lianbu/data.db\n"
                              "（第一次启动时建立，已有的文件不会被覆盖），从源代码构建的程序使用\n"
                              "当前目录下的 data.db。\n");
    }
    return QStringLiteral("Usage: lianbu [options]\n"
                          "联簿宝 (lianbu): a customer register for small businesses.\n"
                          "\n"
                          "Options:\n"
                          "  --database <address>  open this register: the path of a data.db file, or a\n"
                          "                        database server address postgresql://user@host/name\n"
                          "  --check-register      open and check the register, say where it is and end\n"
                          "                        without showing a window\n"
                          "  -h, --help            show this help and end\n"
                          "  --version             show the version and end\n"
                          "\n"
                          "Without --database the installed program uses\n"
                          "~/.local/share/qiaomu/lianbu/data.db (created on first start, an existing file\n"
                          "is never replaced); a program built from the sources uses data.db in the\n"
                          "current folder.\n");
}

QString versionText(const QString &programName, MessageLanguage language)
{
    return inLanguage(language, QStringLiteral("%1（联簿宝）版本 %2\n"), QStringLiteral("%1 (联簿宝) %2\n"))
        .arg(programName, applicationVersion());
}

QString tryHelpText(const QString &programName, MessageLanguage language)
{
    return inLanguage(language, QStringLiteral("请用“%1 --help”查看可用的选项。\n"),
                      QStringLiteral("Try '%1 --help' for the options.\n"))
        .arg(programName);
}

} // namespace lianbu
