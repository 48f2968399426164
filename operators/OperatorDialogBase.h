#pragma once

#include <QDialog>
#include <QSize>

class QKeyEvent;
class Database;
class QWidget;

// What the password change and the operator administration windows share: the frame and size,
// centring when first shown, Escape and Enter handling, and closing (the shared statement query
// is closed and the focus goes back to the owner). Subclasses fill onFirstShow.
class OperatorDialogBase : public QDialog
{
    Q_OBJECT

public:
    OperatorDialogBase(Database &database, QWidget *owner, const QSize &clientSize);

public slots:
    virtual void onFirstShow() {}
    // Closes the shared statement query, which the window used.
    virtual void endSession();

protected:
    Database &m_database;

    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_shown = false;
};

namespace lianbu::operators {

// What the two operator windows share: fixed single border with only the close box, the given
// client size, 宋体 9 pt, freed when closed.
void prepareOperatorWindow(QWidget *window, const QSize &clientSize);
// Centres a window on its screen's available area.
void centreOnScreen(QWidget *window);
// Keys the operator windows take from the dialog's own handling: Escape does not close them,
// and Enter that no control used presses nothing (there is no default button; in the edits
// Enter moves the focus). True when the key was taken.
bool operatorWindowKeepsKey(QKeyEvent *event);
// Enter on a focused push button of `window` presses it, as a click would.
void pressButtonsOnEnter(QWidget *window);
// A window that closes while it has the focus gives it back to the window that owns it, on
// every desktop (not all of them do it by themselves).
void handFocusToOwner(QWidget *window);

} // namespace lianbu::operators
