#pragma once

// The widgets DataGrid is made of: the table view, its title header (multi-level captions,
// sort markers), the indicator column and the footer strip. Internal to the grid.

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWidget>

class GridSurface;

class GridView : public QTableView
{
    Q_OBJECT
public:
    GridView(GridSurface *grid, QWidget *parent);
    using QTableView::updateGeometries;

signals:
    // A double click in the data area; Enter or Return typed there.
    void rowDoubleClicked();
    void rowEntered();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    GridSurface *m_grid;
};

// Paints cells with the column's colours and the grid's column and row lines.
class GridDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    GridDelegate(GridSurface *grid, QObject *parent);
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    GridSurface *m_grid;
};

class GridHeader : public QHeaderView
{
    Q_OBJECT
public:
    GridHeader(GridSurface *grid, QWidget *parent);
    QSize sizeHint() const override;
    // The keyboard modifiers of the last title click.
    Qt::KeyboardModifiers clickModifiers() const { return m_clickModifiers; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    void paintCell(QPainter &painter, const QRect &rect, const QString &text, const class GridColumn *column,
                   bool bottom);
    GridSurface *m_grid;
    Qt::KeyboardModifiers m_clickModifiers;
    int m_pressed = -1; // title button held down (logical index)
};

class GridIndicator : public QHeaderView
{
    Q_OBJECT
public:
    GridIndicator(GridSurface *grid, QWidget *parent);
    QSize sizeHint() const override;

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;

private:
    GridSurface *m_grid;
};

class GridFooter : public QWidget
{
    Q_OBJECT
public:
    GridFooter(GridSurface *grid, QWidget *parent);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    GridSurface *m_grid;
};
