// The counts of the statistics window on a large register: each view's statements and reading,
// the customers of its largest row (what a click on a bar asks for), and how many of the
// generator's addresses the address reader places.
//   lianbu-stats-bench [customers]   (default 1,000,000)
#include "bench/Floor.h"
#include "bench/Generator.h"
#include "data/RegisterUpgrade.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "stats/AddressReader.h"
#include "stats/Counts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSqlQuery>

#include <cstdio>

using namespace lianbu;
using namespace lianbu::stats;

namespace {

bool hasFollowUps(db::Connection &connection)
{
    QSqlQuery query(connection.database());
    return query.exec(QStringLiteral("select 1 from followups limit 1"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int customers = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000000;
    const QString registers = qEnvironmentVariableIsSet("LIANBU_BENCH_REGISTERS")
                                  ? qEnvironmentVariable("LIANBU_BENCH_REGISTERS")
                                  : QStringLiteral(LIANBU_BENCH_REGISTERS);
    // The upgrade adds the counts' indexes to the register: they work on a copy, never on the cached
    // register other benchmarks share (a hard link would be the same file).
    const QString cached = bench::cachedRegister(registers, customers);
    const QString path = cached + QStringLiteral(".stats");
    QFile::remove(path);
    if (!QFile::copy(cached, path)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(cached));
        return 1;
    }
    const auto removeCopy = qScopeGuard([&path] {
        for (const QString suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(path + suffix);
    });
    db::Connection connection(path);
    connection.setIntegrityCheck(false);
    connection.open();
    const QSqlDatabase database = connection.database();
    const bool followUps = hasFollowUps(connection);
    QElapsedTimer indexing;
    indexing.start();
    // An older register gets the counts' indexes as the program's upgrade adds them.
    data::upgradeRegister(connection);
    std::printf("\nRegister brought up to date (the counts' indexes) in %lld ms.\n",
                static_cast<long long>(indexing.elapsed()));

    std::printf("\n### 客户统计, %d customers\n\n", customers);
    std::printf("| %-28s | %9s | %6s | %12s | %9s |\n", "view", "count ms", "rows", "largest row", "click ms");
    std::printf("|------------------------------|-----------|--------|--------------|-----------|\n");
    const struct
    {
        const char *name;
        View view;
        int months;
    } views[] = {
        {"客户类别", View::Category, 12},
        {"省份", View::Province, 12},
        {"城市", View::City, 12},
        {"每月新增 (12 个月)", View::AddedPerMonth, 12},
        {"每月新增 (全部)", View::AddedPerMonth, 0},
        {"跟进 / 操作员", View::FollowUpOperator, 12},
        {"跟进 / 月份 (全部)", View::FollowUpMonth, 0},
        {"30 天未跟进", View::FollowUpAbsence, 12},
    };
    std::vector<CountRow> cities;
    for (const auto &v : views) {
        if (!followUps
            && (v.view == View::FollowUpOperator || v.view == View::FollowUpMonth || v.view == View::FollowUpAbsence)) {
            std::printf("| %-28s | %9s | %6s | %12s | %9s |\n", v.name, "-", "-", "(no table)", "-");
            continue;
        }
        std::vector<CountRow> rows;
        const double ms = bench::medianMs([&] { rows = countCustomers(database, {v.view, v.months, 30, {}}); }, 3);
        if (v.view == View::City)
            cities = rows;
        const CountRow *largest = nullptr;
        for (const CountRow &row : rows)
            if (!largest || row.count > largest->count)
                largest = &row;
        double clickMs = 0;
        qint64 found = 0;
        if (largest && !largest->selection.isEmpty()) {
            const auto statement = customerKeysStatement(database, largest->selection);
            clickMs = bench::medianMs(
                [&] {
                    found =
                        qint64(db::readKeys(db::engineOf(database), database, statement.text, statement.values).size());
                },
                3);
        }
        std::printf("| %-28s | %9.1f | %6zu | %12lld | %9.1f |%s\n", v.name, ms, rows.size(),
                    largest ? static_cast<long long>(largest->count) : 0LL, clickMs,
                    largest && found != largest->count ? " (click found a different number!)" : "");
    }
    qint64 total = 0;
    qint64 unread = 0;
    qint64 noCity = 0;
    for (const CountRow &row : cities) {
        total += row.count;
        if (row.group == unrecognisedLabel())
            unread += row.count;
        else if (row.label == unrecognisedLabel())
            noCity += row.count;
    }
    std::printf("\nAddresses placed: %.2f %% with province (%lld not read, %lld without a city) of %lld.\n",
                total ? 100.0 * double(total - unread) / double(total) : 0.0, static_cast<long long>(unread),
                static_cast<long long>(noCity), static_cast<long long>(total));
    return 0;
}
