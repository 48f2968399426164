#include "data/CustomerColumns.h"
#include "app/MainWindow.h"
#include "customers/CustomerSearch.h"
#include "data/Database.h"
#include "platform/Dialogs.h"
#include "ui_MainWindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

// The quick search: every change of a search field searches again, on the search's own
// connection; the list shows the newest result when it is there.

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

lianbu::customers::CustomerSearch &MainWindow::customerSearch()
{
    if (!m_customerSearch) {
        m_customerSearch = std::make_unique<lianbu::customers::CustomerSearch>(m_database.customerList,
                                                                               m_database.connection->address());
        connect(m_customerSearch.get(), &lianbu::customers::CustomerSearch::searchFailed, this,
                [this](const QString &message) { lianbu::showError(message, this); });
    }
    return *m_customerSearch;
}

void MainWindow::runQuickSearch()
{
    // The fields go in as typed: blanks are searched for, not trimmed away.
    customerSearch().search({ui->searchCategory->currentText(), ui->searchShortName->text(), ui->searchPhone->text(),
                             ui->searchName->text(), ui->searchAddress->text(), ui->searchCompany->text()});
}

void MainWindow::showAllRecords()
{
    customerSearch().cancel();
    fillComboDistinct(m_database.statementQuery, QLatin1String(lianbu::col::Category), QStringLiteral("data"), ui->searchCategory);
    openStatement(m_database.customerList, lianbu::sql::allRecords());
    m_database.customerList->last();
    // Emptying the search fields later shows its result at once.
    customerSearch().prepareEmptySearch();
}

void MainWindow::showAllRecordsAfterChange(const QString &category)
{
    customerSearch().cancel();
    // The category list as "全部记录" leaves it: emptied text, the new category among the items
    // (in the order of the distinct-values statement, which compares code points).
    {
        QComboBox *combo = ui->searchCategory;
        const QSignalBlocker blocker(combo);
        if (combo->findText(category, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) {
            int at = 0;
            while (at < combo->count() && combo->itemText(at).toUcs4() < category.toUcs4())
                ++at;
            combo->insertItem(at, category);
        }
        combo->setCurrentIndex(-1);
        if (combo->isEditable())
            combo->clearEditText();
    }
    lianbu::db::Query *list = m_database.customerList;
    if (!list->active() || list->sql() != lianbu::sql::allRecords() || !list->sort().isEmpty())
        openStatement(list, lianbu::sql::allRecords());
    list->last();
}
