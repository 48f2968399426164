#include "grid/GridParts.h"

#include "grid/GridSurface.h"
#include "grid/TitleLevels.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolTip>

namespace {

const QColor kLineColor(128, 128, 128);
const QColor kDataLineColor(192, 192, 192);

void drawMarker(QPainter &painter, const QRect &area, SortMarker marker)
{
    // A small filled triangle: pointing down for descending, up for ascending.
    const int w = 8, h = 4;
    const int x = area.right() - w - 3;
    const int y = area.center().y() - h / 2;
    QPolygon triangle;
    if (marker == SortMarker::Down)
        triangle << QPoint(x, y) << QPoint(x + w, y) << QPoint(x + w / 2, y + h);
    else
        triangle << QPoint(x, y + h) << QPoint(x + w, y + h) << QPoint(x + w / 2, y);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QColor(64, 64, 64));
    painter.setBrush(QColor(64, 64, 64));
    painter.drawPolygon(triangle);
    painter.restore();
}

} // namespace

// ---- GridView ---------------------------------------------------------------------------

GridView::GridView(GridSurface *grid, QWidget *parent)
    : QTableView(parent)
    , m_grid(grid)
{}

void GridView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit rowDoubleClicked();
}

void GridView::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && !(event->modifiers() & ~Qt::KeypadModifier)) {
        event->accept();
        emit rowEntered();
        return;
    }
    QTableView::keyPressEvent(event);
}

void GridView::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    if (dx != 0 && m_grid->footerWidget())
        m_grid->footerWidget()->update();
}

// ---- GridDelegate -----------------------------------------------------------------------

GridDelegate::GridDelegate(GridSurface *grid, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_grid(grid)
{}

void GridDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    opt.state &= ~QStyle::State_HasFocus;
    if (!m_grid->rowSelect() && m_grid->view()->currentIndex() != index)
        opt.state &= ~QStyle::State_Selected;
    QStyledItemDelegate::paint(painter, opt, index);

    const QRect r = option.rect;
    painter->save();
    painter->setPen(kDataLineColor);
    if (m_grid->colLines())
        painter->drawLine(r.topRight(), r.bottomRight());
    if (m_grid->rowLinesVisible())
        painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->restore();
}

QSize GridDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    // Fixed row height: measuring every cell would make large results slow.
    const GridColumn *column =
        index.column() < m_grid->columns()->count() ? m_grid->columns()->items(index.column()) : nullptr;
    return QSize(column ? column->width() : 64, m_grid->dataRowHeight());
}

// ---- GridHeader --------------------------------------------------------------------------

GridHeader::GridHeader(GridSurface *grid, QWidget *parent)
    : QHeaderView(Qt::Horizontal, parent)
    , m_grid(grid)
{
    setSectionsClickable(true);
    setSectionsMovable(true);
    setHighlightSections(false);
    setStretchLastSection(false);
    setMinimumSectionSize(1);
    setDefaultAlignment(Qt::AlignCenter);
}

QSize GridHeader::sizeHint() const
{
    return QSize(length(), m_grid->titleRowHeight());
}

void GridHeader::mousePressEvent(QMouseEvent *event)
{
    m_clickModifiers = event->modifiers();
    QHeaderView::mousePressEvent(event);
    // A press on a title button (not on a border being dragged) shows it pressed.
    const int logical = logicalIndexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && logical >= 0 && cursor().shape() != Qt::SplitHCursor
        && logical < m_grid->columns()->count() && m_grid->columns()->items(logical)->title()->titleButton()) {
        m_pressed = logical;
        viewport()->update();
    }
}

void GridHeader::mouseMoveEvent(QMouseEvent *event)
{
    QHeaderView::mouseMoveEvent(event);
    if (m_pressed >= 0 && logicalIndexAt(event->position().toPoint()) != m_pressed) {
        m_pressed = -1; // moved away or started a drag: no click will follow
        viewport()->update();
    }
}

void GridHeader::mouseReleaseEvent(QMouseEvent *event)
{
    m_clickModifiers = event->modifiers();
    const bool wasPressed = m_pressed >= 0;
    m_pressed = -1;
    QHeaderView::mouseReleaseEvent(event);
    if (wasPressed)
        viewport()->update();
}

bool GridHeader::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const int logical = logicalIndexAt(help->pos());
        QString text;
        if (logical >= 0 && logical < m_grid->columns()->count())
            text = m_grid->columns()->items(logical)->title()->hint();
        if (text.isEmpty())
            text = m_grid->hint();
        if (!text.isEmpty()) {
            QToolTip::showText(help->globalPos(), text, this);
            return true;
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QHeaderView::viewportEvent(event);
}

void GridHeader::paintCell(QPainter &painter, const QRect &rect, const QString &text, const GridColumn *column,
                           bool bottom)
{
    const ColumnTitle *title = column->title();
    const bool pressed = bottom && m_pressed >= 0 && m_grid->columns()->indexOf(column) == m_pressed;
    painter.fillRect(rect, pressed ? title->color().darker(115) : title->color());
    QRect textRect = rect.adjusted(2, 1, -2, -1);
    if (bottom && title->sortMarker() != SortMarker::None) {
        drawMarker(painter, rect, title->sortMarker());
        textRect.setRight(textRect.right() - 12);
    }
    painter.setFont(title->font());
    painter.setPen(Qt::black);
    painter.drawText(textRect, int(bottom ? title->alignment() : Qt::AlignCenter), text);
    painter.setPen(kLineColor);
    painter.drawLine(rect.topRight(), rect.bottomRight());
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    if (!m_grid->flat()) {
        // light upper and left edges give the raised button look
        painter.setPen(QColor(255, 255, 255, 200));
        painter.drawLine(rect.topLeft(), rect.topRight() - QPoint(1, 0));
        painter.drawLine(rect.topLeft(), rect.bottomLeft() - QPoint(0, 1));
    }
}

