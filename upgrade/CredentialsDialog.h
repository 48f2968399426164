#pragma once

// The password window: a remote file is password protected; the user types a user name and a
// password, or cancels the upgrade.

#include <QDialog>

namespace Ui {
class CredentialsDialog;
}

namespace lianbu::upgrade {

class CredentialsDialog : public QDialog
{
    Q_OBJECT
public:
    // fileName: the protected file, named in promptLabel; realm: the server's name for the protected
    // area, shown under it; userName: the edit's first text. Both texts come from the server and
    // are shown as plain text, never as markup.
    CredentialsDialog(const QString &fileName, const QString &userName, QWidget *parent = nullptr,
                      const QString &realm = QString());
    ~CredentialsDialog() override;

    Ui::CredentialsDialog *ui;

    // promptLabel top + promptLabel height + bottom panel height.
    void fitToText();
    QString userName() const;
    QString password() const;

protected:
    void showEvent(QShowEvent *event) override;
};

} // namespace lianbu::upgrade
