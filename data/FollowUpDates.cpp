#include "data/FollowUpDates.h"

#include "data/AttemptLog.h"
#include "data/FollowUpStore.h"
#include "db/Connection.h"
#include "db/Engine.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace lianbu::data {

namespace {

// The dates of customer `who` computed afresh from its visible follow-ups; none for a customer
// no longer in data, so the table holds only customers of the list and counts need no join.
QString datesOf(const db::Engine &engine, const QString &who)
{
    return QStringLiteral("select %1, max(contact_time), min(case when settled = 0 then next_date end) "
                          "from followups where customer = %1 and binned = 0 "
                          "having count(*) > 0 and exists (select 1 from data where %2 = %1)")
        .arg(who, engine.rowKey(QStringLiteral("data")));
}

QString table()
{
    return QLatin1String(kFollowUpDatesTable);
}

// The triggers that keep the table, on the follow-ups and on data (SQLite: one per event; the
// server: one function each).
QStringList keeperStatements(const db::Engine &engine)
{
    const QString key = engine.kind() == db::Engine::Kind::Sqlite ? QStringLiteral("rowid") : QStringLiteral("rid");
    if (engine.kind() == db::Engine::Kind::Sqlite) {
        const QString refresh = QStringLiteral("delete from %1 where customer = %2; insert into %1 (customer, "
                                               "last_time, next_date) %3;")
                                    .arg(table());
        auto of = [&](const QString &who) { return refresh.arg(who, datesOf(engine, who)); };
        return {
            QStringLiteral("CREATE TRIGGER %1_insert AFTER INSERT ON followups BEGIN %2 END")
                .arg(table(), of(QStringLiteral("new.customer"))),
            // A changed text leaves the dates as they are.
            QStringLiteral("CREATE TRIGGER %1_update AFTER UPDATE OF customer, contact_time, next_date, settled, "
                           "binned ON followups BEGIN %2 %3 END")
                .arg(table(), of(QStringLiteral("old.customer")), of(QStringLiteral("new.customer"))),
            QStringLiteral("CREATE TRIGGER %1_delete AFTER DELETE ON followups BEGIN %2 END")
                .arg(table(), of(QStringLiteral("old.customer"))),
            // A customer deleted by any writer (another program on the same file too) leaves. It
            // lives on data, so it outlasts this table when the table alone is made again.
            QStringLiteral("DROP TRIGGER IF EXISTS %1_customer_gone").arg(table()),
            QStringLiteral("CREATE TRIGGER %1_customer_gone AFTER DELETE ON data BEGIN "
                           "delete from %1 where customer = old.%2; END")
                .arg(table(), key),
        };
    }
    // Two operators writing follow-ups of one customer at once: the second waits for the first,
    // then reads its rows, so neither overwrites the other's dates with older ones.
    const QString refresh =
        QStringLiteral("perform pg_advisory_xact_lock(hashtext('%1:' || %2)); delete from %1 where customer = %2; "
                       "insert into %1 (customer, last_time, next_date) %3;")
            .arg(table());
    auto of = [&](const QString &who) { return refresh.arg(who, datesOf(engine, who)); };
    return {
        QStringLiteral("create or replace function %1_keep() returns trigger language plpgsql as $$ begin "
                       "if tg_op <> 'INSERT' then %2 end if; "
                       "if tg_op <> 'DELETE' and (tg_op = 'INSERT' or new.customer <> old.customer) then %3 end if; "
                       "return null; end $$")
            .arg(table(), of(QStringLiteral("old.customer")), of(QStringLiteral("new.customer"))),
        QStringLiteral("create trigger %1_keep after insert or delete or update of customer, contact_time, "
                       "next_date, settled, binned on followups for each row execute function %1_keep()")
            .arg(table()),
        QStringLiteral("create or replace function %1_customer_gone() returns trigger language plpgsql as $$ begin "
                       "delete from %1 where customer = old.%2; return null; end $$")
            .arg(table(), key),
        QStringLiteral("drop trigger if exists %1_customer_gone on data").arg(table()),
        QStringLiteral("create trigger %1_customer_gone after delete on data for each row execute function "
                       "%1_customer_gone()")
            .arg(table()),
    };
}

// The date texts as numbers that order the same (the texts have one fixed layout): digits only,
// padded to the same length; 0 for none.
template <typename Char>
qint64 dateNumber(const Char *text, qsizetype size)
{
    qint64 number = 0;
    int digits = 0;
    for (qsizetype i = 0; i < size && digits < 17; ++i) {
        const auto c = text[i];
        if (c >= '0' && c <= '9') {
            number = number * 10 + (c - '0');
            ++digits;
        }
    }
    for (; digits < 17; ++digits)
        number *= 10;
    return number;
}

qint64 dateNumberOf(const db::ResultRow &row, int column, QString *scratch)
{
    const unsigned char *bytes = nullptr;
    qsizetype size = 0;
    // The stored bytes where the engine has them: no text is made for a million rows.
    if (row.utf8(column, &bytes, &size))
        return dateNumber(bytes, size);
    const QStringView text = row.text(column, scratch);
    return dateNumber(text.utf16(), text.size());
}

QString customerList(size_t count)
{
    QString marks;
    marks.reserve(qsizetype(count) * 2);
    for (size_t i = 0; i < count; ++i)
        marks += i == 0 ? QStringLiteral("?") : QStringLiteral(",?");
    return marks;
}

} // namespace

