#include "data/CustomerColumns.h"
#include "customers/CustomerGrid.h"

#include "data/FollowUpDates.h"

#include "grid/DataGrid.h"

namespace lianbu::customers {

const CustomerColumn kCustomerColumns[14] = {
    {col::Category, "客户类别", 0}, {col::ShortName, "客户简称", 0},
    {col::Name, "姓  名", 50},      {col::Sex, "性别", 30},
    {col::Position, "职  务", 55},  {col::Mobile, "手  机", 70},
    {col::Phone, "电  话", 70},     {col::Fax, "传  真", 0},
    {col::Address, "地  址", 0},    {col::Company, "单  位", 0},
    {col::Postcode, "邮  编", 50},  {col::Email, "电子邮件", 0},
    {col::Notes, "备注", 0},        {col::RegistrationDate, "登记日期", 0},
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
    // The follow-up dates come hidden: whoever never shows them keeps the list as it was.
    for (const auto &[field, title] :
         {std::pair{data::kLastFollowUpField, "最近跟进"}, std::pair{data::kNextContactField, "下次联系"}}) {
        GridColumn *column = columns->add(QString::fromLatin1(field), QString::fromUtf8(title));
        column->setAlignment(Qt::AlignCenter);
        column->title()->setFont(font);
        column->title()->setTitleButton(true);
        column->setWidth(80);
        column->setVisible(false);
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
