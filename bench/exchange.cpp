// Throughput of the exchange formats at 100,000 customers (or the counts given): for each
// format, the export of a register's list to a file and the import of that file (read, match
// columns, duplicate check, one transaction into an empty register), each against the time to
// write or read the same number of bytes with plain file I/O.
//
//   cmake --preset release && cmake --build --preset release --target lianbu-exchange-bench
//   QT_QPA_PLATFORM=offscreen build/release/bench/lianbu-exchange-bench [records...]
#include "data/Schema.h"
#include "db/Connection.h"
#include "db/Query.h"
#include "export/CsvFormat.h"
#include "export/CustomerImport.h"
#include "export/ListExport.h"
#include "export/RegisterAccess.h"
#include "export/VCardFormat.h"
#include "export/XlsxFormat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

using namespace lianbu;
using namespace lianbu::exchange;
using F = CustomerField;

namespace {

double msSince(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

std::vector<PlannedRow> customers(int count)
{
    QRandomGenerator random(20101215);
    const QStringList surnames{QStringLiteral("张"), QStringLiteral("李"), QStringLiteral("王"), QStringLiteral("赵"),
                               QStringLiteral("陈"), QStringLiteral("刘"), QStringLiteral("杨"), QStringLiteral("黄")};
    std::vector<PlannedRow> plan;
    plan.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        ImportRow row;
        row.line = i + 2;
        CustomerRecord &r = row.record;
        r[F::Category] = QStringLiteral("客户类别%1").arg(i % 20);
        r[F::ShortName] = QStringLiteral("华联%1分公司").arg(i % 997);
        r[F::Name] = surnames.at(i % 8) + QStringLiteral("伟%1").arg(i);
        r[F::Sex] = i % 2 ? QStringLiteral("男") : QStringLiteral("女");
        r[F::Position] = QStringLiteral("经理");
        r[F::Mobile] = QStringLiteral("139%1").arg(i, 8, 10, QLatin1Char('0'));
        r[F::Phone] = QStringLiteral("0571-%1").arg(random.bounded(10000000, 99999999));
        r[F::Address] = QStringLiteral("杭州市西湖区文三路%1号, \"创业\"大厦").arg(i % 500);
        r[F::Company] = QStringLiteral("杭州某某科技有限公司");
        r[F::Postcode] = QStringLiteral("310012");
        r[F::Email] = QStringLiteral("user%1@example.cn").arg(i);
        r[F::Notes] = i % 10 == 0 ? QStringLiteral("第一行\n第二行") : QString();
        r[F::RegistrationDate] = QStringLiteral("2024-01-02");
        plan.push_back({row, ImportAction::Add, 0});
    }
    return plan;
}

double rawWriteMs(const QString &path, qint64 size)
{
    const QByteArray chunk(1 << 16, 'x');
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    for (qint64 done = 0; done < size; done += chunk.size())
        file.write(chunk.constData(), std::min<qint64>(chunk.size(), size - done));
    file.close();
    return msSince(timer);
}

double rawReadMs(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    return bytes.isEmpty() ? 0 : msSince(timer);
}

void run(int count)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.db"));
    createDeliveredDatabase(source);
    db::Connection sourceConnection(source);
    sourceConnection.open();
    applyImport(sourceConnection.database(), customers(count), QString());

    db::Query list(&sourceConnection);
    list.setSql(QStringLiteral("select * from data"));
    list.open();
    ListExport exported;
    for (std::size_t f = 0; f < kCustomerFieldCount; ++f) {
        exported.layout.titleCells.push_back({fieldTitle(F(f))});
        exported.layout.columnWidths.push_back(70);
        exported.fieldNames.push_back(fieldColumn(F(f)));
    }
    exported.layout.titleName = QStringLiteral("客户统计报表");

    std::printf("%d records\n", count);
    std::printf("%-10s %10s %10s %9s %6s %10s %9s %6s\n", "format", "MB", "export ms", "raw ms", "ratio", "import ms",
                "raw ms", "ratio");
    int round = 0;
    for (const ExportFormat format : {ExportFormat::Xlsx, ExportFormat::CsvUtf8, ExportFormat::CsvGbk, ExportFormat::VCard}) {
        const QString path = dir.filePath(QStringLiteral("out%1.").arg(round) + formatSuffix(format));
        QElapsedTimer timer;
        timer.start();
        exportList(list, exported, format, path);
        const double exportMs = msSince(timer);
        const qint64 size = QFileInfo(path).size();
        const double writeMs = rawWriteMs(dir.filePath(QStringLiteral("raw%1").arg(round)), size);

        // The import as the window runs it: read, match, check duplicates, one transaction.
        const QString target = dir.filePath(QStringLiteral("target%1.db").arg(round));
        createDeliveredDatabase(target);
        db::Connection targetConnection(target);
        targetConnection.open();
        timer.restart();
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        std::vector<ImportRow> rows;
        if (format == ExportFormat::VCard) {
            for (VCardCard &card : parseVCards(bytes).cards)
                rows.push_back({card.line, std::move(card.record)});
        } else {
            const SheetData sheet = format == ExportFormat::Xlsx ? readXlsx(bytes) : parseCsv(bytes, detectEncoding(bytes));
            rows = recordsOf(sheet, matchColumns(sheet));
        }
        DuplicateIndex index;
        for (const IdentifiedCustomer &customer : loadCustomers(targetConnection.database()))
            index.add(customer.id, customer.record);
        std::vector<PlannedRow> plan;
        plan.reserve(rows.size());
        for (ImportRow &row : rows) {
            const bool duplicate = !index.matches(row.record).empty();
            plan.push_back({std::move(row), duplicate ? ImportAction::Skip : ImportAction::Add, 0});
        }
        const ImportSummary summary = applyImport(targetConnection.database(), plan, QString());
        const double importMs = msSince(timer);
        const double readMs = rawReadMs(path);
        if (summary.added != count)
            std::printf("  (only %d of %d records came back)\n", summary.added, count);
        std::printf("%-10s %10.1f %10.0f %9.1f %6.0f %10.0f %9.1f %6.0f\n",
                    qPrintable(formatSuffix(format) + (format == ExportFormat::CsvGbk ? QStringLiteral("/gbk") : QString())),
                    size / 1e6, exportMs, writeMs, exportMs / std::max(writeMs, 0.01), importMs, readMs,
                    importMs / std::max(readMs, 0.01));
        ++round;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(QString::fromLocal8Bit(argv[i]).toInt());
    if (counts.empty())
        counts = {100000};
    for (const int count : counts)
        run(count);
    return 0;
}
