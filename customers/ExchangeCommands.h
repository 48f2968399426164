#pragma once

// "导入…" and "查重" on the settings menu of the main window.

#include <QSqlDatabase>

#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace lianbu::customers {

struct ExchangeActions
{
    QAction *importAction = nullptr;
    QAction *duplicatesAction = nullptr;
};

// Adds the two commands (after a separator) to `menu`. `window` owns the windows they open;
// `refreshList` runs after an import changed the register; `showCustomer` brings the customer
// with that row key into view (the 查重 window stays open beside the main window meanwhile).
ExchangeActions addExchangeCommands(QMenu *menu, QWidget *window, std::function<QSqlDatabase()> database,
                                    std::function<void()> refreshList, std::function<void(qint64)> showCustomer);

// The commands themselves, for the actions and for tests.
void runImport(QWidget *window, const QSqlDatabase &database, const std::function<void()> &refreshList);
void showDuplicates(QWidget *window, const QSqlDatabase &database, const std::function<void(qint64)> &showCustomer);

} // namespace lianbu::customers
