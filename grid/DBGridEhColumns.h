#pragma once

// The column collection of TDBGridEh: per column its field, title (caption, sort marker, sort
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

class TDBGridEh;
class TColumnEh;

namespace lianbu::db {
class Field;
}
class TDBGridColumnsEh;

enum TSortMarkerEh { smNoneEh = 0, smDownEh = 1, smUpEh = 2 };

// What a footer cell shows. fvtStaticText shows Value; fvtCount the dataset's record count;
// fvtSum/fvtAvg the sum/average of the non-empty values of the footer's field; fvtFieldValue
// the field's value in the current record; fvtNon nothing.
enum TFooterValueType { fvtNon, fvtSum, fvtAvg, fvtCount, fvtFieldValue, fvtStaticText };

// What changed, so the grid repaints or re-lays out only as much as needed.
enum class TColumnChangeEh { Look, Title, Width, Visible, Footer, Field, Structure };

class TColumnFooterEh
{
public:
    explicit TColumnFooterEh(TColumnEh *column) : m_column(column) {}

    TColumnEh *Column() const { return m_column; }

    QString Value() const { return m_value; }
    void setValue(const QString &value);
    TFooterValueType ValueType() const { return m_valueType; }
    void setValueType(TFooterValueType type);
    // The field summed or shown; empty means the column's own field.
    QString FieldName() const { return m_fieldName; }
    void setFieldName(const QString &name);
    // The field of the grid's open dataset this column shows, or nullptr.
    lianbu::db::Field *Field() const;

    // Unassigned font/colour fall back to the grid's FooterFont/FooterColor.
    QFont Font() const;
    void setFont(const QFont &font);
    bool FontAssigned() const { return m_font.has_value(); }
    QColor Color() const;
    void setColor(const QColor &color);
    Qt::Alignment Alignment() const;
    void setAlignment(Qt::Alignment alignment);

private:
    void changed();

    TColumnEh *m_column;
    QString m_value;
    TFooterValueType m_valueType = fvtNon;
    QString m_fieldName;
    std::optional<QFont> m_font;
    QColor m_color;
    std::optional<Qt::Alignment> m_alignment;
};

// The list of footers of a column, one per footer row; when empty, row 0 uses Footer().
class TColumnFootersEh
{
public:
    explicit TColumnFootersEh(TColumnEh *column) : m_column(column) {}
    int Count() const { return int(m_items.size()); }
    TColumnFooterEh *Items(int index) const { return m_items.at(size_t(index)).get(); }
    TColumnFooterEh *operator[](int index) const { return Items(index); }
    TColumnFooterEh *Add();
    void Delete(int index);
    void Clear();

private:
    TColumnEh *m_column;
    std::vector<std::unique_ptr<TColumnFooterEh>> m_items;
};

class TColumnTitleEh
{
public:
    explicit TColumnTitleEh(TColumnEh *column) : m_column(column) {}

    // Empty caption shows the field's display label (or the field name).
    QString Caption() const;
    void setCaption(const QString &caption);
    QString AssignedCaption() const { return m_caption; }

    TSortMarkerEh SortMarker() const { return m_sortMarker; }
    // Follows single-column sorting: a marker gives sort index 1 and removes every other
    // column's marker; no marker gives sort index 0.
    void setSortMarker(TSortMarkerEh marker);
    int SortIndex() const { return m_sortIndex; }
    void setSortIndex(int index);

    // Whether a click on the title is a title-button click (handler and marker).
    bool TitleButton() const { return m_titleButton; }
    void setTitleButton(bool on);

    // Unassigned font/colour fall back to the grid's TitleFont/FixedColor.
    QFont Font() const;
    void setFont(const QFont &font);
    bool FontAssigned() const { return m_font.has_value(); }
    QColor Color() const;
    void setColor(const QColor &color);
    Qt::Alignment Alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);
    QString Hint() const { return m_hint; }
    void setHint(const QString &hint) { m_hint = hint; }

private:
    friend class TDBGridColumnsEh;
    void changed();

    TColumnEh *m_column;
    QString m_caption;
    TSortMarkerEh m_sortMarker = smNoneEh;
    int m_sortIndex = 0;
    bool m_titleButton = true;
    std::optional<QFont> m_font;
    QColor m_color;
    Qt::Alignment m_alignment = Qt::AlignHCenter | Qt::AlignVCenter;
    QString m_hint;
};

