#pragma once

#include "operators/LoginDialog.h"
#include "tests/support/MainWindowHarness.h"

#include <QStringList>

namespace lianbu::test {

// The main window, the login dialog and the data module over a fresh data.db, created in the
// program's order. The main window is shown; the dialog is not (tests show it themselves, or
// call form->setLoginDialog so the main window's activation shows it modally).
class LoginHarness : public MainWindowHarness
{
public:
    LoginHarness();

    LoginDialog *dialog = nullptr;

    void addOperator(const QString &name, const QString &password);
    // Rebuilds userdb without its unique name, as a register kept elsewhere may hold it.
    void allowDuplicateNames();
    // Rows of rz in id order: id, username, btime, jtime ("<null>" for null).
    QList<QStringList> sessions() const;
    // Shows the dialog modelessly and waits until it is active.
    void showDialog();
};

} // namespace lianbu::test
