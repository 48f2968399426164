// The preview's PDF file: the paper of the laid-out pages, text as text with its Chinese font
// embedded (no page turned into a picture), the text read back as it was printed, every page of
// the store in its place, and an old file kept when nothing was written.

#include "platform/Error.h"
#include "printing/PageStore.h"
#include "printing/PdfOutput.h"
#include "printing/PdfTextMaps.h"
#include "printing/ReportText.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/PdfContent.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QPainter>
#include <QPrinter>
#include <QRawFont>
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

// Ideographs the Chinese faces also draw for a radical (金 ⾦, 户 ⼾, 长 ⻓, 门 ⻔, 马 ⻢, 见 ⻅,
// 言 ⾔, 车 ⻋, 一 ⼀, 人 ⼈, 大 ⼤, 日 ⽇, 水 ⽔), beside ones that share nothing.
const QStringList kPrintedWords{QStringLiteral("金华"),   QStringLiteral("客户"),     QStringLiteral("长江"),
                                QStringLiteral("门市部"), QStringLiteral("马鞍山"),   QStringLiteral("见面"),
                                QStringLiteral("言明"),   QStringLiteral("车队"),     QStringLiteral("一人"),
                                QStringLiteral("大日水"), QStringLiteral("统计报表"), QStringLiteral("Room12")};

// The words drawn as the report draws a cell: Latin in the print face, Chinese in its face.
int paintWords(QPrinter &printer)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return 0;
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(14);
    const QFont font = printFont(arial, QString(), printer.resolution(), 1.0);
    for (int i = 0; i < kPrintedWords.size(); ++i)
        layoutText(&painter, font, kPrintedWords.at(i), QRectF(100, 200 + 300 * i, 3000, 300),
                   Qt::AlignLeft | Qt::AlignTop, false);
    painter.end();
    return 1;
}

