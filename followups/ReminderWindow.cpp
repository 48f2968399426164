#include "followups/ReminderWindow.h"

#include "followups/FollowUpEditor.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace lianbu::followups {

namespace {

QDialogButtonBox *okCancel(QDialog *dialog)
{
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

} // namespace

ReminderWindow::ReminderWindow(db::Connection &connection, const QString &operatorName, const data::Rights &rights,
                               QWidget *parent)
    : QDialog(parent)
    , m_store(connection, operatorName)
    , m_operator(operatorName)
    , m_count(new QLabel(this))
    , m_table(new QTableWidget(0, 6, this))
    , m_remind(new QCheckBox(QStringLiteral("登录时显示待办提醒"), this))
    , m_complete(new QPushButton(QStringLiteral("完成"), this))
    , m_reschedule(new QPushButton(QStringLiteral("改期"), this))
    , m_openCustomer(new QPushButton(QStringLiteral("打开客户"), this))
{
    setObjectName(QStringLiteral("reminderWindow"));
    setWindowTitle(QStringLiteral("待办提醒"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_table->setHorizontalHeaderLabels({QStringLiteral("客户"), QStringLiteral("联系人"), QStringLiteral("电话"),
                                        QStringLiteral("约定事项"), QStringLiteral("应联系日期"),
                                        QStringLiteral("承诺人")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    m_complete->setObjectName(QStringLiteral("completeButton"));
    m_reschedule->setObjectName(QStringLiteral("rescheduleButton"));
    m_openCustomer->setObjectName(QStringLiteral("openCustomerButton"));
    m_remind->setObjectName(QStringLiteral("remindAtLoginBox"));
    for (QPushButton *button : {m_complete, m_reschedule}) {
        button->setEnabled(rights.allows(data::Right::Edit));
        if (!rights.allows(data::Right::Edit))
            button->setToolTip(data::refusalText(data::Right::Edit));
    }
    m_remind->setChecked(m_store.remindsAtLogin(operatorName));
    m_remind->setEnabled(!operatorName.isEmpty());

    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_count);
    buttons->addWidget(m_remind);
    buttons->addStretch();
    buttons->addWidget(m_complete);
    buttons->addWidget(m_reschedule);
    buttons->addWidget(m_openCustomer);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    resize(820, 360);

    connect(m_complete, &QPushButton::clicked, this, &ReminderWindow::completeChosen);
    connect(m_reschedule, &QPushButton::clicked, this, &ReminderWindow::rescheduleChosen);
    connect(m_openCustomer, &QPushButton::clicked, this, &ReminderWindow::openChosen);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &ReminderWindow::openChosen);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_remind, &QCheckBox::toggled, this, [this](bool remind) {
        try {
            m_store.setRemindsAtLogin(m_operator, remind);
        } catch (const Error &error) {
            showError(error.operatorText(), this);
        }
    });
}

void ReminderWindow::showDue(std::vector<data::DueFollowUp> due)
{
    const qint64 chosenId = chosen() ? chosen()->followUp.id : 0;
    m_due = std::move(due);
    m_table->clearContents();
    m_table->setRowCount(int(m_due.size()));
    const QDate today = lianbu::today();
    for (int row = 0; row < int(m_due.size()); ++row) {
        const data::DueFollowUp &due = m_due[size_t(row)];
        const data::FollowUpFields &fields = due.followUp.fields;
        QString promised =
            fields.result.isEmpty() ? fields.content : fields.result + QStringLiteral("：") + fields.content;
        const QStringList cells{due.customerName,
                                due.contact,
                                due.phone,
                                promised.section(QLatin1Char('\n'), 0, 0),
                                fields.nextDate.toString(Qt::ISODate),
                                due.followUp.operatorName};
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            if (column == 3)
                item->setToolTip(promised);
            // Overdue ones stand out from those due today.
            if (column == 4 && fields.nextDate < today)
                item->setForeground(QColor(0xc0, 0x20, 0x20));
            m_table->setItem(row, column, item);
        }
        if (due.followUp.id == chosenId)
            m_table->selectRow(row);
    }
    m_table->resizeColumnsToContents();
    m_count->setText(QStringLiteral("今天及以前到期：%1条").arg(m_due.size()));
}

const data::DueFollowUp *ReminderWindow::chosen() const
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= int(m_due.size()) || !m_table->selectionModel()->isRowSelected(row, {}))
        return nullptr;
    return &m_due[size_t(row)];
}

