#include "followups/FollowUpCommands.h"

#include "data/ChangeLog.h"
#include "data/CustomerColumns.h"
#include "data/CustomerListModel.h"
#include "data/Database.h"
#include "data/FollowUpStore.h"
#include "db/BackgroundSearch.h"
#include "followups/FollowUpExport.h"
#include "followups/FollowUpWindow.h"
#include "followups/ReminderWindow.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace lianbu::followups {

FollowUpCommands::FollowUpCommands(Database &database, QWidget *window,
                                   std::function<data::CustomerRecord()> currentCustomer,
                                   std::function<void(qint64)> showCustomer)
    : QObject(window)
    , m_database(database)
    , m_window(window)
    , m_currentCustomer(std::move(currentCustomer))
    , m_showCustomer(std::move(showCustomer))
    , m_followUpAction(new QAction(QStringLiteral("跟进记录"), window))
    , m_remindersAction(new QAction(QStringLiteral("待办提醒…"), window))
    , m_exportAction(new QAction(QStringLiteral("导出跟进记录…"), window))
{
    m_followUpAction->setObjectName(QStringLiteral("followUpAction"));
    m_followUpAction->setShortcut(QKeySequence(Qt::Key_F7));
    m_followUpAction->setShortcutContext(Qt::WindowShortcut);
    m_followUpAction->setToolTip(QStringLiteral("当前客户的跟进记录（F7）"));
    window->addAction(m_followUpAction);
    m_remindersAction->setObjectName(QStringLiteral("remindersAction"));
    connect(m_followUpAction, &QAction::triggered, this, &FollowUpCommands::openFollowUps);
    connect(m_remindersAction, &QAction::triggered, this, &FollowUpCommands::openReminders);
    m_exportAction->setObjectName(QStringLiteral("exportFollowUpsAction"));
    connect(m_exportAction, &QAction::triggered, this, &FollowUpCommands::exportPeriod);
}

FollowUpCommands::~FollowUpCommands() = default;

void FollowUpCommands::setRights(const data::Rights &rights)
{
    m_rights = rights;
    m_exportAction->setEnabled(rights.allows(data::Right::Export));
    m_exportAction->setToolTip(rights.allows(data::Right::Export) ? QString() : data::refusalText(data::Right::Export));
}

