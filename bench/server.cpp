// Benchmark of a register on a PostgreSQL server: opening the customer list and one quick-search
// keystroke through the program's data layer, against psql running the statements the list
// sends (the keys in order, then the first screens): the engine's floor, nothing of ours. Then
// another program instance, a process of its own, writes to the register while this one lists
// every record: how soon its writes show, the idle watcher, the window's longest wait.
//
//   lianbu-server-bench postgresql://user@host:port/emptydb [rows]      (rows: 100000)
//
// The database must be empty; the register is created in it (lianbu-initdb's way, with the
// pg_trgm indexes) and filled on the server (bench/ServerFill). Medians of 5 runs, milliseconds.
#include "bench/Floor.h"
#include "bench/LiveChanges.h"
#include "bench/OtherInstance.h"
#include "bench/ServerFill.h"
#include "data/Database.h"
#include "data/SearchIndex.h"
#include "data/ServerRegister.h"
#include "data/Statements.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/Query.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace lianbu;

namespace {

// psql's own time for the statements (\timing, summed), rows sent to /dev/null; median of 5.
double psqlMs(const QString &address, const QStringList &statements)
{
    std::vector<double> times;
    static const QRegularExpression timeLine(QStringLiteral("Time: ([0-9.]+) ms"));
    for (int i = 0; i < 5; ++i) {
        QStringList arguments{
            QStringLiteral("-X"), QStringLiteral("-q"),          QStringLiteral("-d"), address,
            QStringLiteral("-c"), QStringLiteral("\\timing on"), QStringLiteral("-c"), QStringLiteral("\\o /dev/null")};
        for (const QString &sql : statements)
            arguments << QStringLiteral("-c") << sql;
        QProcess psql;
        psql.start(QStringLiteral("psql"), arguments);
        psql.waitForFinished(120000);
        double total = 0;
        int timed = 0;
        auto matches = timeLine.globalMatch(QString::fromUtf8(psql.readAllStandardOutput()));
        while (matches.hasNext()) {
            total += matches.next().captured(1).toDouble();
            ++timed;
        }
        if (timed != statements.size()) {
            std::fprintf(stderr, "psql: %s\n", psql.readAllStandardError().constData());
            return -1;
        }
        times.push_back(total);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// What the list sends to the server for a statement: the keys of every row in key order, then
// the first screens (448 rows) by key.
QStringList keysetStatements(const QString &where)
{
    return {QStringLiteral("select \"data\".rid from data %1 order by \"data\".rid").arg(where),
            QStringLiteral("select \"data\".rid, * from data %1 order by \"data\".rid limit 448").arg(where)};
}

// The statement with its values written in as literals, for psql.
QString withLiterals(const QString &sql, const QVariantList &values)
{
    QString text;
    int next = 0;
    for (const QChar c : sql)
        text +=
            c == QLatin1Char('?') && next < values.size() ? sql::sqlLiteral(values.at(next++).toString()) : QString(c);
    return text;
}

void line(const char *what, int rows, double program, double floor)
{
    std::printf("| %-44s | %7d | %9.1f | %9.1f | %5.1fx |\n", what, rows, program, floor,
                floor > 0 ? program / floor : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> other = bench::runOtherInstance(argc, argv))
        return *other;
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: lianbu-server-bench postgresql://user@host:port/emptydb [rows]\n");
        return 2;
    }
    const QString given = QString::fromLocal8Bit(argv[1]);
    const int rows = argc > 2 ? std::atoi(argv[2]) : 100000;
    try {
        const db::RegisterAddress address = db::parseRegisterAddress(given);
        createServerRegister(address);
        db::Connection connection;
        connection.setAddress(address);
        connection.open();
        // Customers as an office has them: a Chinese short name with a number, categories,
        // telephone numbers, names, addresses and companies.
        // Without the per-row triggers (a million rows through them take many minutes), and
        // what they would have written made set-wise: the same register.
        QElapsedTimer filling;
        filling.start();
        bench::fillWithoutRowTriggers(
            connection,
            QStringLiteral(
                "insert into data (a,b,c,d,e,f,g,i,j,day1) select "
                "(array['VIP','普通','代理商','供应商','潜在客户'])[1 + n % 5], "
                "(array['华联','科技','贸易','电子','服装','食品','建材','物流'])[1 + n % 8] || "
                "(array['商行','公司','集团','超市'])[1 + (n / 8) % 4] || n, "
                "(array['张','王','李','赵','陈','刘'])[1 + n % 6] || (array['伟','芳','娜','敏','静','强','磊'])[1 + "
                "(n / 6) % 7], "
                "(array['男','女'])[1 + n % 2], '经理', '139' || lpad((n * 7919 % 100000000)::text, 8, '0'), "
                "'0571-' || lpad((n * 104729 % 10000000)::text, 7, '0'), "
                "(array['杭州市','上海市','北京市','广州市'])[1 + n % 4] || (n % 300) || '号', "
                "(array['联簿','Acme','星河','东方'])[1 + n % 4] || '有限公司', '2010-08-15' "
                "from generate_series(1::bigint, %1) n")
                .arg(rows));
        const double fillSeconds = double(filling.elapsed()) / 1000.0;
        // The initials of every new row, as the program's first search writes them.
        filling.restart();
        refreshSearchExtra(connection);
        const double initialsSeconds = double(filling.elapsed()) / 1000.0;
        connection.execute(QStringLiteral("analyze"));
        std::printf("(filled in %.1f s; pinyin initials written in %.1f s)\n", fillSeconds, initialsSeconds);

        const QString psqlAddress = db::formatRegisterAddress(address);
        std::printf("PostgreSQL register, %d records (medians of 5, ms)\n\n", rows);
        std::printf("| %-44s | %7s | %9s | %9s | %6s |\n", "job", "rows", "program", "psql", "ratio");
        std::printf("|%s|%s|%s|%s|%s|\n", "----------------------------------------------", "---------", "-----------",
                    "-----------", "--------");

        // The list of every record, as after the login.
        db::Query list(&connection);
        list.setSql(sql::allRecords());
        int listed = 0;
        const double listMs = bench::medianMs([&] {
            list.close();
            list.open();
            listed = list.recordCount();
        });
        line("list: every record", listed, listMs, psqlMs(psqlAddress, keysetStatements({})));

        // Keystrokes in 客户简称: a common text, then a rare one.
        const db::Engine &engine = db::engineOf(connection.database());
        for (const QString &typed : {QStringLiteral("科技"), QStringLiteral("科技商行12")}) {
            const sql::BoundStatement search = sql::boundSearch(engine, {}, typed, {}, {}, {}, {});
            int found = 0;
            const double searchMs = bench::medianMs([&] {
                list.close();
                list.setSql(search.text, search.values);
                list.open();
                found = list.recordCount();
            });
            // Every placeholder is in the condition.
            const QString where =
                withLiterals(search.text.mid(search.text.indexOf(QLatin1String(" where "))), search.values);
            const QByteArray what = QStringLiteral("quick search 客户简称 \"%1\"").arg(typed).toUtf8();
            line(what.constData(), found, searchMs, psqlMs(psqlAddress, keysetStatements(where)));
        }

        // The program's data module on the register, its list and watcher connected as the main
        // window connects them (a reread of the list where the main window rereads it).
        Database module(address);
        data::CustomerListModel *customers = module.customerList;
        QObject::connect(module.changeWatcher, &data::ChangeWatcher::changed, customers,
                         &data::CustomerListModel::applyChanges);
        QObject::connect(module.changeWatcher, &data::ChangeWatcher::fellBehind, customers,
                         &data::CustomerListModel::loadEveryRecord);
        QObject::connect(customers, &data::CustomerListModel::listOutdated, customers,
                         &data::CustomerListModel::loadEveryRecord);
        customers->loadEveryRecord();
        bench::measureLiveChanges(*customers, *module.changeWatcher, given, 500);
    } catch (const Error &error) {
        std::fprintf(stderr, "lianbu-server-bench: %s\n", qPrintable(error.message()));
        return 1;
    }
    return 0;
}
