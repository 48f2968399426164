#include "app/MainWindow.h"
#include "data/Database.h"
#include "data/RegisterBackups.h"
#include "ui_MainWindow.h"

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
    auto letGo = [data] {
        data->customerList->close();
        data->statementQuery->close();
        data->customerTable->close();
        data->connection->close();
    };
    auto takeUp = [this, data] {
        data->connection->open();
        data->customerTable->open();
        showAllRecords();
    };
    lianbu::restoreRegister(this, data->connection->fileName(), letGo, takeUp);
}
