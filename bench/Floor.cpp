#include "bench/Floor.h"

#include <QElapsedTimer>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace lianbu::bench {

namespace {

struct Database
{
    explicit Database(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    }
    ~Database() { sqlite3_close(db); }
    sqlite3 *db = nullptr;
};

sqlite3_stmt *prepare(sqlite3 *db, const QString &sql)
{
    sqlite3_stmt *statement = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), -1, &statement, nullptr) != SQLITE_OK)
        std::fprintf(stderr, "floor: %s\n", sqlite3_errmsg(db));
    return statement;
}

volatile size_t g_sink; // keeps the reads from being optimised away

} // namespace

double medianMs(const std::function<void(int run)> &work, int repeats)
{
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        work(i);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double medianMs(const std::function<void()> &work, int repeats)
{
    return medianMs([&](int) { work(); }, repeats);
}

double keysAndFirstScreenMs(const QString &path)
{
    return medianMs([&] {
        Database d(path);
        std::vector<sqlite3_int64> keys;
        sqlite3_stmt *list = prepare(d.db, QStringLiteral("select rowid from data order by rowid"));
        while (sqlite3_step(list) == SQLITE_ROW)
            keys.push_back(sqlite3_column_int64(list, 0));
        sqlite3_finalize(list);
        sqlite3_stmt *row = prepare(d.db, QStringLiteral("select * from data where rowid=?"));
        size_t bytes = 0;
        for (size_t r = 0; r < std::min<size_t>(40, keys.size()); ++r) {
            sqlite3_bind_int64(row, 1, keys[r]);
            if (sqlite3_step(row) == SQLITE_ROW)
                for (int c = 0; c < sqlite3_column_count(row); ++c) {
                    sqlite3_column_text16(row, c);
                    bytes += size_t(sqlite3_column_bytes16(row, c));
                }
            sqlite3_reset(row);
        }
        sqlite3_finalize(row);
        g_sink = bytes + keys.size();
    });
}

double everyRowMs(const QString &path)
{
    return medianMs(
        [&] {
            Database d(path);
            sqlite3_stmt *all = prepare(d.db, QStringLiteral("select * from data"));
            size_t bytes = 0;
            while (sqlite3_step(all) == SQLITE_ROW)
                for (int c = 0; c < sqlite3_column_count(all); ++c) {
                    sqlite3_column_text16(all, c);
                    bytes += size_t(sqlite3_column_bytes16(all, c));
                }
            sqlite3_finalize(all);
            g_sink = bytes;
        },
        3);
}

double statementMs(const QString &path, const QString &sql, int *rows)
{
    Database d(path);
    int count = 0;
    const double ms = medianMs([&] {
        sqlite3_stmt *statement = prepare(d.db, sql);
        count = 0;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            g_sink = size_t(sqlite3_column_int64(statement, 0));
            ++count;
        }
        sqlite3_finalize(statement);
    });
    if (rows)
        *rows = count;
    return ms;
}

double readAndWriteMs(const QString &path, int rows, const QString &folder)
{
    const QString target = folder + QStringLiteral("/floor.out");
    const double ms = medianMs([&] {
        Database d(path);
        sqlite3_stmt *all = prepare(d.db, QStringLiteral("select * from data order by rowid limit %1").arg(rows));
        QFile out(target);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        std::vector<char> buffer;
        buffer.reserve(1 << 20);
        while (sqlite3_step(all) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(all); ++c) {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(all, c));
                const int n = sqlite3_column_bytes(all, c);
                if (text)
                    buffer.insert(buffer.end(), text, text + n);
            }
            if (buffer.size() > (1 << 20) - 4096) {
                out.write(buffer.data(), qint64(buffer.size()));
                buffer.clear();
            }
        }
        out.write(buffer.data(), qint64(buffer.size()));
        out.flush();
        sqlite3_finalize(all);
    });
    QFile::remove(target);
    return ms;
}

} // namespace lianbu::bench
