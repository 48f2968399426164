#include "customers/ExchangeCommands.h"

#include "customers/DuplicatesWindow.h"
#include "customers/ImportWindow.h"
#include "data/ChangeLog.h"
#include "export/ExchangeFormats.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QAction>
#include <QMenu>

namespace lianbu::customers {

void runImport(QWidget *window, const QSqlDatabase &database, const std::function<void()> &refreshList,
               const data::SessionOperator *by)
{
    if (!data::mayDo(by, data::Right::Import, window))
        return;
    OpenFileRequest request;
    request.caption = QStringLiteral("导入客户");
    request.filter = exchange::importFilters();
    const QString path = dialogs().openFileName(window, request);
    if (path.isEmpty())
        return;
    ImportWindow import(database, window);
    import.setSessionOperator(by);
    QObject::connect(&import, &ImportWindow::registerChanged, &import, [&] {
        if (refreshList)
            refreshList();
    });
    if (import.loadFile(path))
        import.exec();
}

void showDuplicates(QWidget *window, const QSqlDatabase &database, const std::function<void(qint64)> &showCustomer)
{
    // One list at a time: a second 查重 brings the open one forward, read afresh.
    auto *list = window->findChild<DuplicatesWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!list) {
        list = new DuplicatesWindow(database, window);
        list->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(list, &DuplicatesWindow::openCustomer, list, [showCustomer](qint64 id) {
            if (showCustomer)
                showCustomer(id);
        });
    }
    try {
        list->refresh();
    } catch (const Error &error) {
        showError(error.message(), window);
        list->close();
        return;
    }
    list->show();
    list->raise();
    list->activateWindow();
}

ExchangeActions addExchangeCommands(QMenu *menu, QWidget *window, std::function<QSqlDatabase()> database,
                                    std::function<void()> refreshList, std::function<void(qint64)> showCustomer,
                                    std::function<data::SessionOperator()> session)
{
    ExchangeActions actions;
    menu->addSeparator();
    actions.importAction = menu->addAction(QStringLiteral("导入…"));
    actions.importAction->setObjectName(QStringLiteral("importAction"));
    actions.duplicatesAction = menu->addAction(QStringLiteral("查重"));
    actions.duplicatesAction->setObjectName(QStringLiteral("duplicatesAction"));
    QObject::connect(actions.importAction, &QAction::triggered, window, [window, database, refreshList, session] {
        if (!session) {
            runImport(window, database(), refreshList);
            return;
        }
        const data::SessionOperator by = session();
        runImport(window, database(), refreshList, &by);
    });
    QObject::connect(actions.duplicatesAction, &QAction::triggered, window,
                     [window, database, showCustomer] { showDuplicates(window, database(), showCustomer); });
    return actions;
}

} // namespace lianbu::customers
