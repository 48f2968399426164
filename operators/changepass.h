#pragma once

#include <QDialog>

class QKeyEvent;

namespace Ui {
class Tchangepassfm;
}

// "更改密码": sets a new password for an operator chosen from the list, after the operator's
// current password has been given. Modeless; centres itself on the screen, shows itself when
// created and frees itself when closed, so every opening starts afresh.
class Tchangepassfm : public QDialog
{
    Q_OBJECT

public:
    explicit Tchangepassfm(QWidget *owner = nullptr);
    ~Tchangepassfm() override;

    Ui::Tchangepassfm *ui;

public slots:
    void FormShow();
    void ComboBox1Click();
    // Enter in the password edits (the key filter itself belongs to the password edit).
    void Edit1KeyPress();
    void Edit14KeyPress();
    void Edit15KeyPress();
    void bitbtn4Click();
    void BitBtn1Click();
    void FormClose();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_shown = false;
};

// The open password change window, nullptr when there is none.
extern Tchangepassfm *changepassfm;

namespace lianbu::operators {

// Text with leading and trailing characters of codes 0 to 32 removed (how values are read).
QString trimmedText(const QString &text);

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