class TColumnEh
{
public:
    explicit TColumnEh(TDBGridColumnsEh *collection);
    TColumnEh(const TColumnEh &) = delete;
    TColumnEh &operator=(const TColumnEh &) = delete;

    TDBGridColumnsEh *Collection() const { return m_collection; }
    TDBGridEh *Grid() const;
    // Position in the collection (the visual order); setting it moves the column.
    int Index() const;
    void setIndex(int index);

    QString FieldName() const { return m_fieldName; }
    void setFieldName(const QString &name);
    // The field of the grid's open dataset this column shows, or nullptr.
    lianbu::db::Field *Field() const;

    TColumnTitleEh *Title() { return &m_title; }
    const TColumnTitleEh *Title() const { return &m_title; }

    // The width shown. Unassigned widths come from the grid's default width for the field.
    // With the grid's AutoFitColWidths on, Width is the fitted width and BaseWidth the width
    // the column returns to when fitting is switched off.
    int Width() const;
    void setWidth(int width);
    bool WidthAssigned() const { return m_widthAssigned; }
    int BaseWidth() const;

    bool Visible() const { return m_visible; }
    void setVisible(bool visible);

    Qt::Alignment Alignment() const;
    void setAlignment(Qt::Alignment alignment);
    QFont Font() const;
    void setFont(const QFont &font);
    bool FontAssigned() const { return m_font.has_value(); }
    QColor Color() const;
    void setColor(const QColor &color);

    // Footer() serves a single footer row; Footers() one entry per footer row when filled.
    TColumnFooterEh *Footer() { return &m_footer; }
    const TColumnFooterEh *Footer() const { return &m_footer; }
    TColumnFootersEh *Footers() { return &m_footers; }
    const TColumnFootersEh *Footers() const { return &m_footers; }
    // The footer shown in footer row `row` (Footers()[row] when the list is filled, else
    // Footer() for row 0); nullptr when the column shows nothing in that row.
    const TColumnFooterEh *FooterForRow(int row) const;

    int DropDownRows() const { return m_dropDownRows; }
    void setDropDownRows(int rows) { m_dropDownRows = rows; }
    int DropDownWidth() const { return m_dropDownWidth; }
    void setDropDownWidth(int width) { m_dropDownWidth = width; }

    void changed(TColumnChangeEh what);

private:
    friend class TDBGridColumnsEh;
    friend class TDBGridEh;

    TDBGridColumnsEh *m_collection;
    QString m_fieldName;
    TColumnTitleEh m_title{this};
    int m_width = 0;       // assigned or base width
    bool m_widthAssigned = false;
    int m_fittedWidth = -1; // width while fitted to the client width; -1 when not fitted
    bool m_visible = true;
    std::optional<Qt::Alignment> m_alignment;
    std::optional<QFont> m_font;
    QColor m_color;
    TColumnFooterEh m_footer{this};
    TColumnFootersEh m_footers{this};
    int m_dropDownRows = 7;
    int m_dropDownWidth = 0;
};

class TDBGridColumnsEh
{
public:
    explicit TDBGridColumnsEh(TDBGridEh *grid) : m_grid(grid) {}
    TDBGridColumnsEh(const TDBGridColumnsEh &) = delete;
    TDBGridColumnsEh &operator=(const TDBGridColumnsEh &) = delete;

    TDBGridEh *Grid() const { return m_grid; }
    int Count() const { return int(m_items.size()); }
    TColumnEh *Items(int index) const { return m_items.at(size_t(index)).get(); }
    TColumnEh *operator[](int index) const { return Items(index); }
    TColumnEh *Add();
    TColumnEh *Add(const QString &fieldName, const QString &caption = QString());
    void Delete(int index);
    void Clear();
    // Moves the column at `from` to position `to`; the columns between shift by one.
    void Move(int from, int to);
    int IndexOf(const TColumnEh *column) const;
    // First column bound to the field (case-insensitive), or nullptr.
    TColumnEh *FindByFieldName(const QString &fieldName) const;
    // Visible columns in their current order.
    QList<TColumnEh *> VisibleColumns() const;

    // Single-column sorting: removes every marker except `keep`'s.
    void ClearSortMarkers(const TColumnEh *keep = nullptr);

private:
    friend class TColumnEh;
    friend class TColumnTitleEh;
    void notify(TColumnEh *column, TColumnChangeEh what);

    TDBGridEh *m_grid;
    std::vector<std::unique_ptr<TColumnEh>> m_items;
};