void FollowUpCommands::exportPeriod()
{
    QDialog ask(m_window);
    ask.setWindowTitle(QStringLiteral("导出跟进记录"));
    auto *from = new QDateEdit(lianbu::today().addMonths(-1), &ask);
    auto *to = new QDateEdit(lianbu::today(), &ask);
    for (QDateEdit *edit : {from, to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("导出"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    auto *form = new QFormLayout(&ask);
    form->addRow(new QLabel(QStringLiteral("导出全部客户在这段时间内的跟进记录。"), &ask));
    form->addRow(QStringLiteral("从"), from);
    form->addRow(QStringLiteral("到"), to);
    form->addRow(buttons);
    if (ask.exec() != QDialog::Accepted)
        return;
    if (from->date() > to->date()) {
        showWarning(QStringLiteral("开始日期不能晚于结束日期。"), m_window);
        return;
    }
    exportFollowUps(data::SessionOperator(*m_database.connection, m_database.sessionOperator),
                    {0, from->date(), to->date()}, m_window);
}

void FollowUpCommands::releaseQuery()
{
    delete std::exchange(m_dueQuery, nullptr);
    m_showEvenWhenNothing = false;
}

void FollowUpCommands::openFollowUps()
{
    const data::CustomerRecord customer = m_currentCustomer();
    if (customer.key == 0) {
        showInformation(QStringLiteral("请先在列表中选择客户。"), m_window);
        return;
    }
    openFollowUpsOf(customer.key);
}

void FollowUpCommands::openFollowUpsOf(qint64 customer)
{
    // One window per customer: asked again, the open one comes to the front.
    for (FollowUpWindow *open : m_window->findChildren<FollowUpWindow *>()) {
        if (open->customer() == customer) {
            open->raise();
            open->activateWindow();
            return;
        }
    }
    const std::optional<data::CustomerRecord> record = m_database.customerStore->read(customer);
    if (!record) {
        showInformation(QStringLiteral("这位客户已被删除。请重新查询列表。"), m_window);
        return;
    }
    auto *window = new FollowUpWindow(*m_database.connection, m_database.sessionOperator, m_rights, customer,
                                      record->value(QLatin1String(col::ShortName)).value_or(QString()), m_window);
    // A reminder window open beside it shows what was added or kept.
    connect(window, &FollowUpWindow::followUpsChanged, this, [this](qint64 customer) {
        m_database.customerList->followUpsChanged(customer);
        if (m_reminders)
            startDueQuery(true);
    });
    window->show();
}

void FollowUpCommands::remindAtLogin()
{
    try {
        if (!data::FollowUpStore(*m_database.connection).remindsAtLogin(m_database.sessionOperator))
            return;
    } catch (const Error &) {
        return; // a register that cannot say is no reason to hold up the login
    }
    startDueQuery(false);
}

void FollowUpCommands::openReminders()
{
    startDueQuery(true);
}

void FollowUpCommands::startDueQuery(bool evenWhenNothing)
{
    m_showEvenWhenNothing = m_showEvenWhenNothing || evenWhenNothing;
    if (!m_dueQuery) {
        m_dueQuery = new db::BackgroundSearch(m_database.connection->address(), this);
        connect(m_dueQuery, &db::BackgroundSearch::finished, this, &FollowUpCommands::receiveDue);
        connect(m_dueQuery, &db::BackgroundSearch::failed, this, [this](quint64, const QString &message) {
            m_dueQuery->deleteLater();
            m_dueQuery = nullptr;
            if (std::exchange(m_showEvenWhenNothing, false))
                showError(QStringLiteral("无法读取待办提醒：%1").arg(message), m_window);
        });
    }
    m_dueQuery->start(data::dueKeysStatement(m_database.connection->isServer()), data::dueKeysValues(lianbu::today()));
}

void FollowUpCommands::receiveDue(quint64, const std::vector<qint64> &ids)
{
    // Its connection is not kept: the register stays free for a restore between reminders.
    m_dueQuery->deleteLater();
    m_dueQuery = nullptr;
    const bool evenWhenNothing = std::exchange(m_showEvenWhenNothing, false);
    std::vector<data::DueFollowUp> due;
    try {
        due = data::FollowUpStore(*m_database.connection).dueOf(ids);
    } catch (const Error &error) {
        if (evenWhenNothing)
            showError(error.operatorText(), m_window);
        return;
    }
    if (!m_reminders && due.empty()) {
        // Nothing pops up at login when nothing is due; asked for, the window says so.
        if (evenWhenNothing)
            showInformation(QStringLiteral("今天没有到期的待办提醒。"), m_window);
        return;
    }
    showReminders(std::move(due), evenWhenNothing);
}

void FollowUpCommands::showReminders(std::vector<data::DueFollowUp> due, bool toFront)
{
    // Not over a question the login still asks (the initial password must be changed first):
    // the window comes once it is answered.
    if (!m_reminders && !toFront && QApplication::activeModalWidget()) {
        QTimer::singleShot(300, this, [this, due = std::move(due)]() mutable { showReminders(std::move(due), false); });
        return;
    }
    if (!m_reminders) {
        m_reminders = new ReminderWindow(*m_database.connection, m_database.sessionOperator, m_rights, m_window);
        connect(m_reminders, &ReminderWindow::reloadWanted, this, [this] {
            // 完成 and 改期 move the dates of a customer the list may show.
            m_database.customerList->followUpsChanged(0);
            startDueQuery(false);
        });
        connect(m_reminders, &ReminderWindow::customerWanted, this, [this](qint64 customer) {
            m_showCustomer(customer);
            openFollowUpsOf(customer);
        });
        m_reminders->show();
    }
    m_reminders->showDue(std::move(due));
    if (toFront) {
        m_reminders->raise();
        m_reminders->activateWindow();
    }
}

} // namespace lianbu::followups
