// "导 出" end to end through the main window: the save dialog, the writer's settings, and a file
// that holds exactly what the grid lists, in the grid's order and column layout.

#include "tests/support/TestServer.h"
#include "tests/support/FormWidgets.h"
#include "data/Database.h"
#include "db/Query.h"
#include "grid/DataGrid.h"
#include "platform/Clock.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/TestSupport.h"
#include "tests/export/XlsRecords.h"
#include "export/CsvFormat.h"
#include "export/CustomerImport.h"
#include "export/ListExport.h"
#include "export/VCardFormat.h"
#include "export/XlsxFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

using namespace lianbu;
using namespace lianbu::test;
using test::MainWindowHarness;
using test::XlsRecord;

namespace {

QList<XlsRecord> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    bool ok = false;
    const QList<XlsRecord> records = test::readXlsRecords(file.readAll(), &ok);
    return ok ? records : QList<XlsRecord>{};
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The text of the LABEL at (row, column), or "<none>".
QString cellAt(const QList<XlsRecord> &records, int row, int column)
{
    for (const XlsRecord &r : records)
        if (r.isCell() && r.row() == row && r.column() == column)
            return r.type == 0x0204 ? r.text() : r.kind();
    return QStringLiteral("<none>");
}

QList<test::CustomerRow> sampleRows()
{
    QList<test::CustomerRow> rows;
    rows << test::customer(QStringLiteral("VIP"), QStringLiteral("张记"), QStringLiteral("0571-1"),
                           QStringLiteral("张三"))
         << test::customer(QStringLiteral("普通"), QStringLiteral("李家"), QStringLiteral("0571-2"),
                           QStringLiteral("李四"))
         << test::customer(QStringLiteral("VIP"), QStringLiteral("王氏"), QStringLiteral("0571-3"),
                           QStringLiteral("王五"))
         << test::customer(QStringLiteral("VIP"), QStringLiteral("赵府"), QStringLiteral("0571-4"),
                           QStringLiteral("赵六"));
    rows[2][12] = QStringLiteral("www.example.com"); // the web site, stored but not listed
    return rows;
}

} // namespace

