// The exchange layer's way in, without a window: the format registry (dialog filters, kinds from
// names and first bytes), a file of each kind read through one dispatch, CSV read again in the
// other encoding, the duplicate list with the operator's choices, and the summary's text.

#include "export/BiffRecords.h"
#include "export/ExchangeFormats.h"
#include "export/ImportFile.h"
#include "export/ImportPlan.h"
#include "platform/Error.h"
#include "platform/Gbk.h"
#include "tests/export/ZipFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace lianbu;
using namespace lianbu::exchange;
using F = CustomerField;

namespace {

CustomerRecord customer(std::initializer_list<std::pair<F, QString>> values)
{
    CustomerRecord record;
    for (const auto &[field, value] : values)
        record[field] = value;
    return record;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

ImportFile readFile(const QString &path)
{
    ReadBudget budget;
    return readImportFile(path, budget);
}

} // namespace

class TestImportPipeline : public QObject
{
    Q_OBJECT

private slots:
    void registryNamesEveryFormatOnce()
    {
        // Each entry's filter offers its own suffix, and the save dialog lists them all.
        const QStringList saving = exportFilters().split(QStringLiteral(";;"));
        QCOMPARE(saving.size(), qsizetype(fileFormats().size()));
        for (const FileFormat &format : fileFormats()) {
            QVERIFY2(format.sniff && format.read && format.tooLong && format.write, qPrintable(format.filter));
            QVERIFY2(format.filter.endsWith(QStringLiteral("(*.%1)").arg(format.suffix)), qPrintable(format.filter));
            QCOMPARE(fileFormat(format.id).filter, format.filter);
            QCOMPARE(formatOf(format.kind, format.encoding).id, format.id);
            QVERIFY(saving.contains(format.filter));
        }
        QCOMPARE(formatOf(FormatKind::Csv, TextEncoding::Gbk).id, ExportFormat::CsvGbk);
        QCOMPARE(formatOf(FormatKind::Csv, TextEncoding::Utf8).id, ExportFormat::CsvUtf8);

        // The open dialog: every customer file first, one line per kind, all files last.
        const QStringList opening = importFilters().split(QStringLiteral(";;"));
        QCOMPARE(opening.size(), qsizetype(5));
        QCOMPARE(opening.front(), QStringLiteral("客户文件 (*.xls *.xlsx *.csv *.vcf)"));
        QVERIFY(opening.contains(QStringLiteral("Excel 工作簿 (*.xls *.xlsx)")));
        QVERIFY(opening.contains(QStringLiteral("CSV 文件 (*.csv *.txt)")));
        QVERIFY(opening.contains(QStringLiteral("vCard 名片 (*.vcf *.vcard)")));
        QCOMPARE(opening.back(), QStringLiteral("所有文件 (*)"));
    }

