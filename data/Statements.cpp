#include "data/Statements.h"

#include "data/PinyinInitials.h"
#include "data/SearchIndex.h"

#include "db/Engine.h"
#include "platform/Error.h"

#include <QRegularExpression>

namespace lianbu::sql {

namespace {

// column and table names come from the program, never from input; refuse anything else.
const QString &identifier(const QString &name)
{
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!shape.match(name).hasMatch())
        throw Error(QStringLiteral("Invalid column or table name '%1'").arg(name));
    return name;
}

} // namespace

QString defaultPassword()
{
    return QString::fromUtf16(kDefaultPassword);
}

QString sqlLiteral(const QString &value)
{
    QString doubled = value;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}

QString allRecords()
{
    return QStringLiteral("select * from data ");
}

QString search(const QString &a, const QString &b, const QString &g, const QString &c, const QString &i,
               const QString &j)
{
    QString sql = QStringLiteral("select * from data where b<>''");
    const std::pair<const char *, const QString *> conditions[] = {
        {" and a like ", &a}, {" and b like ", &b}, {" and g like ", &g},
        {" and c like ", &c}, {" and i like ", &i}, {" and j like ", &j},
    };
    for (const auto &[prefix, text] : conditions)
        if (!text->isEmpty())
            sql += QLatin1String(prefix) + sqlLiteral(QLatin1Char('%') + *text + QLatin1Char('%'));
    return sql;
}

BoundStatement boundSearch(const db::Engine &engine, const QString &a, const QString &b, const QString &g,
                           const QString &c, const QString &i, const QString &j, bool extra)
{
    BoundStatement statement{QStringLiteral("select * from data where b<>''"), {}};
    const std::pair<const char *, const QString *> conditions[] = {
        {"a", &a}, {"b", &b}, {"g", &g}, {"c", &c}, {"i", &i}, {"j", &j},
    };
    const QString extraKey =
        engine.kind() == db::Engine::Kind::Sqlite ? QStringLiteral("rowid") : QStringLiteral("rid");
    for (const auto &[column, text] : conditions) {
        if (text->isEmpty())
            continue;
        const QString pattern = QLatin1Char('%') + *text + QLatin1Char('%');
        const QLatin1String name(column);
        QString condition = engine.likeCondition(name);
        statement.values << pattern;
        if (name == QLatin1String("g")) {
            // The telephone field looks at the mobile number as well.
            condition = QStringLiteral("(%1 or %2)").arg(condition, engine.likeCondition(QStringLiteral("f")));
            statement.values << pattern;
        } else if (extra && (name == QLatin1String("b") || name == QLatin1String("c")) && isPinyinQuery(*text)) {
            condition = QStringLiteral("(%1 or %2 in (select %3 from %4 where %5 like ?))")
                            .arg(condition, engine.rowKey(QStringLiteral("data")), extraKey,
                                 QLatin1String(kSearchExtraTable), name);
            statement.values << QString(QLatin1Char('%') + text->toLower() + QLatin1Char('%'));
        }
        statement.text += QLatin1String(" and ") + condition;
    }
    return statement;
}

QString distinctValues(const QString &column, const QString &table)
{
    return QStringLiteral("select ") + identifier(column) + QStringLiteral(" from ") + identifier(table)
           + QStringLiteral(" group by ") + column + QStringLiteral(" order by ") + column;
}

QString distinctValuesBySeek(const QString &column, const QString &table)
{
    // Each step seeks the smallest value above the last; null, which no comparison finds, is
    // looked up once. The final ORDER BY sorts the few values found as the plain statement does.
    return QStringLiteral("with recursive v(x) as (select min(%1) from %2 union all select (select min(%1) from %2 "
                          "where %1 > v.x) from v where v.x is not null) select x as %1 from v where x is not null "
                          "union all select null where exists (select 1 from %2 where %1 is null) order by 1")
        .arg(identifier(column), identifier(table));
}

QString sessionStart(const QString &name, const QString &dateTimeText)
{
    return QStringLiteral("Insert into rz (username,btime) values (") + sqlLiteral(name) + QLatin1Char(',')
           + sqlLiteral(dateTimeText) + QLatin1Char(')');
}

QString insertedSessionId()
{
    return QStringLiteral("select last_insert_rowid() as maxid");
}

QString sessionEnd(const QString &dateTimeText, int sessionId)
{
    return QStringLiteral("update rz set jtime=") + sqlLiteral(dateTimeText) + QStringLiteral("where id=")
           + QString::number(sessionId);
}

QString deleteOperator(const QString &name)
{
    return QStringLiteral("delete from userdb where username=") + sqlLiteral(name);
}

QString operatorList()
{
    return QStringLiteral("select username from userdb");
}

} // namespace lianbu::sql
