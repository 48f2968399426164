#pragma once

// The ask window: a newer version was published; "yes" upgrades now, "later" declines.

#include <QDialog>

namespace Ui {
class UpgradeQuestionDialog;
}

namespace lianbu::upgrade {

class UpgradeQuestionDialog : public QDialog
{
    Q_OBJECT
public:
    // text: the question shown in messageLabel.
    explicit UpgradeQuestionDialog(const QString &text, QWidget *parent = nullptr);
    ~UpgradeQuestionDialog() override;

    Ui::UpgradeQuestionDialog *ui;

    // Fits the window's height to the text: messageLabel top + messageLabel height + bottom panel height.
    void fitToText();
    // Shows the window modally; true only when YesBtn closed it.
    bool ask();

public slots:
    void acceptUpgrade();
    void postpone();

protected:
    void showEvent(QShowEvent *event) override;
};

// The ask window's text: slot 23 with the application title and the message ("\n" + message
// + "\n", or nothing when the message is empty).
QString upgradeQuestionText(const QString &applicationTitle, const QString &message);

} // namespace lianbu::upgrade
