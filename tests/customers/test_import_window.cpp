// The import window against a real register: a GBK CSV file read with the encoding confirmed,
// columns chosen, duplicates of the register and of the file itself settled one by one and for
// all, the summary box, and files that cannot be read.

#include "customers/DuplicatesWindow.h"
#include "customers/ImportWindow.h"
#include "db/Connection.h"
#include "export/RegisterAccess.h"
#include "platform/Clock.h"
#include "platform/Gbk.h"
#include "tests/export/HostileFiles.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTest>

using namespace lianbu;
using namespace lianbu::customers;
using namespace lianbu::exchange;
using F = CustomerField;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

ImportRow row(std::initializer_list<std::pair<F, QString>> values)
{
    ImportRow imported;
    for (const auto &[field, value] : values)
        imported.record[field] = value;
    return imported;
}

} // namespace

class TestImportWindow : public QObject
{
    Q_OBJECT

private slots:
    void gbkFileWithDuplicatesIsImportedAsChosen()
    {
        test::Environment env;
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        setFixedNow(QDateTime(QDate(2025, 6, 1), QTime(9, 0)));
        // The register has 张三 (by mobile) and 华联/李四 (by short name and name).
        applyImport(
            connection.database(),
            {{row({{F::Name, QStringLiteral("张三")}, {F::Mobile, QStringLiteral("13900000001")}}), ImportAction::Add,
              0},
             {row({{F::ShortName, QStringLiteral("华联")}, {F::Name, QStringLiteral("李四")}}), ImportAction::Add, 0}},
            QStringLiteral("2020-01-01"));

        // Titles without their inner blanks, an extra column, a broken line, over-long text.
        const QString text = QStringLiteral("客户简称,姓名,手机,其他,备注\r\n"
                                            ",张叁,139 0000 0001,x,同一手机\r\n"     // 2: duplicate of 张三
                                            "华联,李四,,x,同一简称和姓名\r\n"        // 3: duplicate of 李四
                                            "新客,王五,13700000000,x,\"多\n行\"\r\n" // 4-5: new
                                            "新客,王五,,x,文件里重复\r\n"            // 6: repeats line 4
                                            "坏,\"引号\"没完,,x,\r\n"                // 7: unreadable
                                            "长名,%1,,x,\r\n")                       // 8: name too long
                                 .arg(QString(40, QChar(0x540D)));
        const QString path = env.filePath(QStringLiteral("客户.csv"));
        writeFile(path, gbk::encode(text));

        ImportWindow window(connection.database());
        QVERIFY(window.loadFile(path));
        QCOMPARE(window.format().kind, FormatKind::Csv);
        QCOMPARE(window.encoding(), TextEncoding::Gbk);
        QCOMPARE(window.unreadableLines(), std::vector<int>{7});
        QCOMPARE(window.records().size(), std::size_t(5));
        QCOMPARE(window.columnChoice().column[std::size_t(F::Name)], 1);
        QCOMPARE(window.columnChoice().column[std::size_t(F::Notes)], 4);

        // Read as UTF-8 the titles are lost; back to GBK they are found again.
        window.setEncoding(TextEncoding::Utf8);
        QCOMPARE(window.columnChoice().matched(), 0);
        window.setEncoding(TextEncoding::Gbk);
        QCOMPARE(window.columnChoice().matched(), 4);

        // The operator takes the "其他" column as 职务.
        window.setColumn(F::Position, 3);
        QCOMPARE(window.records().front().record[F::Position], QStringLiteral("x"));

        QVERIFY(window.findDuplicates());
        const auto &duplicates = window.duplicates();
        QCOMPARE(duplicates.size(), std::size_t(3));
        QCOMPARE(window.records()[duplicates[0].record].line, 2);
        QCOMPARE(window.records()[duplicates[1].record].line, 3);
        QCOMPARE(window.records()[duplicates[2].record].line, 6);
        QVERIFY(duplicates[2].withinFile);

        // Add all anyway, then: line 2 updates 张三, line 6 is skipped. An update of a record
        // that only repeats the file has nothing to update and falls back to skip.
        window.setAllActions(ImportAction::Add);
        window.setAction(0, ImportAction::Update);
        window.setAction(2, ImportAction::Update);
        QCOMPARE(duplicates[2].action, ImportAction::Skip);

        QVERIFY(window.runImport());
        QVERIFY(window.summary().has_value());
        QCOMPARE(window.summary()->added, 3); // lines 3, 4 and 8
        QCOMPARE(window.summary()->updated, 1);
        QCOMPARE(window.summary()->skipped, 1);
        const QString summary = env.dialogs().lastBox().request.text;
        QVERIFY2(summary.contains(QStringLiteral("新增 3 条，更新 1 条，跳过 1 条")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("第 7 行")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("第 8 行的“姓名”（40 字，最多 30 字）")), qPrintable(summary));

        const std::vector<IdentifiedCustomer> customers = loadCustomers(connection.database());
        QCOMPARE(customers.size(), std::size_t(5));
        QCOMPARE(customers[0].record[F::Name], QStringLiteral("张叁")); // updated
        QCOMPARE(customers[0].record[F::Notes], QStringLiteral("同一手机"));
        QCOMPARE(customers[3].record[F::Notes], QStringLiteral("多\n行"));
        QCOMPARE(customers[3].record[F::RegistrationDate], QStringLiteral("2025-06-01"));
        setFixedNow(QDateTime());
    }

