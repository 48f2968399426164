#include "app/MainWindow.h"
#include "app/Register.h"
#include "app/ServerConnectionDialog.h"
#include "data/RegisterUpgrade.h"
#include "app/StartUp.h"
#include "customers/QuickSearchBar.h"
#include "data/ChangeLog.h"
#include "data/Database.h"
#include "data/RegisterBackups.h"
#include "followups/FollowUpCommands.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

// "备份数据…", "恢复数据…" and "数据库连接…" of the settings drop-down.

namespace {

// Copies of a server register are the server's business: pg_dump sees one consistent moment
// while every PC goes on working, and only the server's administrator may put one back.
bool refusedOnServer(const Database &database, QWidget *parent)
{
    if (!database.connection->isServer())
        return false;
    lianbu::showInformation(QStringLiteral("客户资料库在数据库服务器上，请在服务器上备份和恢复"
                                           "（例如用 pg_dump 和 pg_restore）。"),
                            parent);
    return true;
}

} // namespace

void MainWindow::backUpData()
{
    if (!mayUse(lianbu::data::Right::BackupRestore))
        return;
    if (refusedOnServer(m_database, this))
        return;
    const lianbu::data::SessionOperator by = sessionOperator();
    lianbu::backUpRegister(this, m_database.connection->fileName(), &by);
}

void MainWindow::openServerConnection()
{
    // The fields start with the saved server, else the server this window works on.
    lianbu::db::RegisterAddress current = m_database.connection->address();
    const QString saved = lianbu::savedRegister();
    if (lianbu::db::isServerAddress(saved)) {
        try {
            current = lianbu::db::parseRegisterAddress(saved);
        } catch (const lianbu::Error &) {
            // A damaged setting: start from the open register.
        }
    }
    ServerConnectionDialog dialog(current, this);
    dialog.exec();
}

void MainWindow::restoreData()
{
    if (!mayUse(lianbu::data::Right::BackupRestore))
        return;
    if (refusedOnServer(m_database, this))
        return;
    restoreRegisterOfThisWindow({});
}

void MainWindow::offerRestoreOfDamage(const QString &problem)
{
    restoreRegisterOfThisWindow(problem);
}

void MainWindow::restoreRegisterOfThisWindow(const QString &damage)
{
    Database *data = &m_database;
    // The restore needs the register to itself: every dataset and the connection let go of it,
    // and take it up again afterwards, whether it was replaced or not.
    // The quick search's worker holds a connection of its own: it goes with its thread, and
    // comes back at the next search, knowing whether the register now in place has its index.
    // A list closed before (no login yet) stays closed.
    const bool listed = data->customerList->active();
    auto letGo = [this, data] {
        m_quickSearchBar->releaseSearch();
        m_followUps->releaseQuery();
        data->customerList->close();
        data->statementQuery->close();
        data->connection->close();
    };
    auto takeUp = [this, data, listed] {
        data->connection->open();
        // A backup made by an older version holds plain passwords: hashed before anyone logs in.
        lianbu::data::upgradeRegister(*data->connection);
        // A backup from an older version lacks what large lists need; it is added now.
        lianbu::buildSearchIndexIfMissing(*data->connection);
        if (listed)
            showAllRecords();
    };
    // A damaged register is restored before anyone logs in: the backup's own password decides.
    const lianbu::data::SessionOperator by = sessionOperator();
    if (damage.isEmpty())
        lianbu::restoreRegister(this, data->connection->fileName(), letGo, takeUp, &by);
    else
        lianbu::offerRestoreOfDamagedRegister(this, data->connection->fileName(), damage, letGo, takeUp);
}
