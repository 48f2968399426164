// The 客户统计 window: counts arrive from the worker, each view shows its chart and table, and a
// click on a bar, slice or row hands exactly those customers to the list.
#include "data/Database.h"
#include "db/Connection.h"
#include "stats/AddressReader.h"
#include "stats/StatisticsChart.h"
#include "stats/StatisticsOutput.h"
#include "stats/StatisticsPrint.h"
#include "stats/StatisticsWindow.h"
#include "export/CsvFormat.h"
#include "export/XlsxFormat.h"
#include "platform/Clock.h"
#include "printing/GridReport.h"
#include "printing/PageStore.h"
#include "printing/PdfOutput.h"
#include "printing/PrintPreviewWindow.h"
#include "tests/support/PdfContent.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestSupport.h"

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QPainter>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QLabel>
#include <QPieSeries>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableWidget>
#include <QValueAxis>
#include <QtTest>

using namespace lianbu;
using namespace lianbu::stats;

namespace {

void addCustomers(db::Connection &connection, int n, const QString &category, const QString &address)
{
    QSqlQuery query(connection.database());
    QVERIFY(query.prepare(QStringLiteral("insert into data (a,b,i,day1) values (?,?,?,?)")));
    for (int i = 0; i < n; ++i) {
        query.addBindValue(category);
        query.addBindValue(category + QString::number(i));
        query.addBindValue(address);
        query.addBindValue(QDate::currentDate().toString(Qt::ISODate));
        QVERIFY(query.exec());
    }
}

// A dark pixel (text is drawn black) in the middle third of `image`'s width, where a chart's
// title stands, from `top` to `bottom`.
bool hasDarkPixels(const QImage &image, int top, int bottom)
{
    for (int y = top; y < bottom; ++y)
        for (int x = image.width() / 3; x < image.width() * 2 / 3; ++x)
            if (qGray(image.pixel(x, y)) < 100)
                return true;
    return false;
}

} // namespace

class TestStatisticsWindow : public QObject
{
    Q_OBJECT

private slots:
    void aClickShowsExactlyThoseCustomers()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        addCustomers(connection, 4, QStringLiteral("VIP客户"), QStringLiteral("浙江省杭州市西湖区"));
        addCustomers(connection, 2, QStringLiteral("普通客户"), QStringLiteral("上海浦东新区"));
        addCustomers(connection, 1, QStringLiteral("普通客户"), QStringLiteral("不知道在哪"));

