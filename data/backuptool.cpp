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
#include "platform/Paths.h"
#include "platform/Error.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: lianbu-backup [--register FILE] backup | backup-to COPY | restore BACKUP\n"
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
            std::printf("%s\n", qPrintable(file));
        } else if (command == QLatin1String("backup-to") && args.size() == 2) {
            lianbu::db::backupDatabase(registerFile, args.at(1), 5000, lianbu::deliveredSchemaProblem);
            std::printf("%s\n", qPrintable(args.at(1)));
        } else if (command == QLatin1String("restore") && args.size() == 2) {
            const QString kept = lianbu::db::restoreDatabase(args.at(1), registerFile, lianbu::deliveredSchemaProblem,
                                                             QDateTime::currentDateTime());
            std::printf("restored; the replaced register is kept as %s\n", qPrintable(kept));
        } else if (command == QLatin1String("check") && args.size() == 2) {
            lianbu::db::verifyDatabaseFile(args.at(1), lianbu::deliveredSchemaProblem);
            std::printf("ok\n");
        } else {
            return usage();
        }
    } catch (const lianbu::Error &error) {
        std::fprintf(stderr, "lianbu-backup: %s\n", error.operatorText().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
