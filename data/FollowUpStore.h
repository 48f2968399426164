#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>
#include <vector>

namespace lianbu::db {
class Connection;
class Engine;
} // namespace lianbu::db

namespace lianbu::data {

// Persisted names: the follow-ups, the ways they can take and the operators who asked for no
// reminder at login.
inline constexpr char kFollowUpTable[] = "followups";
inline constexpr char kFollowUpWayTable[] = "followup_ways";
inline constexpr char kReminderOffTable[] = "followup_reminders_off";

// The widths the texts are cut to (the server enforces them).
inline constexpr int kFollowUpWayWidth = 20;
inline constexpr int kFollowUpContentWidth = 4000;
inline constexpr int kFollowUpResultWidth = 1000;

// The statements that create each table (with its indexes and, for the ways, the first list).
QStringList followUpTableStatements(const db::Engine &engine);
QStringList followUpWayStatements(const db::Engine &engine);
QStringList reminderOffStatements(const db::Engine &engine);

// The ways a new register starts with.
QStringList defaultFollowUpWays();

// What the operator types.
struct FollowUpFields
{
    QString way;
    QString content;
    QString result;
    QDate nextDate; // invalid: none
    bool operator==(const FollowUpFields &) const = default;
};

// One follow-up as it was read.
struct FollowUp
{
    qint64 id = 0;
    qint64 customer = 0;
    QDateTime time; // UTC, the register's clock when it was added
    QString operatorName;
    FollowUpFields fields;
    bool settled = false; // the next contact it promised was made (完成)
};

// A promise due today or earlier, with the customer it concerns.
struct DueFollowUp
{
    FollowUp followUp;
    QString customerName; // 客户简称
    QString contact;      // 联系人
    QString phone;        // 手机, else 电话
};

// Every read and write of follow-ups on the register's connection. Writes need Right::Edit
// (deleting Right::Delete), fill in the operator and the register's time themselves, are logged
// with the customer they concern, and change or delete a follow-up only while it holds what the
// operator saw. Follow-ups of a customer in the recycle bin are kept with it, hidden.
class FollowUpStore
{
public:
    enum class Outcome {
        Done,
        Changed, // someone changed it since it was read: nothing written
        Gone,    // it was deleted (or its customer was): nothing written
    };

    explicit FollowUpStore(db::Connection &connection, QString operatorName = {});

    // The customer's follow-ups, newest first.
    std::vector<FollowUp> ofCustomer(qint64 customer) const;
    std::optional<FollowUp> read(qint64 id) const;
    // Adds a follow-up of `customer` (which must be in the customer table) and gives its id.
    qint64 add(qint64 customer, const FollowUpFields &fields);
    Outcome modify(const FollowUp &asRead, const FollowUpFields &changes);
    Outcome remove(const FollowUp &asRead);
    // 完成: marks the promise of asRead kept and records the outcome as a new follow-up of the
    // same customer, both or neither. The new id in `added`.
    Outcome complete(const FollowUp &asRead, const FollowUpFields &outcome, qint64 *added = nullptr);
    // 改期: the promise moves to `date`.
    Outcome reschedule(const FollowUp &asRead, const QDate &date);

    // Unkept promises due on `today` or earlier, oldest due first, up to `limit` of them.
    std::vector<DueFollowUp> due(const QDate &today, int limit = kDueLimit) const;
    // The same for the ids the statement below listed (in another thread), in their order;
    // those no longer due enough to be read are left out.
    std::vector<DueFollowUp> dueOf(const std::vector<qint64> &ids) const;
    static constexpr int kDueLimit = 500;

    // The follow-ups of `customer` (0: of every customer) added on local dates from..to (invalid:
    // open), oldest first, for export; at most `limit`.
    std::vector<FollowUp> inRange(qint64 customer, const QDate &from, const QDate &to, int limit) const;

    // The ways offered, in their order; a super administrator may add one.
    QStringList ways() const;
    void addWay(const QString &way);

    // Whether `name` gets the reminder window at login.
    bool remindsAtLogin(const QString &name) const;
    void setRemindsAtLogin(const QString &name, bool remind);

    [[noreturn]] static void throwRefused(Outcome outcome);

private:
    // Inside the caller's transaction.
    qint64 insert(qint64 customer, const FollowUpFields &fields);

    db::Connection &m_connection;
    QString m_operator;
};

// The statement (and its values) that lists the ids of the promises due(), for a worker thread.
QString dueKeysStatement(bool server);
QVariantList dueKeysValues(const QDate &today, int limit = FollowUpStore::kDueLimit);

// The quick search's look into the follow-ups: `statement` (a search of table data, values bound,
// possibly ending in ORDER BY) keeps only the customers with a visible follow-up whose content or
// result holds `word` (cut to kFollowUpWordWidth characters).
void addFollowUpCondition(const db::Engine &engine, QString &text, QVariantList &values, const QString &word);
inline constexpr int kFollowUpWordWidth = 50;

// The server's log trigger on followups (see serverLogStatements): an add, a change (each field
// by its caption, as the store logs it) and a delete of a follow-up; hiding one with its customer,
// bringing it back, and removing hidden ones for good are the customer's entries.
QStringList serverFollowUpLogStatements();

// The recycle bin's share, run by the customer store inside its own transaction: a deleted
// customer's follow-ups are hidden with it, come back with it and go with it for good.
void hideFollowUpsOf(db::Connection &connection, qint64 customer);
void showFollowUpsOf(db::Connection &connection, qint64 customer);
void purgeFollowUpsOf(db::Connection &connection, qint64 customer); // 0: of every binned customer
// How many visible follow-ups the customer has (what 删除 tells the operator).
qint64 followUpCount(db::Connection &connection, qint64 customer);

} // namespace lianbu::data