const data::DueFollowUp *ReminderWindow::chosenOrSay(const QString &what)
{
    const data::DueFollowUp *due = chosen();
    if (!due)
        showInformation(QStringLiteral("请先在列表中选择要%1的提醒。").arg(what), this);
    return due;
}

bool ReminderWindow::refusedUnlessDone(data::FollowUpStore::Outcome outcome)
{
    if (outcome == data::FollowUpStore::Outcome::Done)
        return false;
    try {
        data::FollowUpStore::throwRefused(outcome);
    } catch (const Error &error) {
        showError(error.operatorText(), this);
    }
    return true;
}

bool ReminderWindow::complete(const data::FollowUp &promise, const data::FollowUpFields &outcome)
{
    bool refused = true;
    try {
        refused = refusedUnlessDone(m_store.complete(promise, outcome));
    } catch (const Error &error) {
        showError(error.operatorText(), this);
    }
    emit reloadWanted();
    return !refused;
}

bool ReminderWindow::reschedule(const data::FollowUp &promise, const QDate &date)
{
    bool refused = true;
    try {
        refused = refusedUnlessDone(m_store.reschedule(promise, date));
    } catch (const Error &error) {
        showError(error.operatorText(), this);
    }
    emit reloadWanted();
    return !refused;
}

void ReminderWindow::completeChosen()
{
    const data::DueFollowUp *chosenDue = chosenOrSay(QStringLiteral("完成"));
    if (!chosenDue)
        return;
    // A copy: the list may be read again while the operator types.
    const data::DueFollowUp promise = *chosenDue;
    const data::DueFollowUp *due = &promise;
    // The outcome is typed as any follow-up; the same way as the promise to begin with.
    QDialog ask(this);
    ask.setWindowTitle(QStringLiteral("完成 - %1").arg(due->customerName));
    auto *editor = new FollowUpEditor(&ask);
    editor->setWays(m_store.ways());
    editor->setFields({due->followUp.fields.way, {}, {}, {}});
    auto *layout = new QVBoxLayout(&ask);
    layout->addWidget(new QLabel(QStringLiteral("约定：%1").arg(due->followUp.fields.content), &ask));
    layout->addWidget(editor);
    layout->addWidget(okCancel(&ask));
    ask.resize(520, 320);
    editor->contentEdit()->setFocus();
    for (;;) {
        if (ask.exec() != QDialog::Accepted)
            return;
        if (!editor->fields().content.trimmed().isEmpty())
            break;
        showWarning(QStringLiteral("请输入这次跟进的结果。"), &ask);
    }
    complete(promise.followUp, editor->fields());
}

void ReminderWindow::rescheduleChosen()
{
    const data::DueFollowUp *chosenDue = chosenOrSay(QStringLiteral("改期"));
    if (!chosenDue)
        return;
    const data::DueFollowUp promise = *chosenDue;
    const data::DueFollowUp *due = &promise;
    QDialog ask(this);
    ask.setWindowTitle(QStringLiteral("改期 - %1").arg(due->customerName));
    auto *date = new QDateEdit(lianbu::today().addDays(1), &ask);
    date->setCalendarPopup(true);
    date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    auto *form = new QFormLayout(&ask);
    form->addRow(QStringLiteral("改到"), date);
    form->addRow(okCancel(&ask));
    if (ask.exec() != QDialog::Accepted)
        return;
    reschedule(promise.followUp, date->date());
}

void ReminderWindow::openChosen()
{
    if (const data::DueFollowUp *due = chosenOrSay(QStringLiteral("打开")))
        emit customerWanted(due->followUp.customer);
}

} // namespace lianbu::followups
