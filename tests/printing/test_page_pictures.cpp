// The printed pages as pictures: the customer list's pages, replayed at a fixed size, give the
// same pixels as the renderings recorded in page-pictures.txt (a digest of each page's pixels),
// so a faster way of making the pages cannot change what the operator sees or prints.
// LIANBU_WRITE_PAGE_PICTURES=<file> (under ctest, whose screen the digests assume) records the
// digests of today's pages instead; a page that differs is saved as a picture in the temporary
// folder.
#include "tests/support/MainWindowHarness.h"

#include "platform/Clock.h"
#include "printing/PageStore.h"
#include "printing/PrintPreviewWindow.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <functional>

using namespace lianbu::test;

namespace {

// Customers whose cells take every way of drawing a cell: one line that fits, Chinese beside
// Latin, a text wider than its cell (wrapped, the row grows), several lines, empty cells.
QList<CustomerRow> mixedCustomers()
{
    const QStringList categories{QStringLiteral("VIP客户"), QStringLiteral("普通"), QStringLiteral("代理商")};
    QList<CustomerRow> rows;
    for (int i = 1; i <= 90; ++i) {
        CustomerRow row = customer(categories[i % 3], QStringLiteral("C%1").arg(i, 3, 10, QLatin1Char('0')),
                                   QStringLiteral("0571-%1").arg(80000 + i),
                                   i % 4 == 0 ? QStringLiteral("王小明%1").arg(i) : QStringLiteral("Name%1").arg(i));
        if (i % 7 == 0)
            row[8] = QStringLiteral("浙江省杭州市西湖区文三路%1号华星科技大厦一楼东侧 Room %1").arg(i * 13);
        if (i % 11 == 0)
            row[9] = QStringLiteral("第一行\n第二行 second line\n第三行");
        if (i % 5 == 0)
            row[11].clear();
        if (i % 9 == 0)
            row[12] = QStringLiteral("老客户，每年春节前订货；price list sent 2010 年 %1 月").arg(i % 12 + 1);
        rows << row;
    }
    return rows;
}

PageStore *previewStore()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *found = qobject_cast<PrintPreviewWindow *>(window))
            return found->store();
    return nullptr;
}

// A page drawn at half its recorded size on white by `draw`.
QImage halfSize(const PageStore &store, const std::function<void(QPainter &)> &draw)
{
    const auto &m = store.metrics();
    QImage image(m.printableWidth / 2, m.printableHeight / 2, QImage::Format_RGB32);
    image.setDotsPerMeterX(0);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.scale(0.5, 0.5);
    draw(painter);
    painter.end();
    return image;
}

// The page replayed as its picture.
QImage rendering(const PageStore &store, int index)
{
    return halfSize(store, [&](QPainter &painter) { store.drawPage(&painter, index); });
}

// The same, from the page read into its painter calls as the printer and the PDF get it.
QImage readRendering(const PageStore &store, int index)
{
    return halfSize(store, [&](QPainter &painter) { store.drawReadPage(&painter, store.readPage(index)); });
}

QByteArray digest(const QImage &image)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (int y = 0; y < image.height(); ++y)
        hash.addData(QByteArrayView(reinterpret_cast<const char *>(image.constScanLine(y)), image.width() * 4));
    return hash.result().toHex();
}

} // namespace

class TestPagePictures : public QObject
{
    Q_OBJECT

private slots:
    void pagesLookAsBefore()
    {
        MainWindowHarness h;
        lianbu::setFixedNow(QDateTime(QDate(2011, 3, 4), QTime(9, 30)));
        h.insertCustomers(mixedCustomers());
        h.form->showAllRecords();
        h.form->printCustomerList();
        PageStore *store = previewStore();
        QVERIFY(store);
        QVERIFY(store->pageCount() >= 2);

        QByteArrayList digests;
        for (int i = 0; i < store->pageCount(); ++i)
            digests << digest(rendering(*store, i));
        const QString writeTo = qEnvironmentVariable("LIANBU_WRITE_PAGE_PICTURES");
        if (!writeTo.isEmpty()) {
            QFile out(writeTo);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(digests.join('\n') + '\n');
            QSKIP("digests written");
        }
        QFile in(QStringLiteral(LIANBU_PAGE_PICTURES));
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArrayList expected = in.readAll().trimmed().split('\n');
        QCOMPARE(digests.size(), expected.size());
        for (int i = 0; i < digests.size(); ++i) {
            if (digests[i] == expected[i])
                continue;
            const QString saved = QDir::temp().filePath(QStringLiteral("page-%1-now.png").arg(i + 1));
            rendering(*store, i).save(saved);
            QFAIL(qPrintable(
                QStringLiteral("page %1 differs from its recorded pixels (now in %2)").arg(i + 1).arg(saved)));
        }
        // Printed and saved as PDF, the pages are read into painter calls first: the same pixels.
        for (int i = 0; i < store->pageCount(); ++i) {
            QVERIFY(store->readPage(i).ops.isValid());
            QVERIFY2(digest(readRendering(*store, i)) == expected[i],
                     qPrintable(QStringLiteral("page %1 read into painter calls draws other pixels").arg(i + 1)));
        }
    }
};

QTEST_MAIN(TestPagePictures)
#include "test_page_pictures.moc"
