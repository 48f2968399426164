#include "app/MAIN.h"
#include "data/dm.h"
#include "ui_MAIN.h"

#include <QComboBox>
#include <QLineEdit>

// The quick search: every change of a search field reopens the list with the search statement.

void TMainForm::connectQuickSearch()
{
    connect(ui->Button2, &QPushButton::clicked, this, &TMainForm::Button2Click);
    connect(ui->Button12, &QPushButton::clicked, this, &TMainForm::Button12Click);
    // The category field searches when the operator types or picks an item; refilling its list
    // from "全部记录" is not a change by the operator and runs nothing.
    connect(ui->ComboBox2->lineEdit(), &QLineEdit::textEdited, this, &TMainForm::Button2Click);
    connect(ui->ComboBox2, &QComboBox::activated, this, &TMainForm::Button2Click);
    for (QLineEdit *edit : {ui->Edit23, ui->Edit25, ui->Edit29, ui->Edit2, ui->Edit1})
        connect(edit, &QLineEdit::textChanged, this, &TMainForm::Button2Click);
}

void TMainForm::Button2Click()
{
    // The fields go in as typed: blanks are searched for, not trimmed away.
    OpenStatement(dmfm->ADOQuery15,
                  lianbu::sql::search(ui->ComboBox2->currentText(), ui->Edit23->text(),
                                      ui->Edit29->text(), ui->Edit25->text(), ui->Edit2->text(),
                                      ui->Edit1->text()));
}

void TMainForm::Button12Click()
{
    FillComboDistinct(dmfm->ADOQuery1, QStringLiteral("a"), QStringLiteral("data"), ui->ComboBox2);
    OpenStatement(dmfm->ADOQuery15, lianbu::sql::allRecords());
    dmfm->ADOQuery15->last();
}
