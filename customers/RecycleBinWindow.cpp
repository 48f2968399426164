#include "customers/RecycleBinWindow.h"

#include "data/CustomerColumns.h"
#include "data/CustomerStore.h"
#include "data/OperatorRights.h"
#include "platform/Dialogs.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace lianbu::customers {

namespace {

// What identifies a customer to the operator, then who and when.
constexpr const char *kShownColumns[] = {col::ShortName, col::Name, col::Category, col::Phone, col::Mobile};

} // namespace

RecycleBinWindow::RecycleBinWindow(data::CustomerStore &store, const data::Rights &rights, QWidget *parent)
    : QDialog(parent)
    , m_store(store)
    , m_table(new QTableWidget(0, 8, this))
    , m_pageLabel(new QLabel(this))
    , m_previous(new QPushButton(QStringLiteral("上一页"), this))
    , m_next(new QPushButton(QStringLiteral("下一页"), this))
    , m_restore(new QPushButton(QStringLiteral("还原"), this))
    , m_purge(new QPushButton(QStringLiteral("彻底删除"), this))
    , m_empty(new QPushButton(QStringLiteral("清空回收站"), this))
{
    setObjectName(QStringLiteral("recycleBinWindow"));
    setWindowTitle(QStringLiteral("回收站"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_table->setHorizontalHeaderLabels({QStringLiteral("客户简称"), QStringLiteral("姓名"), QStringLiteral("客户类别"),
                                        QStringLiteral("电话"), QStringLiteral("手机"), QStringLiteral("删除人"),
                                        QStringLiteral("删除时间"), QStringLiteral("电脑")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_restore->setObjectName(QStringLiteral("restoreButton"));
    m_purge->setObjectName(QStringLiteral("purgeButton"));
    m_empty->setObjectName(QStringLiteral("emptyBinButton"));
    auto allow = [&rights](QPushButton *button, data::Right right) {
        button->setEnabled(rights.allows(right));
        if (!rights.allows(right))
            button->setToolTip(data::refusalText(right));
    };
    allow(m_restore, data::Right::Edit);
    allow(m_purge, data::Right::Delete);
    allow(m_empty, data::Right::Delete);
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_pageLabel);
    buttons->addStretch();
    buttons->addWidget(m_previous);
    buttons->addWidget(m_next);
    buttons->addSpacing(12);
    buttons->addWidget(m_restore);
    buttons->addWidget(m_purge);
    buttons->addWidget(m_empty);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    resize(760, 420);
    connect(m_previous, &QPushButton::clicked, this, [this] { showPage(m_page - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] { showPage(m_page + 1); });
    connect(m_restore, &QPushButton::clicked, this, &RecycleBinWindow::restoreChosen);
    connect(m_purge, &QPushButton::clicked, this, &RecycleBinWindow::purgeChosen);
    connect(m_empty, &QPushButton::clicked, this, &RecycleBinWindow::emptyBin);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    showPage(0);
}

qint64 RecycleBinWindow::chosenKey() const
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= int(m_keys.size()) || !m_table->selectionModel()->isRowSelected(row, {}))
        return 0;
    return m_keys[size_t(row)];
}

void RecycleBinWindow::showPage(int page)
{
    m_total = m_store.binCount();
    const int pages = int(std::max<qint64>(1, (m_total + kPerPage - 1) / kPerPage));
    m_page = std::clamp(page, 0, pages - 1);
    const std::vector<data::BinEntry> entries = m_store.binEntries(kPerPage, m_page * kPerPage);
    m_keys.clear();
    m_table->clearContents();
    m_table->setRowCount(int(entries.size()));
    for (int row = 0; row < int(entries.size()); ++row) {
        const data::BinEntry &entry = entries[size_t(row)];
        m_keys.push_back(entry.record.key);
        int column = 0;
        for (const char *name : kShownColumns)
            m_table->setItem(row, column++,
                             new QTableWidgetItem(entry.record.value(QLatin1String(name)).value_or(QString())));
        m_table->setItem(row, column++, new QTableWidgetItem(entry.deletedBy));
        m_table->setItem(
            row, column++,
            new QTableWidgetItem(entry.deletedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
        m_table->setItem(row, column, new QTableWidgetItem(entry.pc));
    }
    m_table->resizeColumnsToContents();
    m_pageLabel->setText(QStringLiteral("共%1条，第%2/%3页").arg(m_total).arg(m_page + 1).arg(pages));
    m_previous->setEnabled(m_page > 0);
    m_next->setEnabled(m_page + 1 < pages);
}

void RecycleBinWindow::restoreChosen()
{
    const qint64 key = chosenKey();
    if (key == 0) {
        showInformation(QStringLiteral("请先在列表中选择要还原的资料。"), this);
        return;
    }
    if (!m_store.restore(key)) {
        showInformation(QStringLiteral("这条资料已不在回收站中（可能已被其他操作员还原或彻底删除）。"), this);
    } else {
        emit customerRestored(key);
        showInformation(QStringLiteral("还原成功！"), this);
    }
    showPage(m_page);
}

void RecycleBinWindow::purgeChosen()
{
    const qint64 key = chosenKey();
    if (key == 0) {
        showInformation(QStringLiteral("请先在列表中选择要彻底删除的资料。"), this);
        return;
    }
    if (!confirmListChange(QStringLiteral("你真的要彻底删除选中资料吗？彻底删除后不能还原。"), this))
        return;
    if (!m_store.purge(key))
        showInformation(QStringLiteral("这条资料已不在回收站中（可能已被其他操作员还原或彻底删除）。"), this);
    showPage(m_page);
}

void RecycleBinWindow::emptyBin()
{
    const qint64 total = m_store.binCount();
    if (total == 0) {
        showInformation(QStringLiteral("回收站是空的。"), this);
        return;
    }
    if (!confirmListChange(QStringLiteral("你真的要清空回收站吗？其中的%1条资料将被彻底删除，不能还原。").arg(total),
                           this))
        return;
    m_store.emptyBin();
    showPage(0);
}

} // namespace lianbu::customers
