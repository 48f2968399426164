// Throughput of the exchange formats at 100,000 customers (or the counts given): for each
// format, the export of a register's list to a file and the import of that file (read, match
// columns, duplicate check, one transaction into an empty register), each against the time to
// write or read the same number of bytes with plain file I/O. The legacy .xls holds at most
// 65,536 sheet rows, so its list stops there.
//
// Each import has its floor, measured in the same run: the bytes read plainly (an .xlsx: its
// sheet's XML scanned as a stream) plus the same records as bound inserts in one transaction
// into a register with the same triggers, as many rows to a statement as the import writes.
//
// Then 10,000 customers from a CSV and an .xlsx file into an empty register through the import
// window itself (read and preview, duplicate list, the transaction), 1 % of them duplicates of
// an earlier record of the file.
//
// Last, the hostile files of the import tests, each timed to its refusal.
//
//   cmake --preset release && cmake --build --preset release --target lianbu-exchange-bench
//   QT_QPA_PLATFORM=offscreen build/release/bench/lianbu-exchange-bench [records... | hostile | read records]
//   ... lianbu-exchange-bench [xls|xlsx|csv|csv/gbk|vcf...] [--rows-per-statement=N] records...
// (formats named: only their exports and imports; the insert floor's statements hold N rows,
// by default as many as the import's.)
#include "bench/BenchDialogs.h"
#include "bench/CpuTime.h"
#include "customers/CustomerGrid.h"
#include "customers/ImportWindow.h"
#include "customers/ShownList.h"
#include "data/Schema.h"
#include "db/Connection.h"
#include "db/DataSetModel.h"
#include "db/ListRows.h"
#include "db/Query.h"
#include "db/SqliteEngine.h"
#include "export/CsvFormat.h"
#include "export/CustomerImport.h"
#include "export/ListExport.h"
#include "export/RegisterAccess.h"
#include "export/VCardFormat.h"
#include "export/XlsExporter.h"
#include "export/XlsReader.h"
#include "export/XlsxFormat.h"
#include "export/XmlScanner.h"
#include "export/ZipArchive.h"
#include "grid/DataGrid.h"
#include "platform/Error.h"
#include "resources/Resources.h"
#include "tests/export/HostileFiles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <xlsxwriter.h>

using namespace lianbu;
using namespace lianbu::exchange;
using F = CustomerField;

