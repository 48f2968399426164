#pragma once

// The widgets TDBGridEh is made of: the table view, its title header (multi-level captions,
// sort markers), the indicator column and the footer strip. Internal to the grid.

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWidget>

class TDBGridEh;

class TDBGridViewEh : public QTableView
{
    Q_OBJECT
public:
    explicit TDBGridViewEh(TDBGridEh *grid);
    using QTableView::updateGeometries;

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    TDBGridEh *m_grid;
};

// Paints cells with the column's colours and the grid's column and row lines.
class TDBGridDelegateEh : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit TDBGridDelegateEh(TDBGridEh *grid);
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    TDBGridEh *m_grid;
};

class TDBGridTitleEh : public QHeaderView
{
    Q_OBJECT
public:
    explicit TDBGridTitleEh(TDBGridEh *grid);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    friend class TDBGridEh;
    void paintCell(QPainter &painter, const QRect &rect, const QString &text,
                   const class TColumnEh *column, bool bottom);
    TDBGridEh *m_grid;
    Qt::KeyboardModifiers m_clickModifiers;
    int m_pressed = -1; // title button held down (logical index)
};

class TDBGridIndicatorEh : public QHeaderView
{
    Q_OBJECT
public:
    explicit TDBGridIndicatorEh(TDBGridEh *grid);
    QSize sizeHint() const override;

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;

private:
    TDBGridEh *m_grid;
};

class TDBGridFooterEh : public QWidget
{
    Q_OBJECT
public:
    explicit TDBGridFooterEh(TDBGridEh *grid);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TDBGridEh *m_grid;
};