    void rowsMatchingSeveralCustomersUpdateTheBestOneOnce()
    {
        test::Environment env;
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        // 1 has the mobile only; 2 has the mobile, short name and name; 3 and 4 are twins.
        applyImport(
            connection.database(),
            {{row({{F::Name, QStringLiteral("别人")}, {F::Mobile, QStringLiteral("13900000001")}}), ImportAction::Add,
              0},
             {row({{F::ShortName, QStringLiteral("华联")},
                   {F::Name, QStringLiteral("张三")},
                   {F::Mobile, QStringLiteral("13900000001")}}),
              ImportAction::Add, 0},
             {row({{F::ShortName, QStringLiteral("新光")}, {F::Name, QStringLiteral("李四")}}), ImportAction::Add, 0},
             {row({{F::ShortName, QStringLiteral("新光")}, {F::Name, QStringLiteral("李四")}}), ImportAction::Add, 0}},
            QStringLiteral("2020-01-01"));
        const std::vector<IdentifiedCustomer> before = loadCustomers(connection.database());
        const qint64 other = before[0].id, zhang = before[1].id, li1 = before[2].id, li2 = before[3].id;

        const QString path = env.filePath(QStringLiteral("更新.csv"));
        writeFile(path, QStringLiteral("客户简称,姓名,手机,备注\r\n"
                                       "华联,张三,13900000001,第二行\r\n"  // 2: best is 张三
                                       "新光,李四,,第三行\r\n"             // 3: the twins tie
                                       "华联,张三,13900000001,第四行\r\n") // 4: 张三 again
                            .toUtf8());
        ImportWindow window(connection.database());
        QVERIFY(window.loadFile(path));
        QVERIFY(window.findDuplicates());
        const auto &duplicates = window.duplicates();
        QCOMPARE(duplicates.size(), std::size_t(3));
        QCOMPARE(duplicates[0].matches.size(), std::size_t(2));
        QCOMPARE(duplicates[0].matches.front().id, zhang);
        QCOMPARE(duplicates[0].target, zhang);
        QCOMPARE(duplicates[1].target, qint64(0));
        // The operator is shown the candidates of a row with several, with how much each shares.
        auto *table = window.findChild<QTableWidget *>(QStringLiteral("duplicateTable"));
        QVERIFY(table);
        auto *choice = qobject_cast<QComboBox *>(table->cellWidget(1, 4));
        QVERIFY(choice);
        QCOMPARE(choice->count(), 3);
        QCOMPARE(choice->currentData().toLongLong(), qint64(0));

        // 全部更新: nothing is written while a row has no customer or takes one already taken.
        window.setAllActions(ImportAction::Update);
        QVERIFY(!window.runImport());
        QVERIFY(!window.summary().has_value());
        const QString told = env.dialogs().lastBox().request.text;
        QVERIFY2(told.contains(QStringLiteral("第 3 行"))
                     && told.contains(QStringLiteral("第 4 行要更新的客户已由第 2 行更新")),
                 qPrintable(told));
        QCOMPARE(loadCustomers(connection.database())[1].record[F::Notes], QString());

        // Line 3 updates the second twin (picked in the list), line 4 is added as a new customer.
        choice->setCurrentIndex(choice->findData(li2));
        QCOMPARE(duplicates[1].target, li2);
        window.setAction(2, ImportAction::Add);
        QVERIFY(window.runImport());
        QCOMPARE(window.summary()->updated, 2);
        QCOMPARE(window.summary()->added, 1);
        QVERIFY2(env.dialogs().lastBox().request.text.contains(QStringLiteral("新增 1 条，更新 2 条，跳过 0 条")),
                 qPrintable(env.dialogs().lastBox().request.text));
        QHash<qint64, CustomerRecord> after;
        for (const IdentifiedCustomer &customer : loadCustomers(connection.database()))
            after.insert(customer.id, customer.record);
        QCOMPARE(after.size(), qsizetype(5));
        QCOMPARE(after[zhang][F::Notes], QStringLiteral("第二行"));
        QCOMPARE(after[other][F::Notes], QString());
        QCOMPARE(after[other][F::Name], QStringLiteral("别人"));
        QCOMPARE(after[li1][F::Notes], QString());
        QCOMPARE(after[li2][F::Notes], QStringLiteral("第三行"));
    }

