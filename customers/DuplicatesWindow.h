#pragma once

// "查重": the groups of customers in the register that are likely the same (same 手机, or same
// 客户简称 and 姓名, directly or through another member of the group), so the operator can open
// each one and clean up. The window reads the register when it opens and on "刷新".

#include <QDialog>
#include <QSqlDatabase>

class QLabel;
class QTreeWidget;

namespace lianbu::customers {

class DuplicatesWindow : public QDialog
{
    Q_OBJECT

public:
    explicit DuplicatesWindow(QSqlDatabase database, QWidget *parent = nullptr);

    // Reads the register again. Errors of the database reach the caller.
    void refresh();
    int groupCount() const;
    // Row keys of the customers of a group, in the order shown.
    QList<qint64> groupMembers(int group) const;
    // Opens the customer shown at (group, member), as a double click or Enter does.
    void openMember(int group, int member);
    // The selected lines as text, in the order shown: a selected group as its heading and every
    // member, a selected member as its fields separated by tabs. What Ctrl+C puts on the clipboard.
    QString selectedText() const;

signals:
    // The operator wants to see this customer (its row key in the register).
    void openCustomer(qint64 id);

private:
    QSqlDatabase m_database;
    QLabel *m_summary = nullptr;
    QTreeWidget *m_tree = nullptr;
};

} // namespace lianbu::customers
