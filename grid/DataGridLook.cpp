#include "grid/DataGrid.h"

#include "grid/GridParts.h"

#include "grid/DataGridModel.h"

#include "db/ListRoles.h"

#include <QFontMetrics>

// The grid's look: its settings and the geometry that follows from them.

namespace {

// Widths of unassigned columns: the field's declared width in characters, kept within a range
// so that very wide text columns do not push everything else off the screen.
constexpr int kMinDefaultChars = 4;
constexpr int kMaxDefaultChars = 10;
constexpr int kDefaultWidthPadding = 8;
constexpr int kNoFieldWidth = 64;

} // namespace

// ---- properties ------------------------------------------------------------------------------

void DataGrid::setColor(const QColor &color)
{
    m_color = color;
    m_view->viewport()->update();
}

void DataGrid::setTitleFont(const QFont &font)
{
    m_titleFont = font;
    applyLayout();
}

void DataGrid::setFixedColor(const QColor &color)
{
    m_fixedColor = color;
    if (m_corner)
        m_corner->update();
    m_title->viewport()->update();
    m_indicator->viewport()->update();
    m_footer->update();
}

void DataGrid::setOddRowColor(const QColor &color)
{
    m_oddRowColor = color;
    m_view->viewport()->update();
}

void DataGrid::setEvenRowColor(const QColor &color)
{
    m_evenRowColor = color;
    m_view->viewport()->update();
}

void DataGrid::setRowHeight(int height)
{
    m_rowHeight = qMax(0, height);
    applyLayout();
}

void DataGrid::setRowLines(int lines)
{
    m_rowLines = qMax(0, lines);
    applyLayout();
}

void DataGrid::setTitleHeight(int height)
{
    m_titleHeight = qMax(0, height);
    applyLayout();
}

void DataGrid::setTitleLines(int lines)
{
    m_titleLines = qMax(0, lines);
    applyLayout();
}

void DataGrid::setVTitleMargin(int margin)
{
    m_vTitleMargin = qMax(0, margin);
    applyLayout();
}

void DataGrid::setUseMultiTitle(bool on)
{
    m_useMultiTitle = on;
    applyLayout();
}

void DataGrid::setAutoFitColWidths(bool on)
{
    if (m_autoFit == on)
        return;
    m_autoFit = on;
    applyLayout();
}

void DataGrid::setFooterRowCount(int count)
{
    m_footerRowCount = qMax(0, count);
    applyLayout();
}

void DataGrid::setFooterColor(const QColor &color)
{
    m_footerColor = color;
    m_footer->update();
}

void DataGrid::setFooterFont(const QFont &font)
{
    m_footerFont = font;
    applyLayout();
}

void DataGrid::setShowTitles(bool on)
{
    m_showTitles = on;
    applyLayout();
}

void DataGrid::setShowIndicator(bool on)
{
    m_showIndicator = on;
    applyLayout();
}

void DataGrid::setColLines(bool on)
{
    m_colLines = on;
    m_view->viewport()->update();
}

void DataGrid::setRowLinesVisible(bool on)
{
    m_rowLinesVisible = on;
    m_view->viewport()->update();
}

void DataGrid::setRowSelect(bool on)
{
    m_rowSelect = on;
    m_view->setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    m_view->viewport()->update();
}

void DataGrid::setColumnsResizable(bool on)
{
    m_columnsResizable = on;
    m_title->setSectionResizeMode(on ? QHeaderView::Interactive : QHeaderView::Fixed);
}

void DataGrid::setColumnsMovable(bool on)
{
    m_columnsMovable = on;
    m_title->setSectionsMovable(on);
}

void DataGrid::setHint(const QString &hint)
{
    setToolTip(hint);
    setStatusTip(hint);
}

// ---- geometry --------------------------------------------------------------------------------

int DataGrid::dataRowHeight() const
{
    int lineHeight = QFontMetrics(font()).height();
    int lineSpacing = QFontMetrics(font()).lineSpacing();
    for (int i = 0; i < m_columns.count(); ++i) {
        const GridColumn *column = m_columns.items(i);
        if (column->fontAssigned()) {
            const QFontMetrics fm(column->font());
            lineHeight = qMax(lineHeight, fm.height());
            lineSpacing = qMax(lineSpacing, fm.lineSpacing());
        }
    }
    if (m_rowLines > 0 || m_rowHeight > 0)
        return qMax(1, m_rowLines * lineSpacing + m_rowHeight);
    return lineHeight + 4 + (m_rowLinesVisible ? 1 : 0);
}

int DataGrid::titleRowHeight() const
{
    if (!m_showTitles)
        return 0;
    int lineHeight = QFontMetrics(titleFont()).height();
    int levels = 1;
    for (int i = 0; i < m_columns.count(); ++i) {
        const GridColumn *column = m_columns.items(i);
        if (column->title()->fontAssigned())
            lineHeight = qMax(lineHeight, QFontMetrics(column->title()->font()).height());
        if (m_useMultiTitle && column->visible())
            levels = qMax(levels, int(column->title()->caption().count(QLatin1Char('|'))) + 1);
    }
    int height = lineHeight + 4;
    if (m_titleLines > 0 || m_titleHeight > 0)
        height = qMax(height, m_titleLines * lineHeight + m_titleHeight + 2);
    if (levels > 1)
        height = qMax(height, levels * (lineHeight + m_vTitleMargin / 2));
    return height;
}

int DataGrid::footerRowHeight() const
{
    int lineHeight = QFontMetrics(footerFont()).height();
    for (int i = 0; i < m_columns.count(); ++i) {
        const GridColumn *column = m_columns.items(i);
        if (column->footer()->fontAssigned())
            lineHeight = qMax(lineHeight, QFontMetrics(column->footer()->font()).height());
    }
    return lineHeight + 5;
}

int DataGrid::indicatorWidth() const
{
    return m_showIndicator ? 12 : 0;
}

int DataGrid::defaultColumnWidth(const GridColumn *column) const
{
    const QFontMetrics fm(column->font());
    const int titleWidth = QFontMetrics(column->title()->font()).horizontalAdvance(column->title()->caption()) + 8;
    const QVariant declared = m_model->fieldHeader(column->fieldName(), lianbu::db::ListRole::FieldWidth);
    if (!declared.isValid() && m_model->sourceColumnOfField(column->fieldName()) < 0)
        return qMax(kNoFieldWidth, titleWidth);
    const int size = declared.toInt();
    int chars = size > 0 ? size : kMaxDefaultChars;
    chars = qBound(kMinDefaultChars, chars, kMaxDefaultChars);
    return qMax(chars * fm.horizontalAdvance(QLatin1Char('0')) + kDefaultWidthPadding, titleWidth);
}
