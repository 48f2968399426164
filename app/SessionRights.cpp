#include "app/MainWindow.h"
#include "customers/EntryPanel.h"
#include "customers/RecycleBinWindow.h"
#include "data/ChangeLog.h"
#include "data/Database.h"
#include "operators/OperationLogWindow.h"
#include "followups/FollowUpCommands.h"
#include "platform/Dialogs.h"
#ifdef LIANBU_STATISTICS
#include "data/CustomerListModel.h"
#include "stats/StatisticsWindow.h"
#endif
#include "ui_MainWindow.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QToolButton>

// The commands of the main window that the operator of the session may or may not use.

namespace {

using lianbu::data::Right;

// The tooltip of a command the operator may not use says why; an allowed one gets its own back.
template <typename Command>
void allowCommand(Command *command, const lianbu::data::Rights &rights, Right right)
{
    const char *own = "ownToolTip";
    if (!command->property(own).isValid())
        command->setProperty(own, command->toolTip());
    const bool allowed = rights.allows(right);
    command->setEnabled(allowed);
    command->setToolTip(allowed ? command->property(own).toString() : lianbu::data::refusalText(right));
}

} // namespace

void MainWindow::applyRights(const lianbu::data::Rights &rights)
{
    m_rights = rights;
    allowCommand(ui->newButton, rights, Right::Edit);
    allowCommand(ui->printButton, rights, Right::Print);
    allowCommand(ui->exportButton, rights, Right::Export);
    // 删 除 also waits for a row to be chosen: it is never enabled here.
    const bool chosen = ui->deleteButton->isEnabled();
    allowCommand(ui->deleteButton, rights, Right::Delete);
    ui->deleteButton->setEnabled(chosen && rights.allows(Right::Delete));
    allowCommand(backUpDataAction, rights, Right::BackupRestore);
    allowCommand(restoreDataAction, rights, Right::BackupRestore);
    if (m_importAction)
        allowCommand(m_importAction, rights, Right::Import);
    if (m_operationLogAction)
        allowCommand(m_operationLogAction, rights, Right::ViewLog);
    m_followUps->setRights(rights);
    // The disabled entries of the drop-down say why when pointed at.
    settingsMenu->setToolTipsVisible(true);
    const bool edit = rights.allows(Right::Edit);
    m_entryPanel->setEditAllowed(edit, edit ? QString() : lianbu::data::refusalText(Right::Edit));
}

void MainWindow::openRecycleBin()
{
    if (auto *open = findChild<lianbu::customers::RecycleBinWindow *>()) {
        open->raise();
        open->activateWindow();
        return;
    }
    // The store tells the customer list of a customer put back, as of one added.
    auto *window = new lianbu::customers::RecycleBinWindow(*m_database.customerStore, m_rights, this);
    window->open();
}

void MainWindow::openOperationLog()
{
    if (!mayUse(Right::ViewLog))
        return;
    if (auto *open = findChild<lianbu::operators::OperationLogWindow *>()) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto *window = new lianbu::operators::OperationLogWindow(sessionOperator(), this);
    window->show();
}

void MainWindow::openStatistics()
{
#ifdef LIANBU_STATISTICS
    if (auto *open = findChild<lianbu::stats::StatisticsWindow *>()) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto *window = new lianbu::stats::StatisticsWindow(
        m_database.connection->address(),
        [this](const lianbu::sql::BoundStatement &statement, std::vector<qint64> keys) {
            m_database.customerList->showResult(statement, std::move(keys));
        },
        this);
    window->setExportGate([this] { return mayUse(lianbu::data::Right::Export); });
    window->setOperatorName(m_database.customerStore->operatorName());
    window->setPrintGate([this] { return mayUse(lianbu::data::Right::Print); });
    connect(window, &lianbu::stats::StatisticsWindow::tableExported, this,
            [this](const QString &path, const QString &suffix, int rows) {
                sessionOperator().log(lianbu::data::LogKind::Exported, QDir::toNativeSeparators(path),
                                      {{QStringLiteral("记录数"), std::nullopt, QString::number(rows)},
                                       {QStringLiteral("格式"), std::nullopt, suffix},
                                       {QStringLiteral("内容"), std::nullopt, QStringLiteral("客户统计")}});
            });
    window->show();
#endif
}

lianbu::data::SessionOperator MainWindow::sessionOperator() const
{
    return {*m_database.connection, m_database.customerStore->operatorName()};
}

bool MainWindow::mayUse(lianbu::data::Right right)
{
    if (m_rights.allows(right))
        return true;
    lianbu::showInformation(lianbu::data::refusalText(right), this);
    return false;
}
