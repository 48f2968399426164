#pragma once

#include <QGroupBox>

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

public slots:
    void runQuickSearch();
    // Ctrl+F: the focus to 客户简称, its text selected so typing replaces it.
    void focusSearch();
    // "全部记录": every customer listed, the last one current, the category list refilled.
    void showAllRecords();
    // After the operator added or changed a record: every record listed, the current one last,
    // the category list holding `category`, without reading the whole list again when it is
    // already the list of every record.
    void showAllRecordsAfterChange(const QString &category);

signals:
    // Enter in the category field (the key goes no further).
    void categoryEntered();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Ui::QuickSearchBar *ui;
    Database &m_database;
    std::unique_ptr<CustomerSearch> m_customerSearch;
};

} // namespace lianbu::customers
