#include "db/Backup.h"

#include "db/DamageCheck.h"
#include "db/EngineErrors.h"
#include "db/SqliteEngine.h"
#include "platform/AtomicFile.h"
#include "platform/Error.h"
#include "platform/SystemFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <sqlite3.h>

#include <memory>

namespace lianbu::db {

namespace {

struct Closer
{
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
using Handle = std::unique_ptr<sqlite3, Closer>;

QString messageOf(sqlite3 *db, int code)
{
    if (db && sqlite3_errcode(db) == code)
        return QString::fromUtf8(sqlite3_errmsg(db));
    return QString::fromUtf8(sqlite3_errstr(code));
}

Error failure(const QString &english, const QString &file, int code, const QString &engineText)
{
    return Error(QStringLiteral("%1 \"%2\": %3").arg(english, file, engineText),
                 operatorText(engineFault(code, engineText), file, engineText));
}

Handle openHandle(const QString &path, const char *query, int flags, int busyTimeoutMs)
{
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(engine::fileUri(path, QLatin1String(query)).toUtf8().constData(), &raw,
                                   flags | SQLITE_OPEN_URI, nullptr);
    Handle db(raw);
    if (rc != SQLITE_OK)
        throw failure(QStringLiteral("Cannot open the database file"), path, rc, messageOf(raw, rc));
    sqlite3_busy_timeout(raw, busyTimeoutMs);
    return db;
}

QString temporaryBeside(const QString &path)
{
    return path
           + QStringLiteral(".part-%1-%2")
                 .arg(QCoreApplication::applicationPid())
                 .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

void removeWithSideFiles(const QString &path)
{
    for (const char *suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

// Copies the whole database of `source` (an open handle) into the new file `target`.
void copyInto(sqlite3 *source, const QString &sourceName, const QString &target, int busyTimeoutMs)
{
    Handle dest = openHandle(target, "mode=rwc", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, busyTimeoutMs);
    sqlite3_backup *backup = sqlite3_backup_init(dest.get(), "main", source, "main");
    if (!backup) {
        const int rc = sqlite3_errcode(dest.get());
        throw failure(QStringLiteral("Cannot back up the database file"), sourceName, rc, messageOf(dest.get(), rc));
    }
    // One step copies everything inside one read transaction of the source: a consistent copy
    // of one committed moment. With WAL the other instances keep writing meanwhile.
    int rc = SQLITE_OK;
    for (int attempt = 0; attempt * 50 <= busyTimeoutMs; ++attempt) {
        rc = sqlite3_backup_step(backup, -1);
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
            break;
        sqlite3_sleep(50);
    }
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE)
        throw failure(QStringLiteral("Cannot back up the database file"), sourceName, rc,
                      rc == SQLITE_OK ? QStringLiteral("incomplete") : messageOf(dest.get(), rc));
    // The copy needs no journal of its own.
    sqlite3_exec(dest.get(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
}

QString timestamp(const QDateTime &now)
{
    return now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

const QRegularExpression &backupName()
{
    static const QRegularExpression name(QStringLiteral("^data-(\\d{8})-(\\d{6})\\.db$"));
    return name;
}

// The integrity check and `check` of the file at `path`: false with the reason in English and
// Chinese when it fails.
bool databaseFileSound(const QString &path, const ContentCheck &check, QString &english, QString &chinese)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        english = QStringLiteral("it does not exist.");
        chinese = QStringLiteral("文件不存在。");
        return false;
    }
    if (info.size() == 0) {
        english = QStringLiteral("it is empty.");
        chinese = QStringLiteral("文件是空的。");
        return false;
    }
    DamageRead how;
    how.depth = DamageRead::Depth::Integrity;
    how.contentCheck = check;
    const DamageFinding finding = readForDamage(path, how);
    switch (finding.outcome) {
    case DamageFinding::Outcome::Sound:
    case DamageFinding::Outcome::Stopped:
        return true;
    case DamageFinding::Outcome::NotOpened:
        english = finding.error.text();
        chinese = QStringLiteral("无法打开（%1）。").arg(english);
        break;
    case DamageFinding::Outcome::NotRead:
        english = finding.error.databaseText();
        chinese = QStringLiteral("不是数据库，或者已损坏（%1）。").arg(english);
        break;
    case DamageFinding::Outcome::Damaged:
        english = QStringLiteral("the integrity check failed (%1).").arg(finding.verdict);
        chinese = QStringLiteral("数据库已损坏（完整性检查：%1）。").arg(finding.verdict);
        break;
    case DamageFinding::Outcome::Foreign:
        english = QStringLiteral("the contents are not the program's.");
        chinese = finding.contentProblem;
        break;
    }
    return false;
}

} // namespace

void backupDatabase(const QString &source, const QString &target, int busyTimeoutMs, const ContentCheck &check)
{
    const QString from = QFileInfo(source).absoluteFilePath();
    const QString to = QFileInfo(target).absoluteFilePath();
    if (QFileInfo(to).exists() || QFileInfo(to).isSymLink())
        throw Error(QStringLiteral("The file \"%1\" already exists; it is not overwritten.").arg(to),
                    QStringLiteral("文件“%1”已存在，没有覆盖。").arg(to));
    if (!QFileInfo::exists(from))
        throw Error(QStringLiteral("Cannot back up \"%1\": the file does not exist.").arg(from),
                    QStringLiteral("无法备份：数据库文件“%1”不存在。").arg(from));
    // Read-only and never created: a backup changes nothing in the register.
    Handle src = openHandle(from, "mode=ro", SQLITE_OPEN_READONLY, busyTimeoutMs);
    const QString temporary = temporaryBeside(to);
    try {
        copyInto(src.get(), from, temporary, busyTimeoutMs);
    } catch (...) {
        removeWithSideFiles(temporary);
        throw;
    }
    src.reset();
    // The engine copies pages as they are: a damaged register gives a damaged copy, which would
    // then rotate the good backups out. A copy that fails the check is not kept.
    QString english, chinese;
    if (!databaseFileSound(temporary, check, english, chinese)) {
        removeWithSideFiles(temporary);
        throw Error(QStringLiteral("The backup of \"%1\" was not kept: %2").arg(from, english),
                    QStringLiteral("数据库“%1”没有通过检查，这份备份没有保留，原有的备份都没有删除：%2"
                                   "请用“恢复数据…”从备份恢复。")
                        .arg(from, chinese));
    }
    // The name was checked above and carries the time; the file appears complete and on the
    // disk, or not at all.
    int error = 0;
    if (QFileInfo::exists(to) || !placeWrittenFile(temporary, to, &error)) {
        removeWithSideFiles(temporary);
        throw Error(QStringLiteral("Cannot write the backup \"%1\".").arg(to),
                    error != 0 ? fileWriteFailureText(to, error) : QStringLiteral("无法写入备份文件“%1”。").arg(to));
    }
}

void verifyDatabaseFile(const QString &file, const ContentCheck &check)
{
    const QString path = QFileInfo(file).absoluteFilePath();
    QString english, chinese;
    if (!databaseFileSound(path, check, english, chinese))
        throw Error(QStringLiteral("The file \"%1\" cannot be used: %2").arg(path, english),
                    QStringLiteral("文件“%1”不能使用：%2").arg(path, chinese));
}

QString backupFolder(const QString &registerFile)
{
    return QFileInfo(registerFile).absoluteDir().filePath(QStringLiteral("backups"));
}

QStringList listBackups(const QString &folder)
{
    QStringList found;
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        if (backupName().match(name).hasMatch())
            found << QDir(folder).filePath(name);
    }
    return found; // the names sort by time
}

QString makeBackup(const QString &registerFile, const QDateTime &now, int keep, const ContentCheck &check)
{
    const QString folder = backupFolder(registerFile);
    if (!QDir().mkpath(folder))
        throw Error(QStringLiteral("Cannot create the backup folder \"%1\".").arg(folder),
                    QStringLiteral("无法创建备份文件夹“%1”。").arg(folder));
    // The names order the backups, and rotation removes the first ones. With the clock behind
    // the newest name, the new backup would sort first and be removed at once: it takes the
    // second after the newest instead. Two backups within one second: the later one takes the
    // next free second.
    QDateTime moment = now;
    const QStringList before = listBackups(folder);
    if (!before.isEmpty()) {
        const QRegularExpressionMatch newest = backupName().match(QFileInfo(before.last()).fileName());
        const QDateTime newestTime =
            QDateTime::fromString(newest.captured(1) + newest.captured(2), QStringLiteral("yyyyMMddHHmmss"));
        if (newestTime.isValid() && moment <= newestTime)
            moment = newestTime.addSecs(1);
    }
    QString target = QDir(folder).filePath(QStringLiteral("data-%1.db").arg(timestamp(moment)));
    for (int second = 1; QFileInfo::exists(target) && second < 60; ++second)
        target = QDir(folder).filePath(QStringLiteral("data-%1.db").arg(timestamp(moment.addSecs(second))));
    backupDatabase(registerFile, target, 5000, check);
    // Only after a checked copy is in place; the new one is never among those removed.
    const QStringList all = listBackups(folder);
    for (qsizetype i = 0; i + keep < all.size(); ++i)
        if (all.at(i) != target)
            QFile::remove(all.at(i));
    return target;
}

QString makeDailyBackup(const QString &registerFile, const QDateTime &now, int keep, const ContentCheck &check)
{
    const QString today = QStringLiteral("data-%1-").arg(now.toString(QStringLiteral("yyyyMMdd")));
    const QStringList all = listBackups(backupFolder(registerFile));
    for (const QString &file : all) {
        if (QFileInfo(file).fileName().startsWith(today))
            return {};
    }
    return makeBackup(registerFile, now, keep, check);
}

namespace {

// The old file keeps a second name, then the new one takes the register's name in one rename;
// the caller's lock covers the old file the whole time. A hard link: copying would open the
// file outside the engine and drop its locks. True when the new file has the name; false (and
// nothing changed) when the system refused the rename.
template <typename Refuse>
bool swapInto(const QString &incoming, const QString &target, const QString &kept, const Refuse &refuse)
{
    if (files::hardLink(target.toUtf8().toStdString(), kept.toUtf8().toStdString()) != 0)
        throw refuse(QStringLiteral("cannot keep the old file as \"%1\".").arg(kept),
                     QStringLiteral("无法保留原来的文件“%1”。").arg(kept));
    if (files::replaceFile(incoming.toUtf8().toStdString(), target.toUtf8().toStdString()) != 0) {
        QFile::remove(kept);
        return false;
    }
    return true;
}

} // namespace

QString restoreDatabase(const QString &backupFile, const QString &registerFile, const ContentCheck &check,
                        const QDateTime &now)
{
    const QString target = QFileInfo(registerFile).absoluteFilePath();
    verifyDatabaseFile(backupFile, check);

    // The copy to be put in place is made first, beside the register (the rename must not cross
    // file systems), and checked again.
    const QString incoming = temporaryBeside(target);
    try {
        Handle src = openHandle(QFileInfo(backupFile).absoluteFilePath(), "mode=ro", SQLITE_OPEN_READONLY, 5000);
        copyInto(src.get(), backupFile, incoming, 5000);
        verifyDatabaseFile(incoming, check);
    } catch (...) {
        removeWithSideFiles(incoming);
        throw;
    }

    const QString kept = target + QStringLiteral(".replaced-%1").arg(timestamp(now));
    auto refuse = [&](const QString &english, const QString &chinese) {
        removeWithSideFiles(incoming);
        return Error(QStringLiteral("Cannot restore \"%1\": %2").arg(target, english),
                     QStringLiteral("没有恢复数据库“%1”：%2").arg(target, chinese));
    };
    if (QFileInfo::exists(kept))
        throw refuse(QStringLiteral("\"%1\" exists.").arg(kept),
                     QStringLiteral("文件“%1”已存在，请稍后再试。").arg(kept));

    // Leaving WAL mode needs the only connection to the file: SQLite refuses it while another
    // instance (or any other program) has the register open. The exclusive locking mode then
    // keeps every other connection out until this one closes, after the swap.
    {
        Handle reg = openHandle(target, "mode=rw", SQLITE_OPEN_READWRITE, 0);
        sqlite3 *db = reg.get();
        auto exec = [db](const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); };
        const int checkpoint = exec("PRAGMA wal_checkpoint(TRUNCATE)");
        if (checkpoint == SQLITE_NOTADB) {
            // A header the engine cannot read: no statement works on the file, but its own file
            // layer can still lock it. Every other connection holds at least a shared lock on
            // it while open, so an exclusive lock proves this one is alone; held until closed.
            sqlite3_file *file = nullptr;
            const bool alone = sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) == SQLITE_OK && file
                               && file->pMethods && file->pMethods->xLock(file, SQLITE_LOCK_SHARED) == SQLITE_OK
                               && file->pMethods->xLock(file, SQLITE_LOCK_EXCLUSIVE) == SQLITE_OK;
            if (!alone)
                throw refuse(
                    QStringLiteral("the register is in use by another instance."),
                    QStringLiteral("数据库正被其他程序或其他电脑上的联簿宝使用。请让所有人退出联簿宝后再恢复。"));
            if (swapInto(incoming, target, kept, refuse))
                return kept;
        } else {
            bool alone = checkpoint == SQLITE_OK;
            if (alone) {
                sqlite3_stmt *stmt = nullptr;
                alone = sqlite3_prepare_v2(db, "PRAGMA journal_mode=DELETE", -1, &stmt, nullptr) == SQLITE_OK
                        && sqlite3_step(stmt) == SQLITE_ROW
                        && qstricmp(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)), "delete") == 0;
                sqlite3_finalize(stmt);
            }
            alone = alone && exec("PRAGMA locking_mode=EXCLUSIVE") == SQLITE_OK && exec("BEGIN EXCLUSIVE") == SQLITE_OK
                    && exec("COMMIT") == SQLITE_OK;
            if (!alone)
                throw refuse(
                    QStringLiteral("the register is in use by another instance."),
                    QStringLiteral("数据库正被其他程序或其他电脑上的联簿宝使用。请让所有人退出联簿宝后再恢复。"));
            if (swapInto(incoming, target, kept, refuse))
                return kept;
        }
    }
    // A system that refuses to rename over a file while it is open (Windows: the engine does not
    // share its files' deletion) gets one more attempt once this connection has closed. Whatever
    // opened the register in between holds it open and makes that attempt fail too, and the old
    // register stays.
    // The second name the refused attempt made could not go either while the file was open (a
    // link's removal needs the deletion the engine does not share); it did not exist before.
    files::removeFile(kept.toUtf8().toStdString());
    if (!swapInto(incoming, target, kept, refuse))
        throw refuse(QStringLiteral("the new file cannot take its name."), QStringLiteral("无法替换文件。"));
    return kept;
}

} // namespace lianbu::db
