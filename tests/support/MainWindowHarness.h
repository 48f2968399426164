#pragma once

#include "app/MainWindow.h"
#include "customers/CustomerList.h"
#include "customers/CustomerSearch.h"
#include "customers/EntryPanel.h"
#include "customers/QuickSearchBar.h"
#include "data/Database.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/TestSupport.h"

#include <QStringList>

#include <memory>

namespace lianbu::test {

// One customer row: the fifteen columns a..m, z, day1 in that order.
using CustomerRow = QStringList;

// The program's permanent windows over a fresh delivered data.db, created in the program's
// order (the register, then the main window) and shown, so onFirstShow has run.
class MainWindowHarness
{
public:
    explicit MainWindowHarness(bool show = true);
    ~MainWindowHarness();

    Environment env;
    // The register outlives the windows that use it.
    std::unique_ptr<Database> data;
    std::unique_ptr<MainWindow> form;

    void show();
    // Inserts rows straight into the table (bypassing the program), in this order.
    void insertCustomers(const QList<CustomerRow> &rows);
    // Waits until the quick search has shown its newest result (it runs on its own connection).
    void waitForSearch();
    // The values of one column of the list query, in its current order.
    QStringList listColumn(const QString &field) const;
    // The first column of every row a statement returns, straight from the database.
    QStringList queryColumn(const QString &sql) const;
    // The expression of a table's hidden row key on the register's engine, for "order by".
    QString rowKey(const QString &table) const;
    // What the dataset layer adds to a statement without order on this engine ("" on SQLite,
    // whose own order the lists show; " order by <key>" on the server).
    QString listOrder(const QString &table) const;
};

// Types text key by key; characters outside ASCII arrive as key events carrying that text, as
// an input method or keyboard layout delivers them.
void typeText(QWidget *widget, const QString &text);

// A row with the given category, short name and telephone; the other columns derived.
CustomerRow customer(const QString &a, const QString &b, const QString &g = QString(), const QString &c = QString());

} // namespace lianbu::test
