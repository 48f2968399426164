#include "data/dm.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

Tdmfm *dmfm = nullptr;

Tdmfm::Tdmfm(QObject *parent, const QString &fileName)
    : QObject(parent)
    , ADOConnection1(&m_connection)
    , ADOQuery1(&m_query1)
    , ADOQuery15(&m_query15)
    , DataSource15(nullptr)
    , ADOTable5(&m_table5)
{
    m_connection.setFileName(fileName);
    m_connection.open();
    try {
        lianbu::checkDeliveredSchema(m_connection);
    } catch (...) {
        m_connection.close();
        throw;
    }
    m_query1.setConnection(&m_connection);
    m_query15.setConnection(&m_connection);
    m_query15.setSql(QStringLiteral("select * from data"));
    m_table5.setConnection(&m_connection);
    m_table5.setTableName(QStringLiteral("data"));
    DataSource15 = new lianbu::db::DataSource(this);
    DataSource15->setDataSet(&m_query15);
    dmfm = this;
}

Tdmfm::~Tdmfm()
{
    if (dmfm == this)
        dmfm = nullptr;
    delete DataSource15; // before the datasets it watches
    DataSource15 = nullptr;
}

namespace {

bool requireText(QWidget *control, const QString &text, const QString &message)
{
    if (!TrimInput(text).isEmpty())
        return true;
    lianbu::showWarning(message, control->window());
    control->setFocus();
    return false;
}

} // namespace

bool RequireEditText(QLineEdit *edit, const QString &message)
{
    return requireText(edit, edit->text(), message);
}

bool RequireComboText(QComboBox *comboBox, const QString &message)
{
    return requireText(comboBox, comboBox->currentText(), message);
}

void OpenDistinct(lianbu::db::Query *query, const QString &column, const QString &table)
{
    OpenStatement(query, lianbu::sql::distinctValues(column, table));
}

void OpenStatement(lianbu::db::Query *query, const QString &sql)
{
    query->close();
    query->setSql(sql);
    query->open();
}

void ExecStatement(lianbu::db::Query *query, const QString &sql)
{
    query->close();
    query->setSql(sql);
    query->execute();
}

void FillComboDistinct(lianbu::db::Query *query, const QString &column, const QString &table,
                       QComboBox *comboBox)
{
    // Refilling the list is no edit by the operator: no change signals.
    const QSignalBlocker blocker(comboBox);
    comboBox->clear();
    comboBox->setCurrentIndex(-1);
    if (comboBox->isEditable())
        comboBox->clearEditText();
    OpenDistinct(query, column, table);
    const int n = query->recordCount();
    lianbu::db::Field &field = query->fieldByName(column);
    for (int i = 0; i < n; ++i) {
        comboBox->addItem(field.asString());
        query->next();
    }
    // Adding the first item selects it; the text stays empty as it was emptied above.
    comboBox->setCurrentIndex(-1);
    if (comboBox->isEditable())
        comboBox->clearEditText();
}

QString TrimInput(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}
