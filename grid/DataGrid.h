#pragma once

// DataGrid: the data grid control, a view over any table model (its list model). Shows the
// model's rows under columns described by the columns collection, which are presentation only:
// each binds to the model's column whose header names its field (db::ListRole::FieldName).
// Titles with sort markers and multi-level captions, an indicator column marking the current
// row, whole-row selection, alternating row colours, footer rows with static text, record count
// or sums.
//
// The current row is the view's current index. Every change of the model (reset, sort, rows
// inserted, changed or removed) shows at once; after a reset the first row is current.

#include "grid/ColumnLayoutFile.h"
#include "grid/GridSurface.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QAbstractItemModel;

namespace lianbu::db {
class RowReader;
} // namespace lianbu::db

class QTableView;
class QScrollBar;
class QHeaderView;
class DataGridModel;
class GridView;
class GridHeader;
class GridIndicator;
class GridFooter;

class DataGrid : public QWidget, public GridSurface
{
    Q_OBJECT

public:
    explicit DataGrid(QWidget *parent = nullptr);
    ~DataGrid() override;

    // ---- the list shown ----------------------------------------------------------------------
    // The model shown (not owned; nullptr for none). One reset of the view.
    void setListModel(QAbstractItemModel *model);
    QAbstractItemModel *listModel() const;
    // The list model's column showing the field (any letter case), -1 when none.
    int listColumnOfField(const QString &name) const;
    // The rows as shown, for sums, export and printing: the list model's own reader when it
    // offers one (db::RowSource), otherwise one over its display texts. Value index = the list
    // model's column. Never null.
    std::unique_ptr<lianbu::db::RowReader> rowReader() const;

    // ---- columns ---------------------------------------------------------------------------
    GridColumns *columns() { return &m_columns; }
    const GridColumns *columns() const override { return &m_columns; }
    // Visible columns in their current order (what export and printing lay out).
    QList<GridColumn *> visibleColumns() const { return m_columns.visibleColumns(); }
    // The width an unassigned column takes: from its field's declared width in the column
    // font, at least as wide as its title.
    int defaultColumnWidth(const GridColumn *column) const override;
    QString fieldTitle(const QString &name) const override;

    // ---- look and behaviour ----------------------------------------------------------------
    QColor color() const override { return m_color; } // data cell background
    void setColor(const QColor &color);
    QFont dataFont() const override { return font(); } // the grid's font is the data cells' font
    QFont titleFont() const override { return m_titleFont ? *m_titleFont : font(); }
    void setTitleFont(const QFont &font);
    QColor fixedColor() const override { return m_fixedColor; } // title and indicator background
    void setFixedColor(const QColor &color);

    // Alternating row background by record number (1-based); an invalid colour means the
    // column's own colour.
    QColor oddRowColor() const { return m_oddRowColor; }
    void setOddRowColor(const QColor &color);
    QColor evenRowColor() const { return m_evenRowColor; }
    void setEvenRowColor(const QColor &color);

    // 0 = automatic height (one text line); otherwise rowLines text lines plus rowHeight px.
    int rowHeight() const { return m_rowHeight; }
    void setRowHeight(int height);
    int rowLines() const { return m_rowLines; }
    void setRowLines(int lines);
    // Title rows: 0/0 = automatic (one text line); otherwise titleLines lines plus titleHeight px.
    int titleHeight() const { return m_titleHeight; }
    void setTitleHeight(int height);
    int titleLines() const { return m_titleLines; }
    void setTitleLines(int lines);
    // Extra space per title level with multi-level titles.
    int vTitleMargin() const { return m_vTitleMargin; }
    void setVTitleMargin(int margin);
    bool useMultiTitle() const override { return m_useMultiTitle; }
    void setUseMultiTitle(bool on);

    // Fit the visible columns to the client width exactly, keeping the base widths.
    bool autoFitColWidths() const { return m_autoFit; }
    void setAutoFitColWidths(bool on);

    int footerRowCount() const override { return m_footerRowCount; }
    void setFooterRowCount(int count);
    QColor footerColor() const override { return m_footerColor; }
    void setFooterColor(const QColor &color);
    QFont footerFont() const override { return m_footerFont ? *m_footerFont : font(); }
    void setFooterFont(const QFont &font);

    // Titles and indicator are drawn flat (no raised button edges); printing uses the smaller
    // cell inset of a flat grid.
    bool flat() const override { return m_flat; }
    void setFlat(bool on) { m_flat = on; }
    bool showTitles() const { return m_showTitles; }
    void setShowTitles(bool on);
    bool showIndicator() const override { return m_showIndicator; }
    void setShowIndicator(bool on);
    bool colLines() const override { return m_colLines; }
    void setColLines(bool on);
    bool rowLinesVisible() const override { return m_rowLinesVisible; }
    void setRowLinesVisible(bool on);
    bool rowSelect() const override { return m_rowSelect; }
    void setRowSelect(bool on);
    bool readOnly() const { return m_readOnly; }
    void setReadOnly(bool on) { m_readOnly = on; }
    bool columnsResizable() const { return m_columnsResizable; }
    void setColumnsResizable(bool on);
    bool columnsMovable() const { return m_columnsMovable; }
    void setColumnsMovable(bool on);
    // A title click advances the clicked column's marker after titleClicked.
    bool autoSortMarking() const { return m_autoSortMarking; }
    void setAutoSortMarking(bool on) { m_autoSortMarking = on; }
    // Tooltip of the data area and titles.
    QString hint() const override { return toolTip(); }
    QPalette gridPalette() const override { return palette(); }
    void setHint(const QString &hint);

