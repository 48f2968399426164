#include "grid/DataGrid.h"
#include "grid/ColumnLayoutFile.h"

#include "platform/Error.h"
#include "platform/Gbk.h"
#include "platform/Profile.h"

#include <QFile>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace lianbu;
using namespace lianbu::gridlayout;

namespace {

const QString kSection = QStringLiteral("lianbugrid");
const char *const kFields[] = {"a", "b", "c", "d", "e", "f", "g"};
// Assigned widths; 0 leaves the grid's default width.
const int kWidths[] = {0, 0, 50, 30, 55, 70, 70};

std::unique_ptr<DataGrid> makeGrid(bool fit = false)
{
    auto grid = std::make_unique<DataGrid>();
    grid->setObjectName(QStringLiteral("DBGridEh1"));
    grid->resize(600, 300);
    grid->beginLayout();
    for (int i = 0; i < 7; ++i) {
        GridColumn *column = grid->columns()->add(QString::fromLatin1(kFields[i]));
        if (kWidths[i] > 0)
            column->setWidth(kWidths[i]);
    }
    grid->setAutoFitColWidths(fit);
    grid->endLayout();
    return grid;
}

QStringList order(const DataGrid &grid)
{
    QStringList names;
    for (int i = 0; i < grid.columns()->count(); ++i)
        names << grid.columns()->items(i)->fieldName();
    return names;
}

QList<int> widths(const DataGrid &grid)
{
    QList<int> list;
    for (int i = 0; i < grid.columns()->count(); ++i)
        list << grid.columns()->items(i)->width();
    return list;
}

GridColumn *col(const DataGrid &grid, const char *field)
{
    return grid.columns()->findByFieldName(QString::fromLatin1(field));
}

// Everything a restore may change, for "nothing changed" comparisons.
QString snapshot(const DataGrid &grid, bool withAssigned = true)
{
    QStringList parts;
    for (int i = 0; i < grid.columns()->count(); ++i) {
        const GridColumn *c = grid.columns()->items(i);
        parts << QStringLiteral("%1:%2/%3/%4/%5/%6/%7/%8")
                     .arg(c->fieldName())
                     .arg(c->width())
                     .arg(withAssigned ? int(c->widthAssigned()) : -1)
                     .arg(int(c->title()->sortMarker()))
                     .arg(c->visible())
                     .arg(c->title()->sortIndex())
                     .arg(c->dropDownRows())
                     .arg(c->dropDownWidth());
    }
    parts << QStringLiteral("rows %1,%2").arg(grid.rowHeight()).arg(grid.rowLines());
    return parts.join(QLatin1Char(' '));
}

void writeRaw(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readRaw(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

constexpr LayoutRestoreOptions kAll = LayoutRestoreOptions(AllRestoreOptions);

} // namespace

class TestGridLayout : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_file = m_dir.filePath(QStringLiteral("lianbu.ini"));
        QFile::remove(m_file);
    }

    void optionBitsAreTheStoredOnes()
    {
        QCOMPARE(unsigned(RestoreColumnOrder), 1u);
        QCOMPARE(unsigned(RestoreColumnWidths), 2u);
        QCOMPARE(unsigned(RestoreSortMarkers), 4u);
        QCOMPARE(unsigned(RestoreColumnVisibility), 8u);
        QCOMPARE(unsigned(RestoreRowHeight), 16u);
        QCOMPARE(unsigned(RestoreDropDownRows), 32u);
        QCOMPARE(unsigned(RestoreDropDownWidth), 64u);
        QCOMPARE(unsigned(kAll.toInt()), 127u);
    }

    void wordsSplitOnSingleByteSeparatorsOnly()
    {
        QCOMPARE(splitWords("0, 80,,0"), (QList<QByteArray>{"0", "80", "0"}));
        QCOMPARE(splitWords(" ,, "), QList<QByteArray>{});
        QCOMPARE(splitWords("1,2,3,4,5,6,7").size(), 7);
        // A lead byte takes the next byte with it, even a comma or a blank.
        QCOMPARE(splitWords("\x81,5"), QList<QByteArray>{"\x81,5"});
        QCOMPARE(splitWords("3,\x81 7,9"), (QList<QByteArray>{"3", "\x81 7", "9"}));
        // A lead byte at the very end stands alone.
        QCOMPARE(splitWords("4,\xB5"), (QList<QByteArray>{"4", "\xB5"}));
        // Chinese text between separators is one word per run.
        const QByteArray gbk = gbk::encode(QStringLiteral("电话,12 地址"));
        const QList<QByteArray> words = splitWords(gbk);
        QCOMPARE(words.size(), 3);
        QCOMPARE(gbk::decode(words.at(0)), QStringLiteral("电话"));
        QCOMPARE(words.at(1), QByteArray("12"));
        QCOMPARE(gbk::decode(words.at(2)), QStringLiteral("地址"));
    }

