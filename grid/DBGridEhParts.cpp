#include "grid/DBGridEhParts.h"

#include "grid/DBGridEh.h"
#include "grid/DBGridEhModel.h"
#include "grid/DBGridEhTitles.h"

#include "db/DataSet.h"

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

void drawMarker(QPainter &painter, const QRect &area, TSortMarkerEh marker)
{
    // A small filled triangle: pointing down for descending, up for ascending.
    const int w = 8, h = 4;
    const int x = area.right() - w - 3;
    const int y = area.center().y() - h / 2;
    QPolygon triangle;
    if (marker == smDownEh)
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

// ---- TDBGridViewEh ---------------------------------------------------------------------------

TDBGridViewEh::TDBGridViewEh(TDBGridEh *grid) : QTableView(grid), m_grid(grid) {}

void TDBGridViewEh::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit m_grid->DblClick();
}

void TDBGridViewEh::keyPressEvent(QKeyEvent *event)
{
    QTableView::keyPressEvent(event);
}

void TDBGridViewEh::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    if (dx != 0 && m_grid->FooterWidget())
        m_grid->FooterWidget()->update();
}

// ---- TDBGridDelegateEh -----------------------------------------------------------------------

TDBGridDelegateEh::TDBGridDelegateEh(TDBGridEh *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

void TDBGridDelegateEh::paint(QPainter *painter, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    opt.state &= ~QStyle::State_HasFocus;
    if (!m_grid->RowSelect() && m_grid->View()->currentIndex() != index)
        opt.state &= ~QStyle::State_Selected;
    QStyledItemDelegate::paint(painter, opt, index);

    const QRect r = option.rect;
    painter->save();
    painter->setPen(kDataLineColor);
    if (m_grid->ColLines())
        painter->drawLine(r.topRight(), r.bottomRight());
    if (m_grid->RowLinesVisible())
        painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->restore();
}

QSize TDBGridDelegateEh::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    // Fixed row height: measuring every cell would make large results slow.
    const TColumnEh *column = index.column() < m_grid->Columns()->Count()
                                  ? m_grid->Columns()->Items(index.column())
                                  : nullptr;
    return QSize(column ? column->Width() : 64, m_grid->DataRowHeight());
}

// ---- TDBGridTitleEh --------------------------------------------------------------------------

TDBGridTitleEh::TDBGridTitleEh(TDBGridEh *grid) : QHeaderView(Qt::Horizontal, grid), m_grid(grid)
{
    setSectionsClickable(true);
    setSectionsMovable(true);
    setHighlightSections(false);
    setStretchLastSection(false);
    setMinimumSectionSize(1);
    setDefaultAlignment(Qt::AlignCenter);
}

QSize TDBGridTitleEh::sizeHint() const
{
    return QSize(length(), m_grid->TitleRowHeight());
}

void TDBGridTitleEh::mousePressEvent(QMouseEvent *event)
{
    m_clickModifiers = event->modifiers();
    QHeaderView::mousePressEvent(event);
    // A press on a title button (not on a border being dragged) shows it pressed.
    const int logical = logicalIndexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && logical >= 0 && cursor().shape() != Qt::SplitHCursor
        && logical < m_grid->Columns()->Count()
        && m_grid->Columns()->Items(logical)->Title()->TitleButton()) {
        m_pressed = logical;
        viewport()->update();
    }
}

void TDBGridTitleEh::mouseMoveEvent(QMouseEvent *event)
{
    QHeaderView::mouseMoveEvent(event);
    if (m_pressed >= 0 && logicalIndexAt(event->position().toPoint()) != m_pressed) {
        m_pressed = -1; // moved away or started a drag: no click will follow
        viewport()->update();
    }
}

void TDBGridTitleEh::mouseReleaseEvent(QMouseEvent *event)
{
    m_clickModifiers = event->modifiers();
    const bool wasPressed = m_pressed >= 0;
    m_pressed = -1;
    QHeaderView::mouseReleaseEvent(event);
    if (wasPressed)
        viewport()->update();
}

bool TDBGridTitleEh::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const int logical = logicalIndexAt(help->pos());
        QString text;
        if (logical >= 0 && logical < m_grid->Columns()->Count())
            text = m_grid->Columns()->Items(logical)->Title()->Hint();
        if (text.isEmpty())
            text = m_grid->Hint();
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

void TDBGridTitleEh::paintCell(QPainter &painter, const QRect &rect, const QString &text,
                               const TColumnEh *column, bool bottom)
{
    const TColumnTitleEh *title = column->Title();
    const bool pressed = bottom && m_pressed >= 0
                         && m_grid->Columns()->IndexOf(column) == m_pressed;
    painter.fillRect(rect, pressed ? title->Color().darker(115) : title->Color());
    QRect textRect = rect.adjusted(2, 1, -2, -1);
    if (bottom && title->SortMarker() != smNoneEh) {
        drawMarker(painter, rect, title->SortMarker());
        textRect.setRight(textRect.right() - 12);
    }
    painter.setFont(title->Font());
    painter.setPen(Qt::black);
    painter.drawText(textRect, int(bottom ? title->Alignment() : Qt::AlignCenter), text);
    painter.setPen(kLineColor);
    painter.drawLine(rect.topRight(), rect.bottomRight());
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    if (!m_grid->Flat()) {
        // light upper and left edges give the raised button look
        painter.setPen(QColor(255, 255, 255, 200));
        painter.drawLine(rect.topLeft(), rect.topRight() - QPoint(1, 0));
        painter.drawLine(rect.topLeft(), rect.bottomLeft() - QPoint(0, 1));
    }
}

