#include "followups/FollowUpWindow.h"

#include "data/ChangeLog.h"
#include "followups/CustomerCard.h"
#include "followups/FollowUpEditor.h"
#include "followups/FollowUpExport.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace lianbu::followups {

QStringList followUpTitles()
{
    return {QStringLiteral("时间"),     QStringLiteral("方式"), QStringLiteral("内容"),  QStringLiteral("结果"),
            QStringLiteral("下次联系"), QStringLiteral("完成"), QStringLiteral("操作员")};
}

QStringList followUpCells(const data::FollowUp &followUp)
{
    return {followUp.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
            followUp.fields.way,
            followUp.fields.content,
            followUp.fields.result,
            followUp.fields.nextDate.isValid() ? followUp.fields.nextDate.toString(Qt::ISODate) : QString(),
            followUp.fields.nextDate.isValid() ? (followUp.settled ? QStringLiteral("是") : QStringLiteral("否"))
                                               : QString(),
            followUp.operatorName};
}

FollowUpWindow::FollowUpWindow(db::Connection &connection, const QString &operatorName, const data::Rights &rights,
                               qint64 customer, const QString &customerName, QWidget *parent)
    : QDialog(parent)
    , m_connection(connection)
    , m_store(connection, operatorName)
    , m_customer(customer)
    , m_count(new QLabel(this))
    , m_table(new QTableWidget(0, int(followUpTitles().size()), this))
    , m_editor(new FollowUpEditor(this))
    , m_add(new QPushButton(QStringLiteral("新增跟进"), this))
    , m_save(new QPushButton(QStringLiteral("保存修改"), this))
    , m_delete(new QPushButton(QStringLiteral("删除"), this))
    , m_export(new QPushButton(QStringLiteral("导出…"), this))
    , m_print(new QPushButton(QStringLiteral("打印…"), this))
{
    setObjectName(QStringLiteral("followUpWindow"));
    setWindowTitle(QStringLiteral("跟进记录 - %1").arg(customerName));
    setAttribute(Qt::WA_DeleteOnClose);
    m_table->setHorizontalHeaderLabels(followUpTitles());
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    m_add->setObjectName(QStringLiteral("addFollowUpButton"));
    m_save->setObjectName(QStringLiteral("saveFollowUpButton"));
    m_delete->setObjectName(QStringLiteral("deleteFollowUpButton"));
    m_add->setToolTip(QStringLiteral("把下面输入的内容记为一条新的跟进（Ctrl+Enter）"));
    auto allow = [&rights](QPushButton *button, data::Right right) {
        button->setEnabled(rights.allows(right));
        if (!rights.allows(right))
            button->setToolTip(data::refusalText(right));
    };
    allow(m_add, data::Right::Edit);
    allow(m_save, data::Right::Edit);
    allow(m_delete, data::Right::Delete);
    allow(m_export, data::Right::Export);
    allow(m_print, data::Right::Print);
    m_print->setObjectName(QStringLiteral("printCardButton"));
    m_export->setObjectName(QStringLiteral("exportFollowUpsButton"));
    m_editor->setWays(m_store.ways());
    m_editor->setEnabled(rights.allows(data::Right::Edit));

    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_count);
    buttons->addStretch();
    buttons->addWidget(m_add);
    buttons->addWidget(m_save);
    buttons->addWidget(m_delete);
    buttons->addWidget(m_export);
    buttons->addWidget(m_print);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table, 3);
    layout->addWidget(m_editor, 2);
    layout->addLayout(buttons);
    resize(820, 520);

    connect(m_editor, &FollowUpEditor::submitRequested, this, [this] {
        if (m_add->isEnabled())
            addTyped();
    });
    connect(m_add, &QPushButton::clicked, this, &FollowUpWindow::addTyped);
    connect(m_save, &QPushButton::clicked, this, &FollowUpWindow::saveChosen);
    connect(m_delete, &QPushButton::clicked, this, &FollowUpWindow::deleteChosen);
    connect(m_export, &QPushButton::clicked, this, [this, operatorName] {
        exportFollowUps(data::SessionOperator(m_connection, operatorName), {m_customer, {}, {}}, this);
    });
    connect(m_print, &QPushButton::clicked, this, [this, operatorName] {
        printCustomerCard(m_connection, data::SessionOperator(m_connection, operatorName), m_customer, this);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_table, &QTableWidget::currentCellChanged, this, [this](int row) { chooseRow(row); });
    reload();
    m_editor->contentEdit()->setFocus();
}

