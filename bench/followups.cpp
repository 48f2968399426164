// Follow-ups on a large register: one customer's history and the reminder query at login,
// against the same statements run straight through SQLite (the floor); then the customer list
// with its two follow-up date columns: every record listed, a screen of dates, a title-click sort
// by each, and the memory they take.
//   lianbu-followup-bench [customers [follow-ups]]   (default 1,000,000 and 3,000,000)
#include "bench/Floor.h"
#include "bench/Generator.h"
#include "customers/CustomerSearch.h"
#include "data/CustomerListModel.h"
#include "data/Database.h"
#include "data/FollowUpDates.h"
#include "data/FollowUpStore.h"
#include "db/BackgroundSearch.h"
#include "db/Connection.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <random>
#include <vector>

using namespace lianbu;
using bench::medianMs;

namespace {

// One statement straight through SQLite, every row stepped, `value` bound to its first "?".
double floorMs(const QString &path, const char *sql, const std::function<void(sqlite3_stmt *, int)> &bind, int repeats)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const double ms = medianMs(
        [&](int i) {
            sqlite3_stmt *statement = nullptr;
            sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
            bind(statement, i);
            while (sqlite3_step(statement) == SQLITE_ROW)
                for (int c = 0; c < sqlite3_column_count(statement); ++c)
                    sqlite3_column_text(statement, c);
            sqlite3_finalize(statement);
        },
        repeats);
    sqlite3_close(db);
    return ms;
}