namespace {

double msSince(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

double cpuMs()
{
    return bench::clockMs(CLOCK_PROCESS_CPUTIME_ID);
}

// Every `repeatEvery`-th customer (0: none) has the mobile of the one before it.
std::vector<PlannedRow> customers(int count, int repeatEvery = 0)
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
        const int mobile = repeatEvery > 0 && i > 0 && i % repeatEvery == 0 ? i - 1 : i;
        r[F::Mobile] = QStringLiteral("139%1").arg(mobile, 8, 10, QLatin1Char('0'));
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

using CellRows = std::vector<std::vector<std::string>>;

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

// The .xlsx floor: libxlsxwriter in constant-memory mode writing the list's cells (read into
// memory beforehand as UTF-8), one row after another, to a file at `path`.
double xlsxFloorMs(const CellRows &cells, const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    QElapsedTimer timer;
    timer.start();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook *workbook = workbook_new_opt(name.constData(), &options);
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, "客户");
    for (std::size_t r = 0; r < cells.size(); ++r)
        for (std::size_t c = 0; c < cells[r].size(); ++c)
            if (!cells[r][c].empty())
                worksheet_write_string(sheet, lxw_row_t(r), lxw_col_t(c), cells[r][c].c_str(), nullptr);
    workbook_close(workbook);
    return msSince(timer);
}

// The file read as the import window reads it: records by the columns their titles name.
std::vector<ImportRow> readRecords(ExportFormat format, const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    std::vector<ImportRow> rows;
    if (format == ExportFormat::VCard) {
        for (VCardCard &card : parseVCards(bytes).cards)
            rows.push_back({card.line, std::move(card.record)});
        return rows;
    }
    const SheetData sheet = format == ExportFormat::Xls    ? readXls(path)
                            : format == ExportFormat::Xlsx ? readXlsx(bytes)
                                                           : parseCsv(bytes, detectEncoding(bytes));
    return recordsOf(sheet, matchColumns(sheet));
}

// The floor of an .xlsx read: its shared strings and first sheet unpacked as a stream and
// scanned, every text made a string, and nothing else (no cells, no rows, no records).
double xmlScanMs(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    ZipArchive zip;
    if (!zip.open(bytes))
        return 0;
    qint64 characters = 0;
    for (const QString member : {QStringLiteral("xl/sharedStrings.xml"), QStringLiteral("xl/worksheets/sheet1.xml")}) {
        if (!zip.contains(member))
            continue;
        const auto device = zip.stream(member);
        XmlScanner xml(device.get(), 1 << 20);
        while (!xml.atEnd())
            if (xml.next() == XmlScanner::Token::Text)
                characters += xml.text().size();
    }
    return characters > 0 ? msSince(timer) : 0;
}

// The floor of an import's writing: the same records as bound inserts in one transaction,
// straight through the engine, into an empty register with the same tables and triggers, in
// statements of `rowsPerStatement` rows as the import writes them (the last one shorter).
double boundInsertMs(const QString &target, const std::vector<ImportRow> &rows, int rowsPerStatement, double *cpu)
{
    createDeliveredDatabase(target);
    db::Connection connection(target);
    connection.open();
    sqlite3 *handle = db::engine::nativeHandle(connection.database());
    QStringList columns;
    QStringList marks;
    for (std::size_t f = 0; f < kCustomerFieldCount; ++f) {
        columns << fieldColumn(F(f));
        marks << QStringLiteral("?");
    }
    const QString tuple = QLatin1Char('(') + marks.join(QLatin1Char(',')) + QLatin1Char(')');
    auto insertOf = [&](std::size_t count) {
        QStringList tuples;
        for (std::size_t r = 0; r < count; ++r)
            tuples << tuple;
        return QStringLiteral("INSERT INTO data (%1) VALUES %2")
            .arg(columns.join(QLatin1Char(',')), tuples.join(QLatin1Char(',')));
    };
    const std::size_t batch = std::size_t(std::max(rowsPerStatement, 1));
    // A statement's undo kept in memory, as the import keeps it.
    sqlite3_exec(handle, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
    const double cpu0 = cpuMs();
    QElapsedTimer timer;
    timer.start();
    sqlite3_exec(handle, "BEGIN", nullptr, nullptr, nullptr);
    {
        db::engine::Statement full(handle, insertOf(batch));
        for (std::size_t first = 0; first < rows.size(); first += batch) {
            const std::size_t count = std::min(batch, rows.size() - first);
            std::optional<db::engine::Statement> tail;
            if (count < batch)
                tail.emplace(handle, insertOf(count));
            db::engine::Statement &insert = tail ? *tail : full;
            insert.reset();
            for (std::size_t r = 0; r < count; ++r)
                for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
                    insert.bind(int(r * kCustomerFieldCount + f) + 1, rows[first + r].record.values[f]);
            insert.step();
        }
    }
    sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr);
    *cpu = cpuMs() - cpu0;
    return msSince(timer);
}

// Read, duplicate check against the register and within the file, one transaction, into a
// register already open (as the operator's is when the import starts: making a register, with
// its administrator's password hash, is not the import's work and its floor does not pay it).
ImportSummary importInto(db::Connection &connection, ExportFormat format, const QString &path)
{
    std::vector<ImportRow> rows = readRecords(format, path);
    DuplicateIndex index;
    for (const IdentifiedCustomer &customer : loadCustomers(connection.database()))
        index.add(customer.id, customer.record);
    std::vector<PlannedRow> plan;
    plan.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bool duplicate = !index.matches(rows[i].record).empty();
        index.add(-qint64(i) - 1, rows[i].record);
        plan.push_back({std::move(rows[i]), duplicate ? ImportAction::Skip : ImportAction::Add, 0});
    }
    return applyImport(connection.database(), plan, QString());
}

// A register of `count` customers, its list in the customer grid, and the list export of
// every field.
struct SourceRegister
{
    QString path;
    db::Connection connection;
    db::Query list{&connection};
    db::DataSetModel model;
    DataGrid grid;
    // Every customer field in its own column.
    db::ListColumns everyField;
    QStringList names;
    const QString title = QStringLiteral("客户统计报表");