void TDBGridTitleEh::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int height = viewport()->height();
    painter.fillRect(viewport()->rect(), m_grid->palette().color(QPalette::Window));

    TDBGridColumnsEh *columns = m_grid->Columns();
    QList<int> logicals;
    QStringList captions;
    for (int visual = 0; visual < count(); ++visual) {
        const int logical = logicalIndex(visual);
        if (logical < 0 || logical >= columns->Count() || isSectionHidden(logical))
            continue;
        logicals.append(logical);
        captions.append(columns->Items(logical)->Title()->Caption());
    }
    int levels = 1;
    const QList<grideh::TitleCell> cells =
        grideh::layoutTitleCells(captions, m_grid->UseMultiTitle(), &levels);
    const int levelHeight = height / qMax(1, levels);

    for (const grideh::TitleCell &cell : cells) {
        const int first = logicals[cell.firstColumn];
        const int last = logicals[cell.lastColumn];
        const int x1 = sectionViewportPosition(first);
        const int x2 = sectionViewportPosition(last) + sectionSize(last);
        if (x2 < 0 || x1 > viewport()->width())
            continue;
        const int y1 = cell.level * levelHeight;
        const bool bottom = cell.level + cell.levelSpan >= levels;
        const int y2 = bottom ? height : y1 + cell.levelSpan * levelHeight;
        paintCell(painter, QRect(x1, y1, x2 - x1, y2 - y1), cell.text, columns->Items(first),
                  bottom && cell.firstColumn == cell.lastColumn);
    }
}

// ---- TDBGridIndicatorEh ----------------------------------------------------------------------

TDBGridIndicatorEh::TDBGridIndicatorEh(TDBGridEh *grid)
    : QHeaderView(Qt::Vertical, grid), m_grid(grid)
{
    setSectionResizeMode(QHeaderView::Fixed);
    setSectionsClickable(true); // a click on the indicator selects its row
    setHighlightSections(false);
    setMinimumSectionSize(1);
}

QSize TDBGridIndicatorEh::sizeHint() const
{
    return QSize(m_grid->IndicatorWidth(), length());
}

void TDBGridIndicatorEh::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const
{
    painter->save();
    painter->fillRect(rect, m_grid->FixedColor());
    painter->setPen(kLineColor);
    painter->drawLine(rect.topRight(), rect.bottomRight());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    if (logicalIndex == m_grid->CurrentRow()) {
        const lianbu::db::DataSet *ds = m_grid->DataSet();
        const lianbu::db::DataSetState state = ds ? ds->state() : lianbu::db::DataSetState::Inactive;
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(Qt::black);
        painter->setBrush(Qt::black);
        if (state == lianbu::db::DataSetState::Edit || state == lianbu::db::DataSetState::Insert) {
            // being edited: "I" for a changed record, "*" for a new one
            QFont font = painter->font();
            font.setPixelSize(qMax(8, rect.height() - 6));
            font.setBold(true);
            painter->setFont(font);
            painter->drawText(rect, Qt::AlignCenter,
                              state == lianbu::db::DataSetState::Insert ? QStringLiteral("*")
                                                                        : QStringLiteral("I"));
        } else {
            // the current row: a right-pointing triangle
            const int h = qMin(8, rect.height() - 4);
            const int w = h / 2 + 1;
            const int x = rect.center().x() - w / 2;
            const int y = rect.center().y() - h / 2;
            QPolygon triangle;
            triangle << QPoint(x, y) << QPoint(x + w, y + h / 2) << QPoint(x, y + h);
            painter->drawPolygon(triangle);
        }
    }
    painter->restore();
}

// ---- TDBGridFooterEh -------------------------------------------------------------------------

TDBGridFooterEh::TDBGridFooterEh(TDBGridEh *grid) : QWidget(grid), m_grid(grid)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize TDBGridFooterEh::sizeHint() const
{
    return QSize(100, m_grid->FooterRowCount() * m_grid->FooterRowHeight());
}

void TDBGridFooterEh::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_grid->palette().color(QPalette::Window));
    const int rows = m_grid->FooterRowCount();
    if (rows <= 0)
        return;
    const int rowHeight = m_grid->FooterRowHeight();
    QHeaderView *title = m_grid->TitleHeader();
    QTableView *view = m_grid->View();
    const int left = view->viewport()->geometry().left() + view->geometry().left() - geometry().left();
    const int indicator = m_grid->ShowIndicator() ? m_grid->IndicatorWidth() : 0;

    if (indicator > 0) {
        const QRect r(left - indicator, 0, indicator, rows * rowHeight);
        painter.fillRect(r, m_grid->FixedColor());
        painter.setPen(kLineColor);
        painter.drawLine(r.topRight(), r.bottomRight());
    }
    painter.setClipRect(QRect(left, 0, width() - left, height()));
    TDBGridColumnsEh *columns = m_grid->Columns();
    for (int visual = 0; visual < title->count(); ++visual) {
        const int logical = title->logicalIndex(visual);
        if (logical < 0 || logical >= columns->Count() || title->isSectionHidden(logical))
            continue;
        const TColumnEh *column = columns->Items(logical);
        const int x = left + title->sectionViewportPosition(logical);
        const int w = title->sectionSize(logical);
        if (x + w < left || x > width())
            continue;
        for (int row = 0; row < rows; ++row) {
            const QRect r(x, row * rowHeight, w, rowHeight);
            const TColumnFooterEh *footer = column->FooterForRow(row);
            painter.fillRect(r, footer ? footer->Color() : m_grid->FooterColor());
            if (footer) {
                const QString text = m_grid->FooterDisplayText(row, column);
                if (!text.isEmpty()) {
                    painter.setFont(footer->Font());
                    painter.setPen(Qt::black);
                    painter.drawText(r.adjusted(3, 0, -3, 0), int(footer->Alignment()), text);
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
