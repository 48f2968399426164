// The preview's PDF file: the paper of the laid-out pages, text as text with its Chinese font
// embedded (no page turned into a picture), and an old file kept when nothing was written.

#include "platform/Error.h"
#include "printing/PdfOutput.h"
#include "tests/support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>

using namespace lianbu;
using namespace lianbu::printing;

namespace {

int paintTwoPages(QPrinter &printer)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return 0;
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSize(14);
    painter.setFont(font);
    painter.drawText(QPoint(100, 200), QStringLiteral("客户统计报表 第一页"));
    printer.newPage();
    painter.drawText(QPoint(100, 200), QStringLiteral("第二页"));
    painter.end();
    return 2;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPdfOutput : public QObject
{
    Q_OBJECT

private slots:
    void pageLayoutFollowsTheLaidOutPaper()
    {
        // The virtual page (no printer) is A4 within a point.
        const QPageLayout a4 = pdfPageLayout(virtualPageMetrics());
        QCOMPARE(a4.pageSize().id(), QPageSize::A4);
        QCOMPARE(a4.orientation(), QPageLayout::Portrait);
        QCOMPARE(qRound(a4.margins(QPageLayout::Point).left()), qRound(130.0 / 600 * 72));
        QCOMPARE(qRound(a4.margins(QPageLayout::Point).top()), 18);

        // A landscape sheet stays landscape; an odd size keeps its size.
        PrinterMetrics wide;
        wide.dpiX = wide.dpiY = 300;
        wide.printableWidth = 3408;
        wide.printableHeight = 2380;
        wide.offsetX = wide.offsetY = 50;
        const QPageLayout landscape = pdfPageLayout(wide);
        QCOMPARE(landscape.orientation(), QPageLayout::Landscape);
        QCOMPARE(landscape.fullRect(QPageLayout::Point).size().toSize(), QSize(842, 595));
        PrinterMetrics odd = wide;
        odd.printableWidth = 1000;
        odd.printableHeight = 1200;
        QCOMPARE(pdfPageLayout(odd).fullRect(QPageLayout::Point).size().toSize(), QSize(264, 312));
    }

    void writesVectorTextWithEmbeddedFonts()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("客户.pdf"));
        QCOMPARE(writePdf(path, virtualPageMetrics(), paintTwoPages), 2);
        const QByteArray pdf = readAll(path);
        QVERIFY(pdf.startsWith("%PDF-"));
        QCOMPARE(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r") + pdf.count("/Type /Page ")
                     + pdf.count("/Type/Page\n") + pdf.count("/Type /Page>"),
                 qsizetype(2));
        QVERIFY(pdf.contains("/FontFile"));  // the font travels with the file
        QVERIFY(pdf.contains("/ToUnicode")); // and the text can be copied and searched
        QVERIFY(!pdf.contains("/Subtype /Image"));
        QVERIFY(pdf.contains("595") && pdf.contains("842")); // A4 media box
    }

    void nothingPaintedKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.pdf"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        QVERIFY_THROWS_EXCEPTION(Error, writePdf(path, virtualPageMetrics(), [](QPrinter &) { return 0; }));
        QCOMPARE(readAll(path), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), qsizetype(1));
        QVERIFY_THROWS_EXCEPTION(
            Error, writePdf(dir.filePath(QStringLiteral("no/such.pdf")), virtualPageMetrics(), paintTwoPages));
    }

    void aFullDiskKeepsTheOldFileAndSaysSo()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("报表.pdf"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        {
            lianbu::test::FileSizeLimit full(2048); // the embedded font alone is larger
            QVERIFY(full.isValid());
            try {
                writePdf(path, virtualPageMetrics(), paintTwoPages);
                QFAIL("a PDF cut short was accepted");
            } catch (const Error &error) {
                QVERIFY2(error.message().contains(QStringLiteral("没有写完整")), qPrintable(error.message()));
            }
        }
        QCOMPARE(readAll(path), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), qsizetype(1));
    }

    void aFileWithAPieceMissingIsNotComplete()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.pdf"));
        QCOMPARE(writePdf(path, virtualPageMetrics(), paintTwoPages), 2);
        QVERIFY(pdfFileComplete(path));
        const QByteArray whole = readAll(path);
        QVERIFY2(whole.size() > 6000, qPrintable(QString::number(whole.size())));
        auto check = [&](const QByteArray &bytes) {
            const QString other = dir.filePath(QStringLiteral("b.pdf"));
            QFile file(other);
            file.open(QIODevice::WriteOnly);
            file.write(bytes);
            file.close();
            return pdfFileComplete(other);
        };
        QVERIFY(check(whole));
        QVERIFY(!check(whole.left(whole.size() / 2)));       // cut short
        QVERIFY(!check(whole.left(whole.size() - 3)));       // its last line lost
        QVERIFY(!check(whole.left(1000) + whole.mid(5000))); // a write lost in the middle
        QVERIFY(!check(QByteArray()));
    }
};

QTEST_MAIN(TestPdfOutput)
#include "test_pdf_output.moc"