    void wordsConvertAsSigned32BitIntegers()
    {
        QCOMPARE(wordAsInt(QStringLiteral("0, 80,,0"), 1, -9), 0);
        QCOMPARE(wordAsInt(QStringLiteral("0, 80,,0"), 2, -9), 80);
        QCOMPARE(wordAsInt(QStringLiteral("0, 80,,0"), 3, -9), 0);
        QCOMPARE(wordAsInt(QStringLiteral("0, 80,,0"), 4, -9), -9); // missing
        QCOMPARE(wordAsInt(QStringLiteral("-5,+6"), 1, 0), -5);
        QCOMPARE(wordAsInt(QStringLiteral("-5,+6"), 2, 0), 6);
        QCOMPARE(wordAsInt(QStringLiteral("2147483647,-2147483648"), 1, 0), 2147483647);
        QCOMPARE(wordAsInt(QStringLiteral("2147483647,-2147483648"), 2, 0), int(-2147483648LL));
        QCOMPARE(wordAsInt(QStringLiteral("2147483648"), 1, 7), 7);  // out of range
        QCOMPARE(wordAsInt(QStringLiteral("-2147483649"), 1, 7), 7); // out of range
        QCOMPARE(wordAsInt(QStringLiteral("99999999999999999999"), 1, 7), 7);
        QCOMPARE(wordAsInt(QStringLiteral("12x,-,+"), 1, 7), 7);
        QCOMPARE(wordAsInt(QStringLiteral("12x,-,+"), 2, 7), 7);
        QCOMPARE(wordAsInt(QStringLiteral("12x,-,+"), 3, 7), 7);
        QCOMPARE(wordAsInt(QStringLiteral("1.5"), 1, 7), 7);
        // A Chinese word is not an integer but still counts as a word.
        QCOMPARE(wordAsInt(QStringLiteral("电话,12"), 1, 7), 7);
        QCOMPARE(wordAsInt(QStringLiteral("电话,12"), 2, 7), 12);
        QCOMPARE(wordAsInt(QStringLiteral("3"), 0, 7), 7);
    }

    void restoringWithoutAFileChangesNothing()
    {
        auto grid = makeGrid();
        const QString before = snapshot(*grid);
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(snapshot(*grid), before);
        QCOMPARE(order(*grid), (QStringList{"a", "b", "c", "d", "e", "f", "g"}));
        QVERIFY(!QFile::exists(m_file));
        // a missing folder, another section of an existing file: the same
        grid->restoreLayoutFromIni(m_dir.filePath(QStringLiteral("nowhere/lianbu.ini")), kSection, kAll);
        writeRaw(m_file, "[other]\r\nDBGridEh1.c=0,9,1,0,1,7,0\r\n");
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(snapshot(*grid), before);
        QVERIFY(!col(*grid, "a")->widthAssigned());
    }

    void theExampleLineMovesResizesAndHides()
    {
        auto grid = makeGrid();
        // as saved after b was moved in front of a
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.a=1,64,0,1,0,7,0\r\nDBGridEh1.b=0,80,0,0,0,7,0\r\n");
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(order(*grid), (QStringList{"b", "a", "c", "d", "e", "f", "g"}));
        GridColumn *b = col(*grid, "b");
        QCOMPARE(b->width(), 80);
        QVERIFY(!b->visible());
        QCOMPARE(b->title()->sortMarker(), SortMarker::None);
        QCOMPARE(b->title()->sortIndex(), 0);
        QCOMPARE(b->dropDownRows(), 7);
        QCOMPARE(b->dropDownWidth(), 0);
        QVERIFY(grid->titleHeader()->isSectionHidden(0));
    }

