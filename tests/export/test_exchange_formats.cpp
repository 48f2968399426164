// The exchange formats on their own: CSV, vCard, .xlsx and the .xls reader, each written and
// read back with values that break naive writers (Chinese, emoji, quotes, commas, line breaks,
// empty values), plus the damaged inputs each reader must report instead of misreading.

#include "export/CsvFormat.h"
#include "export/CustomerImport.h"
#include "export/ImportPlan.h"
#include "export/BiffRecords.h"
#include "export/VCardFormat.h"
#include "export/XlsReader.h"
#include "export/XlsxFormat.h"
#include "platform/Error.h"
#include "platform/Gbk.h"
#include "tests/export/ZipFiles.h"

#include <QBuffer>
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

// Values that each format has to carry through its own quoting rules.
std::vector<CustomerRecord> awkwardCustomers(bool withEmoji)
{
    const QString smile = withEmoji ? QStringLiteral("😀") : QString();
    return {
        customer({{F::Category, QStringLiteral("老客户")},
                  {F::ShortName, QStringLiteral("华联, 北京")},
                  {F::Name, QStringLiteral("张三") + smile},
                  {F::Sex, QStringLiteral("男")},
                  {F::Mobile, QStringLiteral("013800138000")},
                  {F::Address, QStringLiteral("北京市\n朝阳区；1号")},
                  {F::Notes, QStringLiteral("他说\"好\"; 再说\\n")},
                  {F::Website, QStringLiteral("https://example.cn/a,b")},
                  {F::RegistrationDate, QStringLiteral("2024-01-02 9:05:00")}}),
        customer({{F::Name, QStringLiteral("李四")}, {F::Postcode, QStringLiteral("100000")}}),
        customer({{F::ShortName, QStringLiteral(" 前后有空格 ")},
                  {F::Company, QStringLiteral("公司;分部")},
                  {F::Email, QStringLiteral("li@example.cn")},
                  {F::Phone, QStringLiteral("010-1234")},
                  {F::Fax, QStringLiteral("010-5678")},
                  {F::Position, QStringLiteral("经理,主管")}}),
    };
}

QStringList cellsOf(const CustomerRecord &record)
{
    QStringList cells;
    for (const QString &value : record.values)
        cells.append(value);
    return cells;
}

QStringList allTitles()
{
    QStringList titles;
    for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
        titles.append(fieldTitle(F(f)));
    return titles;
}

std::vector<CustomerRecord> recordsFrom(const SheetData &sheet)
{
    std::vector<CustomerRecord> out;
    for (const ImportRow &row : recordsOf(sheet, matchColumns(sheet)))
        out.push_back(row.record);
    return out;
}

QByteArray csvBytes(const std::vector<CustomerRecord> &records, TextEncoding encoding, int *lost = nullptr)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    CsvWriter writer(&buffer, encoding);
    writer.writeRow(allTitles());
    for (const CustomerRecord &record : records)
        writer.writeRow(cellsOf(record));
    if (lost)
        *lost = writer.lostCharacters();
    return bytes;
}

// What a spreadsheet program would make of a value: blanks at the ends of a cell are kept by
// the formats but the import trims them.
CustomerRecord asImported(CustomerRecord record)
{
    for (QString &value : record.values)
        value = value.trimmed();
    return record;
}

} // namespace

class TestExchangeFormats : public QObject
{
    Q_OBJECT

private slots:
    // ---- CSV -----------------------------------------------------------------------------

    void csvQuotesOnlyWhatNeedsIt()
    {
        QCOMPARE(csvField(QStringLiteral("张三")), QStringLiteral("张三"));
        QCOMPARE(csvField(QStringLiteral("a,b")), QStringLiteral("\"a,b\""));
        QCOMPARE(csvField(QStringLiteral("他说\"好\"")), QStringLiteral("\"他说\"\"好\"\"\""));
        QCOMPARE(csvField(QStringLiteral("两\n行")), QStringLiteral("\"两\n行\""));
        QCOMPARE(csvField(QStringLiteral(" 空格")), QStringLiteral("\" 空格\""));
        QCOMPARE(csvField(QString()), QString());
    }

    // Cells a spreadsheet would run as formulas are marked with an apostrophe; numbers, signed
    // or not, stay numbers; the program reads back exactly what it wrote.
    void csvExportRunsNoFormulas()
    {
        const QStringList values{"=HYPERLINK(\"http://x\")",
                                 "@SUM(A1)",
                                 "+86 139 0000 1111",
                                 "-A1",
                                 "\t=1",
                                 "-12.5",
                                 "+8613900001111",
                                 "13900001111",
                                 "'=already",
                                 "''@two",
                                 "'-12",
                                 "a=b",
                                 ""};
        QStringList written;
        for (const QString &value : values)
            written << formulaSafe(value);
        QCOMPARE(written,
                 QStringList({"'=HYPERLINK(\"http://x\")", "'@SUM(A1)", "'+86 139 0000 1111", "'-A1", "'\t=1", "-12.5",
                              "+8613900001111", "13900001111", "''=already", "'''@two", "'-12", "a=b", ""}));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        CsvWriter writer(&buffer, TextEncoding::Utf8);
        writer.writeRow(values);
        QVERIFY(bytes.contains("\"'=HYPERLINK(\"\"http://x\"\")\",'@SUM(A1),"));
        QCOMPARE(parseCsv(bytes, TextEncoding::Utf8).rows.at(0).cells, values);
    }

