#pragma once

#include <QGroupBox>

#include <functional>
#include <memory>

class Database;

namespace Ui {
class QuickSearchBar;
}

namespace lianbu::customers {

class CustomerSearch;

// "快速查询": the six search fields and "搜索". Every change of a field searches again, on the
// search's own connection; the list shows the newest result when it is there.
class QuickSearchBar : public QGroupBox
{
    Q_OBJECT

public:
    QuickSearchBar(Database &database, QWidget *parent);
    ~QuickSearchBar() override;

    // The last control Tab reaches in the bar ("搜索").
    QWidget *lastTabStop() const;
    // The search behind the fields (made at the first search).
    CustomerSearch &customerSearch();
    // The search's worker lets go of its connection; it comes back at the next search.
    void releaseSearch();
    // The key of the customer the list shows as current (0 for none), kept across a refresh.
    void setCurrentKeySource(std::function<qint64()> currentKey);

public slots:
    void runQuickSearch();
    // Ctrl+F: the focus to 客户简称, its text selected so typing replaces it.
    void focusSearch();
    // "全部记录": every customer listed, the last one current, the category list refilled. A long
    // list is read in the background: allRecordsShown() says when it is there.
    void showAllRecords();
    // After the operator added or changed the customer `key`: every record listed in key order,
    // that customer current, the category list holding `category`, without running a statement
    // (the list of every record is kept in memory).
    void showAllRecordsAfterChange(const QString &category, qint64 key);

signals:
    // Enter in the category field (the key goes no further).
    void categoryEntered();
    // The list shows a new result: the customer `key` current, or the first row for 0.
    void resultShown(qint64 key);
    // The list shows every record: its last row current.
    void allRecordsShown();
    // The list shows every record again after a change: the customer `key` current.
    void customerToShow(qint64 key);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Ui::QuickSearchBar *ui;
    Database &m_database;
    std::unique_ptr<CustomerSearch> m_customerSearch;
    std::function<qint64()> m_currentKey;
};

} // namespace lianbu::customers