    void aCustomerDeletedBeforeItsUpdateIsAddedAndReported()
    {
        test::Environment env;
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        applyImport(connection.database(),
                    {{row({{F::Name, QStringLiteral("张三")}, {F::Mobile, QStringLiteral("13900000001")}}),
                      ImportAction::Add, 0}},
                    QStringLiteral("2020-01-01"));
        const QString path = env.filePath(QStringLiteral("客户.csv"));
        writeFile(path, QStringLiteral("姓名,手机,备注\r\n张三,13900000001,新备注\r\n").toUtf8());
        ImportWindow window(connection.database());
        QVERIFY(window.loadFile(path));
        QVERIFY(window.findDuplicates());
        window.setAllActions(ImportAction::Update);
        // While the operator decides, another operator deletes 张三.
        QCOMPARE(connection.execute(QStringLiteral("DELETE FROM data")), 1);
        QVERIFY(window.runImport());
        QCOMPARE(window.summary()->updated, 0);
        QCOMPARE(window.summary()->added, 1);
        const QString summary = env.dialogs().lastBox().request.text;
        QVERIFY2(summary.contains(QStringLiteral("新增 1 条，更新 0 条")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("第 2 行要更新的客户已被其他操作员删除")), qPrintable(summary));
        const std::vector<IdentifiedCustomer> customers = loadCustomers(connection.database());
        QCOMPARE(customers.size(), std::size_t(1));
        QCOMPARE(customers[0].record[F::Notes], QStringLiteral("新备注"));
    }

    void unreadableFilesAreRefusedWithAMessage()
    {
        test::Environment env;
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        ImportWindow window(connection.database());
        const QString xlsx = env.filePath(QStringLiteral("坏.xlsx"));
        writeFile(xlsx, "PK\x03\x04 broken");
        QVERIFY(!window.loadFile(xlsx));
        QCOMPARE(env.dialogs().boxes().size(), qsizetype(1));
        QVERIFY(env.dialogs().lastBox().request.text.contains(QStringLiteral(".xlsx")));
        QVERIFY(!window.loadFile(env.filePath(QStringLiteral("没有这个文件.csv"))));
        QCOMPARE(env.dialogs().boxes().size(), qsizetype(2));
    }

