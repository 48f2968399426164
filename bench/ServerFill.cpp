#include "bench/ServerFill.h"

#include "data/ChangeFeed.h"
#include "data/ChangeLog.h"
#include "data/SearchIndex.h"
#include "data/Statements.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "platform/Error.h"

#include <QSqlQuery>
#include <QStringList>

namespace lianbu::bench {

namespace {

// The triggers on data whose work is redone below, or that have none to do while rows are only
// added (the kept follow-up dates lose a customer on delete); any other one stops the fill.
const QStringList &knownTriggers()
{
    static const QStringList names{QStringLiteral("change_log_customer"), QStringLiteral("customer_changes_write"),
                                   QStringLiteral("customer_changes_update"), QStringLiteral("data_search_stale_mark"),
                                   QStringLiteral("followup_dates_customer_gone")};
    return names;
}

qint64 number(db::Connection &connection, const QString &sql)
{
    QSqlQuery query = db::runBound(connection, sql);
    return query.next() ? query.value(0).toLongLong() : 0;
}

// The register clock's text, as the triggers write it.
QString now()
{
    return QStringLiteral("to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS.MS')");
}

// The change log's 新增 entries of the new rows, in key order as the rows went in: the customer's
// non-empty columns by name, or a restore when the key is in the bin. (data's columns are single
// letters: the row's alias must not be one.)
QString changeLogEntries()
{
    return QStringLiteral(
               "insert into %1 (log_time, username, pc, kind, customer_key, subject, details) "
               "select %2, "
               "left(coalesce(nullif(current_setting('lianbu.operator', true), ''), %3 || session_user), 50), "
               "left(coalesce(nullif(current_setting('lianbu.pc', true), ''), host(inet_client_addr()), 'local'), "
               "100), "
               "case when restored then 'customer_restore' else 'customer_add' end, rid, left(coalesce(b, ''), 200), "
               "case when restored then '' else coalesce(fields::text, '') end "
               "from (select added.rid, added.b, exists (select 1 from customer_bin x where x.rid = added.rid) as "
               "restored, "
               "(select jsonb_agg(jsonb_build_object('f', e.key, 'o', NULL, 'n', e.value) order by e.key) "
               "from jsonb_each(to_jsonb(added) - 'rid') e where jsonb_typeof(e.value) <> 'null') as fields "
               "from data added join bulk_new n on n.rid = added.rid) r order by rid")
        .arg(QLatin1String(data::kChangeLogTable), now(), sql::sqlLiteral(data::unnamedSessionMarker()));
}

} // namespace

qint64 fillWithoutRowTriggers(db::Connection &connection, const QString &insert)
{
    const QString feed = QLatin1String(data::kChangeFeedTable);
    const qint64 kept = data::kChangeFeedLength;
    connection.execute(QStringLiteral("begin"));
    try {
        QSqlQuery triggers = db::runBound(
            connection,
            QStringLiteral("select tgname from pg_trigger where tgrelid = 'data'::regclass and not tgisinternal"));
        while (triggers.next())
            if (!knownTriggers().contains(triggers.value(0).toString()))
                throw Error(QStringLiteral("data has the trigger %1, whose work a fill without triggers would miss")
                                .arg(triggers.value(0).toString()));
        triggers.finish();
        connection.execute(QStringLiteral("alter table data disable trigger user"));
        connection.execute(QStringLiteral("create temp table bulk_new (rid bigint primary key) on commit drop"));
        connection.execute(
            QStringLiteral("with added as (%1 returning rid) insert into bulk_new select rid from added").arg(insert));
        const qint64 added = number(connection, QStringLiteral("select count(*) from bulk_new"));

        connection.execute(changeLogEntries());

        // The feed numbers every row; only the newest `kept` of them stay.
        if (added > kept)
            connection.execute(QStringLiteral("select setval(pg_get_serial_sequence('%1', 'seq'), "
                                              "nextval(pg_get_serial_sequence('%1', 'seq')) + %2)")
                                   .arg(feed)
                                   .arg(added - kept - 1));
        connection.execute(
            QStringLiteral("insert into %1 (customer_key, kind, change_time, username) select rid, 'added', %2, "
                           "left(nullif(current_setting('lianbu.operator', true), ''), 50) "
                           "from (select rid from bulk_new order by rid desc limit %3) r order by rid")
                .arg(feed, now())
                .arg(kept));
        connection.execute(
            QStringLiteral("delete from %1 where seq <= (select max(seq) from %1) - %2").arg(feed).arg(kept));
        if (added > 0)
            connection.execute(
                QStringLiteral("select pg_notify('%1', '')").arg(QLatin1String(data::kChangeFeedChannel)));

        // Without pg_trgm the register has no table of initials, nor its trigger.
        if (number(connection, QStringLiteral("select count(*) from pg_trigger where tgrelid = 'data'::regclass "
                                              "and tgname = 'data_search_stale_mark'"))
            > 0)
            connection.execute(QStringLiteral("insert into %1 select rid from bulk_new on conflict do nothing")
                                   .arg(QLatin1String(kSearchExtraStale)));

        connection.execute(QStringLiteral("alter table data enable trigger user"));
        connection.execute(QStringLiteral("commit"));
        return added;
    } catch (...) {
        QSqlQuery(connection.database()).exec(QStringLiteral("rollback"));
        throw;
    }
}

} // namespace lianbu::bench
