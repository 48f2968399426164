#include "customers/DuplicatesWindow.h"

#include "export/CustomerImport.h"
#include "export/RegisterAccess.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace lianbu::customers {

using exchange::CustomerField;

namespace {

constexpr int kIdRole = Qt::UserRole + 1;

const CustomerField kShownFields[] = {CustomerField::ShortName, CustomerField::Name,
                                      CustomerField::Mobile,    CustomerField::Phone,
                                      CustomerField::Company,   CustomerField::RegistrationDate};

} // namespace

DuplicatesWindow::DuplicatesWindow(QSqlDatabase database, QWidget *parent)
    : QDialog(parent)
    , m_database(std::move(database))
{
    setObjectName(QStringLiteral("DuplicatesWindow"));
    setWindowTitle(QStringLiteral("查重"));
    resize(760, 480);
    auto *layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary);
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("groupTree"));
    QStringList headers;
    for (const CustomerField field : kShownFields)
        headers.append(exchange::compactTitle(exchange::fieldTitle(field)));
    m_tree->setHeaderLabels(headers);
    m_tree->setRootIsDecorated(true);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(m_tree, 1);
    // A double click, or Enter on the current line.
    connect(m_tree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item) {
        const QVariant id = item->data(0, kIdRole);
        if (id.isValid())
            emit openCustomer(id.toLongLong());
    });
    // The item view's own Ctrl+C copies one cell; the operator wants the lines, to paste elsewhere.
    auto *copy = new QAction(QStringLiteral("复制"), m_tree);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    m_tree->addAction(copy);
    m_tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, [this] {
        const QString text = selectedText();
        if (!text.isEmpty())
            QGuiApplication::clipboard()->setText(text);
    });

    auto *buttons = new QHBoxLayout;
    auto *hint = new QLabel(QStringLiteral("双击一位客户或按回车即在主窗口中打开；Ctrl+C 复制选中的行。"), this);
    buttons->addWidget(hint);
    buttons->addStretch();
    auto *refreshButton = new QPushButton(QStringLiteral("刷新"), this);
    auto *closeButton = new QPushButton(QStringLiteral("关闭"), this);
    // Enter belongs to the list (it opens a customer), never to a button.
    refreshButton->setAutoDefault(false);
    closeButton->setAutoDefault(false);
    buttons->addWidget(refreshButton);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
    connect(refreshButton, &QPushButton::clicked, this, &DuplicatesWindow::refresh);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
}

void DuplicatesWindow::refresh()
{
    const std::vector<exchange::IdentifiedCustomer> customers = exchange::loadCustomers(m_database);
    QHash<qint64, const exchange::CustomerRecord *> byId;
    for (const exchange::IdentifiedCustomer &customer : customers)
        byId.insert(customer.id, &customer.record);
    const std::vector<std::vector<qint64>> groups = exchange::duplicateGroups(customers);

    m_tree->clear();
    int members = 0;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        auto *group = new QTreeWidgetItem(m_tree);
        group->setText(0, QStringLiteral("第 %1 组（%2 位客户）").arg(g + 1).arg(groups[g].size()));
        group->setFirstColumnSpanned(true);
        for (const qint64 id : groups[g]) {
            auto *item = new QTreeWidgetItem(group);
            const exchange::CustomerRecord &record = *byId.value(id);
            for (int c = 0; c < int(std::size(kShownFields)); ++c)
                item->setText(c, record[kShownFields[c]].simplified());
            item->setData(0, kIdRole, id);
            ++members;
        }
        group->setExpanded(true);
    }
    for (int c = 0; c < m_tree->columnCount(); ++c)
        m_tree->resizeColumnToContents(c);
    m_summary->setText(groups.empty()
                           ? QStringLiteral("没有找到可能重复的客户。")
                           : QStringLiteral("找到 %1 组可能重复的客户，共 %2 位（手机相同，或客户简称和姓名都相同）。")
                                 .arg(groups.size())
                                 .arg(members));
}

int DuplicatesWindow::groupCount() const
{
    return m_tree->topLevelItemCount();
}

QList<qint64> DuplicatesWindow::groupMembers(int group) const
{
    QList<qint64> ids;
    if (const QTreeWidgetItem *item = m_tree->topLevelItem(group))
        for (int k = 0; k < item->childCount(); ++k)
            ids.append(item->child(k)->data(0, kIdRole).toLongLong());
    return ids;
}

void DuplicatesWindow::openMember(int group, int member)
{
    if (const QTreeWidgetItem *item = m_tree->topLevelItem(group))
        if (QTreeWidgetItem *child = item->child(member))
            emit m_tree->itemActivated(child, 0);
}

QString DuplicatesWindow::selectedText() const
{
    QStringList lines;
    for (int g = 0; g < m_tree->topLevelItemCount(); ++g) {
        const QTreeWidgetItem *group = m_tree->topLevelItem(g);
        if (group->isSelected())
            lines << group->text(0);
        for (int k = 0; k < group->childCount(); ++k) {
            const QTreeWidgetItem *member = group->child(k);
            if (!group->isSelected() && !member->isSelected())
                continue;
            QStringList cells;
            for (int c = 0; c < m_tree->columnCount(); ++c)
                cells << member->text(c);
            lines << cells.join(QLatin1Char('\t'));
        }
    }
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace lianbu::customers
