#include "grid/GridColumns.h"

#include "db/ListRows.h"

// ---- ColumnFooter -------------------------------------------------------------------------

lianbu::db::ListFooter describeFooter(const ColumnFooter &footer,
                                      const std::function<int(const QString &)> &valueIndexOf)
{
    using lianbu::db::FooterKind;
    lianbu::db::ListFooter described{FooterKind::None, footer.value(), -1};
    switch (footer.valueType()) {
    case FooterValue::None:
        break;
    case FooterValue::StaticText:
        described.kind = FooterKind::Text;
        break;
    case FooterValue::Count:
        described.kind = FooterKind::Count;
        break;
    case FooterValue::Sum:
        described.kind = FooterKind::Sum;
        break;
    case FooterValue::Average:
        described.kind = FooterKind::Average;
        break;
    case FooterValue::FieldValue:
        described.kind = FooterKind::CurrentValue;
        break;
    }
    const bool ofAField = described.kind == FooterKind::Sum || described.kind == FooterKind::Average
                          || described.kind == FooterKind::CurrentValue;
    if (ofAField && !footer.fieldName().isEmpty()) {
        const int index = valueIndexOf ? valueIndexOf(footer.fieldName()) : -1;
        if (index >= 0)
            described.valueIndex = index;
        else
            described.kind = FooterKind::None;
    }
    return described;
}

void ColumnFooter::changed()
{
    if (m_column)
        m_column->changed(ColumnChange::Footer);
}

void ColumnFooter::setValue(const QString &value)
{
    if (m_value == value)
        return;
    m_value = value;
    changed();
}

void ColumnFooter::setValueType(FooterValue type)
{
    if (m_valueType == type)
        return;
    m_valueType = type;
    changed();
}

void ColumnFooter::setFieldName(const QString &name)
{
    m_fieldName = name;
    changed();
}

QFont ColumnFooter::font() const
{
    if (m_font)
        return *m_font;
    const ColumnOwner *grid = m_column ? m_column->owner() : nullptr;
    return grid ? grid->footerFont() : QFont();
}

void ColumnFooter::setFont(const QFont &font)
{
    m_font = font;
    changed();
}

QColor ColumnFooter::color() const
{
    if (m_color.isValid())
        return m_color;
    const ColumnOwner *grid = m_column ? m_column->owner() : nullptr;
    return grid ? grid->footerColor() : QColor(Qt::white);
}

void ColumnFooter::setColor(const QColor &color)
{
    m_color = color;
    changed();
}

Qt::Alignment ColumnFooter::alignment() const
{
    if (m_alignment)
        return *m_alignment;
    return m_column ? m_column->alignment() : Qt::AlignLeft | Qt::AlignVCenter;
}

void ColumnFooter::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    changed();
}

// ---- ColumnFooters ------------------------------------------------------------------------

ColumnFooter *ColumnFooters::add()
{
    m_items.push_back(std::make_unique<ColumnFooter>(m_column));
    m_column->changed(ColumnChange::Footer);
    return m_items.back().get();
}

void ColumnFooters::remove(int index)
{
    m_items.erase(m_items.begin() + index);
    m_column->changed(ColumnChange::Footer);
}

void ColumnFooters::clear()
{
    m_items.clear();
    m_column->changed(ColumnChange::Footer);
}

// ---- ColumnTitle --------------------------------------------------------------------------

void ColumnTitle::changed()
{
    m_column->changed(ColumnChange::Title);
}

QString ColumnTitle::caption() const
{
    if (!m_caption.isEmpty())
        return m_caption;
    if (const ColumnOwner *grid = m_column->owner()) {
        if (const QString title = grid->fieldTitle(m_column->fieldName()); !title.isEmpty())
            return title;
    }
    return m_column->fieldName();
}

void ColumnTitle::setCaption(const QString &caption)
{
    if (m_caption == caption)
        return;
    m_caption = caption;
    changed();
}

void ColumnTitle::setSortMarker(SortMarker marker)
{
    if (marker != SortMarker::None) {
        if (GridColumns *columns = m_column->collection())
            columns->clearSortMarkers(m_column);
        m_sortIndex = 1;
    } else {
        m_sortIndex = 0;
    }
    m_sortMarker = marker;
    changed();
}

void ColumnTitle::setSortIndex(int index)
{
    m_sortIndex = qMax(0, index);
    changed();
}

void ColumnTitle::setTitleButton(bool on)
{
    m_titleButton = on;
}

QFont ColumnTitle::font() const
{
    if (m_font)
        return *m_font;
    const ColumnOwner *grid = m_column->owner();
    return grid ? grid->titleFont() : QFont();
}

void ColumnTitle::setFont(const QFont &font)
{
    m_font = font;
    m_column->changed(ColumnChange::Structure); // title height may change
}

QColor ColumnTitle::color() const
{
    if (m_color.isValid())
        return m_color;
    const ColumnOwner *grid = m_column->owner();
    return grid ? grid->fixedColor() : QColor(166, 202, 240);
}

void ColumnTitle::setColor(const QColor &color)
{
    m_color = color;
    changed();
}

void ColumnTitle::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    changed();
}

