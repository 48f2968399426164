#pragma once

#include <QString>
#include <QStringList>

namespace lianbu::db {
class Connection;
class Engine;
} // namespace lianbu::db

namespace lianbu::data {

// What an operator may do. The super administrator may do everything; every other operator has
// a role and, on top of it, single grants. Kept in the table operator_rights (one row per
// operator name); an operator without a row (added by an older program on a shared register)
// may only read and search until the super administrator gives him rights.
enum class Role {
    Administrator, // 管理员: everything but the administration of operators
    Clerk,         // 业务员: adds and changes customers, prints
    Viewer,        // 查询员: reads and searches
};

enum class Right : unsigned {
    Edit = 1u << 0,          // add and change customers
    Delete = 1u << 1,        // 删除 (and the recycle bin)
    Import = 1u << 2,        // 导入
    Export = 1u << 3,        // 导出
    Print = 1u << 4,         // 打印
    BackupRestore = 1u << 5, // 备份恢复
    ViewLog = 1u << 6,       // 操作日志
    ManageOperators = 1u << 7,
};

// The rights that can be granted one by one, in the order 用户管理 shows them.
inline constexpr Right kGrantableRights[] = {Right::Delete, Right::Import, Right::Export, Right::Print,
                                             Right::BackupRestore};

struct Rights
{
    Role role = Role::Viewer;
    unsigned grants = 0; // bits of kGrantableRights
    bool superAdministrator = false;

    bool allows(Right right) const;
    bool operator==(const Rights &) const = default;
};

// What every operator could do before rights existed: everything but administering operators.
Rights formerRights();
// What a new operator gets.
Rights newOperatorRights();

QString roleText(Role role);    // 管理员, 业务员, 查询员
QString rightText(Right right); // 删除, 导入, ...
// The reason, in Chinese, that an operator lacking `right` is given (tooltips and refusals).
QString refusalText(Right right);

inline constexpr char kRightsTable[] = "operator_rights";
QString rightsTableStatement(const db::Engine &engine);

// For the server's log triggers: SQL functions change_log_role_text(role) and
// change_log_grants_text(grants) that turn the stored words of a row of operator_rights into what
// roleText and rightText say (an operator without a row reads as 查询员 with no grants).
QStringList serverRightsTextStatements();

// The rights of `name` as stored now.
Rights rightsOf(db::Connection &connection, const QString &name);
// Stores the role and grants of `name` (never of the super administrator: throws).
void storeRights(db::Connection &connection, const QString &name, const Rights &rights);
void forgetRights(db::Connection &connection, const QString &name);

// Throws lianbu::Error with refusalText when `operatorName` lacks `right`. An empty name is the
// program's own tools and tests with no session open: nothing is refused.
void requireRight(db::Connection &connection, const QString &operatorName, Right right);

} // namespace lianbu::data
