#include "data/SessionLog.h"

#include "db/BoundStatement.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "platform/Clock.h"
#include "platform/Error.h"

namespace lianbu::data {

int startSession(db::Connection &connection, const QString &name, const QDateTime &loginTime)
{
    const db::Engine &engine = db::engineOf(connection.database());
    QSqlQuery query = db::runBound(connection,
                                   QStringLiteral("insert into rz (username,btime) values (?,?)")
                                       + engine.insertKeySuffix(QStringLiteral("id")),
                                   {name, dateTimeText(loginTime)});
    const qint64 id = engine.insertedKey(query);
    if (id <= 0)
        throw Error(QStringLiteral("The session row was not written."));
    return int(id);
}

void endSession(db::Connection &connection, int sessionId, const QDateTime &logoutTime)
{
    db::runBound(connection, QStringLiteral("update rz set jtime=? where id=?"), {dateTimeText(logoutTime), sessionId});
}

} // namespace lianbu::data
