#include "db/Query.h"

#include "db/Connection.h"
#include "platform/Error.h"

namespace lianbu::db {

Query::Query(Connection *connection)
    : DataSet(connection)
{}

int Query::execute()
{
    close();
    if (!connection())
        throw Error(QStringLiteral("Missing connection"));
    return connection()->execute(m_sql);
}

} // namespace lianbu::db
