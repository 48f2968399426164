#pragma once

#include "data/FollowUpStore.h"
#include "data/OperatorRights.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace lianbu::followups {

// "待办提醒": the promises due today or earlier (customer, phone, what was promised, due date,
// who promised it). 完成 records the outcome as a new follow-up and keeps the promise, 改期 moves
// it to another day, 打开客户 shows the customer in the list. The tick below switches the window
// at login off or on for the operator.
class ReminderWindow : public QDialog
{
    Q_OBJECT

public:
    ReminderWindow(db::Connection &connection, const QString &operatorName, const data::Rights &rights,
                   QWidget *parent);

    // Shows these promises (read elsewhere, off this thread).
    void showDue(std::vector<data::DueFollowUp> due);
    const std::vector<data::DueFollowUp> &shown() const { return m_due; }
    QTableWidget *table() const { return m_table; }
    QCheckBox *remindBox() const { return m_remind; }
    QPushButton *completeButton() const { return m_complete; }
    QPushButton *rescheduleButton() const { return m_reschedule; }
    QPushButton *openCustomerButton() const { return m_openCustomer; }
    // The promise of the chosen row; nullptr when none.
    const data::DueFollowUp *chosen() const;

    // The steps of the buttons once the operator has said what: false (and the reason shown)
    // when refused. The promises are read again either way.
    bool complete(const data::FollowUp &promise, const data::FollowUpFields &outcome);
    bool reschedule(const data::FollowUp &promise, const QDate &date);

public slots:
    void completeChosen();   // 完成
    void rescheduleChosen(); // 改期
    void openChosen();       // 打开客户

signals:
    // The promises should be read again (something was written).
    void reloadWanted();
    void customerWanted(qint64 customer);

private:
    bool refusedUnlessDone(data::FollowUpStore::Outcome outcome);
    const data::DueFollowUp *chosenOrSay(const QString &what);

    data::FollowUpStore m_store;
    QString m_operator;
    std::vector<data::DueFollowUp> m_due;
    QLabel *m_count;
    QTableWidget *m_table;
    QCheckBox *m_remind;
    QPushButton *m_complete;
    QPushButton *m_reschedule;
    QPushButton *m_openCustomer;
};

} // namespace lianbu::followups
