#include "data/SearchIndex.h"

#include "data/PinyinInitials.h"
#include "data/Schema.h"
#include "data/Statements.h"
#include "db/SortKeys.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/EngineMessage.h"
#include "platform/Error.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <vector>

namespace lianbu {

namespace {

const char *const kSearchedColumns[] = {"a", "b", "g", "c", "i", "j"};

QString columnList(const char *prefix)
{
    QStringList names;
    for (const char *column : kSearchedColumns)
        names << QLatin1String(prefix) + QLatin1String(column);
    return names.join(QLatin1Char(','));
}

QStringList triggerStatements()
{
    const QString index = QLatin1String(kSearchIndexTable);
    const QString remove = QStringLiteral("INSERT INTO %1(%1,rowid,%2) VALUES('delete',old.rowid,%3);")
                               .arg(index, columnList(""), columnList("old."));
    const QString add =
        QStringLiteral("INSERT INTO %1(rowid,%2) VALUES(new.rowid,%3);").arg(index, columnList(""), columnList("new."));
    return {
        QStringLiteral("CREATE TRIGGER %1_insert AFTER INSERT ON data BEGIN %2 END").arg(index, add),
        QStringLiteral("CREATE TRIGGER %1_delete AFTER DELETE ON data BEGIN %2 END").arg(index, remove),
        // Only a change of a searched column touches the index.
        QStringLiteral("CREATE TRIGGER %1_update AFTER UPDATE OF %2 ON data BEGIN %3 %4 END")
            .arg(index, columnList(""), remove, add),
    };
}

QString createIndexTable()
{
    // External content: the texts are read from data, the index holds only trigrams.
    return QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(%2, content='data', tokenize='trigram')")
        .arg(QLatin1String(kSearchIndexTable), columnList(""));
}

void run(QSqlQuery &query, const QString &statement)
{
    if (!query.exec(statement))
        throw Error(db::detail::engineMessage(query.lastError()));
}

} // namespace

QStringList sortKeyColumns()
{
    QStringList columns;
    for (const DataColumn &column : kDataColumns)
        columns << QLatin1String(column.name);
    return columns;
}

namespace {

QStringList trigramIndexStatements()
{
    QStringList statements{createIndexTable()};
    statements << triggerStatements();
    // The category list ("全部记录") is read in index order instead of sorting every row.
    statements << QStringLiteral("CREATE INDEX %1 ON data (a)").arg(QLatin1String(kCategoryIndex));
    return statements;
}

} // namespace

QStringList searchIndexStatements()
{
    return trigramIndexStatements() + db::sortKeyStatements(QStringLiteral("data"), sortKeyColumns())
           + searchExtraStatements(db::sqliteEngine());
}

QStringList searchStaleTriggerStatements()
{
    const QString stale = QLatin1String(kSearchExtraStale);
    // No conflict clause of its own: a writer's (UPDATE OR FAIL ...) would replace it inside the
    // trigger and make a second write of a listed row fail.
    const QString mark =
        QStringLiteral("INSERT INTO %1 (rid) SELECT %2.rowid WHERE NOT EXISTS (SELECT 1 FROM %1 WHERE rid=%2.rowid);")
            .arg(stale);
    return {
        QStringLiteral("CREATE TRIGGER %1_insert AFTER INSERT ON data BEGIN %2 END").arg(stale, mark.arg(u"new")),
        QStringLiteral("CREATE TRIGGER %1_update AFTER UPDATE OF b, c, f ON data BEGIN %2 %3 END")
            .arg(stale, mark.arg(u"old"), mark.arg(u"new")),
        QStringLiteral("CREATE TRIGGER %1_delete AFTER DELETE ON data BEGIN %2 END").arg(stale, mark.arg(u"old")),
    };
}

QStringList searchExtraStatements(const db::Engine &engine)
{
    const QString table = QLatin1String(kSearchExtraTable);
    const QString stale = QLatin1String(kSearchExtraStale);
    if (engine.kind() == db::Engine::Kind::Sqlite)
        return QStringList{
                   QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(b, c, f, tokenize='trigram')").arg(table),
                   QStringLiteral("CREATE TABLE %1 (rid INTEGER PRIMARY KEY)").arg(stale),
               }
               + searchStaleTriggerStatements();
    const QString mark = QStringLiteral("insert into %1 values (%2.rid) on conflict do nothing;").arg(stale);
    QStringList statements{
        QStringLiteral("create table %1 (rid integer primary key, b text, c text, f text)").arg(table),
        QStringLiteral("create table %1 (rid integer primary key)").arg(stale),
        QStringLiteral("create function %1_mark() returns trigger language plpgsql as $$ begin "
                       "if tg_op <> 'INSERT' then %2 end if; if tg_op <> 'DELETE' then %3 end if; "
                       "return null; end $$")
            .arg(stale, mark.arg(u"old"), mark.arg(u"new")),
        QStringLiteral("create trigger %1_mark after insert or delete or update of b, c, f on data "
                       "for each row execute function %1_mark()")
            .arg(stale),
    };
    for (const char *column : {"b", "c", "f"})
        statements << QStringLiteral("create index %1_%2_trgm on %1 using gin (%2 gin_trgm_ops)")
                          .arg(table, QLatin1String(column));
    return statements;
}

bool hasSearchExtra(db::Connection &connection)
{
    try {
        const QStringList tables = db::engineOf(connection.database()).tableNames(connection.database());
        return tables.contains(QLatin1String(kSearchExtraTable)) && tables.contains(QLatin1String(kSearchExtraStale));
    } catch (const Error &) {
        return false;
    }
}

namespace {

bool anyStale(QSqlDatabase database)
{
    QSqlQuery any(database);
    return any.exec(QStringLiteral("select 1 from %1 limit 1").arg(QLatin1String(kSearchExtraStale))) && any.next();
}

// Up to `limit` listed rows: their initials written again (or dropped with their customer).
qint64 refreshBatch(db::Connection &connection, int limit)
{
    QSqlDatabase database = connection.database();
    const db::Engine &engine = db::engineOf(database);
    const bool sqlite = engine.kind() == db::Engine::Kind::Sqlite;
    const QString key = engine.rowKey(QStringLiteral("data"));
    const QString extraKey = sqlite ? QStringLiteral("rowid") : QStringLiteral("rid");
    struct Row
    {
        qint64 rid;
        bool present;
        QString b, c, f;
    };
    std::vector<Row> rows;
    {
        QSqlQuery read(database);
        read.setForwardOnly(true);
        run(read, QStringLiteral("select s.rid, %1, data.b, data.c, data.f from %2 s left join data on %1 = s.rid "
                                 "order by s.rid limit %3")
                      .arg(key, QLatin1String(kSearchExtraStale))
                      .arg(limit));
        while (read.next())
            rows.push_back({read.value(0).toLongLong(), !read.value(1).isNull(), read.value(2).toString(),
                            read.value(3).toString(), read.value(4).toString()});
    }
    QSqlQuery drop(database), add(database), done(database);
    drop.prepare(QStringLiteral("delete from %1 where %2=?").arg(QLatin1String(kSearchExtraTable), extraKey));
    add.prepare(QStringLiteral("insert into %1 (%2, b, c, f) values (?, ?, ?, ?)")
                    .arg(QLatin1String(kSearchExtraTable), extraKey));
    done.prepare(QStringLiteral("delete from %1 where rid=?").arg(QLatin1String(kSearchExtraStale)));
    const auto exec = [](QSqlQuery &query) {
        if (!query.exec())
            throw Error(db::detail::engineMessage(query.lastError()));
    };
    for (const Row &row : rows) {
        drop.addBindValue(row.rid);
        exec(drop);
        if (row.present) {
            add.addBindValue(row.rid);
            add.addBindValue(pinyinInitials(row.b));
            add.addBindValue(pinyinInitials(row.c));
            add.addBindValue(row.f);
            exec(add);
        }
        done.addBindValue(row.rid);
        exec(done);
    }
    return qint64(rows.size());
}

QString beginWriting(const db::Engine &engine)
{
    return engine.kind() == db::Engine::Kind::Sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("begin");
}

} // namespace

void createSearchExtra(db::Connection &connection, const std::function<void(qint64, qint64)> &progress)
{
    QSqlDatabase database = connection.database();
    const db::Engine &engine = db::engineOf(database);
    QSqlQuery query(database);
    run(query, beginWriting(engine));
    try {
        for (const QString &statement : searchExtraStatements(engine))
            run(query, statement);
        run(query, QStringLiteral("insert into %1 select %2 from data")
                       .arg(QLatin1String(kSearchExtraStale), engine.rowKey(QStringLiteral("data"))));
        run(query, QStringLiteral("select count(*) from %1").arg(QLatin1String(kSearchExtraStale)));
        const qint64 total = query.next() ? query.value(0).toLongLong() : 0;
        query.finish();
        qint64 done = 0;
        for (qint64 n; (n = refreshBatch(connection, 5000)) > 0;) {
            done += n;
            if (progress)
                progress(done, total);
        }
        run(query, QStringLiteral("commit"));
    } catch (...) {
        query.exec(QStringLiteral("rollback"));
        throw;
    }
}

bool refreshSearchExtra(db::Connection &connection)
{
    QSqlDatabase database = connection.database();
    if (!anyStale(database))
        return true;
    QSqlQuery query(database);
    if (!query.exec(beginWriting(db::engineOf(database))))
        return false; // busy, read-only, or inside someone's transaction
    try {
        while (refreshBatch(connection, 5000) > 0) {
        }
        run(query, QStringLiteral("commit"));
    } catch (const Error &) {
        query.exec(QStringLiteral("rollback"));
        return false;
    }
    return true;
}

bool hasSearchIndex(db::Connection &connection)
{
    if (connection.isServer())
        return false;
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral("select count(*) from sqlite_master where name=?"));
    query.addBindValue(QLatin1String(kSearchIndexTable));
    return query.exec() && query.next() && query.value(0).toInt() == 1;
}

