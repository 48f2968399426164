// The customer list printed through "打 印": pages, their contents, generation control (stop,
// escape, close box), the preview window's rules and zoom, printing a page range to PDF, the
// settings dialog.
#include "tests/support/FormWidgets.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/PdfContent.h"
#include "tests/printing/PageText.h"

#include "db/DataSet.h"
#include "db/Query.h"
#include "db/ListRoles.h"
#include "grid/DataGrid.h"
#include "platform/Clock.h"
#include "printing/GridReport.h"
#include "printing/PrintSettingsDialog.h"
#include "printing/PrintPreviewWindow.h"
#include "printing/PdfOutput.h"

#include <QActionGroup>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>

using namespace lianbu::test;

namespace {

// Customers with short names C001, C002, ... in insertion order.
QList<CustomerRow> numberedCustomers(int count, int from = 1)
{
    const QStringList categories{QStringLiteral("VIP客户"), QStringLiteral("普通"), QStringLiteral("代理商")};
    QList<CustomerRow> rows;
    for (int i = from; i < from + count; ++i)
        rows << customer(categories[i % categories.size()], QStringLiteral("C%1").arg(i, 3, 10, QLatin1Char('0')),
                         QStringLiteral("0571-%1").arg(80000 + i), QStringLiteral("Name%1").arg(i));
    return rows;
}

// The harness puts the clock back on the system time; the tests print at a known moment.
void fixClock()
{
    lianbu::setFixedNow(QDateTime(QDate(2011, 3, 4), QTime(9, 30)));
}

GridReport *component(MainWindowHarness &h)
{
    return h.form->findChild<GridReport *>(QStringLiteral("customerReport"));
}

// The preview window of the harness's printout (a window of its own), nullptr before one.
PrintPreviewWindow *preview()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *found = qobject_cast<PrintPreviewWindow *>(window))
            return found;
    return nullptr;
}
PageStore *store()
{
    return preview() ? preview()->store() : nullptr;
}

// The short names (C###) printed on a page, top to bottom.
QStringList shortNamesOn(int page)
{
    QStringList names;
    static const QRegularExpression re(QStringLiteral("\\bC\\d{3}\\b"));
    for (const QString &line : PageText(*store(), page).lines()) {
        auto it = re.globalMatch(line);
        while (it.hasNext())
            names << it.next().captured();
    }
    return names;
}

QStringList allShortNames()
{
    QStringList names;
    for (int i = 0; i < store()->pageCount(); ++i)
        names << shortNamesOn(i);
    return names;
}

QString lineWith(int page, const QString &needle)
{
    for (const QString &line : PageText(*store(), page).lines())
        if (line.contains(needle))
            return line;
    return QString();
}

// The pages of a PDF file: its page objects ("/Type /Page", not the "/Type /Pages" tree).
int pdfPageCount(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression pageObject(QStringLiteral("/Type\\s*/Page(?!s)"));
    int count = 0;
    for (auto it = pageObject.globalMatch(QString::fromLatin1(file.readAll())); it.hasNext(); it.next())
        ++count;
    return count;
}

// A PDF of the store's pages from `firstPage` (1-based) on, read as a person would: each page
// shows the short names its recorded page holds, each where the layout put it on the paper,
// and a rendered page is not blank, its ink on the paper around the names. With `samePaper` the
// file's pages have the laid-out paper's size.
void checkPdfShowsThePages(const QString &pdf, int firstPage, bool samePaper)
{
    const lianbu::printing::PrinterMetrics m = store()->metrics();
    const QList<PdfPage> pages = readPdf(pdf);
    QVERIFY2(!pages.isEmpty(), qPrintable(pdf));
    QVERIFY(firstPage - 1 + pages.size() <= store()->pageCount());
    static const QRegularExpression shortName(QStringLiteral("^C\\d{3}$"));
    const auto points = [](double pixels, int dpi) { return pixels / dpi * 72.0; };
    for (int i = 0; i < pages.size(); ++i) {
        const int recorded = firstPage - 1 + i;
        const PdfPage &page = pages[i];
        if (samePaper) { // within 1 %: the virtual page is A4 to 3 points and is written as A4
            QVERIFY(qAbs(page.size.width() / points(m.paperWidth(), m.dpiX) - 1) < 0.01);
            QVERIFY(qAbs(page.size.height() / points(m.paperHeight(), m.dpiY) - 1) < 0.01);
        }
        QStringList shown;
        for (const QString &word : page.texts())
            if (shortName.match(word).hasMatch())
                shown << word;
        QCOMPARE(shown, shortNamesOn(recorded));
        QVERIFY(!shown.isEmpty());

        QRectF names;
        for (const PageTextItem &item : PageText(*store(), recorded).items()) {
            if (!shortName.match(item.text).hasMatch())
                continue;
            const PdfWord *word = page.find(item.text);
            QVERIFY(word);
            const QPointF expected(points(item.pos.x() + m.offsetX, m.dpiX), points(item.pos.y() + m.offsetY, m.dpiY));
            QVERIFY2(qAbs(word->box.left() - expected.x()) < 1.5 && word->box.top() < expected.y()
                         && expected.y() < word->box.bottom() + 0.5,
                     qPrintable(QStringLiteral("%1 on page %2 at %3,%4, laid out at %5,%6")
                                    .arg(item.text)
                                    .arg(i + 1)
                                    .arg(word->box.left())
                                    .arg(word->box.top())
                                    .arg(expected.x())
                                    .arg(expected.y())));
            names |= word->box;
        }
        if (i == 0 || i == pages.size() - 1) {
            const QRectF ink = inkBox(pdf, i + 1);
            QVERIFY2(!ink.isEmpty(), "the page is blank");
            QVERIFY(QRectF(QPointF(0, 0), page.size).adjusted(-1, -1, 1, 1).contains(ink));
            QVERIFY(ink.adjusted(-3, -3, 3, 3).contains(names));
        }
    }
}

// The scripted dialogs, except that the print dialog chooses a page range.
class RangeDialogs : public lianbu::DialogService
{
public:
    RangeDialogs(lianbu::DialogService &inner, int from, int to)
        : m_inner(inner)
        , m_from(from)
        , m_to(to)
    {}
    lianbu::BoxButton messageBox(QWidget *parent, const lianbu::BoxRequest &r) override
    {
        return m_inner.messageBox(parent, r);
    }
    QString saveFileName(QWidget *parent, const lianbu::SaveFileRequest &r) override
    {
        return m_inner.saveFileName(parent, r);
    }
    bool printDialog(QWidget *, QPrinter *printer) override
    {
        ++asked;
        offeredFrom = printer->fromPage();
        offeredTo = printer->toPage();
        offeredRange = printer->printRange();
        if (m_from > 0) {
            printer->setPrintRange(QPrinter::PageRange);
            printer->setFromTo(m_from, m_to);
        }
        return true;
    }
    bool pageSetupDialog(QWidget *parent, QPrinter *printer) override
    {
        return m_inner.pageSetupDialog(parent, printer);
    }
    bool fontDialog(QWidget *parent, QFont *font) override { return m_inner.fontDialog(parent, font); }

