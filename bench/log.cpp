// The change log at 1,000,000 customers: a logged save against the same update unlogged, and the
// 操作日志 window opening on 1,000,000 log rows (until its first page is on screen).
//   QT_QPA_PLATFORM=offscreen build/release/bench/lianbu-log-bench [folder of register-1000000-v2.db]
#include "Floor.h"
#include "Generator.h"

#include "data/ChangeLog.h"
#include "data/CustomerColumns.h"
#include "data/CustomerStore.h"
#include "data/Database.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "operators/OperationLogWindow.h"
#include "platform/Application.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace lianbu;
using bench::medianMs;

int main(int argc, char **argv)
{
    Application app(argc, argv);
    const int rows = 1000000;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(LIANBU_BENCH_REGISTERS);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.db"));
    if (!QFile::copy(bench::cachedRegister(folder, rows), path)) {
        std::fprintf(stderr, "cannot copy the register of %d customers\n", rows);
        return 1;
    }
    QDir::setCurrent(dir.path());
    Database data(nullptr, path);
    db::Connection &connection = *data.connection;
    data::CustomerStore &store = *data.customerStore;
    std::printf("\n### The change log, %d customers\n\n| %-52s | %9s | %-12s |\n|%s|%s|%s|\n", rows, "", "wall ms",
                "target", "------------------------------------------------------", "-----------", "--------------");

    // Customers spread over the register, each saved with a new phone number.
    QSqlQuery keys = db::runBound(connection, QStringLiteral("select rid from data where rid % 9973 = 0 limit 41"));
    std::vector<qint64> chosen;
    while (keys.next())
        chosen.push_back(keys.value(0).toLongLong());
    keys.finish();
    const int repeats = int(chosen.size()) / 2;
    const double logged = medianMs(
        [&](int i) {
            const qint64 key = chosen[size_t(i)];
            store.modify(*store.read(key), {{QLatin1String(col::Phone), QStringLiteral("0571-%1").arg(i)}});
        },
        repeats);
    // The same save before the log: read the customer, then the update that checks what was read.
    const double unlogged = medianMs(
        [&](int i) {
            const qint64 key = chosen[size_t(repeats + i)];
            const data::CustomerRecord seen = *store.read(key);
            db::runBound(
                connection, QStringLiteral("update data set g=? where rid=? and g is ?"),
                {QStringLiteral("0571-%1").arg(i), key, seen.value(QLatin1String(col::Phone)).value_or(QString())});
        },
        repeats);
    std::printf("| %-52s | %9.2f | %-12s |\n", "save, logged (read + update + log row)", logged, "");
    std::printf("| %-52s | %9.2f | %-12s |\n", "save, unlogged (read + update)", unlogged, "");
    std::printf("| %-52s | %9.2f | %-12s |\n", "the log's cost", logged - unlogged, "≤ 2 ms");

    // 1,000,000 log rows, as many changes of many operators would leave.
    const qint64 already = data::ChangeLog(connection).count({});
    db::runBound(connection, QStringLiteral("begin"));
    QSqlQuery insert(connection.database());
    insert.prepare(QStringLiteral("insert into change_log (log_time,username,pc,kind,customer_key,subject,details) "
                                  "values (?,?,?,?,?,?,?)"));
    for (qint64 i = already; i < rows; ++i) {
        insert.addBindValue(QStringLiteral("2026-%1-%2 09:00:00.000")
                                .arg(1 + i % 12, 2, 10, QLatin1Char('0'))
                                .arg(1 + i % 28, 2, 10, QLatin1Char('0')));
        insert.addBindValue(QStringLiteral("业务员%1").arg(i % 20));
        insert.addBindValue(QStringLiteral("PC-%1").arg(i % 7));
        insert.addBindValue(QStringLiteral("customer_change"));
        insert.addBindValue(1 + i % 1000000);
        insert.addBindValue(QStringLiteral("客户%1").arg(i));
        insert.addBindValue(QStringLiteral(R"([{"f":"g","o":"0571-1","n":"0571-2"}])"));
        insert.exec();
    }
    db::runBound(connection, QStringLiteral("commit"));

    const double opened = medianMs(
        [&](int) {
            operators::OperationLogWindow window(data::SessionOperator(connection, {}), nullptr);
            while (window.reading())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
            if (window.shown().rows.empty())
                std::fprintf(stderr, "the log window showed nothing\n");
        },
        5);
    char opening[80];
    std::snprintf(opening, sizeof opening, "操作日志 opens on %lld log rows (first page shown)",
                  static_cast<long long>(data::ChangeLog(connection).count({})));
    std::printf("| %-52s | %9.2f | %-12s |\n", opening, opened, "≤ 300 ms");
    return 0;
}
