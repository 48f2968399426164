#pragma once

#include "data/CustomerStore.h"

#include <QList>
#include <QObject>

class Database;
class DataGrid;
class GridColumn;
class QAction;
class QMenu;

namespace lianbu::customers {

// The customer list of the main window: the grid over the register's customer list, its
// context menu (save the column layout, hide columns), the sort of a title click and the
// deletion of a customer. The grid itself belongs to the window's form.
class CustomerList : public QObject
{
    Q_OBJECT

public:
    CustomerList(DataGrid *grid, Database &database, QObject *parent);

    DataGrid *grid() const { return m_grid; }
    // The context menu and its items, in menu order.
    QMenu *contextMenu() const { return m_contextMenu; }
    QAction *saveColumnLayoutAction() const { return m_saveColumnLayoutAction; }
    const QList<QAction *> &hideColumnActions() const { return m_hideColumnActions; }
    // The field of the column each hide item names, parallel to hideColumnActions().
    static const char *const hideColumnFields[13];

    // Once the register is open: the saved column layout, then the grid bound to the list.
    void restoreLayoutAndShowList();
    // The customer of the current row as the list shows it (key 0 for none).
    lianbu::data::CustomerRecord currentCustomer() const;
    // Makes the customer `key` current; the last row when the list does not show it.
    void makeCustomerCurrent(qint64 key);
    void makeLastRowCurrent();
    // The customer of the last click on a row, as the list showed it then (key 0 for none).
    const lianbu::data::CustomerRecord &clickedCustomer() const { return m_clickedCustomer; }
    // The current row taken as a click on it takes it (another window brought it into view for
    // the operator): 删除 acts on it from now on.
    void chooseCurrentRow();
    // Asks, deletes `customer` while it still holds the values it was shown with (whatever the
    // list shows by now) and says so; true when it was deleted.
    bool deleteCustomer(const lianbu::data::CustomerRecord &customer);
    // Each hide item checked exactly when its column is hidden.
    void syncHideMarks();

public slots:
    void sortByColumn(int columnIndex, GridColumn *column);
    void onRowDoubleClicked();
    void toggleColumnFromMenu(int itemIndex);
    void saveColumnLayout();

signals:
    // A row was clicked: there is a customer to delete.
    void rowClicked();
    // A record was double-clicked (or Enter typed on it): the entry panel loads it.
    void recordLoadRequested(const lianbu::data::CustomerRecord &record);
    // The customer with this key is gone from the register (emitted before the operator is told).
    void customerDeleted(qint64 key);

private:
    DataGrid *m_grid;
    Database &m_database;
    QMenu *m_contextMenu = nullptr;
    QAction *m_saveColumnLayoutAction = nullptr;
    QList<QAction *> m_hideColumnActions;
    // The customer of the last click: a list read again since (a search, a new query) may show
    // another customer in its row, so it is remembered by key and values.
    lianbu::data::CustomerRecord m_clickedCustomer;
};

} // namespace lianbu::customers
