#pragma once

// The column collection of DataGrid: per column its field, title (caption, sort marker, sort
// index), width, visibility, fonts, colours, alignment, footers and drop-down settings.
// Properties left unassigned (font, colour) take the grid's value, so changing the grid's font
// changes every column that did not set its own.

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class GridColumn;

namespace lianbu::db {
struct ListFooter;
} // namespace lianbu::db
class GridColumns;

enum class SortMarker { None = 0, Down = 1, Up = 2 };

// What a footer cell shows. FooterValue::StaticText shows value; FooterValue::Count the dataset's record count;
// FooterValue::Sum/FooterValue::Average the sum/average of the non-empty values of the footer's field; FooterValue::FieldValue
// the field's value in the current record; FooterValue::None nothing.
enum class FooterValue { None, Sum, Average, Count, FieldValue, StaticText };

// What changed, so the grid repaints or re-lays out only as much as needed.
enum class ColumnChange { Look, Title, Width, Visible, Footer, Field, Structure };

// What the columns ask of the grid they belong to: the grid-wide look their unassigned
// properties fall back to, the default width, the fields of the data shown, and where a change
// is reported.
class ColumnOwner
{
public:
    virtual QFont dataFont() const = 0;
    virtual QColor color() const = 0;
    virtual QFont titleFont() const = 0;
    virtual QColor fixedColor() const = 0;
    virtual QFont footerFont() const = 0;
    virtual QColor footerColor() const = 0;
    virtual int defaultColumnWidth(const GridColumn *column) const = 0;
    // The title the shown list gives the field named so (case-insensitive); empty when it has
    // no such field.
    virtual QString fieldTitle(const QString &name) const = 0;
    virtual void columnChanged(GridColumn *column, ColumnChange what) = 0;

protected:
    ~ColumnOwner() = default;
};

class ColumnFooter
{
public:
    explicit ColumnFooter(GridColumn *column)
        : m_column(column)
    {}

    GridColumn *column() const { return m_column; }

    QString value() const { return m_value; }
    void setValue(const QString &value);
    FooterValue valueType() const { return m_valueType; }
    void setValueType(FooterValue type);
    // The field summed or shown; empty means the column's own field.
    QString fieldName() const { return m_fieldName; }
    void setFieldName(const QString &name);

    // Unassigned font/colour fall back to the grid's footerFont/footerColor.
    QFont font() const;
    void setFont(const QFont &font);
    bool fontAssigned() const { return m_font.has_value(); }
    QColor color() const;
    void setColor(const QColor &color);
    Qt::Alignment alignment() const;
    void setAlignment(Qt::Alignment alignment);

private:
    void changed();

    GridColumn *m_column;
    QString m_value;
    FooterValue m_valueType = FooterValue::None;
    QString m_fieldName;
    std::optional<QFont> m_font;
    QColor m_color;
    std::optional<Qt::Alignment> m_alignment;
};

// The footer as export, printing and the grid's own footer read it; value indices are what
// `valueIndexOf` gives for a field name (-1 when the list lacks it). A summed field the list
// lacks shows nothing.
lianbu::db::ListFooter describeFooter(const ColumnFooter &footer,
                                      const std::function<int(const QString &)> &valueIndexOf);

// The list of footers of a column, one per footer row; when empty, row 0 uses Footer().
class ColumnFooters
{
public:
    explicit ColumnFooters(GridColumn *column)
        : m_column(column)
    {}
    int count() const { return int(m_items.size()); }
    ColumnFooter *items(int index) const { return m_items.at(size_t(index)).get(); }
    ColumnFooter *operator[](int index) const { return items(index); }
    ColumnFooter *add();
    void remove(int index);
    void clear();

private:
    GridColumn *m_column;
    std::vector<std::unique_ptr<ColumnFooter>> m_items;
};

class ColumnTitle
{
public:
    explicit ColumnTitle(GridColumn *column)
        : m_column(column)
    {}

    // Empty caption shows the field's display label (or the field name).
    QString caption() const;
    void setCaption(const QString &caption);
    QString assignedCaption() const { return m_caption; }

    SortMarker sortMarker() const { return m_sortMarker; }
    // Follows single-column sorting: a marker gives sort index 1 and removes every other
    // column's marker; no marker gives sort index 0.
    void setSortMarker(SortMarker marker);
    int sortIndex() const { return m_sortIndex; }
    void setSortIndex(int index);

    // Whether a click on the title is a title-button click (handler and marker).
    bool titleButton() const { return m_titleButton; }
    void setTitleButton(bool on);

