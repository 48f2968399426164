#include "customers/ShownList.h"

#include "db/ListRoles.h"
#include "grid/DataGrid.h"

#include <QAbstractItemModel>

namespace lianbu::customers {

db::ListColumns shownColumns(const DataGrid &grid, const QHash<QString, QString> &unshownTitles)
{
    db::ListColumns list;
    list.footerRows = grid.footerRowCount();
    list.multiLevelTitles = grid.useMultiTitle();
    const QAbstractItemModel *model = grid.listModel();
    const int fields = model ? model->columnCount() : 0;
    const bool open = fields > 0;
    auto typeOf = [model](int column) {
        const QVariant type = model->headerData(column, Qt::Horizontal, db::ListRole::FieldType);
        return type.isValid() ? db::Field::DataType(type.toInt()) : db::Field::DataType::String;
    };
    auto valueIndexOf = [&grid](const QString &name) { return grid.listColumnOfField(name); };
    const GridColumns *all = grid.columns();
    for (int i = 0; i < all->count(); ++i)
        list.titleDepth = std::max(list.titleDepth, int(db::titleLevels(all->items(i)->title()->caption()).size()));

    for (const GridColumn *column : grid.visibleColumns()) {
        db::ListColumn shown;
        shown.fieldName = column->fieldName();
        if (const int column = open ? grid.listColumnOfField(shown.fieldName) : -1; column >= 0) {
            shown.valueIndex = column;
            shown.type = typeOf(column);
        }
        shown.title = column->title()->caption();
        shown.width = column->width();
        shown.alignment = column->alignment();
        shown.titleAlignment = column->title()->alignment();
        for (int row = 0; row < list.footerRows; ++row) {
            const ColumnFooter *footer = column->footerForRow(row);
            if (!footer)
                break;
            shown.footers.push_back(describeFooter(*footer, valueIndexOf));
        }
        list.columns.push_back(std::move(shown));
    }

    if (!open || unshownTitles.isEmpty())
        return list;
    QHash<QString, QString> titles;
    for (auto it = unshownTitles.cbegin(); it != unshownTitles.cend(); ++it)
        titles.insert(it.key().toLower(), it.value());
    for (int k = 0; k < fields; ++k) {
        const QString name = model->headerData(k, Qt::Horizontal, db::ListRole::FieldName).toString();
        const auto title = titles.constFind(name.toLower());
        // a field some column shows, even a hidden one, stays out: its values would stand
        // under no title
        if (title == titles.cend() || all->findByFieldName(name))
            continue;
        db::ListColumn unshown;
        unshown.fieldName = name;
        unshown.valueIndex = k;
        unshown.type = typeOf(k);
        unshown.title = title.value();
        unshown.shown = false;
        list.columns.push_back(std::move(unshown));
    }
    return list;
}

} // namespace lianbu::customers
