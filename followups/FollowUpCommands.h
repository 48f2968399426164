#pragma once

#include "data/CustomerStore.h"
#include "data/FollowUpStore.h"
#include "data/OperatorRights.h"

#include <QObject>
#include <QPointer>

#include <functional>

class Database;
class QAction;
class QWidget;

namespace lianbu::db {
class BackgroundSearch;
}

namespace lianbu::followups {

class ReminderWindow;

// The commands of the main window that lead to follow-ups: "跟进记录" (F7, the customer list's
// context menu and a toolbar button) for the current customer, "待办提醒…" on the menu and after
// login, and "导出跟进记录…" of a period. The promises due are read in a worker thread.
class FollowUpCommands : public QObject
{
    Q_OBJECT

public:
    FollowUpCommands(Database &database, QWidget *window, std::function<data::CustomerRecord()> currentCustomer,
                     std::function<void(qint64)> showCustomer);
    ~FollowUpCommands() override;

    QAction *followUpAction() const { return m_followUpAction; }
    QAction *remindersAction() const { return m_remindersAction; }
    QAction *exportAction() const { return m_exportAction; }
    // 打印资料卡…: the current customer's card with its follow-ups, in the print preview.
    QAction *cardAction() const { return m_cardAction; }
    void setRights(const data::Rights &rights);
    // The worker's connection lets go of the register (a restore needs it to itself); a query
    // under way is dropped.
    void releaseQuery();

public slots:
    // 跟进记录 of the current customer; a word when there is none.
    void openFollowUps();
    void openFollowUpsOf(qint64 customer);
    // After login: the reminder window only when something is due and the operator wants it.
    void remindAtLogin();
    // 待办提醒…: the window whatever is due (it says when nothing is).
    void openReminders();
    // 导出跟进记录…: every customer's follow-ups of a period.
    void exportPeriod();

private:
    void startDueQuery(bool evenWhenNothing);
    void receiveDue(quint64 ticket, const std::vector<qint64> &ids);
    void showReminders(std::vector<data::DueFollowUp> due, bool toFront);

    Database &m_database;
    QWidget *m_window;
    std::function<data::CustomerRecord()> m_currentCustomer;
    std::function<void(qint64)> m_showCustomer;
    data::Rights m_rights{data::Role::Administrator, 0, true};
    QAction *m_followUpAction;
    QAction *m_remindersAction;
    QAction *m_exportAction;
    QAction *m_cardAction;
    db::BackgroundSearch *m_dueQuery = nullptr;
    bool m_showEvenWhenNothing = false;
    QPointer<ReminderWindow> m_reminders;
};

} // namespace lianbu::followups