// Resident memory of the whole process (MB), or its peak.
double residentMb(const char *key = "VmRSS:")
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &row : status.readAll().split('\n'))
        if (row.startsWith(key))
            return row.mid(int(qstrlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

void line(const char *what, double ms, double floor, const char *target)
{
    std::printf("| %-44s | %9.2f | %9.2f | %6.2f | %-10s |\n", what, ms, floor, floor > 0 ? ms / floor : 0.0, target);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int customers = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000000;
    const int count = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 3000000;
    const QString registers = qEnvironmentVariableIsSet("LIANBU_BENCH_REGISTERS")
                                  ? qEnvironmentVariable("LIANBU_BENCH_REGISTERS")
                                  : QStringLiteral(LIANBU_BENCH_REGISTERS);
    // Only read here: the cached register is used in place (a copy would need as much disk again).
    const QString path = bench::cachedRegisterWithFollowUps(registers, customers, count);

    db::Connection connection(path);
    connection.setIntegrityCheck(false);
    connection.open();
    data::FollowUpStore store(connection);
    constexpr int kRepeats = 51;
    std::mt19937 random(7);
    std::vector<qint64> keys;
    for (int i = 0; i < kRepeats; ++i)
        keys.push_back(1 + qint64(random() % unsigned(customers)));

    std::printf("\n### %d customers, %d follow-ups\n\n", customers, count);
    std::printf("| %-44s | %9s | %9s | %6s | %-10s |\n", "", "ms", "floor ms", "ratio", "target");
    std::printf("|%s|%s|%s|%s|%s|\n", "----------------------------------------------", "-----------", "-----------",
                "--------", "------------");

    size_t shown = 0;
    const double history = medianMs([&](int i) { shown += store.ofCustomer(keys[size_t(i)]).size(); }, kRepeats);
    const double historyFloor = floorMs(
        path,
        "select id,customer,contact_time,username,way,content,result,next_date,settled from followups "
        "where customer=? and binned=0 order by contact_time desc, id desc",
        [&](sqlite3_stmt *s, int i) { sqlite3_bind_int64(s, 1, keys[size_t(i)]); }, kRepeats);
    line("one customer's history (跟进记录)", history, historyFloor, "≤ 30 ms");
    std::printf("| %-44s | %9.1f |\n", "  follow-ups per history (mean)", double(shown) / kRepeats);

    const QDate today = lianbu::today();
    size_t due = 0;
    const double reminder = medianMs([&](int) { due = store.due(today).size(); }, kRepeats);
    const QByteArray dueSql = data::dueKeysStatement(false).toUtf8();
    const QByteArray todayText = today.toString(Qt::ISODate).toUtf8();
    const double reminderFloor = floorMs(
        path, dueSql.constData(),
        [&](sqlite3_stmt *s, int) {
            sqlite3_bind_text(s, 1, todayText.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(s, 2, data::FollowUpStore::kDueLimit);
        },
        kRepeats);
    line("reminder query at login (待办提醒)", reminder, reminderFloor, "≤ 50 ms");
    std::printf("| %-44s | %9zu |\n", "  promises due", due);

    // As the program runs it: the ids in the worker thread, the rows on the window's thread.
    db::BackgroundSearch worker(path);
    const double background = medianMs(
        [&](int) {
            QEventLoop loop;
            std::vector<qint64> ids;
            QObject::connect(&worker, &db::BackgroundSearch::finished, &loop,
                             [&](quint64, const std::vector<qint64> &found) {
                                 ids = found;
                                 loop.quit();
                             });
            worker.start(data::dueKeysStatement(false), data::dueKeysValues(today));
            loop.exec();
            store.dueOf(ids);
        },
        15);
    line("reminder through the worker thread", background, reminderFloor, "≤ 50 ms");

    // ---- the customer list with the columns 最近跟进 and 下次联系
    const double memoryBefore = residentMb();
    Database module(nullptr, path);
    data::CustomerListModel &list = *module.customerList;
    auto listEveryRecord = [&] {
        list.loadEveryRecord();
        while (list.loading()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QThread::msleep(1);
        }
    };
    QStringList seen;
    auto firstScreen = [&] {
        // What the grid asks for a screen of 40 rows with every column shown.
        seen.clear();
        for (int row = 0; row < 40 && row < list.rowCount(); ++row)
            for (int column = 0; column < list.columnCount(); ++column)
                seen << list.index(row, column).data().toString();
    };
    listEveryRecord();
    const double listed = medianMs(
        [&] {
            listEveryRecord();
            list.followUpsChanged(0); // the dates are read afresh each time
            firstScreen();
        },
        5);
    const int fields = list.columnCount() - 2;
    line("every record listed, first screen with both dates", listed, 0, "≤ 250 ms");
    std::printf("| %-44s | %9d |\n", "  customers listed", list.rowCount());
    const double memoryWithList = residentMb();
    auto sortBy = [&](const QString &sort) {
        return medianMs(
            [&] {
                list.setSortText(sort);
                firstScreen();
            },
            5);
    };
    // The floor: the dates read in key order straight through SQLite.
    auto scanFloor = [&](const char *sql) {
        return floorMs(
            path, sql, [](sqlite3_stmt *, int) {}, 5);
    };
    const double lastFloor =
        scanFloor("select customer, last_time from followup_dates where last_time is not null order by customer");
    const double nextFloor =
        scanFloor("select customer, next_date from followup_dates where next_date is not null order by customer");
    line("title-click sort 最近跟进, newest first", sortBy(QLatin1String(data::kLastFollowUpField) + " DESC"),
         lastFloor, "≤ 300 ms");
    std::printf("| %-44s | %9s |\n", "  first row's 最近跟进", qPrintable(seen.value(fields)));
    line("title-click sort 最近跟进, oldest first", sortBy(QLatin1String(data::kLastFollowUpField)), lastFloor,
         "≤ 300 ms");
    line("title-click sort 下次联系, earliest first", sortBy(QLatin1String(data::kNextContactField)), nextFloor,
         "≤ 300 ms");
    line("title-click sort 下次联系, latest first", sortBy(QLatin1String(data::kNextContactField) + " DESC"), nextFloor,
         "≤ 300 ms");
    std::printf("| %-44s | %9s |\n", "  first row's 下次联系", qPrintable(seen.value(fields + 1)));
    line("for comparison: sort 客户简称", sortBy(QStringLiteral("b")), 0, "≤ 300 ms");
    // ---- the quick search's look into the follow-ups (客户简称 "跟进:报价"), in its worker
    customers::CustomerSearch search(&list, *module.connection);
    customers::SearchFields typed;
    typed.shortName = QStringLiteral("跟进:报价");
    const double wordSearch = medianMs(
        [&] {
            search.search(typed);
            while (search.busy()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                QThread::msleep(1);
            }
        },
        3);
    const int wordHits = list.rowCount();
    const QByteArray wordFloorSql = QStringLiteral("select rowid from data where b<>'' and rowid in (select customer "
                                                   "from followups where binned = 0 and (content like '%报价%' or "
                                                   "result like '%报价%')) order by rowid")
                                        .toUtf8();
    line("quick search 跟进:报价 → list (worker thread)", wordSearch, scanFloor(wordFloorSql.constData()),
         "off the UI thread");
    std::printf("| %-44s | %9d |\n", "  customers found", wordHits);
    std::printf("| %-44s | %6.1f MB (before the list %.1f, with it %.1f, peak %.1f) | ≤ 120 MB |\n",
                "whole-process memory after the sorts", residentMb(), memoryBefore, memoryWithList,
                residentMb("VmHWM:"));
    return 0;
}
