#include "grid/DBGridEh.h"
#include "grid/DBGridEhLayout.h"

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

std::unique_ptr<TDBGridEh> makeGrid(bool fit = false)
{
    auto grid = std::make_unique<TDBGridEh>();
    grid->setObjectName(QStringLiteral("DBGridEh1"));
    grid->resize(600, 300);
    grid->BeginLayout();
    for (int i = 0; i < 7; ++i) {
        TColumnEh *column = grid->Columns()->Add(QString::fromLatin1(kFields[i]));
        if (kWidths[i] > 0)
            column->setWidth(kWidths[i]);
    }
    grid->setAutoFitColWidths(fit);
    grid->EndLayout();
    return grid;
}

QStringList order(const TDBGridEh &grid)
{
    QStringList names;
    for (int i = 0; i < grid.Columns()->Count(); ++i)
        names << grid.Columns()->Items(i)->FieldName();
    return names;
}

QList<int> widths(const TDBGridEh &grid)
{
    QList<int> list;
    for (int i = 0; i < grid.Columns()->Count(); ++i)
        list << grid.Columns()->Items(i)->Width();
    return list;
}

TColumnEh *col(const TDBGridEh &grid, const char *field)
{
    return grid.Columns()->FindByFieldName(QString::fromLatin1(field));
}