class TestExportCommand : public QObject
{
    Q_OBJECT

private slots:
    // Also run against a register on the test server (the "_postgresql" registration).
    void initTestCase() { LIANBU_REQUIRE_TEST_ENGINE(); }
    void exportsTheListAsTheGridShowsIt()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleRows());
        h.form->showAllRecords();
        setFixedNow(QDateTime(QDate(2010, 8, 15), QTime(14, 30, 0)));
        DataGrid *grid = widgets(h.form)->customerGrid;
        const data::CustomerListModel *list = h.data->customerList;

        // A quick search, a title-click sort, a moved column and a hidden one.
        widgets(h.form)->searchCompany->setText(QStringLiteral("联簿")); // company: all four
        widgets(h.form)->searchCategory->setEditText(QStringLiteral("VIP"));
        h.form->quickSearchBar()->runQuickSearch();
        h.waitForSearch();
        QCOMPARE(list->rowCount(), 3);
        const int bIndex = grid->columns()->findByFieldName(QStringLiteral("b"))->index();
        grid->clickTitle(bIndex); // b DESC
        QCOMPARE(list->sortText(), QStringLiteral("b DESC"));
        grid->columns()->move(grid->columns()->findByFieldName(QStringLiteral("c"))->index(), 0);
        grid->columns()->findByFieldName(QStringLiteral("h"))->setVisible(false);
        grid->setCurrentRow(1);
        const QList<GridColumn *> visible = grid->visibleColumns();
        QStringList gridRows;
        for (int row = 0; row < list->rowCount(); ++row) {
            QStringList cells;
            for (const GridColumn *column : visible)
                cells << grid->cellDisplayText(row, column);
            gridRows << cells.join(QLatin1Char('|'));
        }

        // The operator types "report" in the save dialog.
        h.env.dialogs().queueSaveFileName(h.env.filePath(QStringLiteral("report")));
        QTest::mouseClick(widgets(h.form)->exportButton, Qt::LeftButton);

        QCOMPARE(h.env.dialogs().saveFiles().size(), 1);
        const SaveFileRequest request = h.env.dialogs().saveFiles().first().request;
        // The legacy .xls is offered first and chosen unless the operator picks another.
        QVERIFY(request.filter.startsWith(QStringLiteral("Microsoft Excel xls文件 (*.xls);;")));
        QCOMPARE(request.selectedFilter, QStringLiteral("Microsoft Excel xls文件 (*.xls)"));
        QVERIFY(request.fileName.isEmpty() && request.directory.isEmpty());
        const QString path = h.env.filePath(QStringLiteral("report.xls"));
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(h.env.shell().opened, QList<QUrl>({QUrl::fromLocalFile(path)}));
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());

        const QList<XlsRecord> records = readFile(path);
        QVERIFY(!records.isEmpty());
        QCOMPARE(records.first().kind(), QStringLiteral("BOF"));
        QCOMPARE(records.last().kind(), QStringLiteral("EOF"));
        QCOMPARE(cellAt(records, 0, 3), QStringLiteral("客户统计报表"));
        QCOMPARE(cellAt(records, 1, 0), QStringLiteral("制表人：联簿宝"));
        QCOMPARE(cellAt(records, 1, 5), QStringLiteral("制表时间：2010-08-15 14:30:00"));
        // One title row: the visible columns' captions in the grid's order.
        for (int v = 0; v < visible.size(); ++v)
            QCOMPARE(cellAt(records, 2, v), visible.at(v)->title()->caption());
        // The web site, which no column shows, goes out last under its own title.
        QCOMPARE(cellAt(records, 2, int(visible.size())), QStringLiteral("网站"));
        QCOMPARE(cellAt(records, 2, int(visible.size()) + 1), QStringLiteral("<none>"));
        QCOMPARE(cellAt(records, 2, 0), QStringLiteral("姓  名"));
        // The records: exactly the grid's rows in the grid's order, every value under its title.
        for (int row = 0; row < list->rowCount(); ++row) {
            QStringList cells;
            for (int v = 0; v < visible.size(); ++v)
                cells << cellAt(records, 3 + row, v);
            QCOMPARE(cells.join(QLatin1Char('|')), gridRows.at(row));
        }
        QCOMPARE(cellAt(records, 3, 0), QStringLiteral("赵六"));
        QCOMPARE(cellAt(records, 4, 2), QStringLiteral("张记")); // zhang before wang, descending
        QCOMPARE(cellAt(records, 5, 2), QStringLiteral("王氏"));
        // The hidden column takes no place; the web site stands under its title.
        QCOMPARE(cellAt(records, 5, int(visible.size())), QStringLiteral("www.example.com"));
        QCOMPARE(cellAt(records, 3, int(visible.size())), QString());
        QCOMPARE(cellAt(records, 3, int(visible.size()) + 1), QStringLiteral("<none>"));
        // The footer row: the static text, and no figure for the count footer.
        const int aColumn = int(visible.indexOf(grid->columns()->findByFieldName(QStringLiteral("a"))));
        const int bColumn = int(visible.indexOf(grid->columns()->findByFieldName(QStringLiteral("b"))));
        QCOMPARE(cellAt(records, 6, aColumn), QStringLiteral("总计"));
        QCOMPARE(cellAt(records, 6, bColumn), QString());

        // The list is back on its record, with its sort; the grid shows it.
        QCOMPARE(list->sortText(), QStringLiteral("b DESC"));
        QCOMPARE(grid->currentRow(), 1);
    }

    void cancelledDialogWritesNothing()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleRows());
        h.form->showAllRecords();
        h.env.dialogs().queueSaveFileName(QString());
        widgets(h.form)->exportButton->click();
        QCOMPARE(h.env.dialogs().saveFiles().size(), 1);
        QVERIFY(QDir(h.env.path()).entryList({QStringLiteral("*.xls")}, QDir::Files).isEmpty());
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        QVERIFY(h.env.shell().opened.isEmpty());
    }

    void closedOrEmptyListWritesNothing()
    {
        MainWindowHarness h;
        // Before the login the list is closed.
        h.env.dialogs().queueSaveFileName(h.env.filePath(QStringLiteral("a.xls")));
        widgets(h.form)->exportButton->click();
        // An empty list.
        h.form->showAllRecords();
        h.env.dialogs().queueSaveFileName(h.env.filePath(QStringLiteral("b.xls")));
        widgets(h.form)->exportButton->click();
        QCOMPARE(h.env.dialogs().saveFiles().size(), 2);
        QVERIFY(QDir(h.env.path()).entryList({QStringLiteral("*.xls")}, QDir::Files).isEmpty());
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        QVERIFY(h.env.shell().opened.isEmpty());
    }

    // The table exports (操作日志, 跟进记录) name their file by one rule: a typed suffix of an
    // offered format wins; anything else is part of the name and gets the chosen filter's suffix.
    void tableExportsNameTheirFileByOneRule_data()
    {
        using exchange::ExportFormat;
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("filter"); // the chosen filter's format; -1: none reported
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("format");
        const struct
        {
            const char *row, *typed;
            int filter;
            const char *path;
            ExportFormat format;
        } rows[] = {
            {"bare name, .xlsx chosen", "日志", int(ExportFormat::Xlsx), "日志.xlsx", ExportFormat::Xlsx},
            {"bare name, GBK chosen", "日志", int(ExportFormat::CsvGbk), "日志.csv", ExportFormat::CsvGbk},
            {"typed .CSV over .xlsx", "日志.CSV", int(ExportFormat::Xlsx), "日志.CSV", ExportFormat::CsvUtf8},
            {"typed .csv, GBK chosen", "日志.csv", int(ExportFormat::CsvGbk), "日志.csv", ExportFormat::CsvGbk},
            {"typed .xlsx over CSV", "日志.xlsx", int(ExportFormat::CsvUtf8), "日志.xlsx", ExportFormat::Xlsx},
            {"unknown suffix kept", "日志.txt", int(ExportFormat::Xlsx), "日志.txt.xlsx", ExportFormat::Xlsx},
            {"format not offered", "日志.xls", int(ExportFormat::CsvUtf8), "日志.xls.csv", ExportFormat::CsvUtf8},
            {"dots in the folder", "a.b/日志", -1, "a.b/日志.xlsx", ExportFormat::Xlsx},
            {"trailing dot", "日志.", int(ExportFormat::CsvGbk), "日志.csv", ExportFormat::CsvGbk},
        };
        for (const auto &row : rows)
            QTest::newRow(row.row) << QString::fromUtf8(row.typed) << row.filter << QString::fromUtf8(row.path)
                                   << int(row.format);
    }

    void tableExportsNameTheirFileByOneRule()
    {
        using exchange::ExportFormat;
        QFETCH(QString, typed);
        QFETCH(int, filter);
        QFETCH(QString, path);
        QFETCH(int, format);
        Environment env;
        const QString chosen = filter < 0 ? QString() : exchange::formatFilter(ExportFormat(filter));
        env.dialogs().queueSaveFileName(env.filePath(typed), chosen);
        const std::optional<exchange::ExportTarget> target =
            exchange::askExportTarget(nullptr, QStringLiteral("导出跟进记录"), QStringLiteral("跟进记录"),
                                      {ExportFormat::Xlsx, ExportFormat::CsvUtf8, ExportFormat::CsvGbk});
        QVERIFY(target);
        QCOMPARE(target->path, env.filePath(path));
        QCOMPARE(int(target->format), format);
        // The dialog offered the three formats, the first chosen, under the caller's caption.
        const SaveFileRequest request = env.dialogs().saveFiles().first().request;
        QCOMPARE(request.caption, QStringLiteral("导出跟进记录"));
        QCOMPARE(request.fileName, QStringLiteral("跟进记录"));
        QCOMPARE(request.filter.split(QStringLiteral(";;")).size(), 3);
        QCOMPARE(request.selectedFilter, exchange::formatFilter(ExportFormat::Xlsx));
        QVERIFY(request.filter.contains(exchange::formatFilter(ExportFormat::CsvGbk)));
        // Cancelled: no target.
        env.dialogs().queueSaveFileName(QString());
        QVERIFY(!exchange::askExportTarget(nullptr, {}, {}, {ExportFormat::Xlsx}));
    }

    void existingFileIsAskedAbout()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleRows());
        h.form->showAllRecords();
        const QString path = h.env.filePath(QStringLiteral("客户.xls"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        h.env.dialogs().queueSaveFileName(path);
        h.env.dialogs().queueBoxAnswer(BoxButton::No);
        widgets(h.form)->exportButton->click();
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        QCOMPARE(h.env.dialogs().lastBox().request.caption, QStringLiteral("提示"));
        QFile check(path);
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray("old"));
        QVERIFY(h.env.shell().opened.isEmpty());
    }

    // The operator types 名单.xlsx, 名单.csv or 名单.vcf and leaves the default type: the file is
    // what its name says, and the import reads it back.
    void aTypedSuffixDecidesTheFormat()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleRows());
        h.form->showAllRecords();
        const QString xlsx = h.env.filePath(QStringLiteral("名单.xlsx"));
        h.env.dialogs().queueSaveFileName(xlsx);
        widgets(h.form)->exportButton->click();
        QFile file(xlsx);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const exchange::SheetData sheet = exchange::readXlsx(file.readAll());
        QCOMPARE(exchange::recordsOf(sheet, exchange::matchColumns(sheet)).size(), std::size_t(4));

        const QString csv = h.env.filePath(QStringLiteral("名单.csv"));
        h.env.dialogs().queueSaveFileName(csv);
        widgets(h.form)->exportButton->click();
        QFile text(csv);
        QVERIFY(text.open(QIODevice::ReadOnly));
        QVERIFY(text.readAll().startsWith("\xEF\xBB\xBF"));

        const QString vcf = h.env.filePath(QStringLiteral("名单.vcf"));
        h.env.dialogs().queueSaveFileName(vcf);
        widgets(h.form)->exportButton->click();
        QFile cards(vcf);
        QVERIFY(cards.open(QIODevice::ReadOnly));
        QCOMPARE(exchange::parseVCards(cards.readAll()).cards.size(), std::size_t(4));
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
    }

    void newFormatsFollowTheChosenFilter()
    {
        MainWindowHarness h;
        QList<test::CustomerRow> rows = sampleRows();
        rows[0][13] = QStringLiteral("笑😀"); // notes: not in GBK
        h.insertCustomers(rows);
        h.form->showAllRecords();
        DataGrid *grid = widgets(h.form)->customerGrid;
        grid->columns()->findByFieldName(QStringLiteral("h"))->setVisible(false);
        const QList<GridColumn *> visible = grid->visibleColumns();

        // .xlsx: the suffix follows the filter when none is typed.
        h.env.dialogs().queueSaveFileName(h.env.filePath(QStringLiteral("list")),
                                          exchange::formatFilter(exchange::ExportFormat::Xlsx));
        widgets(h.form)->exportButton->click();
        const QString xlsx = h.env.filePath(QStringLiteral("list.xlsx"));
        QVERIFY(QFileInfo::exists(xlsx));
        QCOMPARE(h.env.shell().opened.last(), QUrl::fromLocalFile(xlsx));
        QFile file(xlsx);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const exchange::SheetData sheet = exchange::readXlsx(file.readAll());
        QStringList titles;
        for (const GridColumn *column : visible)
            titles << column->title()->caption();
        titles << QStringLiteral("网站");
        QCOMPARE(sheet.rows.at(2).cells, titles); // no 传真: hidden
        QCOMPARE(sheet.rows.back().cells.value(0), QStringLiteral("总计"));
        const std::vector<exchange::ImportRow> back = exchange::recordsOf(sheet, exchange::matchColumns(sheet));
        QCOMPARE(back.size(), std::size_t(4));
        QCOMPARE(back[2].record[exchange::CustomerField::Website], QStringLiteral("www.example.com"));
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());

        // GBK CSV: the emoji is lost and the operator is told.
        h.env.dialogs().queueSaveFileName(h.env.filePath(QStringLiteral("list.csv")),
                                          exchange::formatFilter(exchange::ExportFormat::CsvGbk));
        widgets(h.form)->exportButton->click();
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        QVERIFY(h.env.dialogs().lastBox().request.text.contains(QStringLiteral("有 1 个字符无法用 GBK 编码保存")));

        // vCard, over the existing name: asked first; No leaves the file as it was.
        const QString vcf = h.env.filePath(QStringLiteral("list.vcf"));
        QFile old(vcf);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        h.env.dialogs().queueSaveFileName(vcf, exchange::formatFilter(exchange::ExportFormat::VCard));
        h.env.dialogs().queueBoxAnswer(BoxButton::No);
        widgets(h.form)->exportButton->click();
        QCOMPARE(h.env.dialogs().lastBox().request.caption, QStringLiteral("提示"));
        QCOMPARE(fileBytes(vcf), QByteArray("old"));
        h.env.dialogs().queueSaveFileName(vcf, exchange::formatFilter(exchange::ExportFormat::VCard));
        h.env.dialogs().queueBoxAnswer(BoxButton::Yes);
        widgets(h.form)->exportButton->click();
        QCOMPARE(exchange::parseVCards(fileBytes(vcf)).cards.size(), std::size_t(4));
    }

    void aFullDiskKeepsTheOldFileAndSaysSo()
    {
        MainWindowHarness h;
        h.insertCustomers(sampleRows());
        h.form->showAllRecords();
        const std::pair<exchange::ExportFormat, const char *> formats[] = {{exchange::ExportFormat::Xls, "list.xls"},
                                                                           {exchange::ExportFormat::Xlsx, "list.xlsx"},
                                                                           {exchange::ExportFormat::CsvGbk, "list.csv"},
                                                                           {exchange::ExportFormat::VCard, "list.vcf"}};
        for (const auto &[format, name] : formats) {
            const QString path = h.env.filePath(QString::fromLatin1(name));
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old");
            old.close();
            const qsizetype boxes = h.env.dialogs().boxes().size();
            h.env.dialogs().queueSaveFileName(path, exchange::formatFilter(format));
            h.env.dialogs().queueBoxAnswer(BoxButton::Yes); // replace it
            {
                FileSizeLimit full(200);
                QVERIFY(full.isValid());
                widgets(h.form)->exportButton->click();
            }
            QCOMPARE(h.env.dialogs().boxes().size(), boxes + 2);
            const BoxRequest box = h.env.dialogs().lastBox().request;
            QCOMPARE(box.icon, BoxIcon::Stop);
            QVERIFY2(box.text.contains(QDir::toNativeSeparators(path)), qPrintable(box.text));
            QVERIFY2(box.text.contains(QStringLiteral("文件超出了系统允许的大小"))
                         || box.text.contains(QStringLiteral("磁盘")),
                     qPrintable(box.text));
            QCOMPARE(fileBytes(path), QByteArray("old"));
            QVERIFY(h.env.shell().opened.isEmpty());
        }
        // No temporary file stays behind.
        const QStringList left =
            QDir(h.env.path())
                .entryList({QStringLiteral(".*tmp*"), QStringLiteral("*.part*")}, QDir::Files | QDir::Hidden);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
    }
};

QTEST_MAIN(TestExportCommand)
#include "test_export_command.moc"
