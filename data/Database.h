#pragma once

#include "data/ChangeWatcher.h"
#include "data/CustomerListModel.h"
#include "data/CustomerStore.h"
#include "data/Schema.h"
#include "data/Statements.h"
#include "db/Connection.h"
#include "db/Query.h"

#include <QObject>

class QComboBox;
class QLineEdit;

// The data module: the database connection and the datasets every window shares.
// Created once at start-up before the main window; creating it opens the register start-up chose
// (a missing, unreadable, locked or foreign file throws lianbu::Error naming the file, and no file
// is created). It lives until the program ends.
class Database : public QObject
{
    Q_OBJECT

public:
    // `fileName` is the database file; the program uses the bare name "data.db".
    explicit Database(QObject *parent = nullptr, const QString &fileName = QStringLiteral("data.db"));
    // The register at `address`: a file, or a database on a server.
    explicit Database(const lianbu::db::RegisterAddress &address, QObject *parent = nullptr);

    // A register file up to this size is read whole for damage when it opens (some 150,000
    // customers; a tenth of a second when cached); a larger one only in its small tables, the
    // rest beside the running program (wholeDamageCheckDeferred).
    static constexpr qint64 kWholeDamageCheckBytes = 64ll * 1024 * 1024;
    ~Database() override;

    lianbu::db::Connection *connection;
    lianbu::db::Query *statementQuery; // the shared statement query
    // Every write of a customer; the customer list follows it row by row.
    lianbu::data::CustomerStore *customerStore;
    lianbu::data::CustomerListModel *customerList; // the customer list the grid shows
    // What other instances write (started by the main window once the list is shown).
    lianbu::data::ChangeWatcher *changeWatcher;
    // The operator of the open session (empty while nobody is logged in): who changes passwords.
    QString sessionOperator;

private:
    lianbu::db::Connection m_connection;
    lianbu::db::Query m_statementQuery;
};

// A value read from an input control for storing or checking: leading and trailing characters
// with codes 0 to 32 removed.
QString trimInput(const QString &text);

// ---- the six data-access routines ---------------------------------------------------------

// True when the edit holds text other than characters 0..32; otherwise the warning box with
// `message`, focus to the edit, false.
bool requireEditText(QLineEdit *edit, const QString &message);
// The same for the text of a combo box.
bool requireComboText(QComboBox *comboBox, const QString &message);
// How the distinct values are read: every row, or one seek in the column's index per value.
enum class DistinctRead { Scan, IndexSeek };
// Opens sql::distinctValues (the distinct values of column in table, ascending) on the query.
void openDistinct(lianbu::db::Query *query, const QString &column, const QString &table,
                  DistinctRead read = DistinctRead::Scan);
// Closes the query, gives it the statement and opens it.
void openStatement(lianbu::db::Query *query, const QString &sql);
// Closes the query, gives it the statement and executes it; the query stays closed.
void execStatement(lianbu::db::Query *query, const QString &sql);
// Empties the combo box (text and items) and lists the distinct values of the column in it,
// null as one empty item; the query is left open on its last row.
void fillComboDistinct(lianbu::db::Query *query, const QString &column, const QString &table, QComboBox *comboBox,
                       DistinctRead read = DistinctRead::Scan);