// Everything a restore may change, for "nothing changed" comparisons.
QString snapshot(const TDBGridEh &grid, bool withAssigned = true)
{
    QStringList parts;
    for (int i = 0; i < grid.Columns()->Count(); ++i) {
        const TColumnEh *c = grid.Columns()->Items(i);
        parts << QStringLiteral("%1:%2/%3/%4/%5/%6/%7/%8")
                     .arg(c->FieldName())
                     .arg(c->Width())
                     .arg(withAssigned ? int(c->WidthAssigned()) : -1)
                     .arg(int(c->Title()->SortMarker()))
                     .arg(c->Visible())
                     .arg(c->Title()->SortIndex())
                     .arg(c->DropDownRows())
                     .arg(c->DropDownWidth());
    }
    parts << QStringLiteral("rows %1,%2").arg(grid.RowHeight()).arg(grid.RowLines());
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

constexpr TDBGridEhRestoreOptions kAll = TDBGridEhRestoreOptions(AllRestoreOptions);

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
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(snapshot(*grid), before);
        QCOMPARE(order(*grid), (QStringList{"a", "b", "c", "d", "e", "f", "g"}));
        QVERIFY(!QFile::exists(m_file));
        // a missing folder, another section of an existing file: the same
        grid->RestoreLayoutFromIni(m_dir.filePath(QStringLiteral("nowhere/lianbu.ini")), kSection, kAll);
        writeRaw(m_file, "[other]\r\nDBGridEh1.c=0,9,1,0,1,7,0\r\n");
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(snapshot(*grid), before);
        QVERIFY(!col(*grid, "a")->WidthAssigned());
    }

    void theExampleLineMovesResizesAndHides()
    {
        auto grid = makeGrid();
        // as saved after b was moved in front of a
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.a=1,64,0,1,0,7,0\r\nDBGridEh1.b=0,80,0,0,0,7,0\r\n");
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(order(*grid), (QStringList{"b", "a", "c", "d", "e", "f", "g"}));
        TColumnEh *b = col(*grid, "b");
        QCOMPARE(b->Width(), 80);
        QVERIFY(!b->Visible());
        QCOMPARE(b->Title()->SortMarker(), smNoneEh);
        QCOMPARE(b->Title()->SortIndex(), 0);
        QCOMPARE(b->DropDownRows(), 7);
        QCOMPARE(b->DropDownWidth(), 0);
        QVERIFY(grid->TitleHeader()->isSectionHidden(0));
    }

    void aSingleWordOnlyMovesTheColumn()
    {
        auto grid = makeGrid();
        col(*grid, "a")->Title()->setSortMarker(smUpEh);
        const int width = col(*grid, "a")->Width();
        writeRaw(m_file, "[lianbugrid]\r\ndbgrideh1.A=3\r\n"); // names match without case
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(order(*grid), (QStringList{"b", "c", "d", "a", "e", "f", "g"}));
        TColumnEh *a = col(*grid, "a");
        QCOMPARE(a->Width(), width);
        QVERIFY(!a->WidthAssigned());
        QVERIFY(a->Visible());
        QCOMPARE(a->Title()->SortMarker(), smUpEh);
        QCOMPARE(a->Title()->SortIndex(), 1);
    }

    void theEarlierColumnWinsAClaimedPosition()
    {
        auto grid = makeGrid();
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.e=0\r\nDBGridEh1.c=0\r\nDBGridEh1.a=1\r\n"
                         "DBGridEh1.b=2\r\nDBGridEh1.d=3\r\nDBGridEh1.f=5\r\nDBGridEh1.g=6\r\n");
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
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
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(order(*grid), wanted);
        // without the order option the positions are read but not applied
        auto other = makeGrid();
        other->RestoreLayoutFromIni(m_file, kSection, kAll & ~TDBGridEhRestoreOptions(RestoreColumnOrder));
        QCOMPARE(order(*other), (QStringList{"a", "b", "c", "d", "e", "f", "g"}));
    }

    void unknownKeysAreIgnoredAndKept()
    {
        auto grid = makeGrid();
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.x=0,10,1,0,1,3,3\r\nDBGridEh1.d=0\r\n"
                         "DBGridEh1.a=1\r\nDBGridEh1.b=2\r\nDBGridEh1.c=3\r\n"
                         "OtherGrid.a=0,10,1,0,1,3,3\r\n");
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(order(*grid), (QStringList{"d", "a", "b", "c", "e", "f", "g"}));
        QCOMPARE(col(*grid, "a")->Title()->SortMarker(), smNoneEh);
        grid->SaveLayoutToIni(m_file, kSection, false);
        QCOMPARE(profileString(m_file, kSection, QStringLiteral("DBGridEh1.x")),
                 QStringLiteral("0,10,1,0,1,3,3"));
        QCOMPARE(profileString(m_file, kSection, QStringLiteral("OtherGrid.a")),
                 QStringLiteral("0,10,1,0,1,3,3"));
        // erasing the section first leaves only this grid's entries
        grid->SaveLayoutToIni(m_file, kSection, true);
        QVERIFY(profileString(m_file, kSection, QStringLiteral("DBGridEh1.x")).isEmpty());
        QCOMPARE(profileKeys(m_file, kSection).size(), 8);
    }

    void missingAndDamagedWordsKeepTheCurrentValues()
    {
        auto grid = makeGrid();
        TColumnEh *c = col(*grid, "c");
        c->setDropDownRows(9);
        c->setDropDownWidth(120);
        col(*grid, "f")->Title()->setSortMarker(smDownEh);
        writeRaw(m_file, gbk::encode(QStringLiteral(
                             "[lianbugrid]\r\n"
                             "DBGridEh1.c=电,话 ,x,0\r\n"        // only visibility is valid
                             "DBGridEh1.d= 5 , ,,40,2,1,,,\r\n"   // blanks and empty fields skipped
                             "DBGridEh1.e=2,-5,7,2,0,-1,-2\r\n"   // never-written values
                             "DBGridEh1.f=-1,999999999999\r\n")));  // negative position, too wide
        const int cWidth = c->Width();
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        // c: words 1-3 are not integers, word 4 = 0 hides it
        QCOMPARE(c->Width(), cWidth);
        QVERIFY(!c->Visible());
        QCOMPARE(c->DropDownRows(), 9);
        QCOMPARE(c->DropDownWidth(), 120);
        // d: words 5, 40, 2, 1 → position 5, width 40, up marker, visible
        TColumnEh *d = col(*grid, "d");
        QCOMPARE(d->Width(), 40);
        QCOMPARE(d->Title()->SortMarker(), smUpEh);
        QCOMPARE(d->Title()->SortIndex(), 1);
        // the marker moved to d: single-column sorting took it from f
        QCOMPARE(col(*grid, "f")->Title()->SortMarker(), smNoneEh);
        // e: negative width, marker 7 and visibility 2 are ignored; negative drop-downs too
        TColumnEh *e = col(*grid, "e");
        QCOMPARE(e->Width(), 55);
        QCOMPARE(e->Title()->SortMarker(), smNoneEh);
        QVERIFY(e->Visible());
        QCOMPARE(e->DropDownRows(), 7);
        QCOMPARE(e->DropDownWidth(), 0);
        // order: c (by default) and e both want position 2, c stands first and keeps it;
        // d goes to 5; f's -1 never moves it
        QCOMPARE(order(*grid), (QStringList{"a", "b", "c", "e", "f", "d", "g"}));
        QCOMPARE(col(*grid, "f")->Width(), 70);
    }

    void eachOptionAppliesOnlyItsWords()
    {
        // a gives up position 0 (an entry without one would keep it and win it).
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.a=6\r\nDBGridEh1.g=0,33,2,0,1,12,150\r\n"
                         "(Default)=25,2\r\n");
        struct Case
        {
            TDBGridEhRestoreOption option;
            QString changed;
        };
        const QList<Case> cases{{RestoreColumnOrder, "order"},
                                {RestoreColumnWidths, "width"},
                                {RestoreSortMarkers, "marker"},
                                {RestoreColumnVisibility, "visible"},
                                {RestoreRowHeight, "rows"},
                                {RestoreDropDownRows, "ddrows"},
                                {RestoreDropDownWidth, "ddwidth"}};
        for (const Case &cs : cases) {
            auto grid = makeGrid();
            grid->setRowHeight(4);
            grid->setRowLines(1);
            grid->RestoreLayoutFromIni(m_file, kSection, TDBGridEhRestoreOptions(cs.option));
            TColumnEh *g = col(*grid, "g");
            QStringList changed;
            if (g->Index() == 0)
                changed << "order";
            if (g->Width() == 33)
                changed << "width";
            if (g->Title()->SortMarker() == smUpEh && g->Title()->SortIndex() == 1)
                changed << "marker";
            if (!g->Visible())
                changed << "visible";
            if (grid->RowHeight() == 25 && grid->RowLines() == 2)
                changed << "rows";
            if (g->DropDownRows() == 12)
                changed << "ddrows";
            if (g->DropDownWidth() == 150)
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
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(grid->RowHeight(), 0);
        QCOMPARE(grid->RowLines(), 0);
        writeRaw(m_file, "[lianbugrid]\r\n(default)=22,2\r\n");
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(grid->RowHeight(), 22);
        QCOMPARE(grid->RowLines(), 2);
        writeRaw(m_file, "[lianbugrid]\r\n(Default)=-4,-1\r\n");
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(grid->RowHeight(), 0);
        QCOMPARE(grid->RowLines(), 0);
        writeRaw(m_file, "[lianbugrid]\r\n(Default)=18\r\n");
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(grid->RowHeight(), 18);
        QCOMPARE(grid->RowLines(), 0);
    }

    void sortIndexesAreExchangedOnlyForMarkedColumns()
    {
        auto grid = makeGrid();
        TColumnEh *b = col(*grid, "b");
        TColumnEh *c = col(*grid, "c");
        TColumnEh *d = col(*grid, "d");
        b->Title()->setSortMarker(smDownEh); // index 1
        c->Title()->setSortIndex(2);         // a rank without a marker
        // b keeps its marker (word 3 damaged) and wants rank 2: it exchanges with c.
        // d has no marker and wants rank 1: it keeps 0.
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.b=1,64,x,1,2\r\nDBGridEh1.d=3,30,0,1,1\r\n");
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(b->Title()->SortIndex(), 2);
        QCOMPARE(c->Title()->SortIndex(), 1);
        QCOMPARE(d->Title()->SortIndex(), 0);
        QCOMPARE(b->Title()->SortMarker(), smDownEh);

        // A wanted rank that no column holds, or a negative one, leaves the index alone.
        auto other = makeGrid();
        TColumnEh *e = col(*other, "e");
        e->Title()->setSortMarker(smUpEh);
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.e=4,55,2,1,5\r\n");
        other->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(e->Title()->SortIndex(), 1);
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.e=4,55,2,1,-3\r\n");
        other->RestoreLayoutFromIni(m_file, kSection, kAll);
        QCOMPARE(e->Title()->SortIndex(), 1);
        QCOMPARE(e->Title()->SortMarker(), smUpEh);
    }

    void saveWritesOneLinePerColumnAndTheGridEntryLast()
    {
        auto grid = makeGrid();
        grid->Columns()->Move(6, 0); // g first
        col(*grid, "d")->setVisible(false);
        col(*grid, "c")->Title()->setSortMarker(smDownEh);
        col(*grid, "e")->setDropDownRows(11);
        col(*grid, "e")->setDropDownWidth(90);
        grid->setRowHeight(3);
        grid->setRowLines(2);
        grid->SaveLayoutToIni(m_file, kSection, false);
        QCOMPARE(profileKeys(m_file, kSection),
                 (QStringList{"DBGridEh1.g", "DBGridEh1.a", "DBGridEh1.b", "DBGridEh1.c",
                              "DBGridEh1.d", "DBGridEh1.e", "DBGridEh1.f", "(Default)"}));
        const int aWidth = col(*grid, "a")->Width();
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.g"), QStringLiteral("0,70,0,1,0,7,0"));
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.a"),
                 QStringLiteral("1,%1,0,1,0,7,0").arg(aWidth));
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.c"), QStringLiteral("3,50,1,1,1,7,0"));
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.d"), QStringLiteral("4,30,0,0,0,7,0"));
        QCOMPARE(profileString(m_file, kSection, "DBGridEh1.e"), QStringLiteral("5,55,0,1,0,11,90"));
        QCOMPARE(profileString(m_file, kSection, "(Default)"), QStringLiteral("3,2"));

        // A second save replaces the lines in place: same line count, new values.
        const QByteArray first = readRaw(m_file);
        grid->Columns()->Move(0, 6);
        grid->SaveLayoutToIni(m_file, kSection, false);
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
        grid->Columns()->Move(6, 0);
        grid->Columns()->Move(3, 5);
        col(*grid, "b")->setWidth(120);
        col(*grid, "a")->setVisible(false);
        col(*grid, "e")->setVisible(false);
        col(*grid, "c")->Title()->setSortMarker(smUpEh);
        col(*grid, "f")->setDropDownRows(3);
        grid->setRowHeight(6);
        grid->SaveLayoutToIni(m_file, kSection, false);
        const QString saved = snapshot(*grid, false);

        auto restored = makeGrid();
        restored->RestoreLayoutFromIni(m_file, kSection, kAll);
        // widths go in as assigned widths; everything else matches exactly
        for (int i = 0; i < restored->Columns()->Count(); ++i)
            QVERIFY(restored->Columns()->Items(i)->WidthAssigned());
        QCOMPARE(order(*restored), order(*grid));
        QCOMPARE(widths(*restored), widths(*grid));
        QCOMPARE(snapshot(*restored, false), saved);
    }

    void fittedWidthsComeBackFitted()
    {
        auto grid = makeGrid(true);
        grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
        const int client = grid->View()->viewport()->width();
        col(*grid, "b")->setWidth(200);
        col(*grid, "d")->setVisible(false);
        int sum = 0;
        for (TColumnEh *c : grid->VisibleColumns())
            sum += c->Width();
        QCOMPARE(sum, client);
        const QList<int> fitted = widths(*grid);
        grid->SaveLayoutToIni(m_file, kSection, false);
        // the stored widths are the fitted ones the operator saw
        QCOMPARE(wordAsInt(profileString(m_file, kSection, "DBGridEh1.b"), 2, -1), fitted.at(1));

        auto restored = makeGrid(true);
        restored->show();
        QVERIFY(QTest::qWaitForWindowExposed(restored.get()));
        restored->RestoreLayoutFromIni(m_file, kSection, kAll);
        QVERIFY(restored->AutoFitColWidths());
        QCOMPARE(widths(*restored), fitted);
        // the restored widths are the base widths: switching fitting off shows them unchanged
        restored->setAutoFitColWidths(false);
        QCOMPARE(widths(*restored), fitted);
        // and a fitted grid of another size spreads them in proportion
        auto narrow = makeGrid(true);
        narrow->resize(300, 300);
        narrow->show();
        QVERIFY(QTest::qWaitForWindowExposed(narrow.get()));
        narrow->RestoreLayoutFromIni(m_file, kSection, kAll);
        int narrowSum = 0;
        for (TColumnEh *c : narrow->VisibleColumns())
            narrowSum += c->Width();
        QCOMPARE(narrowSum, narrow->View()->viewport()->width());
        QVERIFY(col(*narrow, "b")->Width() > col(*narrow, "c")->Width() * 2);
        QCOMPARE(col(*narrow, "b")->BaseWidth(), fitted.at(1));
    }

    void widthsWithoutFittingAreTakenAsStored()
    {
        auto grid = makeGrid(false);
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.a=0,17\r\nDBGridEh1.c=2,0\r\nDBGridEh1.g=6,400\r\n");
        grid->RestoreLayoutFromIni(m_file, kSection, kAll);
        QVERIFY(!grid->AutoFitColWidths());
        QCOMPARE(col(*grid, "a")->Width(), 17);
        QCOMPARE(col(*grid, "c")->Width(), 0);
        QCOMPARE(col(*grid, "g")->Width(), 400);
        QCOMPARE(grid->TitleHeader()->sectionSize(6), 400);
    }

    void aFailedSaveKeepsEarlierEntriesAndTheGrid()
    {
        // missing folder: nothing is written, the error names the file
        auto grid = makeGrid();
        const QString missing = m_dir.filePath(QStringLiteral("absent/lianbu.ini"));
        const QString before = snapshot(*grid);
        try {
            grid->SaveLayoutToIni(missing, kSection, false);
            QFAIL("no error");
        } catch (const Error &e) {
            QCOMPARE(e.message(), QStringLiteral("Unable to write to ") + missing);
        }
        QVERIFY(!QFile::exists(missing));
        QCOMPARE(snapshot(*grid), before);

        // A column whose key cannot be stored stops the save there; entries written before it
        // stay, later ones keep their old values.
        writeRaw(m_file, "[lianbugrid]\r\nDBGridEh1.f=9,9,9,9,9,9,9\r\n");
        grid->Columns()->Items(3)->setFieldName(QStringLiteral("d=x"));
        const QString before2 = snapshot(*grid);
        try {
            grid->SaveLayoutToIni(m_file, kSection, false);
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
