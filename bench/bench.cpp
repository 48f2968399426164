// Measures the customer list at register sizes the program must handle well:
//   "全部记录" (category list, open, move to last, grid ready), one quick-search keystroke,
//   one title-click sort, and the memory held for the list.
// Each list operation is also timed as the bare engine does the same statement (QSqlQuery,
// forward-only, every value read as text) and the ratio program/engine is printed.
//
//   cmake --preset release && cmake --build --preset release --target lianbu-bench
//   QT_QPA_PLATFORM=offscreen build/release/bench/lianbu-bench [rows...]
#include "app/MainWindow.h"
#include "bench/BenchDialogs.h"
#include "data/Schema.h"
#include "data/Statements.h"
#include "data/Database.h"
#include "platform/VendorAddresses.h"
#include "grid/DataGrid.h"
#include "printing/PageStore.h"
#include "printing/GridReport.h"
#include "printing/PdfOutput.h"
#include "resources/Resources.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <unistd.h>

namespace {

constexpr int kRepeats = 5;

double medianMs(const std::function<void()> &work, int repeats = kRepeats)
{
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double residentMb()
{
    // Freed heap the allocator still holds is not memory the program uses.
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = statm.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

// A register with a realistic mix of Chinese and ASCII text in every column, about 20
// categories, and a telephone area code that about 10 % of the records share.
void fillRegister(const QString &path, int rows)
{
    const QStringList categories{
        QStringLiteral("VIP客户"), QStringLiteral("普通客户"), QStringLiteral("代理商"), QStringLiteral("供应商"),
        QStringLiteral("经销商"), QStringLiteral("合作伙伴"), QStringLiteral("政府机关"), QStringLiteral("学校"),
        QStringLiteral("医院"), QStringLiteral("银行"), QStringLiteral("Retail"), QStringLiteral("Wholesale"),
        QStringLiteral("外贸"), QStringLiteral("物流"), QStringLiteral("媒体"), QStringLiteral("IT服务"),
        QStringLiteral("餐饮"), QStringLiteral("酒店"), QStringLiteral("制造业"), QStringLiteral("其他")};
    const QStringList surnames{QStringLiteral("张"), QStringLiteral("李"), QStringLiteral("王"), QStringLiteral("赵"),
                               QStringLiteral("陈"), QStringLiteral("刘"), QStringLiteral("杨"), QStringLiteral("黄")};
    const QStringList given{QStringLiteral("伟"), QStringLiteral("芳"), QStringLiteral("娜"), QStringLiteral("敏"),
                            QStringLiteral("静"), QStringLiteral("强"), QStringLiteral("磊"), QStringLiteral("军")};
    const QStringList cities{QStringLiteral("杭州市西湖区"), QStringLiteral("上海市浦东新区"), QStringLiteral("北京市海淀区"),
                             QStringLiteral("广州市天河区"), QStringLiteral("深圳市南山区")};
    const QStringList areaCodes{QStringLiteral("010"), QStringLiteral("021"), QStringLiteral("020"), QStringLiteral("0755"),
                                QStringLiteral("0571"), QStringLiteral("025"), QStringLiteral("027"), QStringLiteral("028"),
                                QStringLiteral("029"), QStringLiteral("023")};
    QRandomGenerator random(20101215);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-fill"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        db.transaction();
        q.prepare(QStringLiteral("insert into data (a,b,c,d,e,f,g,h,i,j,k,l,m,z,day1) values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
        for (int r = 0; r < rows; ++r) {
            const QString name = surnames[random.bounded(surnames.size())] + given[random.bounded(given.size())]
                                 + (random.bounded(2) ? given[random.bounded(given.size())] : QString());
            const QString area = areaCodes[r % areaCodes.size()];
            const QVariantList values{
                categories[random.bounded(categories.size())],
                QStringLiteral("客户%1号").arg(r + 1),
                name,
                random.bounded(2) ? QStringLiteral("男") : QStringLiteral("女"),
                random.bounded(3) ? QStringLiteral("经理") : QStringLiteral("Sales Manager"),
                QStringLiteral("13%1").arg(random.bounded(100000000, 999999999)),
                QStringLiteral("%1-%2").arg(area).arg(random.bounded(10000000, 99999999)),
                QStringLiteral("%1-%2").arg(area).arg(random.bounded(10000000, 99999999)),
                cities[random.bounded(cities.size())] + QStringLiteral("文三路%1号").arg(random.bounded(1, 999)),
                QStringLiteral("联簿科技有限公司第%1分部").arg(random.bounded(1, 300)),
                QString::number(random.bounded(100000, 999999)),
                QStringLiteral("user%1@example.com").arg(r),
                QStringLiteral("http://www.example.com/%1").arg(r),
                random.bounded(4) ? QString() : QStringLiteral("老客户，按时付款 note %1").arg(r),
                QStringLiteral("20%1-%2-%3").arg(10 + random.bounded(10)).arg(1 + random.bounded(12), 2, 10, QLatin1Char('0'))
                    .arg(1 + random.bounded(28), 2, 10, QLatin1Char('0'))};
            for (int c = 0; c < values.size(); ++c)
                q.bindValue(c, values[c]);
            q.exec();
        }
        db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-fill"));
}

// The same statement as the program runs it, through the bare engine.
double engineMs(const QString &path, const QStringList &statements)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-engine"));
    db.setDatabaseName(path);
    db.open();
    const double ms = medianMs([&] {
        for (const QString &statement : statements) {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            q.exec(statement);
            const int columns = q.record().count();
            qsizetype chars = 0;
            while (q.next())
                for (int c = 0; c < columns; ++c)
                    chars += q.value(c).toString().size();
            if (chars < 0)
                std::puts("");
        }
    });
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("bench-engine"));
    return ms;
}

void report(const char *what, double programMs, double engineMs)
{
    if (engineMs > 0)
        std::printf("  %-34s %9.1f ms   engine %8.1f ms   ratio %5.2f\n", what, programMs, engineMs, programMs / engineMs);
    else
        std::printf("  %-34s %9.1f ms\n", what, programMs);
}

// The print preview of the whole list as "打 印" generates it: time until page 1 is complete
// (the preview shows it then), pages per second, and memory per recorded page; then the
// preview's "保存为PDF…" of every page.
void benchmarkPrinting(MainWindow &form)
{
    form.showAllRecords();
    GridReport printer;
    lianbu::printing::configureCustomerPrint(&printer, lianbu::vendorWebAddress());
    printer.setDBGridEh(form.findChild<DataGrid *>(QStringLiteral("customerGrid")));
    printer.setTextReplacements({{QStringLiteral("%[Today]"), QStringLiteral("2010-08-15")}});
    PageStore store;

    QElapsedTimer timer;
    double firstPageMs = 0;
    QObject::connect(&store, &PageStore::pageStarted, [&](int page) {
        if (page == 2)
            firstPageMs = timer.nsecsElapsed() / 1e6;
    });
    const double before = residentMb();
    timer.start();
    const int pages = printer.generate(&store);
    const double totalMs = timer.nsecsElapsed() / 1e6;
    const double after = residentMb();
    std::printf("  %-34s %9.1f ms\n", "print preview: page 1 complete", firstPageMs);
    std::printf("  %-34s %9.1f ms   %d pages, %.1f pages/s\n", "print preview: whole document", totalMs, pages,
                pages * 1000.0 / totalMs);
    std::printf("  %-34s %9.1f KB   (1,000 pages: %.0f MB)\n", "memory per recorded page",
                (after - before) * 1024.0 / pages, (after - before) * 1000.0 / pages);

    lianbu::bench::BenchDialogs dialogs;
    dialogs.saveAs = QDir::current().filePath(QStringLiteral("list.pdf"));
    timer.restart();
    const bool saved = lianbu::printing::savePagesAsPdf(store, &form);
    const double pdfMs = timer.nsecsElapsed() / 1e6;
    std::printf("  %-34s %9.1f ms   %d pages, %.1f MB%s\n", "PDF of the preview (保存为PDF…)", pdfMs, store.pageCount(),
                QFileInfo(dialogs.saveAs).size() / 1e6, saved ? "" : qPrintable(QStringLiteral(" NOT WRITTEN: ") + dialogs.lastBoxText));
}

void benchmark(int rows)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.db"));
    lianbu::createDeliveredDatabase(path);
    fillRegister(path, rows);
    QDir::setCurrent(dir.path());

    std::printf("%d customers\n", rows);
    Database data;
    MainWindow form(data);
    form.show();
    QApplication::processEvents();
    DataGrid *grid = form.findChild<DataGrid *>(QStringLiteral("customerGrid"));

    const double before = residentMb();
    form.showAllRecords();
    QApplication::processEvents();
    const double after = residentMb();

    const double allMs = medianMs([&] {
        form.showAllRecords();
        // the grid model is ready when it reports every row
        if (grid->view()->model()->rowCount() != rows)
            std::printf("  ! grid shows %d rows\n", grid->view()->model()->rowCount());
    });
    const double allEngine = engineMs(path, {lianbu::sql::distinctValues(QStringLiteral("a"), QStringLiteral("data")),
                                             lianbu::sql::allRecords()});
    report("全部记录", allMs, allEngine);

    // One keystroke completing "0571": the telephone field matches about 10 %.
    const QString searchText = QStringLiteral("0571");
    int matched = 0;
    std::vector<double> keystrokes;
    for (int i = 0; i < kRepeats; ++i) {
        form.findChild<QLineEdit *>(QStringLiteral("searchPhone"))->setText(searchText.left(3));
        QElapsedTimer t;
        t.start();
        form.findChild<QLineEdit *>(QStringLiteral("searchPhone"))->setText(searchText);
        matched = grid->view()->model()->rowCount();
        keystrokes.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(keystrokes.begin(), keystrokes.end());
    const double searchEngine = engineMs(path, {lianbu::sql::search(QString(), QString(), searchText, QString(), QString(), QString())});
    report("quick-search keystroke", keystrokes[keystrokes.size() / 2], searchEngine);
    std::printf("  %-34s %9d rows (%.1f %%), footer %s\n", "matched", matched, 100.0 * matched / rows,
                qPrintable(grid->footerDisplayText(0, grid->columns()->findByFieldName(QStringLiteral("b")))));

    form.findChild<QLineEdit *>(QStringLiteral("searchPhone"))->clear();
    form.showAllRecords();
    GridColumn *shortName = grid->columns()->findByFieldName(QStringLiteral("b"));
    const double sortMs = medianMs([&] { grid->clickTitle(shortName->index()); });
    const double nameSortMs = medianMs([&] { grid->clickTitle(grid->columns()->findByFieldName(QStringLiteral("c"))->index()); });
    report("title-click sort (客户简称)", sortMs, 0);
    report("title-click sort (姓名)", nameSortMs, 0);
    std::printf("  %-34s %9.1f MB\n", "memory for the list", after - before);

    if (rows <= 10000)
        benchmarkPrinting(form);
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    lianbu::initResources();
    QList<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes << QString::fromLocal8Bit(argv[i]).toInt();
    if (sizes.isEmpty())
        sizes = {10000, 100000};
    for (int rows : sizes)
        benchmark(rows);
    return 0;
}
