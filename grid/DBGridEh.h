#pragma once

// TDBGridEh: the data grid control. Shows the records of a dataset (through its DataSource)
// one per row, under columns described by the Columns collection: titles with sort markers
// and multi-level captions, an indicator column marking the current row, whole-row selection,
// alternating row colours, footer rows with static text, record count or sums.
//
// The grid follows its dataset both ways: selecting a row makes it the dataset's current row,
// and every change of the dataset (reopen, sort, edit, insert, delete, move) shows at once.
// Cell texts are read straight from the dataset's snapshot, so large results stay fast.

#include "grid/DBGridEhColumns.h"
#include "grid/DBGridEhLayout.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

namespace lianbu::db {
class DataSet;
class DataSource;
} // namespace lianbu::db

class QTableView;
class QScrollBar;
class QHeaderView;
class TDBGridEhModel;
class TDBGridViewEh;
class TDBGridTitleEh;
class TDBGridIndicatorEh;
class TDBGridFooterEh;

class TDBGridEh : public QWidget
{
    Q_OBJECT

public:
    explicit TDBGridEh(QWidget *parent = nullptr);
    ~TDBGridEh() override;

    // ---- data binding ----------------------------------------------------------------------
    lianbu::db::DataSource *DataSource() const;
    void setDataSource(lianbu::db::DataSource *source);
    // The data source's dataset, or nullptr.
    lianbu::db::DataSet *DataSet() const;
    // True when bound to an open dataset.
    bool DataActive() const;

    // ---- columns ---------------------------------------------------------------------------
    TDBGridColumnsEh *Columns() { return &m_columns; }
    const TDBGridColumnsEh *Columns() const { return &m_columns; }
    // Visible columns in their current order (what export and printing lay out).
    QList<TColumnEh *> VisibleColumns() const { return m_columns.VisibleColumns(); }
    // The width an unassigned column takes: from its field's declared width in the column
    // font, at least as wide as its title.
    int DefaultColumnWidth(const TColumnEh *column) const;

    // ---- look and behaviour ----------------------------------------------------------------
    QColor Color() const { return m_color; } // data cell background
    void setColor(const QColor &color);
    QFont DataFont() const { return font(); } // the grid's font is the data cells' font
    QFont TitleFont() const { return m_titleFont ? *m_titleFont : font(); }
    void setTitleFont(const QFont &font);
    QColor FixedColor() const { return m_fixedColor; } // title and indicator background
    void setFixedColor(const QColor &color);

    // Alternating row background by record number (1-based); an invalid colour means the
    // column's own colour.
    QColor OddRowColor() const { return m_oddRowColor; }
    void setOddRowColor(const QColor &color);
    QColor EvenRowColor() const { return m_evenRowColor; }
    void setEvenRowColor(const QColor &color);

    // 0 = automatic height (one text line); otherwise RowLines text lines plus RowHeight px.
    int RowHeight() const { return m_rowHeight; }
    void setRowHeight(int height);
    int RowLines() const { return m_rowLines; }
    void setRowLines(int lines);
    // Title rows: 0/0 = automatic (one text line); otherwise TitleLines lines plus TitleHeight px.
    int TitleHeight() const { return m_titleHeight; }
    void setTitleHeight(int height);
    int TitleLines() const { return m_titleLines; }
    void setTitleLines(int lines);
    // Extra space per title level with multi-level titles.
    int VTitleMargin() const { return m_vTitleMargin; }
    void setVTitleMargin(int margin);
    bool UseMultiTitle() const { return m_useMultiTitle; }
    void setUseMultiTitle(bool on);

    // Fit the visible columns to the client width exactly, keeping the base widths.
    bool AutoFitColWidths() const { return m_autoFit; }
    void setAutoFitColWidths(bool on);

    int FooterRowCount() const { return m_footerRowCount; }
    void setFooterRowCount(int count);
    QColor FooterColor() const { return m_footerColor; }
    void setFooterColor(const QColor &color);
    QFont FooterFont() const { return m_footerFont ? *m_footerFont : font(); }
    void setFooterFont(const QFont &font);

    // Titles and indicator are drawn flat (no raised button edges); printing uses the smaller
    // cell inset of a flat grid.
    bool Flat() const { return m_flat; }
    void setFlat(bool on) { m_flat = on; }
    bool ShowTitles() const { return m_showTitles; }
    void setShowTitles(bool on);
    bool ShowIndicator() const { return m_showIndicator; }
    void setShowIndicator(bool on);
    bool ColLines() const { return m_colLines; }
    void setColLines(bool on);
    bool RowLinesVisible() const { return m_rowLinesVisible; }
    void setRowLinesVisible(bool on);
    bool RowSelect() const { return m_rowSelect; }
    void setRowSelect(bool on);
    bool ReadOnly() const { return m_readOnly; }
    void setReadOnly(bool on) { m_readOnly = on; }
    bool ColumnsResizable() const { return m_columnsResizable; }
    void setColumnsResizable(bool on);
    bool ColumnsMovable() const { return m_columnsMovable; }
    void setColumnsMovable(bool on);
    // A title click advances the clicked column's marker after TitleBtnClick.
    bool AutoSortMarking() const { return m_autoSortMarking; }
    void setAutoSortMarking(bool on) { m_autoSortMarking = on; }
    // Tooltip of the data area and titles.
    QString Hint() const { return toolTip(); }
    void setHint(const QString &hint);

