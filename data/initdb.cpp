// lianbu-initdb PATH: creates the delivered database (tables and the super administrator with
// the hash of the default password) at PATH. An existing file is never overwritten.
// lianbu-initdb postgresql://user@host:port/dbname: the same in an empty database on a server.
// lianbu-initdb --copy FILE postgresql://...: moves the register FILE into an empty server
// database (every row with its id), checking the row counts.
// The server password comes from the address (user:password@...), the password file of
// "数据库连接…", PGPASSWORD or ~/.pgpass.
#include "data/Schema.h"
#include "data/ServerRegister.h"
#include "db/RegisterAddress.h"
#include "platform/Paths.h"
#include "platform/CommandLine.h"
#include "platform/Console.h"
#include "platform/Error.h"
#include "platform/PasswordFile.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

using lianbu::inLanguage;
using lianbu::MessageLanguage;

void print(std::FILE *to, const QString &text)
{
    lianbu::console::write(to, text.toStdString());
}

QString helpText(MessageLanguage language)
{
    return inLanguage(language,
                      QStringLiteral("用法：lianbu-initdb 路径\n"
                                     "      lianbu-initdb postgresql://用户@主机:端口/库名\n"
                                     "      lianbu-initdb --copy data.db postgresql://用户@主机:端口/库名\n"
                                     "在“路径”建立联簿宝的初始客户资料库（data、userdb、rz 三个表和\n"
                                     "用户“超级管理员”，密码 888）。已经存在的文件不会被覆盖。\n"
                                     "给出数据库服务器地址时，在服务器上那个空的数据库里建立同样的表；\n"
                                     "已经有这些表的数据库会被拒绝。--copy 把现有的 data.db 连同全部编号\n"
                                     "复制到服务器上的空数据库，并核对行数。服务器密码取自“数据库连接…”\n"
                                     "保存的密码、PGPASSWORD 或 ~/.pgpass。\n"
                                     "\n"
                                     "  -h, --help   显示本帮助并退出\n"
                                     "  --version    显示版本并退出\n"),
                      QStringLiteral("Usage: lianbu-initdb PATH\n"
                                     "       lianbu-initdb postgresql://user@host:port/dbname\n"
                                     "       lianbu-initdb --copy data.db postgresql://user@host:port/dbname\n"
                                     "Creates the delivered register of 联簿宝 at PATH (the tables data, userdb\n"
                                     "and rz and the operator \"超级管理员\" with the password 888).\n"
                                     "An existing file is never overwritten. Given a server address, creates the\n"
                                     "same tables in that empty database; a database that has them is refused.\n"
                                     "--copy moves an existing data.db with all its ids into an empty server\n"
                                     "database and checks the row counts. The server password comes from the\n"
                                     "password saved by \"数据库连接…\", PGPASSWORD or ~/.pgpass.\n"
                                     "\n"
                                     "  -h, --help   show this help and end\n"
                                     "  --version    show the version and end\n"));
}

int usage(MessageLanguage language)
{
    print(stderr, inLanguage(language,
                             QStringLiteral("用法：lianbu-initdb 路径|服务器地址\n"
                                            "      lianbu-initdb --copy data.db 服务器地址\n"),
                             QStringLiteral("usage: lianbu-initdb PATH|SERVER-ADDRESS\n"
                                            "       lianbu-initdb --copy data.db SERVER-ADDRESS\n"))
                      + lianbu::tryHelpText(QStringLiteral("lianbu-initdb"), language));
    return 2;
}

QString failureText(const lianbu::Error &error, MessageLanguage language)
{
    return language == MessageLanguage::Chinese && !error.operatorText().isEmpty() ? error.operatorText()
                                                                                   : error.message();
}

// The password saved by the program's "数据库连接…" serves here too (PGPASSWORD and ~/.pgpass
// are libpq's own).
lianbu::db::RegisterAddress serverTarget(const QString &text)
{
    lianbu::db::RegisterAddress address = lianbu::db::parseRegisterAddress(text);
    if (address.password.isEmpty())
        address.password = lianbu::findServerPassword(lianbu::serverPasswordFilePath(),
                                                      {address.host, address.port, address.database, address.user});
    return address;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    lianbu::paths::restrictNewFiles();
    // The program's names, for its per-user folders.
    QCoreApplication::setOrganizationName(QStringLiteral("qiaomu"));
    QCoreApplication::setApplicationName(QStringLiteral("lianbu"));
    const MessageLanguage language = lianbu::messageLanguage();
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        print(stdout, helpText(language));
        return 0;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        print(stdout, lianbu::versionText(QStringLiteral("lianbu-initdb"), language));
        return 0;
    }
    const bool copy = !arguments.isEmpty() && arguments.at(0) == QLatin1String("--copy");
    const QStringList operands = copy ? arguments.mid(1) : arguments;
    if (operands.size() != (copy ? 2 : 1))
        return usage(language);
    for (const QString &operand : operands)
        if (operand.isEmpty() || operand.startsWith(QLatin1Char('-')))
            return usage(language);
    if (copy && (lianbu::db::isServerAddress(operands.at(0)) || !lianbu::db::isServerAddress(operands.at(1))))
        return usage(language);
    try {
        if (copy) {
            const lianbu::db::RegisterAddress target = serverTarget(operands.at(1));
            const QList<lianbu::CopiedTable> tables = lianbu::copyRegisterToServer(operands.at(0), target);
            for (const lianbu::CopiedTable &table : tables)
                print(stdout, inLanguage(language, QStringLiteral("%1：%2 行\n"), QStringLiteral("%1: %2 rows\n"))
                                  .arg(table.table)
                                  .arg(table.rows));
            print(stdout, inLanguage(language, QStringLiteral("已复制到 %1，行数一致\n"),
                                     QStringLiteral("copied to %1, row counts match\n"))
                              .arg(lianbu::db::formatRegisterAddress(target)));
            return 0;
        }
        if (lianbu::db::isServerAddress(operands.at(0))) {
            const lianbu::db::RegisterAddress target = serverTarget(operands.at(0));
            const lianbu::ServerCreation creation = lianbu::createServerRegister(target);
            if (!creation.searchIndex)
                print(stderr,
                      inLanguage(language, QStringLiteral("注意：没有建立 pg_trgm 查询索引（%1），查询会慢一些。\n"),
                                 QStringLiteral("note: no pg_trgm search index (%1); searches will be slower.\n"))
                          .arg(creation.searchIndexProblem));
            print(stdout, inLanguage(language, QStringLiteral("已建立 %1\n"), QStringLiteral("created %1\n"))
                              .arg(lianbu::db::formatRegisterAddress(target)));
            return 0;
        }
        lianbu::createDeliveredDatabase(operands.at(0));
    } catch (const lianbu::Error &error) {
        print(stderr, QStringLiteral("lianbu-initdb: %1\n").arg(failureText(error, language)));
        return 1;
    }
    print(stdout,
          inLanguage(language, QStringLiteral("已建立 %1\n"), QStringLiteral("created %1\n")).arg(operands.at(0)));
    return 0;
}