    void csvRoundTripInBothEncodings()
    {
        QByteArray utf8 = csvBytes(awkwardCustomers(true), TextEncoding::Utf8);
        QVERIFY(utf8.startsWith("\xEF\xBB\xBF"));
        bool certain = false;
        QCOMPARE(detectEncoding(utf8, &certain), TextEncoding::Utf8);
        QVERIFY(certain);
        const SheetData fromUtf8 = parseCsv(utf8, TextEncoding::Utf8);
        QVERIFY(fromUtf8.unreadableLines.empty());
        const std::vector<CustomerRecord> expected = awkwardCustomers(true);
        const std::vector<CustomerRecord> back = recordsFrom(fromUtf8);
        QCOMPARE(back.size(), expected.size());
        for (std::size_t i = 0; i < back.size(); ++i)
            QCOMPARE(cellsOf(back[i]), cellsOf(asImported(expected[i])));

        int lost = -1;
        const QByteArray gbkBytes = csvBytes(awkwardCustomers(false), TextEncoding::Gbk, &lost);
        QCOMPARE(lost, 0);
        QVERIFY(!gbkBytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(detectEncoding(gbkBytes, &certain), TextEncoding::Gbk);
        QVERIFY(certain);
        const std::vector<CustomerRecord> fromGbk = recordsFrom(parseCsv(gbkBytes, TextEncoding::Gbk));
        QCOMPARE(fromGbk.size(), std::size_t(3));
        QCOMPARE(cellsOf(fromGbk[0]), cellsOf(asImported(awkwardCustomers(false)[0])));

        // An emoji has no GBK form: it is counted, not silently dropped.
        csvBytes(awkwardCustomers(true), TextEncoding::Gbk, &lost);
        QCOMPARE(lost, 1);
    }

    void csvLineNumbersAndDamagedRecords()
    {
        const QString text = QStringLiteral("姓名,备注\r\n"         // 1
                                            "甲,\"一\n二\n三\"\r\n" // 2-4
                                            "乙,\"说\"完了\r\n"     // 5: text after the closing quote
                                            "\r\n"                  // 6: empty
                                            "丙,中间\"引号\r\n"     // 7: quote inside an unquoted field
                                            "丁,好\r\n"             // 8
                                            "戊,\"没有结束\n"       // 9: the quote never closes
                                            "己,也读得到\n");       // 10
        const SheetData sheet = parseCsv(text);
        QCOMPARE(sheet.unreadableLines, (std::vector<int>{5, 7, 9}));
        std::vector<int> lines;
        QStringList firsts;
        for (const SheetRow &row : sheet.rows) {
            lines.push_back(row.line);
            firsts.append(row.cells.value(0));
        }
        QCOMPARE(lines, (std::vector<int>{1, 2, 8, 10}));
        QCOMPARE(firsts, QStringList({QStringLiteral("姓名"), QStringLiteral("甲"), QStringLiteral("丁"),
                                      QStringLiteral("己")}));
        QCOMPARE(sheet.rows[1].cells.value(1), QStringLiteral("一\n二\n三"));
    }

    void csvEncodingDetection()
    {
        bool certain = true;
        QCOMPARE(detectEncoding("a,b\r\n1,2\r\n", &certain), TextEncoding::Utf8);
        QVERIFY(!certain); // plain ASCII reads the same either way
        const QByteArray gbkText = gbk::encode(QStringLiteral("姓名,手机\r\n王五,139\r\n"));
        QCOMPARE(detectEncoding(gbkText, &certain), TextEncoding::Gbk);
        QCOMPARE(detectEncoding(QStringLiteral("姓名,手机\r\n王五,139\r\n").toUtf8(), &certain), TextEncoding::Utf8);
        QVERIFY(certain);
        // Two characters are valid in both readings: detected, but to be confirmed.
        QCOMPARE(detectEncoding(QStringLiteral("王五").toUtf8(), &certain), TextEncoding::Utf8);
        QVERIFY(!certain);

        // A line whose bytes are no GBK is reported by number; the others are read.
        QByteArray broken = gbk::encode(QStringLiteral("姓名\r\n王五\r\n"));
        broken.append("\x81\x20\r\n");
        broken.append(gbk::encode(QStringLiteral("赵六\r\n")));
        const SheetData sheet = parseCsv(broken, TextEncoding::Gbk);
        QCOMPARE(sheet.unreadableLines, std::vector<int>{3});
        QCOMPARE(sheet.rows.size(), std::size_t(3));
        QCOMPARE(sheet.rows[2].cells.value(0), QStringLiteral("赵六"));
    }

    // ---- vCard ---------------------------------------------------------------------------

    void vCardEscapingAndFolding()
    {
        QCOMPARE(escapeVCardText(QStringLiteral("a,b;c\\d\ne\r\nf")), QStringLiteral("a\\,b\\;c\\\\d\\ne\\nf"));

        // 40 Chinese characters are 120 octets: folded, and no character split.
        const QByteArray line = (QStringLiteral("NOTE:") + QString(40, QChar(0x4E2D))).toUtf8();
        const QByteArray folded = foldVCardLine(line);
        QByteArray unfolded;
        const QList<QByteArray> parts = folded.split('\n');
        QVERIFY(parts.size() >= 2);
        for (qsizetype k = 0; k < parts.size(); ++k) {
            QByteArray part = parts.at(k);
            if (part.endsWith('\r'))
                part.chop(1);
            QVERIFY2(part.size() <= 75, part.constData());
            if (k > 0) {
                QVERIFY(part.startsWith(' '));
                part = part.mid(1);
            }
            QVERIFY(QString::fromUtf8(part).toUtf8() == part); // whole characters only
            unfolded.append(part);
        }
        QCOMPARE(unfolded, line);
    }

    void vCardRoundTrip()
    {
        QByteArray file;
        for (const CustomerRecord &record : awkwardCustomers(true))
            file.append(vCardFor(record));
        for (const QByteArray &line : file.split('\n'))
            QVERIFY(line.size() <= 76); // 75 octets and the CR
        const VCardData data = parseVCards(file);
        QVERIFY(data.unreadableLines.empty());
        QCOMPARE(data.cards.size(), std::size_t(3));
        const std::vector<CustomerRecord> expected = awkwardCustomers(true);
        for (std::size_t i = 0; i < expected.size(); ++i)
            QCOMPARE(cellsOf(data.cards[i].record), cellsOf(expected[i]));

        // A card without a name still has FN (required), but reads back without a name.
        const CustomerRecord nameless = customer({{F::ShortName, QStringLiteral("华联")}});
        const QByteArray card = vCardFor(nameless);
        QVERIFY(card.contains("FN:华联"));
        QCOMPARE(cellsOf(parseVCards(card).cards.at(0).record), cellsOf(nameless));
    }

    void vCardFromPhones()
    {
        // A 2.1 card as phones export it, a 4.0 card with grouped properties, and damage.
        const QByteArray file = "BEGIN:VCARD\r\n"
                                "VERSION:2.1\r\n"
                                "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E7=8E=8B;=E4=BA=94;;;\r\n"
                                "TEL;CELL:+86 139 0000 1111\r\n"
                                "TEL;HOME:010-88\r\n"
                                "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:=E7=AC=AC=E4=B8=80=\r\n"
                                "=E8=A1=8C\r\n"
                                "END:VCARD\r\n"
                                "stray line\r\n"
                                "BEGIN:VCARD\r\n"
                                "VERSION:4.0\r\n"
                                "FN:Anna Smith\r\n"
                                "N:Smith;Anna;;;\r\n"
                                "item1.TEL;TYPE=\"fax,work\":555\r\n"
                                "ADR;TYPE=work:;;Main St 1;Springfield;;12345;USA\r\n"
                                "END:VCARD\r\n"
                                "BEGIN:VCARD\r\n"
                                "FN:没有结束\r\n";
        const VCardData data = parseVCards(file);
        QCOMPARE(data.unreadableLines, (std::vector<int>{9, 17}));
        QCOMPARE(data.cards.size(), std::size_t(2));
        const CustomerRecord &first = data.cards[0].record;
        QCOMPARE(first[F::Name], QStringLiteral("王五"));
        QCOMPARE(first[F::Mobile], QStringLiteral("+86 139 0000 1111"));
        QCOMPARE(first[F::Phone], QStringLiteral("010-88"));
        QCOMPARE(first[F::Notes], QStringLiteral("第一行"));
        const CustomerRecord &second = data.cards[1].record;
        QCOMPARE(data.cards[1].line, 10);
        QCOMPARE(second[F::Name], QStringLiteral("Anna Smith"));
        QCOMPARE(second[F::Fax], QStringLiteral("555"));
        QCOMPARE(second[F::Postcode], QStringLiteral("12345"));
        QVERIFY(second[F::Address].contains(QStringLiteral("Main St 1")));
    }

    // Phones lose nothing: GBK without CHARSET, tel: URIs, a second mobile, a home phone and a
    // second e-mail (kept in 备注), NUL bytes and bytes of no known encoding (mended and said).
    void vCardFromPhonesLosesNothing()
    {
        QByteArray file = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:" + gbk::encode(QStringLiteral("王;五"))
                          + ";;;\r\n"
                            "NOTE:"
                          + gbk::encode(QStringLiteral("老客户，常来"))
                          + "\r\n"
                            "TEL;CELL:13900001111\r\nTEL;CELL:13900002222\r\nTEL;WORK:010-1234\r\n"
                            "TEL;HOME:010-5678\r\nEMAIL:a@example.cn\r\nEMAIL:b@example.cn\r\nEND:VCARD\r\n";
        VCardData data = parseVCards(file);
        QCOMPARE(data.cards.size(), std::size_t(1));
        CustomerRecord first = data.cards[0].record;
        QCOMPARE(first[F::Name], QStringLiteral("王五"));
        QCOMPARE(first[F::Mobile], QStringLiteral("13900001111"));
        QCOMPARE(first[F::Phone], QStringLiteral("010-1234"));
        QCOMPARE(first[F::Email], QStringLiteral("a@example.cn"));
        QCOMPARE(first[F::Notes], QStringLiteral("老客户，常来\n手机：13900002222\n住宅电话：010-5678\n"
                                                 "电子邮件：b@example.cn"));

        // vCard 4.0: numbers as tel: URIs.
        data = parseVCards("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:李四\r\n"
                           "TEL;VALUE=uri;TYPE=\"cell,voice\":tel:+86-139-0000-3333\r\n"
                           "TEL;VALUE=uri;TYPE=work:tel:+86-10-1234;ext=56\r\nEND:VCARD\r\n");
        first = data.cards.at(0).record;
        QCOMPARE(first[F::Mobile], QStringLiteral("+86-139-0000-3333"));
        QCOMPARE(first[F::Phone], QStringLiteral("+86-10-1234"));

        // A NUL hides nothing after it; bytes of no encoding are replaced; both are said.
        const QByteArray damaged =
            QByteArray("BEGIN:VCARD\r\nFN:张三\r\nNOTE:前") + '\0' + "后\r\nTITLE:\xFF\xFE\x80\r\nEND:VCARD\r\n";
        data = parseVCards(damaged);
        first = data.cards.at(0).record;
        QCOMPARE(first[F::Notes], QStringLiteral("前后"));
        QVERIFY(!first[F::Position].isEmpty());
        QCOMPARE(data.repairs.size(), std::size_t(2));
        QCOMPARE(data.repairs[0].line, 3);
        QCOMPARE(data.repairs[1].line, 4);
    }

    // ---- .xlsx ---------------------------------------------------------------------------

    // Cells formatted as dates (built-in and own formats, the 1904 system) arrive as dates;
    // plain numbers, numbers in exponent form and times stay what they show.
    void xlsxDatesArriveAsDates()
    {
        const QByteArray styles = "<numFmts count=\"2\"><numFmt numFmtId=\"164\" "
                                  "formatCode=\"yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;\"/>"
                                  "<numFmt numFmtId=\"165\" formatCode=\"0.00E+00\"/></numFmts>"
                                  "<cellXfs count=\"6\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/>"
                                  "<xf numFmtId=\"165\"/><xf numFmtId=\"22\"/><xf numFmtId=\"20\"/></cellXfs>";
        const QByteArray rows = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>登记日期</t></is></c>"
                                "<c r=\"B1\" t=\"inlineStr\"><is><t>姓名</t></is></c></row>"
                                "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>45717</v></c><c r=\"B2\" s=\"0\"><v>45717</v></c>"
                                "<c r=\"C2\" s=\"2\"><v>45616</v></c><c r=\"D2\" s=\"3\"><v>46027</v></c>"
                                "<c r=\"E2\" s=\"4\"><v>46027.5</v></c><c r=\"F2\" s=\"5\"><v>0.75</v></c>"
                                "<c r=\"G2\" s=\"1\" t=\"d\"><v>2024-02-03T00:00:00</v></c></row>";
        const SheetData sheet = readXlsx(test::xlsxOf(rows, styles));
        QCOMPARE(sheet.rows.at(1).cells, QStringList({"2025-03-01", "45717", "2024-11-20", "46027",
                                                      "2026-01-05 12:00:00", "18:00:00", "2024-02-03"}));
        const SheetData old = readXlsx(test::xlsxOf(rows, styles, {}, true));
        QCOMPARE(old.rows.at(1).cells.value(0), QStringLiteral("2029-03-02"));
        QCOMPARE(recordsFrom(sheet).at(0)[F::RegistrationDate], QStringLiteral("2025-03-01"));

        QCOMPARE(serialDateText(1, false, false), QStringLiteral("1900-01-01"));
        QCOMPARE(serialDateText(61, false, false), QStringLiteral("1900-03-01"));
        QCOMPARE(serialDateText(-1, false, false), QString());
        QVERIFY(isDateFormat(0, QStringLiteral("[$-804]yyyy/m/d;@")));
        QVERIFY(!isDateFormat(0, QStringLiteral("[Red]#,##0.00 \"day\"")));
        QVERIFY(!isDateFormat(0, QStringLiteral("h:mm")));
    }

    void xlsxRoundTripKeepsLayoutAndValues()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("客户.xlsx"));
        SheetLayout layout;
        layout.titleName = QStringLiteral("客户统计报表");
        layout.userName = QStringLiteral("联簿宝");
        layout.madeAt = QStringLiteral("2025-03-04 10:00:00");
        for (const QString &title : allTitles())
            layout.titleCells.push_back({title});
        layout.columnWidths.assign(kCustomerFieldCount, 70);
        layout.footers.assign(kCustomerFieldCount, QString());
        layout.footers[0] = QStringLiteral("总计");

