#pragma once

#include "data/Statements.h"
#include "db/BackgroundSearch.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace lianbu::db {
class Connection;
}
namespace lianbu::data {
class CustomerListModel;
}

namespace lianbu::customers {

// The six quick-search fields as typed (not trimmed).
struct SearchFields
{
    QString category;  // a
    QString shortName; // b
    QString phone;     // g
    QString name;      // c
    QString address;   // i
    QString company;   // j
    bool isEmpty() const;
};

// 客户简称 beginning with "跟进:" (or "跟进：") looks into the follow-ups instead: the customers
// whose follow-ups hold the text after it. Nullopt for any other text.
std::optional<QString> followUpSearchWord(const QString &shortName);

// Runs the quick search for the customer list without holding up the window: the rows are found
// on a connection of its own in a worker thread, a newer keystroke interrupts the search still
// running, and the list keeps showing the last result until the new one is there. The list keeps
// the result of the search with every field empty (beside its list of every record), so emptying
// the fields shows it at once; a search in the background checks it for changes by other
// programs.
class CustomerSearch : public QObject
{
    Q_OBJECT

public:
    // `connection`: the list's register (the search opens a connection of its own to it).
    CustomerSearch(data::CustomerListModel *list, db::Connection &connection, QObject *parent = nullptr);

    // The key of the customer the list's view shows as current (0 for none): a refreshed
    // result keeps that customer current.
    void setCurrentKeySource(std::function<qint64()> currentKey) { m_currentKey = std::move(currentKey); }

    void search(const SearchFields &fields);
    // True while a search whose result the list will show is running.
    bool busy() const { return m_worker.busy() && m_pending != Pending::Nothing; }
    // Drops a running search (the list is being reopened some other way).
    void cancel();
    // Finds the result of the search with every field empty in the background, without showing
    // it, so emptying the fields shows it at once.
    void prepareEmptySearch();

signals:
    // The list shows a new result; `keepKey` is the customer to keep current (0: the first row).
    void listReplaced(qint64 keepKey);
    void searchFailed(const QString &message);

private:
    enum class Pending { Nothing, Show, ShowIfChanged };
    void finished(quint64 ticket, const std::vector<qint64> &keys);
    void show(const sql::BoundStatement &statement, std::vector<qint64> keys, bool keepCurrent);

    data::CustomerListModel *m_list;
    db::Connection &m_connection;
    std::function<qint64()> m_currentKey;
    db::BackgroundSearch m_worker;
    Pending m_pending = Pending::Nothing;
    sql::BoundStatement m_pendingStatement;
    bool m_pendingIsEmpty = false;
    bool m_indexed = false; // the register has the trigram index
    bool m_extra = false;   // the register has the table of initials and mobile numbers
};

} // namespace lianbu::customers
