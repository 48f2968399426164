#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class TAboutBox;
}

// The about box: picture, product name, version, mail and web links and "确  定".
class TAboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutBox(QWidget *parent = nullptr);
    ~TAboutBox() override;

    Ui::TAboutBox *ui;

public slots:
    void Label2Click(); // the mail link
    void Label4Click(); // the web link
    void OKButtonClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
