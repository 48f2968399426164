// lianbu-initdb PATH: creates the delivered database (tables and the super administrator with
// the hash of the default password) at PATH. An existing file is never overwritten.
#include "platform/CommandLine.h"
#include "data/Schema.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

void print(std::FILE *to, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
}

QString helpText(lianbu::MessageLanguage language)
{
    return lianbu::inLanguage(
        language,
        QStringLiteral("用法：lianbu-initdb 路径\n"
                       "在“路径”建立联簿宝的初始客户资料库（data、userdb、rz 三个表和\n"
                       "用户“超级管理员”，密码 888）。已经存在的文件不会被覆盖。\n"
                       "\n"
                       "  -h, --help   显示本帮助并退出\n"
                       "  --version    显示版本并退出\n"),
        QStringLiteral("Usage: lianbu-initdb PATH\n"
                       "Creates the delivered register of 联簿宝 at PATH (the tables data, userdb\n"
                       "and rz and the operator \"超级管理员\" with the password 888).\n"
                       "An existing file is never overwritten.\n"
                       "\n"
                       "  -h, --help   show this help and end\n"
                       "  --version    show the version and end\n"));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const lianbu::MessageLanguage language = lianbu::messageLanguage();
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        print(stdout, helpText(language));
        return 0;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        print(stdout, lianbu::versionText(QStringLiteral("lianbu-initdb"), language));
        return 0;
    }
    if (arguments.size() != 1 || arguments.at(0).isEmpty() || arguments.at(0).startsWith(QLatin1Char('-'))) {
        print(stderr, lianbu::inLanguage(language, QStringLiteral("用法：lianbu-initdb 路径\n"),
                                         QStringLiteral("usage: lianbu-initdb PATH\n"))
                          + lianbu::tryHelpText(QStringLiteral("lianbu-initdb"), language));
        return 2;
    }
    try {
        lianbu::createDeliveredDatabase(arguments.at(0));
    } catch (const lianbu::Error &error) {
        print(stderr, QStringLiteral("lianbu-initdb: %1\n").arg(error.message()));
        return 1;
    }
    print(stdout, lianbu::inLanguage(language, QStringLiteral("已建立 %1\n"), QStringLiteral("created %1\n"))
                      .arg(arguments.at(0)));
    return 0;
}
