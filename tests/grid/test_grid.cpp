#include "grid/DataGrid.h"
#include "grid/DataGridModel.h"
#include "grid/TitleLevels.h"

#include "db/DataSet.h"
#include "db/Field.h"
#include "db/ListRoles.h"
#include "db/ListRows.h"
#include "tests/grid/GridTestData.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QToolTip>

using gridtest::GridData;

namespace {

QStringList sampleRows(int count)
{
    QStringList rows;
    for (int i = 1; i <= count; ++i)
        rows << QStringLiteral("cat%1,name%2,%3").arg(i % 3).arg(i).arg(i * 10);
    return rows;
}

// Three columns a, b, n with a count footer under b and a static text under a.
void configure(DataGrid &grid)
{
    grid.columns()->add(QStringLiteral("a"), QStringLiteral("类别"));
    grid.columns()->add(QStringLiteral("b"), QStringLiteral("名称"));
    grid.columns()->add(QStringLiteral("n"), QStringLiteral("金额"));
    grid.setFooterRowCount(1);
    grid.columns()->items(0)->footer()->setValueType(FooterValue::StaticText);
    grid.columns()->items(0)->footer()->setValue(QStringLiteral("总计"));
    grid.columns()->items(1)->footer()->setValueType(FooterValue::Count);
    grid.columns()->items(2)->footer()->setValueType(FooterValue::Sum);
}

QPoint titleCenter(DataGrid &grid, int column)
{
    QHeaderView *header = grid.titleHeader();
    return QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
}

void clickTitle(DataGrid &grid, int column, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::mouseClick(grid.titleHeader()->viewport(), Qt::LeftButton, modifiers, titleCenter(grid, column));
}

QStringList columnOrder(const DataGrid &grid)
{
    QStringList names;
    for (int i = 0; i < grid.columns()->count(); ++i)
        names << grid.columns()->items(i)->fieldName();
    return names;
}

int sumOfVisibleSections(const DataGrid &grid)
{
    int sum = 0;
    QHeaderView *header = grid.titleHeader();
    for (int i = 0; i < header->count(); ++i)
        if (!header->isSectionHidden(i))
            sum += header->sectionSize(i);
    return sum;
}

void sendMouse(QWidget *widget, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), widget->mapToGlobal(QPointF(pos)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class TestGrid : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { lianbu::test::enterTestMode(); }

    void titleClickMarkerSequence();
    void titleClickSortsThroughHandler();
    void ctrlClickTurnsUpMarkerOff();
    void titleLevelsSplitAndSpan();
    void dragMovesColumnInCollection();
    void hideAndShowColumns();
    void autoFitFillsClientWidthAndRestoresBaseWidths();
    void footerValuesFollowTheDataSet();
    void currentRowIsTheViewsAndKeepsItsRecord();
    void cellClickAndDoubleClick();
    void alternatingColoursByRecordNumber();
    void showsAnyModelBindingColumnsByFieldName();
    void readingCellsForExport();
    void contextMenuReachesTheGrid();
    void largeResult();
    void screenshotWithChineseRows();
};

void TestGrid::titleClickMarkerSequence()
{
    DataGrid grid;
    configure(grid);
    grid.resize(400, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));

    QList<SortMarker> seen;
    QList<int> indexes;
    connect(&grid, &DataGrid::titleClicked, &grid, [&](int index, GridColumn *column) {
        indexes << index;
        seen << column->title()->sortMarker();
        QCOMPARE(column, grid.columns()->items(index));
    });

    ColumnTitle *b = grid.columns()->items(1)->title();
    clickTitle(grid, 1);
    QCOMPARE(b->sortMarker(), SortMarker::Down);
    QCOMPARE(b->sortIndex(), 1);
    clickTitle(grid, 1);
    QCOMPARE(b->sortMarker(), SortMarker::Up);
    clickTitle(grid, 1);
    QCOMPARE(b->sortMarker(), SortMarker::Down);
    // the handler always saw the marker as it was before the click
    QCOMPARE(seen, (QList<SortMarker>{SortMarker::None, SortMarker::Down, SortMarker::Up}));
    QCOMPARE(indexes, (QList<int>{1, 1, 1}));

    // another column starts again with the down marker and takes the only marker
    clickTitle(grid, 2);
    QCOMPARE(grid.columns()->items(2)->title()->sortMarker(), SortMarker::Down);
    QCOMPARE(grid.columns()->items(2)->title()->sortIndex(), 1);
    QCOMPARE(b->sortMarker(), SortMarker::None);
    QCOMPARE(b->sortIndex(), 0);
    int marked = 0;
    for (int i = 0; i < grid.columns()->count(); ++i)
        marked += grid.columns()->items(i)->title()->sortMarker() != SortMarker::None;
    QCOMPARE(marked, 1);

    // setting a marker directly follows the same single-column rule
    grid.columns()->items(0)->title()->setSortMarker(SortMarker::Up);
    QCOMPARE(grid.columns()->items(2)->title()->sortMarker(), SortMarker::None);
    QCOMPARE(grid.columns()->items(0)->title()->sortIndex(), 1);

