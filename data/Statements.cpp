#include "data/Statements.h"

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

QString distinctValues(const QString &column, const QString &table)
{
    return QStringLiteral("select ") + identifier(column) + QStringLiteral(" from ") + identifier(table)
           + QStringLiteral(" group by ") + column + QStringLiteral(" order by ") + column;
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
