#pragma once

class Database;
class QWidget;

// The commands of "设 置" that open the operator windows: an open one is brought forward,
// otherwise one is made over the register, owned by `owner`.
namespace lianbu::operators {

void openChangePassword(Database &database, QWidget *owner); // 修改密码
void openOperatorAdmin(Database &database, QWidget *owner);  // 用户管理

} // namespace lianbu::operators