bool hasCategoryIndex(db::Connection &connection)
{
    if (connection.isServer())
        return false;
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral("select count(*) from sqlite_master where type='index' and name=?"));
    query.addBindValue(QLatin1String(kCategoryIndex));
    return query.exec() && query.next() && query.value(0).toInt() == 1;
}

void createSearchIndex(db::Connection &connection, const std::function<void(qint64, qint64)> &progress)
{
    QSqlQuery query(connection.database());
    run(query, QStringLiteral("BEGIN IMMEDIATE"));
    try {
        for (const QString &statement : trigramIndexStatements())
            run(query, statement);
        run(query, QStringLiteral("select min(rowid), max(rowid) from data"));
        query.next();
        const qint64 first = query.value(0).toLongLong();
        const qint64 last = query.value(1).toLongLong();
        query.finish();
        constexpr qint64 kStep = 20000;
        QSqlQuery fill(connection.database());
        fill.prepare(QStringLiteral("INSERT INTO %1(rowid,%2) SELECT rowid,%2 FROM data WHERE rowid>=? AND rowid<?")
                         .arg(QLatin1String(kSearchIndexTable), columnList("")));
        const qint64 total = last >= first ? last - first + 1 : 0;
        for (qint64 from = first; total > 0 && from <= last; from += kStep) {
            if (progress)
                progress(from - first, total);
            fill.addBindValue(from);
            fill.addBindValue(from + kStep);
            if (!fill.exec())
                throw Error(db::detail::engineMessage(fill.lastError()));
        }
        if (progress)
            progress(total, total);
        run(query, QStringLiteral("COMMIT"));
    } catch (...) {
        query.exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

namespace sql {

int longestLiteralRun(const QString &text)
{
    int longest = 0;
    int run = 0;
    for (const QChar ch : text) {
        if (ch == QLatin1Char('%') || ch == QLatin1Char('_')) {
            run = 0;
        } else if (!ch.isLowSurrogate()) {
            longest = std::max(longest, ++run);
        }
    }
    return longest;
}

namespace {

// The trigram index's own query for a LIKE text: each run of three or more characters without
// % and _ as a phrase of its trigrams in a row. Every row the LIKE accepts matches it (the index
// folds case at least as widely as LIKE does); the plain condition then checks the candidates.
// LIKE on the index would read every candidate's text once more to check it. Empty when no run
// is long enough or the text holds a character the query cannot carry.
QString trigramQuery(const char *column, const QString &text)
{
    QStringList phrases;
    QString run;
    int characters = 0;
    const auto endRun = [&] {
        if (characters >= 3)
            phrases << QLatin1String(column) + QStringLiteral(" : \"")
                           + run.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
        run.clear();
        characters = 0;
    };
    for (const QChar ch : text) {
        if (ch.isNull())
            return {};
        if (ch == QLatin1Char('%') || ch == QLatin1Char('_')) {
            endRun();
            continue;
        }
        run += ch;
        if (!ch.isLowSurrogate())
            ++characters;
    }
    endRun();
    return phrases.join(QLatin1String(" AND "));
}

} // namespace

QString searchKeys(const QString &a, const QString &b, const QString &g, const QString &c, const QString &i,
                   const QString &j, bool indexed)
{
    // The plain statement's conditions, then the index narrowing on the field with the longest
    // literal run (the fewest candidates).
    QString sql = search(a, b, g, c, i, j);
    sql.replace(0, int(qstrlen("select *")), QStringLiteral("select rowid"));
    const QString *fields[] = {&a, &b, &g, &c, &i, &j};
    int best = -1;
    int bestRun = 2;
    for (int f = 0; indexed && f < 6; ++f) {
        const int run = longestLiteralRun(*fields[f]);
        if (run > bestRun) {
            best = f;
            bestRun = run;
        }
    }
    if (best >= 0) {
        const QString query = trigramQuery(kSearchedColumns[best], *fields[best]);
        sql += query.isEmpty() ? QStringLiteral(" and rowid in (select rowid from %1 where %2 like %3)")
                                     .arg(QLatin1String(kSearchIndexTable), QLatin1String(kSearchedColumns[best]),
                                          sqlLiteral(QLatin1Char('%') + *fields[best] + QLatin1Char('%')))
                               : QStringLiteral(" and rowid in (select rowid from %1 where %1 match %2)")
                                     .arg(QLatin1String(kSearchIndexTable), sqlLiteral(query));
    }
    return sql + QStringLiteral(" order by rowid");
}

BoundStatement boundSearchKeys(const db::Engine &engine, const QString &a, const QString &b, const QString &g,
                               const QString &c, const QString &i, const QString &j, bool indexed, bool extra)
{
    BoundStatement statement = boundSearch(engine, a, b, g, c, i, j, extra);
    const QString key = engine.rowKey(QStringLiteral("data"));
    statement.text.replace(0, int(qstrlen("select *")), QLatin1String("select ") + key);
    const QString *fields[] = {&a, &b, &g, &c, &i, &j};
    int best = -1;
    int bestRun = 2;
    for (int f = 0; indexed && engine.kind() == db::Engine::Kind::Sqlite && f < 6; ++f) {
        // The telephone also matches mobile numbers, which only the second table indexes.
        if (f == 2 && !extra)
            continue;
        const int run = longestLiteralRun(*fields[f]);
        if (run > bestRun) {
            best = f;
            bestRun = run;
        }
    }
    if (best >= 0) {
        const QString pattern = QLatin1Char('%') + *fields[best] + QLatin1Char('%');
        // The candidates from each index: its own query where the text allows one, else its LIKE.
        const auto candidatesOf = [&](const char *table, const char *column, const QString &likePattern) {
            const QString query = trigramQuery(column, *fields[best]);
            statement.values << (query.isEmpty() ? likePattern : query);
            return query.isEmpty() ? QStringLiteral("select rowid from %1 where %2 like ?")
                                         .arg(QLatin1String(table), QLatin1String(column))
                                   : QStringLiteral("select rowid from %1 where %1 match ?").arg(QLatin1String(table));
        };
        QString candidates = candidatesOf(kSearchIndexTable, kSearchedColumns[best], pattern);
        // The second table's rows that the condition also accepts: mobile numbers, initials.
        const char *alsoIn = best == 2 ? "f"
                             : (best == 1 || best == 3) && extra && isPinyinQuery(*fields[best])
                                 ? kSearchedColumns[best]
                                 : nullptr;
        if (alsoIn)
            candidates += QStringLiteral(" union ")
                          + candidatesOf(kSearchExtraTable, alsoIn, best == 2 ? pattern : pattern.toLower());
        statement.text += QStringLiteral(" and rowid in (%1)").arg(candidates);
    }
    statement.text += QLatin1String(" order by ") + key;
    return statement;
}

} // namespace sql

} // namespace lianbu
