#pragma once

// "导入…" and "查重" on the settings menu of the main window.

#include <QSqlDatabase>

#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace lianbu::data {
class SessionOperator;
}

namespace lianbu::customers {

struct ExchangeActions
{
    QAction *importAction = nullptr;
    QAction *duplicatesAction = nullptr;
};

// Adds the two commands (after a separator) to `menu`. `window` owns the windows they open;
// `refreshList` runs after an import changed the register; `showCustomer` brings the customer
// with that row key into view (the 查重 window stays open beside the main window meanwhile).
// `session` gives the session's operator, whose rights an import needs and who is logged.
ExchangeActions addExchangeCommands(QMenu *menu, QWidget *window, std::function<QSqlDatabase()> database,
                                    std::function<void()> refreshList, std::function<void(qint64)> showCustomer,
                                    std::function<data::SessionOperator()> session = {});

// The commands themselves, for the actions and for tests. An import is refused (said) before the
// file is asked for unless `by` may import.
void runImport(QWidget *window, const QSqlDatabase &database, const std::function<void()> &refreshList,
               const data::SessionOperator *by = nullptr);
void showDuplicates(QWidget *window, const QSqlDatabase &database, const std::function<void(qint64)> &showCustomer);

} // namespace lianbu::customers
