#include "data/CustomerColumns.h"
#include "customers/CustomerGrid.h"

#include "app/MainWindow.h"
#include "data/Database.h"
#include "grid/DataGrid.h"
#include "platform/Application.h"
#include "platform/Paths.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QToolButton>

namespace lianbu::customers {

const CustomerColumn kCustomerColumns[14] = {
    {col::Category, "客户类别", 0}, {col::ShortName, "客户简称", 0}, {col::Name, "姓  名", 50},   {col::Sex, "性别", 30},
    {col::Position, "职  务", 55},  {col::Mobile, "手  机", 70},  {col::Phone, "电  话", 70},   {col::Fax, "传  真", 0},
    {col::Address, "地  址", 0},   {col::Company, "单  位", 0},   {col::Postcode, "邮  编", 50},   {col::Email, "电子邮件", 0},
    {col::Notes, "备注", 0},     {col::RegistrationDate, "登记日期", 0},
};

namespace {

QFont songTi14()
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(14);
    return font;
}

} // namespace

void configureCustomerGrid(DataGrid *grid)
{
    const QFont font = songTi14();
    grid->beginLayout();
    grid->setLayoutKey(QLatin1String(kLayoutKey));
    grid->setFont(font);
    grid->setTitleFont(font);
    grid->setFooterFont(font);
    grid->setFixedColor(QColor(166, 202, 240));
    grid->setTitleHeight(18);
    grid->setUseMultiTitle(true);
    grid->setShowIndicator(true);
    grid->setReadOnly(true);
    grid->setRowSelect(true);
    grid->setColumnsResizable(true);
    grid->setColumnsMovable(true);
    grid->setColLines(true);
    grid->setRowLinesVisible(true);
    grid->setAutoFitColWidths(true);
    grid->setOddRowColor(Qt::white);
    grid->setEvenRowColor(QColor(238, 238, 238));
    grid->setFooterRowCount(1);
    grid->setFooterColor(QColor(255, 194, 134));
    grid->setAutoSortMarking(true);
    grid->setHint(QStringLiteral("点列标题进行排序，双击记录进行修改"));

    GridColumns *columns = grid->columns();
    columns->clear();
    for (const CustomerColumn &initial : kCustomerColumns) {
        GridColumn *column = columns->add(QString::fromLatin1(initial.field), QString::fromUtf8(initial.title));
        column->setAlignment(Qt::AlignCenter);
        column->title()->setFont(font);
        column->title()->setTitleButton(true);
        if (initial.width > 0)
            column->setWidth(initial.width);
    }
    columns->items(0)->footer()->setValueType(FooterValue::StaticText);
    columns->items(0)->footer()->setValue(QStringLiteral("总计"));
    columns->items(1)->footer()->setValueType(FooterValue::Count);
    grid->endLayout();
}

QString sortForTitleClick(const QString &fieldName, SortMarker markerBeforeClick)
{
    if (markerBeforeClick == SortMarker::Down)
        return fieldName;
    return fieldName + QStringLiteral(" DESC");
}

} // namespace lianbu::customers

// ---- the main window's grid handlers ------------------------------------------------------

const int MainWindow::hideColumnPositions[11] = {0, 1, 3, 4, 7, 8, 9, 10, 11, 12, 13};

void MainWindow::configureCustomerGrid()
{
    lianbu::customers::configureCustomerGrid(ui->customerGrid);
    ui->deleteButton->setEnabled(false);
    ui->customerGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->customerGrid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { gridContextMenu->popup(ui->customerGrid->mapToGlobal(pos)); });
    connect(ui->customerGrid, &DataGrid::titleClicked, this, &MainWindow::sortByColumn);
    connect(ui->customerGrid, &DataGrid::cellClicked, this, &MainWindow::onRowClicked);
    connect(ui->customerGrid, &DataGrid::rowDoubleClicked, this, &MainWindow::onRowDoubleClicked);
}

void MainWindow::sortByColumn(int /*columnIndex*/, GridColumn *column)
{
    m_database.customerList->setSort(
        lianbu::customers::sortForTitleClick(column->fieldName(), column->title()->sortMarker()));
}

void MainWindow::onRowClicked(GridColumn * /*column*/) { ui->deleteButton->setEnabled(true); }

void MainWindow::onRowDoubleClicked()
{
    // The value tested is the one in the first column of the current order, visible or not.
    lianbu::db::DataSet *list = m_database.customerList;
    GridColumns *columns = ui->customerGrid->columns();
    if (!list->active() || list->isEmpty() || columns->count() == 0)
        return;
    if (list->fieldByName(columns->items(0)->fieldName()).asString().isEmpty())
        return;
    emit recordLoadRequested();
}

void MainWindow::toggleColumnFromMenu(int itemIndex)
{
    // The item addresses a position in the current column order, whatever its caption names.
    // Its check mark has already been toggled by the click: checked now means "hide".
    const int position = hideColumnPositions[itemIndex];
    GridColumns *columns = ui->customerGrid->columns();
    if (position >= columns->count())
        return;
    columns->items(position)->setVisible(!hideColumnActions.at(itemIndex)->isChecked());
}

void MainWindow::saveColumnLayout()
{
    // A new user's settings folder does not exist yet, and the profile writer never creates
    // folders: the command makes it, so saving works from the first day. Whatever still
    // fails (no right to write, a file in the folder's place) is reported by the save.
    const QString file = lianbu::paths::settingsFilePath();
    QDir().mkpath(QFileInfo(file).absolutePath());
    try {
        ui->customerGrid->saveLayoutToIni(file, QLatin1String(lianbu::customers::kLayoutSection), false);
    } catch (...) {
        lianbu::reportCurrentException();
    }
}
