// The counts of the statistics window on a large register with follow-ups: each view's statements
// and reading, the customers of its largest row (what a click on a bar asks for), how many of the
// generator's addresses the address reader places, and then the window itself (offscreen): each
// view from the choice to its chart painted, the longest the window's thread stalled meanwhile, and
// a click on its largest bar until the main list shows those customers.
// The cached register is copied first; bringing the copy up to date is timed, and the size of the
// counts' indexes is shown.
//   lianbu-stats-bench [customers [follow-ups]]   (default 1,000,000 and 3,000,000)
#include "bench/Floor.h"
#include "bench/Generator.h"
#include "data/CustomerListModel.h"
#include "data/Database.h"
#include "data/RegisterUpgrade.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/RegisterAddress.h"
#include "stats/AddressReader.h"
#include "stats/Counts.h"
#ifdef LIANBU_STATISTICS
#include "stats/StatisticsWindow.h"

#include <QChartView>
#include <QPushButton>
#endif

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace lianbu;
using namespace lianbu::stats;

namespace {

bool hasFollowUps(db::Connection &connection)
{
    QSqlQuery query(connection.database());
    return query.exec(QStringLiteral("select 1 from followups limit 1")) && query.next();
}

// The machine's load as the figures were taken (the benchmark shares it with other work).
QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(u' ', 0, 2);
}

// The bytes of each table and index of the register, by name (SQLite's dbstat; empty where the
// library was built without it).
QMap<QString, qint64> bytesByName(db::Connection &connection)
{
    QMap<QString, qint64> bytes;
    QSqlQuery query(connection.database());
    if (query.exec(QStringLiteral("select name, sum(pgsize) from dbstat group by name")))
        while (query.next())
            bytes[query.value(0).toString()] = query.value(1).toLongLong();
    return bytes;
}

#ifdef LIANBU_STATISTICS
// Notes the first paint of the chart after it was armed.
class PaintWatch : public QObject
{
public:
    QElapsedTimer *clock = nullptr;
    qint64 paintedAt = -1;
    bool armed = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (armed && event->type() == QEvent::Paint && paintedAt < 0)
            paintedAt = clock->elapsed();
        return QObject::eventFilter(watched, event);
    }
};

struct WindowRun
{
    double ms = 0;      // from the choice to the chart painted
    double stallMs = 0; // the longest gap between two ticks of a 1 ms timer on the window's thread
};

