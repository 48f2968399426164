#pragma once

// What the parts of a grid (its table model, view, title header, indicator and footer strip)
// read of the grid they make up: its settings, geometry and the texts it shows. DataGrid is
// the one implementation; the parts know nothing else of it.

#include "grid/GridColumns.h"

#include <QColor>
#include <QPalette>
#include <QString>

class QHeaderView;
class QTableView;
class QWidget;

class GridSurface : public ColumnOwner
{
public:
    virtual const GridColumns *columns() const = 0;

    virtual bool flat() const = 0;
    virtual bool colLines() const = 0;
    virtual bool rowLinesVisible() const = 0;
    virtual bool rowSelect() const = 0;
    virtual bool showIndicator() const = 0;
    virtual bool useMultiTitle() const = 0;
    virtual QString hint() const = 0;
    virtual QPalette gridPalette() const = 0;

    virtual int currentRow() const = 0;
    virtual int dataRowHeight() const = 0;
    virtual int titleRowHeight() const = 0;
    virtual int footerRowCount() const = 0;
    virtual int footerRowHeight() const = 0;
    virtual int indicatorWidth() const = 0;

    virtual QColor cellColor(int row, const GridColumn *column) const = 0;
    virtual QString footerDisplayText(int footerRow, const GridColumn *column) const = 0;

    virtual QTableView *view() const = 0;
    virtual QHeaderView *titleHeader() const = 0;
    virtual QWidget *footerWidget() const = 0;

protected:
    ~GridSurface() = default;
};