void GridHeader::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int height = viewport()->height();
    painter.fillRect(viewport()->rect(), m_grid->gridPalette().color(QPalette::Window));

    const GridColumns *columns = m_grid->columns();
    QList<int> logicals;
    QStringList captions;
    for (int visual = 0; visual < count(); ++visual) {
        const int logical = logicalIndex(visual);
        if (logical < 0 || logical >= columns->count() || isSectionHidden(logical))
            continue;
        logicals.append(logical);
        captions.append(columns->items(logical)->title()->caption());
    }
    int levels = 1;
    const QList<gridtitles::TitleCell> cells = gridtitles::layoutTitleCells(captions, m_grid->useMultiTitle(), &levels);
    const int levelHeight = height / qMax(1, levels);

    for (const gridtitles::TitleCell &cell : cells) {
        const int first = logicals[cell.firstColumn];
        const int last = logicals[cell.lastColumn];
        const int x1 = sectionViewportPosition(first);
        const int x2 = sectionViewportPosition(last) + sectionSize(last);
        if (x2 < 0 || x1 > viewport()->width())
            continue;
        const int y1 = cell.level * levelHeight;
        const bool bottom = cell.level + cell.levelSpan >= levels;
        const int y2 = bottom ? height : y1 + cell.levelSpan * levelHeight;
        paintCell(painter, QRect(x1, y1, x2 - x1, y2 - y1), cell.text, columns->items(first),
                  bottom && cell.firstColumn == cell.lastColumn);
    }
}

// ---- GridIndicator ----------------------------------------------------------------------

GridIndicator::GridIndicator(GridSurface *grid, QWidget *parent)
    : QHeaderView(Qt::Vertical, parent)
    , m_grid(grid)
{
    setSectionResizeMode(QHeaderView::Fixed);
    setSectionsClickable(true); // a click on the indicator selects its row
    setHighlightSections(false);
    setMinimumSectionSize(1);
}

QSize GridIndicator::sizeHint() const
{
    return QSize(m_grid->indicatorWidth(), length());
}

void GridIndicator::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const
{
    painter->save();
    painter->fillRect(rect, m_grid->fixedColor());
    painter->setPen(kLineColor);
    painter->drawLine(rect.topRight(), rect.bottomRight());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    if (logicalIndex == m_grid->currentRow()) {
        // the current row: a right-pointing triangle
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(Qt::black);
        painter->setBrush(Qt::black);
        const int h = qMin(8, rect.height() - 4);
        const int w = h / 2 + 1;
        const int x = rect.center().x() - w / 2;
        const int y = rect.center().y() - h / 2;
        QPolygon triangle;
        triangle << QPoint(x, y) << QPoint(x + w, y + h / 2) << QPoint(x, y + h);
        painter->drawPolygon(triangle);
    }
    painter->restore();
}

// ---- GridFooter -------------------------------------------------------------------------

GridFooter::GridFooter(GridSurface *grid, QWidget *parent)
    : QWidget(parent)
    , m_grid(grid)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize GridFooter::sizeHint() const
{
    return QSize(100, m_grid->footerRowCount() * m_grid->footerRowHeight());
}

void GridFooter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_grid->gridPalette().color(QPalette::Window));
    const int rows = m_grid->footerRowCount();
    if (rows <= 0)
        return;
    const int rowHeight = m_grid->footerRowHeight();
    QHeaderView *title = m_grid->titleHeader();
    QTableView *view = m_grid->view();
    const int left = view->viewport()->geometry().left() + view->geometry().left() - geometry().left();
    const int indicator = m_grid->showIndicator() ? m_grid->indicatorWidth() : 0;

    if (indicator > 0) {
        const QRect r(left - indicator, 0, indicator, rows * rowHeight);
        painter.fillRect(r, m_grid->fixedColor());
        painter.setPen(kLineColor);
        painter.drawLine(r.topRight(), r.bottomRight());
    }
    painter.setClipRect(QRect(left, 0, width() - left, height()));
    const GridColumns *columns = m_grid->columns();
    for (int visual = 0; visual < title->count(); ++visual) {
        const int logical = title->logicalIndex(visual);
        if (logical < 0 || logical >= columns->count() || title->isSectionHidden(logical))
            continue;
        const GridColumn *column = columns->items(logical);
        const int x = left + title->sectionViewportPosition(logical);
        const int w = title->sectionSize(logical);
        if (x + w < left || x > width())
            continue;
        for (int row = 0; row < rows; ++row) {
            const QRect r(x, row * rowHeight, w, rowHeight);
            const ColumnFooter *footer = column->footerForRow(row);
            painter.fillRect(r, footer ? footer->color() : m_grid->footerColor());
            if (footer) {
                const QString text = m_grid->footerDisplayText(row, column);
                if (!text.isEmpty()) {
                    painter.setFont(footer->font());
                    painter.setPen(Qt::black);
                    painter.drawText(r.adjusted(3, 0, -3, 0), int(footer->alignment()), text);
                }
            }
            painter.setPen(kLineColor);
            painter.drawLine(r.topRight(), r.bottomRight());
            painter.drawLine(r.bottomLeft(), r.bottomRight());
        }
    }
    painter.setClipping(false);
    painter.setPen(kLineColor);
    painter.drawLine(0, 0, width(), 0);
}
