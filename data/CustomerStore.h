#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace lianbu::db {
class Connection;
class Engine;
} // namespace lianbu::db

namespace lianbu::data {

// One customer as it was read: its key and its stored values by column name.
struct CustomerRecord
{
    qint64 key = 0; // 0: none
    std::vector<std::pair<QString, std::optional<QString>>> values;

    // The value of `column` (any letter case); nullopt for null or a column not read.
    std::optional<QString> value(const QString &column) const;
    bool operator==(const CustomerRecord &) const = default;
};

// True when both hold the same values for the same columns (names in any letter case, any order).
bool sameStoredValues(const CustomerRecord &a, const CustomerRecord &b);

// A deleted customer as the recycle bin keeps it: whole, with its key, who deleted it and when.
struct BinEntry
{
    CustomerRecord record;
    QString deletedBy;
    QDateTime deletedAt; // UTC
    QString pc;
};

// The recycle bin's table (persisted name) and the statements that create it.
inline constexpr char kCustomerBinTable[] = "customer_bin";
QStringList customerBinStatements(const db::Engine &engine);

// Column name → value to write; nullopt writes NULL.
using CustomerValues = std::vector<std::pair<QString, std::optional<QString>>>;

// Every write of a customer (table data): add, change and delete, on the register's connection.
// A change or delete acts only while the customer still holds every value the operator saw (the
// values of the record given), so another operator's change is never overwritten and a customer
// changed meanwhile is never deleted. Values are always bound; text longer than its column is
// cut to the column's width. After each write the store says which customer it wrote, so the
// lists that show it follow row by row.
class CustomerStore : public QObject
{
    Q_OBJECT

public:
    explicit CustomerStore(db::Connection &connection, QObject *parent = nullptr);

    enum class Outcome {
        Done,
        Changed, // the customer no longer holds the values it was read with: nothing written
        Gone,    // there is no such customer (any more): nothing written
    };

    // The operator whose session writes from now on (empty: none, the program's tools). Every
    // write is refused (lianbu::Error with the operator's text) when he lacks the right to it:
    // adding and changing need Right::Edit, deleting Right::Delete.
    void setOperator(const QString &name);
    const QString &operatorName() const { return m_operator; }

    // The customer `key` as stored now; nullopt when there is none.
    std::optional<CustomerRecord> read(qint64 key) const;
    // Adds a customer with `values` (other columns null) and gives its key.
    qint64 add(const CustomerValues &values);
    // Writes `changes` into customer asRead.key while it holds asRead's values.
    Outcome modify(const CustomerRecord &asRead, const CustomerValues &changes);
    // Deletes customer asRead.key while it holds asRead's values: it leaves the customer table
    // (so lists, searches and exports never see it) for the recycle bin, whole, with its key.
    Outcome remove(const CustomerRecord &asRead);

    // The recycle bin, newest deletion first: `count` entries from the `skip`-th on.
    std::vector<BinEntry> binEntries(int count, int skip = 0) const;
    qint64 binCount() const;
    // Puts customer `key` back from the bin with the same key (needs Right::Edit); false when
    // the bin does not hold it.
    bool restore(qint64 key);
    // Removes customer `key` from the bin for good (needs Right::Delete); false when not there.
    bool purge(qint64 key);
    // Empties the bin (needs Right::Delete); the number of customers removed for good.
    qint64 emptyBin();

    // The stored columns of the customer table, in table order, and their declared widths in
    // characters (0: no limit). Read once from the register.
    const QStringList &columns() const;
    int columnWidth(const QString &column) const;

    // Throws lianbu::Error with the operator's text for a refused change or delete.
    [[noreturn]] static void throwModifyRefused(Outcome outcome);
    [[noreturn]] static void throwRemoveRefused(Outcome outcome);

signals:
    void customerAdded(qint64 key);
    void customerChanged(qint64 key);
    void customerRemoved(qint64 key);

private:
    void learnColumns() const;
    // The column's name as the table spells it; throws for a column the table lacks.
    QString tableColumn(const QString &column) const;
    bool exists(qint64 key) const;

    db::Connection &m_connection;
    QString m_operator;
    mutable QStringList m_columns;
    mutable std::vector<int> m_widths;
};

} // namespace lianbu::data
