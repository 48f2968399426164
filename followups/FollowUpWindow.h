#pragma once

#include "data/FollowUpStore.h"
#include "data/OperatorRights.h"

#include <QDialog>

#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

namespace lianbu::followups {

class FollowUpEditor;

// "跟进记录" of one customer, newest first. 新增跟进 stores what is typed below the list in one
// step; choosing a row puts it below for 保存修改 or 删除, which are refused when another
// operator changed or deleted it meanwhile; the typed text then stays. 导出… writes them to a file,
// 打印… prints the customer's card with them.
class FollowUpWindow : public QDialog
{
    Q_OBJECT

public:
    FollowUpWindow(db::Connection &connection, const QString &operatorName, const data::Rights &rights, qint64 customer,
                   const QString &customerName, QWidget *parent);

    qint64 customer() const { return m_customer; }
    QTableWidget *table() const { return m_table; }
    FollowUpEditor *editor() const { return m_editor; }
    QPushButton *addButton() const { return m_add; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *deleteButton() const { return m_delete; }
    QPushButton *exportButton() const { return m_export; }
    QPushButton *printButton() const { return m_print; }
    // The follow-up chosen for changing, as it was read.
    const std::optional<data::FollowUp> &chosen() const { return m_chosen; }

public slots:
    void reload();
    void addTyped();     // 新增跟进
    void saveChosen();   // 保存修改
    void deleteChosen(); // 删除
    void chooseRow(int row);

signals:
    // Something was written: other windows showing follow-ups read them again.
    void followUpsChanged(qint64 customer);

private:
    bool typedContentPresent();

    db::Connection &m_connection;
    data::FollowUpStore m_store;
    qint64 m_customer;
    std::vector<data::FollowUp> m_shown;
    std::optional<data::FollowUp> m_chosen;
    QLabel *m_count;
    QTableWidget *m_table;
    FollowUpEditor *m_editor;
    QPushButton *m_add;
    QPushButton *m_save;
    QPushButton *m_delete;
    QPushButton *m_export;
    QPushButton *m_print;
};

// The cells a follow-up shows in a list: 时间, 方式, 内容, 结果, 下次联系, 完成, 操作员.
QStringList followUpCells(const data::FollowUp &followUp);
QStringList followUpTitles();

} // namespace lianbu::followups