    void aSingleWordOnlyMovesTheColumn()
    {
        auto grid = makeGrid();
        col(*grid, "a")->title()->setSortMarker(SortMarker::Up);
        const int width = col(*grid, "a")->width();
        writeRaw(m_file, "[lianbugrid]\r\ndbgrideh1.A=3\r\n"); // names match without case
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(order(*grid), (QStringList{"b", "c", "d", "a", "e", "f", "g"}));
        GridColumn *a = col(*grid, "a");
        QCOMPARE(a->width(), width);
        QVERIFY(!a->widthAssigned());
        QVERIFY(a->visible());
        QCOMPARE(a->title()->sortMarker(), SortMarker::Up);
        QCOMPARE(a->title()->sortIndex(), 1);
    }

    void theEarlierColumnWinsAClaimedPosition()
    {
        auto grid = makeGrid();
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.e=0\r\nDBGridEh1.c=0\r\nDBGridEh1.a=1\r\n"
                         "DBGridEh1.b=2\r\nDBGridEh1.d=3\r\nDBGridEh1.f=5\r\nDBGridEh1.g=6\r\n");
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        // c stands before e in the grid, so c takes position 0; e is never moved itself.
        QCOMPARE(order(*grid), (QStringList{"c", "a", "b", "d", "e", "f", "g"}));
    }

    void aStoredPermutationComesBackExactly()
    {
        auto grid = makeGrid();
        const QStringList wanted{"g", "e", "a", "f", "c", "b", "d"};
        QByteArray text = "[lianbugrid]\r\n";
        for (int i = 0; i < wanted.size(); ++i)
            text += "DBGridEh1." + wanted[i].toLatin1() + '=' + QByteArray::number(i) + "\r\n";
        writeRaw(m_file, text);
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(order(*grid), wanted);
        // without the order option the positions are read but not applied
        auto other = makeGrid();
        other->restoreLayoutFromIni(m_file, kSection, kAll & ~LayoutRestoreOptions(RestoreColumnOrder));
        QCOMPARE(order(*other), (QStringList{"a", "b", "c", "d", "e", "f", "g"}));
    }

    void unknownKeysAreIgnoredAndKept()
    {
        auto grid = makeGrid();
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.x=0,10,1,0,1,3,3\r\nDBGridEh1.d=0\r\n"
                         "DBGridEh1.a=1\r\nDBGridEh1.b=2\r\nDBGridEh1.c=3\r\n"
                         "OtherGrid.a=0,10,1,0,1,3,3\r\n");
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(order(*grid), (QStringList{"d", "a", "b", "c", "e", "f", "g"}));
        QCOMPARE(col(*grid, "a")->title()->sortMarker(), SortMarker::None);
        grid->saveLayoutToIni(m_file, kSection, false);
        QCOMPARE(profileString(m_file, kSection, QStringLiteral("DBGridEh1.x")), QStringLiteral("0,10,1,0,1,3,3"));
        QCOMPARE(profileString(m_file, kSection, QStringLiteral("OtherGrid.a")), QStringLiteral("0,10,1,0,1,3,3"));
        // erasing the section first leaves only this grid's entries
        grid->saveLayoutToIni(m_file, kSection, true);
        QVERIFY(profileString(m_file, kSection, QStringLiteral("DBGridEh1.x")).isEmpty());
        QCOMPARE(profileKeys(m_file, kSection).size(), 8);
    }

    void missingAndDamagedWordsKeepTheCurrentValues()
    {
        auto grid = makeGrid();
        GridColumn *c = col(*grid, "c");
        c->setDropDownRows(9);
        c->setDropDownWidth(120);
        col(*grid, "f")->title()->setSortMarker(SortMarker::Down);
        writeRaw(m_file,
                 gbk::encode(QStringLiteral("[lianbugrid]\r\n"
                                            "DBGridEh1.c=电,话 ,x,0\r\n"          // only visibility is valid
                                            "DBGridEh1.d= 5 , ,,40,2,1,,,\r\n"    // blanks and empty fields skipped
                                            "DBGridEh1.e=2,-5,7,2,0,-1,-2\r\n"    // never-written values
                                            "DBGridEh1.f=-1,999999999999\r\n"))); // negative position, too wide
        const int cWidth = c->width();
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        // c: words 1-3 are not integers, word 4 = 0 hides it
        QCOMPARE(c->width(), cWidth);
        QVERIFY(!c->visible());
        QCOMPARE(c->dropDownRows(), 9);
        QCOMPARE(c->dropDownWidth(), 120);
        // d: words 5, 40, 2, 1 → position 5, width 40, up marker, visible
        GridColumn *d = col(*grid, "d");
        QCOMPARE(d->width(), 40);
        QCOMPARE(d->title()->sortMarker(), SortMarker::Up);
        QCOMPARE(d->title()->sortIndex(), 1);
        // the marker moved to d: single-column sorting took it from f
        QCOMPARE(col(*grid, "f")->title()->sortMarker(), SortMarker::None);
        // e: negative width, marker 7 and visibility 2 are ignored; negative drop-downs too
        GridColumn *e = col(*grid, "e");
        QCOMPARE(e->width(), 55);
        QCOMPARE(e->title()->sortMarker(), SortMarker::None);
        QVERIFY(e->visible());
        QCOMPARE(e->dropDownRows(), 7);
        QCOMPARE(e->dropDownWidth(), 0);
        // order: c (by default) and e both want position 2, c stands first and keeps it;
        // d goes to 5; f's -1 never moves it
        QCOMPARE(order(*grid), (QStringList{"a", "b", "c", "e", "f", "d", "g"}));
        QCOMPARE(col(*grid, "f")->width(), 70);
    }

    void eachOptionAppliesOnlyItsWords()
    {
        // a gives up position 0 (an entry without one would keep it and win it).
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.a=6\r\nDBGridEh1.g=0,33,2,0,1,12,150\r\n"
                         "(Default)=25,2\r\n");
        struct Case
        {
            LayoutRestoreOption option;
            QString changed;
        };
        const QList<Case> cases{{RestoreColumnOrder, "order"},    {RestoreColumnWidths, "width"},
                                {RestoreSortMarkers, "marker"},   {RestoreColumnVisibility, "visible"},
                                {RestoreRowHeight, "rows"},       {RestoreDropDownRows, "ddrows"},
                                {RestoreDropDownWidth, "ddwidth"}};
        for (const Case &cs : cases) {
            auto grid = makeGrid();
            grid->setRowHeight(4);
            grid->setRowLines(1);
            grid->restoreLayoutFromIni(m_file, kSection, LayoutRestoreOptions(cs.option));
            GridColumn *g = col(*grid, "g");
            QStringList changed;
            if (g->index() == 0)
                changed << "order";
            if (g->width() == 33)
                changed << "width";
            if (g->title()->sortMarker() == SortMarker::Up && g->title()->sortIndex() == 1)
                changed << "marker";
            if (!g->visible())
                changed << "visible";
            if (grid->rowHeight() == 25 && grid->rowLines() == 2)
                changed << "rows";
            if (g->dropDownRows() == 12)
                changed << "ddrows";
            if (g->dropDownWidth() == 150)
                changed << "ddwidth";
            QVERIFY2(changed == QStringList{cs.changed}, qPrintable(cs.changed + ": " + changed.join(',')));
        }
    }

    void theGridEntrySetsRowHeightAndLines()
    {
        auto grid = makeGrid();
        grid->setRowHeight(20);
        grid->setRowLines(3);
        // no grid entry: both become 0
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.a=0\r\n");
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(grid->rowHeight(), 0);
        QCOMPARE(grid->rowLines(), 0);
        writeRaw(m_file, "[lianbugrid]\r\n(default)=22,2\r\n");
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(grid->rowHeight(), 22);
        QCOMPARE(grid->rowLines(), 2);
        writeRaw(m_file, "[lianbugrid]\r\n(Default)=-4,-1\r\n");
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(grid->rowHeight(), 0);
        QCOMPARE(grid->rowLines(), 0);
        writeRaw(m_file, "[lianbugrid]\r\n(Default)=18\r\n");
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(grid->rowHeight(), 18);
        QCOMPARE(grid->rowLines(), 0);
    }

    void sortIndexesAreExchangedOnlyForMarkedColumns()
    {
        auto grid = makeGrid();
        GridColumn *b = col(*grid, "b");
        GridColumn *c = col(*grid, "c");
        GridColumn *d = col(*grid, "d");
        b->title()->setSortMarker(SortMarker::Down); // index 1
        c->title()->setSortIndex(2);                 // a rank without a marker
        // b keeps its marker (word 3 damaged) and wants rank 2: it exchanges with c.
        // d has no marker and wants rank 1: it keeps 0.
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.b=1,64,x,1,2\r\nDBGridEh1.d=3,30,0,1,1\r\n");
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(b->title()->sortIndex(), 2);
        QCOMPARE(c->title()->sortIndex(), 1);
        QCOMPARE(d->title()->sortIndex(), 0);
        QCOMPARE(b->title()->sortMarker(), SortMarker::Down);

        // A wanted rank that no column holds, or a negative one, leaves the index alone.
        auto other = makeGrid();
        GridColumn *e = col(*other, "e");
        e->title()->setSortMarker(SortMarker::Up);
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.e=4,55,2,1,5\r\n");
        other->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(e->title()->sortIndex(), 1);
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.e=4,55,2,1,-3\r\n");
        other->restoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(e->title()->sortIndex(), 1);
        QCOMPARE(e->title()->sortMarker(), SortMarker::Up);
    }

    void saveWritesOneLinePerColumnAndTheGridEntryLast()
    {
        auto grid = makeGrid();
        grid->columns()->move(6, 0); // g first
        col(*grid, "d")->setVisible(false);
        col(*grid, "c")->title()->setSortMarker(SortMarker::Down);
        col(*grid, "e")->setDropDownRows(11);
        col(*grid, "e")->setDropDownWidth(90);
        grid->setRowHeight(3);
        grid->setRowLines(2);
        grid->saveLayoutToIni(m_file, kSection, false);
        QCOMPARE(profileKeys(m_file, kSection),
                 (QStringList{"DBGridEh1.g", "DBGridEh1.a", "DBGridEh1.b", "DBGridEh1.c", "DBGridEh1.d", "DBGridEh1.e",
                              "DBGridEh1.f", "(Default)"}));
        const int aWidth = col(*grid, "a")->width();
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.g"), QStringLiteral("0,70,0,1,0,7,0"));
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.a"), QStringLiteral("1,%1,0,1,0,7,0").arg(aWidth));
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.c"), QStringLiteral("3,50,1,1,1,7,0"));
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.d"), QStringLiteral("4,30,0,0,0,7,0"));
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.e"), QStringLiteral("5,55,0,1,0,11,90"));
        QCOMPARE(profileString(m_file, kSection, "(Default)"), QStringLiteral("3,2"));

        // A second save replaces the lines in place: same line count, new values.
        const QByteArray first = readRaw(m_file);
        grid->columns()->move(0, 6);
        grid->saveLayoutToIni(m_file, kSection, false);
        const QByteArray second = readRaw(m_file);
        QCOMPARE(second.count("\r\n"), first.count("\r\n"));
        QCOMPARE(second.count("DBGridEh1.g="), 1);
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.g"), QStringLiteral("6,70,0,1,0,7,0"));
        // plain ASCII, CR LF lines
        for (char ch : second)
            QVERIFY(uchar(ch) < 0x80);
        QVERIFY(second.startsWith("[lianbugrid]\r\nDBGridEh1.g="));
    }

    void saveThenRestoreRoundTrip()
    {
        auto grid = makeGrid();
        grid->columns()->move(6, 0);
        grid->columns()->move(3, 5);
        col(*grid, "b")->setWidth(120);
        col(*grid, "a")->setVisible(false);
        col(*grid, "e")->setVisible(false);
        col(*grid, "c")->title()->setSortMarker(SortMarker::Up);
        col(*grid, "f")->setDropDownRows(3);
        grid->setRowHeight(6);
        grid->saveLayoutToIni(m_file, kSection, false);
        const QString saved = snapshot(*grid, false);

        auto restored = makeGrid();
        restored->restoreLayoutFromIni(m_file, kSection, kAll);
        // widths go in as assigned widths; everything else matches exactly
        for (int i = 0; i < restored->columns()->count(); ++i)
            QVERIFY(restored->columns()->items(i)->widthAssigned());
        QCOMPARE(order(*restored), order(*grid));
        QCOMPARE(widths(*restored), widths(*grid));
        QCOMPARE(snapshot(*restored, false), saved);
    }

    void fittedWidthsComeBackFitted()
    {
        auto grid = makeGrid(true);
        grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
        const int client = grid->view()->viewport()->width();
        col(*grid, "b")->setWidth(200);
        col(*grid, "d")->setVisible(false);
        int sum = 0;
        for (GridColumn *c : grid->visibleColumns())
            sum += c->width();
        QCOMPARE(sum, client);
        const QList<int> fitted = widths(*grid);
        grid->saveLayoutToIni(m_file, kSection, false);
        // the stored widths are the fitted ones the operator saw
        QCOMPARE(wordAsInt(profileString(m_file, kSection, "DBGridEh1.b"), 2, -1), fitted.at(1));

        auto restored = makeGrid(true);
        restored->show();
        QVERIFY(QTest::qWaitForWindowExposed(restored.get()));
        restored->restoreLayoutFromIni(m_file, kSection, kAll);
        QVERIFY(restored->autoFitColWidths());
        QCOMPARE(widths(*restored), fitted);
        // the restored widths are the base widths: switching fitting off shows them unchanged
        restored->setAutoFitColWidths(false);
        QCOMPARE(widths(*restored), fitted);
        // and a fitted grid of another size spreads them in proportion
        auto narrow = makeGrid(true);
        narrow->resize(300, 300);
        narrow->show();
        QVERIFY(QTest::qWaitForWindowExposed(narrow.get()));
        narrow->restoreLayoutFromIni(m_file, kSection, kAll);
        int narrowSum = 0;
        for (GridColumn *c : narrow->visibleColumns())
            narrowSum += c->width();
        QCOMPARE(narrowSum, narrow->view()->viewport()->width());
        QVERIFY(col(*narrow, "b")->width() > col(*narrow, "c")->width() * 2);
        QCOMPARE(col(*narrow, "b")->baseWidth(), fitted.at(1));
    }

    void widthsWithoutFittingAreTakenAsStored()
    {
        auto grid = makeGrid(false);
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.a=0,17\r\nDBGridEh1.c=2,0\r\nDBGridEh1.g=6,400\r\n");
        grid->restoreLayoutFromIni(m_file, kSection, kAll);
        QVERIFY(!grid->autoFitColWidths());
        QCOMPARE(col(*grid, "a")->width(), 17);
        QCOMPARE(col(*grid, "c")->width(), 0);
        QCOMPARE(col(*grid, "g")->width(), 400);
        QCOMPARE(grid->titleHeader()->sectionSize(6), 400);
    }

    void aFailedSaveKeepsEarlierEntriesAndTheGrid()
    {
        // missing folder: nothing is written, the error names the file
        auto grid = makeGrid();
        const QString missing = m_dir.filePath(QStringLiteral("absent/lianbu.ini"));
        const QString before = snapshot(*grid);
        try {
            grid->saveLayoutToIni(missing, kSection, false);
            QFAIL("no error");
        } catch (const Error &e) {
            QCOMPARE(e.message(), QStringLiteral("Unable to write to ") + missing);
        }
        QVERIFY(!QFile::exists(missing));
        QCOMPARE(snapshot(*grid), before);

        // A column whose key cannot be stored stops the save there; entries written before it
        // stay, later ones keep their old values.
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.f=9,9,9,9,9,9,9\r\n");
        grid->columns()->items(3)->setFieldName(QStringLiteral("d=x"));
        const QString before2 = snapshot(*grid);
        try {
            grid->saveLayoutToIni(m_file, kSection, false);
            QFAIL("no error");
        } catch (const Error &e) {
            QCOMPARE(e.message(), QStringLiteral("Unable to write to ") + m_file);
        }
        QCOMPARE(snapshot(*grid), before2);
        QCOMPARE(profileKeys(m_file, kSection),
                 (QStringList{"DBGridEh1.f", "DBGridEh1.a", "DBGridEh1.b", "DBGridEh1.c"}));
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.f"), QStringLiteral("9,9,9,9,9,9,9"));
        QVERIFY(profileString(m_file, kSection, "(Default)").isEmpty());
    }

private:
    QTemporaryDir m_dir;
    QString m_file;
};

QTEST_MAIN(TestGridLayout)
#include "test_grid_layout.moc"