QStringList followUpDateStatements(const db::Engine &engine)
{
    const QString create = engine.kind() == db::Engine::Kind::Sqlite
                               ? QStringLiteral("CREATE TABLE %1 (customer INTEGER PRIMARY KEY, last_time VARCHAR(30), "
                                                "next_date VARCHAR(10))")
                               : QStringLiteral("create table %1 (customer bigint primary key, last_time varchar(30), "
                                                "next_date varchar(10))");
    const QString fill = QStringLiteral("insert into %1 (customer, last_time, next_date) "
                                        "select customer, max(contact_time), min(case when settled = 0 then "
                                        "next_date end) from followups where binned = 0 and customer in "
                                        "(select %2 from data) group by customer")
                             .arg(table(), engine.rowKey(QStringLiteral("data")));
    return QStringList{create.arg(table()), fill} + keeperStatements(engine);
}

QStringList followUpDatesOnlyListedStatements(const db::Engine &engine)
{
    QStringList statements;
    if (engine.kind() == db::Engine::Kind::Sqlite) {
        for (const char *event : {"insert", "update", "delete"})
            statements << QStringLiteral("DROP TRIGGER IF EXISTS %1_%2").arg(table(), QLatin1String(event));
    } else {
        statements << QStringLiteral("drop trigger if exists %1_keep on followups").arg(table());
    }
    statements << keeperStatements(engine);
    statements << QStringLiteral("delete from %1 where customer not in (select %2 from data)")
                      .arg(table(), engine.rowKey(QStringLiteral("data")));
    return statements;
}

std::unordered_map<qint64, FollowUpDates> readFollowUpDates(db::Connection &connection, const std::vector<qint64> &keys)
{
    std::unordered_map<qint64, FollowUpDates> dates;
    const QSqlDatabase database = connection.database();
    const db::Engine &engine = db::engineOf(database);
    constexpr size_t kBatch = 500;
    QString scratch;
    for (size_t from = 0; from < keys.size(); from += kBatch) {
        const size_t count = std::min(kBatch, keys.size() - from);
        QVariantList values;
        values.reserve(qsizetype(count));
        for (size_t i = from; i < from + count; ++i)
            values << keys[i];
        engine.readResult(database,
                          QStringLiteral("select customer, last_time, next_date from %1 where customer in (%2)")
                              .arg(QLatin1String(kFollowUpDatesTable), customerList(count)),
                          values, [&](const db::ResultRow &row) {
                              FollowUpDates &found = dates[row.integer(0)];
                              if (!row.isNull(1))
                                  found.last = attemptTimeOf(row.text(1, &scratch).toString());
                              if (!row.isNull(2))
                                  found.next = QDate::fromString(row.text(2, &scratch).toString(), Qt::ISODate);
                          });
    }
    return dates;
}

std::vector<int> orderByFollowUpDate(db::Connection &connection, FollowUpDate date, bool descending,
                                     const std::vector<qint64> &keys)
{
    const size_t n = keys.size();
    std::vector<qint64> value(n, 0);
    qint64 low = std::numeric_limits<qint64>::max();
    qint64 high = 0;
    for (const qint64 key : keys)
        if (key > 0) {
            low = std::min(low, key);
            high = std::max(high, key);
        }
    if (high > 0) {
        const QString column = date == FollowUpDate::Last ? QStringLiteral("last_time") : QStringLiteral("next_date");
        const QString scan = QStringLiteral("select customer, %1 from %2 where %1 is not null and customer >= ? and "
                                            "customer <= ? order by customer")
                                 .arg(column, QLatin1String(kFollowUpDatesTable));
        const QSqlDatabase database = connection.database();
        const db::Engine &engine = db::engineOf(database);
        QString scratch;
        if (quint64(high - low) <= 4 * quint64(n) + 1024) {
            // Keys of a register are close together: the dates are put at their key's place in
            // one array and each row looks its own up, with no sort of the keys.
            std::vector<qint64> atKey(size_t(high - low) + 1, 0);
            engine.readResult(database, scan, {low, high}, [&](const db::ResultRow &row) {
                atKey[size_t(row.integer(0) - low)] = dateNumberOf(row, 1, &scratch);
            });
            for (size_t p = 0; p < n; ++p)
                if (keys[p] > 0)
                    value[p] = atKey[size_t(keys[p] - low)];
        } else {
            // Far apart: the positions in key order are matched against the table read in key order.
            std::vector<std::pair<qint64, int>> byKey(n);
            for (size_t p = 0; p < n; ++p)
                byKey[p] = {keys[p], int(p)};
            std::sort(byKey.begin(), byKey.end());
            size_t next = 0;
            engine.readResult(database, scan, {low, high}, [&](const db::ResultRow &row) {
                const qint64 customer = row.integer(0);
                while (next < n && byKey[next].first < customer)
                    ++next;
                const qint64 number = dateNumberOf(row, 1, &scratch);
                for (; next < n && byKey[next].first == customer; ++next)
                    value[size_t(byKey[next].second)] = number;
            });
        }
    }
    // No date (0) is the smallest value: first ascending, last descending. The position breaks
    // ties, so equal dates keep their order (a stable sort) at the speed of a plain one.
    std::vector<std::pair<qint64, int>> ranked(n);
    for (size_t p = 0; p < n; ++p)
        ranked[p] = {descending ? std::numeric_limits<qint64>::max() - value[p] : value[p], int(p)};
    value = {};
    std::sort(ranked.begin(), ranked.end());
    std::vector<int> order(n);
    for (size_t p = 0; p < n; ++p)
        order[p] = ranked[p].second;
    return order;
}

} // namespace lianbu::data
