#include "customers/ShownList.h"

#include "db/DataSet.h"
#include "grid/DataGrid.h"

namespace lianbu::customers {

db::ListColumns shownColumns(const DataGrid &grid, const QHash<QString, QString> &unshownTitles)
{
    db::ListColumns list;
    list.footerRows = grid.footerRowCount();
    list.multiLevelTitles = grid.useMultiTitle();
    const db::DataSet *ds = grid.dataSet();
    const bool open = ds && ds->active();
    const GridColumns *all = grid.columns();
    for (int i = 0; i < all->count(); ++i)
        list.titleDepth = std::max(list.titleDepth, int(db::titleLevels(all->items(i)->title()->caption()).size()));

    for (const GridColumn *column : grid.visibleColumns()) {
        db::ListColumn shown;
        shown.fieldName = column->fieldName();
        if (const db::Field *field = open ? ds->findField(shown.fieldName) : nullptr) {
            shown.valueIndex = field->index();
            shown.type = field->dataType();
        }
        shown.title = column->title()->caption();
        shown.width = column->width();
        shown.alignment = column->alignment();
        shown.titleAlignment = column->title()->alignment();
        for (int row = 0; row < list.footerRows; ++row) {
            const ColumnFooter *footer = column->footerForRow(row);
            if (!footer)
                break;
            shown.footers.push_back(describeFooter(*footer, ds));
        }
        list.columns.push_back(std::move(shown));
    }

    if (!open || unshownTitles.isEmpty())
        return list;
    QHash<QString, QString> titles;
    for (auto it = unshownTitles.cbegin(); it != unshownTitles.cend(); ++it)
        titles.insert(it.key().toLower(), it.value());
    for (int k = 0; k < ds->fieldCount(); ++k) {
        const db::Field &field = ds->field(k);
        const auto title = titles.constFind(field.fieldName().toLower());
        // a field some column shows, even a hidden one, stays out: its values would stand
        // under no title
        if (title == titles.cend() || all->findByFieldName(field.fieldName()))
            continue;
        db::ListColumn unshown;
        unshown.fieldName = field.fieldName();
        unshown.valueIndex = k;
        unshown.type = field.dataType();
        unshown.title = title.value();
        unshown.shown = false;
        list.columns.push_back(std::move(unshown));
    }
    return list;
}

} // namespace lianbu::customers