    // a column without title button ignores clicks; automatic marking can be switched off
    grid.columns()->items(2)->title()->setTitleButton(false);
    clickTitle(grid, 2);
    QCOMPARE(grid.columns()->items(2)->title()->sortMarker(), SortMarker::None);
    QCOMPARE(seen.size(), 4);
    grid.setAutoSortMarking(false);
    clickTitle(grid, 1);
    QCOMPARE(seen.size(), 5);
    QCOMPARE(b->sortMarker(), SortMarker::None);
}

void TestGrid::titleClickSortsThroughHandler()
{
    // The way the customer grid sorts: down marker -> ascending, otherwise descending.
    GridData data({QStringLiteral("x,张三,1"), QStringLiteral("x,李四,2"), QStringLiteral("x,王五,3")});
    DataGrid grid;
    configure(grid);
    grid.setListModel(&data.model);
    data.query->open();
    grid.resize(400, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    connect(&grid, &DataGrid::titleClicked, &grid, [&](int, GridColumn *column) {
        const bool down = column->title()->sortMarker() == SortMarker::Down;
        data.model.setSortText(column->fieldName() + (down ? QString() : QStringLiteral(" DESC")));
    });
    auto firstName = [&] { return grid.model()->index(0, 1).data().toString(); };

    clickTitle(grid, 2); // amounts descending
    QCOMPARE(grid.model()->index(0, 2).data().toString(), QStringLiteral("3"));
    QCOMPARE(grid.columns()->items(2)->title()->sortMarker(), SortMarker::Down);
    clickTitle(grid, 2); // ascending
    QCOMPARE(grid.model()->index(0, 2).data().toString(), QStringLiteral("1"));
    QCOMPARE(firstName(), QStringLiteral("张三"));
    QCOMPARE(grid.columns()->items(2)->title()->sortMarker(), SortMarker::Up);
    clickTitle(grid, 2); // descending again
    QCOMPARE(grid.model()->index(2, 2).data().toString(), QStringLiteral("1"));
    QCOMPARE(grid.columns()->items(2)->title()->sortMarker(), SortMarker::Down);

    // a reopen delivers the table order again; the marker stays
    data.reopen(QStringLiteral("select * from t"));
    QCOMPARE(firstName(), QStringLiteral("张三"));
    QCOMPARE(grid.columns()->items(2)->title()->sortMarker(), SortMarker::Down);
}

void TestGrid::ctrlClickTurnsUpMarkerOff()
{
    QCOMPARE(DataGrid::nextSortMarker(SortMarker::Up, true), SortMarker::None);
    QCOMPARE(DataGrid::nextSortMarker(SortMarker::None, true), SortMarker::Down);
    QCOMPARE(DataGrid::nextSortMarker(SortMarker::Down, true), SortMarker::Up);

    DataGrid grid;
    configure(grid);
    grid.resize(400, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    int handled = 0;
    connect(&grid, &DataGrid::titleClicked, &grid, [&] { ++handled; });
    ColumnTitle *title = grid.columns()->items(0)->title();
    clickTitle(grid, 0, Qt::ControlModifier);
    QCOMPARE(title->sortMarker(), SortMarker::Down);
    clickTitle(grid, 0);
    QCOMPARE(title->sortMarker(), SortMarker::Up);
    clickTitle(grid, 0, Qt::ControlModifier);
    QCOMPARE(title->sortMarker(), SortMarker::None);
    QCOMPARE(title->sortIndex(), 0);
    QCOMPARE(handled, 3); // the handler is called on the Ctrl click as well
}

void TestGrid::titleLevelsSplitAndSpan()
{
    QCOMPARE(gridtitles::splitTitleLevels(QStringLiteral("客户|姓  名")),
             (QStringList{QStringLiteral("客户"), QStringLiteral("姓  名")}));
    QCOMPARE(gridtitles::splitTitleLevels(QStringLiteral("电  话")), QStringList{QStringLiteral("电  话")});

    int levels = 0;
    const QList<gridtitles::TitleCell> cells =
        gridtitles::layoutTitleCells({QStringLiteral("联系|电话"), QStringLiteral("联系|手机"), QStringLiteral("备注"),
                                      QStringLiteral("联系|传真"), QStringLiteral("A|B|C"), QStringLiteral("A|B|D")},
                                     true, &levels);
    QCOMPARE(levels, 3);
    auto find = [&](int level, int first) -> const gridtitles::TitleCell * {
        for (const gridtitles::TitleCell &cell : cells)
            if (cell.level == level && cell.firstColumn == first)
                return &cell;
        return nullptr;
    };
    // the shared upper level spans its two neighbours only
    const gridtitles::TitleCell *contact = find(0, 0);
    QVERIFY(contact);
    QCOMPARE(contact->text, QStringLiteral("联系"));
    QCOMPARE(contact->lastColumn, 1);
    const gridtitles::TitleCell *apart = find(0, 3);
    QVERIFY(apart);
    QCOMPARE(apart->lastColumn, 3); // not joined across "备注"
    // a one-level caption reaches through all levels; lower levels reach the bottom
    const gridtitles::TitleCell *remark = find(0, 2);
    QVERIFY(remark);
    QCOMPARE(remark->levelSpan, 3);
    QCOMPARE(find(1, 0)->levelSpan, 2);
    QCOMPARE(find(1, 0)->text, QStringLiteral("电话"));
    // three levels: A spans 4..5, B spans 4..5, C and D are separate
    QCOMPARE(find(0, 4)->lastColumn, 5);
    QCOMPARE(find(1, 4)->lastColumn, 5);
    QCOMPARE(find(2, 4)->lastColumn, 4);
    QCOMPARE(find(2, 5)->text, QStringLiteral("D"));

    // without multi titles a "|" is just a character
    gridtitles::layoutTitleCells({QStringLiteral("A|B")}, false, &levels);
    QCOMPARE(levels, 1);

    DataGrid grid;
    configure(grid);
    grid.setUseMultiTitle(true);
    const int oneLevel = grid.titleRowHeight();
    grid.columns()->items(0)->title()->setCaption(QStringLiteral("客户|类别"));
    QVERIFY(grid.titleRowHeight() > oneLevel);
}

void TestGrid::dragMovesColumnInCollection()
{
    DataGrid grid;
    configure(grid);
    for (int i = 0; i < 3; ++i)
        grid.columns()->items(i)->setWidth(100);
    grid.resize(500, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QSignalSpy moved(&grid, &DataGrid::columnMoved);
    int titleClicks = 0;
    connect(&grid, &DataGrid::titleClicked, &grid, [&] { ++titleClicks; });

    // drag the first title onto the third
    QWidget *vp = grid.titleHeader()->viewport();
    const QPoint from = titleCenter(grid, 0);
    const QPoint to = titleCenter(grid, 2) + QPoint(30, 0);
    sendMouse(vp, QEvent::MouseButtonPress, from, Qt::LeftButton);
    for (int x = from.x(); x <= to.x(); x += 10)
        sendMouse(vp, QEvent::MouseMove, QPoint(x, from.y()), Qt::LeftButton);
    sendMouse(vp, QEvent::MouseButtonRelease, to, Qt::NoButton);

    QCOMPARE(columnOrder(grid), (QStringList{"b", "n", "a"}));
    QCOMPARE(moved.size(), 1);
    QCOMPARE(moved.at(0).at(0).toInt(), 0);
    QCOMPARE(moved.at(0).at(1).toInt(), 2);
    QCOMPARE(titleClicks, 0); // a drag is not a title click
    // the view keeps showing the collection order
    QCOMPARE(grid.titleHeader()->visualIndex(0), 0);
    QCOMPARE(grid.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("名称"));
    QCOMPARE(grid.columns()->items(2)->title()->caption(), QStringLiteral("类别"));

    // the operator resizing a column assigns its width
    QSignalSpy resized(&grid, &DataGrid::colWidthsChanged);
    grid.titleHeader()->resizeSection(1, 137);
    QCOMPARE(grid.columns()->items(1)->width(), 137);
    QVERIFY(grid.columns()->items(1)->widthAssigned());
    QCOMPARE(resized.size(), 1);

    // moving in code shows in the view
    grid.columns()->items(2)->setIndex(0);
    QCOMPARE(columnOrder(grid), (QStringList{"a", "b", "n"}));
    QCOMPARE(grid.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("类别"));

    // the collection follows a header move made any other way as well
    grid.titleHeader()->moveSection(2, 0);
    QCOMPARE(columnOrder(grid), (QStringList{"n", "a", "b"}));
    QCOMPARE(grid.titleHeader()->sectionSize(2), 100);

    // rebuilding the columns under a layout lock shows the new set at the end
    grid.beginLayout();
    grid.columns()->clear();
    grid.columns()->add(QStringLiteral("b"), QStringLiteral("名称"))->setWidth(70);
    grid.columns()->add(QStringLiteral("a"), QStringLiteral("类别"))->setWidth(40);
    grid.endLayout();
    QCOMPARE(grid.model()->columnCount(), 2);
    QCOMPARE(grid.titleHeader()->count(), 2);
    QCOMPARE(grid.titleHeader()->sectionSize(0), 70);
    QCOMPARE(grid.titleHeader()->sectionSize(1), 40);
}

void TestGrid::hideAndShowColumns()
{
    GridData data(sampleRows(4));
    DataGrid grid;
    configure(grid);
    grid.setListModel(&data.model);
    data.query->open();
    grid.columns()->items(1)->setWidth(120);
    grid.resize(500, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));

    GridColumn *b = grid.columns()->items(1);
    b->setVisible(false);
    QVERIFY(grid.titleHeader()->isSectionHidden(1));
    QCOMPARE(grid.visibleColumns(), (QList<GridColumn *>{grid.columns()->items(0), grid.columns()->items(2)}));
    QCOMPARE(b->index(), 1); // hidden columns keep their place
    b->setVisible(true);
    QVERIFY(!grid.titleHeader()->isSectionHidden(1));
    QCOMPARE(grid.titleHeader()->sectionSize(1), 120);
    QCOMPARE(grid.visibleColumns().size(), 3);

    // hidden stays hidden across a reopen of the dataset
    b->setVisible(false);
    data.reopen(QStringLiteral("select * from t"));
    QVERIFY(grid.titleHeader()->isSectionHidden(1));
    QCOMPARE(grid.titleHeader()->sectionSize(0), grid.columns()->items(0)->width());
}

void TestGrid::autoFitFillsClientWidthAndRestoresBaseWidths()
{
    GridData data(sampleRows(3));
    DataGrid grid;
    configure(grid);
    grid.setListModel(&data.model);
    data.query->open();
    const QList<int> base{50, 100, 150};
    for (int i = 0; i < 3; ++i)
        grid.columns()->items(i)->setWidth(base[i]);
    grid.resize(613, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QCOMPARE(sumOfVisibleSections(grid), 300);

    grid.setAutoFitColWidths(true);
    const int client = grid.view()->viewport()->width();
    QCOMPARE(sumOfVisibleSections(grid), client);
    int widths = 0;
    for (int i = 0; i < 3; ++i)
        widths += grid.columns()->items(i)->width();
    QCOMPARE(widths, client);
    // stretched in proportion
    QVERIFY(qAbs(grid.columns()->items(2)->width() - 3 * grid.columns()->items(0)->width()) <= 3);
    QCOMPARE(grid.columns()->items(1)->baseWidth(), 100);

    // a resize of the grid and a hidden column refit exactly
    grid.resize(377, 200);
    QCOMPARE(sumOfVisibleSections(grid), grid.view()->viewport()->width());
    grid.columns()->items(0)->setVisible(false);
    QCOMPARE(sumOfVisibleSections(grid), grid.view()->viewport()->width());
    grid.columns()->items(0)->setVisible(true);
    QCOMPARE(sumOfVisibleSections(grid), grid.view()->viewport()->width());
    QVERIFY(!grid.view()->horizontalScrollBar()->isVisible() || grid.view()->horizontalScrollBar()->maximum() == 0);

    // the operator widening a fitted column takes the space from the columns to its right
    grid.titleHeader()->resizeSection(0, grid.titleHeader()->sectionSize(0) + 40);
    QCOMPARE(sumOfVisibleSections(grid), grid.view()->viewport()->width());

    // switching fitting off brings the base widths back
    grid.setAutoFitColWidths(false);
    grid.resize(613, 200);
    grid.setAutoFitColWidths(true);
    grid.setAutoFitColWidths(false);
    QCOMPARE(grid.titleHeader()->sectionSize(1), grid.columns()->items(1)->baseWidth());

    // a fresh set of base widths survives fitting on and off unchanged
    for (int i = 0; i < 3; ++i)
        grid.columns()->items(i)->setWidth(base[i]);
    grid.setAutoFitColWidths(true);
    QVERIFY(grid.columns()->items(1)->width() != 100);
    grid.setAutoFitColWidths(false);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(grid.columns()->items(i)->width(), base[i]);
        QCOMPARE(grid.titleHeader()->sectionSize(i), base[i]);
    }
}

void TestGrid::footerValuesFollowTheDataSet()
{
    GridData data(sampleRows(5));
    DataGrid grid;
    configure(grid);
    GridColumn *a = grid.columns()->items(0);
    GridColumn *b = grid.columns()->items(1);
    GridColumn *n = grid.columns()->items(2);
    // closed dataset: no count
    grid.setListModel(&data.model);
    QCOMPARE(grid.footerDisplayText(0, b), QString());
    QCOMPARE(grid.footerDisplayText(0, a), QStringLiteral("总计"));

    data.query->open();
    QCOMPARE(grid.footerDisplayText(0, b), QStringLiteral("5"));
    QCOMPARE(grid.footerDisplayText(0, n), QStringLiteral("150"));
    QCOMPARE(grid.footerDisplayText(1, b), QString()); // only one footer row

    // reopened with fewer rows (a search)
    data.reopen(QStringLiteral("select * from t where n >= 30"));
    QCOMPARE(grid.footerDisplayText(0, b), QStringLiteral("3"));
    QCOMPARE(grid.footerDisplayText(0, n), QStringLiteral("120"));

    // a deletion
    data.query->moveToRow(0);
    data.query->deleteRecord();
    QCOMPARE(grid.model()->rowCount(), 2);
    QCOMPARE(grid.footerDisplayText(0, b), QStringLiteral("2"));
    QCOMPARE(grid.footerDisplayText(0, n), QStringLiteral("90"));

    // an edit changes the sum
    data.query->edit();
    data.query->fieldByName(QStringLiteral("n")).setAsString(QStringLiteral("1"));
    data.query->post();
    QCOMPARE(grid.footerDisplayText(0, n), QStringLiteral("51"));

    // an empty result counts 0
    data.reopen(QStringLiteral("select * from t where n > 1000"));
    QCOMPARE(grid.footerDisplayText(0, b), QStringLiteral("0"));

    // several footer rows through the footers list
    grid.setFooterRowCount(2);
    ColumnFooter *first = b->footers()->add();
    first->setValueType(FooterValue::StaticText);
    first->setValue(QStringLiteral("共"));
    ColumnFooter *second = b->footers()->add();
    second->setValueType(FooterValue::Count);
    QCOMPARE(grid.footerDisplayText(0, b), QStringLiteral("共"));
    QCOMPARE(grid.footerDisplayText(1, b), QStringLiteral("0"));
    QCOMPARE(grid.footerWidget()->height(), 2 * grid.footerRowHeight());
}

void TestGrid::currentRowIsTheViewsAndKeepsItsRecord()
{
    GridData data(sampleRows(200));
    DataGrid grid;
    configure(grid);
    grid.setListModel(&data.model);
    data.query->open();
    grid.resize(400, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QCOMPARE(grid.currentRow(), 0); // a new list starts at its first row
    QSignalSpy moved(&grid, &DataGrid::currentRowChanged);

    // made current from outside: selected and scrolled into view
    grid.setCurrentRow(199);
    QCOMPARE(grid.currentRow(), 199);
    QCOMPARE(moved.last().at(0).toInt(), 199);
    QVERIFY(grid.view()->selectionModel()->isRowSelected(199));
    const QRect rect = grid.view()->visualRect(grid.model()->index(199, 0));
    QVERIFY(grid.view()->viewport()->rect().intersects(rect));
    grid.setCurrentRow(5000); // past the end: the last row
    QCOMPARE(grid.currentRow(), 199);

    // the operator moves: the list's own current row is not touched
    grid.view()->setCurrentIndex(grid.model()->index(42, 1));
    QTest::keyClick(grid.view(), Qt::Key_Down);
    QCOMPARE(grid.currentRow(), 43);
    QCOMPARE(grid.cellDisplayText(grid.currentRow(), grid.columns()->items(1)), QStringLiteral("name44"));
    QCOMPARE(data.query->currentRow(), 0);

    // a sort keeps the current record current, wherever it goes
    data.model.setSortText(QStringLiteral("n DESC"));
    QCOMPARE(grid.cellDisplayText(grid.currentRow(), grid.columns()->items(1)), QStringLiteral("name44"));
    QCOMPARE(grid.currentRow(), 200 - 44);
    QVERIFY(grid.view()->selectionModel()->isRowSelected(grid.currentRow()));

    // the grid's own column changes keep the row
    grid.columns()->add(QStringLiteral("a"), QStringLiteral("再一列"));
    QCOMPARE(grid.currentRow(), 200 - 44);

    // a reopen starts at the first row again
    data.reopen(QStringLiteral("select * from t where n <= 100"));
    QCOMPARE(grid.model()->rowCount(), 10);
    QCOMPARE(grid.currentRow(), 0);
    grid.setCurrentRow(9);

    // a row removed by the list leaves; the count follows
    data.query->moveToRow(3);
    data.query->deleteRecord();
    QCOMPARE(grid.model()->rowCount(), 9);
    QCOMPARE(grid.currentRow(), 8);
    QCOMPARE(grid.cellDisplayText(8, grid.columns()->items(1)), QStringLiteral("name10"));
    QCOMPARE(grid.footerDisplayText(0, grid.columns()->items(1)), QStringLiteral("9"));

    // closing empties the grid
    data.query->close();
    QCOMPARE(grid.model()->rowCount(), 0);
    QCOMPARE(grid.currentRow(), -1);
}

void TestGrid::cellClickAndDoubleClick()
{
    GridData data(sampleRows(5));
    DataGrid grid;
    configure(grid);
    grid.setListModel(&data.model);
    data.query->open();
    grid.resize(400, 250);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QSignalSpy cells(&grid, &DataGrid::cellClicked);
    QSignalSpy doubles(&grid, &DataGrid::rowDoubleClicked);

    const QRect cell = grid.view()->visualRect(grid.model()->index(3, 1));
    QTest::mouseClick(grid.view()->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(cells.size(), 1);
    QCOMPARE(cells.at(0).at(0).value<GridColumn *>(), grid.columns()->items(1));
    QCOMPARE(grid.currentRow(), 3);

    clickTitle(grid, 1); // a title click is not a cell click
    QCOMPARE(cells.size(), 1);

    QTest::mouseDClick(grid.view()->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(doubles.size(), 1);
    // below the last row still counts as a double click on the grid
    QTest::mouseDClick(grid.view()->viewport(), Qt::LeftButton, {}, QPoint(10, grid.view()->viewport()->height() - 3));
    QCOMPARE(doubles.size(), 2);
}

void TestGrid::alternatingColoursByRecordNumber()
{
    GridData data(sampleRows(6));
    DataGrid grid;
    configure(grid);
    grid.setListModel(&data.model);
    data.query->open();
    const QColor grey(238, 238, 238);
    auto background = [&](int row, int col) {
        return grid.model()->index(row, col).data(Qt::BackgroundRole).value<QColor>();
    };
    grid.columns()->items(2)->setColor(QColor(255, 255, 200));
    QCOMPARE(background(0, 0), QColor(Qt::white)); // no alternation: the column colour
    QCOMPARE(background(1, 2), QColor(255, 255, 200));

    grid.setOddRowColor(Qt::white);
    grid.setEvenRowColor(grey);
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 3; ++col)
            QCOMPARE(background(row, col), (row + 1) % 2 ? QColor(Qt::white) : grey);

    // the colour belongs to the position (record number), not to the record
    data.model.setSortText(QStringLiteral("n DESC"));
    QCOMPARE(grid.model()->index(0, 2).data().toString(), QStringLiteral("60"));
    QCOMPARE(background(0, 0), QColor(Qt::white));
    QCOMPARE(background(1, 0), grey);
    QCOMPARE(grid.cellColor(3, grid.columns()->items(1)), grey);

    // fonts and alignment come from the column
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(14);
    grid.columns()->items(1)->setFont(font);
    grid.columns()->items(1)->setAlignment(Qt::AlignCenter);
    QCOMPARE(grid.model()->index(0, 1).data(Qt::FontRole).value<QFont>().pixelSize(), 14);
    QCOMPARE(grid.model()->index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::Alignment(Qt::AlignCenter));
}

void TestGrid::showsAnyModelBindingColumnsByFieldName()
{
    // A plain item model: fields named in the header, in another order than the grid's columns.
    QStandardItemModel model(0, 3);
    const char *names[] = {"n", "A", "b"};
    for (int c = 0; c < 3; ++c)
        model.setHeaderData(c, Qt::Horizontal, QString::fromLatin1(names[c]), lianbu::db::ListRole::FieldName);
    model.setHeaderData(0, Qt::Horizontal, QStringLiteral("数量"));
    model.setHeaderData(2, Qt::Horizontal, 5, lianbu::db::ListRole::FieldWidth);
    auto addRow = [&](const QString &a, const QString &b, int n) {
        model.appendRow({new QStandardItem(QString::number(n)), new QStandardItem(a), new QStandardItem(b)});
    };
    addRow(QStringLiteral("甲"), QStringLiteral("张三"), 5);
    addRow(QStringLiteral("乙"), QStringLiteral("李四"), 7);

    DataGrid grid;
    configure(grid);
    grid.columns()->add(QStringLiteral("n")); // no caption: the model's title
    grid.columns()->add(QStringLiteral("nosuch"));
    grid.setListModel(&model);
    grid.resize(500, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QCOMPARE(grid.listModel(), &model);

    // each column shows the model's column of its field, names in any letter case
    QCOMPARE(grid.model()->index(0, 0).data().toString(), QStringLiteral("甲"));
    QCOMPARE(grid.model()->index(1, 1).data().toString(), QStringLiteral("李四"));
    QCOMPARE(grid.model()->index(1, 2).data().toString(), QStringLiteral("7"));
    QCOMPARE(grid.model()->index(0, 4).data().toString(), QString());
    QCOMPARE(grid.listColumnOfField(QStringLiteral("a")), 1);
    QCOMPARE(grid.fieldIndexOf(grid.columns()->items(4)), -1);
    QCOMPARE(grid.columns()->items(3)->title()->caption(), QStringLiteral("数量"));
    // the declared width gives the default width; a field without one gets the widest default
    QVERIFY(grid.columns()->items(1)->width() < grid.columns()->items(0)->width());

    // footers: the count is the model's row count; sums read the model's values
    QCOMPARE(grid.footerDisplayText(0, grid.columns()->items(1)), QStringLiteral("2"));
    QCOMPARE(grid.footerDisplayText(0, grid.columns()->items(2)), QStringLiteral("12"));
    QCOMPARE(grid.currentRow(), 0);

    // rows the model inserts, changes and removes show at once; the current row stays on its row
    grid.setCurrentRow(1);
    model.insertRow(0, {new QStandardItem(QStringLiteral("30")), new QStandardItem(QStringLiteral("丙")),
                        new QStandardItem(QStringLiteral("王五"))});
    QCOMPARE(grid.model()->rowCount(), 3);
    QCOMPARE(grid.currentRow(), 2);
    QCOMPARE(grid.footerDisplayText(0, grid.columns()->items(1)), QStringLiteral("3"));
    QCOMPARE(grid.footerDisplayText(0, grid.columns()->items(2)), QStringLiteral("42"));
    model.item(0, 0)->setText(QStringLiteral("31"));
    QCOMPARE(grid.footerDisplayText(0, grid.columns()->items(2)), QStringLiteral("43"));
    model.removeRow(1);
    QCOMPARE(grid.model()->rowCount(), 2);
    QCOMPARE(grid.cellDisplayText(grid.currentRow(), grid.columns()->items(1)), QStringLiteral("李四"));

    // a sort by the model keeps the current record current
    model.sort(0, Qt::AscendingOrder); // "31" before "7" as text
    QCOMPARE(grid.cellDisplayText(0, grid.columns()->items(1)), QStringLiteral("王五"));
    QCOMPARE(grid.cellDisplayText(grid.currentRow(), grid.columns()->items(1)), QStringLiteral("李四"));

    // the rows reader hands out the model's texts in the shown order
    const std::unique_ptr<lianbu::db::RowReader> rows = grid.rowReader();
    QStringList read;
    rows->readRows(0, rows->rowCount(),
                   [&](int, const lianbu::db::RowCells &cells) { read << cells.text(2).toString(); });
    QCOMPARE(read, QStringList({QStringLiteral("王五"), QStringLiteral("李四")}));
    QCOMPARE(rows->currentRow(), grid.currentRow());

    // the model cleared and gone: an empty grid
    model.clear();
    QCOMPARE(grid.model()->rowCount(), 0);
    QCOMPARE(grid.currentRow(), -1);
}

void TestGrid::readingCellsForExport()
{
    GridData data({QStringLiteral("甲,张三,5"), QStringLiteral("乙,,7")});
    DataGrid grid;
    configure(grid);
    grid.columns()->add(QStringLiteral("missing"));
    grid.setListModel(&data.model);
    data.query->open();
    QCOMPARE(grid.listModel(), &data.model);
    QCOMPARE(grid.cellDisplayText(0, grid.columns()->items(1)), QStringLiteral("张三"));
    QCOMPARE(grid.cellDisplayText(1, grid.columns()->items(1)), QString());
    QCOMPARE(grid.cellDisplayText(1, grid.columns()->items(2)), QStringLiteral("7"));
    QCOMPARE(grid.cellDisplayText(0, grid.columns()->items(3)), QString());
    QCOMPARE(grid.cellDisplayText(5, grid.columns()->items(0)), QString());
    QCOMPARE(grid.fieldIndexOf(grid.columns()->items(2)), 2);
    QCOMPARE(grid.fieldIndexOf(grid.columns()->items(3)), -1);
    // an unassigned caption shows the field's display label
    QCOMPARE(grid.columns()->items(3)->title()->caption(), QStringLiteral("missing"));
    data.query->fieldByName(QStringLiteral("n")).setDisplayLabel(QStringLiteral("数量"));
    grid.columns()->items(2)->title()->setCaption(QString());
    QCOMPARE(grid.columns()->items(2)->title()->caption(), QStringLiteral("数量"));
    // default width comes from the declared width and never cuts the title
    GridColumn *a = grid.columns()->items(0);
    GridColumn *b = grid.columns()->items(1);
    QVERIFY(!a->widthAssigned());
    QVERIFY(b->width() >= a->width());
    QVERIFY(a->width() >= QFontMetrics(a->title()->font()).horizontalAdvance(QStringLiteral("类别")));
    QCOMPARE(grid.columns()->findByFieldName(QStringLiteral("B")), b);
    grid.setListModel(nullptr);
    QCOMPARE(grid.model()->rowCount(), 0);
    QCOMPARE(grid.cellDisplayText(0, b), QString());
}

void TestGrid::contextMenuReachesTheGrid()
{
    // The owner opens its menu from the grid's customContextMenuRequested, wherever the
    // right click lands (data area or titles).
    GridData data(sampleRows(3));
    DataGrid grid;
    configure(grid);
    grid.setListModel(&data.model);
    data.query->open();
    grid.setContextMenuPolicy(Qt::CustomContextMenu);
    grid.resize(400, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QSignalSpy menu(&grid, &QWidget::customContextMenuRequested);
    for (QWidget *target : {grid.view()->viewport(), grid.titleHeader()->viewport(), grid.footerWidget()}) {
        const QPoint pos(20, 5);
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
        QApplication::sendEvent(target, &event);
    }
    QCOMPARE(menu.size(), 3);
    QCOMPARE(menu.at(0).at(0).toPoint(), grid.view()->viewport()->mapTo(&grid, QPoint(20, 5)));

    // the hint shows over data cells and titles alike
    const QString hint = QStringLiteral("点列标题进行排序，双击记录进行修改");
    grid.setHint(hint);
    QCOMPARE(grid.statusTip(), hint);
    for (QWidget *target : {grid.view()->viewport(), grid.titleHeader()->viewport()}) {
        QToolTip::hideText();
        const QPoint pos(20, 5);
        QHelpEvent help(QEvent::ToolTip, pos, target->mapToGlobal(pos));
        QApplication::sendEvent(target, &help);
        QTRY_COMPARE(QToolTip::text(), hint);
    }
}

void TestGrid::largeResult()
{
    QStringList rows;
    rows.reserve(100000);
    for (int i = 0; i < 100000; ++i)
        rows << QStringLiteral("类别%1,客户%2,%3").arg(i % 20).arg(i).arg(i % 1000);
    GridData data(rows);
    DataGrid grid;
    configure(grid);
    grid.setAutoFitColWidths(true);
    grid.resize(600, 400);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    grid.setListModel(&data.model);

    QElapsedTimer timer;
    timer.start();
    data.query->open();
    const qint64 openMs = timer.restart();
    grid.setCurrentRow(99999);
    QApplication::processEvents();
    const qint64 lastMs = timer.restart();
    data.model.setSortText(QStringLiteral("b DESC"));
    QApplication::processEvents();
    const qint64 sortMs = timer.restart();
    grid.repaint();
    const qint64 paintMs = timer.elapsed();
    qInfo("100000 rows: open+reset %lld ms, last %lld ms, sort %lld ms, paint %lld ms", openMs, lastMs, sortMs,
          paintMs);

    QCOMPARE(grid.model()->rowCount(), 100000);
    QCOMPARE(grid.footerDisplayText(0, grid.columns()->items(1)), QStringLiteral("100000"));
    // the sort kept the current record current
    QCOMPARE(grid.cellDisplayText(grid.currentRow(), grid.columns()->items(1)), QStringLiteral("客户99999"));
    QVERIFY(
        grid.view()->viewport()->rect().intersects(grid.view()->visualRect(grid.model()->index(grid.currentRow(), 0))));
}

void TestGrid::screenshotWithChineseRows()
{
    // The pictures go to this test's own folder so parallel runs do not overwrite each other.
    QTemporaryDir pictures;
    QVERIFY(pictures.isValid());
    GridData data({QStringLiteral("VIP客户,杭州乔木,1200"), QStringLiteral("普通客户,张三丰,35"),
                   QStringLiteral("普通客户,李四,870"), QStringLiteral("供应商,王五 Ltd.,66"),
                   QStringLiteral("VIP客户,赵六,5")});
    DataGrid grid;
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(14);
    grid.setFont(font);
    grid.setTitleFont(font);
    grid.setFooterFont(font);
    configure(grid);
    for (int i = 0; i < 3; ++i)
        grid.columns()->items(i)->setAlignment(Qt::AlignCenter);
    grid.columns()->add(QStringLiteral("b"), QStringLiteral("联系|姓  名"));
    grid.columns()->add(QStringLiteral("a"), QStringLiteral("联系|类别"));
    grid.setUseMultiTitle(true);
    grid.setTitleHeight(18);
    grid.setFooterColor(QColor(255, 194, 134));
    grid.setOddRowColor(Qt::white);
    grid.setEvenRowColor(QColor(238, 238, 238));
    grid.setAutoFitColWidths(true);
    grid.setListModel(&data.model);
    data.query->open();
    grid.resize(560, 220);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    grid.columns()->items(1)->title()->setSortMarker(SortMarker::Down);
    grid.setCurrentRow(2);
    QApplication::processEvents();
    const QImage image = grid.grab().toImage();
    QVERIFY(image.save(pictures.filePath(QStringLiteral("grid_shot.png"))));
    // the title background is the fixed colour, the footer the footer colour
    const QPoint title = grid.titleHeader()->mapTo(&grid, QPoint(5, 3));
    QCOMPARE(image.pixelColor(title + QPoint(grid.indicatorWidth(), 0)), QColor(166, 202, 240));
    const QPoint footer = grid.footerWidget()->mapTo(&grid, QPoint(0, 5)) + QPoint(grid.indicatorWidth() + 4, 0);
    QCOMPARE(image.pixelColor(footer), QColor(255, 194, 134));

    // wider than the grid and scrolled: the footer cells stay under their titles
    grid.setAutoFitColWidths(false);
    for (int i = 0; i < grid.columns()->count(); ++i)
        grid.columns()->items(i)->setWidth(150);
    QApplication::processEvents();
    QScrollBar *bar = grid.view()->horizontalScrollBar();
    QVERIFY(bar->maximum() > 0);
    bar->setValue(70);
    QApplication::processEvents();
    const QImage scrolled = grid.grab().toImage();
    QVERIFY(scrolled.save(pictures.filePath(QStringLiteral("grid_shot_scrolled.png"))));
    QHeaderView *header = grid.titleHeader();
    const int edge = header->sectionViewportPosition(1) + header->sectionSize(1) - 1;
    const int titleX = header->viewport()->mapTo(&grid, QPoint(edge, 0)).x();
    const int footerY = grid.footerWidget()->mapTo(&grid, QPoint(0, 8)).y();
    QCOMPARE(scrolled.pixelColor(titleX, footerY), QColor(128, 128, 128)); // the column line
    QCOMPARE(scrolled.pixelColor(titleX - 3, footerY), QColor(255, 194, 134));
}

QTEST_MAIN(TestGrid)
#include "test_grid.moc"