    // 全部更新 with an .xlsx file whose 登记日期 are date cells stores dates, not serial numbers;
    // a hostile file is refused by the window with the limit named, and nothing is imported.
    void datesAndLimitsThroughTheWindow()
    {
        test::Environment env;
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        applyImport(connection.database(),
                    {{row({{F::Name, QStringLiteral("张三")}, {F::Mobile, QStringLiteral("13900000001")}}),
                      ImportAction::Add, 0}},
                    QStringLiteral("2020-01-01"));
        const QString xlsx = env.filePath(QStringLiteral("日期.xlsx"));
        writeFile(xlsx,
                  test::xlsxOf("<row><c t=\"inlineStr\"><is><t>姓名</t></is></c><c t=\"inlineStr\"><is><t>手机</t>"
                               "</is></c><c t=\"inlineStr\"><is><t>登记日期</t></is></c></row>"
                               "<row><c t=\"inlineStr\"><is><t>张三</t></is></c><c><v>13900000001</v></c>"
                               "<c s=\"1\"><v>45717</v></c></row>",
                               "<cellXfs count=\"2\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs>"));
        ImportWindow window(connection.database());
        QVERIFY(window.loadFile(xlsx));
        QVERIFY(window.findDuplicates());
        window.setAllActions(ImportAction::Update);
        QVERIFY(window.runImport());
        std::vector<IdentifiedCustomer> customers = loadCustomers(connection.database());
        QCOMPARE(customers.size(), std::size_t(1));
        QCOMPARE(customers[0].record[F::RegistrationDate], QStringLiteral("2025-03-01"));

        const QString commas = env.filePath(QStringLiteral("逗号.csv"));
        writeFile(commas, "姓名" + QByteArray(100'000, ',') + "\r\n");
        ImportWindow hostile(connection.database());
        QVERIFY(!hostile.loadFile(commas));
        QVERIFY(hostile.records().empty());
        const QString refusal = env.dialogs().lastBox().request.text;
        QVERIFY2(refusal.contains(QStringLiteral("每行最多 256 列")), qPrintable(refusal));

        // Two million cells: refused with the limit named, and the register keeps what it had.
        const QString cells = env.filePath(QStringLiteral("大表.xlsx"));
        writeFile(cells, test::manyCellsXlsx());
        QVERIFY(!hostile.loadFile(cells));
        QVERIFY(hostile.records().empty());
        const QString cellRefusal = env.dialogs().lastBox().request.text;
        QVERIFY2(cellRefusal.contains(QStringLiteral("最多 1000000 个单元格")), qPrintable(cellRefusal));
        customers = loadCustomers(connection.database());
        QCOMPARE(customers.size(), std::size_t(1));
        QCOMPARE(customers[0].record[F::RegistrationDate], QStringLiteral("2025-03-01"));
    }

    void duplicateGroupsAreListedAndOpen()
    {
        test::Environment env;
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        applyImport(
            connection.database(),
            {{row({{F::Name, QStringLiteral("甲")}, {F::Mobile, QStringLiteral("139-1")}}), ImportAction::Add, 0},
             {row({{F::Name, QStringLiteral("乙")}}), ImportAction::Add, 0},
             {row({{F::Name, QStringLiteral("丙")}, {F::Mobile, QStringLiteral("1391")}}), ImportAction::Add, 0},
             {row({{F::Name, QStringLiteral("乙")}}), ImportAction::Add, 0}},
            QString());
        const std::vector<IdentifiedCustomer> customers = loadCustomers(connection.database());

        DuplicatesWindow window(connection.database());
        window.refresh();
        QCOMPARE(window.groupCount(), 2);
        QCOMPARE(window.groupMembers(0), (QList<qint64>{customers[0].id, customers[2].id}));
        QCOMPARE(window.groupMembers(1), (QList<qint64>{customers[1].id, customers[3].id}));
        QSignalSpy opened(&window, &DuplicatesWindow::openCustomer);
        window.openMember(1, 1);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.at(0).at(0).toLongLong(), customers[3].id);

        // After the operator cleans up, "刷新" shows what is left.
        QSqlQuery remove(connection.database());
        QVERIFY(remove.exec(QStringLiteral("DELETE FROM data WHERE rid=%1").arg(customers[3].id)));
        window.refresh();
        QCOMPARE(window.groupCount(), 1);
    }
};

QTEST_MAIN(TestImportWindow)
#include "test_import_window.moc"
