// Customers between a real register and the files: an import as one transaction (added,
// updated, skipped, cut values, rollback on failure and cancel, customers added many to a
// statement) and the list out to each new
// format and back in, as the import window would read it.

#include "db/Connection.h"
#include "db/ListRows.h"
#include "db/Query.h"
#include "export/BiffRecords.h"
#include "export/CsvFormat.h"
#include "export/ImportFile.h"
#include "export/XlsReader.h"
#include "export/CustomerImport.h"
#include "export/ListExport.h"
#include "export/RegisterAccess.h"
#include "export/VCardFormat.h"
#include "export/XlsxFormat.h"
#include "data/SearchIndex.h"
#include "platform/Error.h"
#include "tests/support/TestDatabase.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QtEndian>

using namespace lianbu;
using namespace lianbu::exchange;
using F = CustomerField;

namespace {

ImportRow row(int line, std::initializer_list<std::pair<F, QString>> values)
{
    ImportRow imported;
    imported.line = line;
    for (const auto &[field, value] : values)
        imported.record[field] = value;
    return imported;
}

int customerCount(db::Connection &connection)
{
    QSqlQuery query(connection.database());
    query.exec(QStringLiteral("SELECT count(*) FROM data"));
    query.next();
    return query.value(0).toInt();
}

// A record of the stream with its data.
QByteArray biffRecord(quint16 type, const QByteArray &data)
{
    QByteArray out(4, '\0');
    qToLittleEndian<quint16>(type, out.data());
    qToLittleEndian<quint16>(quint16(data.size()), out.data() + 2);
    return out + data;
}

// A cell record of the program's writer given cell format `xf`, as other programs write dates.
QByteArray inFormat(QByteArray cell, quint16 xf)
{
    qToLittleEndian<quint16>(xf, cell.data() + 8);
    return cell;
}

// FORMAT (BIFF8: 16-bit characters) and XF (the number format at its second word).
QByteArray formatRecord(quint16 id, const QString &code)
{
    QByteArray data(5, '\0');
    qToLittleEndian<quint16>(id, data.data());
    qToLittleEndian<quint16>(quint16(code.size()), data.data() + 2);
    data[4] = 1;
    for (const QChar c : code) {
        char pair[2];
        qToLittleEndian<quint16>(c.unicode(), pair);
        data.append(pair, 2);
    }
    return biffRecord(0x041E, data);
}

QByteArray xfRecord(quint16 numberFormat)
{
    QByteArray data(20, '\0');
    qToLittleEndian<quint16>(numberFormat, data.data() + 2);
    return biffRecord(0x00E0, data);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every row of a table (by rowid) as text, to compare two registers' stored results.
QStringList tableRows(db::Connection &connection, const QString &table)
{
    QSqlQuery query(connection.database());
    if (!query.exec(QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid").arg(table)))
        return {QStringLiteral("refused: ") + table};
    QStringList rows;
    while (query.next()) {
        QStringList values;
        for (int k = 0; k < query.record().count(); ++k)
            values << (query.isNull(k) ? QStringLiteral("<null>") : query.value(k).toString());
        rows << values.join(QChar(0x1F));
    }
    return rows;
}

// The customers the quick search lists for a 姓名 of three or more characters (answered from
// the full-text index).
std::vector<qint64> foundByName(db::Connection &connection, const QString &name)
{
    QSqlQuery query(connection.database());
    std::vector<qint64> ids;
    if (!query.exec(sql::searchKeys({}, {}, {}, name, {}, {})))
        return {-1};
    while (query.next())
        ids.push_back(query.value(0).toLongLong());
    return ids;
}

// The full-text index agrees with the customers it indexes.
bool searchIndexIntact(db::Connection &connection)
{
    QSqlQuery query(connection.database());
    return query.exec(
        QStringLiteral("INSERT INTO %1(%1) VALUES('integrity-check')").arg(QLatin1String(kSearchIndexTable)));
}

} // namespace

class TestRegisterExchange : public QObject
{
    Q_OBJECT

private slots:
    void importAddsUpdatesSkipsInOneTransaction()
    {
        test::TestDatabase database;
        db::Connection connection(database.path());
        connection.open();

        std::vector<PlannedRow> first = {
            {row(2, {{F::Name, QStringLiteral("张三")},
                     {F::Mobile, QStringLiteral("139")},
                     {F::Notes, QStringLiteral("旧")}}),
             ImportAction::Add, 0},
            {row(3, {{F::Name, QString(35, QChar(0x674E))}, {F::RegistrationDate, QStringLiteral("2020-01-01")}}),
             ImportAction::Add, 0},
        };
        ImportSummary summary = applyImport(connection.database(), first, QStringLiteral("2025-05-05"));
        QCOMPARE(summary.added, 2);
        QCOMPARE(summary.cut.size(), std::size_t(1)); // 姓名 holds 30 characters
        QCOMPARE(summary.cut[0].line, 3);
        QCOMPARE(summary.cut[0].length, 35);

        std::vector<IdentifiedCustomer> customers = loadCustomers(connection.database());
        QCOMPARE(customers.size(), std::size_t(2));
        QCOMPARE(customers[0].record[F::RegistrationDate], QStringLiteral("2025-05-05"));
        QCOMPARE(customers[1].record[F::RegistrationDate], QStringLiteral("2020-01-01"));
        QCOMPARE(customers[1].record[F::Name].size(), 30);

        // An update writes only what the file gives; the notes it leaves empty stay.
        const qint64 id = customers[0].id;
        std::vector<PlannedRow> second = {
            {row(2, {{F::Name, QStringLiteral("张三")},
                     {F::Mobile, QStringLiteral("139")},
                     {F::Company, QStringLiteral("新公司")}}),
             ImportAction::Update, id},
            {row(3, {{F::Name, QStringLiteral("跳过")}}), ImportAction::Skip, 0},
        };
        summary = applyImport(connection.database(), second, QStringLiteral("2025-05-06"));
        QCOMPARE(summary.updated, 1);
        QCOMPARE(summary.skipped, 1);
        QCOMPARE(summary.added, 0);
        customers = loadCustomers(connection.database());
        QCOMPARE(customers.size(), std::size_t(2));
        QCOMPARE(customers[0].record[F::Company], QStringLiteral("新公司"));
        QCOMPARE(customers[0].record[F::Notes], QStringLiteral("旧"));
    }

    void anUpdateOfACustomerDeletedMeanwhileAddsTheFilesCustomer()
    {
        test::TestDatabase database;
        db::Connection connection(database.path());
        connection.open();
        applyImport(connection.database(),
                    {{row(2, {{F::Name, QStringLiteral("甲")}}), ImportAction::Add, 0},
                     {row(3, {{F::Name, QStringLiteral("乙")}}), ImportAction::Add, 0}},
                    QStringLiteral("2025-05-05"));
        const std::vector<IdentifiedCustomer> before = loadCustomers(connection.database());
        // Planned against both; another operator then deletes 甲.
        QCOMPARE(connection.execute(QStringLiteral("DELETE FROM data WHERE rid=%1").arg(before[0].id)), 1);
        const ImportSummary summary =
            applyImport(connection.database(),
                        {{row(4, {{F::Name, QStringLiteral("甲")}, {F::Mobile, QStringLiteral("138")}}),
                          ImportAction::Update, before[0].id},
                         {row(5, {{F::Name, QStringLiteral("乙")}, {F::Mobile, QStringLiteral("137")}}),
                          ImportAction::Update, before[1].id}},
                        QStringLiteral("2025-05-06"));
        QCOMPARE(summary.updated, 1);
        QCOMPARE(summary.added, 1);
        QCOMPARE(summary.addedForDeleted, std::vector<int>{4});
        const std::vector<IdentifiedCustomer> after = loadCustomers(connection.database());
        QCOMPARE(after.size(), std::size_t(2));
        QCOMPARE(after[0].record[F::Mobile], QStringLiteral("137"));
        QCOMPARE(after[1].record[F::Name], QStringLiteral("甲"));
        QCOMPARE(after[1].record[F::Mobile], QStringLiteral("138"));
        QCOMPARE(after[1].record[F::RegistrationDate], QStringLiteral("2025-05-06"));
    }

    void failureOrCancelWritesNothing()
    {
        test::TestDatabase database;
        db::Connection connection(database.path());
        connection.open();
        std::vector<PlannedRow> plan;
        for (int i = 0; i < 50; ++i)
            plan.push_back({row(i + 2, {{F::Name, QStringLiteral("客户%1").arg(i)}}), ImportAction::Add, 0});

        int calls = 0;
        QVERIFY_THROWS_EXCEPTION(
            Error, applyImport(connection.database(), plan, QString(), [&](int) { return ++calls < 30; }));
        QCOMPARE(customerCount(connection), 0);

        // The table refuses the 40th row: the 39 before it are not kept either.
        connection.execute(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON data WHEN NEW.c = '客户39' "
                                          "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        QVERIFY_THROWS_EXCEPTION(Error, applyImport(connection.database(), plan, QString()));
        QCOMPARE(customerCount(connection), 0);
        // And the connection is usable again afterwards.
        connection.execute(QStringLiteral("DROP TRIGGER refuse"));
        QCOMPARE(applyImport(connection.database(), plan, QString()).added, 50);
        QCOMPARE(customerCount(connection), 50);
    }

    // Added customers go in statements of many rows: what is stored (customers, keys, the
    // search's tables) is what one statement per row stores, whatever the count and wherever
    // updates and skipped rows fall; a refused row keeps its whole import out.
    void addedCustomersInStatementsOfManyRows()
    {
        const int batch = kImportRowsPerStatement;
        const int count = 2 * batch + 37; // two full statements and a shorter one
        const int updatedAt = batch + 10; // splits the second statement
        std::vector<PlannedRow> plan;
        for (int i = 0; i < count; ++i) {
            ImportRow imported = row(i + 2, {{F::Name, QStringLiteral("批量客户%1号").arg(i)},
                                             {F::ShortName, QStringLiteral("华联%1").arg(i % 7)},
                                             {F::Mobile, QStringLiteral("139%1").arg(i, 8, 10, QLatin1Char('0'))}});
            if (i % 50 == 3)
                imported.record[F::Position] = QString(40, QChar(0x957F)); // longer than its column
            if (i % 9 == 0)
                imported.record[F::RegistrationDate] =
                    QStringLiteral("2024-03-%1").arg(i % 28 + 1, 2, 10, QLatin1Char('0'));
            plan.push_back({imported, i == 5 ? ImportAction::Skip : ImportAction::Add, 0});
        }
        const PlannedRow existing{row(1, {{F::Name, QStringLiteral("老客户")}}), ImportAction::Add, 0};

        test::TestDatabase batched;
        if (batched.isServer())
            QSKIP("compares the rows by SQLite's rowid and checks SQLite's full-text index");
        db::Connection many(batched.path());
        many.open();
        applyImport(many.database(), {existing}, QStringLiteral("2025-01-01"));
        plan[std::size_t(updatedAt)].action = ImportAction::Update;
        plan[std::size_t(updatedAt)].updateId = loadCustomers(many.database()).front().id;
        const ImportSummary summary = applyImport(many.database(), plan, QStringLiteral("2025-06-01"));
        QCOMPARE(summary.added, count - 2);
        QCOMPARE(summary.updated, 1);
        QCOMPARE(summary.skipped, 1);
        std::vector<int> cutLines;
        for (const ImportSummary::Cut &cut : summary.cut)
            cutLines.push_back(cut.line);
        std::vector<int> expectedCuts;
        for (int i = 3; i < count; i += 50)
            expectedCuts.push_back(i + 2);
        QCOMPARE(cutLines, expectedCuts);

        // The same plan a planned row at a time: every statement holds one row.
        test::TestDatabase oneByOne;
        db::Connection single(oneByOne.path());
        single.open();
        applyImport(single.database(), {existing}, QStringLiteral("2025-01-01"));
        for (const PlannedRow &planned : plan)
            applyImport(single.database(), {planned}, QStringLiteral("2025-06-01"));

        for (const QString &table : {QStringLiteral("data"), QString::fromLatin1(kSearchExtraStale)}) {
            const QStringList stored = tableRows(many, table);
            QVERIFY2(!stored.isEmpty() && !stored.front().startsWith(QLatin1String("refused")), qPrintable(table));
            if (table == QLatin1String("data"))
                QCOMPARE(stored.size(), count - 1);
            QCOMPARE(stored, tableRows(single, table));
        }
        QVERIFY(searchIndexIntact(many));
        // The first row, the last of a full statement, the row after an update and the last.
        for (const int i : {0, batch - 1, updatedAt + 1, count - 1}) {
            const QString name = QStringLiteral("批量客户%1号").arg(i);
            const std::vector<qint64> found = foundByName(many, name);
            QCOMPARE(found.size(), std::size_t(1));
            QCOMPARE(found, foundByName(single, name));
        }
        QCOMPARE(foundByName(many, QStringLiteral("批量客户%1号").arg(updatedAt)).size(), std::size_t(1));
        QVERIFY(foundByName(many, QStringLiteral("批量客户5号")).empty());

        // A row refused in the middle of the second statement: neither the first statement's
        // rows nor the refused statement's earlier ones stay, nor their index entries.
        test::TestDatabase refusing;
        db::Connection refused(refusing.path());
        refused.open();
        applyImport(refused.database(), {existing}, QStringLiteral("2025-01-01"));
        const QStringList before = tableRows(refused, QString::fromLatin1(kSearchExtraStale));
        refused.execute(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON data WHEN NEW.c = '批量客户%1号' "
                                       "BEGIN SELECT RAISE(ABORT, 'refused'); END")
                            .arg(batch + batch / 2));
        std::vector<PlannedRow> adds = plan;
        adds[std::size_t(updatedAt)].action = ImportAction::Add;
        QVERIFY_THROWS_EXCEPTION(Error, applyImport(refused.database(), adds, QStringLiteral("2025-06-01")));
        QCOMPARE(customerCount(refused), 1);
        QCOMPARE(tableRows(refused, QString::fromLatin1(kSearchExtraStale)), before);
        QVERIFY(searchIndexIntact(refused));
        QVERIFY(foundByName(refused, QStringLiteral("批量客户0号")).empty());
        refused.execute(QStringLiteral("DROP TRIGGER refuse"));
        QCOMPARE(applyImport(refused.database(), adds, QStringLiteral("2025-06-01")).added, count - 1);
        QCOMPARE(foundByName(refused, QStringLiteral("批量客户%1号").arg(count - 1)).size(), std::size_t(1));
    }

    // A sheet of another program whose dates are number cells in date formats: each arrives in
    // the register as the date the cell shows, every other value as it was.
    void xlsDateCellsArriveAsDates()
    {
        test::TestDatabase database;
        db::Connection connection(database.path());
        connection.open();
        auto label = [](int r, int c, const QString &text) { return xls::labelRecord(r, c, xls::labelText(text)); };
        QByteArray stream = xls::bofRecord() + xls::codepageRecord();
        stream += formatRecord(164, QStringLiteral("yyyy\"年\"m\"月\"d\"日\""));
        stream += formatRecord(165, QStringLiteral("0.00"));
        // Cell formats 0..4: General, built-in date 14, 164, 165, built-in date and time 22.
        for (const quint16 numberFormat : {0, 14, 164, 165, 22})
            stream += xfRecord(numberFormat);
        const QByteArray head = stream;
        const QStringList titles{QStringLiteral("姓名"), QStringLiteral("手机"), QStringLiteral("登记日期"),
                                 QStringLiteral("备注"), QStringLiteral("邮编")};
        for (int c = 0; c < titles.size(); ++c)
            stream += label(0, c, titles[c]);
        stream += label(1, 0, QStringLiteral("张三"));
        stream += inFormat(xls::numberRecord(1, 1, 13900000001.0), 0);
        stream += inFormat(xls::numberRecord(1, 2, 45717), 1);
        stream += label(1, 3, QStringLiteral("甲"));
        stream += label(2, 0, QStringLiteral("李四"));
        stream += inFormat(xls::rkRecord(2, 1, 12345), 3); // a number format that is no date
        stream += inFormat(xls::rkRecord(2, 2, 45616), 2);
        stream += inFormat(xls::numberRecord(2, 3, 46027.5), 4);
        stream += inFormat(xls::rkRecord(2, 4, 100000), 0);
        stream += label(3, 0, QStringLiteral("王五"));
        stream += inFormat(xls::numberRecord(3, 2, 45716), 7); // no such cell format: the number
        stream += xls::eofRecord();
        const QString path = database.filePath(QStringLiteral("日期.xls"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(stream);
        }

        ReadBudget budget;
        const ImportFile file = readImportFile(path, budget);
        QCOMPARE(file.format, ExportFormat::Xls);
        std::vector<PlannedRow> plan;
        for (const ImportRow &imported : recordsOf(file.sheet(), matchColumns(file.sheet())))
            plan.push_back({imported, ImportAction::Add, 0});
        QCOMPARE(applyImport(connection.database(), plan, QStringLiteral("2020-01-01")).added, 3);

        std::vector<CustomerRecord> expected(3);
        expected[0][F::Name] = QStringLiteral("张三");
        expected[0][F::Mobile] = QStringLiteral("13900000001");
        expected[0][F::RegistrationDate] = QStringLiteral("2025-03-01");
        expected[0][F::Notes] = QStringLiteral("甲");
        expected[1][F::Name] = QStringLiteral("李四");
        expected[1][F::Mobile] = QStringLiteral("12345");
        expected[1][F::RegistrationDate] = QStringLiteral("2024-11-20");
        expected[1][F::Notes] = QStringLiteral("2026-01-05 12:00:00");
        expected[1][F::Postcode] = QStringLiteral("100000");
        expected[2][F::Name] = QStringLiteral("王五");
        expected[2][F::RegistrationDate] = QStringLiteral("45716");
        const std::vector<IdentifiedCustomer> stored = loadCustomers(connection.database());
        QCOMPARE(stored.size(), expected.size());
        for (std::size_t i = 0; i < stored.size(); ++i)
            for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
                QVERIFY2(
                    stored[i].record[F(f)] == expected[i][F(f)],
                    qPrintable(
                        QStringLiteral("customer %1, %2: %3").arg(i).arg(fieldTitle(F(f)), stored[i].record[F(f)])));

        // The 1904 date system of a workbook that says so.
        QByteArray date1904 = biffRecord(0x0022, QByteArray("\x01\x00", 2));
        const QByteArray cells =
            label(0, 0, QStringLiteral("登记日期")) + inFormat(xls::numberRecord(1, 0, 45717), 1) + xls::eofRecord();
        QCOMPARE(readBiffStream(head + date1904 + cells).rows.at(1).cells.at(0), QStringLiteral("2029-03-02"));
        QCOMPARE(readBiffStream(head + cells).rows.at(1).cells.at(0), QStringLiteral("2025-03-01"));
    }

    // Each format says before writing when the list is longer than its sheet holds.
    void listsTooLongForTheFormatAreNamed()
    {
        struct ManyRows final : db::RowReader
        {
            int count = 0;
            int rowCount() const override { return count; }
            void readRows(int, int, const Visit &) const override {}
            int currentRow() const override { return -1; }
            bool stale() const override { return false; }
        } rows;
        db::ListColumns columns;
        columns.columns.push_back({});
        const ListSheet sheet{QStringLiteral("表"), QString(), QString(), QString(), columns, rows, {}};
        rows.count = 65533; // 2 heading rows, 1 title row: the last row the .xls addresses
        for (const FileFormat &format : fileFormats())
            QVERIFY2(format.tooLong(sheet).isEmpty(), qPrintable(format.filter));
        rows.count = 65534;
        QVERIFY2(fileFormat(ExportFormat::Xls).tooLong(sheet).contains(QStringLiteral("65534 条记录")),
                 qPrintable(fileFormat(ExportFormat::Xls).tooLong(sheet)));
        QVERIFY(fileFormat(ExportFormat::Xlsx).tooLong(sheet).isEmpty());
        rows.count = 1'048'574;
        QVERIFY(fileFormat(ExportFormat::Xlsx).tooLong(sheet).contains(QStringLiteral("1048574 条记录")));
        QVERIFY(fileFormat(ExportFormat::CsvUtf8).tooLong(sheet).isEmpty());
        QVERIFY(fileFormat(ExportFormat::VCard).tooLong(sheet).isEmpty());
    }

    void listOutAndBackInEveryFormat()
    {
        test::TestDatabase database;
        db::Connection connection(database.path());
        connection.open();
        const std::vector<ImportRow> originals = {
            row(2, {{F::Category, QStringLiteral("新,客户")},
                    {F::Name, QStringLiteral("王\"五\"😀")},
                    {F::Mobile, QStringLiteral("0139")},
                    {F::Address, QStringLiteral("第一行\n第二行")},
                    {F::Website, QStringLiteral("https://例子.cn")},
                    {F::RegistrationDate, QStringLiteral("2024-02-03")}}),
            row(3, {{F::ShortName, QStringLiteral("华联;总部")},
                    {F::Name, QStringLiteral("赵六")},
                    {F::RegistrationDate, QStringLiteral("2024-02-04")}}),
        };
        std::vector<PlannedRow> plan;
        for (const ImportRow &original : originals)
            plan.push_back({original, ImportAction::Add, 0});
        applyImport(connection.database(), plan, QString());

        db::Query list(&connection);
        list.setSql(QStringLiteral("select * from data"));
        list.open();
        list.last(); // the export must not depend on, nor move, the current record
        // Every field in its own column, under its title; a footer under the first.
        db::ListColumns columns;
        columns.footerRows = 1;
        QStringList names;
        for (int k = 0; k < list.fieldCount(); ++k)
            names.append(list.field(k).fieldName());
        for (std::size_t f = 0; f < kCustomerFieldCount; ++f) {
            db::ListColumn column;
            column.fieldName = fieldColumn(F(f));
            column.valueIndex = int(names.indexOf(column.fieldName));
            column.title = fieldTitle(F(f));
            columns.columns.push_back(column);
        }
        columns.columns[0].footers.push_back({db::FooterKind::Text, QStringLiteral("总计"), -1});
        const db::DataSetRows rows(list);
        const ListSheet exported{QString(), QString(), QString(), QString(), columns, rows, names};

        for (const ExportFormat format : {ExportFormat::Xlsx, ExportFormat::CsvUtf8, ExportFormat::VCard}) {
            const QString path = database.filePath(QStringLiteral("out.") + formatSuffix(format));
            const ExportOutcome outcome = exportList(exported, format, path);
            QCOMPARE(outcome.records, qint64(2));
            QCOMPARE(list.recNo(), 2);
            const QByteArray bytes = readAll(path);
            std::vector<CustomerRecord> back;
            if (format == ExportFormat::VCard) {
                for (const VCardCard &card : parseVCards(bytes).cards)
                    back.push_back(card.record);
            } else {
                const SheetData sheet =
                    format == ExportFormat::Xlsx ? readXlsx(bytes) : parseCsv(bytes, detectEncoding(bytes));
                for (const ImportRow &imported : recordsOf(sheet, matchColumns(sheet)))
                    back.push_back(imported.record);
            }
            QCOMPARE(back.size(), originals.size());
            for (std::size_t i = 0; i < back.size(); ++i)
                QVERIFY2(back[i] == originals[i].record,
                         qPrintable(formatSuffix(format) + QStringLiteral(" record %1").arg(i)));
        }

        // GBK cannot hold the emoji: the export says how many characters it lost.
        const ExportOutcome gbk =
            exportList(exported, ExportFormat::CsvGbk, database.filePath(QStringLiteral("gbk.csv")));
        QCOMPARE(gbk.lostCharacters, 1);
        QVERIFY(lossText(gbk, QString()).startsWith(QStringLiteral("有 1 个字符无法用 GBK 编码保存")));

        // The legacy .xls through the same registry: GBK cells, the lost character counted.
        const QString xlsPath = database.filePath(QStringLiteral("out.xls"));
        const ExportOutcome xlsOutcome = exportList(exported, ExportFormat::Xls, xlsPath);
        QCOMPARE(xlsOutcome.records, qint64(2));
        QCOMPARE(xlsOutcome.unencodableCells, 1);
        QVERIFY(lossText(xlsOutcome, xlsPath).contains(QStringLiteral("其中 1 个单元格")));
        const SheetData xlsSheet = readXls(xlsPath);
        const std::vector<ImportRow> xlsBack = recordsOf(xlsSheet, matchColumns(xlsSheet));
        QCOMPARE(xlsBack.size(), std::size_t(2));
        QCOMPARE(xlsBack[0].record[F::Name], QStringLiteral("王\"五\"?"));
        QCOMPARE(xlsBack[0].record[F::Address], originals[0].record[F::Address]);
        QVERIFY(xlsBack[1].record == originals[1].record);
        QCOMPARE(list.recNo(), 2);
        QVERIFY(lossText(ExportOutcome{}, xlsPath).isEmpty());

        // The dialog's choice: the filter decides between the two CSV encodings, which share the
        // suffix; without one, the suffix.
        QCOMPARE(formatOfChoice(formatFilter(ExportFormat::CsvGbk), QStringLiteral("a.csv")), ExportFormat::CsvGbk);
        QCOMPARE(formatOfChoice(QString(), QStringLiteral("a.CSV")), ExportFormat::CsvUtf8);
        QCOMPARE(formatOfChoice(QString(), QStringLiteral("a.vcf")), ExportFormat::VCard);
        QCOMPARE(formatOfChoice(QString(), QStringLiteral("a")), ExportFormat::Xls);
        // A typed suffix wins over the type the dialog still showed.
        QCOMPARE(formatOfChoice(formatFilter(ExportFormat::Xls), QStringLiteral("名单.xlsx")), ExportFormat::Xlsx);
        QCOMPARE(formatOfChoice(formatFilter(ExportFormat::Xls), QStringLiteral("名单.vcf")), ExportFormat::VCard);
        QCOMPARE(formatOfChoice(formatFilter(ExportFormat::Xlsx), QStringLiteral("名单")), ExportFormat::Xlsx);
        QCOMPARE(exportFilters().split(QStringLiteral(";;")).size(), 5);

        // A folder that does not exist: an error, no file.
        QVERIFY_THROWS_EXCEPTION(
            Error, exportList(exported, ExportFormat::CsvUtf8, database.filePath(QStringLiteral("no/such.csv"))));
        QVERIFY_THROWS_EXCEPTION(
            Error, exportList(exported, ExportFormat::Xlsx, database.filePath(QStringLiteral("no/such.xlsx"))));
    }
};

QTEST_GUILESS_MAIN(TestRegisterExchange)
#include "test_register_exchange.moc"
