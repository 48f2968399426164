#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "customers/QuickSearchBar.h"
#include "data/Database.h"
#include "data/RegisterBackups.h"

// "备份数据…" and "恢复数据…" of the settings drop-down.

void MainWindow::backUpData()
{
    lianbu::backUpRegister(this, m_database.connection->fileName());
}

void MainWindow::restoreData()
{
    Database *data = &m_database;
    // The restore needs the register to itself: every dataset and the connection let go of it,
    // and take it up again afterwards, whether it was replaced or not.
    // The quick search's worker holds a connection of its own: it goes with its thread, and
    // comes back at the next search, knowing whether the register now in place has its index.
    auto letGo = [this, data] {
        m_quickSearchBar->releaseSearch();
        data->customerList->close();
        data->statementQuery->close();
        data->connection->close();
    };
    auto takeUp = [this, data] {
        data->connection->open();
        // A backup from an older version lacks what large lists need; it is added now.
        lianbu::buildSearchIndexIfMissing(*data->connection);
        showAllRecords();
    };
    lianbu::restoreRegister(this, data->connection->fileName(), letGo, takeUp);
}
