#include "db/Table.h"

#include "platform/Error.h"

#include <QRegularExpression>

namespace lianbu::db {

Table::Table(Connection *connection)
    : DataSet(connection)
{}

QString Table::selectStatement() const
{
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!identifier.match(m_tableName).hasMatch())
        throw Error(QStringLiteral("Invalid table name '%1'").arg(m_tableName));
    return QStringLiteral("select * from ") + m_tableName;
}

} // namespace lianbu::db
