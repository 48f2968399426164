#include "data/SearchIndex.h"

#include "data/Schema.h"
#include "data/Statements.h"
#include "db/SortKeys.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/EngineMessage.h"
#include "platform/Error.h"

#include <QSqlQuery>

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
    return trigramIndexStatements() + db::sortKeyStatements(QStringLiteral("data"), sortKeyColumns());
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
    if (best >= 0)
        sql += QStringLiteral(" and rowid in (select rowid from %1 where %2 like %3)")
                   .arg(QLatin1String(kSearchIndexTable), QLatin1String(kSearchedColumns[best]),
                        sqlLiteral(QLatin1Char('%') + *fields[best] + QLatin1Char('%')));
    return sql + QStringLiteral(" order by rowid");
}

BoundStatement boundSearchKeys(const db::Engine &engine, const QString &a, const QString &b, const QString &g,
                               const QString &c, const QString &i, const QString &j, bool indexed)
{
    BoundStatement statement = boundSearch(engine, a, b, g, c, i, j);
    const QString key = engine.rowKey(QStringLiteral("data"));
    statement.text.replace(0, int(qstrlen("select *")), QLatin1String("select ") + key);
    const QString *fields[] = {&a, &b, &g, &c, &i, &j};
    int best = -1;
    int bestRun = 2;
    for (int f = 0; indexed && engine.kind() == db::Engine::Kind::Sqlite && f < 6; ++f) {
        const int run = longestLiteralRun(*fields[f]);
        if (run > bestRun) {
            best = f;
            bestRun = run;
        }
    }
    if (best >= 0) {
        statement.text += QStringLiteral(" and rowid in (select rowid from %1 where %2 like ?)")
                              .arg(QLatin1String(kSearchIndexTable), QLatin1String(kSearchedColumns[best]));
        statement.values << QString(QLatin1Char('%') + *fields[best] + QLatin1Char('%'));
    }
    statement.text += QLatin1String(" order by ") + key;
    return statement;
}

} // namespace sql

} // namespace lianbu