    // ---- geometry derived from the settings ------------------------------------------------
    int DataRowHeight() const;   // height of one data row
    int TitleRowHeight() const;  // total height of the title area
    int FooterRowHeight() const; // height of one footer row
    int IndicatorWidth() const;

    // ---- reading what the grid shows (export, printing) ------------------------------------
    // The display text of a data cell: row is 0-based in the dataset's current order.
    QString CellDisplayText(int row, const TColumnEh *column) const;
    // The text of a footer cell as shown (footer row 0-based).
    QString FooterDisplayText(int footerRow, const TColumnEh *column) const;
    // Background of a data cell as painted (alternating colours applied).
    QColor CellColor(int row, const TColumnEh *column) const;
    // Index of the dataset field a column shows, -1 when none.
    int FieldIndexOf(const TColumnEh *column) const;

    // ---- column layout in an initialization file (DBGridEhLayout.cpp) ----------------------
    // Writes one entry per column ("<objectName>.<field>") and the "(Default)" grid entry into
    // section; with eraseSection the section is removed first. Throws lianbu::Error
    // "Unable to write to <file>" at the first entry that cannot be written (earlier entries
    // stay written).
    void SaveLayoutToIni(const QString &fileName, const QString &section, bool eraseSection);
    // Applies what options choose of the stored layout; missing file, section or entries
    // leave the columns as they are. Never reports anything and never re-sorts the rows.
    void RestoreLayoutFromIni(const QString &fileName, const QString &section,
                              TDBGridEhRestoreOptions options);

    // ---- suspension ------------------------------------------------------------------------
    // While updating, changes of the dataset are not shown; EndUpdate of the last level
    // re-reads everything (rows, current row, footers).
    void BeginUpdate();
    void EndUpdate();
    bool Updating() const { return m_updateCount > 0; }
    // While the layout is locked, column changes are collected and applied once at the end.
    void BeginLayout();
    void EndLayout();
    bool LayoutLocked() const { return m_layoutLock > 0; }

    // ---- current position ------------------------------------------------------------------
    // 0-based row shown as current, -1 when none.
    int CurrentRow() const;
    // Index in Columns of the column holding the focus cell, -1 when none.
    int SelectedIndex() const;

    // The inner view, for tests and for components that need to map positions.
    QTableView *View() const;
    QHeaderView *TitleHeader() const;
    QWidget *FooterWidget() const;
    TDBGridEhModel *Model() const { return m_model; }

    // Does what a click on the column's title does: TitleBtnClick first, then the marker.
    void ClickTitle(int columnIndex, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // The next marker after a title click.
    static TSortMarkerEh NextSortMarker(TSortMarkerEh current, bool ctrl);

signals:
    // A click on a column title; the handler sees the marker before the grid advances it.
    void TitleBtnClick(int columnIndex, TColumnEh *column);
    // A click on a data cell (never a title).
    void CellClick(TColumnEh *column);
    // A double click in the data area.
    void DblClick();
    // The operator dragged a column from one position to another (Columns already follows).
    void ColumnMoved(int fromIndex, int toIndex);
    // The operator resized a column.
    void ColWidthsChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class TDBGridColumnsEh;
    friend class TDBGridEhModel;
    friend class TDBGridTitleEh;
    friend class TDBGridFooterEh;
    friend class TDBGridViewEh;
    friend class TDBGridIndicatorEh;
    friend class TColumnEh;

    void columnChanged(TColumnEh *column, TColumnChangeEh what);
    void applyLayout();          // section sizes, hidden flags, heights, fit
    void fitColumns();
    void relayoutHeights();
    void syncCurrentFromDataSet();
    void dataSetReset();
    void invalidateFooters();
    QString footerValueText(const TColumnFooterEh *footer, const TColumnEh *column) const;
    void onSectionMoved(int logical, int oldVisual, int newVisual);
    void onSectionResized(int logical, int oldSize, int newSize);
    void onCurrentChanged(int row);
    void onSourceDestroyed();

    TDBGridColumnsEh m_columns{this};
    QPointer<lianbu::db::DataSource> m_source;
    TDBGridEhModel *m_model = nullptr;
    TDBGridViewEh *m_view = nullptr;
    TDBGridTitleEh *m_title = nullptr;
    TDBGridIndicatorEh *m_indicator = nullptr;
    TDBGridFooterEh *m_footer = nullptr;

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

    int m_updateCount = 0;
    bool m_pendingRefresh = false;
    int m_layoutLock = 0;
    bool m_pendingLayout = false;
    bool m_applying = false;       // guards header signals while the grid sets sections
    bool m_followingDataSet = false; // guards current-row echo

    QScrollBar *m_hbar = nullptr; // below the footer, mirrors the view's horizontal bar
    QWidget *m_corner = nullptr;  // the view's corner button above the indicator
    QWidget *m_viewport = nullptr; // the view's viewport, watched for resizes

    // footer sums, computed on demand and dropped on every data change
    mutable QHash<const TColumnFooterEh *, QString> m_sumCache;
};
