#include "customers/CustomerGrid.h"

#include "app/MAIN.h"
#include "data/dm.h"
#include "grid/DBGridEh.h"
#include "platform/Application.h"
#include "platform/Paths.h"
#include "ui_MAIN.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QToolButton>

namespace lianbu::customers {

const CustomerColumn kCustomerColumns[14] = {
    {"a", "客户类别", 0}, {"b", "客户简称", 0}, {"c", "姓  名", 50},   {"d", "性别", 30},
    {"e", "职  务", 55},  {"f", "手  机", 70},  {"g", "电  话", 70},   {"h", "传  真", 0},
    {"i", "地  址", 0},   {"j", "单  位", 0},   {"k", "邮  编", 50},   {"l", "电子邮件", 0},
    {"z", "备注", 0},     {"day1", "登记日期", 0},
};

namespace {

QFont songTi14()
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(14);
    return font;
}

} // namespace

void configureCustomerGrid(TDBGridEh *grid)
{
    const QFont font = songTi14();
    grid->BeginLayout();
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

    TDBGridColumnsEh *columns = grid->Columns();
    columns->Clear();
    for (const CustomerColumn &initial : kCustomerColumns) {
        TColumnEh *column = columns->Add(QString::fromLatin1(initial.field), QString::fromUtf8(initial.title));
        column->setAlignment(Qt::AlignCenter);
        column->Title()->setFont(font);
        column->Title()->setTitleButton(true);
        if (initial.width > 0)
            column->setWidth(initial.width);
    }
    columns->Items(0)->Footer()->setValueType(fvtStaticText);
    columns->Items(0)->Footer()->setValue(QStringLiteral("总计"));
    columns->Items(1)->Footer()->setValueType(fvtCount);
    grid->EndLayout();
}

QString sortForTitleClick(const QString &fieldName, int markerBeforeClick)
{
    if (markerBeforeClick == smDownEh)
        return fieldName;
    return fieldName + QStringLiteral(" DESC");
}

} // namespace lianbu::customers

// ---- the main window's grid handlers ------------------------------------------------------

const int TMainForm::HideItemColumn[11] = {0, 1, 3, 4, 7, 8, 9, 10, 11, 12, 13};

void TMainForm::configureCustomerGrid()
{
    lianbu::customers::configureCustomerGrid(ui->DBGridEh1);
    ui->ToolButton19->setEnabled(false);
    ui->DBGridEh1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->DBGridEh1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu3->popup(ui->DBGridEh1->mapToGlobal(pos)); });
    connect(ui->DBGridEh1, &TDBGridEh::TitleBtnClick, this, &TMainForm::DBGridEh1TitleBtnClick);
    connect(ui->DBGridEh1, &TDBGridEh::CellClick, this, &TMainForm::DBGridEh1CellClick);
    connect(ui->DBGridEh1, &TDBGridEh::DblClick, this, &TMainForm::DBGridEh1DblClick);
}

void TMainForm::DBGridEh1TitleBtnClick(int /*columnIndex*/, TColumnEh *column)
{
    dmfm->ADOQuery15->setSort(
        lianbu::customers::sortForTitleClick(column->FieldName(), column->Title()->SortMarker()));
}

void TMainForm::DBGridEh1CellClick(TColumnEh * /*column*/) { ui->ToolButton19->setEnabled(true); }

void TMainForm::DBGridEh1DblClick()
{
    // The value tested is the one in the first column of the current order, visible or not.
    lianbu::db::DataSet *list = dmfm->ADOQuery15;
    TDBGridColumnsEh *columns = ui->DBGridEh1->Columns();
    if (!list->active() || list->isEmpty() || columns->Count() == 0)
        return;
    if (list->fieldByName(columns->Items(0)->FieldName()).asString().isEmpty())
        return;
    emit recordLoadRequested();
}

void TMainForm::HideItemClick(int itemIndex)
{
    // The item addresses a position in the current column order, whatever its caption names.
    // Its check mark has already been toggled by the click: checked now means "hide".
    const int position = HideItemColumn[itemIndex];
    TDBGridColumnsEh *columns = ui->DBGridEh1->Columns();
    if (position >= columns->Count())
        return;
    columns->Items(position)->setVisible(!HideItems.at(itemIndex)->isChecked());
}

void TMainForm::N20Click()
{
    // A new user's settings folder does not exist yet, and the profile writer never creates
    // folders: the command makes it, so saving works from the first day. Whatever still
    // fails (no right to write, a file in the folder's place) is reported by the save.
    const QString file = lianbu::paths::settingsFilePath();
    QDir().mkpath(QFileInfo(file).absolutePath());
    try {
        ui->DBGridEh1->SaveLayoutToIni(file, QStringLiteral("lianbugrid"), false);
    } catch (...) {
        lianbu::reportCurrentException();
    }
}
