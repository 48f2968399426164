#pragma once

#include "data/ChangeFeed.h"
#include "data/CustomerStore.h"
#include "data/FollowUpDates.h"
#include "data/Statements.h"
#include "db/DataSetModel.h"
#include "db/Query.h"

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace lianbu::db {
class BackgroundSearch;
}

namespace lianbu::data {

// The customer list: the ordered keys of the customers shown, their rows read by key a few
// screens at a time into a bounded cache, the sort of a title click, the result of a search, and
// the rows the program itself writes (added, changed, deleted through the store) followed one
// row at a time. The keyset behind it is its own: nothing else reads or moves it.
class CustomerListModel : public db::DataSetModel
{
    Q_OBJECT

public:
    CustomerListModel(db::Connection &connection, CustomerStore &store, QObject *parent = nullptr);
    ~CustomerListModel() override;

    // Runs the statement and shows its rows (one reset). The list of every record is kept, so
    // a later showAllKept() needs no statement.
    void showStatement(const QString &sql, const QVariantList &values = {});
    // Shows `keys`, the result of `statement` found elsewhere (a search on another connection),
    // in that order (one reset; the keys are moved in, not copied).
    void showResult(const sql::BoundStatement &statement, std::vector<qint64> keys);
    // Shows every record in key order without running a statement when it can: a sorted list of
    // every record goes back to its reading order, another list is replaced by the kept keys of
    // every record (with the program's own additions and deletions). Runs the statement when
    // nothing is kept.
    void showAllKept();
    // Lists every record. A long list does not hold up the window: its keys are read in key
    // order on a connection of their own in a worker thread, and the list shows them when they
    // are there (until then it shows what it showed); a short one is read at once. Either way
    // the list is one reset followed by everyRecordShown().
    void loadEveryRecord();
    // The operator is about to ask for every record (the login dialog is up): for a long
    // register the worker opens its connection and reads the keys once, so the first list does
    // not pay for a cold connection, statement and index. What it reads is dropped: the list is
    // read afresh when asked for, and asking interrupts this read. Nothing for a short register.
    void prepareEveryRecord();
    // Registers of more rows than this are read in the background (by their largest key).
    void setBackgroundLoadFrom(qint64 rows) { m_backgroundFrom = rows; }
    // True while the keys of loadEveryRecord() are being read in the background.
    bool loading() const { return m_loadTicket != 0; }
    // A newer list is coming (a search was typed): the keys being read are kept as the list of
    // every record when they arrive, but not shown.
    void overtakeLoad() { m_showLoad = false; }
    void close();

    // The kept result of the search with every field empty: every record with a 客户简称, in key
    // order, taken from the kept list of every record. Nullopt until a result of that search
    // taught the list which of every record it leaves out.
    std::optional<std::vector<qint64>> keptEmptySearchResult() const;
    // `keys`: the result of the search with every field empty as found now (key order). The kept
    // list of every record takes the records other programs added, and learns which records
    // that search leaves out.
    void keepEmptySearchResult(const std::vector<qint64> &keys);

    // What the list shows: its statement and bound values, its keys in the shown order.
    const QString &statement() const { return m_list.sql(); }
    const QVariantList &statementValues() const { return m_list.values(); }
    bool shows(const sql::BoundStatement &statement) const;
    const std::vector<qint64> &keys() const { return m_list.keys(); }

    // The customer shown in `row`: its key and every value as the list shows it (the values a
    // change or delete is checked against); key 0 for no row.
    CustomerRecord customerAt(int row) const;

    // Beside the fields, two columns of follow-up dates (最近跟进, 下次联系; data/FollowUpDates),
    // read a screen at a time, sorted like the others by a title click.
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    std::unique_ptr<db::RowReader> rowReader(int currentRow) const override;
    // Follow-ups of `customer` (0: of any) were written in this program: their dates are read again.
    void followUpsChanged(qint64 customer);

    // Writes found in the change feed (other instances, other writers, also this program's own):
    // each customer's row follows its state now, row by row, keeping the current record: a new
    // or changed customer that the list's statement selects is shown (a new one in its sorted
    // place), one it no longer selects or that is gone leaves, a changed one is read again. When
    // that would take long (many rows coming and going in a long list) nothing is applied and
    // listOutdated() asks for the list to be read again.
    void applyChanges(const std::vector<FeedEntry> &entries);
    // Up to this many distinct customers per batch are applied row by row.
    void setRowByRowLimit(int customers) { m_rowByRowLimit = customers; }

signals:
    // The keys of loadEveryRecord() arrived and the list shows them.
    void everyRecordShown();
    void loadFailed(const QString &message);
    // The background read of every record ended: shown, kept behind a newer list, failed or
    // dropped.
    void loadEnded();
    // The writes of others are too many to follow row by row (or were not all read): the list
    // wants to be read again.
    void listOutdated();

private:
    void loaded(quint64 ticket);
    // Whether every record is read in the background (the largest key is past the bound).
    bool readInBackground() const;
    db::BackgroundSearch &loader();
    void endLoad();
    void showKeys(const sql::BoundStatement &statement, std::vector<qint64> keys);
    // Inside a reset, before the list closes: the keys of every record it holds become the kept
    // ones instead of being freed.
    void keepEveryRecordFromList();
    // The list now holds every record: they are kept there, not copied.
    void everyRecordInList();
    // The kept keys of every record in key order (the list's own when it holds them in that
    // order); nullptr when none are kept.
    const std::vector<qint64> *everyRecordInKeyOrder(std::vector<qint64> &sorted) const;
    void customerAdded(qint64 key);
    void customerChanged(qint64 key);
    void customerRemoved(qint64 key);
    void keepEveryRecord(std::vector<qint64> keys);
    // Whether the empty search lists the stored customer `key` (it has a 客户简称).
    bool hasShortName(qint64 key) const;

    // The follow-up dates of the row (read with the rows around it when not yet known).
    const FollowUpDates &followUpDatesAt(int row) const;
    void followUpColumnsInit();

    CustomerStore &m_store;
    // The follow-up dates of the rows seen lately (a customer without any has empty dates).
    mutable std::unordered_map<qint64, FollowUpDates> m_followUpDates;
    db::Query m_list;
    // The keys of every record in key order, once the list of every record was shown (while the
    // list itself shows them they are its own keys, m_everyRecordInList); among them (sorted)
    // those the search with every field empty leaves out, once it is known.
    std::optional<std::vector<qint64>> m_allKeys;
    bool m_everyRecordInList = false;
    std::vector<qint64> m_notInEmptySearch;
    bool m_emptySearchKnown = false;
    // The worker reading the keys of every record (made at the first load, let go at close()).
    std::unique_ptr<db::BackgroundSearch> m_loader;
    quint64 m_loadTicket = 0; // the load running, 0 for none
    bool m_showLoad = false;  // its keys are shown when they come
    qint64 m_backgroundFrom = 20000;
    int m_rowByRowLimit = 1000;
    // The keys of `keys` the table holds now, and which of those the empty search lists.
    void readStates(const std::vector<qint64> &keys, std::vector<bool> &exists, std::vector<bool> &listed) const;
    // Which of `keys` the list's statement selects now; nullopt when it cannot say.
    std::optional<std::vector<bool>> readMatches(const std::vector<qint64> &keys) const;
    // Where a new row of `key` goes in the list's order; `keyOrder`: the list is in key order.
    int placeOf(qint64 key, bool keyOrder) const;
    // The kept keys of every record and those the empty search leaves out follow a write.
    void keepState(qint64 key, bool exists, bool listed);
};

} // namespace lianbu::data
