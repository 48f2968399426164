#pragma once

#include <QString>

class Database;
class QWidget;

namespace lianbu::operators {

// After a login with the default password: the operator is asked to choose his own password at
// once, in the password change window opened for him. Other operators may postpone; the super
// administrator may not (the window is modal, and leaving it unchanged ends the program).
void askForOwnPassword(Database &database, QWidget *owner, const QString &name);

} // namespace lianbu::operators