        const std::vector<CustomerRecord> records = awkwardCustomers(true);
        std::size_t next = 0;
        int lastProgress = -1;
        writeXlsx(
            path, layout,
            [&](QStringList &cells) {
                if (next >= records.size())
                    return false;
                cells = cellsOf(records[next++]);
                return true;
            },
            qint64(records.size()),
            [&](int permille) {
                lastProgress = permille;
                return true;
            });
        QCOMPARE(lastProgress, 1000);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const SheetData sheet = readXlsx(file.readAll());
        // Title at D1, author at A2 and time at F2, titles in row 3, records from row 4, footer.
        QCOMPARE(sheet.rows.at(0).line, 1);
        QCOMPARE(sheet.rows.at(0).cells.value(3), QStringLiteral("客户统计报表"));
        QCOMPARE(sheet.rows.at(1).cells.value(0), QStringLiteral("制表人：联簿宝"));
        QCOMPARE(sheet.rows.at(1).cells.value(5), QStringLiteral("制表时间：2025-03-04 10:00:00"));
        QCOMPARE(sheet.rows.at(2).cells, allTitles());
        QCOMPARE(sheet.rows.at(3).line, 4);
        QCOMPARE(sheet.rows.back().cells.value(0), QStringLiteral("总计"));

        const std::vector<CustomerRecord> back = recordsFrom(sheet);
        QCOMPARE(back.size(), records.size()); // the footer is no customer
        for (std::size_t i = 0; i < back.size(); ++i)
            QCOMPARE(cellsOf(back[i]), cellsOf(asImported(records[i])));
    }

    void xlsxRefusesWhatItCannotHoldAndKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.xlsx"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        SheetLayout layout;
        layout.titleCells = {{QStringLiteral("姓名")}};
        auto endless = [](QStringList &cells) {
            cells = {QStringLiteral("x")};
            return true;
        };
        QVERIFY_THROWS_EXCEPTION(Error, writeXlsx(path, layout, endless, kXlsxMaxRows));
        // Cancelled half way: nothing replaces the old file, nothing is left behind.
        int calls = 0;
        QVERIFY_THROWS_EXCEPTION(Error, writeXlsx(path, layout, endless, 100, [&](int) { return ++calls < 10; }));
        QFile kept(path);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), qsizetype(1));

        QVERIFY_THROWS_EXCEPTION(Error, readXlsx("no zip at all"));
    }

    void xlsxCellDetails()
    {
        QCOMPARE(columnOfReference(QStringLiteral("A1")), 0);
        QCOMPARE(columnOfReference(QStringLiteral("Z9")), 25);
        QCOMPARE(columnOfReference(QStringLiteral("AA10")), 26);
        QCOMPARE(columnOfReference(QStringLiteral("XFD1")), 16383);
        QCOMPARE(columnOfReference(QStringLiteral("12")), -1);
        QCOMPARE(unescapeXlsxText(QStringLiteral("a_x000D_b_x005F_c_xZZZZ_")), QStringLiteral("a\rb_c_xZZZZ_"));
    }

    // The markup other programs write, read by the program's own scanner as the XML reader would.
    void xlsxMarkupOfOtherProgramsIsRead()
    {
        const QByteArray ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
        const QByteArray rows =
            "<x:row xmlns:x=\"" + ns
            + "\" r=\"1\"><x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>前缀</x:t></x:is></x:c></x:row>"
              "<!-- a comment --><?pi data?>"
              "<row r=\"2\" spans=\"1:4\"><c r=\"A2\" note=\"a>b\" "
              "t=\"inlineStr\"><is><t>&lt;&amp;&#x4E2D;&#25991;&quot;</t></is></c>"
              "<c r=\"B2\" t='inlineStr'><is><t><![CDATA[a<b&c]]></t></is></c>"
              "<c r=\"C2\" t=\"inlineStr\"><is><r><rPr><b/></rPr><t>甲</t></r><r><t xml:space=\"preserve\"> 乙</t></r>"
              "<rPh sb=\"0\" eb=\"1\"><t>jia</t></rPh></is></c>"
              "<c r=\"D2\" t=\"inlineStr\"><is><t>一\r\n二\r三</t></is></c>"
              "<c r=\"E2\"/><c r=\"F2\"><f>1+1</f><v>2</v></c><c r=\"G2\" t=\"str\"><f>A1</f><v/></c>"
              "<c r=\"H2\" t=\"b\"><v>1</v></c><c r=\"I2\" t=\"e\"><v>#DIV/0!</v></c></row>"
              "<row r=\"4\"><c t=\"inlineStr\"><is><t>无引用</t></is></c><c><v>3</v></c></row>";
        const SheetData sheet = readXlsx(test::xlsxOf(rows));
        QCOMPARE(sheet.rows.size(), std::size_t(3));
        QCOMPARE(sheet.rows[0].cells, QStringList{QStringLiteral("前缀")});
        QCOMPARE(sheet.rows[1].line, 2);
        QCOMPARE(sheet.rows[1].cells,
                 QStringList({QStringLiteral("<&中文\""), QStringLiteral("a<b&c"), QStringLiteral("甲 乙"),
                              QStringLiteral("一\n二\n三"), QString(), QStringLiteral("2"), QString(),
                              QStringLiteral("TRUE"), QStringLiteral("#DIV/0!")}));
        QCOMPARE(sheet.rows[2].line, 4);
        QCOMPARE(sheet.rows[2].cells, QStringList({QStringLiteral("无引用"), QStringLiteral("3")}));

        // A value longer than one read of the unpacked member is read whole; with a budget its
        // length is the field limit's to judge.
        const QString longText(300'000, QLatin1Char('x'));
        const QByteArray longRow = "<row><c t=\"inlineStr\"><is><t>" + longText.toLatin1() + "</t></is></c></row>";
        QCOMPARE(readXlsx(test::xlsxOf(longRow)).rows.at(0).cells.at(0), longText);
        ReadBudget budget;
        try {
            readXlsx(test::xlsxOf(longRow), &budget);
            QFAIL("an over-long value was read");
        } catch (const Error &error) {
            QVERIFY2(error.message().contains(QStringLiteral("每项内容最多 65536 个字")), qPrintable(error.message()));
        }

        // Broken or dangerous markup is refused as no readable file, whatever the reader got to.
        for (const QByteArray &bad :
             {QByteArray("<row><c r=\"A1\"><v>1</v></c></row><row><c r=\"A2\""),
              QByteArray("<!DOCTYPE x [<!ENTITY a \"aaaa\">]><row/>"), QByteArray("<row><c r=\"A1 t=\"s\"/></row>")}) {
            try {
                readXlsx(test::xlsxOf(bad));
                QFAIL(bad.constData());
            } catch (const Error &error) {
                QVERIFY2(error.message().contains(QStringLiteral(".xlsx")), qPrintable(error.message()));
            }
        }
        // A reference far past the last column never overflows; such a cell is passed over.
        const SheetData far =
            readXlsx(test::xlsxOf("<row><c r=\"A1\"><v>1</v></c><c r=\"ZZZZZZZZZZZZ1\"><v>2</v></c></row>"));
        QCOMPARE(far.rows.at(0).cells, QStringList{QStringLiteral("1")});
        QCOMPARE(columnOfReference(QStringLiteral("ZZZZZZZZZZZZ1")), 16384);
    }

    // ---- .xls ----------------------------------------------------------------------------

    void legacyXlsStreamIsRead()
    {
        // The legacy layout: title block, the grid's 14 titles, records with 网站 in an
        // untitled 15th cell, the footer.
        QByteArray bytes = xls::bofRecord();
        bytes += xls::labelRecord(0, 3, xls::labelText(QStringLiteral("客户统计报表")));
        bytes += xls::labelRecord(1, 0, xls::labelText(QStringLiteral("制表人：联簿宝")));
        int c = 0;
        for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
            if (F(f) != F::Website)
                bytes += xls::labelRecord(2, c++, xls::labelText(fieldTitle(F(f))));
        bytes += xls::labelRecord(3, 0, xls::labelText(QStringLiteral("老客户")));
        bytes += xls::labelRecord(3, 2, xls::labelText(QStringLiteral("王五")));
        bytes += xls::rkRecord(3, 5, 12345);
        bytes += xls::numberRecord(3, 10, 100000.0);
        bytes += xls::blankRecord(3, 11);
        bytes += xls::labelRecord(3, 14, xls::labelText(QStringLiteral("www.example.cn")));
        bytes += xls::labelRecord(4, 0, xls::labelText(QStringLiteral("总计")));
        bytes += xls::eofRecord();

        const SheetData sheet = readBiffStream(bytes);
        const ColumnChoice choice = matchColumns(sheet);
        QCOMPARE(choice.matched(), 15);
        QCOMPARE(choice.column[std::size_t(F::Website)], 14);
        const std::vector<ImportRow> rows = recordsOf(sheet, choice);
        QCOMPARE(rows.size(), std::size_t(1));
        QCOMPARE(rows[0].line, 4);
        QCOMPARE(rows[0].record[F::Name], QStringLiteral("王五"));
        QCOMPARE(rows[0].record[F::Mobile], QStringLiteral("12345"));
        QCOMPARE(rows[0].record[F::Postcode], QStringLiteral("100000"));
        QCOMPARE(rows[0].record[F::Website], QStringLiteral("www.example.cn"));

        QCOMPARE(rkText((quint32(7) << 2) | 2u | 1u), QStringLiteral("0.07"));
        QVERIFY_THROWS_EXCEPTION(Error, readBiffStream(bytes.left(30)));
        QVERIFY_THROWS_EXCEPTION(Error, readBiffStream("PK\x03\x04 not a stream"));
    }

    // ---- matching and duplicates -----------------------------------------------------------

    void titlesMatchWithOrWithoutBlanks()
    {
        SheetData sheet;
        sheet.rows.push_back({1, {QStringLiteral("通讯录")}});
        sheet.rows.push_back(
            {2,
             {QStringLiteral("姓名"), QStringLiteral("其他"), QStringLiteral(" 手　机 "), QStringLiteral("单  位")}});
        sheet.rows.push_back({3, {QStringLiteral("甲"), QStringLiteral("不要"), QStringLiteral("139"), QString()}});
        const ColumnChoice choice = matchColumns(sheet);
        QCOMPARE(choice.titleRow, 1);
        QCOMPARE(choice.column[std::size_t(F::Name)], 0);
        QCOMPARE(choice.column[std::size_t(F::Mobile)], 2);
        QCOMPARE(choice.column[std::size_t(F::Company)], 3);
        QCOMPARE(choice.matched(), 3);
        QCOMPARE(recordsOf(sheet, choice).at(0).record[F::Mobile], QStringLiteral("139"));
    }

    void duplicatesByMobileOrByShortNameAndName()
    {
        QCOMPARE(mobileKey(QStringLiteral("+86 139-0000-1111")), QStringLiteral("13900001111"));
        QCOMPARE(mobileKey(QStringLiteral("13900001111")), QStringLiteral("13900001111"));
        QCOMPARE(mobileKey(QStringLiteral("无")), QString());

        DuplicateIndex index;
        index.add(1, customer({{F::Mobile, QStringLiteral("13900001111")}, {F::Name, QStringLiteral("甲")}}));
        index.add(2, customer({{F::ShortName, QStringLiteral("华联")}, {F::Name, QStringLiteral("张 三")}}));
        index.add(3, customer({{F::Name, QStringLiteral("无手机")}}));
        QCOMPARE(index.matches(customer({{F::Mobile, QStringLiteral("139 0000 1111")}})), std::vector<qint64>{1});
        QCOMPARE(index.matches(customer({{F::ShortName, QStringLiteral("华联")}, {F::Name, QStringLiteral("张三")}})),
                 std::vector<qint64>{2});
        // Same name under another short name is someone else; empty keys match nothing.
        QVERIFY(index.matches(customer({{F::ShortName, QStringLiteral("别家")}, {F::Name, QStringLiteral("张三")}}))
                    .empty());
        QVERIFY(index.matches(customer({{F::Notes, QStringLiteral("只有备注")}})).empty());
        QCOMPARE(index.matches(customer({{F::Mobile, QStringLiteral("13900001111")},
                                         {F::ShortName, QStringLiteral("华联")},
                                         {F::Name, QStringLiteral("张三")}})),
                 (std::vector<qint64>{1, 2}));

        // Groups join through either key: 5 shares a mobile with 4 and a name with 7.
        const std::vector<IdentifiedCustomer> customers = {
            {4, customer({{F::Mobile, QStringLiteral("1")}, {F::Name, QStringLiteral("甲")}})},
            {5, customer({{F::Mobile, QStringLiteral("1")}, {F::Name, QStringLiteral("乙")}})},
            {6, customer({{F::Mobile, QStringLiteral("2")}, {F::Name, QStringLiteral("丙")}})},
            {7, customer({{F::Mobile, QStringLiteral("3")}, {F::Name, QStringLiteral("乙")}})},
            {8, customer({{F::Name, QStringLiteral("丙")}, {F::ShortName, QStringLiteral("别家")}})},
            {9, customer({{F::Name, QStringLiteral("丁")}})},
            {10, customer({{F::Name, QStringLiteral("丁")}})},
        };
        QCOMPARE(duplicateGroups(customers), (std::vector<std::vector<qint64>>{{4, 5, 7}, {9, 10}}));
    }

    void updatesGoToTheBestMatchAndEachCustomerOnce()
    {
        // 1 shares only the mobile; 2 the mobile, the short name and the name; 3 and 4 are the
        // same person twice (short name and name).
        const QHash<qint64, CustomerRecord> customers{
            {1, customer({{F::Mobile, QStringLiteral("13900001111")}, {F::Name, QStringLiteral("别人")}})},
            {2, customer({{F::Mobile, QStringLiteral("139 0000 1111")},
                          {F::ShortName, QStringLiteral("华联")},
                          {F::Name, QStringLiteral("张 三")}})},
            {3, customer({{F::ShortName, QStringLiteral("新光")}, {F::Name, QStringLiteral("李四")}})},
            {4, customer({{F::ShortName, QStringLiteral("新光")}, {F::Name, QStringLiteral("李四")}})},
        };
        const CustomerRecord zhang = customer({{F::Mobile, QStringLiteral("+86 13900001111")},
                                               {F::ShortName, QStringLiteral("华联")},
                                               {F::Name, QStringLiteral("张三")}});
        QCOMPARE(sharedKeyFields(zhang, customers[1]), 1);
        QCOMPARE(sharedKeyFields(zhang, customers[2]), 3);
        QCOMPARE(sharedKeyFields(zhang, customers[3]), 0);
        // Found in id order, ranked by what they share.
        const std::vector<MatchedCustomer> ranked = rankMatches(zhang, {1, 2}, customers);
        QCOMPARE(ranked, (std::vector<MatchedCustomer>{{2, 3}, {1, 1}}));
        QCOMPARE(bestMatch(ranked), qint64(2));
        const CustomerRecord li = customer({{F::ShortName, QStringLiteral("新光")}, {F::Name, QStringLiteral("李四")}});
        const std::vector<MatchedCustomer> tie = rankMatches(li, {3, 4}, customers);
        QCOMPARE(tie, (std::vector<MatchedCustomer>{{3, 2}, {4, 2}}));
        QCOMPARE(bestMatch(tie), qint64(0)); // the operator chooses
        QCOMPARE(bestMatch({}), qint64(0));

        auto rowAt = [](int line, const CustomerRecord &record) { return ImportRow{line, record}; };
        const std::vector<ImportRow> records{rowAt(2, zhang), rowAt(3, li), rowAt(4, zhang), rowAt(5, li),
                                             rowAt(6, customer({{F::Name, QStringLiteral("新人")}}))};
        // Line 2 updates 2; line 3 is a tie nobody settled; line 4 would update 2 again; line 5 adds.
        std::vector<DuplicateDecision> decisions{{0, ranked, ImportAction::Update, 2},
                                                 {1, tie, ImportAction::Update, 0},
                                                 {2, ranked, ImportAction::Update, 2},
                                                 {3, tie, ImportAction::Add, 0}};
        ImportPlan plan = planImport(records, decisions);
        QVERIFY(!plan.ready());
        QCOMPARE(plan.unsettled.size(), std::size_t(2));
        QCOMPARE(plan.unsettled[0].line, 3);
        QCOMPARE(plan.unsettled[0].reason, UnsettledRow::Reason::NoCustomerChosen);
        QCOMPARE(plan.unsettled[1].line, 4);
        QCOMPARE(plan.unsettled[1].reason, UnsettledRow::Reason::AlreadyUpdated);
        QCOMPARE(plan.unsettled[1].earlierLine, 2);
        const QString told = unsettledText(plan.unsettled);
        QVERIFY2(told.contains(QStringLiteral("第 3 行与几个客户同样相符")), qPrintable(told));
        QVERIFY2(told.contains(QStringLiteral("第 4 行要更新的客户已由第 2 行更新")), qPrintable(told));

        // Whatever order the decisions come in, the earlier line of the file keeps the customer.
        std::swap(decisions[0], decisions[2]);
        plan = planImport(records, decisions);
        QCOMPARE(plan.unsettled.size(), std::size_t(2));
        QCOMPARE(plan.unsettled[1].line, 4);

        // Settled: line 3 picks 4 (a customer that is no match is not taken), line 4 is skipped.
        decisions[0].action = ImportAction::Skip;
        decisions[1].target = 1;
        QCOMPARE(planImport(records, decisions).unsettled.size(), std::size_t(1));
        decisions[1].target = 4;
        plan = planImport(records, decisions);
        QVERIFY(plan.ready());
        QCOMPARE(plan.rows.size(), records.size());
        QCOMPARE(plan.rows[0].action, ImportAction::Update);
        QCOMPARE(plan.rows[0].updateId, qint64(2));
        QCOMPARE(plan.rows[1].updateId, qint64(4));
        QCOMPARE(plan.rows[2].action, ImportAction::Skip);
        QCOMPARE(plan.rows[3].action, ImportAction::Add);
        QCOMPARE(plan.rows[4].action, ImportAction::Add);
        QCOMPARE(plan.rows[4].row.line, 6);
    }

    void overWidthIsFound()
    {
        const CustomerRecord record =
            customer({{F::Name, QString(31, QChar(0x5F20))}, {F::Notes, QString(200, QLatin1Char('x'))}});
        const std::vector<OverWidth> over = overWidthFields(record);
        QCOMPARE(over.size(), std::size_t(1));
        QCOMPARE(over[0].field, F::Name);
        QCOMPARE(over[0].length, 31);
    }
};

QTEST_GUILESS_MAIN(TestExchangeFormats)
#include "test_exchange_formats.moc"