    SourceRegister(const QString &file, int count, int repeatEvery = 0)
        : path(file)
        , connection(file)
    {
        createDeliveredDatabase(path);
        connection.open();
        applyImport(connection.database(), customers(count, repeatEvery), QString());
        list.setSql(QStringLiteral("select * from data"));
        list.open();
        model.setDataSet(&list);
        grid.setListModel(&model);
        customers::configureCustomerGrid(&grid);
        for (int k = 0; k < list.fieldCount(); ++k)
            names.append(list.field(k).fieldName());
        for (std::size_t f = 0; f < kCustomerFieldCount; ++f) {
            db::ListColumn column;
            column.fieldName = fieldColumn(F(f));
            column.valueIndex = int(names.indexOf(column.fieldName));
            column.title = fieldTitle(F(f));
            column.width = 70;
            everyField.columns.push_back(column);
        }
    }

    // The cells of the list's rows as UTF-8, every field (the .xlsx floor's input).
    std::vector<std::vector<std::string>> cells() const
    {
        std::vector<std::vector<std::string>> out;
        const db::DataSetRows rows(list);
        rows.readRows(0, rows.rowCount(), [&](int, const db::RowCells &values) {
            std::vector<std::string> row;
            for (const db::ListColumn &column : everyField.columns)
                row.push_back(column.valueIndex >= 0 ? values.text(column.valueIndex).toString().toStdString()
                                                     : std::string());
            out.push_back(std::move(row));
        });
        return out;
    }

    // The list in `format` through the format registry, as 导 出 writes it.
    ExportOutcome write(ExportFormat format, const QString &path)
    {
        const db::DataSetRows rows(list);
        return exportList({title, QString(), QString(), QString(), everyField, rows, names}, format, path);
    }
};

// The legacy .xls of the grid's list through the format registry (the command around it adds
// the overwrite question, the progress window and opening the file). The list is shortened to
// what the format's 65,536 rows hold; only the export itself is timed (`*ms`), not the list
// being opened shorter and again whole around it. Returns the records written.
qint64 exportXls(SourceRegister &source, const QString &path, double *ms)
{
    const QHash<QString, QString> unshown{{fieldColumn(F::Website), fieldTitle(F::Website)}};
    db::ListColumns columns = customers::shownColumns(source.grid, unshown);
    auto rows = std::make_unique<db::DataSetRows>(source.list);
    XlsExporter writer;
    writer.setList(&columns, rows.get());
    writer.setShowProgress(false);
    writer.setTitleName(source.title);
    const qint64 excess = writer.sheetRowCount() - (qint64(xls::kMaxRow) + 1);
    if (excess > 0) {
        const qint64 fits = source.list.recordCount() - excess;
        source.list.close();
        source.list.setSql(QStringLiteral("select * from data limit %1").arg(fits));
        source.list.open();
        columns = customers::shownColumns(source.grid, unshown);
        rows = std::make_unique<db::DataSetRows>(source.list);
        writer.setList(&columns, rows.get());
    }
    QElapsedTimer timer;
    timer.start();
    exportList({source.title, QString(), QString(), QString(), columns, *rows, {}}, ExportFormat::Xls, path);
    *ms = msSince(timer);
    const qint64 written = source.list.recordCount();
    if (excess > 0) {
        source.list.close();
        source.list.setSql(QStringLiteral("select * from data"));
        source.list.open();
    }
    return written;
}

QString formatName(ExportFormat format)
{
    return formatSuffix(format) + (format == ExportFormat::CsvGbk ? QStringLiteral("/gbk") : QString());
}

const std::vector<ExportFormat> kEveryFormat{ExportFormat::Xls, ExportFormat::Xlsx, ExportFormat::CsvUtf8,
                                             ExportFormat::CsvGbk, ExportFormat::VCard};

