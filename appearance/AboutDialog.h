#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class AboutDialog;
}

// The about box: picture, product name, version, mail and web links and "确  定".
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

    Ui::AboutDialog *ui;

public slots:
    void openEmailLink();   // the mail link
    void openWebsiteLink(); // the web link

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