    void kindsFromNamesThenFromFirstBytes()
    {
        QCOMPARE(sniffKind(QStringLiteral("a.VCF"), {}), FormatKind::VCard);
        QCOMPARE(sniffKind(QStringLiteral("a.vcard"), {}), FormatKind::VCard);
        QCOMPARE(sniffKind(QStringLiteral("a.TXT"), "PK\x03\x04"), FormatKind::Csv); // the name wins
        QCOMPARE(sniffKind(QStringLiteral("a.xls"), {}), FormatKind::Xls);
        QCOMPARE(sniffKind(QStringLiteral("a.dat"), "PK\x03\x04"), FormatKind::Xlsx);
        QCOMPARE(sniffKind(QStringLiteral("a.dat"), "\x09\x08\x08\x00"), FormatKind::Xls);
        QCOMPARE(sniffKind(QStringLiteral("a.dat"), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"), FormatKind::Xls);
        QCOMPARE(sniffKind(QStringLiteral("a"), " begin:vcard\r\n"), FormatKind::VCard);
        QCOMPARE(sniffKind(QStringLiteral("a"), "a,b"), FormatKind::Csv);
        QCOMPARE(sniffKind(QStringLiteral("a"), {}), FormatKind::Csv);
    }

    // One file of each kind, some without a telling name, through the one entry point.
    void everyKindIsReadThroughOneDispatch()
    {
        QTemporaryDir dir;
        const QString csv =
            writeFile(dir, QStringLiteral("gbk.csv"), gbk::encode(QStringLiteral("姓名,手机\r\n张三,139\r\n")));
        const QString xlsx = writeFile(dir, QStringLiteral("sheet"),
                                       test::xlsxOf("<row><c t=\"inlineStr\"><is><t>姓名</t></is></c></row>"
                                                    "<row><c t=\"inlineStr\"><is><t>李四</t></is></c></row>"));
        QByteArray stream = xls::bofRecord() + xls::codepageRecord();
        stream += xls::labelRecord(0, 0, xls::labelText(QStringLiteral("姓名")));
        stream += xls::labelRecord(1, 0, xls::labelText(QStringLiteral("王五")));
        stream += xls::eofRecord();
        const QString bare = writeFile(dir, QStringLiteral("legacy.dat"), stream);
        QByteArray card = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:赵六\r\nNOTE:a").toUtf8();
        card += '\0';
        card += "b\r\nEND:VCARD\r\n";
        const QString cards = writeFile(dir, QStringLiteral("phone.vcf"), card);
        QVERIFY(!csv.isEmpty() && !xlsx.isEmpty() && !bare.isEmpty() && !cards.isEmpty());

        ImportFile file = readFile(csv);
        QCOMPARE(file.format, ExportFormat::CsvGbk);
        QVERIFY(file.encodingCertain);
        QCOMPARE(file.sheet().rows.at(1).cells, (QStringList{QStringLiteral("张三"), QStringLiteral("139")}));

        file = readFile(xlsx);
        QCOMPARE(file.format, ExportFormat::Xlsx);
        QCOMPARE(file.sheet().rows.at(1).cells, QStringList{QStringLiteral("李四")});

        file = readFile(bare);
        QCOMPARE(file.format, ExportFormat::Xls);
        QVERIFY(file.bytes.isEmpty()); // the reader takes the file itself
        QCOMPARE(file.sheet().rows.at(1).cells, QStringList{QStringLiteral("王五")});

        // A vCard file is a sheet of the fields' titles; mended values come along.
        file = readFile(cards);
        QCOMPARE(file.format, ExportFormat::VCard);
        const ColumnChoice choice = matchColumns(file.sheet());
        QCOMPARE(choice.matched(), int(kCustomerFieldCount));
        const std::vector<ImportRow> rows = recordsOf(file.sheet(), choice);
        QCOMPARE(rows.size(), std::size_t(1));
        QCOMPARE(rows[0].line, 1);
        QCOMPARE(rows[0].record[F::Name], QStringLiteral("赵六"));
        QCOMPARE(rows[0].record[F::Notes], QStringLiteral("ab"));
        QCOMPARE(file.imported.repairs.size(), std::size_t(1));

        // What cannot be opened is said in Chinese with the file's name.
        try {
            readFile(dir.filePath(QStringLiteral("没有.csv")));
            QFAIL("a missing file was read");
        } catch (const Error &error) {
            QVERIFY2(error.message().contains(QStringLiteral("无法打开文件“没有.csv”")), qPrintable(error.message()));
        }
        // A budget's limits bite whatever the kind.
        ReadLimits small;
        small.fileBytes = 10;
        ReadBudget budget(small);
        QVERIFY_THROWS_EXCEPTION(Error, readImportFile(xlsx, budget));
    }

    void csvIsReadAgainInTheOtherEncoding()
    {
        QTemporaryDir dir;
        const QString path =
            writeFile(dir, QStringLiteral("a.csv"), gbk::encode(QStringLiteral("姓名,备注\r\n张三,中文\r\n")));
        const ImportFile first = readFile(path);
        QCOMPARE(first.format, ExportFormat::CsvGbk);
        ReadBudget budget;
        const ImportFile utf8 = rereadImportFile(first, TextEncoding::Utf8, budget);
        QCOMPARE(utf8.format, ExportFormat::CsvUtf8);
        QCOMPARE(utf8.bytes, first.bytes);
        QVERIFY(utf8.sheet().rows.at(1).cells.at(0).contains(QChar::ReplacementCharacter));
        QCOMPARE(matchColumns(utf8.sheet()).matched(), 0);
        const ImportFile back = rereadImportFile(utf8, TextEncoding::Gbk, budget);
        QCOMPARE(back.sheet().rows.at(1).cells, (QStringList{QStringLiteral("张三"), QStringLiteral("中文")}));
        // Other kinds have one reading.
        const QString xlsx = writeFile(dir, QStringLiteral("b.xlsx"), test::xlsxOf("<row><c><v>1</v></c></row>"));
        QCOMPARE(rereadImportFile(readFile(xlsx), TextEncoding::Gbk, budget).format, ExportFormat::Xlsx);
    }

    void duplicatesOfTheRegisterAndOfTheFile()
    {
        const std::vector<IdentifiedCustomer> registered{
            {1, customer({{F::Name, QStringLiteral("张三")}, {F::Mobile, QStringLiteral("13900000001")}})},
            {2, customer({{F::ShortName, QStringLiteral("新光")}, {F::Name, QStringLiteral("李四")}})},
            {3, customer({{F::ShortName, QStringLiteral("新光")}, {F::Name, QStringLiteral("李四")}})},
        };
        auto rowAt = [](int line, const CustomerRecord &record) { return ImportRow{line, record}; };
        const std::vector<ImportRow> records{
            rowAt(2, customer({{F::Name, QStringLiteral("张叁")}, {F::Mobile, QStringLiteral("+86 139 0000 0001")}})),
            rowAt(3, customer({{F::ShortName, QStringLiteral("新 光")}, {F::Name, QStringLiteral("李四")}})),
            rowAt(4, customer({{F::Name, QStringLiteral("王五")}, {F::Mobile, QStringLiteral("137")}})),
            rowAt(5, customer({{F::Name, QStringLiteral("赵六")}, {F::Mobile, QStringLiteral("137")}})),
            rowAt(6, customer({{F::Name, QStringLiteral("新人")}})),
        };
        std::vector<DuplicateDecision> found = findDuplicates(records, registered);
        QCOMPARE(found.size(), std::size_t(3));
        QCOMPARE(found[0].record, std::size_t(0));
        QCOMPARE(found[0].matches, (std::vector<MatchedCustomer>{{1, 1}}));
        QCOMPARE(found[0].target, qint64(1));
        QCOMPARE(found[0].action, ImportAction::Skip);
        QCOMPARE(found[1].record, std::size_t(1));
        QCOMPARE(found[1].matches.size(), std::size_t(2));
        QCOMPARE(found[1].target, qint64(0)); // a tie: the operator picks
        QVERIFY(!found[1].withinFile);
        QCOMPARE(found[2].record, std::size_t(3)); // line 5 repeats line 4's mobile
        QVERIFY(found[2].withinFile);
        QVERIFY(found[2].matches.empty());

        // A row that repeats the file has nothing to update; a target must be one of the matches.
        chooseAction(found[2], ImportAction::Update);
        QCOMPARE(found[2].action, ImportAction::Skip);
        chooseAction(found[2], ImportAction::Add);
        QCOMPARE(found[2].action, ImportAction::Add);
        chooseTarget(found[1], 1);
        QCOMPARE(found[1].target, qint64(0));
        chooseTarget(found[1], 3);
        QCOMPARE(found[1].target, qint64(3));
        for (DuplicateDecision &decision : found)
            chooseAction(decision, ImportAction::Update);
        const ImportPlan plan = planImport(records, found);
        QVERIFY(plan.ready());
        QCOMPARE(plan.rows[0].updateId, qint64(1));
        QCOMPARE(plan.rows[1].updateId, qint64(3));
        QCOMPARE(plan.rows[3].action, ImportAction::Skip);
        QCOMPARE(plan.rows[4].action, ImportAction::Add);
        QVERIFY(findDuplicates({}, registered).empty());
    }

    void summaryNamesWhatHappened()
    {
        ImportSummary summary;
        summary.added = 3;
        summary.updated = 1;
        summary.skipped = 2;
        summary.addedForDeleted = {9};
        summary.cut.push_back({8, F::Name, 40});
        const QString text = summaryText(summary, {7, 12}, {{4, QStringLiteral("的空字符已删除")}});
        const QStringList lines = text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), qsizetype(5));
        QCOMPARE(lines[0], QStringLiteral("导入完成：新增 3 条，更新 1 条，跳过 2 条。"));
        QVERIFY2(lines[1].startsWith(QStringLiteral("第 9 行要更新的客户已被其他操作员删除")), qPrintable(lines[1]));
        QCOMPARE(lines[2], QStringLiteral("无法读取的行（没有导入）：第 7、12 行。"));
        QCOMPARE(lines[3], QStringLiteral("以下内容已修正后读入：第 4 行的空字符已删除。"));
        QCOMPARE(lines[4], QStringLiteral("以下内容超出长度，已截短：第 8 行的“姓名”（40 字，最多 30 字）。"));
        QCOMPARE(summaryText(ImportSummary{}, {}, {}), QStringLiteral("导入完成：新增 0 条，更新 0 条，跳过 0 条。"));
        std::vector<int> many(60);
        for (int k = 0; k < 60; ++k)
            many[std::size_t(k)] = k + 1;
        QVERIFY2(linesText(many).endsWith(QStringLiteral("、50 等 60 行")), qPrintable(linesText(many)));
    }
};

QTEST_GUILESS_MAIN(TestImportPipeline)
#include "test_import_pipeline.moc"