    int asked = 0;
    int offeredFrom = -1, offeredTo = -1;
    QPrinter::PrintRange offeredRange = QPrinter::Selection;

private:
    lianbu::DialogService &m_inner;
    int m_from, m_to;
};

} // namespace

class TestPrinting : public QObject
{
    Q_OBJECT

private slots:

    void closedListPrintsNothing()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(3));
        // before the login the list is closed: no pages, no window
        h.form->printCustomerList();
        QVERIFY(preview() == nullptr || !preview()->isVisible());
        QVERIFY(preview() == nullptr || store()->pageCount() == 0);
        // and a component without a list does nothing either
        GridReport loose;
        PageStore pages;
        QCOMPARE(loose.generate(&pages), 0);
        QCOMPARE(pages.pageCount(), 0);
    }

    // Pages are compressed on a thread of their own: each must read back as drawn at once and
    // after its packing, and a new document must never receive an old one's late packing.
    void pagesReadAsDrawnWhilePackingAndAfter()
    {
        using lianbu::printing::PagePacker;
        {
            PagePacker packer;
            QList<QByteArray> given;
            for (int i = 0; i < 40; ++i) {
                // large and compressible, each page different
                given << QByteArray(200000 + i, char('a' + i % 26)) + QByteArray::number(i);
                packer.append(given.last());
            }
            QCOMPARE(packer.size(), 40);
            for (int i = 0; i < 40; ++i) {
                bool packed = false;
                const QByteArray bytes = packer.bytes(i, &packed);
                QCOMPARE(packed ? qUncompress(bytes) : bytes, given[i]);
            }
            packer.waitUntilPacked();
            for (int i = 0; i < 40; ++i) {
                bool packed = false;
                const QByteArray bytes = packer.bytes(i, &packed);
                QVERIFY2(packed, qPrintable(QStringLiteral("page %1 left unpacked").arg(i)));
                QVERIFY(bytes.size() < given[i].size() / 10);
                QCOMPARE(qUncompress(bytes), given[i]);
            }
            bool packed = true;
            QVERIFY(packer.bytes(40, &packed).isEmpty());
            QVERIFY(!packed);
            // pages dropped while their packing is queued or under way
            for (int i = 0; i < 30; ++i)
                packer.append(QByteArray(300000, 'x'));
            packer.clear();
            packer.append(QByteArray("new page 1"));
            packer.waitUntilPacked();
            QCOMPARE(packer.size(), 1);
            const QByteArray first = packer.bytes(0, &packed);
            QVERIFY(packed);
            QCOMPARE(qUncompress(first), QByteArray("new page 1"));
        }

        // Through the store: every page replays as drawn, before and after packing, and a
        // second document started at once keeps only its own pages.
        auto drawDocument = [](PageStore &pages, int count, int shift) {
            pages.beginDoc();
            for (int i = 0; i < count; ++i) {
                if (i > 0)
                    pages.newPage();
                pages.canvas()->fillRect(QRect(10 + 20 * ((i + shift) % 10), 10, 15, 15), Qt::black);
            }
            pages.endDoc();
        };
        auto blackColumn = [](PageStore &pages, int index) {
            QImage image(220, 40, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.drawPicture(0, 0, pages.unpackedPage(index));
            painter.end();
            for (int slot = 0; slot < 10; ++slot)
                if (image.pixel(17 + 20 * slot, 17) == qRgb(0, 0, 0))
                    return slot;
            return -1;
        };
        PageStore pages;
        drawDocument(pages, 25, 0);
        QCOMPARE(pages.pageCount(), 25);
        for (int i = 0; i < 25; ++i)
            QCOMPARE(blackColumn(pages, i), i % 10);
        drawDocument(pages, 7, 3);
        pages.waitUntilPacked();
        QCOMPARE(pages.pageCount(), 7);
        for (int i = 0; i < 7; ++i)
            QCOMPARE(blackColumn(pages, i), (i + 3) % 10);
        QVERIFY(pages.unpackedPage(7).isNull());
    }

    void printCommandShowsTheCustomerReport()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(5));
        h.form->showAllRecords();
        QTest::mouseClick(widgets(h.form)->printButton, Qt::LeftButton);
        QVERIFY(preview());
        QVERIFY(preview()->isVisible());
        QCOMPARE(preview()->windowTitle(), QStringLiteral("预览 - 列表信息"));
        QCOMPARE(store()->pageCount(), 1);
        QCOMPARE(preview()->statusText(), QStringLiteral("第 1 页 共 1 页"));
        QVERIFY(preview()->zoomAction(ZoomMode::FullPage)->isChecked()); // the whole page at first
        QCOMPARE(preview()->previewBox()->zoomMode(), ZoomMode::FullPage);
        // pages are pictures in the virtual printer's pixels (no printer on this machine)
        QCOMPARE(store()->metrics(), lianbu::printing::virtualPageMetrics());
        QCOMPARE(store()->page(0).boundingRect(), QRect(0, 0, 4676, 6744));

        const PageText page(*store(), 0);
        const QStringList lines = page.lines();
        QCOMPARE(lines.value(0), QStringLiteral("Page. 1"));
        QCOMPARE(lines.value(1), QStringLiteral("客 户 报 表"));
        QCOMPARE(lines.value(2), QStringLiteral("联簿宝http://www.lianbubao.example"));
        QVERIFY(lineWith(0, QStringLiteral("客户类别")).startsWith(QStringLiteral("客户类别|客户简称|姓  名|")));
        QVERIFY(lineWith(0, QStringLiteral("客户类别")).endsWith(QStringLiteral("|电子邮件|备注|登记日期")));
        QCOMPARE(shortNamesOn(0), (QStringList{"C001", "C002", "C003", "C004", "C005"}));
        QVERIFY(lines.contains(QStringLiteral("VIP客户|C003|男|经理|杭州市|联簿公司|2010-08-15")));
        QCOMPARE(lineWith(0, QStringLiteral("总计")), QStringLiteral("总计|5"));
        // the date of printing after the grid, the placeholder back in the stored text
        QCOMPARE(lines.back(), QStringLiteral("2011-03-04"));
        QVERIFY(page.yOf(QStringLiteral("2011-03-04")) > page.yOf(QStringLiteral("总计")));
        QVERIFY(component(h)->afterGridText()->toPlainText().contains(QStringLiteral("%[Today]")));
        // the list's record is where it was
        QCOMPARE(widgets(h.form)->customerGrid->currentRow(), 4);
    }

    void everyRowOnceAcrossPages()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(150));
        h.form->showAllRecords();
        h.form->printCustomerList();
        const int pages = store()->pageCount();
        QVERIFY(pages >= 3);
        QStringList expected;
        for (int i = 1; i <= 150; ++i)
            expected << QStringLiteral("C%1").arg(i, 3, 10, QLatin1Char('0'));
        QCOMPARE(allShortNames(), expected);
        for (int i = 0; i < pages; ++i) {
            const PageText page(*store(), i);
            QCOMPARE(page.lines().value(0), QStringLiteral("Page. %1").arg(i + 1));
            // every page repeats the title bar and the column titles
            QVERIFY(page.contains(QStringLiteral("联簿宝http://www.lianbubao.example")));
            QVERIFY(page.contains(QStringLiteral("客户类别|客户简称")));
        }
        // full middle pages hold the same number of rows
        QCOMPARE(shortNamesOn(1).size(), shortNamesOn(2).size());
        QVERIFY(shortNamesOn(1).size() > shortNamesOn(0).size()); // page 1 also holds the heading
        QCOMPARE(lineWith(pages - 1, QStringLiteral("总计")), QStringLiteral("总计|150"));
        QCOMPARE(component(h)->lastLayout().dataRowsPrinted, 150);
        QCOMPARE(preview()->statusText(), QStringLiteral("第 1 页 共 %1 页").arg(pages));

        // more rows, more pages; the per-page capacity stays the same
        const int perPage = shortNamesOn(1).size();
        h.insertCustomers(numberedCustomers(2 * perPage, 151));
        h.form->showAllRecords();
        h.form->printCustomerList();
        QCOMPARE(store()->pageCount(), pages + 2);
    }

    void hiddenAndMovedColumns()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(4));
        h.form->showAllRecords();
        DataGrid *grid = widgets(h.form)->customerGrid;
        grid->columns()->findByFieldName(QStringLiteral("c"))->setVisible(false);
        grid->columns()->move(grid->columns()->indexOf(grid->columns()->findByFieldName(QStringLiteral("g"))), 0);
        h.form->printCustomerList();
        const QString titles = lineWith(0, QStringLiteral("客户类别"));
        QVERIFY2(titles.startsWith(QStringLiteral("电  话|客户类别|客户简称|职  务")), qPrintable(titles));
        QVERIFY(!PageText(*store(), 0).contains(QStringLiteral("姓  名")));
        QVERIFY(!PageText(*store(), 0).contains(QStringLiteral("Name2")));
        // the telephone cells lie left of the category cells
        double phoneX = -1, categoryX = -1;
        for (const PageTextItem &item : PageText(*store(), 0).items()) {
            if (phoneX < 0 && item.text.startsWith(QStringLiteral("0571-")))
                phoneX = item.pos.x();
            if (categoryX < 0 && item.text == QStringLiteral("代理商"))
                categoryX = item.pos.x();
        }
        QVERIFY(phoneX >= 0 && categoryX > phoneX);
    }

    void sortedAndFilteredListPrintsTheGridsRows()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(30));
        h.data->customerList->showStatement(QStringLiteral("select * from data where a='VIP客户'"));
        widgets(h.form)->customerGrid->clickTitle(1); // by short name, descending
        const QStringList shown = h.listColumn(QStringLiteral("b"));
        QCOMPARE(shown.size(), 10);
        QVERIFY(shown.first() > shown.last());
        h.form->printCustomerList();
        QCOMPARE(allShortNames(), shown);
        QCOMPARE(lineWith(store()->pageCount() - 1, QStringLiteral("总计")), QStringLiteral("总计|10"));
    }

    void emptyListPrintsTitlesAndACountOfNought()
    {
        MainWindowHarness h;
        fixClock();
        h.data->customerList->showStatement(QStringLiteral("select * from data"));
        h.form->printCustomerList();
        QCOMPARE(store()->pageCount(), 1);
        const PageText page(*store(), 0);
        QVERIFY(page.contains(QStringLiteral("Page. 1")));
        QVERIFY(page.contains(QStringLiteral("联簿宝http://www.lianbubao.example")));
        QVERIFY(page.contains(QStringLiteral("客户类别|客户简称")));
        QCOMPARE(lineWith(0, QStringLiteral("总计")), QStringLiteral("总计|0"));
    }

    void multiLevelTitlesAndSumFooters()
    {
        MainWindowHarness h;
        fixClock();
        QList<CustomerRow> rows = numberedCustomers(4);
        rows[0][7] = QStringLiteral("2.5"); // fax numbers standing in for amounts
        rows[1][7] = QStringLiteral("10");
        rows[3][7] = QStringLiteral("0.25"); // row 3 has none
        h.insertCustomers(rows);
        h.form->showAllRecords();
        DataGrid *grid = widgets(h.form)->customerGrid;
        grid->columns()->findByFieldName(QStringLiteral("f"))->title()->setCaption(QStringLiteral("联系方式|手机"));
        grid->columns()->findByFieldName(QStringLiteral("g"))->title()->setCaption(QStringLiteral("联系方式|电话"));
        grid->columns()->findByFieldName(QStringLiteral("h"))->footer()->setValueType(FooterValue::Sum);
        h.form->printCustomerList();
        const PageText page(*store(), 0);
        // the shared upper level once, spanning both columns, above their own captions
        QCOMPARE(int(page.text().count(QStringLiteral("联系方式"))), 1);
        QVERIFY2(page.lines().contains(QStringLiteral("手机|电话")), qPrintable(page.text()));
        QVERIFY(page.yOf(QStringLiteral("联系方式")) < page.yOf(QStringLiteral("手机")));
        double shared = -1, mobile = -1, phone = -1;
        for (const PageTextItem &item : page.items()) {
            if (item.text == QStringLiteral("联系方式"))
                shared = item.pos.x() + item.width / 2;
            if (item.text == QStringLiteral("手机"))
                mobile = item.pos.x();
            if (item.text == QStringLiteral("电话"))
                phone = item.pos.x();
        }
        QVERIFY(mobile < shared && shared < phone + 1); // centred over the pair
        // a sum footer adds the column's values over the printed rows
        QVERIFY2(lineWith(0, QStringLiteral("总计")).endsWith(QStringLiteral("|4|12.75")),
                 qPrintable(lineWith(0, QStringLiteral("总计"))));
    }

    void keysScrollThePage()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(3));
        h.form->showAllRecords();
        h.form->printCustomerList();
        PageView *box = preview()->previewBox();
        preview()->resize(900, 700);
        preview()->zoomAction(ZoomMode::z200)->trigger();
        QScrollBar *v = box->verticalScrollBar();
        QScrollBar *hbar = box->horizontalScrollBar();
        QVERIFY(v->maximum() > 2 * box->viewport()->height());
        QTest::keyClick(box, Qt::Key_PageDown);
        QCOMPARE(v->value(), box->viewport()->height() - box->scrollStep());
        QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(v->value(), box->viewport()->height());
        QTest::keyClick(box, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(v->value(), v->maximum());
        QTest::keyClick(box, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(v->value(), v->maximum() - box->viewport()->height());
        QTest::keyClick(box, Qt::Key_End);
        QCOMPARE(hbar->value(), hbar->maximum());
        QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(hbar->value(), 0);
        QCOMPARE(v->value(), 0);
        QTest::keyClick(box, Qt::Key_Right);
        QCOMPARE(hbar->value(), box->scrollStep());

        // dragging pans the page; releasing after a drag does not change the zoom
        v->setValue(200);
        hbar->setValue(100);
        QWidget *port = box->viewport();
        QTest::mousePress(port, Qt::LeftButton, {}, QPoint(300, 300));
        QMouseEvent move(QEvent::MouseMove, QPointF(250, 220), port->mapToGlobal(QPointF(250, 220)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(port, &move);
        QCOMPARE(port->cursor().shape(), Qt::ClosedHandCursor);
        QTest::mouseRelease(port, Qt::LeftButton, {}, QPoint(250, 220));
        QCOMPARE(hbar->value(), 150);
        QCOMPARE(v->value(), 280);
        QCOMPARE(box->zoomMode(), ZoomMode::z200);
        QCOMPARE(port->cursor().shape(), Qt::BitmapCursor); // the magnifier again
    }

    void replacementsAppliedToTheTextsAndTakenBack()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(120));
        h.form->showAllRecords();
        h.form->printCustomerList(); // creates and configures the component
        GridReport *printer = component(h);
        QVERIFY(printer);
        QString during;
        auto connection = connect(store(), &PageStore::pageStarted, this, [&] {
            if (during.isEmpty())
                during = printer->afterGridText()->toPlainText();
        });
        h.form->printCustomerList();
        disconnect(connection);
        QVERIFY2(during.contains(QStringLiteral("2011-03-04")), qPrintable(during.toUtf8().toHex()));
        QVERIFY(!during.contains(QStringLiteral("%[Today]")));
        // afterwards the stored text has its placeholder again, formatting intact
        QTextDocument *after = printer->afterGridText();
        QCOMPARE(after->toPlainText(), QStringLiteral("\n%[Today]"));
        const QTextCursor placeholder = after->find(QStringLiteral("%[today]"));
        QVERIFY(placeholder.charFormat().font().bold());
        QCOMPARE(placeholder.charFormat().fontPointSize(), 8.0);
        QCOMPARE(printer->beforeGridText()->toPlainText(), QStringLiteral("客 户 报 表\n"));
        const int last = store()->pageCount() - 1;
        const QString firstDateLine = PageText(*store(), last).lines().back();
        QCOMPARE(firstDateLine, QStringLiteral("2011-03-04"));

        // the same date line on a second print; the next day's date on the next day
        h.form->printCustomerList();
        QCOMPARE(PageText(*store(), store()->pageCount() - 1).lines().back(), firstDateLine);
        lianbu::setFixedNow(QDateTime(QDate(2011, 3, 5), QTime(8, 0)));
        h.form->printCustomerList();
        QCOMPARE(PageText(*store(), store()->pageCount() - 1).lines().back(), QStringLiteral("2011-03-05"));

        // replacement keeps the replaced text's format and ignores case
        QTextDocument doc;
        QTextCursor c(&doc);
        QTextCharFormat bold;
        bold.setFontWeight(QFont::Bold);
        c.insertText(QStringLiteral("a "));
        c.insertText(QStringLiteral("%[TODAY]"), bold);
        c.insertText(QStringLiteral(" b %[today]"));
        QCOMPARE(lianbu::printing::replaceInDocument(&doc, {{QStringLiteral("%[Today]"), QStringLiteral("X1")}}), 2);
        QCOMPARE(doc.toPlainText(), QStringLiteral("a X1 b X1"));
        QVERIFY(doc.find(QStringLiteral("X1")).charFormat().font().bold());
    }

    void stopKeepsThePagesMadeAndRestoresTheRecord()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(400));
        h.form->showAllRecords();
        widgets(h.form)->customerGrid->setCurrentRow(7);
        h.form->printCustomerList();
        const int fullCount = store()->pageCount();
        QVERIFY(fullCount > 5);

        bool sawEventsWhileGenerating = false;
        QTimer::singleShot(0, this, [&] { sawEventsWhileGenerating = store()->printing(); });
        widgets(h.form)->customerGrid->setCurrentRow(7);
        auto connection = connect(store(), &PageStore::pageStarted, this, [&](int page) {
            if (page == 3) {
                QVERIFY(widgets(preview())->stopButton->isEnabled());
                QVERIFY(!widgets(preview())->closeButton->isEnabled());
                QVERIFY(!widgets(preview())->printerSetupButton->isEnabled());
                QTest::mouseClick(widgets(preview())->stopButton, Qt::LeftButton);
            }
        });
        h.form->printCustomerList();
        disconnect(connection);
        QVERIFY(sawEventsWhileGenerating); // pending events ran between cells
        QVERIFY(!store()->printing());
        QCOMPARE(store()->pageCount(), 3);
        QCOMPARE(preview()->pageCount(), 3);
        QCOMPARE(preview()->statusText(), QStringLiteral("第 1 页 共 3 页"));
        QVERIFY(!widgets(preview())->stopButton->isEnabled());
        QCOMPARE(widgets(h.form)->customerGrid->currentRow(), 7);
        QVERIFY(component(h)->afterGridText()->toPlainText().contains(QStringLiteral("%[Today]")));
        QVERIFY(preview()->isVisible());
    }

    void printingLeavesTheListAsShown()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(120));
        h.form->showAllRecords();
        DataGrid *grid = widgets(h.form)->customerGrid;
        lianbu::data::CustomerListModel *list = h.data->customerList;
        grid->clickTitle(1); // by short name, descending
        grid->columns()->findByFieldName(QStringLiteral("c"))->setVisible(false);
        grid->setCurrentRow(42);
        auto fieldsAsShown = [&] {
            QStringList fields;
            for (int k = 0; k < list->columnCount(); ++k)
                fields << QStringLiteral("%1:%2:%3")
                              .arg(list->headerData(k, Qt::Horizontal, lianbu::db::ListRole::FieldName).toString(),
                                   list->headerData(k, Qt::Horizontal).toString())
                              .arg(list->headerData(k, Qt::Horizontal, lianbu::db::ListRole::FieldWidth).toInt());
            return fields;
        };
        auto columnsAsShown = [&] {
            QStringList columns;
            for (int i = 0; i < grid->columns()->count(); ++i) {
                const GridColumn *column = grid->columns()->items(i);
                columns << QStringLiteral("%1:%2:%3:%4")
                               .arg(column->fieldName(), column->title()->caption())
                               .arg(column->visible())
                               .arg(int(column->title()->sortMarker()));
            }
            return columns;
        };
        const QStringList fields = fieldsAsShown();
        const QStringList columns = columnsAsShown();
        const QStringList shown = h.listColumn(QStringLiteral("b"));
        const QString sort = list->sortText();
        const QString footer = grid->footerDisplayText(0, grid->columns()->items(1));
        int currentChanges = 0, resets = 0;
        QObject::connect(grid, &DataGrid::currentRowChanged, this, [&](int) { ++currentChanges; });
        QObject::connect(list, &QAbstractItemModel::modelReset, this, [&] { ++resets; });
        QObject::connect(list, &QAbstractItemModel::layoutChanged, this, [&] { ++resets; });
        QObject::connect(list, &QAbstractItemModel::headerDataChanged, this, [&] { ++resets; });
        QObject::connect(list, &QAbstractItemModel::dataChanged, this, [&] { ++resets; });

        h.form->printCustomerList();
        QCOMPARE(allShortNames(), shown); // the printout follows the shown order
        QVERIFY(!PageText(*store(), 0).contains(QStringLiteral("Name1")));
        // and the list is as it was: fields, their order, titles and visibility, the sort, the
        // current row, the columns, the footer; the grid heard of nothing
        QCOMPARE(fieldsAsShown(), fields);
        QCOMPARE(columnsAsShown(), columns);
        QCOMPARE(h.listColumn(QStringLiteral("b")), shown);
        QCOMPARE(list->sortText(), sort);
        QCOMPARE(grid->currentRow(), 42);
        QCOMPARE(grid->footerDisplayText(0, grid->columns()->items(1)), footer);
        QCOMPARE(currentChanges, 0);
        QCOMPARE(resets, 0);
    }

    void aListResortedWhilePrintingStopsThePrintout()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(400));
        h.form->showAllRecords();
        bool resorted = false;
        h.form->printCustomerList(); // makes the preview
        const int fullCount = store()->pageCount();
        auto connection = connect(store(), &PageStore::pageStarted, this, [&](int page) {
            if (page == 2 && !resorted) {
                resorted = true;
                widgets(h.form)->customerGrid->clickTitle(1);
            }
        });
        h.form->printCustomerList();
        disconnect(connection);
        QVERIFY(resorted);
        // no page mixes the two orders: the printout stops at the change
        QVERIFY2(store()->pageCount() < fullCount, qPrintable(QString::number(store()->pageCount())));
        QVERIFY(!store()->printing());
        const QStringList printed = allShortNames();
        for (int i = 1; i < printed.size(); ++i)
            QVERIFY(printed[i - 1] < printed[i]);
    }

    void escapeStopsWhileGeneratingAndClosesAfter()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(300));
        h.form->showAllRecords();
        h.form->printCustomerList();
        const int fullCount = store()->pageCount();
        auto connection = connect(store(), &PageStore::pageStarted, this, [&](int page) {
            if (page == 2)
                QTest::keyClick(preview(), Qt::Key_Escape);
        });
        h.form->printCustomerList();
        disconnect(connection);
        QCOMPARE(store()->pageCount(), 2);
        QVERIFY(store()->pageCount() < fullCount);
        QVERIFY(preview()->isVisible());
        QTest::keyClick(preview(), Qt::Key_Escape);
        QVERIFY(!preview()->isVisible());
        // the next print shows it again
        h.form->printCustomerList();
        QVERIFY(preview()->isVisible());
        QCOMPARE(store()->pageCount(), fullCount);
    }

    void closeBoxDuringGenerationStopsThenCloses()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(300));
        h.form->showAllRecords();
        h.form->printCustomerList();
        bool refused = false;
        auto connection = connect(store(), &PageStore::pageStarted, this, [&](int page) {
            if (page == 2) {
                refused = !preview()->close();
                refused = refused && preview()->isVisible();
            }
        });
        h.form->printCustomerList();
        disconnect(connection);
        QVERIFY(refused);
        QCOMPARE(store()->pageCount(), 2);
        QVERIFY(!preview()->isVisible());
    }

    void rowTallerThanAPageIsCutAndPrintingGoesOn()
    {
        MainWindowHarness h;
        fixClock();
        QList<CustomerRow> rows = numberedCustomers(3);
        rows[1][13] = QString(6000, QChar(0x5907)); // a remark far taller than a page
        h.insertCustomers(rows);
        h.form->showAllRecords();
        h.form->printCustomerList();
        QVERIFY(!store()->printing());
        const QStringList names = allShortNames();
        QCOMPARE(names, (QStringList{"C001", "C002", "C003"}));
        int pageOf2 = -1, pageOf3 = -1;
        for (int i = 0; i < store()->pageCount(); ++i) {
            if (shortNamesOn(i).contains(QStringLiteral("C002")))
                pageOf2 = i;
            if (shortNamesOn(i).contains(QStringLiteral("C003")))
                pageOf3 = i;
        }
        QVERIFY(pageOf2 >= 1);          // it did not fit below C001 and went to a fresh page
        QCOMPARE(pageOf3, pageOf2 + 1); // cut there; the next row follows on the next page
        QVERIFY(lineWith(pageOf3, QStringLiteral("总计")).endsWith(QStringLiteral("|3")));
    }

    void pageMacrosAndTheCountingPass()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(150));
        h.form->showAllRecords();
        h.form->printCustomerList();
        GridReport *printer = component(h);
        printer->pageHeader.centerText = QStringLiteral("第&[page]页 共&[Pages]页 &&[Page]");
        printer->pageHeader.rightText = QStringLiteral("&[Date] &[TIME]");
        h.form->printCustomerList();
        const int pages = store()->pageCount();
        QCOMPARE(printer->lastLayout().pagesCounted, pages);
        for (int i = 0; i < pages; ++i)
            QCOMPARE(PageText(*store(), i).lines().value(0),
                     QStringLiteral("第%1页 共%2页 &&[Page]|2011-03-04 9:30:00").arg(i + 1).arg(pages));
        // without "&[Pages]" no counting pass is made
        printer->pageHeader.centerText = QStringLiteral("Page. &[Page]");
        printer->pageHeader.rightText.clear();
        h.form->printCustomerList();
        QCOMPARE(printer->lastLayout().pagesCounted, 0);
    }

    void fitToWidthScalesOnlyWideGrids()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(30));
        h.form->showAllRecords();
        h.form->printCustomerList();
        GridReport *printer = component(h);
        const auto &layout = printer->lastLayout();
        QVERIFY(layout.scale < 1.0);
        double total = 6; // one grid line
        for (int w : layout.columnWidths)
            total += w;
        QVERIFY(qAbs(total * layout.scale - layout.body.width()) < 1.0);
        QCOMPARE(layout.blocks.size(), 1);

        // a narrow grid keeps its natural size
        DataGrid *grid = widgets(h.form)->customerGrid;
        grid->setAutoFitColWidths(false);
        for (int i = 2; i < grid->columns()->count(); ++i)
            grid->columns()->items(i)->setVisible(false);
        h.form->printCustomerList();
        QCOMPARE(printer->lastLayout().scale, 1.0);
        QCOMPARE(printer->lastLayout().columnWidths.value(0),
                 lianbu::printing::printedColumnWidth(grid->columns()->items(0)->width(), 6.25));
        for (int i = 2; i < grid->columns()->count(); ++i)
            grid->columns()->items(i)->setVisible(true);

        // fitting off: column blocks, every set of rows printed once per block
        printer->options = PrintOptions(PrintOption::Coloured) | PrintOption::RowAutoStretch;
        h.form->printCustomerList();
        const int blocks = int(printer->lastLayout().blocks.size());
        QVERIFY(blocks >= 2);
        QCOMPARE(store()->pageCount() % blocks, 0);
        QVERIFY(PageText(*store(), 0).contains(QStringLiteral("C001")));
        QVERIFY(!PageText(*store(), 1).contains(QStringLiteral("C001"))); // block 2 has no short names
        QVERIFY(PageText(*store(), 1).contains(QStringLiteral("登记日期")) || blocks > 2);

        // shrinking the columns instead of scaling
        printer->options = PrintOptions(PrintOption::FitToPageWidth) | PrintOption::FitByColumnWidths;
        h.form->printCustomerList();
        int sum = 0;
        for (int w : printer->lastLayout().columnWidths)
            sum += w;
        QCOMPARE(printer->lastLayout().scale, 1.0);
        QCOMPARE(sum, printer->lastLayout().body.width() - 6);
        QCOMPARE(printer->lastLayout().blocks.size(), 1);
    }

    void previewRulesAndZoom()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(150));
        h.form->showAllRecords();
        h.form->printCustomerList();
        PrintPreviewWindow *f = preview();
        auto *ui = widgets(f);
        QCOMPARE(ui->printButton->text(), QStringLiteral("打印"));
        QCOMPARE(ui->printButton->toolTip(), QStringLiteral("Print"));
        QCOMPARE(ui->printerSetupButton->text(), QStringLiteral(" 打印设置"));
        QCOMPARE(ui->printerSetupButton->toolTip(), QStringLiteral("Printer setup"));
        QCOMPARE(ui->previousPageButton->toolTip(), QStringLiteral("Previous page"));
        QCOMPARE(ui->closeButton->toolTip(), QStringLiteral("Close preview"));
        QVERIFY(!ui->printButton->icon().isNull());
        // no printer installed: pages viewable; 打印 answers by offering the PDF
        QVERIFY(ui->printButton->isEnabled());
        QVERIFY(ui->printerSetupButton->isEnabled());
        QVERIFY(ui->zoomButton->isEnabled());
        QVERIFY(!ui->stopButton->isEnabled());
        QVERIFY(ui->closeButton->isEnabled());
        QVERIFY(!ui->previousPageButton->isEnabled());
        QVERIFY(ui->nextPageButton->isEnabled());
        const int pages = f->pageCount();
        for (int i = 1; i < pages; ++i)
            QTest::mouseClick(ui->nextPageButton, Qt::LeftButton);
        QCOMPARE(f->currentPage(), pages);
        QVERIFY(!ui->nextPageButton->isEnabled());
        QVERIFY(ui->previousPageButton->isEnabled());
        QCOMPARE(f->statusText(), QStringLiteral("第 %1 页 共 %1 页").arg(pages));
        QTest::mouseClick(ui->previousPageButton, Qt::LeftButton);
        QCOMPARE(f->currentPage(), pages - 1);

        // zoom menu: ten radio items, whole page first
        const QList<QAction *> items = f->scaleMenu()->actions();
        QCOMPARE(items.size(), 10);
        QStringList captions;
        for (QAction *a : items)
            captions << a->text();
        QCOMPARE(captions,
                 (QStringList{"500%", "200%", "150%", "100%", "75%", "50%", "25%", "10%", "页宽度", "全部页面"}));
        f->zoomAction(ZoomMode::FullPage)->trigger(); // the zoom stays as the operator left it
        QVERIFY(f->zoomAction(ZoomMode::FullPage)->isChecked());
        QCOMPARE(f->previewBox()->zoomMode(), ZoomMode::FullPage);
        f->resize(1000, 760);
        QApplication::processEvents();
        PageView *box = f->previewBox();
        QRectF page = box->pageRect();
        QVERIFY(page.height() <= box->viewport()->height() - 16 + 1);
        QVERIFY(page.left() > 0 && page.top() > 0);

        f->zoomAction(ZoomMode::z100)->trigger();
        QVERIFY(f->zoomAction(ZoomMode::z100)->isChecked());
        QCOMPARE(box->zoomMode(), ZoomMode::z100);
        const auto &m = store()->metrics();
        page = box->pageRect();
        QVERIFY(qAbs(page.width() - double(m.paperWidth()) / m.dpiX * box->logicalDpiX()) < 0.5);
        // narrower than the view: centred across; taller: starts 8 pixels from the top
        QVERIFY(qAbs(page.left() - (box->viewport()->width() - page.width()) / 2) < 0.5);
        QCOMPARE(page.top(), 8.0);
        f->zoomAction(ZoomMode::z200)->trigger();
        QCOMPARE(box->pageRect().topLeft(), QPointF(8, 8));
        f->zoomAction(ZoomMode::z25)->trigger();
        QVERIFY(qAbs(box->pageRect().width() - double(m.paperWidth()) / m.dpiX * box->logicalDpiX() / 4) < 0.5);
        f->zoomAction(ZoomMode::PageWidth)->trigger();
        QCOMPARE(box->zoomMode(), ZoomMode::PageWidth);
        QVERIFY(
            qAbs(box->pageRect().width() - (box->width() - box->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 20))
            < 0.5);

        // a click on the page in the whole-page mode zooms to 150%, another click back
        f->zoomAction(ZoomMode::FullPage)->trigger();
        const QPoint inside = box->pageRect().center().toPoint();
        QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, inside);
        QCOMPARE(box->zoomMode(), ZoomMode::z150);
        QVERIFY(f->zoomAction(ZoomMode::z150)->isChecked());
        QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(box->zoomMode(), ZoomMode::FullPage);

        // wheel turns pages while the whole page is shown
        const int before = f->currentPage();
        QWheelEvent down(QPointF(50, 50), box->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(box->viewport(), &down);
        QCOMPARE(f->currentPage(), std::min(before + 1, pages));
    }

    void toolbarLookFollowsTheSplitter()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(3));
        h.form->showAllRecords();
        h.form->printCustomerList();
        PrintPreviewWindow *f = preview();
        QCOMPARE(f->toolbarLook(), ToolbarLook::IconsAndCaptions);
        f->onToolbarSplitterMoved(40, 1);
        QCOMPARE(f->toolbarLook(), ToolbarLook::IconsOnly);
        QCOMPARE(widgets(f)->printButton->toolButtonStyle(), Qt::ToolButtonIconOnly);
        f->onToolbarSplitterMoved(20, 1);
        QCOMPARE(f->toolbarLook(), ToolbarLook::CaptionsOnly);
        QCOMPARE(widgets(f)->printButton->toolButtonStyle(), Qt::ToolButtonTextOnly);
        f->onToolbarSplitterMoved(60, 1);
        QCOMPARE(f->toolbarLook(), ToolbarLook::IconsOnly);
        f->onToolbarSplitterMoved(60, 1);
        QCOMPARE(f->toolbarLook(), ToolbarLook::IconsAndCaptions);
        QCOMPARE(widgets(f)->printButton->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    }

    void printingAPageRangeToPdf()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(150));
        h.form->showAllRecords();
        h.form->printCustomerList();
        QVERIFY(store()->pageCount() >= 3);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("pages.pdf"));
        QPrinter *printer = store()->printer();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        widgets(preview())->printButton->setEnabled(true);
        QVERIFY(store()->printerInstalled());

        RangeDialogs range(h.env.dialogs(), 2, 3);
        lianbu::setDialogService(&range);
        preview()->print();
        QCOMPARE(range.asked, 1);
        // offered: all pages, 1 to the page count
        QCOMPARE(range.offeredRange, QPrinter::AllPages);
        QCOMPARE(range.offeredFrom, 1);
        QCOMPARE(range.offeredTo, store()->pageCount());
        QVERIFY(QFile::exists(pdf));
        QCOMPARE(pdfPageCount(pdf), 2);
        // Laid out on the 600-dpi page, printed on the file printer's finer one.
        checkPdfShowsThePages(pdf, 2, false);
        if (QTest::currentTestFailed())
            return;

        RangeDialogs all(h.env.dialogs(), 0, 0);
        lianbu::setDialogService(&all);
        const QString pdfAll = dir.filePath(QStringLiteral("all.pdf"));
        printer->setOutputFileName(pdfAll);
        preview()->print();
        QCOMPARE(pdfPageCount(pdfAll), store()->pageCount());
        lianbu::setDialogService(&h.env.dialogs());
        // cancelled dialog: nothing printed
        const QString pdfNone = dir.filePath(QStringLiteral("none.pdf"));
        printer->setOutputFileName(pdfNone);
        preview()->print();
        QVERIFY(!QFile::exists(pdfNone));
        QCOMPARE(h.env.dialogs().count(ScriptedDialogs::DialogKind::Print), 1);
        printer->setOutputFileName(QString());
        printer->setOutputFormat(QPrinter::NativeFormat);
    }

    void everyPaperPrintsToFileAndPdf_data()
    {
        QTest::addColumn<QPageSize::PageSizeId>("size");
        QTest::addColumn<QPageLayout::Orientation>("orientation");
        for (const QPageSize::PageSizeId size :
             {QPageSize::A4, QPageSize::A3, QPageSize::A5, QPageSize::B5, QPageSize::Letter, QPageSize::Legal}) {
            const QString name = QPageSize::key(size);
            QTest::newRow(qPrintable(name + QStringLiteral(" portrait"))) << size << QPageLayout::Portrait;
            QTest::newRow(qPrintable(name + QStringLiteral(" landscape"))) << size << QPageLayout::Landscape;
        }
    }

    void everyPaperPrintsToFileAndPdf()
    {
        QFETCH(QPageSize::PageSizeId, size);
        QFETCH(QPageLayout::Orientation, orientation);
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(40));
        h.form->showAllRecords();
        h.form->printCustomerList();
        QTemporaryDir dir;
        const QString toFile = dir.filePath(QStringLiteral("printer.pdf"));
        QPrinter *printer = store()->printer();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(toFile);
        QVERIFY(printer->setPageSize(QPageSize(size)));
        QVERIFY(printer->setPageOrientation(orientation));
        // Laid out again for the chosen paper.
        h.form->printCustomerList();
        QCOMPARE(store()->metrics(), lianbu::printing::printerMetrics(*printer));
        const int pages = store()->pageCount();
        QVERIFY(pages >= 1);

        // 打印 on a printer that writes to a file.
        QCOMPARE(store()->printPages(printer, 1, pages), pages);
        checkPdfShowsThePages(toFile, 1, true);
        // 保存为PDF….
        const QString saved = dir.filePath(QStringLiteral("saved.pdf"));
        if (!QTest::currentTestFailed())
            QCOMPARE(lianbu::printing::writePdf(saved, store()->metrics(),
                                                [&](QPrinter &pdf) { return store()->printPages(&pdf, 1, pages); }),
                     pages);
        if (!QTest::currentTestFailed())
            checkPdfShowsThePages(saved, 1, true);
        printer->setOutputFileName(QString());
        printer->setOutputFormat(QPrinter::NativeFormat);
        printer->setPageOrientation(QPageLayout::Portrait);
        printer->setPageSize(QPageSize(QPageSize::A4));
    }

    void settingsDialogConfirmCancelAndErrors()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(20));
        h.form->showAllRecords();
        h.form->printCustomerList();
        GridReport *printer = component(h);
        const QRect bodyBefore = printer->lastLayout().body;
        QCOMPARE(bodyBefore.left(), 472 - 130);

        auto withDialog = [this](std::function<void(PrintSettingsDialog *)> act) {
            QTimer::singleShot(0, this, [act] {
                PrintSettingsDialog *d = nullptr;
                for (QWidget *window : QApplication::topLevelWidgets())
                    if (auto *found = qobject_cast<PrintSettingsDialog *>(window))
                        d = found;
                QVERIFY(d && d->isVisible());
                act(d);
            });
        };

        // cancel changes nothing
        withDialog([](PrintSettingsDialog *d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("打印设置"));
            QCOMPARE(widgets(d)->leftMarginSpin->text(), QStringLiteral("2"));
            QVERIFY(widgets(d)->fitToPageWidthCheck->isChecked());
            QVERIFY(widgets(d)->fitByScaleRadio->isChecked());
            QVERIFY(widgets(d)->colouredCheck->isChecked());
            QVERIFY(widgets(d)->autoStretchCheck->isChecked());
            QVERIFY(!widgets(d)->optimalColumnWidthsCheck->isChecked());
            QCOMPARE(widgets(d)->printFontEdit->text(), QStringLiteral("Arial"));
            QVERIFY(!widgets(d)->printerSetupButton->isEnabled()); // no printer
            widgets(d)->leftMarginSpin->setText(QStringLiteral("5"));
            QTest::mouseClick(widgets(d)->cancelButton, Qt::LeftButton);
        });
        QSignalSpy begun(store(), &PageStore::documentBegun);
        preview()->tbtPrinterSetupDialogClick();
        QCOMPARE(begun.count(), 0);
        QCOMPARE(printer->page.left, 2.0);

        // unchecking fit-to-width disables the fitting group
        // confirming a new margin regenerates the pages with it
        withDialog([](PrintSettingsDialog *d) {
            widgets(d)->fitToPageWidthCheck->setChecked(false);
            QVERIFY(!widgets(d)->fittingTypeGroup->isEnabled());
            widgets(d)->fitToPageWidthCheck->setChecked(true);
            QVERIFY(widgets(d)->fittingTypeGroup->isEnabled());
            widgets(d)->leftMarginSpin->setText(QStringLiteral("3"));
            QTest::mouseClick(widgets(d)->okButton, Qt::LeftButton);
        });
        preview()->tbtPrinterSetupDialogClick();
        QCOMPARE(begun.count(), 1);
        QCOMPARE(printer->page.left, 3.0);
        QCOMPARE(printer->lastLayout().body.left(), 709 - 130); // round(600 * 3 / 2.54) = 709

        // a margin that is no number: the error, the dialog stays, nothing applied
        withDialog([&h](PrintSettingsDialog *d) {
            widgets(d)->topMarginSpin->setText(QStringLiteral("abc"));
            QTest::mouseClick(widgets(d)->okButton, Qt::LeftButton);
            QVERIFY(d->isVisible());
            QCOMPARE(h.env.dialogs().lastBox().request.text,
                     QStringLiteral("'abc' is not a valid floating point value."));
            QCOMPARE(h.env.dialogs().lastBox().request.icon, lianbu::BoxIcon::Stop);
            // leaving a field that holds no number shows the same error and returns to it
            widgets(d)->topMarginSpin->setText(QStringLiteral("2"));
            d->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(d));
            widgets(d)->bottomMarginSpin->setFocus(Qt::TabFocusReason);
            widgets(d)->bottomMarginSpin->setText(QStringLiteral("1,5cm"));
            const int boxes = int(h.env.dialogs().boxes().size());
            widgets(d)->leftMarginSpin->setFocus(Qt::TabFocusReason);
            QCOMPARE(int(h.env.dialogs().boxes().size()), boxes + 1);
            QCOMPARE(h.env.dialogs().lastBox().request.text,
                     QStringLiteral("'1,5cm' is not a valid floating point value."));
            QVERIFY(widgets(d)->bottomMarginSpin->hasFocus());
            // leaving it for "取消(&C)" abandons it without a word
            QTest::mouseClick(widgets(d)->cancelButton, Qt::LeftButton);
            QCOMPARE(int(h.env.dialogs().boxes().size()), boxes + 1);
        });
        preview()->tbtPrinterSetupDialogClick();
        withDialog([&h](PrintSettingsDialog *d) {
            // the font button: the system font dialog preset to the face, the chosen face taken
            h.env.dialogs().queueFontAnswer(QFont(QStringLiteral("DejaVu Serif")));
            QTest::mouseClick(widgets(d)->printFontButton, Qt::LeftButton);
            QCOMPARE(widgets(d)->printFontEdit->text(), QStringLiteral("DejaVu Serif"));
            QCOMPARE(h.env.dialogs().commonDialogs().back().fontBefore.family(), QStringLiteral("Arial"));
            QTest::mouseClick(widgets(d)->cancelButton, Qt::LeftButton);
        });
        preview()->tbtPrinterSetupDialogClick();
        QCOMPARE(begun.count(), 1);
        QCOMPARE(printer->page.top, 2.0);
        QCOMPARE(printer->printFontName, QStringLiteral("Arial"));

        // confirming the other options stores them in the component
        withDialog([](PrintSettingsDialog *d) {
            widgets(d)->fitByColumnWidthsRadio->setChecked(true);
            widgets(d)->optimalColumnWidthsCheck->setChecked(true);
            widgets(d)->colouredCheck->setChecked(false);
            widgets(d)->rightMarginSpin->setText(QStringLiteral("1.23456"));
            QTest::mouseClick(widgets(d)->okButton, Qt::LeftButton);
        });
        preview()->tbtPrinterSetupDialogClick();
        QVERIFY(printer->options.testFlag(PrintOption::FitByColumnWidths));
        QVERIFY(printer->options.testFlag(PrintOption::OptimalColumnWidths));
        QVERIFY(!printer->options.testFlag(PrintOption::Coloured));
        QCOMPARE(printer->page.right, 1.2346);
        QCOMPARE(begun.count(), 2);
    }

    void pdfWithoutAPrinter()
    {
        MainWindowHarness h;
        fixClock();
        h.insertCustomers(numberedCustomers(150));
        h.form->showAllRecords();
        h.form->printCustomerList();
        QVERIFY(!store()->printerInstalled());
        const int pages = store()->pageCount();
        QVERIFY(pages >= 3);
        auto *pdfButton = preview()->findChild<QToolButton *>(QStringLiteral("savePdfButton"));
        QVERIFY(pdfButton);
        QCOMPARE(pdfButton->text(), QStringLiteral("保存为PDF…"));
        QVERIFY(pdfButton->isEnabled());

        // 打印 says there is no printer and offers the PDF; No does nothing more.
        h.env.dialogs().queueBoxAnswer(lianbu::BoxButton::No);
        QTest::mouseClick(widgets(preview())->printButton, Qt::LeftButton);
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        QCOMPARE(h.env.dialogs().lastBox().request.text, lianbu::printing::noPrinterQuestion());
        QCOMPARE(h.env.dialogs().lastBox().request.icon, lianbu::BoxIcon::Question);
        QVERIFY(h.env.dialogs().saveFiles().isEmpty());

        // Yes: the save dialog, then every page into the file.
        const QString pdf = h.env.filePath(QStringLiteral("客户"));
        h.env.dialogs().queueBoxAnswer(lianbu::BoxButton::Yes);
        h.env.dialogs().queueSaveFileName(pdf);
        QTest::mouseClick(widgets(preview())->printButton, Qt::LeftButton);
        QCOMPARE(h.env.dialogs().saveFiles().size(), 1);
        QCOMPARE(h.env.dialogs().saveFiles().first().request.filter, QStringLiteral("PDF 文件 (*.pdf)"));
        QCOMPARE(pdfPageCount(pdf + QStringLiteral(".pdf")), pages);
        checkPdfShowsThePages(pdf + QStringLiteral(".pdf"), 1, true);
        if (QTest::currentTestFailed())
            return;

        // The button writes the same pages; an existing file is asked about first.
        h.env.dialogs().queueSaveFileName(pdf + QStringLiteral(".pdf"));
        h.env.dialogs().queueBoxAnswer(lianbu::BoxButton::Yes);
        QTest::mouseClick(pdfButton, Qt::LeftButton);
        QCOMPARE(h.env.dialogs().lastBox().request.caption, QStringLiteral("提示"));
        QCOMPARE(pdfPageCount(pdf + QStringLiteral(".pdf")), pages);
    }
};

QTEST_MAIN(TestPrinting)
#include "test_printing.moc"
