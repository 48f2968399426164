#include "operators/OperatorRightsWindow.h"

#include "data/OperatorStore.h"
#include "platform/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lianbu::operators {

namespace {

constexpr data::Role kRoles[] = {data::Role::Administrator, data::Role::Clerk, data::Role::Viewer};

} // namespace

QString roleDescription(data::Role role)
{
    switch (role) {
    case data::Role::Administrator:
        return QStringLiteral("可以做超级管理员以外的一切操作，包括查看操作日志。");
    case data::Role::Clerk:
        return QStringLiteral("可以增加、修改和打印客户资料；删除、导入、导出、备份恢复需另外授权。");
    case data::Role::Viewer:
        return QStringLiteral("只能查询和浏览客户资料；其他操作需另外授权。");
    }
    return {};
}

OperatorRightsWindow::OperatorRightsWindow(db::Connection &connection, const QString &name, const QString &changedBy,
                                           QWidget *parent)
    : QDialog(parent)
    , m_connection(connection)
    , m_name(name)
    , m_changedBy(changedBy)
    , m_role(new QComboBox(this))
    , m_roleHint(new QLabel(this))
    , m_save(new QPushButton(QStringLiteral("保存"), this))
{
    setObjectName(QStringLiteral("operatorRightsWindow"));
    setWindowTitle(QStringLiteral("用户权限—") + name);
    setAttribute(Qt::WA_DeleteOnClose);
    m_role->setObjectName(QStringLiteral("roleBox"));
    for (data::Role role : kRoles)
        m_role->addItem(data::roleText(role), int(role));
    m_roleHint->setWordWrap(true);
    m_roleHint->setMinimumHeight(34);
    auto *grants = new QGridLayout;
    int index = 0;
    for (data::Right right : data::kGrantableRights) {
        auto *box = new QCheckBox(data::rightText(right), this);
        box->setObjectName(QStringLiteral("grantBox%1").arg(index));
        grants->addWidget(box, index / 3, index % 3);
        m_grants << box;
        ++index;
    }
    m_save->setObjectName(QStringLiteral("saveRightsButton"));
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    auto *roleRow = new QHBoxLayout;
    roleRow->addWidget(new QLabel(QStringLiteral("角色："), this));
    roleRow->addWidget(m_role, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_save);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(roleRow);
    layout->addWidget(m_roleHint);
    layout->addWidget(new QLabel(QStringLiteral("另外授予："), this));
    layout->addLayout(grants);
    layout->addLayout(buttons);
    resize(330, 190);

    connect(m_role, &QComboBox::currentIndexChanged, this, &OperatorRightsWindow::describeRole);
    connect(m_save, &QPushButton::clicked, this, &OperatorRightsWindow::save);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    showRights(data::rightsOf(m_connection, name));
}

QCheckBox *OperatorRightsWindow::grantBox(data::Right right) const
{
    int index = 0;
    for (data::Right grantable : data::kGrantableRights) {
        if (grantable == right)
            return m_grants.value(index);
        ++index;
    }
    return nullptr;
}

data::Rights OperatorRightsWindow::chosenRights() const
{
    data::Rights rights;
    rights.role = data::Role(m_role->currentData().toInt());
    int index = 0;
    for (data::Right right : data::kGrantableRights)
        if (m_grants.value(index++)->isChecked())
            rights.grants |= unsigned(right);
    return rights;
}

void OperatorRightsWindow::showRights(const data::Rights &rights)
{
    m_role->setCurrentIndex(m_role->findData(int(rights.role)));
    int index = 0;
    for (data::Right right : data::kGrantableRights)
        m_grants.value(index++)->setChecked(rights.grants & unsigned(right));
    describeRole();
}

void OperatorRightsWindow::describeRole()
{
    const data::Role role = data::Role(m_role->currentData().toInt());
    m_roleHint->setText(roleDescription(role));
    // A 管理员 may do all of these already: the boxes say so rather than offer nothing.
    for (QCheckBox *box : std::as_const(m_grants))
        box->setEnabled(role != data::Role::Administrator);
}

void OperatorRightsWindow::save()
{
    if (!data::OperatorStore(m_connection).setRights(m_name, chosenRights(), m_changedBy)) {
        showInformation(QStringLiteral("用户不存在！"), this);
        return;
    }
    showInformation(QStringLiteral("用户“%1”的权限已保存。").arg(m_name), this);
    close();
}

} // namespace lianbu::operators
