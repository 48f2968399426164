#include "db/BoundStatement.h"

#include "db/Connection.h"
#include "db/EngineMessage.h"
#include "platform/Error.h"

namespace lianbu::db {

QSqlQuery runBound(Connection &connection, const QString &sql, const QVariantList &values)
{
    QSqlDatabase database = connection.database();
    if (!database.isOpen())
        throw Error(QStringLiteral("Connection is not open."));
    QSqlQuery query(database);
    query.setForwardOnly(true);
    // Without values there is nothing to bind; the server prepares only queries and data changes
    // (not BEGIN, CREATE, SAVEPOINT ...).
    if (values.isEmpty()) {
        if (!query.exec(sql))
            throw Error(detail::engineMessage(query.lastError()));
        return query;
    }
    if (!query.prepare(sql))
        throw Error(detail::engineMessage(query.lastError()));
    for (const QVariant &value : values) {
        // Qt binds a null QString as NULL; an empty text must stay an empty text.
        if (value.metaType() == QMetaType::fromType<QString>() && value.toString().isEmpty())
            query.addBindValue(QVariant(QString::fromLatin1("")));
        else
            query.addBindValue(value);
    }
    if (!query.exec())
        throw Error(detail::engineMessage(query.lastError()));
    return query;
}

} // namespace lianbu::db
