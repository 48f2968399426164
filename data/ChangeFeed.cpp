#include "data/ChangeFeed.h"

#include "data/ChangeLog.h"
#include "data/Schema.h"
#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"

#include <QSqlQuery>

namespace lianbu::data {

namespace {

QString table()
{
    return QLatin1String(kChangeFeedTable);
}

struct KindWord
{
    FeedKind kind;
    const char *word;
};
constexpr KindWord kKindWords[] = {
    {FeedKind::Added, "added"},
    {FeedKind::Changed, "changed"},
    {FeedKind::Deleted, "deleted"},
    {FeedKind::FollowUps, "followups"},
};

QString wordOf(FeedKind kind)
{
    for (const KindWord &word : kKindWords)
        if (word.kind == kind)
            return QLatin1String(word.word);
    return {};
}

// The customer's own columns, as a list and as the test that one of them really changed.
QString customerColumns()
{
    QStringList names;
    for (const DataColumn &column : kDataColumns)
        names << QLatin1String(column.name);
    return names.join(QLatin1Char(','));
}

QString changedTest(const QString &distinct)
{
    QStringList terms;
    for (const DataColumn &column : kDataColumns)
        terms << QStringLiteral("OLD.%1 %2 NEW.%1").arg(QLatin1String(column.name), distinct);
    return terms.join(QStringLiteral(" OR "));
}

// On SQLite: the entry, then the numbers too far behind go (one seek of the key's index).
QString sqliteEntry(const QString &customer, FeedKind kind)
{
    return QStringLiteral("INSERT INTO %1 (customer_key,kind,change_time) VALUES (%2,'%3',"
                          "strftime('%Y-%m-%d %H:%M:%f','now')); "
                          "DELETE FROM %1 WHERE seq <= (SELECT max(seq) FROM %1) - %4;")
        .arg(table(), customer, wordOf(kind))
        .arg(kChangeFeedLength);
}

} // namespace

QStringList changeFeedStatements(const db::Engine &engine)
{
    QStringList statements{
        QStringLiteral("CREATE TABLE %1 (seq %2, customer_key BIGINT, kind VARCHAR(10), change_time VARCHAR(30), "
                       "username VARCHAR(50))")
            .arg(table(), engine.growingKeyType()),
    };
    if (engine.kind() != db::Engine::Kind::Sqlite)
        return statements;
    statements << QStringLiteral("CREATE TRIGGER %1_added AFTER INSERT ON data BEGIN %2 END")
                      .arg(table(), sqliteEntry(QStringLiteral("NEW.rowid"), FeedKind::Added))
               << QStringLiteral("CREATE TRIGGER %1_changed AFTER UPDATE OF %2 ON data WHEN %3 BEGIN %4 END")
                      .arg(table(), customerColumns(), changedTest(QStringLiteral("IS NOT")),
                           sqliteEntry(QStringLiteral("NEW.rowid"), FeedKind::Changed))
               << QStringLiteral("CREATE TRIGGER %1_deleted AFTER DELETE ON data BEGIN %2 END")
                      .arg(table(), sqliteEntry(QStringLiteral("OLD.rowid"), FeedKind::Deleted))
               << QStringLiteral("CREATE TRIGGER %1_followup_added AFTER INSERT ON followups BEGIN %2 END")
                      .arg(table(), sqliteEntry(QStringLiteral("NEW.customer"), FeedKind::FollowUps))
               << QStringLiteral("CREATE TRIGGER %1_followup_changed AFTER UPDATE ON followups BEGIN %2 END")
                      .arg(table(), sqliteEntry(QStringLiteral("NEW.customer"), FeedKind::FollowUps))
               << QStringLiteral("CREATE TRIGGER %1_followup_deleted AFTER DELETE ON followups BEGIN %2 END")
                      .arg(table(), sqliteEntry(QStringLiteral("OLD.customer"), FeedKind::FollowUps))
               // On data.db the program writes the change log after the rows of one write, in the
               // same transaction: its operator goes to the entries those rows just made (a delete
               // also moves the customer's follow-ups to the bin).
               << QStringLiteral("CREATE TRIGGER %1_operator AFTER INSERT ON %2 WHEN NEW.customer_key > 0 BEGIN "
                                 "UPDATE %1 SET username = NEW.username WHERE seq > (SELECT max(seq) FROM %1) - 8 "
                                 "AND customer_key = NEW.customer_key AND username IS NULL; END")
                      .arg(table(), QLatin1String(kChangeLogTable));
    return statements;
}

QStringList serverChangeFeedStatements()
{
    return {
        QStringLiteral(R"(CREATE OR REPLACE FUNCTION customer_changes_write() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = public, pg_temp AS $body$
DECLARE
  what text;
  customer bigint;
  newest bigint;
  trimmed bigint;
BEGIN
  IF TG_TABLE_NAME = 'followups' THEN
    what := 'followups';
    IF TG_OP = 'DELETE' THEN customer := OLD.customer; ELSE customer := NEW.customer; END IF;
  ELSIF TG_OP = 'INSERT' THEN
    what := 'added'; customer := NEW.rid;
  ELSIF TG_OP = 'UPDATE' THEN
    what := 'changed'; customer := NEW.rid;
  ELSE
    what := 'deleted'; customer := OLD.rid;
  END IF;
  INSERT INTO customer_changes (customer_key, kind, change_time, username)
  VALUES (customer, what, to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS.MS'),
          left(nullif(current_setting('lianbu.operator', true), ''), 50))
  RETURNING seq INTO newest;
  -- The rows this transaction trimmed stay in the index until it ends: a trim from the start on
  -- every write of a large import would wade through all of them again. It starts where its last
  -- trim ended; rows a concurrent writer committed below that go at the next transaction's trim.
  trimmed := coalesce(nullif(current_setting('lianbu.feed_trimmed', true), '')::bigint, 0);
  IF newest - %1 > trimmed THEN
    DELETE FROM customer_changes WHERE seq > trimmed AND seq <= newest - %1;
    PERFORM set_config('lianbu.feed_trimmed', (newest - %1)::text, true);
  END IF;
  PERFORM pg_notify('%2', '');
  RETURN NULL;
END $body$)")
            .arg(kChangeFeedLength)
            .arg(QLatin1String(kChangeFeedChannel)),
        QStringLiteral("DROP TRIGGER IF EXISTS customer_changes_write ON data"),
        QStringLiteral("CREATE TRIGGER customer_changes_write AFTER INSERT OR DELETE ON data "
                       "FOR EACH ROW EXECUTE FUNCTION customer_changes_write()"),
        QStringLiteral("DROP TRIGGER IF EXISTS customer_changes_update ON data"),
        QStringLiteral("CREATE TRIGGER customer_changes_update AFTER UPDATE OF %1 ON data FOR EACH ROW "
                       "WHEN (%2) EXECUTE FUNCTION customer_changes_write()")
            .arg(customerColumns(), changedTest(QStringLiteral("IS DISTINCT FROM"))),
        QStringLiteral("DROP TRIGGER IF EXISTS customer_changes_followups ON followups"),
        QStringLiteral("CREATE TRIGGER customer_changes_followups AFTER INSERT OR UPDATE OR DELETE ON followups "
                       "FOR EACH ROW EXECUTE FUNCTION customer_changes_write()"),
    };
}

qint64 newestChange(db::Connection &connection)
{
    QSqlQuery query = db::runBound(connection, QStringLiteral("select max(seq) from %1").arg(table()));
    return query.next() ? query.value(0).toLongLong() : 0;
}

FeedRead readChanges(db::Connection &connection, qint64 after, int limit)
{
    FeedRead read;
    read.newest = after;
    QSqlQuery oldest = db::runBound(connection, QStringLiteral("select min(seq) from %1").arg(table()));
    if (oldest.next() && !oldest.value(0).isNull() && oldest.value(0).toLongLong() > after + 1)
        read.fellBehind = true;
    oldest.finish();
    QSqlQuery query = db::runBound(connection,
                                   QStringLiteral("select seq,customer_key,kind,change_time,username from %1 "
                                                  "where seq > ? order by seq limit ?")
                                       .arg(table()),
                                   {after, limit + 1});
    while (query.next()) {
        FeedEntry entry;
        entry.number = query.value(0).toLongLong();
        entry.customer = query.value(1).toLongLong();
        const QString word = query.value(2).toString();
        for (const KindWord &kind : kKindWords)
            if (word == QLatin1String(kind.word))
                entry.kind = kind.kind;
        entry.time = query.value(3).toString();
        entry.operatorName = query.value(4).toString();
        read.entries.push_back(std::move(entry));
    }
    if (read.entries.size() > size_t(limit)) {
        read.entries.pop_back();
        read.fellBehind = true;
    }
    if (!read.entries.empty())
        read.newest = read.entries.back().number;
    return read;
}

} // namespace lianbu::data