    // ---- geometry derived from the settings ------------------------------------------------
    int dataRowHeight() const override;   // height of one data row
    int titleRowHeight() const override;  // total height of the title area
    int footerRowHeight() const override; // height of one footer row
    int indicatorWidth() const override;

    // ---- reading what the grid shows (export, printing) ------------------------------------
    // The display text of a data cell: row is 0-based in the model's order.
    QString cellDisplayText(int row, const GridColumn *column) const;
    // The text of a footer cell as shown (footer row 0-based).
    QString footerDisplayText(int footerRow, const GridColumn *column) const override;
    // Background of a data cell as painted (alternating colours applied).
    QColor cellColor(int row, const GridColumn *column) const override;
    // The list model's column a grid column shows, -1 when none.
    int fieldIndexOf(const GridColumn *column) const;

    // ---- column layout in an initialization file (ColumnLayoutFile) --------------------------
    // The first part of every stored entry name ("<layoutKey>.<field>"); the object name unless
    // set, so a grid renamed in code can keep reading the layouts users already saved.
    QString layoutKey() const { return m_layoutKey.isEmpty() ? objectName() : m_layoutKey; }
    void setLayoutKey(const QString &key) { m_layoutKey = key; }
    // Writes one entry per column ("<layoutKey>.<field>") and the "(Default)" grid entry into
    // section; with eraseSection the section is removed first. Throws lianbu::Error
    // "Unable to write to <file>" at the first entry that cannot be written (earlier entries
    // stay written).
    void saveLayoutToIni(const QString &fileName, const QString &section, bool eraseSection);
    // Applies what options choose of the stored layout; missing file, section or entries
    // leave the columns as they are. Never reports anything and never re-sorts the rows.
    void restoreLayoutFromIni(const QString &fileName, const QString &section, LayoutRestoreOptions options);

    // ---- suspension ------------------------------------------------------------------------
    // While the layout is locked, column changes are collected and applied once at the end.
    void beginLayout();
    void endLayout();
    bool layoutLocked() const { return m_layoutLock > 0; }

    // ---- current position ------------------------------------------------------------------
    // 0-based row shown as current, -1 when none.
    int currentRow() const override;
    // Makes `row` current (clamped into the rows) and scrolls it into view; -1 clears it.
    void setCurrentRow(int row);
    // index in columns of the column holding the focus cell, -1 when none.
    int selectedIndex() const;

    // The inner view, for tests and for components that need to map positions.
    QTableView *view() const override;
    QHeaderView *titleHeader() const override;
    QWidget *footerWidget() const override;
    DataGridModel *model() const { return m_model; }

    // Does what a click on the column's title does: titleClicked first, then the marker.
    void clickTitle(int columnIndex, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // The next marker after a title click.
    static SortMarker nextSortMarker(SortMarker current, bool ctrl);

signals:
    // A click on a column title; the handler sees the marker before the grid advances it.
    void titleClicked(int columnIndex, GridColumn *column);
    // A click on a data cell (never a title).
    void cellClicked(GridColumn *column);
    // The current row changed (-1: none).
    void currentRowChanged(int row);
    // A double click in the data area.
    void rowDoubleClicked();
    // Enter or Return typed in the data area (the keyboard's double click).
    void rowEntered();
    // The operator dragged a column from one position to another (columns already follows).
    void columnMoved(int fromIndex, int toIndex);
    // The operator resized a column.
    void colWidthsChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void columnChanged(GridColumn *column, ColumnChange what) override;
    void applyLayout(); // section sizes, hidden flags, heights, fit
    void fitColumns();
    void relayoutHeights();
    void listReset();
    void invalidateFooters();
    QString footerValueText(const ColumnFooter *footer, const GridColumn *column) const;
    void onSectionMoved(int logical, int oldVisual, int newVisual);
    void onSectionResized(int logical, int oldSize, int newSize);
    void onCurrentChanged(int row);

    GridColumns m_columns{this};
    DataGridModel *m_model = nullptr;
    GridView *m_view = nullptr;
    GridHeader *m_title = nullptr;
    GridIndicator *m_indicator = nullptr;
    GridFooter *m_footer = nullptr;

    QColor m_color = Qt::white;
    std::optional<QFont> m_titleFont;
    QColor m_fixedColor{166, 202, 240};
    QColor m_oddRowColor;
    QColor m_evenRowColor;
    int m_rowHeight = 0;
    int m_rowLines = 0;
    int m_titleHeight = 0;
    int m_titleLines = 0;
    int m_vTitleMargin = 10;
    bool m_useMultiTitle = false;
    bool m_autoFit = false;
    int m_footerRowCount = 0;
    QColor m_footerColor{Qt::white};
    std::optional<QFont> m_footerFont;
    bool m_flat = true;
    bool m_showTitles = true;
    bool m_showIndicator = true;
    bool m_colLines = true;
    bool m_rowLinesVisible = true;
    bool m_rowSelect = true;
    bool m_readOnly = true;
    bool m_columnsResizable = true;
    bool m_columnsMovable = true;
    bool m_autoSortMarking = true;

    int m_layoutLock = 0;
    bool m_pendingLayout = false;
    bool m_applying = false;       // guards header signals while the grid sets sections
    int m_rowBeforeReset = -1;     // the current row across a reset of the grid's own columns
    int m_indicatorRowHeight = -1; // the row height the indicator's sections were given

    QScrollBar *m_hbar = nullptr;  // below the footer, mirrors the view's horizontal bar
    QWidget *m_corner = nullptr;   // the view's corner button above the indicator
    QWidget *m_viewport = nullptr; // the view's viewport, watched for resizes

    // footer sums, computed on demand and dropped on every data change
    mutable QHash<const ColumnFooter *, QString> m_sumCache;
    QString m_layoutKey;
};
