// The arithmetic of the printed report: page geometry, factors, widths and fitting, column
// blocks, macros, margin texts, the preview's zoom sizes and toolbar looks.
#include "printing/PrintLayout.h"
#include "printing/PrintSettingsDialog.h"
#include "printing/PrintPreviewWindow.h"

#include <QTest>

#include <numeric>

using namespace lianbu::printing;

class TestPrintLayout : public QObject
{
    Q_OBJECT

private slots:
    void virtualPageBody()
    {
        const PrinterMetrics m = virtualPageMetrics();
        QCOMPARE(m.dpiX, 600);
        QCOMPARE(m.paperWidth(), 4676 + 260);
        QCOMPARE(m.paperHeight(), 6744 + 300);
        // 2 cm margins: round(600 * 2 / 2.54) = 472
        const QRect body = pageBody(m, PageMargins{2, 2, 2, 2}, marginDivisor(true));
        QCOMPARE(body.left(), 472 - 130);
        QCOMPARE(body.top(), 472 - 150);
        QCOMPARE(body.left() + body.width(), 4676 + 130 - 472);
        QCOMPARE(body.top() + body.height(), 6744 + 150 - 472);
        // inches: 1 inch = 600 dots; unequal margins land on their own sides
        const QRect inches = pageBody(m, PageMargins{0.5, 1, 0.25, 1.5}, marginDivisor(false));
        QCOMPARE(inches.left(), 150 - 130);
        QCOMPARE(inches.top(), 300 - 150);
        QCOMPARE(inches.left() + inches.width(), 4676 + 130 - 900);
        QCOMPARE(inches.top() + inches.height(), 6744 + 150 - 600);
    }

    void factorsAndInsets()
    {
        QCOMPARE(screenToPrinterFactor(96, 600), 6.25);
        QCOMPARE(screenToPrinterFactor(600, 96), 6.25);
        QCOMPARE(screenToPrinterFactor(300, 300), 1.0);
        const CellInsets flat = cellInsets(6.25, 6.25, true);
        QCOMPARE(flat.horizontal, 13); // round(12.5)
        QCOMPARE(flat.line, 6);
        QCOMPARE(flat.vertical, 6);
        QCOMPARE(cellInsets(6.25, 6.25, false).vertical, 13);
        QCOMPARE(printedColumnWidth(99, 6.25), 625);
        QCOMPARE(printedColumnWidth(0, 6.25), 6);
    }

    void fitByScaling()
    {
        // wider than the body: scaled so widths + one line exactly fill it
        const QList<int> wide{3000, 2000, 1000};
        const double k = fitScale(wide, 6, 3992);
        QVERIFY(k < 1.0);
        QVERIFY(qAbs((6006) * k - 3992) < 1e-6);
        // narrower: never enlarged
        QCOMPARE(fitScale({1000, 1000}, 6, 3992), 1.0);
        QCOMPARE(fitScale({3986}, 6, 3992), 1.0);
        QVERIFY(fitScale({3987}, 6, 3992) < 1.0);
    }

    void fitByColumnWidths()
    {
        const QList<int> widths{1000, 2000, 3001};
        const QList<int> fitted = fitColumnWidths(widths, 3992, 600, 600);
        QCOMPARE(fitted.size(), 3);
        // a = round(1200 / 200) = 6: the columns fill body - a exactly, the last takes the rest
        QCOMPARE(std::accumulate(fitted.begin(), fitted.end(), 0), 3992 - 6);
        QCOMPARE(fitted[0], int(1000LL * 3986 / 6001));
        QCOMPARE(fitted[1], int(2000LL * 3986 / 6001));
        // widths that fit are left alone
        QCOMPARE(fitColumnWidths({100, 200}, 3992, 600, 600), (QList<int>{100, 200}));
    }

    void columnBlocksSplitAtTheRightEdge()
    {
        QList<int> widths{1500, 1500, 1500, 5000, 800, 800};
        const QList<QList<int>> blocks = columnBlocks(widths, 4000);
        QCOMPARE(blocks, (QList<QList<int>>{{0, 1}, {2}, {3}, {4, 5}}));
        QCOMPARE(widths[3], 4000); // a column wider than the body is cut to it
        QList<int> fits{1000, 1000};
        QCOMPARE(columnBlocks(fits, 4000).size(), 1);
        QList<int> none;
        QVERIFY(columnBlocks(none, 4000).isEmpty());
    }

