// The files of "导 出" as another spreadsheet program reads them, and Excel's own workbooks
// (BIFF8) through the import window.
//
// LibreOffice converts each exported file to CSV under an English locale, where a .xls without
// its code page shows every Chinese cell as mojibake; the converted cells are then read back
// and compared with the register's records field by field. Without soffice those checks are
// skipped, loudly; the checked-in BIFF8 workbook (fixtures/biff8-customers.xls, made by
// LibreOffice from fixtures/biff8-customers.csv) is imported either way.

#include "customers/CustomerGrid.h"
#include "customers/CustomerExport.h"
#include "customers/ImportWindow.h"
#include "db/Connection.h"
#include "db/DataSetModel.h"
#include "db/Query.h"
#include "export/CsvFormat.h"
#include "export/ListExport.h"
#include "export/RegisterAccess.h"
#include "grid/DataGrid.h"
#include "platform/Gbk.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace lianbu;
using namespace lianbu::exchange;
using F = CustomerField;

namespace {

// CSV filter tokens: separator 44 (","), text delimiter 34 ('"'), character set (76 UTF-8,
// 67 GBK), first line 1, then every one of the 15 columns read as text (format 2), so that
// LibreOffice keeps leading zeros and dates as the file writes them.
QString csvOptions(int charset)
{
    QString options = QStringLiteral("44,34,%1,1,").arg(charset);
    for (int column = 1; column <= int(kCustomerFieldCount); ++column)
        options += QStringLiteral("%1%2/2").arg(column == 1 ? QString() : QStringLiteral("/")).arg(column);
    return options;
}
const QString kCsvFilter = QStringLiteral("Text - txt - csv (StarCalc)");

QString sofficeProgram()
{
    QString program = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    return program.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("libreoffice")) : program;
}

// LibreOffice in an English locale with a profile of its own (a running LibreOffice of the
// user's cannot take the job over) and a time limit. Returns the converted file.
QString convert(const QString &profile, const QString &input, const QString &target, const QString &inFilter,
                const QString &outDir)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments{QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(),
                          QStringLiteral("--headless"), QStringLiteral("--norestore")};
    if (!inFilter.isEmpty())
        arguments << QStringLiteral("--infilter=") + inFilter;
    arguments << QStringLiteral("--convert-to") << target << QStringLiteral("--outdir") << outDir << input;
    process.start(sofficeProgram(), arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        qWarning("soffice took longer than two minutes on %s", qPrintable(input));
        return {};
    }
    const QString output = outDir + QLatin1Char('/') + QFileInfo(input).completeBaseName() + QLatin1Char('.')
                           + target.section(QLatin1Char(':'), 0, 0);
    if (!QFileInfo::exists(output))
        qWarning("soffice wrote nothing for %s: %s", qPrintable(input), process.readAll().constData());
    return output;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

CustomerRecord record(std::initializer_list<std::pair<F, QString>> values)
{
    CustomerRecord out;
    for (const auto &[field, value] : values)
        out[field] = value;
    return out;
}

// What a GBK file can hold of a record: characters outside GBK become "?".
CustomerRecord inGbk(CustomerRecord record)
{
    for (QString &value : record.values)
        value = gbk::decode(gbk::encode(value));
    return record;
}

// Every field of every record, each difference named.
void compareRecords(const std::vector<ImportRow> &got, const std::vector<CustomerRecord> &expected, const QString &what)
{
    QStringList differences;
    if (got.size() != expected.size())
        differences << QStringLiteral("%1 records instead of %2").arg(got.size()).arg(expected.size());
    for (std::size_t r = 0; r < std::min(got.size(), expected.size()); ++r)
        for (std::size_t f = 0; f < kCustomerFieldCount; ++f)
            if (got[r].record.values[f] != expected[r].values[f])
                differences << QStringLiteral("record %1, %2: \"%3\" instead of \"%4\"")
                                   .arg(r + 1)
                                   .arg(fieldTitle(F(f)), got[r].record.values[f], expected[r].values[f]);
    QVERIFY2(differences.isEmpty(), qPrintable(what + QStringLiteral(": ") + differences.join(QStringLiteral("; "))));
}

} // namespace

