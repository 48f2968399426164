#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

namespace lianbu::db {
class Connection;
}

namespace lianbu::operators {

// One page of "失败记录": the failed password attempts, newest first.
struct FailurePage
{
    int page = 0;  // from 0
    int pages = 1; // at least one, also when there is nothing
    int total = 0;
    std::vector<QStringList> rows; // time (local), name, where
};

inline constexpr int kFailuresPerPage = 20;

// Reads page `page` (moved into the pages there are). A name is shown at most as long as an
// operator name can be; a name that matched no operator shows as "（不存在的用户名）".
FailurePage readFailurePage(db::Connection &connection, int page);

// "失败记录": the failed attempts one page at a time, for the super administrator.
class FailureLogWindow : public QDialog
{
    Q_OBJECT

public:
    FailureLogWindow(db::Connection &connection, QWidget *parent);

    const FailurePage &shown() const { return m_page; }
    QPushButton *previousButton() const { return m_previous; }
    QPushButton *nextButton() const { return m_next; }
    QTableWidget *table() const { return m_table; }

public slots:
    void showPage(int page);

private:
    db::Connection &m_connection;
    FailurePage m_page;
    QTableWidget *m_table;
    QLabel *m_pageLabel;
    QPushButton *m_previous;
    QPushButton *m_next;
};

} // namespace lianbu::operators
