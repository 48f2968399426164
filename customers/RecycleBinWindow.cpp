#include "customers/RecycleBinWindow.h"

#include "data/CustomerColumns.h"
#include "data/CustomerStore.h"
#include "data/OperatorRights.h"
#include "platform/Dialogs.h"

#include <QPushButton>

namespace lianbu::customers {

namespace {

// What identifies a customer to the operator, then who and when.
constexpr const char *kShownColumns[] = {col::ShortName, col::Name, col::Category, col::Phone, col::Mobile};

} // namespace

RecycleBinWindow::RecycleBinWindow(data::CustomerStore &store, const data::Rights &rights, QWidget *parent)
    : PagedTableWindow({QStringLiteral("客户简称"), QStringLiteral("姓名"), QStringLiteral("客户类别"),
                        QStringLiteral("电话"), QStringLiteral("手机"), QStringLiteral("删除人"),
                        QStringLiteral("删除时间"), QStringLiteral("电脑")},
                       parent)
    , m_store(store)
    , m_restore(new QPushButton(QStringLiteral("还原"), this))
    , m_purge(new QPushButton(QStringLiteral("彻底删除"), this))
    , m_empty(new QPushButton(QStringLiteral("清空回收站"), this))
{
    setObjectName(QStringLiteral("recycleBinWindow"));
    setWindowTitle(QStringLiteral("回收站"));
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
    addButton(m_restore);
    addButton(m_purge);
    addButton(m_empty);
    resize(760, 420);
    connect(m_restore, &QPushButton::clicked, this, &RecycleBinWindow::restoreChosen);
    connect(m_purge, &QPushButton::clicked, this, &RecycleBinWindow::purgeChosen);
    connect(m_empty, &QPushButton::clicked, this, &RecycleBinWindow::emptyBin);
    showPage(0);
}

PagedTableWindow::PageJob RecycleBinWindow::pageJob(int page)
{
    return [this, page] {
        TablePage read = pageFrame(m_store.binCount(), page, kPerPage);
        for (const data::BinEntry &entry : m_store.binEntries(kPerPage, read.page * kPerPage)) {
            QStringList cells;
            for (const char *name : kShownColumns)
                cells << entry.record.value(QLatin1String(name)).value_or(QString());
            cells << entry.deletedBy << entry.deletedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                  << entry.pc;
            read.rows.push_back(cells);
            read.keys.push_back(entry.record.key);
        }
        return read;
    };
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
    showAgain();
}

void RecycleBinWindow::purgeChosen()
{
    const qint64 key = chosenKey();
    if (key == 0) {
        showInformation(QStringLiteral("请先在列表中选择要彻底删除的资料。"), this);
        return;
    }
    if (!confirmListChange(QStringLiteral("你真的要彻底删除选中资料吗？彻底删除后（连同它的跟进记录）不能还原。"),
                           this))
        return;
    if (!m_store.purge(key))
        showInformation(QStringLiteral("这条资料已不在回收站中（可能已被其他操作员还原或彻底删除）。"), this);
    showAgain();
}

void RecycleBinWindow::emptyBin()
{
    const qint64 total = m_store.binCount();
    if (total == 0) {
        showInformation(QStringLiteral("回收站是空的。"), this);
        return;
    }
    if (!confirmListChange(
            QStringLiteral("你真的要清空回收站吗？其中的%1条资料（连同它们的跟进记录）将被彻底删除，不能还原。")
                .arg(total),
            this))
        return;
    m_store.emptyBin();
    showPage(0);
}

} // namespace lianbu::customers
