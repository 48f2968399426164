#include "grid/DBGridEhColumns.h"

#include "grid/DBGridEh.h"

#include "db/DataSet.h"
#include "db/Field.h"

// ---- TColumnFooterEh -------------------------------------------------------------------------

void TColumnFooterEh::changed()
{
    if (m_column)
        m_column->changed(TColumnChangeEh::Footer);
}

void TColumnFooterEh::setValue(const QString &value)
{
    if (m_value == value)
        return;
    m_value = value;
    changed();
}

void TColumnFooterEh::setValueType(TFooterValueType type)
{
    if (m_valueType == type)
        return;
    m_valueType = type;
    changed();
}

void TColumnFooterEh::setFieldName(const QString &name)
{
    m_fieldName = name;
    changed();
}

QFont TColumnFooterEh::Font() const
{
    if (m_font)
        return *m_font;
    TDBGridEh *grid = m_column ? m_column->Grid() : nullptr;
    return grid ? grid->FooterFont() : QFont();
}

void TColumnFooterEh::setFont(const QFont &font)
{
    m_font = font;
    changed();
}

QColor TColumnFooterEh::Color() const
{
    if (m_color.isValid())
        return m_color;
    TDBGridEh *grid = m_column ? m_column->Grid() : nullptr;
    return grid ? grid->FooterColor() : QColor(Qt::white);
}

void TColumnFooterEh::setColor(const QColor &color)
{
    m_color = color;
    changed();
}

Qt::Alignment TColumnFooterEh::Alignment() const
{
    if (m_alignment)
        return *m_alignment;
    return m_column ? m_column->Alignment() : Qt::AlignLeft | Qt::AlignVCenter;
}

void TColumnFooterEh::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    changed();
}

// ---- TColumnFootersEh ------------------------------------------------------------------------

TColumnFooterEh *TColumnFootersEh::Add()
{
    m_items.push_back(std::make_unique<TColumnFooterEh>(m_column));
    m_column->changed(TColumnChangeEh::Footer);
    return m_items.back().get();
}

void TColumnFootersEh::Delete(int index)
{
    m_items.erase(m_items.begin() + index);
    m_column->changed(TColumnChangeEh::Footer);
}

void TColumnFootersEh::Clear()
{
    m_items.clear();
    m_column->changed(TColumnChangeEh::Footer);
}

// ---- TColumnTitleEh --------------------------------------------------------------------------

void TColumnTitleEh::changed()
{
    m_column->changed(TColumnChangeEh::Title);
}

QString TColumnTitleEh::Caption() const
{
    if (!m_caption.isEmpty())
        return m_caption;
    TDBGridEh *grid = m_column->Grid();
    if (grid) {
        if (lianbu::db::DataSet *ds = grid->DataSet()) {
            if (const lianbu::db::Field *field = ds->findField(m_column->FieldName()))
                return field->displayLabel();
        }
    }
    return m_column->FieldName();
}

void TColumnTitleEh::setCaption(const QString &caption)
{
    if (m_caption == caption)
        return;
    m_caption = caption;
    changed();
}

void TColumnTitleEh::setSortMarker(TSortMarkerEh marker)
{
    if (marker != smNoneEh) {
        if (TDBGridColumnsEh *columns = m_column->Collection())
            columns->ClearSortMarkers(m_column);
        m_sortIndex = 1;
    } else {
        m_sortIndex = 0;
    }
    m_sortMarker = marker;
    changed();
}

void TColumnTitleEh::setSortIndex(int index)
{
    m_sortIndex = qMax(0, index);
    changed();
}

void TColumnTitleEh::setTitleButton(bool on)
{
    m_titleButton = on;
}

QFont TColumnTitleEh::Font() const
{
    if (m_font)
        return *m_font;
    TDBGridEh *grid = m_column->Grid();
    return grid ? grid->TitleFont() : QFont();
}

void TColumnTitleEh::setFont(const QFont &font)
{
    m_font = font;
    m_column->changed(TColumnChangeEh::Structure); // title height may change
}

QColor TColumnTitleEh::Color() const
{
    if (m_color.isValid())
        return m_color;
    TDBGridEh *grid = m_column->Grid();
    return grid ? grid->FixedColor() : QColor(166, 202, 240);
}

void TColumnTitleEh::setColor(const QColor &color)
{
    m_color = color;
    changed();
}

void TColumnTitleEh::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    changed();
}

// ---- TColumnEh -------------------------------------------------------------------------------

TColumnEh::TColumnEh(TDBGridColumnsEh *collection) : m_collection(collection) {}

TDBGridEh *TColumnEh::Grid() const
{
    return m_collection ? m_collection->Grid() : nullptr;
}

int TColumnEh::Index() const
{
    return m_collection ? m_collection->IndexOf(this) : -1;
}

void TColumnEh::setIndex(int index)
{
    if (m_collection)
        m_collection->Move(Index(), index);
}

void TColumnEh::setFieldName(const QString &name)
{
    if (m_fieldName == name)
        return;
    m_fieldName = name;
    changed(TColumnChangeEh::Field);
}