    void macros()
    {
        MacroValues v;
        v.page = 3;
        v.pages = 12;
        v.date = QDate(2010, 8, 15);
        v.time = QTime(9, 5, 7);
        QCOMPARE(expandMacros(QStringLiteral("Page. &[Page]"), v), QStringLiteral("Page. 3"));
        QCOMPARE(expandMacros(QStringLiteral("&[Page]/&[Pages]"), v), QStringLiteral("3/12"));
        QCOMPARE(expandMacros(QStringLiteral("&[page] &[PAGES] &[pAgE]"), v), QStringLiteral("3 12 3"));
        QCOMPARE(expandMacros(QStringLiteral("&&[Page] and &[Page]"), v), QStringLiteral("&&[Page] and 3"));
        QCOMPARE(expandMacros(QStringLiteral("&&[pages]"), v), QStringLiteral("&&[pages]"));
        QCOMPARE(expandMacros(QStringLiteral("&[ShortDate] &[Date] &[Time]"), v),
                 QStringLiteral("2010-08-15 2010-08-15 9:05:07"));
        QVERIFY(expandMacros(QStringLiteral("&[LongDate]"), v).contains(QStringLiteral("2010")));
        QCOMPARE(expandMacros(QStringLiteral("R&D & [Page] &[Unknown]"), v), QStringLiteral("R&D & [Page] &[Unknown]"));
        QCOMPARE(expandMacros(QStringLiteral("&"), v), QStringLiteral("&"));
        // the counting pass is asked for by the exact spelling only
        QVERIFY(asksForPageCount(QStringLiteral("of &[Pages]")));
        QVERIFY(!asksForPageCount(QStringLiteral("of &[pages]")));
        QVERIFY(!asksForPageCount(QStringLiteral("&[Page]")));
    }

    void printFonts()
    {
        QFont points(QStringLiteral("MS Sans Serif"));
        points.setPointSize(8);
        const QFont p = printFont(points, QStringLiteral("Arial"), 600, 6.25);
        QCOMPARE(p.pixelSize(), 67); // 8 pt at 600 dpi
        QCOMPARE(p.families().value(0), QStringLiteral("Arial"));
        QFont pixels(QStringLiteral("宋体"));
        pixels.setPixelSize(14);
        pixels.setBold(true);
        const QFont q = printFont(pixels, QString(), 600, 6.25);
        QCOMPARE(q.pixelSize(), 88); // 14 screen px * 6.25
        QVERIFY(q.bold());
        QCOMPARE(q.family(), pixels.family());
    }

    void marginTexts()
    {
        QCOMPARE(parseMargin(QStringLiteral(" 2.5 ")).value_or(-1), 2.5);
        QCOMPARE(parseMargin(QStringLiteral("1.23456")).value_or(-1), 1.2346);
        QVERIFY(!parseMargin(QStringLiteral("abc")).has_value());
        QVERIFY(!parseMargin(QString()).has_value());
        QVERIFY(!parseMargin(QStringLiteral("1.5cm")).has_value());
        QCOMPARE(marginText(2.0), QStringLiteral("2"));
        QCOMPARE(marginText(1.75), QStringLiteral("1.75"));
    }

    void zoomSizes()
    {
        const QSizeF a4(8.27, 11.69);
        const QSize view(1000, 700);
        QCOMPARE(PageViewGeometry::pageSize(ZoomMode::z100, a4, view, 96, 15), a4 * 96);
        QCOMPARE(PageViewGeometry::pageSize(ZoomMode::z25, a4, view, 96, 15), a4 * 96 * 0.25);
        QCOMPARE(PageViewGeometry::pageSize(ZoomMode::z500, a4, view, 96, 15), a4 * 96 * 5);
        const QSizeF width = PageViewGeometry::pageSize(ZoomMode::PageWidth, a4, view, 96, 15);
        QCOMPARE(width.width(), 1000.0 - 15 - 20);
        QVERIFY(qAbs(width.height() / width.width() - 11.69 / 8.27) < 1e-9);
        const QSizeF full = PageViewGeometry::pageSize(ZoomMode::FullPage, a4, view, 96, 15);
        QVERIFY(qAbs(full.height() - (700 - 16)) < 1e-9); // a tall page fills the height
        QVERIFY(full.width() < 1000 - 16);
        const QSizeF fullWide = PageViewGeometry::pageSize(ZoomMode::FullPage, a4, QSize(300, 2000), 96, 15);
        QVERIFY(qAbs(fullWide.width() - (300 - 16)) < 1e-9);
    }

    void toolbarLooks()
    {
        using L = ToolbarLook;
        QCOMPARE(nextToolbarLook(L::IconsAndCaptions, 42), L::IconsAndCaptions);
        QCOMPARE(nextToolbarLook(L::IconsAndCaptions, 41), L::IconsOnly);
        QCOMPARE(nextToolbarLook(L::IconsAndCaptions, 10), L::IconsOnly);
        QCOMPARE(nextToolbarLook(L::IconsOnly, 25), L::IconsOnly);
        QCOMPARE(nextToolbarLook(L::IconsOnly, 24), L::CaptionsOnly);
        QCOMPARE(nextToolbarLook(L::IconsOnly, 54), L::IconsOnly);
        QCOMPARE(nextToolbarLook(L::IconsOnly, 55), L::IconsAndCaptions);
        QCOMPARE(nextToolbarLook(L::CaptionsOnly, 40), L::CaptionsOnly);
        QCOMPARE(nextToolbarLook(L::CaptionsOnly, 41), L::IconsOnly);
        QCOMPARE(nextToolbarLook(L::CaptionsOnly, 100), L::IconsOnly);
        // each look's own height keeps it
        for (L look : {L::IconsAndCaptions, L::IconsOnly, L::CaptionsOnly})
            QCOMPARE(nextToolbarLook(look, toolbarHeight(look)), look);
    }
};

QTEST_MAIN(TestPrintLayout)
#include "test_printlayout.moc"
