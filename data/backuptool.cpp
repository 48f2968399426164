// lianbu-backup: backups of the register for scripts, made by SQLite's online backup API (safe
// while the program runs; never a plain file copy, which would read a half-written database).
//
//   lianbu-backup [--register FILE] backup          new copy in backups/ next to FILE (keeps 7)
//   lianbu-backup [--register FILE] backup-to COPY  a copy into COPY (must not exist)
//   lianbu-backup [--register FILE] restore BACKUP  BACKUP in place of FILE (nobody may use it)
//   lianbu-backup check FILE                        integrity and tables of FILE
//
// FILE defaults to data.db in the working folder. Exit codes: 0 done, 1 refused or failed,
// 2 wrong arguments.
#include "data/Schema.h"
#include "db/Backup.h"
#include "platform/Console.h"
#include "platform/Paths.h"
#include "platform/Error.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

namespace {

void print(std::FILE *to, const QString &text)
{
    lianbu::console::write(to, text.toStdString());
}

int usage()
{
    lianbu::console::write(stderr, "usage: lianbu-backup [--register FILE] backup | backup-to COPY | restore BACKUP\n"
                                   "       lianbu-backup check FILE\n"
                                   "Backups of the 联簿宝 register (FILE, default data.db) made by SQLite.\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    lianbu::paths::restrictNewFiles();
    QCommandLineParser parser;
    const QCommandLineOption registerOption(QStringLiteral("register"), QStringLiteral("the register"),
                                            QStringLiteral("FILE"), QStringLiteral("data.db"));
    parser.addOption(registerOption);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("backup, backup-to, restore or check"));
    if (!parser.parse(QCoreApplication::arguments()))
        return usage();
    const QStringList args = parser.positionalArguments();
    const QString registerFile = parser.value(registerOption);
    if (args.isEmpty())
        return usage();
    const QString command = args.first();
    try {
        if (command == QLatin1String("backup") && args.size() == 1) {
            const QString file =
                lianbu::db::makeBackup(registerFile, QDateTime::currentDateTime(), 7, lianbu::deliveredSchemaProblem);
            print(stdout, file + QLatin1Char('\n'));
        } else if (command == QLatin1String("backup-to") && args.size() == 2) {
            lianbu::db::backupDatabase(registerFile, args.at(1), 5000, lianbu::deliveredSchemaProblem);
            print(stdout, args.at(1) + QLatin1Char('\n'));
        } else if (command == QLatin1String("restore") && args.size() == 2) {
            const QString kept = lianbu::db::restoreDatabase(args.at(1), registerFile, lianbu::deliveredSchemaProblem,
                                                             QDateTime::currentDateTime());
            print(stdout, QStringLiteral("restored; the replaced register is kept as %1\n").arg(kept));
        } else if (command == QLatin1String("check") && args.size() == 2) {
            lianbu::db::verifyDatabaseFile(args.at(1), lianbu::deliveredSchemaProblem);
            print(stdout, QStringLiteral("ok\n"));
        } else {
            return usage();
        }
    } catch (const lianbu::Error &error) {
        print(stderr, QStringLiteral("lianbu-backup: ") + error.operatorText() + QLatin1Char('\n'));
        return 1;
    }
    return 0;
}
