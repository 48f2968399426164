#pragma once

#include "db/DataSet.h"

namespace lianbu::db {

// A dataset over any statement. open() runs a select and holds its rows; execute() runs a
// statement that returns none and leaves the query closed.
class Query : public DataSet
{
public:
    explicit Query(Connection *connection = nullptr);

    void setSql(const QString &sql) { m_sql = sql; }
    const QString &sql() const { return m_sql; }

    // Closes the query and runs its statement; returns the number of rows changed.
    int execute();

protected:
    QString selectStatement() const override { return m_sql; }

private:
    QString m_sql;
};

} // namespace lianbu::db
