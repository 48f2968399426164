// A recorded page read into its painter calls draws the same pixels as the picture it was read
// from: through the state a report page changes (pens, brushes, matrices, clipping, fonts saved
// and restored), in the fonts' own sizes, and a page it cannot read is replayed as a picture.

#include "printing/PageOps.h"
#include "printing/PageStore.h"

#include <QImage>
#include <QPainter>
#include <QPicture>
#include <QTest>

using lianbu::printing::PageOps;

namespace {

QFont pixelFont(const QString &family, int pixels, bool bold = false)
{
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QByteArray bytesOf(const QPicture &picture)
{
    return QByteArray(picture.data(), int(picture.size()));
}

// A page drawn with the calls a report page is made of, clipped cells and fonts changed inside
// saved states among them.
QPicture reportLikePage()
{
    QPicture picture;
    QPainter p(&picture);
    const QFont latin = pixelFont(QStringLiteral("DejaVu Sans"), 38);
    const QFont chinese = pixelFont(QStringLiteral("Noto Sans CJK SC"), 42, true);
    p.setPen(QPen(Qt::black, 3));
    p.drawLine(QPointF(0, 10.5), QPointF(1200, 10.5));
    for (int row = 0; row < 6; ++row) {
        const QRectF cell(20, 40 + row * 90.25, 380, 90.25);
        if (row % 2 == 1)
            p.fillRect(cell, QColor(0xdd, 0xee, 0xff));
        p.setPen(QPen(Qt::black, 2));
        p.drawRect(cell);
        p.setPen(Qt::black);
        const bool clipped = row % 3 == 2;
        if (clipped) {
            p.save();
            p.setClipRect(cell);
            p.setFont(chinese); // changed inside the saved state only
        } else {
            p.setFont(row % 2 ? chinese : latin);
        }
        p.drawText(cell.bottomLeft() + QPointF(6, -20),
                   QStringLiteral("客户 Customer %1 浙江省杭州市西湖区文三路").arg(row));
        if (clipped) {
            p.restore();
            // the font set inside the saved state once more, after the restore took it away
            p.setFont(chinese);
        }
        p.drawText(QPointF(420, cell.bottom() - 20), QStringLiteral("第%1行 row").arg(row));
    }
    p.save();
    p.translate(900, 700);
    p.rotate(-30);
    p.setBrush(QColor(200, 40, 40, 120));
    p.drawEllipse(QRectF(-60, -40, 120, 80));
    p.drawText(QPointF(0, 0), QStringLiteral("转 turned"));
    p.restore();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::darkGreen);
    p.drawPolygon(QPolygonF({QPointF(20, 700), QPointF(120, 760), QPointF(40, 820)}), Qt::WindingFill);
    p.end();
    return picture;
}

// The page at a report's scale (a printer's pixels shown smaller), as a picture and as read.
QImage drawn(const QPicture &picture, const PageOps *ops)
{
    QImage image(700, 560, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(13.5, 7.25);
    painter.scale(0.55, 0.6);
    if (ops)
        ops->draw(&painter);
    else
        painter.drawPicture(0, 0, picture);
    painter.end();
    return image;
}

QImage blank(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

int differingPixels(const QImage &a, const QImage &b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    return count;
}

} // namespace

class TestPageOps : public QObject
{
    Q_OBJECT

private slots:
    // Pens, fills, clipping, fonts set inside and outside saved states, a turned matrix: every
    // pixel as the picture draws it, and the page's operations all read.
    void readPageDrawsAsThePicture()
    {
        const QPicture picture = reportLikePage();
        const PageOps ops = PageOps::decode(bytesOf(picture), picture.logicalDpiX(), picture.logicalDpiY());
        QVERIFY(ops.isValid());
        QVERIFY(ops.size() > 60);
        const QImage expected = drawn(picture, nullptr);
        const QImage actual = drawn(picture, &ops);
        // the page draws something, or equal images would prove nothing
        QVERIFY(differingPixels(expected, blank(expected.size())) > 0);
        QCOMPARE(differingPixels(actual, expected), 0);
    }

    // What it cannot read gives no page rather than a wrong one: an image (not in reports), a
    // font sized in points (its size would follow the printer's resolution), bytes cut short or
    // not a picture at all.
    void unreadablePagesAreRefused()
    {
        QPicture withImage;
        {
            QPainter p(&withImage);
            p.setFont(pixelFont(QStringLiteral("DejaVu Sans"), 30));
            p.drawText(QPointF(10, 40), QStringLiteral("前 before"));
            QImage dot(4, 4, QImage::Format_RGB32);
            dot.fill(Qt::red);
            p.drawImage(QPointF(50, 50), dot);
        }
        QVERIFY(!PageOps::decode(bytesOf(withImage), withImage.logicalDpiX(), withImage.logicalDpiY()).isValid());

        QPicture pointSized;
        {
            QPainter p(&pointSized);
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPointSize(12);
            p.setFont(font);
            p.drawText(QPointF(10, 40), QStringLiteral("12 pt"));
        }
        QVERIFY(!PageOps::decode(bytesOf(pointSized), pointSized.logicalDpiX(), pointSized.logicalDpiY()).isValid());

        const QByteArray whole = bytesOf(reportLikePage());
        QVERIFY(PageOps::decode(whole, 96, 96).isValid());
        QVERIFY(!PageOps::decode(whole.left(whole.size() * 2 / 3), 96, 96).isValid());
        QVERIFY(!PageOps::decode(QByteArray("QPIC") + QByteArray(40, '\xff'), 96, 96).isValid());
        QVERIFY(!PageOps::decode("not a picture at all", 96, 96).isValid());
    }

    // The store hands the printer a page read off its own thread; one it cannot read still
    // prints, as its picture.
    void storeDrawsReadPagesAsItsPictures()
    {
        PageStore store;
        store.beginDoc();
        store.canvas()->setFont(pixelFont(QStringLiteral("Noto Sans CJK SC"), 60));
        store.canvas()->drawRect(QRectF(100, 100, 2000, 300));
        store.canvas()->drawText(QPointF(140, 300), QStringLiteral("第一页 page one"));
        store.newPage();
        store.canvas()->drawRect(QRectF(100, 100, 2000, 300));
        QImage mark(40, 40, QImage::Format_RGB32);
        mark.fill(Qt::blue);
        store.canvas()->drawImage(QPointF(200, 200), mark);
        store.endDoc();
        QCOMPARE(store.pageCount(), 2);

        for (int i = 0; i < 2; ++i) {
            const PageStore::ReadPage read = store.readPage(i);
            QCOMPARE(read.ops.isValid(), i == 0);
            QImage expected(600, 400, QImage::Format_RGB32);
            expected.fill(Qt::white);
            QImage actual = expected;
            {
                QPainter p(&expected);
                p.scale(0.2, 0.2);
                store.drawPage(&p, i);
            }
            {
                QPainter p(&actual);
                p.scale(0.2, 0.2);
                store.drawReadPage(&p, read);
            }
            QVERIFY(differingPixels(expected, blank(expected.size())) > 0);
            QCOMPARE(differingPixels(actual, expected), 0);
        }
    }
};

QTEST_MAIN(TestPageOps)
#include "test_page_ops.moc"
