#include "bench/RegisterSpace.h"

#include "data/SearchIndex.h"
#include "db/Connection.h"
#include "db/SortKeys.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace lianbu::bench {

namespace {

sqlite3 *openRaw(const QString &path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        std::exit(1);
    }
    return db;
}

bool startsWith(const char *name, const char *prefix)
{
    return qstrncmp(name, prefix, qstrlen(prefix)) == 0;
}

} // namespace

RegisterSpace measureSpace(const QString &path)
{
    RegisterSpace space;
    space.fileMb = double(QFileInfo(path).size()) / (1024 * 1024);
    sqlite3 *db = openRaw(path);
    sqlite3_stmt *s = nullptr;
    // Each table or index with the table it belongs to.
    sqlite3_prepare_v2(db,
                       "SELECT d.name, coalesce(m.tbl_name, d.name), sum(d.pgsize) FROM dbstat d "
                       "LEFT JOIN sqlite_master m ON m.name=d.name GROUP BY d.name",
                       -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW) {
        const char *name = reinterpret_cast<const char *>(sqlite3_column_text(s, 0));
        const char *table = reinterpret_cast<const char *>(sqlite3_column_text(s, 1));
        const double mb = double(sqlite3_column_int64(s, 2)) / (1024 * 1024);
        if (startsWith(name, "data_sortorder"))
            space.sortOrderMb += mb;
        else if (startsWith(name, "data_sortkeys"))
            space.formerKeysMb += mb;
        else if (qstrcmp(table, "data") == 0 || startsWith(name, kSearchIndexTable)
                 || startsWith(name, kSearchExtraTable) || startsWith(name, kSearchExtraStale))
            space.customersMb += mb;
        else
            space.otherMb += mb;
    }
    sqlite3_finalize(s);
    sqlite3_prepare_v2(db, "SELECT freelist_count * page_size FROM pragma_freelist_count, pragma_page_size", -1, &s,
                       nullptr);
    if (sqlite3_step(s) == SQLITE_ROW)
        space.freeMb = double(sqlite3_column_int64(s, 0)) / (1024 * 1024);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return space;
}

void dropSortOrder(const QString &path)
{
    sqlite3 *db = openRaw(path);
    const char *statements =
        "BEGIN IMMEDIATE;"
        "DROP TRIGGER IF EXISTS data_sortorder_insert; DROP TRIGGER IF EXISTS data_sortorder_update;"
        "DROP TRIGGER IF EXISTS data_sortorder_delete;"
        "DROP TABLE IF EXISTS data_sortorder; DROP TABLE IF EXISTS data_sortorder_columns;"
        "DROP TABLE IF EXISTS data_sortorder_stale;"
        "DROP TRIGGER IF EXISTS data_sortkeys_insert; DROP TRIGGER IF EXISTS data_sortkeys_update;"
        "DROP TRIGGER IF EXISTS data_sortkeys_delete; DROP TABLE IF EXISTS data_sortkeys;"
        "COMMIT";
    char *error = nullptr;
    if (sqlite3_exec(db, statements, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "cannot drop the sort order: %s\n", error);
        std::exit(1);
    }
    sqlite3_close(db);
}

double addFormerKeys(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    sqlite3 *db = openRaw(path);
    const QStringList columns = sortKeyColumns();
    QStringList definitions{QStringLiteral("rid INTEGER PRIMARY KEY"),
                            QStringLiteral("fresh INTEGER NOT NULL DEFAULT 0")};
    QStringList marks;
    for (const QString &column : columns) {
        definitions << QStringLiteral("\"%1\" BLOB").arg(column);
        marks << QStringLiteral("?");
    }
    QStringList statements{QStringLiteral("BEGIN IMMEDIATE"),
                           QStringLiteral("CREATE TABLE data_sortkeys (%1)").arg(definitions.join(QLatin1Char(',')))};
    auto exec = [&](const QString &sql) {
        char *error = nullptr;
        if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(sql), error);
            std::exit(1);
        }
    };
    for (const QString &statement : statements)
        exec(statement);
    sqlite3_stmt *read = nullptr;
    sqlite3_stmt *write = nullptr;
    sqlite3_prepare_v2(
        db, QStringLiteral("SELECT rowid, %1 FROM data").arg(columns.join(QLatin1Char(','))).toUtf8().constData(), -1,
        &read, nullptr);
    sqlite3_prepare_v2(db,
                       QStringLiteral("INSERT INTO data_sortkeys VALUES (?, 1, %1)")
                           .arg(marks.join(QLatin1Char(',')))
                           .toUtf8()
                           .constData(),
                       -1, &write, nullptr);
    while (sqlite3_step(read) == SQLITE_ROW) {
        sqlite3_reset(write);
        sqlite3_bind_int64(write, 1, sqlite3_column_int64(read, 0));
        for (int c = 0; c < int(columns.size()); ++c) {
            if (sqlite3_column_type(read, c + 1) == SQLITE_NULL) {
                sqlite3_bind_null(write, c + 2);
                continue;
            }
            const QString text = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(read, c + 1)),
                                                   sqlite3_column_bytes(read, c + 1));
            const QByteArray key = db::collationKey(text);
            sqlite3_bind_blob(write, c + 2, key.constData(), int(key.size()), SQLITE_TRANSIENT);
        }
        sqlite3_step(write);
    }
    sqlite3_finalize(read);
    sqlite3_finalize(write);
    for (const QString &column : columns)
        exec(QStringLiteral("CREATE INDEX \"data_sortkeys_%1\" ON data_sortkeys (\"%1\")").arg(column));
    exec(QStringLiteral("CREATE INDEX data_sortkeys_stale ON data_sortkeys (rid) WHERE fresh=0"));
    exec(QStringLiteral("CREATE TRIGGER data_sortkeys_insert AFTER INSERT ON data BEGIN "
                        "INSERT OR REPLACE INTO data_sortkeys (rid, fresh) VALUES (new.rowid, 0); END"));
    exec(QStringLiteral("CREATE TRIGGER data_sortkeys_delete AFTER DELETE ON data BEGIN "
                        "DELETE FROM data_sortkeys WHERE rid=old.rowid; END"));
    exec(QStringLiteral("COMMIT"));
    sqlite3_close(db);
    return double(timer.nsecsElapsed()) / 1e9;
}

OpenTiming timeSortOrderCreation(const QString &path)
{
    db::Connection connection(path);
    connection.setIntegrityCheck(false);
    connection.open();
    OpenTiming timing;
    timespec cpu0{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
    QElapsedTimer timer;
    timer.start();
    qint64 last = 0;
    db::createSortKeys(connection, QStringLiteral("data"), sortKeyColumns(), [&](qint64, qint64) {
        const qint64 now = timer.nsecsElapsed();
        timing.longestGapSeconds = std::max(timing.longestGapSeconds, double(now - last) / 1e9);
        last = now;
        ++timing.progressCalls;
    });
    timing.seconds = double(timer.nsecsElapsed()) / 1e9;
    timespec cpu1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
    timing.cpuSeconds = double(cpu1.tv_sec - cpu0.tv_sec) + double(cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
    timing.longestGapSeconds = std::max(timing.longestGapSeconds, double(timer.nsecsElapsed() - last) / 1e9);
    return timing;
}

} // namespace lianbu::bench