class TestLibreOfficeExchange : public QObject
{
    Q_OBJECT

private slots:
    void exportedFilesReadByLibreOffice()
    {
        if (sofficeProgram().isEmpty())
            QSKIP("*** LibreOffice (soffice) is not installed: the exported .xlsx, CSV and .xls files are NOT "
                  "checked against another spreadsheet program. scripts/setup installs libreoffice-calc-nogui. ***");
        test::Environment env;
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();
        const std::vector<CustomerRecord> customers = {
            record({{F::Category, QStringLiteral("新,客户")},
                    {F::ShortName, QStringLiteral("华联\"总部\"")},
                    {F::Name, QStringLiteral("王五😀")},
                    {F::Mobile, QStringLiteral("0139000001")},
                    {F::Address, QStringLiteral("第一行\n第二行")},
                    {F::Postcode, QStringLiteral("010020")},
                    {F::Website, QStringLiteral("https://例子.cn")},
                    {F::Notes, QStringLiteral("a,b \"c\"; 'd'")},
                    {F::RegistrationDate, QStringLiteral("2024-02-03")}}),
            record({{F::Name, QStringLiteral("赵六")}, {F::RegistrationDate, QStringLiteral("2024-02-04")}}),
            record({{F::Name, QStringLiteral("Zoë O'Neil")},
                    {F::Position, QStringLiteral("经理；主管")},
                    {F::Phone, QStringLiteral("=1+2")},
                    {F::RegistrationDate, QStringLiteral("2024-02-05")}}),
        };
        std::vector<PlannedRow> plan;
        for (const CustomerRecord &customer : customers)
            plan.push_back({{0, customer}, ImportAction::Add, 0});
        applyImport(connection.database(), plan, QString());

        // The customer list as the main window shows it, exported through "导 出".
        db::Query list(&connection);
        list.setSql(QStringLiteral("select * from data"));
        list.open();
        db::DataSetModel model;
        model.setDataSet(&list);
        DataGrid grid;
        grid.setListModel(&model);
        customers::configureCustomerGrid(&grid);

        struct Case
        {
            ExportFormat format;
            QString file;
            QString inFilter;
            bool gbk;
        };
        const Case cases[] = {
            {ExportFormat::Xlsx, QStringLiteral("customers.xlsx"), QString(), false},
            {ExportFormat::CsvUtf8, QStringLiteral("customers-utf8.csv"),
             kCsvFilter + QLatin1Char(':') + csvOptions(76), false},
            {ExportFormat::CsvGbk, QStringLiteral("customers-gbk.csv"), kCsvFilter + QLatin1Char(':') + csvOptions(67),
             true},
            // The legacy record stream: GBK text that an English locale reads only by its code page.
            {ExportFormat::Xls, QStringLiteral("customers.xls"), QString(), true},
        };
        QTemporaryDir work;
        for (const Case &c : cases) {
            const QString path = env.filePath(c.file);
            env.dialogs().queueSaveFileName(path, formatFilter(c.format));
            customers::exportCustomerList(&grid, nullptr);
            QVERIFY2(QFileInfo::exists(path), qPrintable(c.file));

            const QString outDir = work.filePath(c.file + QStringLiteral(".out"));
            const QString converted =
                convert(work.filePath(QStringLiteral("profile")), path,
                        QStringLiteral("csv:") + kCsvFilter + QStringLiteral(":44,34,76,1"), c.inFilter, outDir);
            const QByteArray bytes = readAll(converted);
            QVERIFY2(!bytes.isEmpty(), qPrintable(c.file + QStringLiteral(": LibreOffice wrote nothing")));
            const SheetData sheet = parseCsv(bytes, TextEncoding::Utf8);
            const ColumnChoice choice = matchColumns(sheet);
            QVERIFY2(choice.matched() == int(kCustomerFieldCount),
                     qPrintable(c.file + QStringLiteral(": %1 titles found").arg(choice.matched())));
            std::vector<CustomerRecord> expected;
            for (const CustomerRecord &customer : customers)
                expected.push_back(c.gbk ? inGbk(customer) : customer);
            compareRecords(recordsOf(sheet, choice), expected, c.file);
        }
    }

    void excelWorkbookThroughTheImportWindow()
    {
        test::Environment env;
        test::TestDatabase database(false);
        db::Connection connection(database.path());
        connection.open();

        // The workbook checked in, and one LibreOffice makes now from the same CSV file.
        QStringList workbooks{QStringLiteral(LIANBU_FIXTURES "/biff8-customers.xls")};
        QTemporaryDir work;
        if (!sofficeProgram().isEmpty()) {
            workbooks << convert(
                work.filePath(QStringLiteral("profile")), QStringLiteral(LIANBU_FIXTURES "/biff8-customers.csv"),
                QStringLiteral("xls:MS Excel 97"),
                kCsvFilter + QStringLiteral(":44,34,76,1,1/2/2/2/3/2/4/2/5/2/6/1/7/2/8/1"), work.path());
            QVERIFY(readAll(workbooks.back()).startsWith("\xD0\xCF\x11\xE0"));
        } else {
            qWarning("*** LibreOffice (soffice) is not installed: only the checked-in BIFF8 workbook is imported. ***");
        }
        // 邮编 is a number cell and 登记日期 a date cell there; the rest is text.
        const std::vector<CustomerRecord> expected = {
            record({{F::Category, QStringLiteral("老客户")},
                    {F::ShortName, QStringLiteral("华联\"总部\"")},
                    {F::Name, QStringLiteral("王五😀")},
                    {F::Mobile, QStringLiteral("0139000001")},
                    {F::Address, QStringLiteral("北京市, 朝阳区")},
                    {F::Postcode, QStringLiteral("100000")},
                    {F::Notes, QStringLiteral("第一行\n第二行")},
                    {F::RegistrationDate, QStringLiteral("2024-02-03")}}),
            record({{F::Category, QStringLiteral("新客户")},
                    {F::Name, QStringLiteral("赵六")},
                    {F::Address, QStringLiteral("上海")},
                    {F::Notes, QStringLiteral("a,b \"c\"")},
                    {F::RegistrationDate, QStringLiteral("2024-02-04")}}),
        };
        for (const QString &workbook : workbooks) {
            customers::ImportWindow window(connection.database());
            QVERIFY2(window.loadFile(workbook),
                     qPrintable(workbook + QStringLiteral(": ") + env.dialogs().lastBox().request.text));
            QCOMPARE(window.format().kind, exchange::FormatKind::Xls);
            compareRecords(window.records(), expected, workbook);
        }
    }
};

QTEST_MAIN(TestLibreOfficeExchange)
#include "test_libreoffice_exchange.moc"