// Each import against its floor, measured in the same run: reading the file's bytes (for
// .xlsx: the streaming scan of its sheet's XML) plus the bound inserts of the same records.
void throughput(int count, const std::vector<ExportFormat> &formats, int rowsPerStatement)
{
    QTemporaryDir dir;
    SourceRegister source(dir.filePath(QStringLiteral("source.db")), count);

    std::printf("%d records\n", count);
    std::printf("%-10s %8s %8s %10s %9s %9s %6s %10s %9s %9s %9s %6s %9s %9s\n", "format", "records", "MB", "export ms",
                "raw ms", "floor ms", "ratio", "import ms", "read ms", "insert ms", "floor ms", "ratio", "imp CPU",
                "floor CPU");
    int round = 0;
    for (const ExportFormat format : formats) {
        const QString path = dir.filePath(QStringLiteral("out%1.").arg(round) + formatSuffix(format));
        QElapsedTimer timer;
        timer.start();
        double exportMs = 0;
        const qint64 records =
            format == ExportFormat::Xls ? exportXls(source, path, &exportMs) : source.write(format, path).records;
        if (format != ExportFormat::Xls)
            exportMs = msSince(timer);
        const qint64 size = QFileInfo(path).size();
        const double writeMs = rawWriteMs(dir.filePath(QStringLiteral("raw%1").arg(round)), size);
        // The spreadsheets' floors: the same cells through libxlsxwriter (.xlsx); the same bytes
        // read and written (.xls); the others: the same bytes written.
        double floorMs = writeMs;
        if (format == ExportFormat::Xls)
            floorMs = rawReadMs(path) + writeMs;
        else if (format == ExportFormat::Xlsx)
            floorMs = xlsxFloorMs(source.cells(), dir.filePath(QStringLiteral("floor%1.xlsx").arg(round)));

        const QString target = dir.filePath(QStringLiteral("target%1.db").arg(round));
        createDeliveredDatabase(target);
        std::optional<db::Connection> targetRegister(std::in_place, target);
        targetRegister->open();
        timer.restart();
        double cpu0 = cpuMs();
        const ImportSummary summary = importInto(*targetRegister, format, path);
        const double importMs = msSince(timer);
        const double importCpu = cpuMs() - cpu0;
        targetRegister.reset();
        QFile::remove(target);
        cpu0 = cpuMs();
        const double readMs = format == ExportFormat::Xlsx ? xmlScanMs(path) : rawReadMs(path);
        const double readCpu = cpuMs() - cpu0;
        const QString floorTarget = dir.filePath(QStringLiteral("floor%1.db").arg(round));
        double insertCpu = 0;
        const double insertMs = boundInsertMs(floorTarget, readRecords(format, path), rowsPerStatement, &insertCpu);
        QFile::remove(floorTarget);
        const double importFloorMs = readMs + insertMs;
        if (summary.added != records)
            std::printf("  (only %d of %lld records came back)\n", summary.added, records);
        std::printf("%-10s %8lld %8.1f %10.0f %9.1f %9.1f %6.2f %10.0f %9.1f %9.0f %9.0f %6.2f %9.0f %9.0f\n",
                    qPrintable(formatName(format)), records, size / 1e6, exportMs, writeMs, floorMs,
                    exportMs / std::max(floorMs, 0.01), importMs, readMs, insertMs, importFloorMs,
                    importMs / std::max(importFloorMs, 0.01), importCpu, readCpu + insertCpu);
        ++round;
    }
    std::printf("\n");
}

// What a newcomer does: a file into an empty register through "导入…".
void throughTheImportWindow(int count)
{
    QTemporaryDir dir;
    SourceRegister source(dir.filePath(QStringLiteral("source.db")), count, 100);
    bench::BenchDialogs dialogs;
    std::printf("%d records through the import window (1 %% duplicates within the file)\n", count);
    std::printf("%-10s %10s %12s %10s %10s %8s %8s\n", "format", "read ms", "duplicates", "write ms", "total ms",
                "added", "skipped");
    int round = 0;
    for (const ExportFormat format : {ExportFormat::CsvUtf8, ExportFormat::Xlsx}) {
        const QString path = dir.filePath(QStringLiteral("in%1.").arg(round) + formatSuffix(format));
        source.write(format, path);
        const QString target = dir.filePath(QStringLiteral("empty%1.db").arg(round));
        createDeliveredDatabase(target);
        db::Connection connection(target);
        connection.open();

        customers::ImportWindow window(connection.database());
        QElapsedTimer timer;
        timer.start();
        window.loadFile(path);
        const double readMs = msSince(timer);
        window.findDuplicates();
        const double duplicatesMs = msSince(timer) - readMs;
        window.runImport(); // duplicates keep the window's choice: skip
        const double totalMs = msSince(timer);
        const ImportSummary summary = window.summary().value_or(ImportSummary{});
        std::printf("%-10s %10.0f %12.0f %10.0f %10.0f %8d %8d\n", qPrintable(formatSuffix(format)), readMs,
                    duplicatesMs, totalMs - readMs - duplicatesMs, totalMs, summary.added, summary.skipped);
        ++round;
    }
    std::printf("\n");
}

