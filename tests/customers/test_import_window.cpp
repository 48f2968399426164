// The import window against a real register: a GBK CSV file read with the encoding confirmed,
// columns chosen, duplicates of the register and of the file itself settled one by one and for
// all, the summary box, and files that cannot be read.

#include "customers/DuplicatesWindow.h"
#include "customers/ImportWindow.h"
#include "db/Connection.h"
#include "export/RegisterAccess.h"
#include "platform/Clock.h"
#include "platform/Gbk.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
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
        QCOMPARE(window.fileKind(), ImportFileKind::Csv);
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

        // Kinds from names, and from the first bytes when the name does not say.
        QCOMPARE(importFileKind(QStringLiteral("a.VCF"), {}), ImportFileKind::VCard);
        QCOMPARE(importFileKind(QStringLiteral("a.dat"), "PK\x03\x04"), ImportFileKind::Xlsx);
        QCOMPARE(importFileKind(QStringLiteral("a.dat"), "\x09\x08\x08\x00"), ImportFileKind::Xls);
        QCOMPARE(importFileKind(QStringLiteral("a"), " begin:vcard\r\n"), ImportFileKind::VCard);
        QCOMPARE(importFileKind(QStringLiteral("a"), "a,b"), ImportFileKind::Csv);
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