void FollowUpWindow::reload()
{
    const qint64 chosenId = m_chosen ? m_chosen->id : 0;
    m_shown = m_store.ofCustomer(m_customer);
    const QSignalBlocker quiet(m_table);
    m_table->clearContents();
    m_table->setRowCount(int(m_shown.size()));
    for (int row = 0; row < int(m_shown.size()); ++row) {
        const QStringList cells = followUpCells(m_shown[size_t(row)]);
        for (int column = 0; column < cells.size(); ++column) {
            // A long note shows its first line; the whole of it as the tooltip.
            auto *item = new QTableWidgetItem(cells.at(column).section(QLatin1Char('\n'), 0, 0));
            if (cells.at(column).contains(QLatin1Char('\n')))
                item->setToolTip(cells.at(column));
            m_table->setItem(row, column, item);
        }
    }
    m_table->resizeColumnToContents(0);
    m_count->setText(QStringLiteral("共%1条").arg(m_shown.size()));
    // The chosen one is read again as it is now; gone, nothing stays chosen.
    m_chosen.reset();
    for (int row = 0; chosenId != 0 && row < int(m_shown.size()); ++row) {
        if (m_shown[size_t(row)].id == chosenId) {
            m_chosen = m_shown[size_t(row)];
            m_table->setCurrentCell(row, 0);
        }
    }
    if (!m_chosen)
        m_table->setCurrentCell(-1, -1);
}

void FollowUpWindow::chooseRow(int row)
{
    if (row < 0 || row >= int(m_shown.size()))
        return;
    m_chosen = m_shown[size_t(row)];
    m_editor->setFields(m_chosen->fields);
}

bool FollowUpWindow::typedContentPresent()
{
    if (!m_editor->fields().content.trimmed().isEmpty())
        return true;
    showWarning(QStringLiteral("请输入跟进内容。"), this);
    m_editor->contentEdit()->setFocus();
    return false;
}

void FollowUpWindow::addTyped()
{
    if (!typedContentPresent())
        return;
    try {
        m_store.add(m_customer, m_editor->fields());
    } catch (const Error &error) {
        showError(error.operatorText(), this);
        return;
    }
    m_chosen.reset();
    m_editor->clearTyped();
    reload();
    m_editor->contentEdit()->setFocus();
    emit followUpsChanged(m_customer);
}

void FollowUpWindow::saveChosen()
{
    if (!m_chosen) {
        showInformation(QStringLiteral("请先在列表中选择要修改的跟进记录。"), this);
        return;
    }
    if (!typedContentPresent())
        return;
    const data::FollowUpFields typed = m_editor->fields();
    data::FollowUpStore::Outcome outcome;
    try {
        outcome = m_store.modify(*m_chosen, typed);
        if (outcome != data::FollowUpStore::Outcome::Done)
            data::FollowUpStore::throwRefused(outcome);
    } catch (const Error &error) {
        // The list shows what is stored now; the editor keeps what was typed.
        reload();
        m_editor->setFields(typed);
        showError(error.operatorText(), this);
        return;
    }
    reload();
    emit followUpsChanged(m_customer);
}

void FollowUpWindow::deleteChosen()
{
    if (!m_chosen) {
        showInformation(QStringLiteral("请先在列表中选择要删除的跟进记录。"), this);
        return;
    }
    if (!confirmListChange(QStringLiteral("你真的要删除选中的跟进记录吗？"), this))
        return;
    const data::FollowUpFields typed = m_editor->fields();
    try {
        const data::FollowUpStore::Outcome outcome = m_store.remove(*m_chosen);
        if (outcome == data::FollowUpStore::Outcome::Changed)
            throw Error(QStringLiteral("The follow-up was changed since it was read."),
                        QStringLiteral("这条跟进记录在你读取之后已被其他操作员修改，没有删除。请核对后再删除。"));
    } catch (const Error &error) {
        reload();
        m_editor->setFields(typed);
        showError(error.operatorText(), this);
        return;
    }
    m_chosen.reset();
    m_editor->clearTyped();
    reload();
    emit followUpsChanged(m_customer);
}

} // namespace lianbu::followups