    // Unassigned font/colour fall back to the grid's titleFont/fixedColor.
    QFont font() const;
    void setFont(const QFont &font);
    bool fontAssigned() const { return m_font.has_value(); }
    QColor color() const;
    void setColor(const QColor &color);
    Qt::Alignment alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);
    QString hint() const { return m_hint; }
    void setHint(const QString &hint) { m_hint = hint; }

private:
    friend class GridColumns;
    void changed();

    GridColumn *m_column;
    QString m_caption;
    SortMarker m_sortMarker = SortMarker::None;
    int m_sortIndex = 0;
    bool m_titleButton = true;
    std::optional<QFont> m_font;
    QColor m_color;
    Qt::Alignment m_alignment = Qt::AlignHCenter | Qt::AlignVCenter;
    QString m_hint;
};

class GridColumn
{
public:
    explicit GridColumn(GridColumns *collection);
    GridColumn(const GridColumn &) = delete;
    GridColumn &operator=(const GridColumn &) = delete;

    GridColumns *collection() const { return m_collection; }
    ColumnOwner *owner() const;
    // Position in the collection (the visual order); setting it moves the column.
    int index() const;
    void setIndex(int index);

    QString fieldName() const { return m_fieldName; }
    void setFieldName(const QString &name);

    ColumnTitle *title() { return &m_title; }
    const ColumnTitle *title() const { return &m_title; }

    // The width shown. Unassigned widths come from the grid's default width for the field.
    // With the grid's autoFitColWidths on, Width is the fitted width and baseWidth the width
    // the column returns to when fitting is switched off.
    int width() const;
    void setWidth(int width);
    bool widthAssigned() const { return m_widthAssigned; }
    int baseWidth() const;

    bool visible() const { return m_visible; }
    void setVisible(bool visible);

    Qt::Alignment alignment() const;
    void setAlignment(Qt::Alignment alignment);
    QFont font() const;
    void setFont(const QFont &font);
    bool fontAssigned() const { return m_font.has_value(); }
    QColor color() const;
    void setColor(const QColor &color);

    // Footer() serves a single footer row; footers() one entry per footer row when filled.
    ColumnFooter *footer() { return &m_footer; }
    const ColumnFooter *footer() const { return &m_footer; }
    ColumnFooters *footers() { return &m_footers; }
    const ColumnFooters *footers() const { return &m_footers; }
    // The footer shown in footer row `row` (footers()[row] when the list is filled, else
    // Footer() for row 0); nullptr when the column shows nothing in that row.
    const ColumnFooter *footerForRow(int row) const;

    int dropDownRows() const { return m_dropDownRows; }
    void setDropDownRows(int rows) { m_dropDownRows = rows; }
    int dropDownWidth() const { return m_dropDownWidth; }
    void setDropDownWidth(int width) { m_dropDownWidth = width; }

    void changed(ColumnChange what);

private:
    friend class GridColumns;
    friend class DataGrid;

    GridColumns *m_collection;
    QString m_fieldName;
    ColumnTitle m_title{this};
    int m_width = 0; // assigned or base width
    bool m_widthAssigned = false;
    int m_fittedWidth = -1; // width while fitted to the client width; -1 when not fitted
    bool m_visible = true;
    std::optional<Qt::Alignment> m_alignment;
    std::optional<QFont> m_font;
    QColor m_color;
    ColumnFooter m_footer{this};
    ColumnFooters m_footers{this};
    int m_dropDownRows = 7;
    int m_dropDownWidth = 0;
};

class GridColumns
{
public:
    explicit GridColumns(ColumnOwner *owner)
        : m_owner(owner)
    {}
    GridColumns(const GridColumns &) = delete;
    GridColumns &operator=(const GridColumns &) = delete;

    ColumnOwner *owner() const { return m_owner; }
    int count() const { return int(m_items.size()); }
    GridColumn *items(int index) const { return m_items.at(size_t(index)).get(); }
    GridColumn *operator[](int index) const { return items(index); }
    GridColumn *add();
    GridColumn *add(const QString &fieldName, const QString &caption = QString());
    void remove(int index);
    void clear();
    // Moves the column at `from` to position `to`; the columns between shift by one.
    void move(int from, int to);
    int indexOf(const GridColumn *column) const;
    // First column bound to the field (case-insensitive), or nullptr.
    GridColumn *findByFieldName(const QString &fieldName) const;
    // Visible columns in their current order.
    QList<GridColumn *> visibleColumns() const;

    // Single-column sorting: removes every marker except `keep`'s.
    void clearSortMarkers(const GridColumn *keep = nullptr);

private:
    friend class GridColumn;
    friend class ColumnTitle;
    void notify(GridColumn *column, ColumnChange what);

    ColumnOwner *m_owner;
    std::vector<std::unique_ptr<GridColumn>> m_items;
};
