#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>

class QKeyEvent;
class Database;

namespace Ui {
class LoginDialog;
}

namespace lianbu::db {
class Query;
}
namespace lianbu::operators {

class PasswordGate;

} // namespace lianbu::operators

// The login dialog: picks the operator, checks the password against
// userdb and opens the session; closing it any other way closes the main window, which ends
// the program. Created once at start-up, shown modally by the main window while no session is
// open.
class LoginDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LoginDialog(Database &database, QWidget *parent = nullptr);
    ~LoginDialog() override;

    bool loggedIn() const { return m_loggedIn; }

    // Closing runs endSession first; when endSession fails (the session row could not be
    // written) the error is shown and the dialog stays open, so the operator can try again.
    void done(int result) override;

public slots:
    void onFirstShow();
    void writeDesktopShortcut(); // writes the desktop shortcut
    void operatorChosen();       // an entry of the name box was chosen
    void tryLogin();             // 确定
    void quit();                 // 退出
    void endSession();

public:
    // Key handlers; true when the key was handled here and goes no further.
    bool operatorComboKey(QKeyEvent *event);
    bool passwordKey(QKeyEvent *event);

    // The password check with its attempt limit (made when first needed).
    lianbu::operators::PasswordGate *passwordGate();
signals:
    // The password was right; the session row is written when the dialog closes.
    void passwordAccepted();
    // The session row exists: the main window may show the operator and keep the id.
    void sessionOpened(const QString &operatorName, int sessionId);
    // Closed without logging in: the program ends.
    void loginAbandoned();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Ui::LoginDialog *ui;
    Database &m_database;
    bool m_loggedIn = false;
    lianbu::operators::PasswordGate *m_gate = nullptr;
    // The operator logged in with the default password: asked to choose his own at once.
    bool m_usedDefaultPassword = false;
};
