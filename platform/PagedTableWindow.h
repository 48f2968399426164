#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QBoxLayout;
class QLabel;
class QPushButton;
class QTableWidget;

namespace lianbu {

// One page of rows read from the register, as a paged window shows it.
struct TablePage
{
    int page = 0;  // from 0
    int pages = 1; // at least one, also when there is nothing
    qint64 total = 0;
    std::vector<QStringList> rows;
    std::vector<qint64> keys; // one per row, for windows that act on a chosen row
};

// The page numbers of `total` rows shown `perPage` at a time, with `page` moved into them.
TablePage pageFrame(qint64 total, int page, int perPage);

// A window that lists rows of the register one page at a time: the table, "共N条，第i/n页",
// 上一页 / 下一页, the window's own buttons, 关闭. A subclass says how a page is read; the read
// runs on the user-interface thread, or, for a window that reads on a connection of its own,
// on a worker thread (only the newest page asked for is shown).
class PagedTableWindow : public QDialog
{
    Q_OBJECT

public:
    using PageJob = std::function<TablePage()>;

    PagedTableWindow(const QStringList &titles, QWidget *parent);
    ~PagedTableWindow() override;

    const TablePage &shown() const { return m_shown; }
    QTableWidget *table() const { return m_table; }
    QPushButton *previousButton() const { return m_previous; }
    QPushButton *nextButton() const { return m_next; }
    QLabel *pageLabel() const { return m_pageLabel; }
    // The key of the chosen row; 0 when none is chosen.
    qint64 chosenKey() const;
    // True while a page read on the worker has not come back.
    bool reading() const { return m_asked != m_answered; }

public slots:
    void showPage(int page);
    void showAgain() { showPage(m_shown.page); }

signals:
    // A page is on screen (or its read failed and the label says so).
    void pageShown();

protected:
    // The read of page `page`, made on the user-interface thread; run there or on the worker.
    // It throws lianbu::Error when the rows cannot be read.
    virtual PageJob pageJob(int page) = 0;
    void setReadInBackground(bool on) { m_background = on; }
    // The window's own buttons go before 关闭; its filters above the table.
    void addButton(QPushButton *button);
    void addAboveTable(QBoxLayout *layout);
    // Called when a page is on screen, before pageShown.
    virtual void pageArrived(int requested) { Q_UNUSED(requested); }

private:
    void present(int requested, const TablePage &page, const QString &failure);

    TablePage m_shown;
    bool m_background = false;
    quint64 m_asked = 0;
    quint64 m_answered = 0;
    QTableWidget *m_table;
    QLabel *m_pageLabel;
    QPushButton *m_previous;
    QPushButton *m_next;
    QPushButton *m_close;
    QBoxLayout *m_buttons;
    QBoxLayout *m_layout;
};

} // namespace lianbu