// ---- GridColumn -------------------------------------------------------------------------------

GridColumn::GridColumn(GridColumns *collection)
    : m_collection(collection)
{}

ColumnOwner *GridColumn::owner() const
{
    return m_collection ? m_collection->owner() : nullptr;
}

int GridColumn::index() const
{
    return m_collection ? m_collection->indexOf(this) : -1;
}

void GridColumn::setIndex(int index)
{
    if (m_collection)
        m_collection->move(this->index(), index);
}

void GridColumn::setFieldName(const QString &name)
{
    if (m_fieldName == name)
        return;
    m_fieldName = name;
    changed(ColumnChange::Field);
}

int GridColumn::baseWidth() const
{
    if (m_widthAssigned)
        return m_width;
    const ColumnOwner *grid = owner();
    return grid ? grid->defaultColumnWidth(this) : 64;
}

int GridColumn::width() const
{
    if (m_fittedWidth >= 0)
        return m_fittedWidth;
    return baseWidth();
}

void GridColumn::setWidth(int width)
{
    width = qMax(0, width);
    m_width = width;
    m_widthAssigned = true;
    changed(ColumnChange::Width);
}

void GridColumn::setVisible(bool visible)
{
    if (m_visible == visible)
        return;
    m_visible = visible;
    changed(ColumnChange::Visible);
}

Qt::Alignment GridColumn::alignment() const
{
    if (m_alignment)
        return *m_alignment;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

void GridColumn::setAlignment(Qt::Alignment alignment)
{
    if (!(alignment & Qt::AlignVertical_Mask))
        alignment |= Qt::AlignVCenter;
    m_alignment = alignment;
    changed(ColumnChange::Look);
}

QFont GridColumn::font() const
{
    if (m_font)
        return *m_font;
    const ColumnOwner *grid = owner();
    return grid ? grid->dataFont() : QFont();
}

void GridColumn::setFont(const QFont &font)
{
    m_font = font;
    changed(ColumnChange::Structure); // row height and default width may change
}

QColor GridColumn::color() const
{
    if (m_color.isValid())
        return m_color;
    const ColumnOwner *grid = owner();
    return grid ? grid->color() : QColor(Qt::white);
}

void GridColumn::setColor(const QColor &color)
{
    m_color = color;
    changed(ColumnChange::Look);
}

const ColumnFooter *GridColumn::footerForRow(int row) const
{
    if (m_footers.count() > 0)
        return row >= 0 && row < m_footers.count() ? m_footers.items(row) : nullptr;
    return row == 0 ? &m_footer : nullptr;
}

void GridColumn::changed(ColumnChange what)
{
    if (m_collection)
        m_collection->notify(this, what);
}

// ---- GridColumns ------------------------------------------------------------------------

void GridColumns::notify(GridColumn *column, ColumnChange what)
{
    if (m_owner)
        m_owner->columnChanged(column, what);
}

GridColumn *GridColumns::add()
{
    m_items.push_back(std::make_unique<GridColumn>(this));
    notify(m_items.back().get(), ColumnChange::Structure);
    return m_items.back().get();
}

GridColumn *GridColumns::add(const QString &fieldName, const QString &caption)
{
    auto column = std::make_unique<GridColumn>(this);
    column->m_fieldName = fieldName;
    column->m_title.m_caption = caption;
    m_items.push_back(std::move(column));
    notify(m_items.back().get(), ColumnChange::Structure);
    return m_items.back().get();
}

void GridColumns::remove(int index)
{
    m_items.erase(m_items.begin() + index);
    notify(nullptr, ColumnChange::Structure);
}

void GridColumns::clear()
{
    m_items.clear();
    notify(nullptr, ColumnChange::Structure);
}

void GridColumns::move(int from, int to)
{
    const int n = count();
    if (from < 0 || from >= n)
        return;
    to = qBound(0, to, n - 1);
    if (from == to)
        return;
    auto column = std::move(m_items[size_t(from)]);
    m_items.erase(m_items.begin() + from);
    m_items.insert(m_items.begin() + to, std::move(column));
    notify(nullptr, ColumnChange::Structure);
}

int GridColumns::indexOf(const GridColumn *column) const
{
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == column)
            return int(i);
    return -1;
}

GridColumn *GridColumns::findByFieldName(const QString &fieldName) const
{
    for (const auto &column : m_items)
        if (column->fieldName().compare(fieldName, Qt::CaseInsensitive) == 0)
            return column.get();
    return nullptr;
}

QList<GridColumn *> GridColumns::visibleColumns() const
{
    QList<GridColumn *> list;
    for (const auto &column : m_items)
        if (column->visible())
            list.append(column.get());
    return list;
}

void GridColumns::clearSortMarkers(const GridColumn *keep)
{
    for (const auto &column : m_items) {
        if (column.get() == keep)
            continue;
        ColumnTitle &title = column->m_title;
        if (title.m_sortMarker != SortMarker::None || title.m_sortIndex != 0) {
            title.m_sortMarker = SortMarker::None;
            title.m_sortIndex = 0;
            notify(column.get(), ColumnChange::Title);
        }
    }
}
