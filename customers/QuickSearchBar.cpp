#include "customers/QuickSearchBar.h"

#include "customers/CustomerSearch.h"
#include "data/CustomerColumns.h"
#include "data/CustomerListModel.h"
#include "data/Database.h"
#include "data/SearchIndex.h"
#include "platform/Dialogs.h"
#include "ui_QuickSearchBar.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

namespace lianbu::customers {

QuickSearchBar::QuickSearchBar(Database &database, QWidget *parent)
    : QGroupBox(parent)
    , ui(new Ui::QuickSearchBar)
    , m_database(database)
{
    ui->setupUi(this);
    connect(ui->searchButton, &QPushButton::clicked, this, &QuickSearchBar::runQuickSearch);
    // The category field searches when the operator types or picks an item; refilling its list
    // from "全部记录" is not a change by the operator and runs nothing.
    connect(ui->searchCategory->lineEdit(), &QLineEdit::textEdited, this, &QuickSearchBar::runQuickSearch);
    connect(ui->searchCategory, &QComboBox::activated, this, &QuickSearchBar::runQuickSearch);
    for (QLineEdit *edit : {ui->searchShortName, ui->searchName, ui->searchPhone, ui->searchAddress, ui->searchCompany})
        connect(edit, &QLineEdit::textChanged, this, &QuickSearchBar::runQuickSearch);
    // Keys typed into the combo box arrive at its inner edit.
    ui->searchCategory->installEventFilter(this);
    ui->searchCategory->lineEdit()->installEventFilter(this);
}

QuickSearchBar::~QuickSearchBar()
{
    delete ui;
}

bool QuickSearchBar::eventFilter(QObject * /*watched*/, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    // The Enter goes no further: the combo box would take a typed text into its list.
    emit categoryEntered();
    return true;
}

QWidget *QuickSearchBar::lastTabStop() const
{
    return ui->searchButton;
}

CustomerSearch &QuickSearchBar::customerSearch()
{
    if (!m_customerSearch) {
        m_customerSearch = std::make_unique<CustomerSearch>(m_database.customerList, *m_database.connection);
        m_customerSearch->setCurrentKeySource(m_currentKey);
        connect(m_customerSearch.get(), &CustomerSearch::searchFailed, this,
                [this](const QString &message) { lianbu::showError(message, window()); });
        connect(m_customerSearch.get(), &CustomerSearch::listReplaced, this, &QuickSearchBar::resultShown);
        // Every record (read in the background for a long list) is there: emptying the search
        // fields later shows its result at once.
        data::CustomerListModel *list = m_database.customerList;
        connect(list, &data::CustomerListModel::everyRecordShown, m_customerSearch.get(), [this] {
            emit allRecordsShown();
            m_customerSearch->prepareEmptySearch();
        });
        connect(list, &data::CustomerListModel::loadFailed, m_customerSearch.get(),
                [this](const QString &message) { lianbu::showError(message, window()); });
    }
    return *m_customerSearch;
}

void QuickSearchBar::releaseSearch()
{
    m_customerSearch.reset();
}

void QuickSearchBar::setCurrentKeySource(std::function<qint64()> currentKey)
{
    m_currentKey = std::move(currentKey);
    if (m_customerSearch)
        m_customerSearch->setCurrentKeySource(m_currentKey);
}

void QuickSearchBar::runQuickSearch()
{
    // The fields go in as typed: blanks are searched for, not trimmed away.
    customerSearch().search({ui->searchCategory->currentText(), ui->searchShortName->text(), ui->searchPhone->text(),
                             ui->searchName->text(), ui->searchAddress->text(), ui->searchCompany->text()});
}

void QuickSearchBar::focusSearch()
{
    ui->searchShortName->setFocus(Qt::ShortcutFocusReason);
    ui->searchShortName->selectAll();
}

void QuickSearchBar::showAllRecords()
{
    customerSearch().cancel();
    // With the category index the few categories are sought one by one, not read from every row.
    fillComboDistinct(m_database.statementQuery, QLatin1String(lianbu::col::Category), QStringLiteral("data"),
                      ui->searchCategory,
                      lianbu::hasCategoryIndex(*m_database.connection) ? DistinctRead::IndexSeek : DistinctRead::Scan);
    m_database.customerList->loadEveryRecord();
}

void QuickSearchBar::showAllRecordsAfterChange(const QString &category, qint64 key)
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
    m_database.customerList->showAllKept();
    emit customerToShow(key);
}

} // namespace lianbu::customers