// Reading alone (the file into records by their titles), without the register: the median of
// five reads of each format's export of `count` customers.
void readingAlone(int count)
{
    QTemporaryDir dir;
    SourceRegister source(dir.filePath(QStringLiteral("source.db")), count);
    std::printf("%d records, reading alone (median of 5)\n", count);
    std::printf("%-10s %10s %10s\n", "format", "MB", "read ms");
    int round = 0;
    for (const ExportFormat format : {ExportFormat::Xlsx, ExportFormat::CsvUtf8, ExportFormat::VCard}) {
        const QString path = dir.filePath(QStringLiteral("read%1.").arg(round++) + formatSuffix(format));
        source.write(format, path);
        std::vector<double> times;
        std::size_t records = 0;
        for (int k = 0; k < 5; ++k) {
            QElapsedTimer timer;
            timer.start();
            records = readRecords(format, path).size();
            times.push_back(msSince(timer));
        }
        std::sort(times.begin(), times.end());
        if (records != std::size_t(count))
            std::printf("  (only %zu of %d records read)\n", records, count);
        std::printf("%-10s %10.1f %10.0f\n", qPrintable(formatSuffix(format)), QFileInfo(path).size() / 1e6, times[2]);
    }
    std::printf("\n");
}

// The hostile files of the import tests: how long each takes to be refused (each must be well
// under 2 s) and how far this process's peak memory rose by then.
void hostileFiles()
{
    std::printf("\nHostile files, each refused by its importer\n");
    QTemporaryDir dir;
    const QString xls = dir.filePath(QStringLiteral("hostile.xls"));
    {
        QFile file(xls);
        if (file.open(QIODevice::WriteOnly))
            file.write(test::hugeDimensionXls());
    }
    const QByteArray commas = test::hostileCsvLine();
    const QByteArray cards = test::hostileVCard();
    const QByteArray padded = test::paddedXlsx();
    const QByteArray cells = test::manyCellsXlsx();
    const QByteArray bomb = test::zipBombXlsx(false);
    const QByteArray liar = test::zipBombXlsx(true);
    const std::vector<std::pair<const char *, std::function<void(ReadBudget &)>>> files{
        {"CSV line of 100,000 commas", [&](ReadBudget &b) { parseCsv(commas, TextEncoding::Utf8, &b); }},
        {"3.7 MB vCard, long QUOTED-PRINTABLE value", [&](ReadBudget &b) { parseVCards(cards, &b); }},
        {".xlsx with cells in column XFD", [&](ReadBudget &b) { readXlsx(padded, &b); }},
        {".xlsx with 2,000,000 cells", [&](ReadBudget &b) { readXlsx(cells, &b); }},
        {"zip bomb (1 GB sheet)", [&](ReadBudget &b) { readXlsx(bomb, &b); }},
        {"zip bomb that hides its size", [&](ReadBudget &b) { readXlsx(liar, &b); }},
        {".xls claiming 65,536 x 256 cells", [&](ReadBudget &b) { readXls(xls, &b); }},
    };
    for (const auto &[name, read] : files) {
        QElapsedTimer timer;
        timer.start();
        QString outcome = QStringLiteral("read (not refused)");
        try {
            ReadBudget budget;
            read(budget);
        } catch (const Error &error) {
            outcome = error.message();
        }
        std::printf("  %-44s %8.1f ms  %s\n", name, msSince(timer), qPrintable(outcome));
    }
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM"))
                std::printf("  peak memory of the benchmark so far: %s\n", line.mid(6).trimmed().constData());
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    initResources();
    if (argc == 2 && QByteArray(argv[1]) == "hostile") {
        hostileFiles();
        return 0;
    }
    if (argc == 3 && QByteArray(argv[1]) == "read") {
        readingAlone(QString::fromLocal8Bit(argv[2]).toInt());
        return 0;
    }
    std::vector<int> counts;
    std::vector<ExportFormat> formats;
    int rowsPerStatement = kImportRowsPerStatement;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        const auto named = std::find_if(kEveryFormat.begin(), kEveryFormat.end(),
                                        [&](ExportFormat format) { return formatName(format) == argument; });
        if (named != kEveryFormat.end())
            formats.push_back(*named);
        else if (argument.startsWith(QLatin1String("--rows-per-statement=")))
            rowsPerStatement = argument.section(QLatin1Char('='), 1).toInt();
        else
            counts.push_back(argument.toInt());
    }
    if (counts.empty())
        counts = {100000};
    // Formats named: only their exports and imports, for a long run at one size.
    const bool everything = formats.empty();
    if (everything)
        formats = kEveryFormat;
    try {
        for (const int count : counts)
            throughput(count, formats, rowsPerStatement);
        if (!everything)
            return 0;
        throughTheImportWindow(10000);
        hostileFiles();
    } catch (const Error &error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 1;
    }
    return 0;
}