        std::vector<qint64> shown;
        sql::BoundStatement shownStatement;
        StatisticsWindow window(connection.address(), [&](const sql::BoundStatement &s, std::vector<qint64> keys) {
            shownStatement = s;
            shown = std::move(keys);
        });
        QSignalSpy counted(&window, &StatisticsWindow::countsShown);
        QSignalSpy customers(&window, &StatisticsWindow::customersShown);
        window.show();
        QVERIFY(window.counting());
        QTRY_COMPARE(counted.size(), 1);
        auto *table = window.findChild<QTableWidget *>(QStringLiteral("statisticsTable"));
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("VIP客户"));
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("4"));

        // A click on the chart's first bar: the four VIP客户.
        auto *view = window.findChild<QChartView *>();
        auto *bars = qobject_cast<QBarSeries *>(view->chart()->series().at(0));
        QVERIFY(bars);
        emit bars->clicked(0, bars->barSets().at(0));
        QTRY_COMPARE(customers.size(), 1);
        QCOMPARE(int(shown.size()), 4);
        QSqlQuery check(connection.database());
        for (const qint64 key : shown) {
            QVERIFY(check.exec(QStringLiteral("select a from data where rowid = %1").arg(key)));
            QVERIFY(check.next());
            QCOMPARE(check.value(0).toString(), QStringLiteral("VIP客户"));
        }
        // The list can run the statement again (a refresh) and finds the same customers.
        QVERIFY(check.prepare(shownStatement.text));
        for (const QVariant &value : shownStatement.values)
            check.addBindValue(value);
        QVERIFY(check.exec());
        int rows = 0;
        while (check.next())
            ++rows;
        QCOMPARE(rows, 4);

        // As a pie, the same click.
        window.findChild<QComboBox *>(QStringLiteral("statisticsChartKind"))->setCurrentIndex(1);
        auto *pie = qobject_cast<QPieSeries *>(view->chart()->series().at(0));
        QVERIFY(pie);
        emit pie->clicked(pie->slices().at(1));
        QTRY_COMPARE(customers.size(), 2);
        QCOMPARE(int(shown.size()), 3); // 普通客户

        // The cities: 未识别 is a row with its count, and a double click lists that customer.
        window.chooseView(2);
        QTRY_COMPARE(counted.size(), 2);
        int unread = -1;
        for (int r = 0; r < table->rowCount(); ++r)
            if (table->item(r, 0)->text() == unrecognisedLabel())
                unread = r;
        QVERIFY(unread >= 0);
        QCOMPARE(table->item(unread, 2)->text(), QStringLiteral("1"));
        window.showRowCustomers(unread);
        QTRY_COMPARE(customers.size(), 3);
        QCOMPARE(int(shown.size()), 1);

        // Customers added this month are on the line's last point.
        window.chooseView(3);
        QTRY_COMPARE(counted.size(), 3);
        QCOMPARE(table->rowCount(), 12);
        QCOMPARE(table->item(11, 1)->text(), QStringLiteral("7"));
    }

    void chartAndTableLeaveAsFilesThatReadBack()
    {
        test::Environment env;
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        addCustomers(connection, 2, QStringLiteral("VIP客户"), QStringLiteral("广西南宁市青秀区"));
        addCustomers(connection, 1, QStringLiteral("=1+1供应商"), QStringLiteral("新疆乌鲁木齐市"));
        StatisticsWindow window(connection.address(), [](const sql::BoundStatement &, std::vector<qint64>) {});
        QSignalSpy counted(&window, &StatisticsWindow::countsShown);
        window.show();
        QTRY_COMPARE(counted.size(), 1);
        window.chooseView(1);
        QTRY_COMPARE(counted.size(), 2);

        const QString png = db.filePath(QStringLiteral("省份.png"));
        env.dialogs().queueSaveFileName(png);
        window.saveChart();
        QImage picture(png);
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.size(), kChartFileSize);

        // A PDF keeps the chart's Chinese labels as text.
        const QString pdf = db.filePath(QStringLiteral("省份"));
        env.dialogs().queueSaveFileName(pdf, QStringLiteral("PDF 文件 (*.pdf)"));
        window.saveChart();
        const auto pages = test::readPdf(pdf + QStringLiteral(".pdf"));
        QCOMPARE(pages.size(), 1);
        // As typed: the CJK font draws some ideographs with the glyphs of radicals, and a reader
        // must still extract the ideographs, never the look-alike radicals.
        const QString words = pages.front().texts().join(QString());
        for (const QChar c : words)
            QVERIFY2(c.unicode() < 0x2E80 || c.unicode() > 0x2FDF, qPrintable(words));
        QVERIFY2(words.contains(QStringLiteral("按省份")), qPrintable(words));
        QVERIFY2(words.contains(QStringLiteral("壮族自治区")), qPrintable(words));
        QVERIFY2(words.contains(QStringLiteral("新疆维吾尔自治区")), qPrintable(words));

        // The table as CSV: the same rows, a cell that looks like a formula kept harmless.
        window.chooseView(0);
        QTRY_COMPARE(counted.size(), 3);
        const QString csv = db.filePath(QStringLiteral("类别.csv"));
        env.dialogs().queueSaveFileName(csv);
        QSignalSpy exported(&window, &StatisticsWindow::tableExported);
        window.exportShownTable();
        QCOMPARE(exported.size(), 1); // what the session logs as this operator's export
        QCOMPARE(exported.first().at(0).toString(), csv);
        QCOMPARE(exported.first().at(2).toInt(), 2);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.contains(QStringLiteral("'=1+1供应商"))); // a spreadsheet does not run it
        const exchange::SheetData sheet = exchange::parseCsv(text);
        QCOMPARE(int(sheet.rows.size()), 3); // titles and two categories
        QCOMPARE(sheet.rows[0].cells,
                 QStringList({QStringLiteral("客户类别"), QStringLiteral("客户数"), QStringLiteral("占比")}));
        QCOMPARE(sheet.rows[1].cells,
                 QStringList({QStringLiteral("VIP客户"), QStringLiteral("2"), QStringLiteral("66.7%")}));
        QCOMPARE(sheet.rows[2].cells.at(0), QStringLiteral("=1+1供应商"));

        // As .xlsx: the logged-in operator is named as its author, and the rows read back.
        window.setOperatorName(QStringLiteral("业务员甲"));
        const QString xlsx = db.filePath(QStringLiteral("类别.xlsx"));
        env.dialogs().queueSaveFileName(xlsx);
        window.exportShownTable();
        QCOMPARE(exported.size(), 2);
        QFile book(xlsx);
        QVERIFY(book.open(QIODevice::ReadOnly));
        const exchange::SheetData read = exchange::readXlsx(book.readAll());
        QStringList cells;
        for (const exchange::SheetRow &row : read.rows)
            cells << row.cells;
        QVERIFY2(cells.contains(QStringLiteral("制表人：业务员甲")), qPrintable(cells.join(u'|')));
        QVERIFY2(!cells.join(u'|').contains(QStringLiteral("制表人：联簿宝")), qPrintable(cells.join(u'|')));
        QVERIFY(cells.contains(QStringLiteral("=1+1供应商")));

        // Without the right to export, nothing is asked or written.
        window.setExportGate([] { return false; });
        const qsizetype asked = env.dialogs().saveFiles().size();
        window.exportShownTable();
        QCOMPARE(env.dialogs().saveFiles().size(), asked);
        QCOMPARE(exported.size(), 2);
    }

    // The printout: title and date, the chart across the page, then every row of the table, however
    // many pages it takes; through the window, into its print preview.
    void printedPagesHoldTheChartAndEveryRow()
    {
        std::vector<CountRow> rows;
        const int n = 240;
        for (int i = 0; i < n; ++i)
            rows.push_back({QStringLiteral("省份%1").arg(i / 10, 3, 10, QLatin1Char('0')),
                            QStringLiteral("城市%1").arg(i, 3, 10, QLatin1Char('0')),
                            n - i,
                            {QStringLiteral("b = ?"), {i}}});
        StatisticsPrint print(rows, View::City, ChartKind::Bars, QStringLiteral("客户统计：按城市"));
        PageStore store;
        GridReport report;
        print.setUp(report, store.currentMetrics());
        const int pages = report.generate(&store);
        QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));
        QCOMPARE(report.lastLayout().dataRowsPrinted, n);

        // The chart's 9-point labels print at about 9 points: a chart pixel is printed as large
        // as a pixel of the screen it was drawn for (shrunk from the saved picture's size, they
        // printed at about 6).
        const printing::PrinterMetrics &metrics = store.metrics();
        const qreal printedPoints = print.printedChartWidth() * 72.0 / metrics.dpiX;
        const qreal chartPixels = print.chart().deviceIndependentSize().width();
        const qreal labelPixels = 9.0 * QGuiApplication::primaryScreen()->logicalDotsPerInchY() / 72.0;
        const qreal labelPrinted = labelPixels * printedPoints / chartPixels;
        QVERIFY2(labelPrinted >= 8.5 && labelPrinted <= 12,
                 qPrintable(QStringLiteral("a 9-point label prints at %1 points").arg(labelPrinted)));
        // …and the chart still spans the page's body.
        const qreal bodyWidth = printing::pageBody(metrics, report.page, printing::marginDivisor(true)).width();
        QVERIFY2(print.printedChartWidth() <= bodyWidth && print.printedChartWidth() >= 0.95 * bodyWidth,
                 qPrintable(QStringLiteral("%1 of %2").arg(print.printedChartWidth()).arg(bodyWidth)));
        // The title is printed once, above the chart: the chart itself has none (where a chart's
        // title stands, the printed one is blank).
        const QImage printed = print.chart();
        const QImage titled = chartImage(rows, ChartKind::Bars, QStringLiteral("客户统计：按城市"),
                                         printed.deviceIndependentSize().toSize(), 1.0);
        QVERIFY(hasDarkPixels(titled, 0, titled.height() / 7));
        QVERIFY(!hasDarkPixels(printed, 0, printed.height() / 7));

        // The chart is drawn on the first page, in colour, nearly as wide as the page's body.
        const QSize paper(store.metrics().paperWidth() / 6, store.metrics().paperHeight() / 6);
        QImage first(paper, QImage::Format_RGB32);
        first.fill(Qt::white);
        {
            QPainter painter(&first);
            painter.scale(1.0 / 6, 1.0 / 6);
            store.drawPage(&painter, 0);
        }
        int left = first.width(), right = -1;
        for (int y = 0; y < first.height() / 2; ++y)
            for (int x = 0; x < first.width(); ++x) {
                const QColor c = first.pixelColor(x, y);
                if (c.saturation() > 80) { // the bars, not black text or grey lines
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        QVERIFY2(right > left, "no chart on the first page");
        QVERIFY2(right - left > first.width() / 2, qPrintable(QStringLiteral("%1..%2").arg(left).arg(right)));

        // Every row, once, in order, as the PDF of the pages reads.
        const QString pdf = QDir(QDir::tempPath()).filePath(QStringLiteral("lianbu-statistics-print.pdf"));
        printing::writePdf(pdf, store.metrics(),
                           [&store](QPrinter &printer) { return store.printPages(&printer, 1, store.pageCount()); });
        const auto read = test::readPdf(pdf);
        QFile::remove(pdf);
        QCOMPARE(int(read.size()), pages);
        QString text;
        for (const test::PdfPage &page : read)
            text += page.texts().join(u' ').normalized(QString::NormalizationForm_KC) + u'\n';
        QVERIFY2(text.contains(QStringLiteral("按城市")), qPrintable(text.left(300)));
        QVERIFY2(text.contains(dateText(today())), qPrintable(text.left(300)));
        qsizetype at = 0;
        for (int i = 0; i < n; ++i) {
            const QString label = QStringLiteral("城市%1").arg(i, 3, 10, QLatin1Char('0'));
            const qsizetype found = text.indexOf(label, at);
            QVERIFY2(found >= 0, qPrintable(label + QStringLiteral(" missing or out of order")));
            QCOMPARE(text.count(label), 1);
            at = found;
        }

        // Through the window: its preview gets the pages; without the right to print, nothing.
        test::TestDatabase db;
        Database module(nullptr, db.path());
        addCustomers(*module.connection, 3, QStringLiteral("VIP客户"), QStringLiteral("广西南宁市青秀区"));
        StatisticsWindow window(module.connection->address(), [](const sql::BoundStatement &, std::vector<qint64>) {});
        QSignalSpy counted(&window, &StatisticsWindow::countsShown);
        window.show();
        QTRY_COMPARE(counted.size(), 1);
        window.setPrintGate([] { return false; });
        window.printShown();
        QVERIFY(!window.printPreview());
        window.setPrintGate([] { return true; });
        window.printShown();
        QVERIFY(window.printPreview());
        QTRY_VERIFY(!window.printPreview()->store()->printing());
        QCOMPARE(window.printPreview()->store()->pageCount(), 1);
        window.printPreview()->close();
    }

    // More different unreadable addresses than one statement can name: the row is counted, and
    // a click says why it cannot list them instead of failing in the engine.
    void aRowOfTooManyAddressesIsCountedButNotListed()
    {
        test::TestDatabase db;
        Database module(nullptr, db.path());
        db::Connection &connection = *module.connection;
        const int n = kMostSelectionValues + 3000;
        QSqlDatabase database = connection.database();
        QVERIFY(database.transaction());
        QSqlQuery query(database);
        QVERIFY(query.prepare(QStringLiteral("insert into data (i) values (?)")));
        for (int i = 0; i < n; ++i) {
            query.addBindValue(QStringLiteral("某地%1号").arg(i));
            QVERIFY(query.exec());
        }
        addCustomers(connection, 2, QStringLiteral("VIP客户"), QStringLiteral("浙江省杭州市西湖区"));
        QVERIFY(database.commit());
        int calls = 0;
        StatisticsWindow window(connection.address(),
                                [&calls](const sql::BoundStatement &, std::vector<qint64>) { ++calls; });
        QSignalSpy counted(&window, &StatisticsWindow::countsShown);
        QSignalSpy customers(&window, &StatisticsWindow::customersShown);
        window.show();
        QTRY_COMPARE(counted.size(), 1);
        window.chooseView(2);
        QTRY_COMPARE(counted.size(), 2);
        int unread = -1, hangzhou = -1;
        for (int r = 0; r < int(window.rows().size()); ++r) {
            if (window.rows()[size_t(r)].label == unrecognisedLabel())
                unread = r;
            if (window.rows()[size_t(r)].label == QStringLiteral("杭州市"))
                hangzhou = r;
        }
        QVERIFY(unread >= 0 && hangzhou >= 0);
        QCOMPARE(window.rows()[size_t(unread)].count, n);
        auto *status = window.findChild<QLabel *>(QStringLiteral("statisticsStatus"));
        window.showRowCustomers(unread);
        QVERIFY2(status->text().contains(QStringLiteral("无法在客户列表中列出")), qPrintable(status->text()));
        QTest::qWait(200);
        QCOMPARE(calls, 0);
        QVERIFY2(!status->text().contains(QStringLiteral("失败")), qPrintable(status->text()));
        // The other rows are listed as ever.
        window.showRowCustomers(hangzhou);
        QTRY_COMPARE(customers.size(), 1);
        QCOMPARE(calls, 1);
    }

    // Bars of seven-digit counts: every number is written whole inside the plot, none runs into
    // another, and every bar has its name under it (the first and the last too, when twenty names
    // stand upright), on paper, in the window and in a narrow one.
    void theNumbersOverTwentyBarsStayApart_data()
    {
        QTest::addColumn<int>("bars");
        QTest::addColumn<QString>("province");
        QTest::addColumn<QString>("city");
        QTest::addColumn<QSize>("size");
        const QSize sizes[] = {kChartFileSize, QSize(780, 520), QSize(600, 480), QSize(360, 400)};
        for (const QSize size : sizes) {
            const QString at = QStringLiteral(" %1x%2").arg(size.width()).arg(size.height());
            QTest::newRow(qPrintable(QStringLiteral("twenty short") + at))
                << kChartEntries << QStringLiteral("广东省") << QStringLiteral("城市%1") << size;
            QTest::newRow(qPrintable(QStringLiteral("twenty long") + at))
                << kChartEntries << QStringLiteral("新疆维吾尔自治区") << QStringLiteral("伊犁哈萨克自治州%1") << size;
            QTest::newRow(qPrintable(QStringLiteral("five long") + at))
                << 5 << QStringLiteral("内蒙古自治区") << QStringLiteral("锡林郭勒盟第%1旗") << size;
            QTest::newRow(qPrintable(QStringLiteral("twenty categories") + at))
                << kChartEntries << QString() << QStringLiteral("政府机关%1") << size;
        }
        // The chart's size in the window.
        QTest::newRow("twenty categories 560x460")
            << kChartEntries << QString() << QStringLiteral("政府机关%1") << QSize(560, 460);
    }

    void theNumbersOverTwentyBarsStayApart()
    {
        QFETCH(int, bars);
        QFETCH(QString, province);
        QFETCH(QString, city);
        QFETCH(QSize, size);
        std::vector<CountRow> rows;
        for (int i = 0; i < bars; ++i)
            rows.push_back({province, city.arg(i), 1234567 - 45678 * i, {QStringLiteral("b = ?"), {i}}});
        QStringList counts;
        for (const CountRow &row : rows)
            counts << QString::number(row.count);
        {
            QChartView view;
            view.setAttribute(Qt::WA_DontShowOnScreen);
            view.setChart(makeChart(rows, ChartKind::Bars, QStringLiteral("客户统计：按城市")).chart);
            view.resize(size);
            QImage image(size, QImage::Format_RGB32);
            QPainter painter(&image);
            view.render(&painter); // lays the chart out at this size
            painter.end();
            QList<QRectF> labels;
            QStringList texts;
            QStringList names;
            for (const CountRow &row : rows)
                names << rowLabel(row);
            for (QGraphicsItem *item : view.scene()->items()) {
                auto *text = dynamic_cast<QGraphicsTextItem *>(item);
                if (text && text->isVisible())
                    names.removeAll(text->toPlainText());
                if (!text || !text->isVisible())
                    continue;
                if (!counts.contains(text->toPlainText()))
                    continue; // the axes' and other texts
                labels << text->sceneBoundingRect();
                texts << text->toPlainText();
            }
            const QString where = QStringLiteral("%1×%2: ").arg(size.width()).arg(size.height());
            // Every bar has its name under it, the first too when the names are slanted.
            QVERIFY2(names.isEmpty(), qPrintable(where + QStringLiteral("no name under ") + names.join(u' ')));
            QVERIFY2(int(labels.size()) == bars, qPrintable(where + texts.join(u' ')));
            QVERIFY2(texts.contains(QStringLiteral("1234567")), qPrintable(where + texts.join(u' ')));
            // The series are drawn clipped to the plot area: a number outside it is not seen.
            const QRectF chart = view.chart()->mapRectToScene(view.chart()->plotArea());
            for (int a = 0; a < labels.size(); ++a) {
                QVERIFY2(chart.adjusted(-0.5, -0.5, 0.5, 0.5).contains(labels[a]),
                         qPrintable(where + texts[a] + QStringLiteral(" leaves the plot")));
                for (int b = a + 1; b < labels.size(); ++b)
                    QVERIFY2(!labels[a].intersects(labels[b]),
                             qPrintable(where + texts[a] + QStringLiteral(" runs into ") + texts[b]));
            }
        }
    }

    void longListsKeepTheChartReadable()
    {
        std::vector<CountRow> rows;
        for (int i = 0; i < 30; ++i)
            rows.push_back({{}, QStringLiteral("类别%1").arg(i), 100 - i, {QStringLiteral("a = ?"), {i}}});
        ChartPicture bars = makeChart(rows, ChartKind::Bars, QStringLiteral("t"));
        QCOMPARE(int(bars.rowOfEntry.size()), kChartEntries);
        ChartPicture pie = makeChart(rows, ChartKind::Pie, QStringLiteral("t"));
        QCOMPARE(int(pie.rowOfEntry.size()), kChartEntries);
        QCOMPARE(pie.rowOfEntry.back(), -1); // 其他: the rest together
        auto *series = qobject_cast<QPieSeries *>(pie.chart->series().at(0));
        qreal sum = 0;
        for (QPieSlice *slice : series->slices())
            sum += slice->value();
        QCOMPARE(qint64(sum), qint64(30 * 100 - 29 * 30 / 2)); // nothing lost in 其他
        delete bars.chart;
        delete pie.chart;

        // A scale of few customers, or none, still reads as whole numbers, each tick its own.
        for (const qint64 highest : {0, 1, 3, 7, 23, 4346}) {
            std::vector<CountRow> few{{{}, QStringLiteral("2026-11"), highest, {}},
                                      {{}, QStringLiteral("2026-12"), 0, {}}};
            for (const ChartKind kind : {ChartKind::Bars, ChartKind::Line}) {
                ChartPicture picture = makeChart(few, kind, QStringLiteral("t"));
                auto *axis = qobject_cast<QValueAxis *>(picture.chart->axes(Qt::Vertical).at(0));
                QVERIFY(axis);
                const qreal step = (axis->max() - axis->min()) / (axis->tickCount() - 1);
                QVERIFY2(
                    step >= 1 && step == std::floor(step),
                    qPrintable(
                        QStringLiteral("%1: 0..%2 in %3 ticks").arg(highest).arg(axis->max()).arg(axis->tickCount())));
                QVERIFY(axis->max() >= qreal(highest));
                delete picture.chart;
            }
        }
    }
};

QTEST_MAIN(TestStatisticsWindow)
#include "test_statistics_window.moc"