// The views of the window, each from the choice (or 刷新) to its chart painted, median of
// `repeats`; the longest stall is the worst of all runs.
void timeWindow(const QString &path, bool followUps, int repeats)
{
    QElapsedTimer clock;
    clock.start();
    // The main list a click narrows, as the program's: the customers arrive from the window's
    // worker, the list takes them and reads its first screen of rows.
    Database listed(db::parseRegisterAddress(path));
    qint64 listedAt = -1;
    int listedRows = 0;
    StatisticsWindow window(db::parseRegisterAddress(path),
                            [&](const sql::BoundStatement &statement, std::vector<qint64> keys) {
                                data::CustomerListModel &list = *listed.customerList;
                                list.showResult(statement, std::move(keys));
                                listedRows = list.rowCount();
                                for (int row = 0; row < std::min(listedRows, 40); ++row)
                                    list.data(list.index(row, 1));
                                listedAt = clock.elapsed();
                            });
    window.resize(1100, 700);
    bool shown = false;
    QObject::connect(&window, &StatisticsWindow::countsShown, &window, [&shown] { shown = true; });
    auto *chartView = window.findChild<QChartView *>();
    auto *refresh = window.findChild<QPushButton *>(QStringLiteral("statisticsRefresh"));
    PaintWatch watch;
    watch.clock = &clock;
    chartView->viewport()->installEventFilter(&watch);
    window.show();
    // The first view (客户类别) counts as the window opens.
    while (!shown)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    qint64 lastTick = 0;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - lastTick);
        lastTick = now;
    });

    std::printf("\n### 客户统计 window (offscreen), choice to chart painted\n\n");
    std::printf("| %-28s | %9s | %14s | %8s | %17s | %9s |\n", "view", "ms", "longest stall", "target",
                "click to list ms", "listed");
    std::printf(
        "|------------------------------|-----------|----------------|----------|-------------------|-----------|\n");
    const QStringList names = StatisticsWindow::viewNames();
    for (int view = 0; view < names.size(); ++view) {
        if (!followUps && view >= 4)
            continue;
        std::vector<double> runs;
        qint64 worstStall = 0;
        for (int run = 0; run < repeats; ++run) {
            shown = false;
            watch.paintedAt = -1;
            watch.armed = false;
            QObject::connect(
                &window, &StatisticsWindow::countsShown, &watch, [&watch] { watch.armed = true; },
                Qt::SingleShotConnection);
            const qint64 start = clock.elapsed();
            lastTick = start;
            longest = 0;
            ticker.start();
            if (run == 0 && view != 0)
                window.chooseView(view);
            else
                refresh->click();
            while (watch.paintedAt < 0 && clock.elapsed() - start < 120000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            ticker.stop();
            runs.push_back(double(watch.paintedAt - start));
            worstStall = std::max(worstStall, longest);
        }
        std::sort(runs.begin(), runs.end());
        // A click on the largest bar: from the click to the main list showing its customers.
        int largest = -1;
        for (int row = 0; row < int(window.rows().size()); ++row)
            if (isListable(window.rows()[size_t(row)].selection)
                && (largest < 0 || window.rows()[size_t(row)].count > window.rows()[size_t(largest)].count))
                largest = row;
        std::vector<double> clicks;
        for (int run = 0; largest >= 0 && run < repeats; ++run) {
            listedAt = -1;
            const qint64 start = clock.elapsed();
            window.showRowCustomers(largest);
            while (listedAt < 0 && clock.elapsed() - start < 120000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            clicks.push_back(double(listedAt - start));
        }
        std::sort(clicks.begin(), clicks.end());
        const double click = clicks.empty() ? 0.0 : clicks[clicks.size() / 2];
        // No customers to list (every month of the period empty): no click.
        const QString clickText = clicks.empty() ? QStringLiteral("-") : QString::number(click, 'f', 1);
        const QString listedText = clicks.empty() ? QStringLiteral("-") : QString::number(listedRows);
        std::printf("| %-28s | %9.1f | %11lld ms | %8s | %17s | %9s |%s\n", qPrintable(names.at(view)),
                    runs[runs.size() / 2], static_cast<long long>(worstStall), "≤ 1000 ms", qPrintable(clickText),
                    qPrintable(listedText), runs[runs.size() / 2] > 1000 || click > 1000 ? " (over)" : "");
    }
}
#endif

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int customers = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000000;
    const int followUpCount = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 3000000;
    const QString registers = qEnvironmentVariableIsSet("LIANBU_BENCH_REGISTERS")
                                  ? qEnvironmentVariable("LIANBU_BENCH_REGISTERS")
                                  : QStringLiteral(LIANBU_BENCH_REGISTERS);
    // The register with follow-ups, as the follow-up benchmark makes it (link a cached one into the
    // folder rather than copying it). The cached file is shared and never written: the counts run
    // on a copy, brought up to date as the program does on opening it (the counts' indexes among
    // others), and the time that takes is shown.
    const QString cached = bench::cachedRegisterWithFollowUps(registers, customers, followUpCount);
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("data.db"));
    if (!QFile::copy(cached, path)) {
        std::fprintf(stderr, "Cannot copy %s into %s\n", qPrintable(cached), qPrintable(scratch.path()));
        return 1;
    }
    std::printf("\nLoad average at the start: %s\n", qPrintable(loadAverage()));
    db::Connection connection(path);
    connection.setIntegrityCheck(false);
    connection.open();
    const QSqlDatabase database = connection.database();
    const bool followUps = hasFollowUps(connection);
    if (!data::registerIsCurrent(connection)) {
        const QMap<QString, qint64> before = bytesByName(connection);
        QElapsedTimer upgrading;
        upgrading.start();
        data::upgradeRegister(connection);
        const qint64 ms = upgrading.elapsed();
        std::printf("\nRegister brought up to date in %lld ms.\n", static_cast<long long>(ms));
        const QMap<QString, qint64> after = bytesByName(connection);
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            if (!before.contains(it.key()))
                std::printf("  added %-28s %8.1f MB\n", qPrintable(it.key()), double(*it) / (1024 * 1024));
    }
    {
        const QMap<QString, qint64> bytes = bytesByName(connection);
        qint64 total = 0;
        for (const qint64 b : bytes)
            total += b;
        std::printf("\nRegister %.1f MB; the counts' indexes:", double(total) / (1024 * 1024));
        for (const char *name : {"data_address_start", "data_day1_month", "followups_operator", "followups_month"})
            std::printf(" %s %.1f MB;", name, double(bytes.value(QLatin1String(name))) / (1024 * 1024));
        std::printf(" followups itself %.1f MB.\n", double(bytes.value(QStringLiteral("followups"))) / (1024 * 1024));
    }

    std::printf("\n### 客户统计, %d customers%s\n\n", customers, followUps ? ", with follow-ups" : "");
    std::printf("| %-28s | %9s | %9s | %6s | %12s | %9s |\n", "view", "count ms", "target", "rows", "largest row",
                "click ms");
    std::printf("|------------------------------|-----------|-----------|--------|--------------|-----------|\n");
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
        {"跟进 / 月份 (12 个月)", View::FollowUpMonth, 12},
        {"跟进 / 月份 (全部)", View::FollowUpMonth, 0},
        {"30 天未跟进", View::FollowUpAbsence, 12},
    };
    std::vector<CountRow> cities;
    for (const auto &v : views) {
        if (!followUps
            && (v.view == View::FollowUpOperator || v.view == View::FollowUpMonth || v.view == View::FollowUpAbsence)) {
            std::printf("| %-28s | %9s | %9s | %6s | %12s | %9s |\n", v.name, "-", "≤ 1000", "-", "(no table)", "-");
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
        // The follow-up counts count follow-ups; a click lists their customers (fewer).
        const bool countsCustomers = v.view != View::FollowUpOperator && v.view != View::FollowUpMonth;
        char note[64] = "";
        if (largest && countsCustomers && found != largest->count)
            std::snprintf(note, sizeof note, " (click found a different number!)");
        else if (largest && !countsCustomers)
            std::snprintf(note, sizeof note, " (click: %lld customers)", static_cast<long long>(found));
        std::printf("| %-28s | %9.1f | %9s | %6zu | %12lld | %9.1f |%s%s\n", v.name, ms, "≤ 1000", rows.size(),
                    largest ? static_cast<long long>(largest->count) : 0LL, clickMs, ms > 1000 ? " (over)" : "", note);
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
#ifdef LIANBU_STATISTICS
    timeWindow(path, followUps, 3);
#endif
    std::printf("\nLoad average at the end: %s\n", qPrintable(loadAverage()));
    return 0;
}