lianbu::db::Field *TColumnEh::Field() const
{
    TDBGridEh *grid = Grid();
    lianbu::db::DataSet *ds = grid ? grid->DataSet() : nullptr;
    return ds && ds->active() ? ds->findField(m_fieldName) : nullptr;
}

int TColumnEh::BaseWidth() const
{
    if (m_widthAssigned)
        return m_width;
    TDBGridEh *grid = Grid();
    return grid ? grid->DefaultColumnWidth(this) : 64;
}

int TColumnEh::Width() const
{
    if (m_fittedWidth >= 0)
        return m_fittedWidth;
    return BaseWidth();
}

void TColumnEh::setWidth(int width)
{
    width = qMax(0, width);
    m_width = width;
    m_widthAssigned = true;
    changed(TColumnChangeEh::Width);
}

void TColumnEh::setVisible(bool visible)
{
    if (m_visible == visible)
        return;
    m_visible = visible;
    changed(TColumnChangeEh::Visible);
}

Qt::Alignment TColumnEh::Alignment() const
{
    if (m_alignment)
        return *m_alignment;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

void TColumnEh::setAlignment(Qt::Alignment alignment)
{
    if (!(alignment & Qt::AlignVertical_Mask))
        alignment |= Qt::AlignVCenter;
    m_alignment = alignment;
    changed(TColumnChangeEh::Look);
}

QFont TColumnEh::Font() const
{
    if (m_font)
        return *m_font;
    TDBGridEh *grid = Grid();
    return grid ? grid->DataFont() : QFont();
}

void TColumnEh::setFont(const QFont &font)
{
    m_font = font;
    changed(TColumnChangeEh::Structure); // row height and default width may change
}

QColor TColumnEh::Color() const
{
    if (m_color.isValid())
        return m_color;
    TDBGridEh *grid = Grid();
    return grid ? grid->Color() : QColor(Qt::white);
}

void TColumnEh::setColor(const QColor &color)
{
    m_color = color;
    changed(TColumnChangeEh::Look);
}

const TColumnFooterEh *TColumnEh::FooterForRow(int row) const
{
    if (m_footers.Count() > 0)
        return row >= 0 && row < m_footers.Count() ? m_footers.Items(row) : nullptr;
    return row == 0 ? &m_footer : nullptr;
}

void TColumnEh::changed(TColumnChangeEh what)
{
    if (m_collection)
        m_collection->notify(this, what);
}

// ---- TDBGridColumnsEh ------------------------------------------------------------------------

void TDBGridColumnsEh::notify(TColumnEh *column, TColumnChangeEh what)
{
    if (m_grid)
        m_grid->columnChanged(column, what);
}

TColumnEh *TDBGridColumnsEh::Add()
{
    m_items.push_back(std::make_unique<TColumnEh>(this));
    notify(m_items.back().get(), TColumnChangeEh::Structure);
    return m_items.back().get();
}

TColumnEh *TDBGridColumnsEh::Add(const QString &fieldName, const QString &caption)
{
    auto column = std::make_unique<TColumnEh>(this);
    column->m_fieldName = fieldName;
    column->m_title.m_caption = caption;
    m_items.push_back(std::move(column));
    notify(m_items.back().get(), TColumnChangeEh::Structure);
    return m_items.back().get();
}

void TDBGridColumnsEh::Delete(int index)
{
    m_items.erase(m_items.begin() + index);
    notify(nullptr, TColumnChangeEh::Structure);
}

void TDBGridColumnsEh::Clear()
{
    m_items.clear();
    notify(nullptr, TColumnChangeEh::Structure);
}

void TDBGridColumnsEh::Move(int from, int to)
{
    const int n = Count();
    if (from < 0 || from >= n)
        return;
    to = qBound(0, to, n - 1);
    if (from == to)
        return;
    auto column = std::move(m_items[size_t(from)]);
    m_items.erase(m_items.begin() + from);
    m_items.insert(m_items.begin() + to, std::move(column));
    notify(nullptr, TColumnChangeEh::Structure);
}

int TDBGridColumnsEh::IndexOf(const TColumnEh *column) const
{
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == column)
            return int(i);
    return -1;
}

TColumnEh *TDBGridColumnsEh::FindByFieldName(const QString &fieldName) const
{
    for (const auto &column : m_items)
        if (column->FieldName().compare(fieldName, Qt::CaseInsensitive) == 0)
            return column.get();
    return nullptr;
}

QList<TColumnEh *> TDBGridColumnsEh::VisibleColumns() const
{
    QList<TColumnEh *> list;
    for (const auto &column : m_items)
        if (column->Visible())
            list.append(column.get());
    return list;
}

void TDBGridColumnsEh::ClearSortMarkers(const TColumnEh *keep)
{
    for (const auto &column : m_items) {
        if (column.get() == keep)
            continue;
        TColumnTitleEh &title = column->m_title;
        if (title.m_sortMarker != smNoneEh || title.m_sortIndex != 0) {
            title.m_sortMarker = smNoneEh;
            title.m_sortIndex = 0;
            notify(column.get(), TColumnChangeEh::Title);
        }
    }
}