// A character map as the PDF writer writes it, inside a font dictionary naming `font`.
QByteArray pdfWithMap(const QByteArray &font, const QByteArray &map, bool compressed = false)
{
    return "%PDF-1.4\n7 0 obj\n<< /Type /Font\n/Subtype /Type0\n/BaseFont /" + font
           + "\n/Encoding /Identity-H\n/ToUnicode 15 0 R>>\nendobj\n15 0 obj\n<< /Length 99 "
           + (compressed ? "/Filter /FlateDecode " : "") + ">>\nstream\n/CIDInit /ProcSet findresource begin\n" + map
           + "\nendcmap\nendstream\nendobj\n";
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

    void extractedTextIsWhatWasPrinted()
    {
        if (!QFontDatabase::families().contains(QStringLiteral("Noto Sans CJK SC")))
            QSKIP("the Chinese face of the printed pages is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("words.pdf"));
        QCOMPARE(writePdf(path, virtualPageMetrics(), paintWords), 1);
        QVERIFY(pdfFileComplete(path));
        const QList<test::PdfPage> pages = test::readPdf(path);
        QCOMPARE(pages.size(), qsizetype(1));
        // as printed: no radical in place of an ideograph, no character lost or added
        QCOMPARE(pages.first().texts(), kPrintedWords);
    }

    void radicalsBecomeTheIdeographOfTheirGlyph()
    {
        const QRawFont font = QRawFont::fromFont(QFont(QStringLiteral("Noto Sans CJK SC")));
        if (!QFontDatabase::families().contains(QStringLiteral("Noto Sans CJK SC")) || !font.isValid())
            QSKIP("the Chinese face of the printed pages is not installed");
        const QHash<char16_t, char16_t> map = radicalIdeographs(font);
        QCOMPARE(map.value(0x2FA6), char16_t(0x91D1)); // ⾦ 金
        QCOMPARE(map.value(0x2F3E), char16_t(0x6237)); // ⼾: the simplified face's 户, not 戶
        QCOMPARE(map.value(0x2ED3), char16_t(0x957F)); // ⻓ 长
        QCOMPARE(map.value(0x2F00), char16_t(0x4E00)); // ⼀ 一
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            QVERIFY(it.key() >= 0x2E80 && it.key() <= 0x2FDF);
            QVERIFY((it.value() >= 0x4E00 && it.value() <= 0x9FFF) || (it.value() >= 0x3400 && it.value() <= 0x4DBF));
        }

        // In a file: each destination code that is a radical, in a font's own map, nothing else.
        const QHash<char16_t, char16_t> sc{{0x2FA6, 0x91D1}, {0x2F3E, 0x6237}, {0x2EA7, 0x957F}};
        const QHash<char16_t, char16_t> tc{{0x2F3E, 0x6236}};
        QByteArrayList asked;
        auto mapFor = [&](const QByteArray &name) -> const QHash<char16_t, char16_t> & {
            asked << name;
            return name.startsWith("NotoSansCJKtc") ? tc : sc;
        };
        const QByteArray map1 = "2 beginbfchar\n<2F3E> <2FA6>\n<0003> <2EA7>\nendbfchar\n"
                                "3 beginbfrange\n<0000> <0000> <0000>\n<0004> <0004> <2F3E>\n"
                                "<0005> <0007> <2FA6>\n<0008> <000B> [<2FA6> <0020> <D840DC00> <2ea7>]\nendbfrange";
        QByteArray pdf = pdfWithMap("NotoSansCJKsc-Bold", map1);
        const qsizetype size = pdf.size();
        QCOMPARE(mendTextMaps(&pdf, mapFor), 5);
        QCOMPARE(pdf.size(), size);                            // every offset of the file stays valid
        QVERIFY(pdf.contains("<2F3E> <91D1>\n<0003> <957F>")); // sources stay, destinations change
        QVERIFY(pdf.contains("<0004> <0004> <6237>"));
        QVERIFY(pdf.contains("<0005> <0007> <2FA6>")); // counts up over three glyphs: left
        QVERIFY(pdf.contains("[<91D1> <0020> <D840DC00> <957F>]"));
        QCOMPARE(asked, QByteArrayList{"NotoSansCJKsc-Bold"});

        QByteArray traditional = pdfWithMap("NotoSansCJKtc-Regular", "1 beginbfchar\n<0001> <2F3E>\nendbfchar");
        QCOMPARE(mendTextMaps(&traditional, mapFor), 1);
        QVERIFY(traditional.contains("<0001> <6236>"));

        // A compressed map is not read as text; a file without radicals asks for no font.
        QByteArray packed = pdfWithMap("NotoSansCJKsc-Regular", "1 beginbfchar\n<0001> <2FA6>\nendbfchar", true);
        const QByteArray packedBefore = packed;
        QCOMPARE(mendTextMaps(&packed, mapFor), 0);
        QCOMPARE(packed, packedBefore);
        asked.clear();
        QByteArray plain = pdfWithMap("NotoSansCJKsc-Regular", "1 beginbfchar\n<0001> <91D1>\nendbfchar");
        QCOMPARE(mendTextMaps(&plain, mapFor), 0);
        QVERIFY(asked.isEmpty());
    }

    void everyPageOfTheStoreInItsPlace()
    {
        // More pages than are unpacked ahead of the printer, printed whole and in part.
        PageStore store;
        store.beginDoc();
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(100);
        for (int page = 1; page <= 11; ++page) {
            if (page > 1)
                store.newPage();
            store.canvas()->setFont(font);
            store.canvas()->drawText(QPointF(200, 400), QStringLiteral("Page%1").arg(page));
        }
        store.endDoc();
        QCOMPARE(store.pageCount(), 11);
        QTemporaryDir dir;
        auto printed = [&](int from, int to) {
            const QString path = dir.filePath(QStringLiteral("pages%1-%2.pdf").arg(from).arg(to));
            const int count = writePdf(path, store.metrics(),
                                       [&](QPrinter &printer) { return store.printPages(&printer, from, to); });
            QStringList texts;
            for (const test::PdfPage &page : test::readPdf(path))
                texts << page.texts().join(QLatin1Char(' '));
            return std::pair{count, texts};
        };
        QStringList all;
        for (int page = 1; page <= 11; ++page)
            all << QStringLiteral("Page%1").arg(page);
        QCOMPARE(printed(1, 11), std::pair(11, all));
        QCOMPARE(printed(3, 7), std::pair(5, all.mid(2, 5)));
        QCOMPARE(printed(9, 40), std::pair(3, all.mid(8)));
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
