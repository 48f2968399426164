#include "data/CustomerColumns.h"
#include "app/MainWindow.h"
#include "db/Engine.h"
#include "data/Database.h"
#include "ui_MainWindow.h"

#include <QComboBox>
#include <QLineEdit>

// The quick search: every change of a search field reopens the list with the search statement.

void MainWindow::connectQuickSearch()
{
    connect(ui->searchButton, &QPushButton::clicked, this, &MainWindow::runQuickSearch);
    // The category field searches when the operator types or picks an item; refilling its list
    // from "全部记录" is not a change by the operator and runs nothing.
    connect(ui->searchCategory->lineEdit(), &QLineEdit::textEdited, this, &MainWindow::runQuickSearch);
    connect(ui->searchCategory, &QComboBox::activated, this, &MainWindow::runQuickSearch);
    for (QLineEdit *edit : {ui->searchShortName, ui->searchName, ui->searchPhone, ui->searchAddress, ui->searchCompany})
        connect(edit, &QLineEdit::textChanged, this, &MainWindow::runQuickSearch);
}

void MainWindow::runQuickSearch()
{
    // The fields go in as typed: blanks are searched for, not trimmed away.
    const lianbu::sql::BoundStatement search = lianbu::sql::boundSearch(
        lianbu::db::engineOf(m_database.connection->database()), ui->searchCategory->currentText(),
        ui->searchShortName->text(), ui->searchPhone->text(), ui->searchName->text(), ui->searchAddress->text(),
        ui->searchCompany->text());
    lianbu::db::Query *list = m_database.customerList;
    list->close();
    list->setSql(search.text, search.values);
    list->open();
}

void MainWindow::showAllRecords()
{
    fillComboDistinct(m_database.statementQuery, QLatin1String(lianbu::col::Category), QStringLiteral("data"), ui->searchCategory);
    openStatement(m_database.customerList, lianbu::sql::allRecords());
    m_database.customerList->last();
}
