#include "data/Database.h"

#include "data/RegisterUpgrade.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

Database::Database(QObject *parent, const QString &fileName)
    : Database(lianbu::db::parseRegisterAddress(fileName), parent)
{}

Database::Database(const lianbu::db::RegisterAddress &address, QObject *parent)
    : QObject(parent)
    , connection(&m_connection)
    , statementQuery(&m_statementQuery)
    , customerStore(nullptr)
    , customerList(nullptr)
    , changeWatcher(nullptr)
{
    m_connection.setAddress(address);
    m_connection.setContentCheck(lianbu::deliveredSchemaProblem);
    // A large register's customers (with their search and sort indexes) are read for damage
    // beside the running program; the operators, sessions and attempts are read at once.
    m_connection.setLargeFileCheck(kWholeDamageCheckBytes, [](const QString &table) {
        return table.compare(QLatin1String("data"), Qt::CaseInsensitive) != 0
               && !table.startsWith(QLatin1String("data_"), Qt::CaseInsensitive);
    });
    m_connection.open();
    try {
        lianbu::checkDeliveredSchema(m_connection);
        // An older register is brought up to date once (its plain passwords hashed); a current
        // one is only read, so a server user with data rights only can work.
        lianbu::data::upgradeRegister(m_connection);
    } catch (...) {
        m_connection.close();
        throw;
    }
    m_statementQuery.setConnection(&m_connection);
    customerStore = new lianbu::data::CustomerStore(m_connection, this);
    customerList = new lianbu::data::CustomerListModel(m_connection, *customerStore, this);
    changeWatcher = new lianbu::data::ChangeWatcher(m_connection, this);
}

Database::~Database()
{
    delete changeWatcher; // its worker's connection goes first
    changeWatcher = nullptr;
    delete customerList; // before the connection it reads
    customerList = nullptr;
}

namespace {

bool requireText(QWidget *control, const QString &text, const QString &message)
{
    if (!trimInput(text).isEmpty())
        return true;
    lianbu::showWarning(message, control->window());
    control->setFocus();
    return false;
}

} // namespace

bool requireEditText(QLineEdit *edit, const QString &message)
{
    return requireText(edit, edit->text(), message);
}

bool requireComboText(QComboBox *comboBox, const QString &message)
{
    return requireText(comboBox, comboBox->currentText(), message);
}

void openDistinct(lianbu::db::Query *query, const QString &column, const QString &table, DistinctRead read)
{
    openStatement(query, read == DistinctRead::IndexSeek ? lianbu::sql::distinctValuesBySeek(column, table)
                                                         : lianbu::sql::distinctValues(column, table));
}

void openStatement(lianbu::db::Query *query, const QString &sql)
{
    query->close();
    query->setSql(sql);
    query->open();
}

void execStatement(lianbu::db::Query *query, const QString &sql)
{
    query->close();
    query->setSql(sql);
    query->execute();
}

void fillComboDistinct(lianbu::db::Query *query, const QString &column, const QString &table, QComboBox *comboBox,
                       DistinctRead read)
{
    // Refilling the list is no edit by the operator: no change signals.
    const QSignalBlocker blocker(comboBox);
    comboBox->clear();
    comboBox->setCurrentIndex(-1);
    if (comboBox->isEditable())
        comboBox->clearEditText();
    openDistinct(query, column, table, read);
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

QString trimInput(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}
